#include <pthread.h>
#include "boardsim.h"

#include <algorithm>
#include <limits>

#include <QDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

BoardSim::BoardSim() = default;

BoardSim::~BoardSim()
{
    stop();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

bool BoardSim::open(std::string* error)
{
    if (m_master >= 0)
        return true;
    char name[256] = {};
    termios tio{};
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (::openpty(&m_master, &m_slave, name, &tio, nullptr) != 0) {
        if (error)
            *error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slaveName = name;
    return true;
}

bool BoardSim::linkAt(const std::string& link, std::string* error)
{
    const size_t slash = link.rfind('/');
    if (slash != std::string::npos && slash > 0 && !QDir().mkpath(QString::fromStdString(link.substr(0, slash)))) {
        if (error)
            *error = "cannot make the folder of " + link;
        return false;
    }
    ::unlink(link.c_str());
    if (::symlink(m_slaveName.c_str(), link.c_str()) != 0) {
        if (error)
            *error = "symlink " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void BoardSim::start()
{
    if (m_running || m_master < 0)
        return;
    if (::pipe(m_wake) != 0)
        return;
    m_running = true;
    m_thread = std::thread([this] {
        // Named, so that a profile tells the simulated board from the station.
        pthread_setname_np(pthread_self(), "boardsim");
        loop();
    });
}

void BoardSim::stop()
{
    if (!m_running)
        return;
    const char c = 'q';
    (void)!::write(m_wake[1], &c, 1);
    m_thread.join();
    m_running = false;
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    m_wake[0] = m_wake[1] = -1;
}

void BoardSim::setInput(int n, bool level)
{
    if (n < 0 || n > 9)
        return;
    std::lock_guard<std::mutex> l(m_mutex);
    if (level)
        m_inputs |= 1u << n;
    else
        m_inputs &= ~(1u << n);
}

void BoardSim::setInputs(uint32_t word)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_inputs = word & 0x3FFu;
}

uint32_t BoardSim::inputs() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_inputs;
}

uint32_t BoardSim::outputs() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_outputs;
}

void BoardSim::setValue(int index, uint32_t value)
{
    if (index < 0 || index > 15)
        return;
    std::lock_guard<std::mutex> l(m_mutex);
    m_values[index] = value;
}

void BoardSim::setEcho(Echo mode, uint32_t stuckWord)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_echo = mode;
    m_stuck = stuckWord & 0x3FFu;
}

void BoardSim::setSilent(bool silent)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_silent = silent;
}

bool BoardSim::silent() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_silent;
}

void BoardSim::setAnswerDelayMs(int ms)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_delayMs = ms < 0 ? 0 : ms;
}

void BoardSim::injectFault(Fault fault, int count)
{
    if (count <= 0)
        return;
    std::lock_guard<std::mutex> l(m_mutex);
    // Typed twice, a huge count must stay huge, not wrap to a negative one.
    int& n = m_faults[int(fault)];
    n = n > std::numeric_limits<int>::max() - count ? std::numeric_limits<int>::max() : n + count;
}

int BoardSim::pendingFaults() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    int64_t n = m_held.empty() ? 0 : 1;
    for (int f : m_faults)
        n += f;
    return int(std::min<int64_t>(n, std::numeric_limits<int>::max()));
}

void BoardSim::flood(int n)
{
    std::vector<unsigned char> junk(size_t(n > 0 ? n : 0));
    {
        std::lock_guard<std::mutex> l(m_mutex);
        for (auto& b : junk)
            b = static_cast<unsigned char>(nextRandom());
    }
    writeAll(junk.data(), int(junk.size()));
}

std::vector<BoardSim::Frame> BoardSim::frames() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_frames;
}

size_t BoardSim::frameCount() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_frames.size();
}

std::vector<BoardSim::OutputChange> BoardSim::outputChanges() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_changes;
}

uint64_t BoardSim::totalFrames() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_totalFrames;
}

void BoardSim::trimLog(size_t keep)
{
    std::lock_guard<std::mutex> l(m_mutex);
    if (m_frames.size() > keep)
        m_frames.erase(m_frames.begin(), m_frames.end() - long(keep));
    if (m_changes.size() > keep)
        m_changes.erase(m_changes.begin(), m_changes.end() - long(keep));
}

uint64_t BoardSim::badFrameCount() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_bad;
}

uint64_t BoardSim::answersSent() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_answers;
}

long BoardSim::waitForFrame(const std::function<bool(const Frame&)>& pred, int timeoutMs, size_t from) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> l(m_mutex);
    size_t i = from;
    for (;;) {
        for (; i < m_frames.size(); ++i)
            if (pred(m_frames[i]))
                return long(i);
        if (m_cond.wait_until(l, deadline) == std::cv_status::timeout) {
            for (; i < m_frames.size(); ++i)
                if (pred(m_frames[i]))
                    return long(i);
            return -1;
        }
    }
}

bool BoardSim::waitForOutputs(uint32_t mask, uint32_t value, int timeoutMs) const
{
    std::unique_lock<std::mutex> l(m_mutex);
    return m_cond.wait_for(l, std::chrono::milliseconds(timeoutMs),
                           [&] { return (m_outputs & mask) == (value & mask); });
}

void BoardSim::setOutputCallback(std::function<void(const OutputChange&)> cb)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_outputCb = std::move(cb);
}

uint32_t BoardSim::nextRandom()
{
    // xorshift: reproducible noise, no shared state with the caller
    m_rand ^= m_rand << 13;
    m_rand ^= m_rand >> 17;
    m_rand ^= m_rand << 5;
    return m_rand;
}

void BoardSim::writeAll(const unsigned char* bytes, int n)
{
    std::lock_guard<std::mutex> l(m_writeMutex);
    int done = 0;
    while (done < n) {
        const ssize_t w = ::write(m_master, bytes + done, size_t(n - done));
        if (w > 0) {
            done += int(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno == EAGAIN) {
            pollfd p{m_master, POLLOUT, 0};
            if (::poll(&p, 1, 50) <= 0)
                return; // nobody reads: the line drops what does not fit
            continue;
        }
        return;
    }
}

void BoardSim::answer(const unsigned char* bytes, int n)
{
    // Decide the fault for this answer under the lock, write outside it.
    enum { None, Split, Merge, Garbage, Drop, Truncate } act = None;
    std::vector<unsigned char> buf;
    int delay = 0;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        delay = m_delayMs;
        if (m_faults[int(Fault::Drop)] > 0) {
            --m_faults[int(Fault::Drop)];
            act = Drop;
        } else if (m_faults[int(Fault::Truncate)] > 0) {
            --m_faults[int(Fault::Truncate)];
            act = Truncate;
        } else if (m_faults[int(Fault::Merge)] > 0 && m_held.empty()) {
            --m_faults[int(Fault::Merge)];
            act = Merge;
        } else if (m_faults[int(Fault::Split)] > 0) {
            --m_faults[int(Fault::Split)];
            act = Split;
        } else if (m_faults[int(Fault::Garbage)] > 0) {
            --m_faults[int(Fault::Garbage)];
            act = Garbage;
        }
        if (act == Drop)
            return;
        if (act == Merge) {
            m_held.assign(bytes, bytes + n);
            return;
        }
        buf.swap(m_held); // a held answer goes out in front of this one
        if (act == Garbage) {
            const int len = 3 + int(nextRandom() % 20);
            for (int i = 0; i < len; ++i)
                buf.push_back(static_cast<unsigned char>(nextRandom()));
        }
        buf.insert(buf.end(), bytes, bytes + n);
        ++m_answers;
    }
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (act == Truncate) {
        writeAll(buf.data(), int(buf.size() / 2));
    } else if (act == Split) {
        const int cut = 1 + int(buf.size() / 2);
        writeAll(buf.data(), cut);
        std::this_thread::sleep_for(std::chrono::milliseconds(7));
        writeAll(buf.data() + cut, int(buf.size()) - cut);
    } else {
        writeAll(buf.data(), int(buf.size()));
    }
}

void BoardSim::handle(const unsigned char* f)
{
    Frame fr;
    fr.t = Clock::now();
    fr.command = f[1];
    fr.data = uint32_t(f[2]) | (uint32_t(f[3]) << 8);
    std::memcpy(fr.bytes, f, sizeof(fr.bytes));

    std::function<void(const OutputChange&)> outputCb;
    OutputChange change;
    bool changed = false;
    std::vector<unsigned char> reply; // one status answer or eight value answers
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_frames.push_back(fr);
        ++m_totalFrames;
        outputCb = m_outputCb;
        if (fr.command == 1) {
            const uint32_t word = fr.data & 0x3FFu;
            if (word != m_outputs) {
                change = {fr.t, m_outputs, word};
                m_changes.push_back(change);
                m_outputs = word;
                changed = true;
            }
        } else if (!m_silent && fr.command == 2) {
            unsigned char a[8];
            uint32_t echo = m_outputs;
            if (m_echo == Echo::Zero)
                echo = 0;
            else if (m_echo == Echo::Stuck)
                echo = m_stuck;
            if (m_faults[int(Fault::StaleEcho)] > 0) {
                --m_faults[int(Fault::StaleEcho)];
                echo = 0;
            }
            if (m_faults[int(Fault::BadCheck)] > 0 || m_faults[int(Fault::BadEnd)] > 0) {
                // A damaged frame that carries a false input word: the station
                // must not take it.
                const bool check = m_faults[int(Fault::BadCheck)] > 0;
                --m_faults[int(check ? Fault::BadCheck : Fault::BadEnd)];
                BoardFrameParser::makeStatus(a, ~m_inputs & 0x3FFu, echo);
                if (check)
                    a[6] = static_cast<unsigned char>(a[6] + 1 + nextRandom() % 255);
                else
                    a[7] = 0xF4;
            } else {
                BoardFrameParser::makeStatus(a, m_inputs, echo);
            }
            reply.assign(a, a + 8);
        } else if (!m_silent && (fr.command == 3 || fr.command == 4)) {
            const int base = fr.command == 3 ? 0 : 8;
            for (int i = 0; i < 8; ++i) {
                unsigned char a[8];
                BoardFrameParser::makeAnswer(a, fr.command, m_values[base + i]);
                reply.insert(reply.end(), a, a + 8);
            }
        }
    }
    m_cond.notify_all();
    if (changed && outputCb)
        outputCb(change);
    if (!reply.empty())
        answer(reply.data(), int(reply.size()));
}

void BoardSim::loop()
{
    unsigned char buf[512];
    for (;;) {
        pollfd p[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int r = ::poll(p, 2, 100);
        if (r < 0 && errno != EINTR)
            break;
        if (p[1].revents & POLLIN)
            break;
        if (!(p[0].revents & POLLIN))
            continue;
        const ssize_t n = ::read(m_master, buf, sizeof(buf));
        if (n <= 0)
            continue;
        int off = 0;
        while (off < n) {
            off += m_parser.append(buf + off, int(n) - off);
            for (;;) {
                const uint64_t skippedBefore = m_parser.skippedBytes();
                const unsigned char* f = m_parser.nextFrame();
                if (m_parser.skippedBytes() != skippedBefore) {
                    std::lock_guard<std::mutex> l(m_mutex);
                    ++m_bad;
                }
                if (!f)
                    break;
                unsigned char copy[BoardFrameParser::kCommandLength];
                std::memcpy(copy, f, sizeof(copy));
                handle(copy);
            }
        }
    }
}
