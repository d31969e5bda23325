#include "netservices/httpshares.h"

#include <algorithm>
#include <cmath>
#include <malloc.h>
#include <iterator>
#include <vector>

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
        const Clock::time_point now = Clock::now();
        const auto it = m_peers.try_emplace(peer).first;
        Peer& p = it->second;
        const auto refused = [&] {
            used(peer, 0, now);
            forget(it);
            return false;
        };
        if (int(p.requests.size()) >= m_limits.peerWaiting)
            return refused();
        if (m_waiting >= m_limits.waiting) {
            // Every place is taken: who gives one up is chosen by what it
            // holds and what it has used, never by its name.
            std::map<std::string, double> use;
            for (const auto& q : m_peers)
                if (!q.second.requests.empty())
                    use[q.first] = useOf(q.first, now);
            const auto before = [&](std::map<std::string, Peer>::const_iterator a,
                                    std::map<std::string, Peer>::const_iterator b) {
                const size_t na = a->second.requests.size(), nb = b->second.requests.size();
                if (na != nb)
                    return na > nb;
                if (use[a->first] != use[b->first])
                    return use[a->first] > use[b->first];
                return a->second.requests.back().arrived > b->second.requests.back().arrived;
            };
            auto most = m_peers.end();
            for (auto q = m_peers.begin(); q != m_peers.end(); ++q)
                if (q != it && !q->second.requests.empty() && (most == m_peers.end() || before(q, most)))
                    most = q;
            const size_t mine = p.requests.size();
            if (most == m_peers.end() || most->second.requests.size() <= mine
                || (most->second.requests.size() == mine + 1 && use[most->first] <= useOf(peer, now)))
                return refused();
            pushed = std::move(most->second.requests.back().job);
            most->second.requests.pop_back();
            --m_waiting;
            used(most->first, 0, now);
        }
        p.requests.push_back(Waiting{std::move(job), ++m_arrived});
        ++m_waiting;
    }
    m_ready.notify_one();
    if (pushed.refuse)
        pushed.refuse();
    return true;
}

double PeerPool::useOf(const std::string& peer, Clock::time_point now) const
{
    const auto it = m_use.find(peer);
    if (it == m_use.end())
        return 0;
    const double ms = std::chrono::duration<double, std::milli>(now - it->second.at).count();
    return it->second.ms * std::exp2(-std::max(0.0, ms) / kUseHalfLifeMs);
}

void PeerPool::used(const std::string& peer, double ms, Clock::time_point now)
{
    m_use[peer] = Use{useOf(peer, now) + ms + kTurnMs, now};
    if (m_use.size() <= kUseKept)
        return;
    // The half that used least goes: a peer forgotten counts as having used
    // nothing, which only gives it the benefit of the doubt.
    std::vector<double> all;
    all.reserve(m_use.size());
    for (const auto& u : m_use)
        all.push_back(useOf(u.first, now));
    auto middle = all.begin() + std::ptrdiff_t(all.size() / 2);
    std::nth_element(all.begin(), middle, all.end());
    const double cut = *middle;
    for (auto u = m_use.begin(); u != m_use.end();)
        u = useOf(u->first, now) < cut ? m_use.erase(u) : std::next(u);
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
                job = std::move(p.requests.front().job);
                p.requests.pop_front();
                --m_waiting;
            }
            ++p.running;
            ++m_running;
            peer = next->first;
            m_last = peer;
        }
        const Clock::time_point began = Clock::now();
        if (!(job.abandoned && job.abandoned()) && job.run)
            job.run();
        bool idle = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const Clock::time_point now = Clock::now();
            used(peer, std::chrono::duration<double, std::milli>(now - began).count(), now);
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

WriteRate::WriteRate(double peerPerSecond, int peerBurst, double perSecond, int burst, Clock::duration quiet,
                     Clock::duration memory)
    : m_peerRate(peerPerSecond)
    , m_rate(perSecond)
    , m_peerBurst(peerBurst)
    , m_burst(burst)
    , m_quiet(quiet)
    , m_memory(memory)
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
    // A peer not seen within the memory has its own bucket full again:
    // forgetting it gives it nothing it would not have.
    for (auto q = m_peers.begin(); q != m_peers.end();)
        q = now - q->second.asked > m_memory ? m_peers.erase(q) : std::next(q);
    auto it = m_peers.find(peer);
    if (it == m_peers.end()) {
        if (m_peers.size() >= kPeersKept)
            return false;
        const Clock::time_point never = now - m_memory - Clock::duration(1);
        it = m_peers.emplace(peer, Peer{Bucket{double(m_peerBurst), now}, never, Clock::time_point::min()}).first;
    }
    Peer& p = it->second;
    const auto quiet = [&](const Peer& q) { return now - q.asked >= m_quiet; };
    // What the shared bucket must keep for the peers ahead of this one (and,
    // for a pressing one, for a peer not seen lately).
    int keep = quiet(p) ? 0 : 1;
    for (const auto& q : m_peers)
        if (&q.second != &p)
            keep += quiet(p) ? q.second.asked < p.asked : quiet(q.second) || q.second.served < p.served;
    p.asked = now;
    if (fill(p.own, m_peerRate, m_peerBurst, now) < 1.0
        || fill(m_all, m_rate, m_burst, now) < double(std::min(m_burst, 1 + keep)))
        return false;
    p.own.tokens -= 1.0;
    m_all.tokens -= 1.0;
    p.served = now;
    return true;
}

int connectionToGiveUp(const std::vector<HeldConnection>& held, const std::string& peer, int maxConnections,
                       int maxPeer)
{
    std::map<std::string, int> count;
    for (const HeldConnection& h : held)
        ++count[*h.peer];
    const int mine = count[peer];
    if (mine < maxPeer && int(held.size()) < maxConnections)
        return -1;
    const bool anySilent =
        std::any_of(held.begin(), held.end(), [](const HeldConnection& h) { return h.rank <= kSilentRank; });
    const auto candidate = [&](const HeldConnection& h) {
        return mine >= maxPeer ? *h.peer == peer : !anySilent || h.rank <= kSilentRank;
    };
    int most = 0;
    for (const HeldConnection& h : held)
        if (candidate(h))
            most = std::max(most, count[*h.peer]);
    int chosen = -1;
    for (int i = 0; i < int(held.size()); ++i) {
        const HeldConnection& h = held[size_t(i)];
        if (!candidate(h) || (mine < maxPeer && count[*h.peer] != most))
            continue;
        if (chosen < 0 || h.rank < held[size_t(chosen)].rank
            || (h.rank == held[size_t(chosen)].rank && h.since < held[size_t(chosen)].since))
            chosen = i;
    }
    return chosen;
}
