#pragma once
// Lets go a reader that waits on a FIFO: after 3 s, and then every 100 ms
// until it is destroyed, a writer opens and closes each FIFO. A reader that
// does not wait never meets it; one that does is freed, late, so the test
// measures the delay instead of hanging.
#include <QFile>
#include <QSemaphore>
#include <QStringList>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

class FifoRelease
{
public:
    explicit FifoRelease(const QStringList& fifos)
        : m_thread([this, fifos] {
            for (int i = 0; !m_done.tryAcquire(1, i ? 100 : 3000) && i < 50; ++i)
                for (const QString& f : fifos)
                    if (const int fd = ::open(QFile::encodeName(f).constData(), O_WRONLY | O_NONBLOCK); fd >= 0)
                        ::close(fd);
        })
    {
    }
    ~FifoRelease()
    {
        m_done.release();
        m_thread.join();
    }

private:
    QSemaphore m_done;
    std::thread m_thread;
};
