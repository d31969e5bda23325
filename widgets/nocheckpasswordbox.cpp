#include "widgets/nocheckpasswordbox.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "widgets/edit.h"

NocheckPasswordBox::NocheckPasswordBox(QWidget* parent)
    : PasswordBox(parent)
{
}

void NocheckPasswordBox::accept()
{
    if (gpWPara && m_field->text() == gpWPara->nocheckPassword) {
        m_result = 1;
        markRight();
        releasePad();
        QDialog::accept();
    } else {
        m_result = 0;
        markWrong();
    }
}

void NocheckPasswordBox::hideEvent(QHideEvent* e)
{
    PasswordBox::hideEvent(e);
    // The gates live on the stack: the shared pad must not go down with them,
    // whichever way they close.
    releasePad();
}
