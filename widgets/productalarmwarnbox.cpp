#include "widgets/productalarmwarnbox.h"
#include "controller/controlport.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "widgets/boxpaint.h"

ProductAlarmWarnBox::ProductAlarmWarnBox(QWidget* parent)
    : WarnBox(parent)
{
    setText(boxpaint::msg(720));
}

void ProductAlarmWarnBox::accept()
{
    // Both outputs go off together in the next board frame.
    if (gpControlIO) {
        gpControlIO->IOSetOut(0, 0);
        gpControlIO->IOSetOut(2, 0);
        gpControlIO->IOFlashOut();
    }
    if (gpWin) {
        gpWin->productCount = 0;
        gpWin->productAlarm = 0;
    }
    QDialog::accept();
}
