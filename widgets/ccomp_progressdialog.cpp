#include "widgets/ccomp_progressdialog.h"

CComp_ProgressDialog::CComp_ProgressDialog(QWidget* parent)
    : QProgressDialog(parent)
{
    setLabelText(tr("please wait..."));
    setCancelButtonText(tr("cancel"));
    setRange(0, 100);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setMinimumDuration(0);
    setAutoFillBackground(true);
    setStyleSheet("QProgressDialog{background-color:#606060;border:1px;border-style: solid;border-color: orange;text-align: left;}"
                  "QProgressBar{font-size:15px;text-align: center;background-color: white;}"
                  "QProgressBar::chunk:enabled {border-radius: 2px; background: #3498DB;}"
                  "QLabel{font-size:20px;color:white;}"
                  "QPushButton{outline:0px;border:none;font-size:15px;height:40px;width:80px;color:white;background-color:#E91E63;}"
                  "QPushButton:hover{background-color:#FFC107;}"
                  "QPushButton:!hover{background-color:#E91E63;}");
}
