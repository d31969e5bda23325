#include "testsupport/httpattacks.h"

#include "controller/operationrecords.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QVariant>

#include <malloc.h>
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
#include <cstdio>
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
const char* const kCount = "/v18/http/get_production_count_bytime";
const std::string kJson = "Content-Type: application/json\r\n";

Client client(std::string head, std::string fill = {}, size_t times = 0, std::string tail = {}, int gapMs = 0,
              int limitMs = 4000)
{
    return Client{std::move(head), std::move(fill), times, gapMs, std::move(tail), limitMs, {}};
}

// A connected socket from 127.0.0.<peer>, or -1; the connect waits at most
// 1 s (a full queue of waiting connections does not hold the attacker up).
// The source port is left to the connect: one peer opens thousands. Plain
// calls only: the flood's child uses it.
int connectTo(unsigned short port, bool nonBlocking, int peer = 1, bool smallReceive = false)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval second{1, 0};
    // Small, so that what a slow reader acknowledges stays close to what it reads.
    const int one = 1, small = 4 * 1024;
    sockaddr_in from{}, a{};
    from.sin_family = a.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7f000000u | uint32_t(std::clamp(peer, 1, 254)));
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s < 0 || ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second) != 0
        || (peer != 1
            && (::setsockopt(s, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one) != 0
                || ::bind(s, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0))
        || (smallReceive && ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &small, sizeof small) != 0)
        || ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        if (s >= 0)
            ::close(s);
        return -1;
    }
    if (nonBlocking)
        ::fcntl(s, F_SETFL, O_NONBLOCK);
    return s;
}

struct Conn
{
    const Client* c = nullptr;
    int fd = -1;
    Clock::time_point start, nextAt;
    size_t piece = 0, off = 0, taken = 0;
    bool sendDone = false, done = false;
    // The answer being read: its head, then the first bytes of its body
    // (the rest is counted, not kept: a slow reader of a large answer holds
    // little of it in the attacker's memory).
    std::string got;
    size_t headEnd = 0, bodyLeft = 0; // bodyLeft: SIZE_MAX up to the close
    // A chunked body: where its reading stands, and the line read so far.
    enum { NotChunked, SizeLine, Data, DataEnd, Trailer } chunk = NotChunked;
    std::string line;
    int status = -1;
    Outcome out;

    void open(unsigned short port, const Client* client)
    {
        *this = Conn();
        c = client;
        start = nextAt = Clock::now();
        if ((fd = connectTo(port, true, c->peer, c->readRate != 0 || c->hold)) < 0)
            finish(true);
    }
    const std::string& text() const { return piece == 0 ? c->head : piece <= c->times ? c->fill : c->tail; }
    // The answer bytes it takes now.
    size_t allowance() const
    {
        if (c->hold && *c->hold)
            return 0;
        if (c->readRate > 0 && c->rateForMs > 0 && msSince(start) >= c->rateForMs)
            return SIZE_MAX;
        if (c->readRate <= 0)
            return c->readRate == 0 ? SIZE_MAX : 0;
        return size_t(std::max(0LL, msSince(start) * c->readRate / 1000 - (long long)taken));
    }
    // Notes the answer read so far (its status, and its head and body for
    // the first one) and starts the next.
    void noteAnswer()
    {
        if (out.statuses.empty()) {
            out.status = status;
            out.head = got.substr(0, headEnd);
            out.body = got.substr(headEnd + 4);
        }
        out.statuses.push_back(status);
        std::string head = got.substr(0, headEnd);
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
        const size_t retry = head.find("\r\nretry-after:");
        out.retryAfter.push_back(retry == std::string::npos ? -1 : std::atoi(head.c_str() + retry + 14));
        got.clear();
        headEnd = 0;
        chunk = NotChunked;
    }
    // Ends the client: closed by the station, with its whole answer, or
    // given up (the head of an answer that came is still noted; what it
    // leaves unsent or unread is reset, not left to linger).
    void finish(bool closed, bool answered = false)
    {
        if (!answered && headEnd > 0) {
            out.cut = chunk != NotChunked || bodyLeft != SIZE_MAX;
            noteAnswer();
        }
        out.closed = closed;
        out.received = taken;
        out.endMs = closed || answered ? msSince(start) : -1;
        const linger reset{1, 0};
        if (!closed && !answered)
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(fd);
        done = true;
    }
    // Takes answer bytes: heads are read whole, bodies by their length or
    // chunks (an interim 1xx answer has none, one with neither lasts to the close).
    void take(const char* p, size_t n)
    {
        while (n > 0 && !done) {
            if (headEnd == 0) {
                const size_t had = got.size();
                got.append(p, std::min<size_t>(n, 16 * 1024));
                const size_t end = got.find("\r\n\r\n", had < 3 ? 0 : had - 3);
                if (end == std::string::npos) {
                    n -= got.size() - had;
                    p += got.size() - had;
                    if (got.size() > 64 * 1024)
                        finish(true); // no HTTP answer
                    continue;
                }
                p += end + 4 - had;
                n -= end + 4 - had;
                got.resize(end + 4);
                headEnd = end;
                std::string head = got.substr(0, end);
                std::transform(head.begin(), head.end(), head.begin(),
                               [](unsigned char ch) { return char(std::tolower(ch)); });
                status = head.compare(0, 5, "http/") == 0 && head.find(' ') < end
                             ? std::atoi(head.c_str() + head.find(' ') + 1) : -1;
                const size_t at = head.find("\r\ncontent-length:");
                bodyLeft = status / 100 == 1 ? 0
                           : at == std::string::npos ? SIZE_MAX
                                                     : std::strtoul(head.c_str() + at + 17, nullptr, 10);
                if (status / 100 != 1 && head.find("\r\ntransfer-encoding: chunked") != std::string::npos)
                    chunk = SizeLine;
            }
            if (chunk == SizeLine || chunk == DataEnd || chunk == Trailer) {
                // A line: a chunk's size, the end of its data, a trailer line.
                const char* eol = std::find(p, p + n, '\n');
                const size_t k = size_t(eol - p) + (eol < p + n);
                line.append(p, k);
                p += k;
                n -= k;
                if (line.back() != '\n')
                    continue;
                if (chunk == SizeLine)
                    chunk = (bodyLeft = std::strtoul(line.c_str(), nullptr, 16)) > 0 ? Data : Trailer;
                else if (chunk == DataEnd)
                    chunk = SizeLine;
                else if (line == "\r\n")
                    answeredOne();
                line.clear();
                continue;
            }
            const size_t k = std::min(n, bodyLeft);
            got.append(p, std::min(k, headEnd + 4 + c->keep - std::min(got.size(), headEnd + 4 + c->keep)));
            p += k;
            n -= k;
            if (bodyLeft != SIZE_MAX && (bodyLeft -= k) == 0) {
                if (chunk == Data)
                    chunk = DataEnd;
                else
                    answeredOne();
            }
        }
    }
    void answeredOne()
    {
        noteAnswer();
        if (out.statuses.size() >= size_t(c->answers))
            finish(false, true);
    }
    void readSome(std::vector<char>& buf)
    {
        const ssize_t n = ::recv(fd, buf.data(), std::min(buf.size(), allowance()), MSG_DONTWAIT);
        if (n > 0) {
            taken += size_t(n);
            take(buf.data(), size_t(n));
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

std::vector<Outcome> run(unsigned short port, const std::vector<Client>& clients, const std::atomic<bool>& stop,
                         int renewMs)
{
    const auto t0 = Clock::now();
    std::vector<Conn> conns(clients.size());
    for (size_t i = 0; i < clients.size(); ++i)
        conns[i].open(port, &clients[i]);
    std::vector<pollfd> fds;
    std::vector<Conn*> who;
    std::vector<char> buf(64 * 1024);
    for (;;) {
        fds.clear();
        who.clear();
        const bool renew = !stop && msSince(t0) < renewMs;
        for (Conn& k : conns) {
            if (!k.done && (stop || msSince(k.start) >= k.c->limitMs))
                k.finish(false);
            if (k.done && renew && msSince(k.start) >= k.c->renewGapMs)
                k.open(port, k.c);
            if (k.done && renew) {
                fds.push_back({-1, 0, 0}); // waits its gap
                who.push_back(&k);
                continue;
            }
            if (k.done)
                continue;
            const bool due = !k.sendDone && Clock::now() >= k.nextAt && (!k.c->startWhen || k.c->startWhen());
            fds.push_back({k.fd, short((k.allowance() > 0 ? POLLIN : POLLRDHUP) | (due ? POLLOUT : 0)), 0});
            who.push_back(&k);
        }
        if (fds.empty())
            break;
        ::poll(fds.data(), fds.size(), 10);
        for (size_t j = 0; j < fds.size(); ++j) {
            // A reader that takes nothing now learns only of a hang-up (the
            // station's end of the connection closed) or a reset.
            if (fds[j].revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR))
                who[j]->allowance() > 0 ? who[j]->readSome(buf) : who[j]->finish(true);
            if (!who[j]->done && (fds[j].revents & POLLOUT))
                who[j]->writeSome();
        }
    }
    std::vector<Outcome> out;
    for (Conn& k : conns)
        out.push_back(std::move(k.out));
    return out;
}

std::string said(const Outcome& o)
{
    return (o.status < 0 ? "no answer" : "status " + std::to_string(o.status))
           + (o.endMs < 0 ? ", given up by the client" : " after " + std::to_string(o.endMs) + " ms")
           + (o.closed ? ", closed" : "") + (o.cut ? ", its body cut" : "")
           + (o.status >= 400 ? " (" + o.body.substr(0, 100) + ")" : "");
}

Outcome runOne(unsigned short port, const Client& c, const std::atomic<bool>& stop)
{
    return run(port, {c}, stop).front();
}

std::string request(const std::string& method, const std::string& path, const std::string& body,
                    const std::string& headers)
{
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers
           + (method == "POST" ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : std::string()) + "\r\n"
           + body;
}

std::string countBody(int hours)
{
    const std::time_t now = std::time(nullptr);
    return "{\"starttime\": \"" + stamp(now - std::time_t(hours) * 3600) + "\", \"finishtime\": \"" + stamp(now)
           + "\"}";
}

Client sending(std::string bytes, int limitMs, int answers)
{
    Client c = client(std::move(bytes), {}, 0, {}, 0, limitMs);
    c.answers = answers;
    return c;
}

Client wellBehaved()
{
    return sending(request("POST", kCount, countBody(1), kJson + "Connection: close\r\n"));
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

Client pipelinedCounts(int peer)
{
    std::string counts;
    for (int i = 0; i < 20; ++i)
        counts += request("POST", kCount, countBody(400 * 24), kJson);
    Client c = sending(counts, 3000, 20);
    c.peer = peer;
    return c;
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
            n += (held[n] = connectTo(port, false, 2)) >= 0;
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

Largest largestAnswers(size_t imageBytes, int rows)
{
    const QString folder = QStringLiteral("alarmimage/camera1/detect1/OK");
    QFile image(folder + "/largest.jpg");
    if (QDir().mkpath(folder) && image.open(QIODevice::WriteOnly))
        image.resize(qint64(imageBytes));
    QSqlDatabase db = OperationRecords::instance()->database();
    QSqlQuery q(db);
    db.transaction();
    q.prepare("INSERT INTO RECORD (recordtime, recordpassword, remarks, recordtype) VALUES (?, ?, ?, ?)");
    const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    for (int i = 0; i < rows; ++i) {
        q.addBindValue(now);
        q.addBindValue(QStringLiteral("operator"));
        q.addBindValue(QStringLiteral("an entry of a long day, number %1").arg(i));
        q.addBindValue(QStringLiteral("operate"));
        q.exec();
    }
    db.commit();
    const std::string day = OperationRecords::instance()->storedDay().toStdString();
    return {request("GET", "/v18/http/get_result_image/camera1/detect1/OK/largest.jpg"),
            request("POST", "/v18/http/get_operation_record", "{\"date\": \"" + day + "\"}", kJson)};
}

std::vector<PeerAttack> peerAttacks(const Largest& largest, int peer)
{
    const auto from = [peer](Client c, int readRate) {
        c.peer = peer;
        c.readRate = readRate;
        return c;
    };
    // Slow readers take 64 KiB/s: slow, but faster than an answer must move.
    // A refused request's client reads nothing and keeps its connection
    // open: the station drains it.
    return {{"GET /nope, each left to drain", from(sending(request("GET", "/nope"), 600), -1), 200},
            {"slow readers of the largest image", from(sending(largest.image, 2500), 64 * 1024), 160},
            {"slow readers of a day's journal", from(sending(largest.journal, 2500), 64 * 1024), 64},
            {"trickling heads", from(slowHead(300, 15), 0), 160},
            {"idle connections", from(idle(1500), 0), 160},
            {"pipelined 400-day counts", pipelinedCounts(peer), 48}};
}

Client writeFlood(int peer, int each)
{
    std::string writes;
    for (int i = 0; i < each; ++i)
        writes += request("POST", "/v18/http/clear_count", "{}", kJson)
                  + request("POST", "/v18/http/set_system_time", "{\"time\": \"2030-01-01 08:00:00\"}", kJson);
    Client c = sending(writes, 4000, 2 * each);
    c.peer = peer;
    return c;
}

void everyPeerAttack(unsigned short port, const Largest& largest, const std::atomic<bool>& stop)
{
    while (!stop) {
        for (const PeerAttack& a : peerAttacks(largest, 2))
            run(port, std::vector<Client>(size_t(a.connections), a.client), stop, 3000);
        run(port, {writeFlood(3, 6), writeFlood(4, 6), writeFlood(5, 6), writeFlood(6, 6)}, stop);
        Client stalled = sending(largest.image, 6000);
        stalled.peer = 2;
        stalled.readRate = -1;
        run(port, std::vector<Client>(40, stalled), stop);
    }
}

long queuedBytes(unsigned short port)
{
    FILE* f = std::fopen("/proc/net/tcp", "re");
    long sum = 0;
    char line[512];
    while (f && std::fgets(line, sizeof line, f)) {
        unsigned local = 0, state = 0;
        unsigned long tx = 0, rx = 0;
        // A listening socket's queue counts connections, not bytes.
        if (std::sscanf(line, " %*u: %*x:%x %*x:%*x %x %lx:%lx", &local, &state, &tx, &rx) == 4 && local == port
            && state != 0x0A)
            sum += long(tx + rx);
    }
    if (f)
        std::fclose(f);
    return sum;
}

Effect measure(unsigned short port, const std::function<void(const std::atomic<bool>&)>& attack,
               const std::function<void()>& pump, long backKb, int settleMs, long fuseKb)
{
    Watch watch;
    ::malloc_trim(0);
    const long before = watch.rssKb();
    const int sockets = watch.sockets();
    std::atomic<bool> stop{false}, done{false};
    watch.peakKb = before;
    watch.start(before + fuseKb, &stop);
    Effect e;
    std::mutex m;
    std::thread probe([&] {
        const std::atomic<bool> never{false};
        // Given up only when never answered: how soon is judged by the caller.
        Client polite = wellBehaved();
        polite.limitMs = 10000;
        do {
            const auto t0 = Clock::now();
            const Outcome o = runOne(port, polite, never);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            {
                std::lock_guard<std::mutex> lock(m);
                if (o.status == 200) {
                    e.probeMs.push_back(ms);
                } else if (++e.unanswered <= 3) {
                    e.missed.push_back(o);
                }
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
    // What the allocator keeps of freed memory in its threads' arenas is not
    // the station's: given back first, what is left is what it still holds.
    const auto t0 = Clock::now();
    while ((e.leftKb = (::malloc_trim(0), watch.rssKb()) - before) > backKb && msSince(t0) < settleMs)
        pump();
    return e;
}

} // namespace httpattack
