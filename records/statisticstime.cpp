#include "records/statisticstime.h"

#include "frame/clock.h"

#include <QTimeZone>

namespace StatisticsTime {

QDateTime now() { return clockNow(); }

QDateTime fromSecs(qint64 secs)
{
    const QDateTime n = clockNow();
    switch (n.timeSpec()) {
    case Qt::TimeZone:
        return QDateTime::fromSecsSinceEpoch(secs, n.timeZone());
    case Qt::UTC:
        return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
    case Qt::OffsetFromUTC:
        return QDateTime::fromSecsSinceEpoch(secs, Qt::OffsetFromUTC, n.offsetFromUtc());
    default:
        return QDateTime::fromSecsSinceEpoch(secs, Qt::LocalTime);
    }
}

QDateTime at(const QDate& date, int hour) { return at(date, QTime(qBound(0, hour, 23), 0, 0)); }

namespace {
QDateTime make(const QDateTime& n, const QDate& date, const QTime& t)
{
    switch (n.timeSpec()) {
    case Qt::TimeZone:
        return QDateTime(date, t, n.timeZone());
    case Qt::UTC:
        return QDateTime(date, t, Qt::UTC);
    case Qt::OffsetFromUTC:
        return QDateTime(date, t, Qt::OffsetFromUTC, n.offsetFromUtc());
    default:
        return QDateTime(date, t, Qt::LocalTime);
    }
}
} // namespace

QDateTime at(const QDate& date, const QTime& t)
{
    const QDateTime n = clockNow();
    QDateTime r = make(n, date, t);
    // A time that the spring change skips does not exist: the first hour
    // after the gap stands for it.
    for (int hours = 1; !r.isValid() && hours <= 2; ++hours)
        r = make(n, date, t.addSecs(3600 * hours));
    return r;
}

QDateTime dayStartOf(const QDateTime& t, int hour)
{
    const QDateTime local = fromSecs(t.toSecsSinceEpoch());
    QDateTime s = at(local.date(), hour);
    if (s > local)
        s = at(local.date().addDays(-1), hour);
    return s;
}

} // namespace StatisticsTime
