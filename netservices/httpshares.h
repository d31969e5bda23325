#pragma once
// What the HTTP API's peers share: the threads that answer requests, the
// answer bytes held in memory and the pace of the requests that change the
// station. A peer is a client's address; each gets its share, so one address
// that floods, or reads its answers slowly, leaves the others theirs.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A pool of threads that serves peers in turn: one peer runs at most its
// share of the threads, waits with at most its share of the places, and
// none of its work starts while it holds its share of answer bytes (or all
// peers together hold theirs).
class PeerPool
{
public:
    struct Job
    {
        std::function<void()> run;       // on a pool thread
        std::function<void()> refuse;    // pushed out of its place: answer 503
        std::function<bool()> abandoned; // its client is gone: drop it unrun
    };
    struct Limits
    {
        int threads, peerThreads, waiting, peerWaiting;
        size_t memory, peerMemory;
    };

    explicit PeerPool(const Limits& limits);
    ~PeerPool();
    PeerPool(const PeerPool&) = delete;
    PeerPool& operator=(const PeerPool&) = delete;

    void start();
    // Queues a request of peer. When all places are taken and peer holds
    // fewer than the peer holding the most, that peer's newest request is
    // pushed out for it. False when peer is past its share (or the pool is
    // stopping): the caller answers 503.
    bool submit(const std::string& peer, Job job);
    // Queues the next piece of an answer already being sent: it is not a new
    // request, so it takes no place, but it waits for its turn and its
    // peer's answer bytes like any work. Dropped once the pool stops.
    void follow(const std::string& peer, Job job);
    // Answer bytes in memory for peer, from their making to their sending.
    void hold(const std::string& peer, size_t bytes);
    void release(const std::string& peer, size_t bytes);
    // Runs what is queued without the shares' waits and joins the threads.
    void stop();

private:
    struct Peer
    {
        std::deque<Job> requests, pieces;
        int running = 0;
        size_t held = 0;
    };
    bool runnable(const Peer& p) const;
    void work();
    void forget(std::map<std::string, Peer>::iterator it);

    const Limits m_limits;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::map<std::string, Peer> m_peers;
    std::string m_last; // the peer served last; the turn goes on after it
    int m_waiting = 0;
    int m_running = 0;
    size_t m_held = 0;
    bool m_quit = false;
    std::vector<std::thread> m_threads;
};

// The pace of the requests that change the station: a bucket per peer and
// one for all, each refilled at its rate up to its burst. Any thread.
class WriteRate
{
public:
    using Clock = std::chrono::steady_clock;
    WriteRate(double peerPerSecond, int peerBurst, double perSecond, int burst);
    // Takes one from peer's bucket and the shared one; false (nothing taken)
    // when either is empty.
    bool take(const std::string& peer, Clock::time_point now);

private:
    struct Bucket
    {
        double tokens;
        Clock::time_point at;
    };
    static double fill(Bucket& b, double rate, int burst, Clock::time_point now);

    // Peers remembered; past it, those whose buckets are full again are
    // forgotten, and while none is, a new peer is refused.
    static constexpr size_t kPeersKept = 4096;
    const double m_peerRate, m_rate;
    const int m_peerBurst, m_burst;
    std::mutex m_mutex;
    std::map<std::string, Bucket> m_peers;
    Bucket m_all;
};
