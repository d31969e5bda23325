#include "frame/clock.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

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
    QDateTime wall;
    qint64 mono = 0;
    quint64 seq = 0;
    std::vector<Pending> pending;
};

TestClock::TestClock(const QDateTime& start)
    : d(new Data)
{
    d->wall = start;
}

TestClock::~TestClock()
{
    if (Clock::instance() == this)
        Clock::install(nullptr);
    delete d;
}

QDateTime TestClock::now() const
{
    QMutexLocker l(&d->mutex);
    return d->wall;
}

qint64 TestClock::monotonicMs() const
{
    QMutexLocker l(&d->mutex);
    return d->mono;
}

void TestClock::sleepMs(int ms)
{
    if (ms > 0)
        advance(ms);
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
                return;
            }
            next = std::move(*best);
            d->pending.erase(best);
            d->wall = d->wall.addMSecs(next.due - d->mono);
            d->mono = next.due;
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
