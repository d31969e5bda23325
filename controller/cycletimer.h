#pragma once
#include <QObject>
#include <QtGlobal>
#include <functional>

// A timer of the machine cycle on the clock in force (Clock::instance()), so
// that every timed rule of the cycle runs on the real clock in the station
// and on a TestClock in tests. Single-shot or repeating; stop() and a new
// start() cancel what was pending. The owner (ctx) outlives the timer's
// callbacks: nothing fires once it is gone.
class CycleTimer
{
public:
    CycleTimer(QObject* ctx, std::function<void()> fn, bool repeating = false);

    void start(int ms);
    void stop();
    bool isActive() const { return m_active; }
    int interval() const { return m_interval; }

private:
    void arm();

    QObject* m_ctx;
    std::function<void()> m_fn;
    bool m_repeating;
    bool m_active = false;
    int m_interval = 0;
    quint64 m_generation = 0;
};
