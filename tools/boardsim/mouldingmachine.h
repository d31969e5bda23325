#pragma once
#include <cstdint>
#include <functional>
#include <string>

class BoardSim;

// A moulding machine wired to the board: it closes the mould, injects, opens
// the mould (input 0 rises), backs the ejector (input 2 rises half-way through
// the open time) and closes again - unless the station holds the clamp
// (output 0 on), in which case the mould stays open until the output drops.
// Time comes in through tick(), so it runs on any clock. A clamp that comes
// too late - output 0 rising after the mould began to close - cannot hold
// that opening any more: it is counted and reported as a late clamp.
class MouldingMachine
{
public:
    enum class Phase { Closed, Open, Held, Done };

    struct Timing {
        int closedMs = 2000; // mould closed: injection and cooling
        int openMs = 1500;   // mould open before it may close again
    };

    MouldingMachine(BoardSim& board, Timing timing, int maxCycles = 0);

    // Advances the machine to time nowMs (milliseconds, any origin).
    void tick(int64_t nowMs);

    Phase phase() const { return m_phase; }
    int cycles() const { return m_cycles; }
    bool done() const { return m_phase == Phase::Done; }
    int64_t heldMs() const { return m_heldTotal; }
    int lateClamps() const { return m_lateClamps; }
    void setEnabled(bool on) { m_enabled = on; }
    bool enabled() const { return m_enabled; }

    // Lines for the operator: one per cycle.
    void setReporter(std::function<void(const std::string&)> report) { m_report = std::move(report); }

private:
    void enter(Phase p, int64_t now);

    BoardSim& m_board;
    Timing m_timing;
    int m_maxCycles;
    Phase m_phase = Phase::Closed;
    int64_t m_since = -1;
    int64_t m_heldSince = 0;
    int64_t m_heldTotal = 0;
    int64_t m_cycleHeld = 0;
    int m_cycles = 0;
    int m_lateClamps = 0;
    bool m_prevClamp = false;
    bool m_enabled = true;
    std::function<void(const std::string&)> m_report;
};
