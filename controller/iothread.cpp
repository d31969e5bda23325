#include "controller/iothread.h"
#include "controller/controlport.h"
#include "frame/clock.h"
#include "platform/posix_qextserialport.h"

#include <QMutex>
#include <QMutexLocker>
#include <QtDebug>
#include <algorithm>

// Written only here, on the I/O thread.
uint32_t gFTemp[kBoardValueCount] = {};

int IOThread::now()
{
    return int(Clock::instance()->monotonicMs() / 1000 % 1000000000LL);
}

IOThread::IOThread(QObject* parent)
    : QThread(parent)
{
    stamp.store(now(), std::memory_order_relaxed);
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
            {
                QMutexLocker lock(boardIoMutex());
                changed = word != gDataIn;
                gDataInRisen |= word & ~gDataIn;
                gDataIn = word;
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
            msleep(kPassMs);
            continue;
        }

        const qint64 avail = gpCom->bytesAvailable();
        if (avail > 0) {
            const qint64 got = gpCom->read(reinterpret_cast<char*>(m_readBuf),
                                           std::min(avail, qint64(sizeof(m_readBuf))));
            if (got > 0 && receive(m_readBuf, int(got), wanted))
                ComSend(1, int(wanted));
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
