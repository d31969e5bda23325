// Hostile clients of the station's HTTP API, shared by its test and its
// benchmark: heads and bodies without end, a flood of idle connections from
// a child process, slow clients. Each is bounded in bytes, connections and
// time and ends by itself; raw sockets to 127.0.0.1 only. What an attack
// does to the station is watched from inside its process: resident memory,
// the sockets it holds, how long a well-behaved client waits meanwhile.
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
    int status = -1;      // the answer's status, -1 when none came
    std::string body;     // the answer's body (its first 64 KiB)
    long long endMs = -1; // from the connect to the whole answer or the close; -1: neither in time
    bool closed = false;  // the station closed or reset the connection
    size_t sent = 0;      // bytes the station let the client send
};

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
};

// Runs the clients at once (connected in turn) until each has its whole
// answer, is closed, or reaches its limit, or `stop` is raised.
std::vector<Outcome> run(unsigned short port, const std::vector<Client>& clients, const std::atomic<bool>& stop);
Outcome runOne(unsigned short port, const Client& c, const std::atomic<bool>& stop);

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

// Idle connections from a child process: it raises its own descriptor limit
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

// What an attack did to the station's process.
struct Effect
{
    long riseKb = 0;             // the highest resident memory during it, above the level before
    long leftKb = 0;             // resident memory after it, above the level before
    int sockets = 0;             // the most sockets open at once, above the number before
    double worstMs = 0;          // the longest a well-behaved request waited for its answer
    int unanswered = 0;          // well-behaved requests without a 200 within 3 s
    std::vector<double> probeMs; // each answered well-behaved request
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
