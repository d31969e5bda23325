#pragma once
#include "controller/boardframeparser.h"

#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>

// Polls the I/O board every 5 ms: sends the poll (or, once per round, the two
// value reads), takes the input word from the board's status answers and
// re-sends the wanted outputs while the board's echo differs from them. A
// watchdog stops all talk to the board (no polls, no outputs, no reads) while
// the GUI thread has not refreshed `stamp` for 11 s; the next refresh resumes
// polling. What the board then does with its outputs is the board's own
// business: the station only stops talking.
//
// It also says when the board cannot be reached: no valid status answer for
// kSilentMs while it kept polling, or no open port (one that appears later
// is opened, tried once a second). Each change is logged and signalled
// once, not per poll; the first valid status answer ends it.
class IOThread : public QThread
{
    Q_OBJECT
public:
    // The watchdog's time in whole seconds, from the station clock
    // (frame/clock.h: tests install a TestClock and advance it).
    static int now();

    static constexpr int kPassMs = 5;
    static constexpr int kStaleSeconds = 11;
    static constexpr int kValueReadPass = 200;  // command 3 instead of the poll
    static constexpr int kValueRead2Pass = 210; // command 4, then the round restarts

    explicit IOThread(QObject* parent = nullptr);
    ~IOThread() override;

    // Watchdog time, written by the GUI thread, read by the thread.
    std::atomic<int> stamp{0};

    // True while the watchdog keeps the thread away from the board.
    bool isStale() const { return m_stale.load(); }

    // One receive step on bytes already read: parses them, stores input words
    // (and the inputs that rose since the previous word, in gDataInRisen; the
    // run's first word is the baseline) and values, and returns true
    // when the board's echo differs from `wanted` (the outputs must be sent
    // again). Emits sigIOChange when an input word changed and no wake-up is
    // pending; the receiver calls wakeTaken() before it reads the word, so a
    // board toggling its inputs every few milliseconds queues one call, not
    // thousands, and no change goes unseen.
    bool receive(const unsigned char* data, int length, uint32_t wanted);
    void wakeTaken() { m_wakePending.store(false); }
    // True once a status answer was stored; read under boardIoMutex() with
    // gDataIn, so the first word and the flag are seen together.
    bool hasWord() const { return m_haveWord.load(std::memory_order_relaxed); }
    bool wakePending() const { return m_wakePending.load(); }
    // Sets the value-table index, as commands 3 and 4 do (tests).
    void resetValueIndex(int index) { m_valueIndex = index; }

    // A run of polls this long without a valid status answer is a burst
    // of bad answers: logged once when it ends, with its length.
    static constexpr int kBurstPolls = 20;

    // What the station hears of the board.
    enum Link { Answering = 0, Silent = 1, NoPort = 2 };
    // The board is silent when no valid status answer came for this long
    // (station clock) while the thread sent at least kBurstPolls polls: a
    // thread that was not scheduled for a while has not asked.
    static constexpr int kSilentMs = 500;
    static constexpr int kPortRetryMs = 1000;
    Link link() const { return Link(m_link.load(std::memory_order_relaxed)); }

signals:
    // The board's input word changed.
    void sigIOChange();
    // A burst of bad answers hid about `cycles` openings of `input` (from
    // its rhythm before the burst) that the cycle never saw.
    void sigCyclesLost(int input, int cycles, int burstMs);
    // The link changed (a Link); on Answering, how long no valid answer came.
    void sigLink(int link, int quietMs);

protected:
    void run() override;

private:
    void sleepStale();
    // Burst bookkeeping on a valid status word (before it is stored).
    void statusAnswer(uint32_t word, uint32_t previous);
    void setLink(Link link, qint64 quietMs);
    // A pass without an open port.
    void noPort();

    BoardFrameParser m_parser{BoardFrameParser::kAnswerLength};
    unsigned char m_readBuf[BoardFrameParser::kBufferSize];
    int m_pass = 0;
    int m_valueIndex = 0;
    std::atomic<bool> m_stale{false};
    std::atomic<bool> m_wakePending{false};
    std::atomic<bool> m_haveWord{false};
    // The I/O thread's own: polls since the last valid status answer, its
    // time, and per input the last rise, the time between rises and how
    // long it stayed high (station clock, ms; -1 unknown).
    int m_missed = 0;
    qint64 m_lastAnswerMs = -1;
    qint64 m_heardMs = 0; // the last valid status answer, else the thread's making
    int m_retryPasses = 0;
    const QString m_device; // the board's port
    std::atomic<int> m_link{Answering};
    qint64 m_rise[16];
    qint64 m_period[16];
    qint64 m_high[16];
};
