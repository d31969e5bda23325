#include "netservices/httpshares.h"

#include <algorithm>
#include <malloc.h>
#include <iterator>

PeerPool::PeerPool(const Limits& limits)
    : m_limits(limits)
{
}

PeerPool::~PeerPool()
{
    stop();
}

void PeerPool::start()
{
    for (int i = 0; i < m_limits.threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

bool PeerPool::submit(const std::string& peer, Job job)
{
    Job pushed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_quit)
            return false;
        Peer& p = m_peers[peer];
        if (int(p.requests.size()) >= m_limits.peerWaiting) {
            if (p.requests.empty() && p.pieces.empty() && p.running == 0 && p.held == 0)
                m_peers.erase(peer);
            return false;
        }
        if (m_waiting >= m_limits.waiting) {
            // Every place is taken: the peer holding the most gives up its
            // newest, unless that is this peer already.
            auto most = m_peers.end();
            for (auto it = m_peers.begin(); it != m_peers.end(); ++it)
                if (most == m_peers.end() || it->second.requests.size() > most->second.requests.size())
                    most = it;
            if (most == m_peers.end() || most->first == peer
                || most->second.requests.size() <= p.requests.size() + 1) {
                if (p.requests.empty() && p.pieces.empty() && p.running == 0 && p.held == 0)
                    m_peers.erase(peer);
                return false;
            }
            pushed = std::move(most->second.requests.back());
            most->second.requests.pop_back();
            --m_waiting;
        }
        p.requests.push_back(std::move(job));
        ++m_waiting;
    }
    m_ready.notify_one();
    if (pushed.refuse)
        pushed.refuse();
    return true;
}

void PeerPool::follow(const std::string& peer, Job job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Stopping: an answer still being made is cut, not run to its end.
        if (m_quit)
            return;
        m_peers[peer].pieces.push_back(std::move(job));
    }
    m_ready.notify_one();
}

void PeerPool::hold(const std::string& peer, size_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_peers[peer].held += bytes;
    m_held += bytes;
}

void PeerPool::release(const std::string& peer, size_t bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_peers.find(peer);
        if (it == m_peers.end())
            return;
        const size_t n = std::min(bytes, it->second.held);
        it->second.held -= n;
        m_held -= n;
        forget(it);
    }
    m_ready.notify_all();
}

void PeerPool::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_ready.notify_all();
    for (std::thread& t : m_threads)
        if (t.joinable())
            t.join();
    m_threads.clear();
}

bool PeerPool::runnable(const Peer& p) const
{
    if (p.requests.empty() && p.pieces.empty())
        return false;
    if (m_quit)
        return true;
    if (p.running >= m_limits.peerThreads || p.held >= m_limits.peerMemory)
        return false;
    // All peers together over their bytes: only a peer that holds none may
    // still start, up to twice the bound, so a quiet peer is not stopped by
    // the slow readers of another.
    return m_held < m_limits.memory || (p.held == 0 && m_held < 2 * m_limits.memory);
}

void PeerPool::forget(std::map<std::string, Peer>::iterator it)
{
    const Peer& p = it->second;
    if (p.requests.empty() && p.pieces.empty() && p.running == 0 && p.held == 0)
        m_peers.erase(it);
}

void PeerPool::work()
{
    for (;;) {
        Job job;
        std::string peer;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            auto next = m_peers.end();
            m_ready.wait(lock, [&] {
                // The turn goes on after the peer served last.
                next = m_peers.end();
                auto from = m_peers.upper_bound(m_last);
                for (auto it = from; it != m_peers.end() && next == m_peers.end(); ++it)
                    if (runnable(it->second))
                        next = it;
                for (auto it = m_peers.begin(); it != from && next == m_peers.end(); ++it)
                    if (runnable(it->second))
                        next = it;
                if (next != m_peers.end())
                    return true;
                // Stopping ends a thread once nothing it could run is left.
                return m_quit;
            });
            if (next == m_peers.end())
                return; // stopping, and what was taken is done
            Peer& p = next->second;
            // A piece of an answer being sent goes before a new request.
            if (!p.pieces.empty()) {
                job = std::move(p.pieces.front());
                p.pieces.pop_front();
            } else {
                job = std::move(p.requests.front());
                p.requests.pop_front();
                --m_waiting;
            }
            ++p.running;
            ++m_running;
            peer = next->first;
            m_last = peer;
        }
        if (!(job.abandoned && job.abandoned()) && job.run)
            job.run();
        bool idle = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto it = m_peers.find(peer);
            if (it != m_peers.end()) {
                --it->second.running;
                forget(it);
            }
            idle = --m_running == 0 && m_waiting == 0;
        }
        m_ready.notify_all();
        // What a burst of large answers took from the allocator stays with
        // these threads' arenas unless handed back: once nothing is left to
        // do, it is.
        if (idle)
            ::malloc_trim(0);
    }
}

WriteRate::WriteRate(double peerPerSecond, int peerBurst, double perSecond, int burst)
    : m_peerRate(peerPerSecond)
    , m_rate(perSecond)
    , m_peerBurst(peerBurst)
    , m_burst(burst)
    , m_all{double(burst), Clock::now()}
{
}

double WriteRate::fill(Bucket& b, double rate, int burst, Clock::time_point now)
{
    const double seconds = std::chrono::duration<double>(now - b.at).count();
    if (seconds > 0) {
        b.tokens = std::min(double(burst), b.tokens + seconds * rate);
        b.at = now;
    }
    return b.tokens;
}

bool WriteRate::take(const std::string& peer, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_peers.find(peer);
    if (it == m_peers.end()) {
        if (m_peers.size() >= kPeersKept) {
            for (auto p = m_peers.begin(); p != m_peers.end();)
                p = fill(p->second, m_peerRate, m_peerBurst, now) >= m_peerBurst ? m_peers.erase(p) : std::next(p);
            if (m_peers.size() >= kPeersKept)
                return false;
        }
        it = m_peers.emplace(peer, Bucket{double(m_peerBurst), now}).first;
    }
    if (fill(it->second, m_peerRate, m_peerBurst, now) < 1.0 || fill(m_all, m_rate, m_burst, now) < 1.0)
        return false;
    it->second.tokens -= 1.0;
    m_all.tokens -= 1.0;
    return true;
}
