#include "widgets/nocheckpasswordbox.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"

NocheckPasswordBox::NocheckPasswordBox(QWidget* parent)
    : PasswordBox(parent)
{
}

void NocheckPasswordBox::accept()
{
    m_result = judgeGate(gpWPara ? &gpWPara->nocheckPassword : nullptr);
}
