#pragma once
#include <QDateTime>
#include <QtGlobal>
#include <functional>

class QObject;

// The one source of time for every timed rule (debounce, delays, watchdog,
// reconnect loops, day rotation, password of the day). The station runs on the
// real clock; tests install a TestClock and advance it instead of sleeping.
class Clock
{
public:
    virtual ~Clock();

    // Wall-clock time (local zone unless the clock says otherwise).
    virtual QDateTime now() const;
    // The same instant in milliseconds since the epoch: without the local
    // zone's conversion, cheap enough to ask on every repaint.
    virtual qint64 epochMs() const;
    // Milliseconds on a monotonic scale; only differences mean anything.
    virtual qint64 monotonicMs() const;
    // Blocks the calling thread for ms milliseconds of this clock's time.
    virtual void sleepMs(int ms);
    // Calls fn once, on ctx's thread, after ms milliseconds of this clock's
    // time. Nothing is called when ctx is gone by then.
    virtual void singleShot(int ms, QObject* ctx, std::function<void()> fn);

    // The clock in force: the installed one, else the real one.
    static Clock* instance();
    // Installs a clock (not owned); nullptr goes back to the real one.
    static void install(Clock* c);
};

// A clock that moves only when told. On the thread that made it, sleepMs
// advances it at once; other threads sleep without moving it (until the test
// has advanced it that far, or as long in real time). singleShot callbacks
// fire from advance() in the order they fall due.
class TestClock : public Clock
{
public:
    explicit TestClock(const QDateTime& start = QDateTime(QDate(2026, 1, 5), QTime(9, 0)));
    ~TestClock() override;

    QDateTime now() const override;
    qint64 epochMs() const override;
    qint64 monotonicMs() const override;
    void sleepMs(int ms) override;
    void singleShot(int ms, QObject* ctx, std::function<void()> fn) override;

    // Moves time forward, firing every callback that falls due on the way.
    void advance(qint64 ms);
    // Sets the wall clock (as an operator or a DST change would); monotonic
    // time and pending callbacks are not moved.
    void setNow(const QDateTime& t);
    int pendingCount() const;

private:
    struct Pending;
    struct Data;
    Data* d;
};

// Shorthands for the clock in force.
inline QDateTime clockNow() { return Clock::instance()->now(); }
inline qint64 clockMs() { return Clock::instance()->monotonicMs(); }
