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
// peers together hold theirs). What each peer has used of the pool lately
// is kept (the threads' time its work took, and a little for each turn,
// served or refused, fading by half every kUseHalfLifeMs), so that a peer
// that has just had its turn, or costs the threads much, gives way to one
// that has not.
class PeerPool
{
public:
    using Clock = std::chrono::steady_clock;
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
    // Queues a request of peer. When all places are taken, a peer holding
    // the most gives up its newest request for it (refuse() is called) if
    // it holds two more than peer, or one more and has used the pool more
    // lately than peer; of several such, the one that used it most lately,
    // then the one whose newest request came last. False when peer is past
    // its share, no place is given up for it, or the pool is stopping: the
    // caller answers 503. A refusal, either way, is peer's turn.
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
    struct Waiting
    {
        Job job;
        unsigned long long arrived; // in the order of every request's arrival
    };
    struct Peer
    {
        std::deque<Waiting> requests;
        std::deque<Job> pieces;
        int running = 0;
        size_t held = 0;
    };
    bool runnable(const Peer& p) const;
    void work();
    void forget(std::map<std::string, Peer>::iterator it);
    // What peer has used of the pool lately, in milliseconds of threads'
    // time as of now; 0 for a peer not among the kUseKept remembered.
    double useOf(const std::string& peer, Clock::time_point now) const;
    // A turn of peer's: what its work took (0 for a refusal), and kTurnMs.
    void used(const std::string& peer, double ms, Clock::time_point now);

    // What a turn counts for beside its threads' time, and how fast what a
    // peer used fades.
    static constexpr double kTurnMs = 10;
    static constexpr double kUseHalfLifeMs = 2000;
    // Peers whose use is remembered; past it, the half that used least is
    // forgotten (and so counts as having used nothing).
    static constexpr size_t kUseKept = 4096;

    const Limits m_limits;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::map<std::string, Peer> m_peers;
    std::string m_last; // the peer served last; the turn goes on after it
    struct Use
    {
        double ms;
        Clock::time_point at;
    };
    std::map<std::string, Use> m_use;
    unsigned long long m_arrived = 0;
    int m_waiting = 0;
    int m_running = 0;
    size_t m_held = 0;
    bool m_quit = false;
    std::vector<std::thread> m_threads;
};

// The pace of the requests that change the station: a bucket per peer and
// one for all, each refilled at its rate up to its burst. What the shared
// bucket holds goes in turn. A peer that has not asked within `quiet` is
// quiet; one that has is pressing. A peer takes one from the shared bucket
// only while the bucket keeps one for each peer (seen within `memory`)
// ahead of it, never more than the whole burst: ahead of a quiet peer are
// those quiet for longer; ahead of a pressing peer are every quiet peer and
// the pressing peers served less lately, and one more is kept for a peer
// not seen within `memory`. So a peer that has just been served or refused
// gives way to one that has not, and peers that keep asking are served in
// turn. Any thread.
class WriteRate
{
public:
    using Clock = std::chrono::steady_clock;
    WriteRate(double peerPerSecond, int peerBurst, double perSecond, int burst, Clock::duration quiet,
              Clock::duration memory);
    // Takes one from peer's bucket and the shared one; false (nothing taken)
    // when either is short. Either way it is peer's ask.
    bool take(const std::string& peer, Clock::time_point now);

private:
    struct Bucket
    {
        double tokens;
        Clock::time_point at;
    };
    struct Peer
    {
        Bucket own;
        Clock::time_point asked, served;
    };
    static double fill(Bucket& b, double rate, int burst, Clock::time_point now);

    // Peers remembered (those seen within the memory); while this many
    // are, a new peer is refused.
    static constexpr size_t kPeersKept = 4096;
    const double m_peerRate, m_rate;
    const int m_peerBurst, m_burst;
    const Clock::duration m_quiet, m_memory;
    std::mutex m_mutex;
    std::map<std::string, Peer> m_peers;
    Bucket m_all;
};

// One open connection as the choice of who gives up a slot sees it.
struct HeldConnection
{
    const std::string* peer;
    int rank; // how willingly it goes: the lowest first
    std::chrono::steady_clock::time_point since; // when it began what it does now
};
// Ranks up to this one have asked for nothing (idle, closing, new and silent).
constexpr int kSilentRank = 2;

// Which of the open connections (`held`) is closed so that one more from
// `peer` can be held: -1 while there is room (fewer than maxConnections
// in all, fewer than maxPeer from peer). Past peer's share, one of peer's
// own. Past the total, a connection that has asked for nothing while any
// is held (a request under way is not given up for a slot nobody uses),
// else any; of those, one of the peers holding the most (peer's own among
// them when it is one). Then the lowest rank, then the one that began what
// it does longest ago; never chosen by a peer's name.
int connectionToGiveUp(const std::vector<HeldConnection>& held, const std::string& peer, int maxConnections,
                       int maxPeer);
