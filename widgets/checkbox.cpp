#include "widgets/checkbox.h"
#include "widgets/boxpaint.h"

#include <QEvent>

CheckBox::CheckBox(QWidget* parent, const QString& text)
    : QCheckBox(text, parent)
{
    boxpaint::setTextColour(this, Qt::yellow);
    setFont(boxpaint::houseFont(28));
    setStyleSheet(QStringLiteral("QCheckBox::indicator {width: %1px; height: %2px;} "
                                 "QCheckBox::indicator:checked {border-radius:5px; background:white; "
                                 "border-image: url(./images/check.png);}")
                      .arg(32)
                      .arg(32));
    installEventFilter(this);
}

bool CheckBox::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == this && e->type() == QEvent::MouseButtonPress)
        m_pressed = true;
    return QCheckBox::eventFilter(watched, e);
}
