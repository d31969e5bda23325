#include "controller/cycletimer.h"
#include "frame/clock.h"

CycleTimer::CycleTimer(QObject* ctx, std::function<void()> fn, bool repeating)
    : m_ctx(ctx)
    , m_fn(std::move(fn))
    , m_repeating(repeating)
{
}

void CycleTimer::start(int ms)
{
    m_interval = ms < 0 ? 0 : ms;
    m_active = true;
    ++m_generation;
    arm();
}

void CycleTimer::stop()
{
    m_active = false;
    ++m_generation;
}

void CycleTimer::arm()
{
    const quint64 g = m_generation;
    Clock::instance()->singleShot(m_interval, m_ctx, [this, g] {
        if (!m_active || g != m_generation)
            return;
        if (m_repeating)
            arm();
        else
            m_active = false;
        m_fn();
    });
}
