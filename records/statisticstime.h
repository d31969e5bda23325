#pragma once
#include <QDate>
#include <QDateTime>

// Statistical time read through the station clock, in the clock's zone (the
// local zone on a panel; the zone a test set).
namespace StatisticsTime {
QDateTime now();
// Seconds since 1970 as a time in the clock's zone.
QDateTime fromSecs(qint64 secs);
// date at hour:00:00 in the clock's zone.
QDateTime at(const QDate& date, int hour);
// date at time of day in the clock's zone.
QDateTime at(const QDate& date, const QTime& time);
// Start of the statistical day (days begin at hour) that holds t.
QDateTime dayStartOf(const QDateTime& t, int hour);
} // namespace StatisticsTime
