#include "frame/timetools.h"

#include "platform/commandrunner.h"

#include <QDateTime>
#include <chrono>

qint64 gettimeofday_ms()
{
    return QDateTime::currentMSecsSinceEpoch();
}

int curtime_from_ms(qint64 ms)
{
    return static_cast<int>((ms / 10) % 1000000000LL);
}

int curtime_qint64_2_int()
{
    return curtime_from_ms(gettimeofday_ms());
}

quint64 gettimeofday_us()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<quint64>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

bool setSystemDateTime(const QDateTime& when)
{
    // A time local time skips has no text: "date -s" would get an empty one.
    if (!when.isValid())
        return false;
    const QString text = when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const bool date = CommandRunner::bash(QStringLiteral("date -s \"%1\"").arg(text), 3000).exitCode == 0;
    const bool hw = CommandRunner::bash(QStringLiteral("hwclock --systohc"), 3000).exitCode == 0;
    return date && hw;
}
