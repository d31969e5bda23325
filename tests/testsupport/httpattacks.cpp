#include "testsupport/httpattacks.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

namespace httpattack {

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

const std::string kHost = "Host: 127.0.0.1\r\nContent-Type: application/json\r\n";
const std::string kClear = "POST /v18/http/clear_count HTTP/1.1\r\n" + kHost;

Client client(std::string head, std::string fill = {}, size_t times = 0, std::string tail = {}, int gapMs = 0,
              int limitMs = 4000)
{
    return Client{std::move(head), std::move(fill), times, gapMs, std::move(tail), limitMs, {}};
}

// A connected socket, or -1; the connect waits at most 1 s (a full queue of
// waiting connections does not hold the attacker up). Plain calls only: the
// flood's child uses it.
int connectTo(unsigned short port, bool nonBlocking)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval second{1, 0};
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s < 0 || ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second) != 0
        || ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        if (s >= 0)
            ::close(s);
        return -1;
    }
    if (nonBlocking)
        ::fcntl(s, F_SETFL, O_NONBLOCK);
    return s;
}

// True when `got` holds a whole answer (or the connection closed after its
// head); its status and body go to `out`.
bool parseAnswer(const std::string& got, bool closed, Outcome& out)
{
    const size_t end = got.find("\r\n\r\n");
    if (end == std::string::npos)
        return false;
    if (got.compare(0, 5, "HTTP/") == 0 && got.find(' ') < end)
        out.status = std::atoi(got.c_str() + got.find(' ') + 1);
    std::string head = got.substr(0, end);
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const size_t at = head.find("\r\ncontent-length:");
    const size_t length = at == std::string::npos ? got.size() : std::strtoul(head.c_str() + at + 17, nullptr, 10);
    out.body = got.substr(end + 4, std::min<size_t>(length, 64 * 1024));
    return closed || (at != std::string::npos && got.size() >= end + 4 + length);
}

struct Conn
{
    const Client* c = nullptr;
    int fd = -1;
    Clock::time_point start, nextAt;
    size_t piece = 0, off = 0;
    bool sendDone = false, done = false;
    std::string got;
    Outcome out;

    const std::string& text() const { return piece == 0 ? c->head : piece <= c->times ? c->fill : c->tail; }
    // Ends the client: closed by the station, with its whole answer, or
    // given up (the head of an answer that came is still noted).
    void finish(bool closed, bool answered = false)
    {
        if (!answered)
            parseAnswer(got, true, out);
        out.closed = closed;
        out.endMs = closed || answered ? msSince(start) : -1;
        ::close(fd);
        done = true;
    }
    void readSome(std::vector<char>& buf)
    {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n > 0) {
            if (got.size() < (1u << 20))
                got.append(buf.data(), size_t(n));
            if (parseAnswer(got, false, out))
                finish(false, true);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            finish(true);
        }
    }
    void writeSome()
    {
        while (piece < c->times + 2 && text().empty())
            ++piece;
        if ((sendDone = piece == c->times + 2))
            return;
        const ssize_t n = ::send(fd, text().data() + off, text().size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            out.sent += size_t(n);
            if ((off += size_t(n)) == text().size()) {
                off = 0;
                ++piece;
                nextAt = Clock::now() + std::chrono::milliseconds(c->gapMs);
            }
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            sendDone = true; // the station takes no more; its answer or its close is still to come
        }
    }
};

std::string stamp(std::time_t t)
{
    char s[32];
    tm local{};
    localtime_r(&t, &local);
    std::strftime(s, sizeof s, "%Y-%m-%d %H:%M:%S", &local);
    return s;
}

// The process's resident memory and sockets, sampled every 5 ms through
// descriptors opened once: while a flood has used up the others these
// still answer.
class Watch
{
public:
    Watch() : m_status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC)), m_fds(::opendir("/proc/self/fd")) {}
    ~Watch()
    {
        m_run = false;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_status);
        if (m_fds)
            ::closedir(m_fds);
    }
    long rssKb() const
    {
        char buf[4096];
        buf[std::max<ssize_t>(::pread(m_status, buf, sizeof buf - 1, 0), 0)] = 0;
        const char* at = std::strstr(buf, "VmRSS:");
        return at ? std::atol(at + 6) : 0;
    }
    int sockets()
    {
        int n = 0;
        char link[64];
        if (m_fds)
            ::rewinddir(m_fds);
        while (const dirent* e = m_fds ? ::readdir(m_fds) : nullptr)
            n += ::readlinkat(::dirfd(m_fds), e->d_name, link, sizeof link) > 7 && !std::memcmp(link, "socket:", 7);
        return n;
    }
    // Raises `fuse` when the memory passes fuseKb.
    void start(long fuseKb, std::atomic<bool>* fuse)
    {
        m_thread = std::thread([this, fuseKb, fuse] {
            for (int i = 0; m_run; ++i, sleepMs(5)) {
                peakKb = std::max(peakKb.load(), rssKb());
                *fuse = *fuse || peakKb > fuseKb;
                if (i % 4 == 0)
                    peakSockets = std::max(peakSockets.load(), sockets());
            }
        });
    }
    std::atomic<long> peakKb{0};
    std::atomic<int> peakSockets{0};

private:
    int m_status;
    DIR* m_fds;
    std::atomic<bool> m_run{true};
    std::thread m_thread;
};

} // namespace

std::vector<Outcome> run(unsigned short port, const std::vector<Client>& clients, const std::atomic<bool>& stop)
{
    std::vector<Conn> conns(clients.size());
    for (size_t i = 0; i < clients.size(); ++i) {
        Conn& k = conns[i];
        k.c = &clients[i];
        k.start = k.nextAt = Clock::now();
        if ((k.fd = connectTo(port, true)) < 0)
            k.finish(true);
    }
    std::vector<pollfd> fds;
    std::vector<Conn*> who;
    std::vector<char> buf(64 * 1024);
    for (;;) {
        fds.clear();
        who.clear();
        const auto now = Clock::now();
        for (Conn& k : conns) {
            if (!k.done && (stop || msSince(k.start) >= k.c->limitMs))
                k.finish(false);
            if (k.done)
                continue;
            const bool due = !k.sendDone && now >= k.nextAt && (!k.c->startWhen || k.c->startWhen());
            fds.push_back({k.fd, short(POLLIN | (due ? POLLOUT : 0)), 0});
            who.push_back(&k);
        }
        if (fds.empty())
            break;
        ::poll(fds.data(), fds.size(), 10);
        for (size_t j = 0; j < fds.size(); ++j) {
            if (fds[j].revents & (POLLIN | POLLHUP | POLLERR))
                who[j]->readSome(buf);
            if (!who[j]->done && (fds[j].revents & POLLOUT))
                who[j]->writeSome();
        }
    }
    std::vector<Outcome> out;
    for (Conn& k : conns)
        out.push_back(std::move(k.out));
    return out;
}

Outcome runOne(unsigned short port, const Client& c, const std::atomic<bool>& stop)
{
    return run(port, {c}, stop).front();
}

Client wellBehaved()
{
    const std::time_t now = std::time(nullptr);
    const std::string body = "{\"starttime\": \"" + stamp(now - 3600) + "\", \"finishtime\": \"" + stamp(now) + "\"}";
    return client("POST /v18/http/get_production_count_bytime HTTP/1.1\r\n" + kHost + "Connection: close\r\n"
                      + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                  {}, 0, {}, 0, 3000);
}

Client headLines(size_t bytes)
{
    std::string lines;
    while (lines.size() < 64 * 1024)
        lines += "X-Pad: 0123456789\r\n";
    return client("GET /v18/http/x HTTP/1.1\r\n", lines, bytes / lines.size(), "\r\n");
}

Client longRequestLine(size_t bytes)
{
    return client("GET /v18/http/", std::string(64 * 1024, 'a'), bytes / (64 * 1024));
}

Client manyHeaderLines(int lines)
{
    std::string head = kClear;
    for (int i = 0; i < lines; ++i)
        head += "X-a: 1\r\n";
    return client(head + "Content-Length: 2\r\n\r\n{}");
}

Client chunkedBlanks(const char* path, size_t bytes)
{
    return client(std::string("POST ") + path + " HTTP/1.1\r\n" + kHost + "Transfer-Encoding: chunked\r\n\r\n",
                  "10000\r\n" + std::string(0x10000, ' ') + "\r\n", bytes / 0x10000, "2\r\n{}\r\n0\r\n\r\n");
}

Client trickledLength()
{
    return client(kClear + "Content-Length: 100000000\r\n\r\n{", " ", 40, {}, 100, 5000);
}

Client conflictingLength()
{
    return client(kClear + "Content-Length: 2\r\nContent-Length: 40\r\n\r\n{}", {}, 0, {}, 0, 3000);
}

Client slowHead(int gapMs, int lines)
{
    const std::string whole = wellBehaved().head;
    const size_t split = whole.find("\r\n") + 2;
    return client(whole.substr(0, split), "X-Slow: 1\r\n", size_t(lines), whole.substr(split), gapMs,
                  gapMs * (lines + 1) + 2000);
}

Client idle(int holdMs)
{
    return client({}, {}, 0, {}, 0, holdMs);
}

Flood::Flood(unsigned short port, int connections, int holdMs)
{
    int up[2], down[2];
    if (::pipe2(up, O_CLOEXEC) != 0)
        return;
    if (::pipe2(down, O_CLOEXEC) != 0) {
        ::close(up[0]);
        ::close(up[1]);
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        // Plain calls only from here: the parent's other threads are not in
        // this process. Of the parent's descriptors only the pipes stay.
        const int lo = std::min(up[1], down[0]), hi = std::max(up[1], down[0]);
        ::close_range(3, unsigned(lo - 1), 0);
        ::close_range(unsigned(lo + 1), unsigned(hi - 1), 0);
        ::close_range(unsigned(hi + 1), ~0u, 0);
        rlimit lim{};
        ::getrlimit(RLIMIT_NOFILE, &lim);
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
        static int held[8192];
        int n = 0;
        for (int i = 0; i < connections && n < 8192; ++i)
            n += (held[n] = connectTo(port, false)) >= 0;
        (void)!::write(up[1], &n, sizeof n);
        pollfd until{down[0], POLLIN, 0};
        ::poll(&until, 1, holdMs);
        for (int i = 0; i < n; ++i)
            ::close(held[i]);
        ::_exit(0);
    }
    ::close(up[1]);
    ::close(down[0]);
    m_up = up[0];
    m_down = down[1];
}

Flood::~Flood()
{
    stop();
}

int Flood::opened(int timeoutMs)
{
    pollfd p{m_up, POLLIN, 0};
    if (m_opened < 0 && m_up >= 0 && ::poll(&p, 1, timeoutMs) == 1 && ::read(m_up, &m_opened, sizeof m_opened) != 4)
        m_opened = -1;
    return m_opened;
}

void Flood::stop()
{
    ::close(m_down);
    m_down = -1;
    bool reaped = m_pid <= 0;
    for (int i = 0; !reaped && i < 300; ++i) {
        reaped = ::waitpid(m_pid, nullptr, WNOHANG) == m_pid;
        if (!reaped)
            sleepMs(10);
    }
    if (!reaped) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
    ::close(m_up);
    m_up = -1;
}

void everyAttack(unsigned short port, const std::atomic<bool>& stop)
{
    while (!stop) {
        for (const Client& c : {headLines(32u << 20), longRequestLine(32u << 20), manyHeaderLines(5000),
                                chunkedBlanks("/v18/http/clear_count", 16u << 20),
                                chunkedBlanks("/v18/http/no_such_route", 16u << 20), trickledLength(),
                                conflictingLength()})
            runOne(port, c, stop);
        {
            Flood flood(port, 1500, 2000);
            flood.opened(3000);
            for (int i = 0; i < 100 && !stop; ++i)
                sleepMs(20);
        }
        run(port, std::vector<Client>(32, slowHead(300, 15)), stop);
        for (int wave = 0; wave < 5 && !stop; ++wave)
            run(port, std::vector<Client>(100, idle(400)), stop);
    }
}

Effect measure(unsigned short port, const std::function<void(const std::atomic<bool>&)>& attack,
               const std::function<void()>& pump, long backKb, int settleMs, long fuseKb)
{
    Watch watch;
    const long before = watch.rssKb();
    const int sockets = watch.sockets();
    std::atomic<bool> stop{false}, done{false};
    watch.peakKb = before;
    watch.start(before + fuseKb, &stop);
    Effect e;
    std::mutex m;
    std::thread probe([&] {
        const std::atomic<bool> never{false};
        do {
            const auto t0 = Clock::now();
            const Outcome o = runOne(port, wellBehaved(), never);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            {
                std::lock_guard<std::mutex> lock(m);
                if (o.status == 200)
                    e.probeMs.push_back(ms);
                else
                    ++e.unanswered;
            }
            while (!done && msSince(t0) < 100)
                sleepMs(5);
        } while (!done);
    });
    std::thread worker([&] {
        attack(stop);
        done = true;
    });
    while (!done)
        pump();
    worker.join();
    probe.join();
    e.riseKb = watch.peakKb - before;
    e.sockets = watch.peakSockets - sockets;
    for (double ms : e.probeMs)
        e.worstMs = std::max(e.worstMs, ms);
    const auto t0 = Clock::now();
    while ((e.leftKb = watch.rssKb() - before) > backKb && msSince(t0) < settleMs)
        pump();
    return e;
}

} // namespace httpattack
