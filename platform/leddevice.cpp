#include "platform/leddevice.h"
#include "platform/platformpath.h"

#include <QFile>
#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
QMutex gLedLogMutex;
}

int LedDevice::open()
{
    const QByteArray dev = platform::path("/dev/led").toLocal8Bit();
    return ::open(dev.constData(), O_RDWR | O_CLOEXEC);
}

QString LedDevice::logPath()
{
    return platform::isSimulated() ? platform::path("/dev/led.log") : QString();
}

bool LedDevice::request(int fd, unsigned long req)
{
    if (platform::isSimulated()) {
        QMutexLocker lock(&gLedLogMutex);
        QFile f(logPath());
        if (!f.open(QIODevice::Append | QIODevice::Text))
            return false;
        f.write(QByteArray("ioctl 0x") + QByteArray::number(qulonglong(req), 16).toUpper() + "\n");
        return true;
    }
    return ::ioctl(fd, req) == 0;
}

QList<unsigned long> LedDevice::loggedRequests()
{
    QList<unsigned long> out;
    QFile f(logPath());
    if (logPath().isEmpty() || !f.open(QIODevice::ReadOnly | QIODevice::Text))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.startsWith("ioctl 0x"))
            continue;
        bool ok = false;
        const unsigned long v = line.mid(8).trimmed().toULong(&ok, 16);
        if (ok)
            out << v;
    }
    return out;
}
