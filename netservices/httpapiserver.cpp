#include "netservices/httpapiserver.h"

#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "controller/productioncounters.h"
#include "controller/stationexit.h"
#include "frame/globals.h"
#include "frame/timetools.h"
#include "netservices/zev_netmn.h"
#include "records/resstatisticsdatabase.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <glog/logging.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iterator>
#include <list>
#include <mutex>
#include <optional>
#include <regex>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;
using SteadyClock = std::chrono::steady_clock;

namespace {

const char* const kJson = "application/json; charset=utf-8";
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

struct Route
{
    const char* method;
    const char* pattern;
};

// Every route, in the order HttpApiServer::handle() knows them.
const Route kRoutes[] = {
    {"POST", "/v18/http/get_production_count_bytime"},
    {"POST", "/v18/http/clear_count"},
    {"POST", "/v18/http/set_system_time"},
    {"POST", "/v18/http/get_operation_record"},
    {"GET", R"(/v18/http/get_result_image/camera([0-9]+)/detect([0-9]+)/([^/]+)/(.+))"},
};
constexpr int kRouteCount = int(std::size(kRoutes));

// The routes' patterns, compiled once.
const std::vector<std::regex>& routePatterns()
{
    static const std::vector<std::regex> all = [] {
        std::vector<std::regex> v;
        for (const Route& r : kRoutes)
            v.emplace_back(r.pattern);
        return v;
    }();
    return all;
}

void answer(HttpApiAnswer& res, int status, const QJsonObject& body)
{
    res.status = status;
    res.type = kJson;
    res.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
}

void fail(HttpApiAnswer& res, int status, const QString& why)
{
    answer(res, status, QJsonObject{{"error", why}});
}

HttpApiAnswer failure(int status, const QString& why)
{
    HttpApiAnswer res;
    fail(res, status, why);
    return res;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The path of a request target: the query dropped and %XX decoded, so that a
// file name is judged as the file system will see it. A '%' not followed by
// two hex digits stays as it is.
std::string decodedPath(beast::string_view target)
{
    const size_t query = target.find('?');
    if (query != beast::string_view::npos)
        target = target.substr(0, query);
    std::string out;
    out.reserve(target.size());
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size()) {
            const int hi = hexValue(target[i + 1]);
            const int lo = hexValue(target[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(char(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(target[i]);
    }
    return out;
}

// Which route a path names: its index with the pattern's groups, -404 for no
// route, -405 for a route asked with another method (*allow names it).
int findRoute(const std::string& path, const std::string& method, std::vector<std::string>* matches,
              const char** allow)
{
    for (int i = 0; i < kRouteCount; ++i) {
        std::smatch m;
        if (!std::regex_match(path, m, routePatterns()[size_t(i)]))
            continue;
        if (method != kRoutes[i].method) {
            *allow = kRoutes[i].method;
            return -405;
        }
        if (matches) {
            matches->clear();
            for (const auto& g : m)
                matches->push_back(g.str());
        }
        return i;
    }
    return -404;
}

// A request's body as a JSON object; false with the error answered.
bool bodyObject(const HttpApiRequest& req, HttpApiAnswer& res, QJsonObject* out)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &err);
    if (err.error != QJsonParseError::NoError) {
        fail(res, 400, QStringLiteral("the body is not JSON: %1 at offset %2").arg(err.errorString()).arg(err.offset));
        return false;
    }
    if (!doc.isObject()) {
        fail(res, 400, QStringLiteral("the body must be a JSON object"));
        return false;
    }
    *out = doc.object();
    return true;
}

// A text field of the body; false with the error answered.
bool textField(const QJsonObject& body, const char* key, HttpApiAnswer& res, QString* out)
{
    const QJsonValue v = body.value(QLatin1String(key));
    if (v.isUndefined()) {
        fail(res, 400, QStringLiteral("\"%1\" is missing").arg(QLatin1String(key)));
        return false;
    }
    if (!v.isString()) {
        fail(res, 400, QStringLiteral("\"%1\" must be a text").arg(QLatin1String(key)));
        return false;
    }
    *out = v.toString();
    return true;
}

// Opens name inside the directory dirFd without following a link; -1 when
// it is missing, a link or (for a directory) no directory.
int openInside(int dirFd, const std::string& name, bool directory)
{
    const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | (directory ? O_DIRECTORY : O_NONBLOCK);
    return ::openat(dirFd, name.c_str(), flags);
}

QString headTooLarge()
{
    return QStringLiteral("the request head is larger than %1 bytes or %2 lines")
        .arg(HttpApiServer::kMaxHeadBytes)
        .arg(HttpApiServer::kMaxHeadLines);
}

QString endingText()
{
    return QStringLiteral("the station is ending; nothing was changed");
}

} // namespace

// --- the server's connections ---------------------------------------------------

class HttpSession;

struct HttpApiServer::Impl
{
    explicit Impl(HttpApiServer& o)
        : owner(o)
    {
    }

    HttpApiServer& owner;
    asio::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    asio::steady_timer acceptRetry{ioc};
    asio::steady_timer endWatch{ioc};
    asio::steady_timer finalClose{ioc};
    // Keeps the I/O thread for answers still to come from the pool while the
    // server stops.
    asio::executor_work_guard<asio::io_context::executor_type> busy{ioc.get_executor()};
    std::thread io;
    bool shuttingDown = false; // I/O thread only

    // The I/O thread's: every open connection, oldest first.
    std::list<std::weak_ptr<HttpSession>> sessions;
    int open = 0;
    long evicted = 0;
    long refused = 0;
    // A sink for what is read only to be dropped; one thread reads into it.
    std::array<char, 4096> discard{};

    // The pool that runs the routes.
    std::vector<std::thread> workers;
    std::mutex jobsMutex;
    std::condition_variable jobsReady;
    std::deque<std::function<void()>> jobs;
    bool quit = false;

    void accept();
    void admit(tcp::socket socket);
    void watchForEnd();
    void shutDown();
    void closeAll();
    std::vector<std::shared_ptr<HttpSession>> openSessions() const;
    // False when the pool already has kMaxWaiting requests waiting.
    bool submit(std::function<void()> job);
    void work();
};

class HttpSession : public std::enable_shared_from_this<HttpSession>
{
public:
    HttpSession(HttpApiServer::Impl& impl, tcp::socket socket)
        : m_impl(impl)
        , m_stream(std::move(socket))
        , m_buffer(kBufferBytes)
        , m_deadline(impl.ioc)
    {
    }

    void start(std::list<std::weak_ptr<HttpSession>>::iterator self)
    {
        m_self = self;
        readRequest();
    }

    // Closes the connection now; whatever is in progress ends with it.
    void close()
    {
        if (m_closed)
            return;
        m_closed = true;
        m_deadline.cancel();
        beast::error_code ec;
        m_stream.socket().shutdown(tcp::socket::shutdown_both, ec);
        m_stream.socket().close(ec);
        m_impl.sessions.erase(m_self);
        --m_impl.open;
    }

    // Whether it waits for (the rest of) a request, and since when.
    bool reading() const { return !m_closed && m_state == Reading; }
    SteadyClock::time_point since() const { return m_since; }

    // The answer of a route, back on the I/O thread.
    void deliver(HttpApiAnswer res, bool keepAlive)
    {
        if (m_closed) {
            if (res.file >= 0)
                ::close(res.file);
            return;
        }
        send(std::move(res), keepAlive && !m_impl.shuttingDown, false);
    }

private:
    enum State { Reading, Handling, Writing, Closing };
    // Room for a whole head and a little more: what the parser has not
    // taken yet stays here, never more.
    static constexpr size_t kBufferBytes = HttpApiServer::kMaxHeadBytes + 4096;

    void readRequest()
    {
        m_state = Reading;
        m_since = SteadyClock::now();
        m_parser.emplace();
        m_parser->header_limit(HttpApiServer::kMaxHeadBytes);
        m_parser->body_limit(HttpApiServer::kMaxBody);
        m_headChecked = false;
        if (m_buffer.size() > 0) {
            startRequest();
            return;
        }
        // The parser reports nothing until a whole head is in, so the first
        // bytes are waited for apart: the request's deadline runs from them.
        m_stream.expires_after(std::chrono::milliseconds(HttpApiServer::kIdleMs));
        m_stream.async_read_some(m_buffer.prepare(kBufferBytes - m_buffer.size()),
                                 [self = shared_from_this()](beast::error_code ec, size_t n) {
                                     if (self->m_closed)
                                         return;
                                     if (ec) {
                                         // Nothing came: it ends without a word.
                                         self->close();
                                         return;
                                     }
                                     self->m_buffer.commit(n);
                                     self->startRequest();
                                 });
    }

    // The stream's own expiry closes the socket, which would leave no way to
    // say 408: the request's deadline cancels the read instead.
    void startRequest()
    {
        m_stream.expires_never();
        m_timedOut = false;
        m_deadline.expires_after(std::chrono::milliseconds(HttpApiServer::kRequestDeadlineMs));
        m_deadline.async_wait([weak = weak_from_this()](beast::error_code ec) {
            const auto self = weak.lock();
            if (ec || !self || self->m_closed || self->m_state != Reading)
                return;
            self->m_timedOut = true;
            self->m_stream.socket().cancel(ec);
        });
        readSome();
    }

    void readSome()
    {
        http::async_read_some(m_stream, m_buffer, *m_parser,
                              [self = shared_from_this()](beast::error_code ec, size_t n) { self->onRead(ec, n); });
    }

    void onRead(beast::error_code ec, size_t)
    {
        if (m_closed)
            return;
        if (ec) {
            refuse(ec);
            return;
        }
        if (m_parser->is_header_done() && !m_headChecked) {
            m_headChecked = true;
            if (!headAcceptable())
                return;
            if (!m_parser->is_done() && m_parser->get()[http::field::expect] == "100-continue") {
                continueBody();
                return;
            }
        }
        if (m_parser->is_done())
            dispatch();
        else
            readSome();
    }

    // Why a request could not be read, answered where the peer may still
    // read it; a connection closed or timed out before its first byte just
    // ends.
    void refuse(beast::error_code ec)
    {
        if (ec == http::error::header_limit) {
            early(431, headTooLarge());
        } else if (ec == http::error::body_limit) {
            early(413, QStringLiteral("the body is larger than %1 bytes").arg(HttpApiServer::kMaxBody));
        } else if (m_timedOut) {
            early(408, QStringLiteral("the request did not arrive whole within %1 ms")
                           .arg(HttpApiServer::kRequestDeadlineMs));
        } else if (ec == http::error::buffer_overflow) {
            early(m_parser && m_parser->is_header_done() ? 400 : 431,
                  QStringLiteral("the request has a line longer than %1 bytes").arg(HttpApiServer::kMaxHeadBytes));
        } else if (ec.category() == http::make_error_code(http::error::header_limit).category()
                   && ec != http::error::end_of_stream
                   && ec != http::error::partial_message) {
            early(400, QStringLiteral("the request could not be read: %1").arg(QString::fromStdString(ec.message())));
        } else {
            close();
        }
    }

    // Checks what the head alone decides; false with the answer on its way.
    bool headAcceptable()
    {
        const auto& head = m_parser->get();
        const auto lines = std::distance(head.begin(), head.end());
        if (lines > HttpApiServer::kMaxHeadLines) {
            early(431, headTooLarge());
            return false;
        }
        if (StationExit::ending()) {
            early(503, endingText());
            return false;
        }
        // What the head names is kept for the request once its body is in.
        m_request = HttpApiRequest();
        m_request.method = std::string(head.method_string());
        m_request.path = decodedPath(head.target());
        const std::string& path = m_request.path;
        const char* allow = nullptr;
        m_route = findRoute(path, m_request.method, &m_request.matches, &allow);
        const int route = m_route;
        if (route == -404) {
            early(404, QStringLiteral("no route %1").arg(QString::fromStdString(path).left(200)));
            return false;
        }
        if (route == -405) {
            HttpApiAnswer res =
                failure(405, QStringLiteral("%1 takes %2, not %3")
                                 .arg(QString::fromStdString(path).left(200), QLatin1String(allow),
                                      QString::fromStdString(std::string(head.method_string())).left(20)));
            res.headers.emplace_back("Allow", allow);
            send(std::move(res), false, !m_parser->is_done());
            return false;
        }
        return true;
    }

    void continueBody()
    {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        asio::async_write(m_stream, asio::buffer(kContinue, sizeof kContinue - 1),
                          [self = shared_from_this()](beast::error_code ec, size_t) {
                              if (self->m_closed)
                                  return;
                              if (ec)
                                  self->close();
                              else
                                  self->readSome();
                          });
    }

    // An answer before the request was read whole: the connection ends after
    // it.
    void early(int status, const QString& why)
    {
        send(failure(status, why), false, true);
    }

    void dispatch()
    {
        m_state = Handling;
        m_deadline.cancel();
        auto& msg = m_parser->get();
        const bool keepAlive = msg.keep_alive();
        if (StationExit::ending()) {
            send(failure(503, endingText()), false, false);
            return;
        }
        HttpApiRequest req = std::move(m_request);
        req.body = std::move(msg.body());
        const int route = m_route;
        m_parser.reset();
        HttpApiServer* owner = &m_impl.owner;
        asio::io_context* ioc = &m_impl.ioc;
        auto job = [self = shared_from_this(), owner, ioc, req = std::move(req), route, keepAlive]() mutable {
            HttpApiAnswer res;
            try {
                owner->handle(req, route, res);
            } catch (const std::exception& e) {
                LOG(ERROR) << "HTTP API: " << req.method << " " << req.path << " failed: " << e.what();
                res = failure(500, QStringLiteral("the station could not answer the request"));
            } catch (...) {
                LOG(ERROR) << "HTTP API: " << req.method << " " << req.path << " failed";
                res = failure(500, QStringLiteral("the station could not answer the request"));
            }
            // The session is handed back whole: its last owner is the I/O thread.
            asio::post(*ioc, [s = std::move(self), res = std::move(res), keepAlive]() mutable {
                s->deliver(std::move(res), keepAlive);
            });
        };
        if (!m_impl.submit(std::move(job)))
            send(failure(503, QStringLiteral("the station is busy; nothing was changed, try again")), false, false);
    }

    void send(HttpApiAnswer res, bool keepAlive, bool unread)
    {
        m_state = Writing;
        m_deadline.cancel();
        m_parser.reset();
        if (res.file >= 0) {
            beast::file_posix file;
            file.native_handle(res.file);
            http::response<http::file_body> out;
            beast::error_code ec;
            out.body().reset(std::move(file), ec);
            if (ec) {
                write(failure(404, QStringLiteral("the result image could not be read")), keepAlive, unread);
                return;
            }
            write(std::move(out), res, keepAlive, unread);
            return;
        }
        write(res, keepAlive, unread);
    }

    void write(const HttpApiAnswer& res, bool keepAlive, bool unread)
    {
        http::response<http::string_body> out;
        out.body() = res.body;
        write(std::move(out), res, keepAlive, unread);
    }

    template <class Body>
    void write(http::response<Body>&& out, const HttpApiAnswer& res, bool keepAlive, bool unread)
    {
        auto msg = std::make_shared<http::response<Body>>(std::move(out));
        msg->version(11);
        msg->result(unsigned(res.status));
        if (!res.type.empty())
            msg->set(http::field::content_type, res.type);
        for (const auto& h : res.headers)
            msg->set(h.first, h.second);
        msg->keep_alive(keepAlive && !unread);
        msg->prepare_payload();
        const quint64 size = res.file >= 0 ? res.fileSize : res.body.size();
        m_stream.expires_after(std::chrono::milliseconds(HttpApiServer::kWriteTimeoutMs
                                                         + qint64(size >> 20) * HttpApiServer::kWriteMsPerMiB));
        const bool again = keepAlive && !unread;
        http::async_write(m_stream, *msg,
                          [self = shared_from_this(), msg, again, unread](beast::error_code ec, size_t) {
                              if (self->m_closed)
                                  return;
                              if (ec)
                                  self->close();
                              else if (again && !self->m_impl.shuttingDown)
                                  self->readRequest();
                              else
                                  self->linger(unread);
                          });
    }

    // Ends the connection once the answer is out. Where the peer may still be
    // sending, what it sends is read and dropped for a short, bounded while
    // first: closing on unread bytes would reset the connection and the peer
    // might lose the answer that says why.
    void linger(bool unread)
    {
        m_state = Closing;
        beast::error_code ec;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
        if (!unread || ec) {
            close();
            return;
        }
        m_stream.expires_after(std::chrono::milliseconds(kLingerMs));
        m_drained = 0;
        drain();
    }

    void drain()
    {
        m_stream.async_read_some(asio::buffer(m_impl.discard),
                                 [self = shared_from_this()](beast::error_code ec, size_t n) {
                                     if (self->m_closed)
                                         return;
                                     self->m_drained += n;
                                     if (ec || self->m_drained > kLingerBytes)
                                         self->close();
                                     else
                                         self->drain();
                                 });
    }

    static constexpr int kLingerMs = 500;
    static constexpr size_t kLingerBytes = 1 << 20;

    HttpApiServer::Impl& m_impl;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    asio::steady_timer m_deadline;
    bool m_timedOut = false;
    std::optional<http::request_parser<http::string_body>> m_parser;
    HttpApiRequest m_request; // the one being read: method, path, the route's groups
    int m_route = -1;
    std::list<std::weak_ptr<HttpSession>>::iterator m_self;
    State m_state = Reading;
    SteadyClock::time_point m_since = SteadyClock::now();
    bool m_headChecked = false;
    bool m_closed = false;
    size_t m_drained = 0;
};

void HttpApiServer::Impl::accept()
{
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (shuttingDown || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors or a connection lost in the handshake: try
            // again shortly rather than spin on the error.
            LOG_EVERY_N(WARNING, 100) << "HTTP API: accepting a connection failed: " << ec.message();
            acceptRetry.expires_after(std::chrono::milliseconds(50));
            acceptRetry.async_wait([this](beast::error_code e) {
                if (!e && !shuttingDown && acceptor.is_open())
                    accept();
            });
            return;
        }
        admit(std::move(socket));
        accept();
    });
}

void HttpApiServer::Impl::admit(tcp::socket socket)
{
    if (open >= kMaxConnections) {
        std::shared_ptr<HttpSession> oldest;
        for (const auto& w : sessions) {
            const auto s = w.lock();
            if (s && s->reading() && (!oldest || s->since() < oldest->since()))
                oldest = s;
        }
        beast::error_code ec;
        if (!oldest) {
            socket.close(ec);
            if (++refused % 1000 == 1)
                LOG(WARNING) << "HTTP API: " << kMaxConnections << " connections are being answered, " << refused
                             << " new ones closed at once so far";
            return;
        }
        oldest->close();
        if (++evicted % 1000 == 1)
            LOG(WARNING) << "HTTP API: " << kMaxConnections << " connections open, " << evicted
                         << " closed so far that waited longest for their request";
    }
    beast::error_code ec;
    socket.set_option(tcp::no_delay(true), ec);
    auto session = std::make_shared<HttpSession>(*this, std::move(socket));
    sessions.push_back(session);
    ++open;
    session->start(std::prev(sessions.end()));
}

void HttpApiServer::Impl::watchForEnd()
{
    endWatch.expires_after(std::chrono::milliseconds(100));
    endWatch.async_wait([this](beast::error_code ec) {
        if (ec || shuttingDown)
            return;
        if (!StationExit::ending()) {
            watchForEnd();
            return;
        }
        // The station is ending: no new connection; those open are answered
        // 503 from now on.
        beast::error_code e;
        acceptor.close(e);
        acceptRetry.cancel();
        LOG(INFO) << "HTTP API: the station is ending, no new connections";
    });
}

void HttpApiServer::Impl::shutDown()
{
    shuttingDown = true;
    beast::error_code ec;
    acceptor.close(ec);
    acceptRetry.cancel();
    endWatch.cancel();
    // Connections still waiting for a request go now; those being answered
    // get their answer first (see closeAll()).
    for (const auto& s : openSessions())
        if (s->reading())
            s->close();
}

void HttpApiServer::Impl::closeAll()
{
    // Answers still on their way get a moment to go out, never more.
    busy.reset();
    finalClose.expires_after(std::chrono::milliseconds(500));
    finalClose.async_wait([this](beast::error_code) {
        for (const auto& s : openSessions())
            s->close();
    });
}

std::vector<std::shared_ptr<HttpSession>> HttpApiServer::Impl::openSessions() const
{
    std::vector<std::shared_ptr<HttpSession>> all;
    for (const auto& w : sessions)
        if (auto s = w.lock())
            all.push_back(s);
    return all;
}

bool HttpApiServer::Impl::submit(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(jobsMutex);
        if (quit || jobs.size() >= size_t(kMaxWaiting))
            return false;
        jobs.push_back(std::move(job));
    }
    jobsReady.notify_one();
    return true;
}

void HttpApiServer::Impl::work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(jobsMutex);
            jobsReady.wait(lock, [this] { return quit || !jobs.empty(); });
            // What was taken before the stop is still answered.
            if (jobs.empty())
                return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        job();
    }
}

// --- the server ---------------------------------------------------------------

HttpApiServer::HttpApiServer()
{
    bool ok = false;
    const int env = qEnvironmentVariableIntValue("STATION_HTTP_PORT", &ok);
    if (ok && env >= 0 && env < 65536)
        m_port = quint16(env);
    m_address = qEnvironmentVariableIsEmpty("STATION_SIMROOT") ? QStringLiteral("0.0.0.0")
                                                               : QStringLiteral("127.0.0.1");
}

HttpApiServer::~HttpApiServer()
{
    stop();
}

bool HttpApiServer::start()
{
    if (m_impl)
        return m_listening;
    m_stopping = false;
    m_whyNot.clear();
    auto impl = std::make_unique<Impl>(*this);
    const std::string host = m_address.toStdString();
    beast::error_code ec;
    const tcp::endpoint at(asio::ip::make_address(host, ec), m_port);
    tcp::acceptor& a = impl->acceptor;
    if (!ec)
        a.open(at.protocol(), ec);
    // Reusing the address only lets a restart bind past old connections; the
    // port is not shared, so a second station cannot take half the requests.
    if (!ec)
        a.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        a.bind(at, ec);
    if (!ec)
        a.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        m_whyNot = QStringLiteral("%1:%2: %3")
                       .arg(m_address)
                       .arg(m_port)
                       .arg(QString::fromStdString(ec.message()));
        LOG(WARNING) << "HTTP API: not listening (" << m_whyNot.toStdString() << "), the station runs without it";
        return false;
    }
    m_port = a.local_endpoint().port();
    m_impl = std::move(impl);
    for (int i = 0; i < kThreads; ++i)
        m_impl->workers.emplace_back([this] { m_impl->work(); });
    m_impl->accept();
    m_impl->watchForEnd();
    m_impl->io = std::thread([this] { m_impl->ioc.run(); });
    m_listening = true;
    LOG(INFO) << "HTTP API on " << host << ":" << m_port;
    return true;
}

void HttpApiServer::stop()
{
    if (!m_impl)
        return;
    m_stopping = true;
    Impl* impl = m_impl.get();
    asio::post(impl->ioc, [impl] { impl->shutDown(); });
    {
        std::lock_guard<std::mutex> lock(impl->jobsMutex);
        impl->quit = true;
    }
    impl->jobsReady.notify_all();
    // The requests taken run to their end, quickly: a handler waiting for the
    // GUI thread gives up now that m_stopping is set, and its 503 goes out.
    for (std::thread& t : impl->workers)
        t.join();
    asio::post(impl->ioc, [impl] { impl->closeAll(); });
    // With the acceptor, the connections and the timers gone, the I/O thread
    // runs out of work and returns.
    if (impl->io.joinable())
        impl->io.join();
    m_impl.reset();
    m_listening = false;
    LOG(INFO) << "HTTP API stopped";
}

void HttpApiServer::handle(const HttpApiRequest& req, int route, HttpApiAnswer& res)
{
    switch (route) {
    case 0: httpapi__get_production_count_bytime(req, res); break;
    case 1: httpapi__clear_count(req, res); break;
    case 2: httpapi__set_system_time(req, res); break;
    case 3: httpapi__get_operation_record(req, res); break;
    case 4: httpapi__get_result_image(req, res); break;
    default: fail(res, 404, QStringLiteral("no route %1").arg(QString::fromStdString(req.path).left(200))); break;
    }
}

bool HttpApiServer::runOnGui(const std::function<void()>& job)
{
    QObject* gui = gpWin && gpWin->windowObject() ? gpWin->windowObject() : QCoreApplication::instance();
    if (!gui)
        return false;
    enum { Waiting, Running, Done, Withdrawn };
    struct Hand
    {
        std::mutex m;
        std::condition_variable cv;
        int state = Waiting;
    };
    auto hand = std::make_shared<Hand>();
    QMetaObject::invokeMethod(
        gui,
        [hand, job] {
            {
                std::lock_guard<std::mutex> lock(hand->m);
                if (hand->state != Waiting)
                    return;
                hand->state = Running;
            }
            job();
            {
                std::lock_guard<std::mutex> lock(hand->m);
                hand->state = Done;
            }
            hand->cv.notify_all();
        },
        Qt::QueuedConnection);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuiWaitMs);
    std::unique_lock<std::mutex> lock(hand->m);
    while (hand->state != Done) {
        // Once running, the job is waited for to its end: it is short.
        if (hand->state == Waiting && (m_stopping || std::chrono::steady_clock::now() >= until)) {
            hand->state = Withdrawn;
            return false;
        }
        hand->cv.wait_for(lock, std::chrono::milliseconds(50));
    }
    return true;
}

void HttpApiServer::httpapi__get_production_count_bytime(const HttpApiRequest& req, HttpApiAnswer& res)
{
    QJsonObject body;
    QString start, finish;
    if (!bodyObject(req, res, &body) || !textField(body, "starttime", res, &start)
        || !textField(body, "finishtime", res, &finish))
        return;
    QJsonObject out;
    QStringList problems;
    // The walk opens its own connection on this thread.
    if (!ResStatisticsDatabase::loadCount(start, finish, out, QString(), &problems)) {
        fail(res, 400, problems.join(QStringLiteral("; ")));
        return;
    }
    out.insert(QStringLiteral("devicename"), ZEV_NETMN::getInstance()->deviceName());
    out.insert(QStringLiteral("deviceid"), gDeviceID);
    answer(res, 200, out);
}

void HttpApiServer::httpapi__clear_count(const HttpApiRequest& req, HttpApiAnswer& res)
{
    QJsonObject body;
    if (!bodyObject(req, res, &body))
        return;
    // The counters and the journal are the GUI thread's: cleared, written and
    // shown there, between two of its cycle steps.
    bool ended = false;
    const bool done = runOnGui([&ended] {
        // The end may have begun while the call waited: it changes nothing then.
        if (StationExit::ending()) {
            ended = true;
            return;
        }
        ProductionCounters::clearAll();
        if (gpWin) {
            gpWin->refresh();
            gpWin->InsertRecord(QStringLiteral("API: 清除计数"), QStringLiteral("API"));
        }
    });
    if (ended) {
        fail(res, 503, endingText());
        return;
    }
    if (!done) {
        fail(res, 503, QStringLiteral("the station did not take the request; nothing was cleared"));
        return;
    }
    answer(res, 200, QJsonObject{{"result", "cleared"}});
}

void HttpApiServer::httpapi__set_system_time(const HttpApiRequest& req, HttpApiAnswer& res)
{
    QJsonObject body;
    QString text;
    if (!bodyObject(req, res, &body) || !textField(body, "time", res, &text))
        return;
    const QDateTime when = QDateTime::fromString(text, kTimeFormat);
    if (!when.isValid()) {
        fail(res, 400, QStringLiteral("\"time\" must be a real time as yyyy-MM-dd hh:mm:ss"));
        return;
    }
    if (when.date().year() < kFirstYear || when.date().year() > kLastYear) {
        fail(res, 400, QStringLiteral("\"time\" must lie in the years %1 to %2").arg(kFirstYear).arg(kLastYear));
        return;
    }
    const QString set = when.toString(kTimeFormat);
    if (StationExit::ending()) {
        fail(res, 503, endingText());
        return;
    }
    if (!setSystemDateTime(when)) {
        fail(res, 500, QStringLiteral("the clock could not be set to %1").arg(set));
        return;
    }
    const bool recorded = runOnGui([set] {
        if (gpWin && !StationExit::ending())
            gpWin->InsertRecord(QStringLiteral("API: 修改系统时间,") + set, QStringLiteral("API"));
    });
    if (!recorded)
        LOG(ERROR) << "HTTP API: clock set to " << set.toStdString() << ", its journal entry was not written";
    answer(res, 200, QJsonObject{{"result", "set"}, {"time", set}});
}

void HttpApiServer::httpapi__get_result_image(const HttpApiRequest& req, HttpApiAnswer& res)
{
    const int camera = QString::fromStdString(req.matches[1]).toInt();
    const int detect = QString::fromStdString(req.matches[2]).toInt();
    const std::string& kind = req.matches[3];
    const std::string& name = req.matches[4];
    if (camera < 1 || camera > 8 || detect < 1 || detect > 8) {
        fail(res, 400, QStringLiteral("camera and detection are numbered 1 to 8"));
        return;
    }
    if (kind != "OK" && kind != "NG") {
        fail(res, 400, QStringLiteral("the result folder is \"OK\" or \"NG\""));
        return;
    }
    if (name.empty() || name == "." || name == ".." || name.size() > 255
        || name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
        fail(res, 400, QStringLiteral("the file name must be a plain name inside the folder"));
        return;
    }
    // Each step is opened inside the one before without following a link,
    // so nothing outside alarmimage/ can be reached, whatever lies there.
    const std::string parts[] = {"camera" + std::to_string(camera), "detect" + std::to_string(detect), kind};
    int fd = ::open("alarmimage", O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    for (const std::string& p : parts) {
        if (fd < 0)
            break;
        const int next = openInside(fd, p, true);
        ::close(fd);
        fd = next;
    }
    int file = fd < 0 ? -1 : openInside(fd, name, false);
    if (fd >= 0)
        ::close(fd);
    struct stat st{};
    if (file >= 0 && (::fstat(file, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(file);
        file = -1;
    }
    if (file < 0) {
        fail(res, 404, QStringLiteral("no result image %1").arg(QString::fromStdString(name).left(255)));
        return;
    }
    // Sent from the file as it is read: a request never holds an image whole.
    res.status = 200;
    res.type = "image/jpeg";
    res.file = file;
    res.fileSize = quint64(st.st_size);
}

void HttpApiServer::httpapi__get_operation_record(const HttpApiRequest& req, HttpApiAnswer& res)
{
    QJsonObject body;
    QString day;
    if (!bodyObject(req, res, &body) || !textField(body, "date", res, &day))
        return;
    const QDate date = QDate::fromString(day, QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid()) {
        fail(res, 400, QStringLiteral("\"date\" must be a real day as yyyy-MM-dd"));
        return;
    }
    day = date.toString(QStringLiteral("yyyy-MM-dd"));
    // The day RECORD.db holds is the journal's, read where the journal lives.
    QString current;
    if (!runOnGui([&current] { current = OperationRecords::instance()->storedDay(); })) {
        fail(res, 503, QStringLiteral("the station did not take the request"));
        return;
    }
    const QString file = day == current ? QString::fromLatin1(OperationRecords::kDbFile)
                                        : QDir(QString::fromLatin1(OperationRecords::kArchiveDir))
                                              .filePath(day + QStringLiteral(".db"));
    QVector<OperationRecords::Row> stored;
    if (!OperationRecords::readRows(file, &stored)) {
        fail(res, 500, QStringLiteral("the journal of %1 could not be read").arg(day));
        return;
    }
    QJsonArray rows;
    for (const OperationRecords::Row& r : stored)
        rows.append(QJsonObject{{"recordtime", r.time},
                                {"recordpassword", r.level},
                                {"remarks", r.text},
                                {"recordtype", r.type}});
    answer(res, 200, QJsonObject{{"date", day}, {"records", rows}});
}
