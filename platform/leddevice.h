#pragma once
#include <QString>

// The panel's LED device "/dev/led": front LEDs and the screen switch, driven
// by ioctl request numbers alone. On a panel the requests go to the driver.
// Under STATION_SIMROOT the device is a plain file (which cannot take an
// ioctl), so each request is appended as a line "ioctl 0x5A01807F" to
// <simroot>/dev/led.log, where tests and the demo can read it.
class LedDevice
{
public:
    // Opens "/dev/led" read-write; a negative descriptor when it is missing.
    // Under the sim root the file <simroot>/dev/led stands for the device.
    static int open();

    // Sends one request to the device behind fd. Returns false when it failed.
    static bool request(int fd, unsigned long req);

    // The request log of the simulated device; empty on a panel.
    static QString logPath();
    // The requests logged so far (simulated device only), oldest first.
    static QList<unsigned long> loggedRequests();
};
