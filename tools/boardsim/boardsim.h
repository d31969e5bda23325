#pragma once
#include "controller/boardframeparser.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The I/O board on a pseudo-terminal: answers the station's commands the way
// the board does, checks every frame it receives (bad ones are counted, not
// answered) and can misbehave on request so the station's link can be tested
// against a noisy or failing line. Used in-process by tests and benchmarks
// and by the boardsim program.
class BoardSim
{
public:
    using Clock = std::chrono::steady_clock;

    struct Frame {
        Clock::time_point t;
        int command = 0;
        uint32_t data = 0;
        unsigned char bytes[BoardFrameParser::kCommandLength] = {};
    };
    struct OutputChange {
        Clock::time_point t;
        uint32_t before = 0;
        uint32_t after = 0;
    };
    // How the status answer echoes the outputs.
    enum class Echo { Normal, Zero, Stuck };
    // One-shot faults, each for the next N answers.
    enum class Fault {
        Split,      // the answer is written in two pieces with a gap
        Merge,      // the answer is held back and written together with the next one
        Garbage,    // random bytes before the answer
        BadCheck,   // a frame with a wrong check byte and a false input word instead of the answer
        BadEnd,     // a frame with a wrong end byte and a false input word instead of the answer
        StaleEcho,  // the answer echoes outputs 0 instead of what was set
        Drop,       // no answer at all
        Truncate,   // the first half of the answer, then nothing (the board stopped mid-frame)
    };
    static constexpr int kFaultKinds = int(Fault::Truncate) + 1;

    BoardSim();
    ~BoardSim();
    BoardSim(const BoardSim&) = delete;
    BoardSim& operator=(const BoardSim&) = delete;

    // Makes the pseudo-terminal (raw, no echo). False with a reason on failure.
    bool open(std::string* error = nullptr);
    // The device name the station opens.
    std::string slavePath() const { return m_slaveName; }
    // Makes `link` a symbolic link to the pseudo-terminal, creating folders.
    bool linkAt(const std::string& link, std::string* error = nullptr);
    void start();
    void stop();

    // --- the machine side ---
    void setInput(int n, bool level);
    void setInputs(uint32_t word);
    uint32_t inputs() const;
    uint32_t outputs() const;  // last word of command 1 (10 bits)
    void setValue(int index, uint32_t value); // 0..15, eight answered to each command 3 and 4

    // --- faults ---
    void setEcho(Echo mode, uint32_t stuckWord = 0);
    void setSilent(bool silent); // the board stops answering (receives and counts still)
    bool silent() const;
    void setAnswerDelayMs(int ms);
    void injectFault(Fault fault, int count = 1);
    int pendingFaults() const;
    // Writes n random bytes to the station at once.
    void flood(int n);

    // --- observation ---
    // The frames received, oldest first; indices below are positions in it.
    std::vector<Frame> frames() const;
    size_t frameCount() const;
    // Every frame received since start, also those trimmed from the log.
    uint64_t totalFrames() const;
    std::vector<OutputChange> outputChanges() const;
    uint64_t badFrameCount() const;  // runs of bytes that formed no valid frame
    uint64_t answersSent() const;
    // Keeps only the newest `keep` frames and output changes (a long-running
    // simulator must not grow without bound); counters stay. Shifts indices.
    void trimLog(size_t keep);
    // Waits until a frame with index >= from matches `pred`; its index, or -1.
    long waitForFrame(const std::function<bool(const Frame&)>& pred, int timeoutMs, size_t from = 0) const;
    // Waits until the outputs masked by `mask` equal `value`.
    bool waitForOutputs(uint32_t mask, uint32_t value, int timeoutMs) const;

    // Called on the simulator's thread for every output change.
    void setOutputCallback(std::function<void(const OutputChange&)> cb);

private:
    void loop();
    void handle(const unsigned char* f);
    void answer(const unsigned char* bytes, int n);
    void writeAll(const unsigned char* bytes, int n);
    uint32_t nextRandom();

    int m_master = -1;
    int m_slave = -1; // kept open so the master never sees a hang-up
    std::string m_slaveName;
    std::thread m_thread;
    int m_wake[2] = {-1, -1};
    bool m_running = false;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cond;
    std::mutex m_writeMutex;
    BoardFrameParser m_parser{BoardFrameParser::kCommandLength};
    uint32_t m_inputs = 0;
    uint32_t m_outputs = 0;
    uint32_t m_values[16] = {};
    Echo m_echo = Echo::Normal;
    uint32_t m_stuck = 0;
    bool m_silent = false;
    int m_delayMs = 0;
    int m_faults[kFaultKinds] = {};
    std::vector<unsigned char> m_held; // a merged answer waiting for the next
    std::vector<Frame> m_frames;
    std::vector<OutputChange> m_changes;
    uint64_t m_bad = 0;
    uint64_t m_totalFrames = 0;
    uint64_t m_answers = 0;
    uint32_t m_rand = 0x1234567u;
    std::function<void(const OutputChange&)> m_outputCb;
};
