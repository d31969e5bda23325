#include "widgets/alarmpasswordbox.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"

AlarmPasswordBox::AlarmPasswordBox(QWidget* parent)
    : PasswordBox(parent)
{
}

void AlarmPasswordBox::accept()
{
    m_result = judgeGate(gpWPara ? &gpWPara->alarmPassword : nullptr);
}
