#include "widgets/ccomp_editcombobox.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTimer>

CComp_EditComboBox::CComp_EditComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setEditable(true);
    auto* edit = new QLineEdit(this);
    setLineEdit(edit);
    setItemDelegate(new QStyledItemDelegate(this));
    installEventFilter(this);
    edit->installEventFilter(this);
}

bool CComp_EditComboBox::eventFilter(QObject* watched, QEvent* e)
{
    QLineEdit* edit = lineEdit();
    if (e->type() == QEvent::FocusIn && edit) {
        edit->selectAll();
        edit->setFocus();
        QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    }
    if (watched == this) {
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->text() == "\r")
            return true;
        if (e->type() == QEvent::MouseButtonPress)
            emit click();
    }
    return QComboBox::eventFilter(watched, e);
}

void CComp_EditComboBox::resizeEvent(QResizeEvent* e)
{
    setStyleSheet(QString("QComboBox {color:black;font-size:20px;padding: 0 5px 0 5px;background: #ffffff;border:1px solid #DCE4EC;border-radius: 4px;margin:0;combobox-popup:0;}"
                          "QComboBox::drop-down{padding: 0px 3px 0px 3px;width: %1px;height: %1px;border-style:none;}"
                          "QComboBox::down-arrow{width: %1px;height: %1px;image:url(:/go-down.png);}"
                          "QComboBox:hover{border:2px solid #3498DB;}"
                          "QComboBox:!hover{border:2px solid #DCE4EC;}"
                          "QComboBox::drop-down:hover{background-color: #DCE4EC;}"
                          "QComboBox::down-arrow:on{image: url(:/go-up.png);}"
                          "QComboBox QAbstractItemView {border: 2px solid #3498DB;selection-background-color: #3498DB;}"
                          "QComboBox QAbstractItemView::item:hover {color: white;background-color: #3498DB;selection-background-color: #3498DB;}"
                          "QComboBox QAbstractItemView::item:!hover {color: black;background-color: white;selection-background-color: #3498DB;}")
                      .arg(height() - 4));
    QComboBox::resizeEvent(e);
}
