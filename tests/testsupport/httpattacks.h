// Hostile clients of the station's HTTP API, shared by its test and its
// benchmark: heads and bodies without end, a flood of idle connections from
// a child process, slow clients and readers, one peer holding the server
// full. Each is bounded in bytes, connections and time and ends by itself;
// raw sockets to 127.0.0.1 only, from loopback addresses (127.0.0.x) only.
// What an attack does to the station is watched from inside its process:
// resident memory, the sockets it holds, the bytes its sockets leave in the
// kernel, how long a well-behaved client from 127.0.0.1 waits meanwhile.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace httpattack {

// What one client met.
struct Outcome
{
    int status = -1;      // the (first) answer's status, -1 when none came
    std::vector<int> statuses; // every whole answer's status, in order (interim 1xx ones included)
    std::vector<int> retryAfter; // each answer's Retry-After in seconds, -1 without one
    std::string head;     // the first answer's head
    std::string body;     // the (first) answer's body, de-chunked, its first Client::keep bytes
    long long endMs = -1; // from the connect to the whole answer or the close; -1: neither in time
    bool closed = false;  // the station closed or reset the connection
    bool cut = false;     // an answer's head came, but its body ended neither at its length nor its last chunk
    size_t sent = 0;      // bytes the station let the client send
    size_t received = 0;  // bytes of its answers it took, heads included
};
// "status 200 after 35 ms, closed", for a failing check.
std::string said(const Outcome& o);

// A client's bytes: `head`, then `fill` `times` times, then `tail`. With a
// gap each fill and the tail go out gapMs after the piece before, otherwise
// as fast as the station takes them; nothing goes out while `startWhen`,
// when given, says false. Given up after limitMs.
struct Client
{
    std::string head;
    std::string fill;
    size_t times = 0;
    int gapMs = 0;
    std::string tail;
    int limitMs = 4000;
    std::function<bool()> startWhen;
    // Its source address, 127.0.0.<peer>: another peer than the
    // well-behaved client's 127.0.0.1.
    int peer = 1;
    // The bytes a second it takes of the answer: 0 as fast as they come, -1
    // none (a stalled reader). A slow or stalled reader keeps a small
    // receive buffer (4 KiB), so the station holds what it has not taken.
    int readRate = 0;
    // With it, readRate holds this long from the connect, then all comes at once.
    int rateForMs = 0;
    // While raised the client takes nothing (with a small receive buffer).
    const std::atomic<bool>* hold = nullptr;
    size_t keep = 16 * 1024; // body bytes of the first answer kept (Outcome::body)
    // Whole answers it waits for (to pipelined requests).
    int answers = 1;
    int renewGapMs = 0; // renewed (see run()) no sooner than this after its last start
};

// Runs the clients at once (connected in turn) until each has its whole
// answer, is closed, or reaches its limit, or `stop` is raised. With
// renewMs, a client that ends starts again on a fresh connection until
// renewMs have passed: the pressure stays (its last outcome is returned).
std::vector<Outcome> run(unsigned short port, const std::vector<Client>& clients, const std::atomic<bool>& stop,
                         int renewMs = 0);
Outcome runOne(unsigned short port, const Client& c, const std::atomic<bool>& stop);

// An HTTP/1.1 request with Host 127.0.0.1, `headers` (whole lines) and,
// for a POST, `body` with its length.
std::string request(const std::string& method, const std::string& path, const std::string& body = {},
                    const std::string& headers = {});
// A body asking the production counts of the last `hours`.
std::string countBody(int hours);
// A client sending `bytes` at once, given up after limitMs.
Client sending(std::string bytes, int limitMs = 3000, int answers = 1);
// The production counts of the last hour, asked whole at once.
Client wellBehaved();
// "GET /v18/http/x" and then `bytes` of short header lines.
Client headLines(size_t bytes);
// A request line of `bytes` that never ends.
Client longRequestLine(size_t bytes);
// A counter clear with `lines` short header lines.
Client manyHeaderLines(int lines);
// A chunked body to `path`: `bytes` of blanks, then {}.
Client chunkedBlanks(const char* path, size_t bytes);
// A counter clear declaring 100,000,000 bytes, sent one every 100 ms.
Client trickledLength();
// A counter clear with two Content-Length headers that disagree.
Client conflictingLength();
// wellBehaved() with `lines` more header lines, one every gapMs.
Client slowHead(int gapMs, int lines);
// A connection that sends nothing, kept up to holdMs.
Client idle(int holdMs);
// From 127.0.0.<peer>: 20 counts of 400 days pipelined on one connection.
Client pipelinedCounts(int peer);

// Idle connections from a child process, from 127.0.0.2: it raises its own descriptor limit
// to the hard limit, opens them with plain calls, holds them until stop() or
// holdMs, closes them and ends. The caller's limit stays as it is.
class Flood
{
public:
    Flood(unsigned short port, int connections, int holdMs);
    ~Flood();
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;
    // The connections the child opened, once it has; -1 when it did not say.
    int opened(int timeoutMs);
    void stop();

private:
    pid_t m_pid = -1;
    int m_up = -1;   // the child's count comes through it
    int m_down = -1; // its close lets the child go
    int m_opened = -1;
};

// Every attack above in turn (and 500 idle connections in waves of 100),
// again and again until `stop`.
void everyAttack(unsigned short port, const std::atomic<bool>& stop);

// The largest answers a peer can ask for, made in the working directory: a
// result image of `imageBytes` (camera 1, detection 1, OK) and `rows` more
// entries in today's journal. Call on the journal's (GUI) thread.
struct Largest
{
    std::string image, journal; // the requests for them
};
Largest largestAnswers(size_t imageBytes, int rows);

// One peer's ways to hold the server full, each with the connections it
// keeps open (renewed as the station closes them).
struct PeerAttack
{
    const char* what;
    Client client;
    int connections;
};
std::vector<PeerAttack> peerAttacks(const Largest& largest, int peer);
// `each` clears and as many clock sets, pipelined from 127.0.0.<peer>.
Client writeFlood(int peer, int each);
// Each of peerAttacks() from 127.0.0.2 for 3 s, 48 clears and clock sets
// pipelined from 127.0.0.3 to .6, and 40 stalled readers of the largest
// image from 127.0.0.2, again and again until `stop`.
void everyPeerAttack(unsigned short port, const Largest& largest, const std::atomic<bool>& stop);

// The bytes the kernel holds in the queues of the TCP sockets on local port
// `port` (/proc/net/tcp): what the station has not sent or not read, its
// orphaned sockets' included. (The machine's TCP memory in /proc/net/sockstat
// moves with every other process's sockets too.)
long queuedBytes(unsigned short port);

// What an attack did to the station's process.
struct Effect
{
    long riseKb = 0;             // the highest resident memory during it, above the level before
    long leftKb = 0;             // resident memory after it, above the level before
    int sockets = 0;             // the most sockets open at once, above the number before
    double worstMs = 0;          // the longest a well-behaved request waited for its answer
    int unanswered = 0;          // well-behaved requests without a 200 (given up after 10 s)
    std::vector<double> probeMs; // each answered well-behaved request
    std::vector<Outcome> missed; // what the first unanswered ones got
};

// Runs `attack` on a thread of its own while a well-behaved client asks
// every 100 ms from a fresh connection and the process's memory and sockets
// are sampled; `pump` keeps the caller's thread (the station's window)
// turning. The attack's stop flag is raised when the memory rises by
// fuseKb. Afterwards waits up to settleMs for the memory to come back within
// backKb of the level before.
Effect measure(unsigned short port, const std::function<void(const std::atomic<bool>&)>& attack,
               const std::function<void()>& pump, long backKb, int settleMs = 3000, long fuseKb = 64 * 1024);

} // namespace httpattack
