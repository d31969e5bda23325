#include "controller/controlport.h"
#include "controller/iothread.h"
#include "controller/mainstate.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "platform/platformpath.h"
#include "platform/posix_qextserialport.h"

#include <QFile>
#include <QMutex>
#include <QPointer>
#include <QMutexLocker>
#include <QtDebug>

Posix_QextSerialPort* gpCom = nullptr;
uint32_t gDataIn = 0;
uint32_t gDataInRisen = 0;
uint32_t gDataOut = 0;

QMutex* boardIoMutex()
{
    static QMutex fallback;
    return pMutexIO ? pMutexIO : &fallback;
}

namespace {

constexpr int kOutputCount = 9;

} // namespace

void ComSend(int command, int data)
{
    if (!gpCom)
        return;
    unsigned char frame[BoardFrameParser::kCommandLength];
    BoardFrameParser::makeCommand(frame, command, data);
    gpCom->write(reinterpret_cast<const char*>(frame), sizeof(frame));
}

void ComClose()
{
    delete gpCom;
    gpCom = nullptr;
}

QString boardDevice()
{
    const int port = (gisCOM < 0 || gisCOM > 100) ? 0 : gisCOM;
    return platform::path(QStringLiteral("/dev/ttyS%1").arg(port));
}

Posix_QextSerialPort* openBoardPort(const QString& dev, bool logFailure)
{
    if (!QFile::exists(dev))
        return nullptr;
    auto* com = new Posix_QextSerialPort(dev, QextSerialBase::Polling);
    if (!com->open(QIODevice::ReadWrite)) {
        // Without an open port the link behaves as with no port at all;
        // say why in the log instead of talking to a dead descriptor.
        if (logFailure)
            qWarning() << "I/O board port" << dev << "could not be opened:" << com->errorString();
        delete com;
        return nullptr;
    }
    com->setBaudRate(BAUD115200);
    com->setDataBits(DATA_8);
    com->setParity(PAR_NONE);
    com->setStopBits(STOP_1);
    com->setFlowControl(FLOW_OFF);
    com->setTimeout(1);
    return com;
}

void ComInit()
{
    ComClose();
    gpCom = openBoardPort(boardDevice(), true);
}

ControlPort::ControlPort()
{
    out = 0;
    ComInit();
    IOResetAllOut();
    IOFlashOut();
}

ControlPort::~ControlPort()
{
    stopIOThread();
}

void ControlPort::InitIOThread()
{
    if (m_thread)
        return;
    m_thread = new IOThread();
    // A wake-up may still be queued when the thread is stopped and deleted.
    QPointer<IOThread> thread(m_thread);
    connect(m_thread, &IOThread::sigIOChange, this, [thread] {
        if (!thread)
            return;
        // Taken before Run reads the word: a change during Run wakes it again.
        thread->wakeTaken();
        if (gpWin)
            gpWin->Run();
    }, Qt::QueuedConnection);
    connect(m_thread, &IOThread::sigCyclesLost, this, [](int input, int cycles, int burstMs) {
        if (gpWin)
            gpWin->InsertRecord(messageText(781).arg(burstMs).arg(cycles).arg(input), QStringLiteral("info"));
    }, Qt::QueuedConnection);
    connect(m_thread, &IOThread::sigLink, this, &ControlPort::linkChanged, Qt::QueuedConnection);
    m_thread->start(QThread::InheritPriority);
}

void ControlPort::stopIOThread()
{
    if (!m_thread)
        return;
    m_thread->requestInterruption();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

void ControlPort::IOSetOut(int no, int level)
{
    if (no < 0 || no > 31)
        return;
    const WizardPara* p = gpWPara;
    level = level ? 1 : 0;
    if (p && p->noAlarmSound && no == 2 && level == 1)
        return;
    if (p && no < kOutputCount && p->outInitState[no])
        level = !level;
    uint32_t mask = 1u << no;
    if (p && p->out4Use == no + 1)
        mask |= 1u << 3;
    if (level)
        out |= mask;
    else
        out &= ~mask;
}

void ControlPort::IOResetAllOut()
{
    for (int n = 0; n < kOutputCount; ++n)
        IOSetOut(n, 0);
}

void ControlPort::IOFlashOut()
{
    {
        QMutexLocker lock(boardIoMutex());
        gDataOut = out;
    }
    if (out != m_lastFlushed) {
        m_lastFlushed = out;
        emit sigIOChange();
    }
}

int ControlPort::IOState(int kind, int n) const
{
    if (n < 0 || n > 31)
        return 0;
    return int(((kind ? out : in) >> n) & 1u);
}

int ControlPort::IOInTrigger(int no)
{
    if (no < 0 || no > 15)
        return 0;
    const WizardPara* p = gpWPara;
    const int k = p ? p->in4Use : 0;
    const bool stands = k >= 1 && k <= 16;
    // Input 3 stands in for input k: its level and its rise are k's.
    const auto withStandIn = [k, stands](uint32_t w) { return stands ? w | (((w >> 3) & 1u) << (k - 1)) : w; };
    uint32_t risen = 0;
    {
        QMutexLocker lock(boardIoMutex());
        in = withStandIn(gDataIn);
        risen = withStandIn(gDataInRisen);
        gDataInRisen &= ~(1u << no);
        if (stands && no == k - 1)
            gDataInRisen &= ~(1u << 3);
        // The levels of the board's first answer are the starting point: a
        // mould standing open at start is no new opening. Only rises the I/O
        // thread saw after that answer count.
        if (!m_baselined && m_thread && m_thread->hasWord()) {
            m_baselined = true;
            for (int i = 0; i < 16; ++i)
                prevIn[i] = ((in & ~risen) >> i) & 1u;
        }
    }

    const bool level = (in >> no) & 1u;
    // A rise seen by the I/O thread counts even when the input fell again
    // before this call: the debounce counts on every edge.
    const int result = ((!prevIn[no] && level) || ((risen >> no) & 1u)) ? 1 : 0;

    const int mode = p ? p->systemMode : 0;
    if ((mode == 0 || mode == 3) && prevIn[1] && !((in >> 1) & 1u)) {
        // The safety door dropped: the alarm goes off. "On" is the level the
        // machine sees, so the output's inversion is taken into account.
        const bool inverted = p && p->outInitState[2];
        const bool alarmOn = (((out >> 2) & 1u) != 0) != inverted;
        if (alarmOn) {
            IOSetOut(2, 0);
            IOFlashOut();
        }
    }
    prevIn[no] = level;
    return result;
}

// One record when the board drops out and one when it answers again, never
// one per poll; a board that keeps dropping out is recorded once a minute
// with the dropouts counted in between.
void ControlPort::linkChanged(int link, int quietMs)
{
    const int was = m_link;
    m_link = link;
    QString text;
    if (link == IOThread::Answering) {
        if (m_dropoutRecorded)
            text = messageText(902).arg(quietMs);
        m_dropoutRecorded = false;
    } else if (was == IOThread::Answering) {
        const qint64 t = clockMs();
        m_dropoutRecorded = m_dropoutRecordMs < 0 || t - m_dropoutRecordMs >= kDropoutRecordGapMs;
        if (m_dropoutRecorded) {
            text = link == IOThread::NoPort ? messageText(901).arg(boardDevice()) : messageText(900);
            if (m_unrecordedDropouts > 0)
                text += messageText(903).arg(m_unrecordedDropouts);
            m_unrecordedDropouts = 0;
            m_dropoutRecordMs = t;
        } else {
            ++m_unrecordedDropouts;
        }
    }
    if (!text.isEmpty() && gpWin)
        gpWin->InsertRecord(text, QStringLiteral("info"));
    emit sigBoardLink(link);
}

void ControlPort::updateThreadProtectTiming()
{
    if (m_thread)
        m_thread->stamp.store(IOThread::now(), std::memory_order_relaxed);
}
