#include "widgets/ccomp_simpmsgbox.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

CComp_SimpMsgBox::CComp_SimpMsgBox(const QString& text, QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);

    auto* label = new QLabel(text);
    label->setMinimumSize(400, 200);
    label->setMaximumWidth(800);
    label->setMargin(5);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QFont f("simsun");
    f.setPointSize(15);
    label->setFont(f);

    auto* scroll = new QScrollArea(this);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumSize(400, 200);
    scroll->setMaximumSize(800, 800);
    scroll->setWidgetResizable(true);
    scroll->setWidget(label);
    scroll->setStyleSheet(
        "QScrollArea{background-color:white;border:0px;}"
        "QScrollBar:vertical{background:white;padding-top:40px;padding-bottom:0px;padding-left:0px;padding-right:0px;solid #d7d7d7;border-radius:7px;}"
        "QScrollBar::handle:vertical{background:#B7B7B7;border-radius:7px;min-height:80px}"
        "QScrollBar::handle:vertical:hover{background:#949494;}"
        "QScrollBar::add-line:vertical {height:0px;subcontrol-position:bottom;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical {height:0px;subcontrol-position:top;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical:pressed {background-color:#FFC107;}");

    auto* cancel = new QPushButton(QString::fromUtf8("取消"), this);
    auto* ok = new QPushButton(QString::fromUtf8("确定"), this);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    row->addWidget(cancel);
    row->addWidget(ok);

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(1);
    lay->setSizeConstraint(QLayout::SetMinAndMaxSize);
    lay->addWidget(scroll);
    lay->addLayout(row);

    auto* close = new QPushButton(this);
    close->setIcon(QIcon(":/fork.png"));
    close->setGeometry(360, 0, 40, 40);
    connect(close, &QPushButton::clicked, this, [this]() { done(-1); });

    setStyleSheet("QDialog{outline:0px;border:none;background-color:rgb(110,110,110);}"
                  "QLabel{color:black;background-color:white;min-height:200px}"
                  "QPushButton{outline:0px;border:none;font-size:15px;height:50px;color:black;background-color:white;}"
                  "QPushButton:hover{background-color:#FFC107;}"
                  "QPushButton:!hover{background-color:white;}");
}
