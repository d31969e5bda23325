#pragma once
// A viewer bridge that answers the way a broken or hostile one does, a thread
// per connection at loopback speed: 200 with an endless chunked body,
// Content-Length 10^12 streamed at full speed, a byte every 100 ms for ever,
// a body to the close in small pieces slowly enough for the station to read
// each as it comes (counting what it took before it hung up), the request
// read and the connection dropped unanswered, or given bytes and the close.
// Heartbeats and the other requests are answered each their own way; "Ok" is
// a plain 200 on a connection kept open.
#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

class HostileBridge
{
public:
    enum Answer { Ok, Chunked, HugeLength, Trickle, Slow, Drop, Raw };
    static constexpr int kSlowPiece = 256, kSlowMost = 64 * 1024;
    std::atomic<Answer> beat{Ok}, post{Ok};
    QByteArray raw; // the Raw answer, set before Raw is chosen

    HostileBridge()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 64);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_accept = std::thread([this] {
            while (!m_stop) {
                pollfd p{m_listen, POLLIN, 0};
                const int s = ::poll(&p, 1, 20) == 1 ? ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC) : -1;
                if (s >= 0) {
                    ++m_open;
                    m_conns.emplace_back([this, s] {
                        serve(s);
                        ::close(s);
                        --m_open;
                    });
                }
            }
        });
    }
    ~HostileBridge()
    {
        m_stop = true;
        m_accept.join();
        for (auto& t : m_conns)
            t.join();
        ::close(m_listen);
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }
    int open() const { return m_open; }           // connections the station holds
    int attacking() const { return m_attacking; } // answers being streamed or trickled
    int attacksEnded() const { return m_ended; }  // the station hung up on them
    int heartbeats() const { return m_beats; }
    int slowBodyTaken() const { return m_slowTaken; } // Slow bytes written before the station hung up
    QList<QByteArray> bodies() const
    {
        QMutexLocker lock(&m_mutex);
        return m_bodies;
    }

private:
    // False when the station has gone (or the bridge stops).
    bool put(int s, const QByteArray& data)
    {
        for (int at = 0; at < data.size() && !m_stop;) {
            const ssize_t n = ::send(s, data.constData() + at, size_t(data.size() - at), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN)
                return false;
            at += n > 0 ? int(n) : 0;
        }
        return !m_stop;
    }
    void serve(int s)
    {
        const timeval tick{0, 50000};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tick, sizeof tick);
        QByteArray in;
        char buf[4096];
        while (!m_stop) {
            const ssize_t n = ::recv(s, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN))
                return;
            in.append(buf, int(qMax<ssize_t>(n, 0)));
            const int end = in.indexOf("\r\n\r\n");
            const int cl = in.left(end).toLower().indexOf("content-length:");
            const int length = cl < 0 ? 0 : in.mid(cl + 15, in.indexOf('\r', cl) - cl - 15).trimmed().toInt();
            if (end < 0 || in.size() < end + 4 + length)
                continue;
            const bool isBeat = in.startsWith("POST /inline/bymain/heartbeat ");
            const Answer a = isBeat ? beat.load() : post.load();
            if (isBeat) {
                ++m_beats;
            } else {
                QMutexLocker lock(&m_mutex);
                m_bodies << in.mid(end + 4, length);
            }
            in.remove(0, end + 4 + length);
            if (a == Ok && put(s, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"))
                continue;
            if (a == Raw)
                put(s, raw);
            if (a == Ok || a == Drop || a == Raw)
                return;
            ++m_attacking;
            stream(s, a);
            --m_attacking;
            ++m_ended;
            return;
        }
    }
    void stream(int s, Answer a)
    {
        const QByteArray head = a == Chunked ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                : a == HugeLength ? "HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\n"
                                                  : "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
        const QByteArray piece = a == Chunked ? "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n" : QByteArray(0x10000, '\0');
        if (a == Slow) {
            // Pieces at a pace the station keeps up with, so what is written
            // is what it read, not what waits in the kernel (to within a piece
            // or two); the close comes by itself past kSlowMost.
            bool more = put(s, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            while (more && m_slowTaken < kSlowMost) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                more = put(s, QByteArray(kSlowPiece, 'x'));
                m_slowTaken += more ? kSlowPiece : 0;
            }
            return;
        }
        if (a != Trickle) {
            for (bool more = put(s, head); more; more = put(s, piece)) {
            }
            return;
        }
        for (int i = 0; put(s, QByteArray(1, i < head.size() ? head[i] : 'x')); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_accept;
    std::vector<std::thread> m_conns; // the accept thread's until it is joined
    std::atomic<int> m_open{0}, m_attacking{0}, m_ended{0}, m_beats{0}, m_slowTaken{0};
    mutable QMutex m_mutex;
    QList<QByteArray> m_bodies;
};
