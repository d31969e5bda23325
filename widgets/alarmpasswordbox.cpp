#include "widgets/alarmpasswordbox.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "widgets/edit.h"

AlarmPasswordBox::AlarmPasswordBox(QWidget* parent)
    : PasswordBox(parent)
{
}

void AlarmPasswordBox::accept()
{
    if (gpWPara && m_field->text() == gpWPara->alarmPassword) {
        m_result = 1;
        markRight();
        releasePad();
        QDialog::accept();
    } else {
        m_result = 0;
        markWrong();
    }
}

void AlarmPasswordBox::hideEvent(QHideEvent* e)
{
    PasswordBox::hideEvent(e);
    // The gates live on the stack: the shared pad must not go down with them,
    // whichever way they close.
    releasePad();
}
