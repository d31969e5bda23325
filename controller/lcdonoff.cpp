#include "controller/lcdonoff.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "platform/leddevice.h"

#include <QtDebug>
#include <atomic>

namespace {
std::atomic<int> gLedMask{0xFF};
}

int ledMask()
{
    return gLedMask.load();
}

void resetLedMask()
{
    gLedMask.store(0xFF);
}

void LEDOnOff(int led, int value)
{
    if (led < 0 || led > 7)
        return;
    int mask = gLedMask.load();
    if (value & 1)
        mask |= 1 << led;
    else
        mask &= ~(1 << led);
    gLedMask.store(mask);
    if (gfLED > 0)
        LedDevice::request(gfLED, kLedMaskRequest + unsigned(mask));
}

void LCDOnOff(int on)
{
    const bool viaLed = gpWPara && gpWPara->isSupportLCD();
    qInfo() << "LCDOnOff isOn" << on << "not support LCD" << !viaLed;
    if (viaLed) {
        if (gfLED > 0)
            LedDevice::request(gfLED, on ? kLcdOnRequest : kLcdOffRequest);
    } else {
        CommandRunner::system(on ? QStringLiteral("echo 0 > /sys/class/backlight/intel_backlight/bl_power")
                                 : QStringLiteral("echo 1 > /sys/class/backlight/intel_backlight/bl_power"));
    }
    if (gpWin)
        gpWin->screenOff = on ? 0 : 1;
}
