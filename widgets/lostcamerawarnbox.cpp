#include "widgets/lostcamerawarnbox.h"
#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/ui/startup.h"
#include "platform/commandrunner.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"


LostCameraWarnBox::LostCameraWarnBox(QWidget* parent)
    : WarnBox(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    setButtonMessage(209);
    setText(boxpaint::msg(657));
}

void LostCameraWarnBox::accept()
{
    // The same text in every language; written before the databases close.
    StopWTD();
    if (gpWin) {
        gpWin->InsertRecord(QString::fromUtf8("因丢失相机手动关闭电源"), QStringLiteral("operate"));
        gpWin->FLushAll();
    }
    // The pause between closing the databases and the power-off.
    Clock::instance()->sleepMs(1000);
    CommandRunner::system(QStringLiteral("init 0"));
    StationExit::wentDown(StationExit::PowerOff);
    QDialog::accept();
}
