#include "frame/clock.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>

#include <atomic>
#include <vector>

namespace {
std::atomic<Clock*> g_installed{nullptr};

Clock& realClock()
{
    static Clock c;
    return c;
}

qint64 realMonotonic()
{
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t.elapsed();
}
} // namespace

Clock::~Clock() = default;

QDateTime Clock::now() const { return QDateTime::currentDateTime(); }
qint64 Clock::epochMs() const { return QDateTime::currentMSecsSinceEpoch(); }
qint64 Clock::monotonicMs() const { return realMonotonic(); }
void Clock::sleepMs(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void Clock::singleShot(int ms, QObject* ctx, std::function<void()> fn)
{
    QTimer::singleShot(ms < 0 ? 0 : ms, ctx, std::move(fn));
}

Clock* Clock::instance()
{
    Clock* c = g_installed.load();
    return c ? c : &realClock();
}

void Clock::install(Clock* c) { g_installed.store(c); }

struct TestClock::Pending
{
    qint64 due;
    quint64 seq;
    QPointer<QObject> ctx;
    bool hadCtx;
    std::function<void()> fn;
};

struct TestClock::Data
{
    mutable QMutex mutex;
    QWaitCondition moved; // time moved on, or the clock is going away
    QDateTime wall;
    qint64 mono = 0;
    quint64 seq = 0;
    std::vector<Pending> pending;
    QThread* owner = nullptr;
    int sleepers = 0;
    bool closing = false;
};

TestClock::TestClock(const QDateTime& start)
    : d(new Data)
{
    d->wall = start;
    d->owner = QThread::currentThread();
}

TestClock::~TestClock()
{
    if (Clock::instance() == this)
        Clock::install(nullptr);
    // Threads still asleep on this clock wake up and leave before it goes.
    {
        QMutexLocker l(&d->mutex);
        d->closing = true;
        d->moved.wakeAll();
    }
    for (;;) {
        {
            QMutexLocker l(&d->mutex);
            if (d->sleepers == 0)
                break;
        }
        QThread::msleep(1);
    }
    delete d;
}

QDateTime TestClock::now() const
{
    QMutexLocker l(&d->mutex);
    return d->wall;
}

qint64 TestClock::epochMs() const { return now().toMSecsSinceEpoch(); }

qint64 TestClock::monotonicMs() const
{
    QMutexLocker l(&d->mutex);
    return d->mono;
}

void TestClock::sleepMs(int ms)
{
    if (ms <= 0)
        return;
    // The test's own thread moves time by sleeping; any other thread (a
    // writer's or poller's loop) sleeps without moving it, so background
    // loops neither spin nor run the test's time away.
    if (QThread::currentThread() == d->owner) {
        advance(ms);
        return;
    }
    QElapsedTimer real;
    real.start();
    QMutexLocker l(&d->mutex);
    const qint64 until = d->mono + ms;
    ++d->sleepers;
    // At most the same span of real time: a test that waits for such a
    // thread to finish never deadlocks on a clock it does not move.
    while (d->mono < until && !d->closing && real.elapsed() < ms)
        d->moved.wait(&d->mutex, static_cast<unsigned long>(qMax<qint64>(1, qMin<qint64>(20, ms - real.elapsed()))));
    --d->sleepers;
}

void TestClock::singleShot(int ms, QObject* ctx, std::function<void()> fn)
{
    QMutexLocker l(&d->mutex);
    d->pending.push_back({d->mono + (ms < 0 ? 0 : ms), d->seq++, QPointer<QObject>(ctx), ctx != nullptr, std::move(fn)});
}

void TestClock::advance(qint64 ms)
{
    qint64 target;
    {
        QMutexLocker l(&d->mutex);
        target = d->mono + (ms < 0 ? 0 : ms);
    }
    for (;;) {
        Pending next;
        {
            QMutexLocker l(&d->mutex);
            auto best = d->pending.end();
            for (auto it = d->pending.begin(); it != d->pending.end(); ++it)
                if (it->due <= target && (best == d->pending.end() || it->due < best->due
                                          || (it->due == best->due && it->seq < best->seq)))
                    best = it;
            if (best == d->pending.end()) {
                d->wall = d->wall.addMSecs(target - d->mono);
                d->mono = target;
                d->moved.wakeAll();
                return;
            }
            next = std::move(*best);
            d->pending.erase(best);
            d->wall = d->wall.addMSecs(next.due - d->mono);
            d->mono = next.due;
            d->moved.wakeAll();
        }
        // A callback may arm the next one; it runs without the lock held.
        if (!next.hadCtx || next.ctx)
            next.fn();
    }
}

void TestClock::setNow(const QDateTime& t)
{
    QMutexLocker l(&d->mutex);
    d->wall = t;
}

int TestClock::pendingCount() const
{
    QMutexLocker l(&d->mutex);
    return static_cast<int>(d->pending.size());
}
