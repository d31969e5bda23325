#include "widgets/passworddialog.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "widgets/edit.h"

#include <cstring>

PasswordDialog::PasswordDialog(QWidget* parent)
    : PasswordBox(parent)
{
}

void PasswordDialog::accept()
{
    const QString entry = m_field->text();
    if (entry == factoryPassword(true, now())) {
        m_level = 2;
        markRight();
        QDialog::accept();
        return;
    }
    if (gpWPara) {
        const QString operatorPsw =
            QString::fromLatin1(gpWPara->password, int(strnlen(gpWPara->password, sizeof gpWPara->password)));
        if (entry == operatorPsw) {
            m_level = 1;
            markRight();
            QDialog::accept();
            return;
        }
    }
    m_level = 0;
    markWrong();
}

void PasswordDialog::showEvent(QShowEvent* e)
{
    m_level = 0;
    PasswordBox::showEvent(e);
}
