#pragma once
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The station's HTTP API: JSON requests under "/v18/http/" answered on the
// server's own bounded pool of threads. The GUI thread never waits for a
// request; what belongs to the GUI thread (the production counters, the
// journal) is handed to it as a queued call that the handler waits for, and
// a handler gives up (answering 503, having changed nothing) when the GUI
// thread does not take the call in time or the server is stopping.
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
    // Requests larger than this are refused with 413 before their body is read.
    static constexpr size_t kMaxBody = 64 * 1024;
    // Connections served at once; more wait for a free thread.
    static constexpr int kThreads = 8;
    // The longest pause between two bytes of one request.
    static constexpr int kReadTimeoutMs = 500;
    // A client that does not take its answer for this long is dropped.
    static constexpr int kWriteTimeoutMs = 2000;
    // An idle kept-alive connection is closed after this long.
    static constexpr int kKeepAliveSeconds = 1;
    // How long a handler waits for the GUI thread to take its call.
    static constexpr int kGuiWaitMs = 10000;
    // Result images larger than this are not served.
    static constexpr qint64 kMaxImageBytes = 64 * 1024 * 1024;

    // Binds and starts serving. False (logged) when the port cannot be
    // opened; the station then runs without the API.
    bool start();
    // Refuses new connections, lets the requests in progress end (a handler
    // waiting for the GUI thread gives up) and joins every server thread.
    // Called on the GUI thread at shut-down.
    void stop();

    bool isListening() const { return m_listening; }
    // Why start() opened no port ("127.0.0.1:10100: Address already in
    // use"); empty unless it failed.
    QString whyNotListening() const { return m_whyNotListening; }
    quint16 port() const { return m_port; }
    QString address() const { return m_address; }

    // The routes' handlers, run on the server's threads.
    void httpapi__get_production_count_bytime(const httplib::Request& req, httplib::Response& res);
    void httpapi__clear_count(const httplib::Request& req, httplib::Response& res);
    void httpapi__set_system_time(const httplib::Request& req, httplib::Response& res);
    void httpapi__get_result_image(const httplib::Request& req, httplib::Response& res);
    void httpapi__get_operation_record(const httplib::Request& req, httplib::Response& res);

private:
    void addRoutes();
    // Runs job on the GUI thread and waits for it to end. False when it
    // never ran (no GUI thread to take it, the wait ran out, the server is
    // stopping): the job is then withdrawn and will not run later.
    bool runOnGui(const std::function<void()>& job);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_listening{false};
    quint16 m_port = kPort;
    QString m_address;
    QString m_whyNotListening;
};
