#include "controller/iothread.h"
#include "controller/controlport.h"
#include "frame/clock.h"
#include "platform/posix_qextserialport.h"

#include <QMutex>
#include <QMutexLocker>
#include <QtDebug>
#include <algorithm>
#include <iterator>
#include <limits>

// Written only here, on the I/O thread.
uint32_t gFTemp[kBoardValueCount] = {};

int IOThread::now()
{
    return int(Clock::instance()->monotonicMs() / 1000 % 1000000000LL);
}

IOThread::IOThread(QObject* parent)
    : QThread(parent)
    , m_device(boardDevice())
{
    stamp.store(now(), std::memory_order_relaxed);
    m_heardMs = clockMs();
    std::fill(std::begin(m_rise), std::end(m_rise), -1);
    std::fill(std::begin(m_period), std::end(m_period), -1);
    std::fill(std::begin(m_high), std::end(m_high), -1);
}

void IOThread::setLink(Link link, qint64 quietMs)
{
    m_link.store(link, std::memory_order_relaxed);
    emit sigLink(link, int(std::min<qint64>(quietMs, std::numeric_limits<int>::max())));
}

void IOThread::noPort()
{
    if (link() != NoPort) {
        qWarning("I/O board: port %s not open: the machine's inputs are not read, the outputs do not reach it",
                 qPrintable(m_device));
        setLink(NoPort, 0);
    }
    // A port made late (an adapter plugged in after the start) is taken up.
    if (++m_retryPasses * kPassMs < kPortRetryMs)
        return;
    m_retryPasses = 0;
    gpCom = openBoardPort(m_device, false);
    if (!gpCom)
        return;
    qWarning("I/O board: port %s opened", qPrintable(m_device));
    setLink(Silent, 0); // until it answers
}

void IOThread::statusAnswer(uint32_t word, uint32_t previous)
{
    const qint64 t = clockMs();
    if (link() != Answering) {
        qWarning("I/O board: answering again after %lld ms without a valid answer", t - m_heardMs);
        setLink(Answering, t - m_heardMs);
    }
    m_heardMs = t;
    if (m_missed >= kBurstPolls && m_lastAnswerMs >= 0) {
        const qint64 from = m_lastAnswerMs;
        qWarning("I/O board: %d polls without a valid answer, %lld ms", m_missed, t - from);
        // Openings the machine's rhythm before the burst puts inside it: ones
        // that would have ended after the last answer and before this one
        // opened and closed while the station heard nothing.
        for (int i = 0; i < 16; ++i) {
            const qint64 p = m_period[i];
            // A rhythm that had already stopped when the answers stopped (the
            // machine standing) says nothing about the gap.
            if (p <= 0 || m_high[i] < 0 || m_rise[i] < 0 || from - m_rise[i] > 2 * p)
                continue;
            qint64 end = m_rise[i] + p + m_high[i];
            if (end <= from)
                end += ((from - end) / p + 1) * p;
            const int lost = end > t ? 0 : int(std::min<qint64>((t - end) / p + 1, 1000));
            if (lost > 0) {
                qWarning("I/O board: about %d rise(s) of input %d lost in the burst", lost, i);
                emit sigCyclesLost(i, lost, int(t - from));
            }
        }
    }
    m_missed = 0;
    m_lastAnswerMs = t;
    if (!m_haveWord.load(std::memory_order_relaxed))
        return;
    for (int i = 0; i < 16; ++i) {
        const uint32_t bit = 1u << i;
        if ((word & bit) && !(previous & bit)) {
            if (m_rise[i] >= 0)
                m_period[i] = t - m_rise[i];
            m_rise[i] = t;
        } else if (!(word & bit) && (previous & bit) && m_rise[i] >= 0) {
            m_high[i] = t - m_rise[i];
        }
    }
}

IOThread::~IOThread()
{
    requestInterruption();
    wait();
}

bool IOThread::receive(const unsigned char* data, int length, uint32_t wanted)
{
    m_parser.append(data, length);
    bool resend = false;
    while (const unsigned char* f = m_parser.nextFrame()) {
        switch (BoardFrameParser::type(f)) {
        case 2: {
            const uint32_t word = BoardFrameParser::inputWord(f);
            bool changed = false;
            uint32_t previous;
            {
                QMutexLocker lock(boardIoMutex());
                previous = gDataIn;
            }
            statusAnswer(word, previous); // gDataIn is written on this thread only
            {
                QMutexLocker lock(boardIoMutex());
                changed = word != gDataIn;
                // The first word of a run is where the machine stands, not
                // a change: a mould already open at start was counted
                // before the restart.
                if (m_haveWord.load(std::memory_order_relaxed))
                    gDataInRisen |= word & ~gDataIn;
                gDataIn = word;
                m_haveWord.store(true, std::memory_order_relaxed);
            }
            // Stored before the signal, so the queued reader sees the new word.
            if (changed && !m_wakePending.exchange(true))
                emit sigIOChange();
            // The board echoes ten outputs; compare only what it can echo.
            if (BoardFrameParser::echoWord(f) != (wanted & 0x3FFu))
                resend = true;
            break;
        }
        case 3:
        case 4:
            // A board that sends more values than asked for must not write
            // past the table.
            if (m_valueIndex >= 0 && m_valueIndex < kBoardValueCount)
                gFTemp[m_valueIndex++] = BoardFrameParser::value(f);
            break;
        default:
            break;
        }
    }
    return resend;
}

void IOThread::sleepStale()
{
    // Up to a second, but a fresh stamp ends the wait at once.
    for (int waited = 0; waited < 1000 && !isInterruptionRequested(); waited += kPassMs) {
        if (now() - stamp.load(std::memory_order_relaxed) < kStaleSeconds)
            return;
        msleep(kPassMs);
    }
}

void IOThread::run()
{
    stamp.store(now(), std::memory_order_relaxed);
    while (!isInterruptionRequested()) {
        if (now() - stamp.load(std::memory_order_relaxed) >= kStaleSeconds) {
            m_stale.store(true);
            qWarning("controlport_thread - main_thread > 10s will timeout exit");
            sleepStale();
            continue;
        }
        m_stale.store(false);

        uint32_t wanted;
        {
            QMutexLocker lock(boardIoMutex());
            wanted = gDataOut;
        }
        if (!gpCom) {
            noPort();
            msleep(kPassMs);
            continue;
        }

        // Every pass polls once; a valid status answer sets this back.
        ++m_missed;
        const qint64 avail = gpCom->bytesAvailable();
        if (avail > 0) {
            const qint64 got = gpCom->read(reinterpret_cast<char*>(m_readBuf),
                                           std::min(avail, qint64(sizeof(m_readBuf))));
            if (got > 0 && receive(m_readBuf, int(got), wanted))
                ComSend(1, int(wanted));
        }
        if (m_missed >= kBurstPolls && link() == Answering) {
            const qint64 quiet = clockMs() - m_heardMs;
            if (quiet >= kSilentMs) {
                qWarning("I/O board: no valid answer for %lld ms (%d polls): the machine's inputs are not read, "
                         "the outputs do not reach it", quiet, m_missed);
                setLink(Silent, quiet);
            }
        }

        ++m_pass;
        if (m_pass == kValueReadPass) {
            m_valueIndex = 0;
            ComSend(3, 0);
        } else if (m_pass >= kValueRead2Pass) {
            m_valueIndex = 8;
            m_pass = 0;
            ComSend(4, 0);
        } else {
            ComSend(2, 0);
        }
        msleep(kPassMs);
    }
}
