#include "netservices/modbusserver.h"

#include <modbus/modbus.h>

#include <glog/logging.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr int kPollMs = 100;        // how soon a stop is seen
constexpr int kByteTimeoutMs = 200; // a frame's bytes may not pause longer
constexpr int kSendTimeoutMs = 200; // a client that does not read is dropped

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

} // namespace

ModbusServer::ModbusServer()
{
    bool ok = false;
    const int env = qEnvironmentVariableIntValue("STATION_MODBUS_PORT", &ok);
    if (ok && env > 0 && env < 65536)
        m_port = quint16(env);
    const bool sim = !qEnvironmentVariableIsEmpty("STATION_SIMROOT");
    modbus_t* ctx = modbus_new_tcp(sim ? "127.0.0.1" : nullptr, m_port);
    if (!ctx) {
        LOG(ERROR) << "Modbus TCP slave: not made (" << modbus_strerror(errno) << ")";
        return;
    }
    m_listen = modbus_tcp_listen(ctx, 8);
    if (m_listen < 0) {
        LOG(WARNING) << "Modbus TCP slave: port " << m_port << " not opened (" << modbus_strerror(errno)
                     << "), the station runs without it";
        modbus_free(ctx);
        return;
    }
    modbus_free(ctx); // the listening socket stays ours
    LOG(INFO) << "Modbus TCP slave on port " << m_port << (sim ? " (loopback only)" : "");
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
    m_pool.start([this] { serve(); });
}

ModbusServer::~ModbusServer()
{
    m_stop = true;
    m_pool.waitForDone();
    if (m_listen >= 0)
        ::close(m_listen);
}

void ModbusServer::serve()
{
    modbus_t* ctx = modbus_new_tcp(nullptr, m_port);
    if (!ctx)
        return;
    modbus_set_byte_timeout(ctx, 0, kByteTimeoutMs * 1000);
    std::vector<int> clients;
    std::vector<pollfd> fds;
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    auto drop = [&](size_t i) {
        ::close(clients[i]);
        clients.erase(clients.begin() + long(i));
    };
    while (!m_stop) {
        fds.assign(1, pollfd{m_listen, POLLIN, 0});
        for (int c : clients)
            fds.push_back(pollfd{c, POLLIN, 0});
        const int n = ::poll(fds.data(), fds.size(), kPollMs);
        if (n < 0 && errno != EINTR) {
            LOG(ERROR) << "Modbus TCP slave: " << std::strerror(errno) << ", stopped";
            break;
        }
        if (n <= 0)
            continue;
        // Clients first, from the last, so that a drop keeps the indices.
        for (size_t i = clients.size(); i-- > 0;) {
            const short ev = fds[i + 1].revents;
            if (!ev)
                continue;
            if (!(ev & POLLIN)) {
                drop(i);
                continue;
            }
            modbus_set_socket(ctx, clients[i]);
            const int len = modbus_receive(ctx, query);
            if (len < 0) { // closed, garbage or a frame that stopped half-way
                drop(i);
                continue;
            }
            if (len == 0)
                continue;
            const int fn = query[modbus_get_header_length(ctx)];
            const unsigned code = registerFunction(fn) ? MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS
                                                       : MODBUS_EXCEPTION_ILLEGAL_FUNCTION;
            if (fn >= 0x80 || modbus_reply_exception(ctx, query, code) < 0)
                drop(i);
        }
        if (fds[0].revents & POLLIN) {
            const int s = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (s >= 0) {
                if (int(clients.size()) >= kMaxClients) {
                    ::close(s);
                } else {
                    const timeval tv{0, kSendTimeoutMs * 1000};
                    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
                    const int one = 1;
                    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    clients.push_back(s);
                }
            }
        }
    }
    for (int c : clients)
        ::close(c);
    modbus_set_socket(ctx, -1);
    modbus_free(ctx);
}
