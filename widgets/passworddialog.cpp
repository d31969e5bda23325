#include "widgets/passworddialog.h"

PasswordDialog::PasswordDialog(QWidget* parent)
    : PasswordBox(parent)
{
}

void PasswordDialog::accept()
{
    m_level = judgeLogin(true);
}

void PasswordDialog::showEvent(QShowEvent* e)
{
    m_level = 0;
    PasswordBox::showEvent(e);
}
