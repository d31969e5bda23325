#pragma once
// Malformed Modbus TCP traffic from several clients at once: random bytes,
// headers with wrong protocol ids and lengths, unknown and exception function
// codes, frames cut short, frames longer than any ADU. Each client
// reconnects when the slave drops it and reads whatever comes back. Beside
// it, a crowd of busy well-formed masters from other loopback addresses.
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

class ModbusFuzz
{
public:
    // Starts `clients` threads that send `frames` frames between them.
    ModbusFuzz(uint16_t port, int clients, long frames)
    {
        for (int c = 0; c < clients; ++c)
            m_threads.emplace_back([this, port, c, share = frames / clients] { run(port, unsigned(c), share); });
    }
    ~ModbusFuzz()
    {
        m_stop = true;
        wait();
    }
    void wait()
    {
        for (auto& t : m_threads)
            if (t.joinable())
                t.join();
    }
    // A plain TCP connection to the slave on the loopback address, or -1;
    // from another loopback address (127.0.0.2 and on) when `from` names one.
    static int dial(uint16_t port, uint32_t from = INADDR_LOOPBACK)
    {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(from);
        if (from != INADDR_LOOPBACK && s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(s);
            return -1;
        }
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            return s;
        if (s >= 0)
            ::close(s);
        return -1;
    }
    long sent() const { return m_sent; }
    long reconnects() const { return m_reconnects; }
    void stop() { m_stop = true; }

private:
    static std::vector<uint8_t> frame(std::mt19937& rng)
    {
        std::vector<uint8_t> f;
        auto byte = [&] { return uint8_t(rng()); };
        switch (rng() % 6) {
        case 0: // noise
            for (unsigned i = 0, n = 1 + rng() % 40; i < n; ++i)
                f.push_back(byte());
            break;
        case 1: // a read with a wrong protocol id and length
            f = {byte(), byte(), byte(), byte(), byte(), byte(), 1, 3, 0, 0, 0, 1};
            break;
        case 2: // an unknown or exception function code
            f = {byte(), byte(), 0, 0, 0, 2, 1, uint8_t(0x41 + rng() % 0xBF)};
            break;
        case 3: // a write of multiple registers cut short
            f = {byte(), byte(), 0, 0, 0, 11, 1, 0x10, 0, 0, 0, 2};
            break;
        case 4: // a byte count far beyond any ADU
            f = {byte(), byte(), 0, 0, 0, 255, 1, 0x0F, 0, 0, 0xFF, 0xFF, 0xFF};
            for (int i = 0; i < 250; ++i)
                f.push_back(byte());
            break;
        default: // a read of an address that does not exist
            f = {byte(), byte(), 0, 0, 0, 6, byte(), uint8_t(1 + rng() % 4), byte(), byte(), 0, byte()};
            break;
        }
        return f;
    }
    void run(uint16_t port, unsigned seed, long frames)
    {
        std::mt19937 rng(seed + 1);
        int s = -1;
        uint8_t sink[4096];
        for (long done = 0; done < frames && !m_stop;) {
            if (s < 0) {
                s = dial(port);
                if (s < 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                ++m_reconnects;
            }
            const auto f = frame(rng);
            if (::send(s, f.data(), f.size(), MSG_NOSIGNAL) < 0) {
                ::close(s);
                s = -1;
                continue;
            }
            ++m_sent;
            ++done;
            // Read what came back; a closed connection is dialled again.
            pollfd p{s, POLLIN, 0};
            while (::poll(&p, 1, 0) > 0) {
                if (::recv(s, sink, sizeof sink, MSG_DONTWAIT) <= 0) {
                    ::close(s);
                    s = -1;
                    break;
                }
            }
        }
        if (s >= 0)
            ::close(s);
    }

    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_sent{0};
    std::atomic<long> m_reconnects{0};
};

// Well-formed, busy masters: `clients` connections from the loopback
// address `from` (bound before connecting), each polling a register every
// periodMs and hanging up to dial again every few polls, until destroyed.
class ModbusCrowd
{
public:
    ModbusCrowd(uint16_t port, int clients, uint32_t from, int periodMs)
        : m_thread([=] { run(port, clients, from, periodMs); })
    {
    }
    ~ModbusCrowd()
    {
        m_stop = true;
        m_thread.join();
    }
    long answered() const { return m_answered; }
    long connections() const { return m_connections; }

private:
    static constexpr int kPollsPerConnection = 5;
    void run(uint16_t port, int clients, uint32_t from, int periodMs)
    {
        std::vector<std::pair<int, int>> conns(static_cast<size_t>(clients), {-1, 0}); // socket, polls on it
        const uint8_t read[] = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
        while (!m_stop) {
            const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs);
            for (auto& [s, polls] : conns) {
                uint8_t in[512];
                ssize_t n = 0;
                while (s >= 0 && (n = ::recv(s, in, sizeof in, MSG_DONTWAIT)) > 0)
                    m_answered += n / 9; // exceptions, 9 bytes each
                if (s >= 0 && (n == 0 || (n < 0 && errno != EAGAIN) || polls >= kPollsPerConnection)) {
                    ::close(s);
                    s = -1;
                }
                if (s < 0) {
                    s = ModbusFuzz::dial(port, from);
                    polls = 0;
                    ++m_connections;
                }
                polls += s >= 0 && ::send(s, read, sizeof read, MSG_NOSIGNAL) == ssize_t(sizeof read);
            }
            std::this_thread::sleep_until(next);
        }
        for (const auto& c : conns)
            if (c.first >= 0)
                ::close(c.first);
    }

    std::atomic<bool> m_stop{false};
    std::atomic<long> m_answered{0}, m_connections{0};
    std::thread m_thread;
};
