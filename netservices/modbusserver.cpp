#include "netservices/modbusserver.h"

#include "frame/clock.h"

#include <modbus/modbus.h>

#include <glog/logging.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr int kPollMs = 100;         // how soon a stop is seen
constexpr int kHeaderLength = 7;     // MBAP: transaction, protocol, length, unit
constexpr int kMaxMbapLength = 254;  // unit id and a PDU of at most 253 bytes

bool registerFunction(int fn)
{
    switch (fn) {
    case 0x01: // read coils
    case 0x02: // read discrete inputs
    case 0x03: // read holding registers
    case 0x04: // read input registers
    case 0x05: // write single coil
    case 0x06: // write single register
    case 0x0F: // write multiple coils
    case 0x10: // write multiple registers
    case 0x16: // mask write register
    case 0x17: // read/write multiple registers
        return true;
    default:
        return false;
    }
}

// One connection and the part of a frame it has sent so far. Sockets are
// non-blocking and frames are gathered here, so no client's pace ever holds
// the loop that serves the others.
struct Client
{
    int fd = -1;
    uint32_t peer = 0; // the peer's IPv4 address
    std::vector<uint8_t> buf;
    qint64 frameStart = -1; // when the first byte of the frame in buf came
    qint64 lastActive = 0;  // the last byte received
    qint64 lastFrame = -1;  // the last whole frame received, -1 none yet
};

// The length of the whole frame at the front of buf, 0 when its header is
// not complete yet, -1 when the header is not Modbus TCP.
int frameLength(const std::vector<uint8_t>& buf)
{
    if (buf.size() < 6)
        return 0;
    const int protocol = (buf[2] << 8) | buf[3];
    const int length = (buf[4] << 8) | buf[5];
    if (protocol != 0 || length < 2 || length > kMaxMbapLength)
        return -1;
    return 6 + length;
}

constexpr long kNewcomer = -2;

// Who makes room for a newcomer from peer: the index of the connection to
// let go, -1 when there is room, or kNewcomer when the newcomer itself goes.
// The newcomer counts with its own address. An address at its share gives
// up its own quietest; else the addresses that would hold the most give up
// their quietest, when they hold more than the newcomer's will (a tie goes
// against the newcomer); else, with nothing of its own to give, a newcomer
// takes the place of the quietest connection silent over kYieldAfterMs.
// Quiet is counted in whole frames: one that has sent none goes first (the
// oldest of them), then the one whose last frame is oldest, so a crowd that
// dials and idles pushes out its own, not a polling master of the same
// address. Equals are taken in the order they came, never by address.
long displaced(const std::vector<Client>& clients, uint32_t peer, qint64 now)
{
    std::map<uint32_t, int> held;
    for (const Client& c : clients)
        ++held[c.peer];
    const int own = held[peer];
    if (own < ModbusServer::kMaxClientsPerPeer && int(clients.size()) < ModbusServer::kMaxClients)
        return -1;
    int most = own + 1;
    if (own < ModbusServer::kMaxClientsPerPeer)
        for (const auto& [p, count] : held)
            most = std::max(most, count);
    const auto mayGo = [&](const Client& c) {
        if (most > own + 1)
            return held[c.peer] == most;
        return own > 0 ? c.peer == peer : now - c.lastActive > ModbusServer::kYieldAfterMs;
    };
    long quiet = kNewcomer;
    for (size_t i = 0; i < clients.size(); ++i)
        if (mayGo(clients[i]) && (quiet < 0 || clients[i].lastFrame < clients[size_t(quiet)].lastFrame))
            quiet = long(i);
    return quiet;
}

} // namespace

ModbusServer::ModbusServer()
{
    bool ok = false;
    const int env = qEnvironmentVariableIntValue("STATION_MODBUS_PORT", &ok);
    if (ok && env > 0 && env < 65536)
        m_port = quint16(env);
    const bool sim = !qEnvironmentVariableIsEmpty("STATION_SIMROOT");
    m_address = sim ? QStringLiteral("127.0.0.1") : QStringLiteral("0.0.0.0");
    const auto notListening = [this] {
        const QString why = QString::fromLocal8Bit(modbus_strerror(errno));
        m_whyNot = QStringLiteral("%1:%2: %3").arg(m_address).arg(m_port).arg(why);
    };
    modbus_t* ctx = modbus_new_tcp(sim ? "127.0.0.1" : nullptr, m_port);
    if (!ctx) {
        notListening();
        LOG(ERROR) << "Modbus TCP slave: not made (" << modbus_strerror(errno) << ")";
        return;
    }
    m_listen = modbus_tcp_listen(ctx, kListenBacklog);
    if (m_listen < 0) {
        notListening();
        LOG(WARNING) << "Modbus TCP slave: port " << m_port << " not opened (" << modbus_strerror(errno)
                     << "), the station runs without it";
        modbus_free(ctx);
        return;
    }
    modbus_free(ctx); // the listening socket stays ours
    // The serving loop takes connections until none waits.
    ::fcntl(m_listen, F_SETFL, ::fcntl(m_listen, F_GETFL) | O_NONBLOCK);
    LOG(INFO) << "Modbus TCP slave on port " << m_port << (sim ? " (loopback only)" : "");
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
    m_pool.start([this] { serve(); });
}

ModbusServer::~ModbusServer()
{
    stop();
}

void ModbusServer::stop()
{
    m_stop = true;
    m_pool.waitForDone(); // the serving loop closes the clients
    if (m_listen >= 0)
        ::close(m_listen);
    m_listen = -1;
}

void ModbusServer::serve()
{
    modbus_t* ctx = modbus_new_tcp(nullptr, m_port);
    if (!ctx)
        return;
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    auto drop = [&](size_t i) {
        ::close(clients[i].fd);
        clients.erase(clients.begin() + long(i));
    };
    // Answers every whole frame in c.buf; false when the client must go.
    auto answer = [&](Client& c) {
        for (;;) {
            const int len = frameLength(c.buf);
            if (len < 0)
                return false;
            if (len == 0 || int(c.buf.size()) < len)
                return true;
            const int fn = c.buf[kHeaderLength];
            const unsigned code = registerFunction(fn) ? MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS
                                                       : MODBUS_EXCEPTION_ILLEGAL_FUNCTION;
            modbus_set_socket(ctx, c.fd);
            // The answer is short and the socket does not wait: a client
            // that leaves its answers unread fills its buffer and is dropped.
            if (fn >= 0x80 || modbus_reply_exception(ctx, c.buf.data(), code) < 0)
                return false;
            c.buf.erase(c.buf.begin(), c.buf.begin() + len);
            c.lastFrame = clockMs();
            c.frameStart = c.buf.empty() ? -1 : c.lastFrame;
        }
    };
    while (!m_stop) {
        fds.assign(1, pollfd{m_listen, POLLIN, 0});
        for (const Client& c : clients)
            fds.push_back(pollfd{c.fd, POLLIN, 0});
        const int n = ::poll(fds.data(), fds.size(), kPollMs);
        if (n < 0 && errno != EINTR) {
            LOG(ERROR) << "Modbus TCP slave: " << std::strerror(errno) << ", stopped";
            break;
        }
        const qint64 now = clockMs();
        // Clients first, from the last, so that a drop keeps the indices.
        for (size_t i = clients.size(); i-- > 0;) {
            Client& c = clients[i];
            const short ev = n > 0 ? fds[i + 1].revents : 0;
            if (ev && !(ev & POLLIN)) {
                drop(i);
                continue;
            }
            if (ev) {
                uint8_t in[MODBUS_TCP_MAX_ADU_LENGTH];
                const ssize_t got = ::recv(c.fd, in, sizeof in, 0);
                if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                    drop(i);
                    continue;
                }
                if (got > 0) {
                    if (c.buf.empty())
                        c.frameStart = now;
                    c.buf.insert(c.buf.end(), in, in + got);
                    c.lastActive = now;
                    if (!answer(c)) {
                        drop(i);
                        continue;
                    }
                }
            }
            // A frame is due whole within its deadline, however its bytes
            // trickle in; a connection that says nothing is let go.
            if ((c.frameStart >= 0 && now - c.frameStart > kFrameDeadlineMs) || now - c.lastActive > kIdleMs)
                drop(i);
        }
        // The whole accept queue each round (up to a table's worth): a full
        // queue drops the connections that come next, another address's too.
        for (int k = 0; n > 0 && (fds[0].revents & POLLIN) && k < kMaxClients; ++k) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const int s = ::accept4(m_listen, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (s < 0)
                break;
            const uint32_t peer = from.sin_addr.s_addr;
            const long victim = displaced(clients, peer, now);
            if (victim == kNewcomer) {
                ::close(s);
                continue;
            }
            if (victim >= 0)
                drop(size_t(victim));
            const int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            Client c;
            c.fd = s;
            c.peer = peer;
            c.lastActive = now;
            clients.push_back(std::move(c));
        }
    }
    for (const Client& c : clients)
        ::close(c.fd);
    modbus_set_socket(ctx, -1);
    modbus_free(ctx);
}
