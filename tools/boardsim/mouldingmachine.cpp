#include "mouldingmachine.h"
#include "boardsim.h"

#include <cstdio>

MouldingMachine::MouldingMachine(BoardSim& board, Timing timing, int maxCycles)
    : m_board(board)
    , m_timing(timing)
    , m_maxCycles(maxCycles)
{
}

void MouldingMachine::enter(Phase p, int64_t now)
{
    m_phase = p;
    m_since = now;
}

void MouldingMachine::tick(int64_t now)
{
    if (m_since < 0) {
        m_board.setInput(0, false);
        m_board.setInput(2, false);
        enter(Phase::Closed, now);
    }
    if (!m_enabled || m_phase == Phase::Done)
        return;
    const bool clamp = m_board.outputs() & 1u;
    const bool rose = clamp && !m_prevClamp;
    m_prevClamp = clamp;
    switch (m_phase) {
    case Phase::Closed:
        if (rose && m_cycles > 0) {
            ++m_lateClamps;
            if (m_report)
                m_report("cycle " + std::to_string(m_cycles) + ": late clamp, output 0 rose "
                         + std::to_string(now - m_since) + " ms after the mould began to close");
        }
        if (now - m_since >= m_timing.closedMs) {
            m_board.setInput(0, true); // the mould opens
            m_cycleHeld = 0;
            enter(Phase::Open, now);
        }
        break;
    case Phase::Open:
        if (now - m_since >= m_timing.openMs / 2)
            m_board.setInput(2, true); // ejector back
        if (now - m_since >= m_timing.openMs) {
            if (clamp) {
                m_heldSince = now;
                enter(Phase::Held, now);
                if (m_report)
                    m_report("cycle " + std::to_string(m_cycles + 1) + ": clamp output on, mould held open");
                break;
            }
            m_board.setInput(0, false); // the mould closes
            m_board.setInput(2, false);
            ++m_cycles;
            if (m_report)
                m_report("cycle " + std::to_string(m_cycles) + ": done, held " + std::to_string(m_cycleHeld)
                         + " ms, outputs 0x" + [](uint32_t v) {
                               char b[8];
                               std::snprintf(b, sizeof(b), "%03X", unsigned(v));
                               return std::string(b);
                           }(m_board.outputs()));
            enter(m_maxCycles > 0 && m_cycles >= m_maxCycles ? Phase::Done : Phase::Closed, now);
        }
        break;
    case Phase::Held:
        if (!clamp) {
            m_cycleHeld = now - m_heldSince;
            m_heldTotal += m_cycleHeld;
            // Back to the end of the open time: closes on this tick.
            m_phase = Phase::Open;
            m_since = now - m_timing.openMs;
            tick(now);
        }
        break;
    case Phase::Done:
        break;
    }
}
