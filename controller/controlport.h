#pragma once
#include "controller/boardframeparser.h"

#include <QObject>
#include <QString>
#include <cstdint>

class IOThread;
class Posix_QextSerialPort;

// The serial I/O board link, shared by the GUI thread and IOThread.
// gDataIn and gDataOut are guarded by pMutexIO; gFTemp is the I/O thread's.
extern Posix_QextSerialPort* gpCom; // the open board port, null without one
extern uint32_t gDataIn;            // last input word from a status answer
extern uint32_t gDataInRisen;       // inputs that rose since IOInTrigger last took them
extern uint32_t gDataOut;           // output word the GUI thread wants on the board
constexpr int kBoardValueCount = 16;
extern uint32_t gFTemp[kBoardValueCount]; // board values of commands 3 and 4 (the I/O thread's)

class QMutex;
// The lock of gDataIn and gDataOut: pMutexIO, which main makes before anything
// talks to the board; programs that never made it (tools, tests) get one of
// their own.
QMutex* boardIoMutex();

// Writes one 6-byte command frame to the board; nothing without a port.
void ComSend(int command, int data);
// "/dev/ttyS<gisCOM>" (values outside 0..100 count as 0), on the platform.
QString boardDevice();
// The device opened at 115200 8N1, no flow control, 1 ms time-out; null
// when it does not exist or cannot be opened (said in the log when
// `logFailure`).
Posix_QextSerialPort* openBoardPort(const QString& device, bool logFailure);
// Opens boardDevice() into gpCom, which stays null when the device does not
// exist or cannot be opened.
void ComInit();
// Closes and deletes the port (end of process, tests).
void ComClose();

// The GUI thread's side of the board: input edges, the wanted output word.
// Output changes are collected with IOSetOut and published in one step with
// IOFlashOut; the I/O thread brings them to the board at its next poll.
class ControlPort : public QObject
{
    Q_OBJECT
public:
    // Opens the port and publishes an all-off output word. The parameter set
    // gpWPara must be loaded before.
    ControlPort();
    ~ControlPort() override;

    // Starts the polling thread. An input change calls gpWin->Run() on this
    // object's thread, queued, with at most one call pending.
    void InitIOThread();

    void IOSetOut(int no, int level);
    void IOResetAllOut();
    void IOFlashOut();
    // kind non-zero: bit n of the wanted output word, else of the input word
    // last taken by IOInTrigger. 0 or 1.
    int IOState(int kind, int n) const;
    // 1 when input no has risen since the last call for the same input,
    // also when it fell again before this call.
    int IOInTrigger(int no);
    // Refreshes the polling thread's watchdog stamp.
    void updateThreadProtectTiming();

    // The board's link as the polling thread last reported it (an
    // IOThread::Link).
    int boardLink() const { return m_link; }
    // A dropout that starts sooner than this after the last recorded one is
    // counted, not recorded: a board that keeps dropping out writes one
    // record a minute, with the count, and its return only when the dropout
    // was recorded.
    static constexpr int kDropoutRecordGapMs = 60000;

    IOThread* ioThread() const { return m_thread; }
    // Stops and deletes the polling thread. Production never does this; the
    // thread runs until the process ends.
    void stopIOThread();

    bool prevIn[16] = {};
    uint32_t out = 0;
    uint32_t in = 0;

signals:
    // The published output word changed.
    void sigIOChange();
    // The board's link changed (an IOThread::Link).
    void sigBoardLink(int link);

private:
    void linkChanged(int link, int quietMs);

    IOThread* m_thread = nullptr;
    uint32_t m_lastFlushed = 0;
    bool m_baselined = false; // prevIn holds the board's first answer
    int m_link = 0;
    qint64 m_dropoutRecordMs = -1; // when the last recorded dropout began (station clock)
    int m_unrecordedDropouts = 0;
    bool m_dropoutRecorded = false;
};
