#pragma once
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One request as the routes see it, read whole and within every bound.
struct HttpApiRequest
{
    std::string method;
    std::string path; // %-decoded, without the query
    std::string body;
    std::vector<std::string> matches; // the route's parts; [0] is the whole path
    std::string peer;                 // the client's address
    // Set once the client has hung up: a change it asked for and no longer
    // waits for is not made.
    std::shared_ptr<const std::atomic<bool>> hungUp;
    bool gone() const { return hungUp && hungUp->load(); }
};

// What a route answers: a body in memory, an open regular file sent from the
// disk as it is read (the server closes it), or a body made in pieces.
struct HttpApiAnswer
{
    enum class Piece { More, Last, Failed };

    int status = 200;
    std::string type;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    int file = -1;
    quint64 fileSize = 0;
    // A body too large to hold whole: each call, on one of the server's
    // threads, appends about `room` bytes of it to *out. Called again only
    // once the piece before is sent, so an answer holds one piece at a time.
    // Failed ends the connection without the end of the body, so the client
    // can tell it is cut.
    std::function<Piece(std::string* out, size_t room)> stream;
};

// The station's HTTP API: JSON requests under "/v18/http/".
//
// Every connection is read by one I/O thread that holds no more of it than
// the bounds below allow, so a peer that trickles, floods or never ends its
// request costs a connection slot and a few KiB, never a thread, the
// station's files or its memory. What one peer address may hold (connection
// slots, places in the pool, answer bytes in memory) is a share, so no one
// peer takes what the others need (netservices/httpsession.* and
// netservices/httpshares.*). A request read whole goes to the server's own
// pool of threads. The GUI thread never waits for a request; what belongs to
// it (the production counters, the journal) is handed to it as a queued call
// that the handler waits for, and a handler gives up (answering 503, having
// changed nothing) when the GUI thread does not take the call in time, the
// server is stopping or the station is ending.
//
// Port 10100; STATION_HTTP_PORT moves it (0 takes any free port). Under
// STATION_SIMROOT the server listens on the loopback address only.
class HttpApiServer
{
public:
    HttpApiServer();
    // Stops and joins (see stop()).
    ~HttpApiServer();

    HttpApiServer(const HttpApiServer&) = delete;
    HttpApiServer& operator=(const HttpApiServer&) = delete;

    static constexpr quint16 kPort = 10100;

    // --- what a request may be ---
    // A request line and header lines larger than this, or more lines than
    // kMaxHeadLines (a chunked body's trailer lines counted with them), are
    // refused with 431 before anything more is read.
    static constexpr int kMaxHeadBytes = 8192;
    static constexpr int kMaxHeadLines = 100;
    // A body larger than this is refused with 413: a declared one before it
    // is read, a chunked one as soon as it passes the limit.
    static constexpr size_t kMaxBody = 64 * 1024;

    // --- time ---
    // A request must arrive whole this long after its first byte (408).
    static constexpr int kRequestDeadlineMs = 2000;
    // A new connection that sends nothing this long is closed: it holds a
    // slot and has not asked for anything.
    static constexpr int kIdleMs = 1000;
    // A connection that has been answered waits this long for its next
    // request, counted from when the client has taken the whole answer (what
    // its TCP acknowledged): clients that poll every few seconds keep their
    // connection. (An idle connection is the first given up when slots run
    // short.)
    static constexpr int kKeepAliveMs = 10000;
    // The wait told to clients (Keep-Alive: timeout=N on every answer that
    // keeps the connection), well short of the real one: a client counts
    // from when it read the answer, perhaps from when it had dealt with it,
    // and in whole seconds, and a request reused at the very end of the wait
    // meets the station's close on its way and is lost. 2 s leaves room for
    // all of that on a slow link; a client gains nothing from 9.
    static constexpr int kKeepAliveToldSeconds = 8;
    static_assert(kKeepAliveToldSeconds * 1000 <= kKeepAliveMs - 2000, "");
    // An answer is judged by what the peer takes of it (what its TCP
    // acknowledged), not by a deadline: every kProgressSpanMs while the
    // kernel holds answer bytes the peer has not taken must see
    // kMinProgressBytes of them taken (8 KiB/s), or all that it held at the
    // start of that span; otherwise the connection is reset and the rest
    // dropped. Judged every kProgressTickMs. The span is long because TCP
    // delivers to a slow reader in bursts: a receiver opens its window again
    // only once a good part of its buffer is read, so a reader taking a
    // steady 20 kB/s through a default 128 KiB buffer was seen to take
    // nothing for 7 s at a time. A reader that stops, or crawls under the
    // floor, is dropped within the span and a tick.
    static constexpr int kProgressSpanMs = 16000;
    static constexpr int kMinProgressBytes = 128 * 1024;
    static constexpr int kProgressTickMs = 500;
    // What the kernel may hold unsent for one connection (it doubles this
    // for its own bookkeeping).
    static constexpr int kSendBufferBytes = 256 * 1024;

    // --- shares ---
    // Connections held at once, and from one peer address. Past either, one
    // connection of the peers holding the most (the newcomer's own when it
    // is at its share) is closed to make room: the most willing to go by
    // what it does (see HttpSession::rank) and how long it has done it.
    static constexpr int kMaxConnections = 128;
    static constexpr int kMaxPeerConnections = 32;
    // A connection whose answer is handed whole leaves those slots at once.
    // Until what it holds has left (what the peer has not yet let the
    // kernel send, or what a refused peer still sends), it is kept outside
    // them, this many at most: past that the peer keeping the most gives up
    // its oldest, reset.
    static constexpr int kMaxClosing = 128;
    // Threads that answer requests, of which one peer may use at once.
    static constexpr int kThreads = 8;
    static constexpr int kPeerThreads = 4;
    // Requests read whole and waiting for a thread, in all and from one peer;
    // past that a request is answered 503. When every place is taken, a
    // peer waiting with the most gives up its newest for another's when it
    // holds two more, or one more and has used the pool more lately (its
    // requests' threads' time and its refusals; see PeerPool::submit).
    static constexpr int kMaxWaiting = 32;
    static constexpr int kPeerWaiting = 24;
    // Answer bytes held in memory across every connection, and for one peer:
    // requests wait for a thread while their peer, or everyone, holds this.
    static constexpr size_t kAnswerMemoryBytes = 4u << 20;
    static constexpr size_t kPeerAnswerMemoryBytes = 1u << 20;
    // A streamed answer's piece.
    static constexpr size_t kPieceBytes = 64 * 1024;
    // The routes that change the station (clear, clock): one peer may ask
    // kPeerWritesPerSecond with a burst of kPeerWriteBurst, all peers
    // together kWritesPerSecond with a burst of kWriteBurst; past that 429.
    // The shared writes go in turn (see WriteRate): a peer that has not
    // asked for kWriteQuietMs goes before those that keep asking, which take
    // turns; a peer is remembered for kWriteMemoryMs after its last ask.
    static constexpr double kPeerWritesPerSecond = 1.0;
    static constexpr int kPeerWriteBurst = 3;
    static constexpr double kWritesPerSecond = 4.0;
    static constexpr int kWriteBurst = 8;
    static constexpr int kWriteQuietMs = 1000;
    static constexpr int kWriteMemoryMs = 10000;
    // A peer forgotten after kWriteMemoryMs has its own burst back anyway.
    static_assert(kWriteMemoryMs >= 1000 * kPeerWriteBurst / kPeerWritesPerSecond, "");
    // What a 503 (busy) or a 429 (past the pace) asks the client to wait,
    // in seconds, as Retry-After.
    static constexpr int kRetryAfterSeconds = 1;

    // How long a handler waits for the GUI thread to take its call.
    static constexpr int kGuiWaitMs = 10000;
    // The clock can be set within these years (what the panel's clock holds).
    static constexpr int kFirstYear = 2000;
    static constexpr int kLastYear = 2099;

    // Binds and starts serving. False (logged, and see whyNotListening())
    // when the port cannot be opened; the station then runs without the API.
    bool start();
    // Refuses new connections, closes the open ones, lets the requests in
    // progress end (a handler waiting for the GUI thread gives up) and joins
    // every server thread. Called on the GUI thread at shut-down.
    void stop();

    bool isListening() const { return m_listening; }
    quint16 port() const { return m_port; }
    QString address() const { return m_address; }
    // Why start() failed: the address, the port and the system's reason.
    QString whyNotListening() const { return m_whyNot; }

    // The routes' handlers, run on the server's threads.
    void httpapi__get_production_count_bytime(const HttpApiRequest& req, HttpApiAnswer& res);
    void httpapi__clear_count(const HttpApiRequest& req, HttpApiAnswer& res);
    void httpapi__set_system_time(const HttpApiRequest& req, HttpApiAnswer& res);
    void httpapi__get_result_image(const HttpApiRequest& req, HttpApiAnswer& res);
    void httpapi__get_operation_record(const HttpApiRequest& req, HttpApiAnswer& res);

    // Which route a %-decoded path names: its index (*parts gets the path
    // and its variable parts), -404 for no route, -405 for a route asked
    // with another method (*allow names the one it takes).
    static int findRoute(const std::string& path, const std::string& method, std::vector<std::string>* parts,
                         const char** allow);

    class Connections;

private:
    friend class HttpSession;
    // Runs job on the GUI thread and waits for it to end. False when it
    // never ran (no GUI thread to take it, the wait ran out, the server is
    // stopping): the job is then withdrawn and will not run later.
    bool runOnGui(const std::function<void()>& job);
    // Routes a whole request to its handler.
    void handle(const HttpApiRequest& req, int route, HttpApiAnswer& res);
    // Whether a request that changes the station is within the pace; false
    // with 429 answered.
    bool paced(const HttpApiRequest& req, HttpApiAnswer& res);

    std::unique_ptr<Connections> m_net;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_listening{false};
    quint16 m_port = kPort;
    QString m_address;
    QString m_whyNot;
};
