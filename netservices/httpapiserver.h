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
    std::vector<std::string> matches; // the route pattern's groups; [0] is the whole path
};

// What a route answers: a body in memory, or an open regular file sent from
// the disk as it is read (the server closes it).
struct HttpApiAnswer
{
    int status = 200;
    std::string type;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    int file = -1;
    quint64 fileSize = 0;
};

// The station's HTTP API: JSON requests under "/v18/http/".
//
// Every connection is read by one I/O thread that holds no more of it than
// the bounds below allow, so a peer that trickles, floods or never ends its
// request costs a connection slot and a few KiB, never a thread, the
// station's files or its memory. A request read whole goes to the server's
// own bounded pool of threads. The GUI thread never waits for a request;
// what belongs to it (the production counters, the journal) is handed to it
// as a queued call that the handler waits for, and a handler gives up
// (answering 503, having changed nothing) when the GUI thread does not take
// the call in time, the server is stopping or the station is ending.
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
    // A request line and header lines larger than this, or more lines than
    // kMaxHeadLines, are refused with 431 before anything more is read.
    static constexpr int kMaxHeadBytes = 8192;
    static constexpr int kMaxHeadLines = 100;
    // A body larger than this is refused with 413: a declared one before it
    // is read, a chunked one as soon as it passes the limit.
    static constexpr size_t kMaxBody = 64 * 1024;
    // A request must arrive whole this long after its first byte (408).
    static constexpr int kRequestDeadlineMs = 2000;
    // A connection that sends nothing this long (a new one, or a kept-alive
    // one after its answer) is closed.
    static constexpr int kIdleMs = 1000;
    // An answer must be taken within this long, plus kWriteMsPerMiB for
    // every MiB of it.
    static constexpr int kWriteTimeoutMs = 2000;
    static constexpr int kWriteMsPerMiB = 1000;
    // Connections held at once. Past it, the one that has waited longest for
    // its request is closed to make room, or the new one at once when every
    // connection is being answered.
    static constexpr int kMaxConnections = 128;
    // Requests handled at once, and read requests waiting for one of those
    // threads; past that a request is answered 503.
    static constexpr int kThreads = 8;
    static constexpr int kMaxWaiting = 32;
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

    struct Impl;

private:
    friend class HttpSession;
    // Runs job on the GUI thread and waits for it to end. False when it
    // never ran (no GUI thread to take it, the wait ran out, the server is
    // stopping): the job is then withdrawn and will not run later.
    bool runOnGui(const std::function<void()>& job);
    // Routes a whole request to its handler.
    void handle(const HttpApiRequest& req, int route, HttpApiAnswer& res);

    std::unique_ptr<Impl> m_impl;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_listening{false};
    quint16 m_port = kPort;
    QString m_address;
    QString m_whyNot;
};
