#include "netservices/httpsession.h"

#include "controller/stationexit.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/file_posix.hpp>

#include <glog/logging.h>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

namespace {

QString headTooLarge()
{
    return QStringLiteral("the request head is larger than %1 bytes or %2 lines")
        .arg(HttpApiServer::kMaxHeadBytes)
        .arg(HttpApiServer::kMaxHeadLines);
}

// The comma-separated tokens of every line of one header, lower case.
std::vector<std::string> tokens(const http::request_header<>& head, http::field name)
{
    std::vector<std::string> out;
    const auto lines = head.equal_range(name);
    for (auto it = lines.first; it != lines.second; ++it) {
        const std::string value(it->value());
        size_t from = 0;
        while (from <= value.size()) {
            size_t to = value.find(',', from);
            if (to == std::string::npos)
                to = value.size();
            std::string t = value.substr(from, to - from);
            const size_t a = t.find_first_not_of(" \t");
            const size_t b = t.find_last_not_of(" \t");
            t = a == std::string::npos ? std::string() : t.substr(a, b - a + 1);
            std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return char(std::tolower(c)); });
            if (!t.empty())
                out.push_back(t);
            from = to + 1;
        }
    }
    return out;
}

// Whether the connection stays open after the answer: "close" on any
// Connection line ends it; HTTP/1.0 keeps it only when asked to.
bool keepsAlive(const http::request_header<>& head)
{
    const auto t = tokens(head, http::field::connection);
    if (std::find(t.begin(), t.end(), "close") != t.end())
        return false;
    return head.version() >= 11 || std::find(t.begin(), t.end(), "keep-alive") != t.end();
}

// A head line folded onto the next (a line that starts with a space or a
// tab): read one way by us and another by a proxy in front, so refused.
bool folded(const asio::const_buffer& head)
{
    const char* p = static_cast<const char*>(head.data());
    for (size_t i = 1; i + 2 < head.size(); ++i)
        if (p[i - 1] == '\n' && (p[i] == ' ' || p[i] == '\t'))
            return true;
    return false;
}

} // namespace

// --- the connections ------------------------------------------------------------

HttpApiServer::Connections::Connections(HttpApiServer& o)
    : owner(o)
    , pool(PeerPool::Limits{kThreads, kPeerThreads, kMaxWaiting, kPeerWaiting, kAnswerMemoryBytes,
                            kPeerAnswerMemoryBytes})
    , writes(kPeerWritesPerSecond, kPeerWriteBurst, kWritesPerSecond, kWriteBurst,
             std::chrono::milliseconds(kWriteQuietMs), std::chrono::milliseconds(kWriteMemoryMs))
{
}

HttpApiServer::Connections::~Connections()
{
    stop();
}

bool HttpApiServer::Connections::listen(const std::string& host, quint16 port, std::string* why)
{
    beast::error_code ec;
    const tcp::endpoint at(asio::ip::make_address(host, ec), port);
    if (!ec)
        m_acceptor.open(at.protocol(), ec);
    // Reusing the address only lets a restart bind past old connections; the
    // port is not shared, so a second station cannot take half the requests.
    if (!ec)
        m_acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        m_acceptor.bind(at, ec);
    if (!ec)
        m_acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        *why = ec.message();
        return false;
    }
    m_port = m_acceptor.local_endpoint().port();
    return true;
}

void HttpApiServer::Connections::run()
{
    pool.start();
    accept();
    watchForEnd();
    m_io = std::thread([this] { ioc.run(); });
}

void HttpApiServer::Connections::stop()
{
    if (!m_io.joinable())
        return;
    asio::post(ioc, [this] { shutDown(); });
    // The requests taken run to their end, quickly: a handler waiting for the
    // GUI thread gives up now that the server is stopping, and its 503 goes
    // out.
    pool.stop();
    asio::post(ioc, [this] { closeAll(); });
    // With the acceptor, the connections and the timers gone, the I/O thread
    // runs out of work and returns.
    m_io.join();
}

void HttpApiServer::Connections::accept()
{
    m_acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (shuttingDown || !m_acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors or a connection lost in the handshake: try
            // again shortly rather than spin on the error.
            LOG_EVERY_N(WARNING, 100) << "HTTP API: accepting a connection failed: " << ec.message();
            m_acceptRetry.expires_after(std::chrono::milliseconds(50));
            m_acceptRetry.async_wait([this](beast::error_code e) {
                if (!e && !shuttingDown && m_acceptor.is_open())
                    accept();
            });
            return;
        }
        admit(std::move(socket));
        accept();
    });
}

void HttpApiServer::Connections::admit(tcp::socket socket)
{
    beast::error_code ec;
    const tcp::endpoint from = socket.remote_endpoint(ec);
    if (ec)
        return; // gone already
    const std::string peer = from.address().to_string();
    // Room is made at the expense of the peers holding the most, or of the
    // newcomer's own peer when that is at its share; never of a newcomer for
    // being new, and never of a peer for its name.
    std::vector<HeldConnection> held;
    held.reserve(m_sessions.size());
    for (const auto& s : m_sessions)
        held.push_back(HeldConnection{&s->peer(), s->rank(), s->since()});
    const int victim = connectionToGiveUp(held, peer, kMaxConnections, kMaxPeerConnections);
    if (victim >= 0) {
        std::next(m_sessions.begin(), victim)->get()->close(true);
        if (++m_evicted % 1000 == 1)
            LOG(WARNING) << "HTTP API: connections full, " << m_evicted << " closed so far to make room (of the "
                         << "peers holding the most, the connection most willing to go)";
    }
    socket.set_option(tcp::no_delay(true), ec);
    socket.set_option(asio::socket_base::send_buffer_size(kSendBufferBytes), ec);
    auto session = std::make_shared<HttpSession>(*this, std::move(socket), peer);
    m_sessions.push_back(session);
    session->start(std::prev(m_sessions.end()));
}

void HttpApiServer::Connections::leaveTable(HttpSession& s)
{
    // A list's elements keep their place in memory when moved: the session's
    // own iterator stays good.
    m_closing.splice(m_closing.end(), m_sessions, s.self());
    ++m_closingPerPeer[s.peer()];
    if (int(m_closing.size()) <= kMaxClosing)
        return;
    // Of the peers keeping the most, the connection closing longest goes:
    // never a peer for its name.
    int most = 0;
    for (const auto& p : m_closingPerPeer)
        most = std::max(most, p.second);
    const auto oldest = std::find_if(m_closing.begin(), m_closing.end(), [&](const std::shared_ptr<HttpSession>& c) {
        return m_closingPerPeer[c->peer()] == most;
    });
    if (oldest != m_closing.end())
        std::shared_ptr<HttpSession>(*oldest)->close(true);
}

void HttpApiServer::Connections::forget(HttpSession& s)
{
    if (s.closing()) {
        const auto it = m_closingPerPeer.find(s.peer());
        if (it != m_closingPerPeer.end() && --it->second <= 0)
            m_closingPerPeer.erase(it);
    }
    // The list holds the last owner on this thread: the session lives on in
    // the handlers still bound to it and goes with the last of them.
    asio::post(ioc, [keep = *s.self()] {});
    (s.closing() ? m_closing : m_sessions).erase(s.self());
}

void HttpApiServer::Connections::watchForEnd()
{
    m_endWatch.expires_after(std::chrono::milliseconds(100));
    m_endWatch.async_wait([this](beast::error_code ec) {
        if (ec || shuttingDown)
            return;
        if (!StationExit::ending()) {
            watchForEnd();
            return;
        }
        // The station is ending: no new connection; those open are answered
        // 503 from now on.
        beast::error_code e;
        m_acceptor.close(e);
        m_acceptRetry.cancel();
        LOG(INFO) << "HTTP API: the station is ending, no new connections";
    });
}

void HttpApiServer::Connections::shutDown()
{
    shuttingDown = true;
    beast::error_code ec;
    m_acceptor.close(ec);
    m_acceptRetry.cancel();
    m_endWatch.cancel();
    // Connections still waiting for a request go now; those being answered
    // get their answer first (see closeAll()).
    const auto all = m_sessions;
    for (const auto& s : all)
        if (s->waitingForRequest())
            s->close();
}

void HttpApiServer::Connections::closeAll()
{
    // Answers still on their way get a moment to go out, never more.
    m_busy.reset();
    m_finalClose.expires_after(std::chrono::milliseconds(500));
    m_finalClose.async_wait([this](beast::error_code) {
        for (const auto* list : {&m_sessions, &m_closing}) {
            const auto all = *list;
            for (const auto& s : all)
                s->close(true);
        }
    });
}

// --- one connection -------------------------------------------------------------

template <class Body>
struct HttpSession::Outgoing
{
    http::response<Body> msg;
    // Made once the message is whole: a body's writer takes its size when made.
    std::optional<http::response_serializer<Body>> sr;
};

HttpSession::HttpSession(HttpApiServer::Connections& net, tcp::socket socket, std::string peer)
    : m_net(net)
    , m_socket(std::move(socket))
    , m_peer(std::move(peer))
    , m_buffer(kBufferBytes)
    , m_timer(net.ioc)
    , m_progressTimer(net.ioc)
{
}

void HttpSession::start(std::list<std::shared_ptr<HttpSession>>::iterator self)
{
    m_self = self;
    readRequest();
}

int HttpSession::rank() const
{
    switch (m_state) {
    case Idle:
        // A kept-alive connection whose last answer the kernel still sends
        // is an answer on its way.
        if (unsent() > 0)
            return 5;
        // Bytes of a request the kernel holds and this thread has not read
        // yet: it has asked. A flood of connections that never ask turns
        // the table over in a few milliseconds, faster than a client's
        // request may be read.
        if (unread() > 0)
            return 3;
        // Only a connection that has had time to ask counts as idle: a
        // newcomer that has not yet sent its first byte is not given up for
        // being new, but before one that has begun to ask.
        return Clock::now() - m_idleSince > std::chrono::milliseconds(kIdleGraceMs) ? 0 : 2;
    case Draining: return 1;
    case Reading: return 3;
    case Handling: return 4;
    case Flushing:
        // Closing after its last answer: once the peer has all of it (what
        // is left unsent is at most the closing FIN), it is as good as gone.
        return unsent() <= 1 ? 1 : 5;
    // An answer on its way is the last to go.
    default: return 5;
    }
}

size_t HttpSession::unacked() const
{
    int n = 0;
    if (::ioctl(const_cast<tcp::socket&>(m_socket).native_handle(), SIOCOUTQ, &n) != 0)
        return 0;
    // Once the sending side is shut, the FIN counts too until it is acknowledged.
    n -= m_finQueued ? 1 : 0;
    return n > 0 ? size_t(n) : 0;
}

size_t HttpSession::unread() const
{
    int n = 0;
    if (::ioctl(const_cast<tcp::socket&>(m_socket).native_handle(), FIONREAD, &n) != 0)
        return 0;
    return n > 0 ? size_t(n) : 0;
}

size_t HttpSession::unsent() const
{
    int n = 0;
    if (::ioctl(const_cast<tcp::socket&>(m_socket).native_handle(), SIOCOUTQNSD, &n) != 0)
        return 0;
    return n > 0 ? size_t(n) : 0;
}

void HttpSession::close(bool abortive)
{
    if (m_closed)
        return;
    m_closed = true;
    m_state = Closed;
    m_gone->store(true);
    ++m_timerRound;
    m_timer.cancel();
    m_progressTimer.cancel();
    releaseHeld();
    beast::error_code ec;
    // What the kernel has not yet been let send would stay with it after the
    // close, for as long as the peer cares to keep its window shut: dropped.
    // What is on its way the kernel delivers, as for any closed socket.
    if (abortive || unsent() > 0)
        m_socket.set_option(asio::socket_base::linger(true, 0), ec);
    else
        m_socket.shutdown(tcp::socket::shutdown_both, ec);
    m_socket.close(ec);
    m_net.forget(*this);
}

void HttpSession::releaseHeld()
{
    if (m_held > 0)
        m_net.pool.release(m_peer, m_held);
    m_held = 0;
    if (m_pendingHeld > 0)
        m_net.pool.release(m_peer, m_pendingHeld);
    m_pendingHeld = 0;
}

void HttpSession::arm(int ms, void (HttpSession::*then)())
{
    const unsigned round = ++m_timerRound;
    m_timer.expires_after(std::chrono::milliseconds(ms));
    m_timer.async_wait([weak = weak_from_this(), round, then](beast::error_code ec) {
        const auto self = weak.lock();
        if (ec || !self || self->m_closed || self->m_timerRound != round)
            return;
        (self.get()->*then)();
    });
}

void HttpSession::readRequest()
{
    m_state = Idle;
    m_idleSince = Clock::now();
    m_parser.emplace();
    m_parser->header_limit(HttpApiServer::kMaxHeadBytes);
    m_parser->body_limit(HttpApiServer::kMaxBody);
    m_headChecked = false;
    m_blank = 0;
    m_timedOut = false;
    m_request = HttpApiRequest();
    m_route = -1;
    waitForRequest();
    if (m_buffer.size() > 0)
        takeFirstBytes(); // pipelined: the next request may be here already
    else
        readSome();
}

void HttpSession::waitForRequest()
{
    if (!m_answered) {
        arm(HttpApiServer::kIdleMs, &HttpSession::onIdle);
        return;
    }
    // The wait after an answer runs from when the peer has taken all of it:
    // a kept-alive peer still taking its last answer is not idle while it
    // takes it (the progress watch drops it when it stops), and the wait it
    // is told (Keep-Alive) it counts from when it has the answer.
    if (unacked() > 0)
        arm(HttpApiServer::kProgressTickMs, &HttpSession::waitForRequest);
    else
        arm(HttpApiServer::kKeepAliveMs, &HttpSession::onIdle);
}

void HttpSession::onIdle()
{
    close();
}

// Empty lines before a request line are dropped (an old client's CRLF after
// its body). They are not the request's first byte: they neither start its
// deadline nor lengthen the wait for it, and they count against the head's
// size, so a peer sending nothing else is cut as a head too large is.
void HttpSession::takeFirstBytes()
{
    const char* p = static_cast<const char*>(m_buffer.data().data());
    const size_t n = m_buffer.size();
    size_t i = 0;
    while (i < n && (p[i] == '\n' || (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n')))
        i += p[i] == '\n' ? 1 : 2;
    m_buffer.consume(i);
    m_blank += i;
    if (m_blank >= size_t(HttpApiServer::kMaxHeadBytes)) {
        early(431, headTooLarge());
        return;
    }
    // Nothing but blank lines yet, or the first half of one.
    if (m_buffer.size() == 0 || (m_buffer.size() == 1 && p[i] == '\r')) {
        readSome();
        return;
    }
    m_parser->header_limit(std::uint32_t(HttpApiServer::kMaxHeadBytes - m_blank));
    // The request's deadline runs from its first byte.
    m_state = Reading;
    arm(HttpApiServer::kRequestDeadlineMs, &HttpSession::onRequestDeadline);
    parse();
}

void HttpSession::onRequestDeadline()
{
    m_timedOut = true;
    beast::error_code ec;
    m_socket.cancel(ec);
}

void HttpSession::readSome()
{
    if (m_buffer.size() >= kBufferBytes) {
        // The parser needs more than the buffer holds: a line too long.
        if (m_parser && m_parser->is_header_done())
            early(400, QStringLiteral("the request has a line longer than %1 bytes").arg(HttpApiServer::kMaxHeadBytes));
        else
            early(431, headTooLarge());
        return;
    }
    m_socket.async_read_some(m_buffer.prepare(kBufferBytes - m_buffer.size()),
                             [self = shared_from_this()](beast::error_code ec, size_t n) { self->onRead(ec, n); });
}

void HttpSession::onRead(beast::error_code ec, size_t n)
{
    if (m_closed)
        return;
    if (ec) {
        if (ec == asio::error::operation_aborted && m_timedOut)
            early(408, QStringLiteral("the request did not arrive whole within %1 ms")
                           .arg(HttpApiServer::kRequestDeadlineMs));
        else
            close(); // gone, or nothing came: it ends without a word
        return;
    }
    m_buffer.commit(n);
    if (m_state == Idle)
        takeFirstBytes();
    else
        parse();
}

void HttpSession::parse()
{
    for (;;) {
        if (m_buffer.size() == 0) {
            readSome();
            return;
        }
        beast::error_code ec;
        const bool headBefore = m_parser->is_header_done();
        const size_t used = m_parser->put(m_buffer.data(), ec);
        if (!headBefore && m_parser->is_header_done() && folded(asio::buffer(m_buffer.data(), used))) {
            m_buffer.consume(used);
            early(400, QStringLiteral("the request has a folded header line"));
            return;
        }
        m_buffer.consume(used);
        if (ec == http::error::need_more || (!ec && used == 0)) {
            readSome();
            return;
        }
        if (ec) {
            refuse(ec);
            return;
        }
        if (m_parser->is_header_done() && !m_headChecked) {
            m_headChecked = true;
            if (!headAcceptable())
                return;
            const auto expect = m_parser->get()[http::field::expect];
            if (!m_parser->is_done() && beast::iequals(expect, "100-continue")) {
                continueBody();
                return;
            }
        }
        if (m_parser->is_done()) {
            // A chunked body's trailer lines join the head's.
            const auto& msg = m_parser->get();
            if (std::distance(msg.begin(), msg.end()) > HttpApiServer::kMaxHeadLines) {
                early(431, headTooLarge());
                return;
            }
            dispatch();
            return;
        }
    }
}

// Why a request could not be read, answered where the peer may still read
// it.
void HttpSession::refuse(beast::error_code ec)
{
    if (ec == http::error::header_limit)
        early(431, headTooLarge());
    else if (ec == http::error::body_limit)
        early(413, QStringLiteral("the body is larger than %1 bytes").arg(HttpApiServer::kMaxBody));
    else
        early(400, QStringLiteral("the request could not be read: %1").arg(QString::fromStdString(ec.message())));
}

bool HttpSession::originAcceptable(beast::string_view origin) const
{
    beast::error_code ec;
    const tcp::endpoint local = m_socket.local_endpoint(ec);
    if (ec)
        return false;
    const asio::ip::address a = local.address();
    const std::string port = ":" + std::to_string(local.port());
    std::vector<std::string> own{a.is_v6() ? "[" + a.to_string() + "]" : a.to_string()};
    if (a.is_loopback())
        own.emplace_back("localhost");
    for (const std::string& host : own)
        if (beast::iequals(origin, "http://" + host + port))
            return true;
    return false;
}

// Checks what the head alone decides; false with the answer on its way.
bool HttpSession::headAcceptable()
{
    const auto& head = m_parser->get();
    if (std::distance(head.begin(), head.end()) > HttpApiServer::kMaxHeadLines) {
        early(431, headTooLarge());
        return false;
    }
    if (StationExit::ending()) {
        early(503, httpEndingText());
        return false;
    }
    const auto hosts = head.count(http::field::host);
    if (hosts > 1 || (head.version() >= 11 && hosts != 1)) {
        early(400, QStringLiteral("the request must have one Host line"));
        return false;
    }
    // A body's length must be read one way only: by a final chunked coding,
    // or by its length, never both, or the rest of the stream would be read
    // as another request.
    const auto codings = tokens(head, http::field::transfer_encoding);
    if (head.count(http::field::transfer_encoding) > 0) {
        if (head.version() < 11 || codings.empty() || codings.back() != "chunked"
            || head.count(http::field::content_length) > 0) {
            early(400, QStringLiteral("Transfer-Encoding must end with chunked, without Content-Length"));
            return false;
        }
        if (codings.size() > 1) {
            early(501, QStringLiteral("only the chunked transfer coding is understood"));
            return false;
        }
    }
    // Only a browser sends an Origin: a page on the plant network must not
    // drive the station through its operator's browser.
    const auto origin = head.find(http::field::origin);
    if (origin != head.end() && !originAcceptable(origin->value())) {
        early(403, QStringLiteral("requests from web pages of other sites are refused"));
        return false;
    }
    // What the head names is kept for the request once its body is in.
    m_request.method = std::string(head.method_string());
    m_request.path = decodedHttpPath(head.target());
    const char* allow = nullptr;
    m_route = HttpApiServer::findRoute(m_request.path, m_request.method, &m_request.matches, &allow);
    if (m_route == -404) {
        early(404, QStringLiteral("no route %1").arg(QString::fromStdString(m_request.path).left(200)));
        return false;
    }
    if (m_route == -405) {
        HttpApiAnswer res =
            httpFailure(405, QStringLiteral("%1 takes %2, not %3")
                                 .arg(QString::fromStdString(m_request.path).left(200), QLatin1String(allow),
                                      QString::fromStdString(m_request.method).left(20)));
        res.headers.emplace_back("Allow", allow);
        send(std::move(res), false, !m_parser->is_done());
        return false;
    }
    return true;
}

void HttpSession::continueBody()
{
    static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
    asio::async_write(m_socket, asio::buffer(kContinue, sizeof kContinue - 1),
                      [self = shared_from_this()](beast::error_code ec, size_t) {
                          if (self->m_closed)
                              return;
                          if (ec)
                              self->close();
                          else
                              self->parse();
                      });
}

// An answer before the request was read whole: the connection ends after it.
void HttpSession::early(int status, const QString& why)
{
    send(httpFailure(status, why), false, true);
}

void HttpSession::dispatch()
{
    m_state = Handling;
    ++m_timerRound;
    m_timer.cancel();
    auto& msg = m_parser->get();
    const bool keepAlive = keepsAlive(msg);
    m_http10 = msg.version() < 11;
    if (StationExit::ending()) {
        send(httpFailure(503, httpEndingText()), false, false);
        return;
    }
    const int route = m_route;
    HttpApiRequest req = std::move(m_request);
    req.body = std::move(msg.body());
    req.peer = m_peer;
    req.hungUp = m_gone;
    m_parser.reset();
    HttpApiServer* owner = &m_net.owner;
    HttpApiServer::Connections* net = &m_net;
    const std::string peer = m_peer;
    std::weak_ptr<HttpSession> weak = weak_from_this();
    PeerPool::Job job;
    job.run = [weak, owner, net, peer, req = std::move(req), route, keepAlive]() {
        HttpApiAnswer res;
        try {
            owner->handle(req, route, res);
        } catch (const std::exception& e) {
            LOG(ERROR) << "HTTP API: " << req.method << " " << req.path << " failed: " << e.what();
            res = httpFailure(500, QStringLiteral("the station could not answer the request"));
        } catch (...) {
            LOG(ERROR) << "HTTP API: " << req.method << " " << req.path << " failed";
            res = httpFailure(500, QStringLiteral("the station could not answer the request"));
        }
        const size_t held = res.body.size();
        net->pool.hold(peer, held);
        asio::post(net->ioc, [weak, res = std::move(res), keepAlive, held, net, peer]() mutable {
            if (const auto s = weak.lock()) {
                s->deliver(std::move(res), keepAlive, held);
                return;
            }
            net->pool.release(peer, held);
            if (res.file >= 0)
                ::close(res.file);
        });
    };
    job.abandoned = [gone = m_gone] { return gone->load(); };
    job.refuse = [weak, net] {
        asio::post(net->ioc, [weak] {
            if (const auto s = weak.lock())
                s->deliver(httpFailure(503, QStringLiteral("the station is busy; nothing was changed, try again")),
                           false, 0);
        });
    };
    if (!m_net.pool.submit(m_peer, std::move(job))) {
        send(httpFailure(503, QStringLiteral("the station is busy; nothing was changed, try again")), false, false);
        return;
    }
    watchHangUp();
}

// While its request waits and runs, a connection is read on: a peer that
// hangs up has given up, and its request is dropped before it runs. What it
// sends meanwhile is kept for the next request, as far as the buffer holds.
void HttpSession::watchHangUp()
{
    if (m_buffer.size() >= kBufferBytes)
        return;
    m_watching = true;
    m_socket.async_read_some(m_buffer.prepare(kBufferBytes - m_buffer.size()),
                             [self = shared_from_this()](beast::error_code ec, size_t n) {
                                 self->m_watching = false;
                                 if (self->m_closed)
                                     return;
                                 if (!ec)
                                     self->m_buffer.commit(n);
                                 if (ec && ec != asio::error::operation_aborted) {
                                     self->close();
                                     return;
                                 }
                                 if (self->m_pending) {
                                     auto p = std::move(*self->m_pending);
                                     self->m_pending.reset();
                                     self->m_held = self->m_pendingHeld;
                                     self->m_pendingHeld = 0;
                                     self->send(std::move(p.first), p.second, false);
                                 } else if (!ec) {
                                     self->watchHangUp();
                                 }
                             });
}

void HttpSession::deliver(HttpApiAnswer res, bool keepAlive, size_t held)
{
    if (m_closed || m_state != Handling) {
        if (held > 0)
            m_net.pool.release(m_peer, held);
        if (res.file >= 0)
            ::close(res.file);
        return;
    }
    keepAlive = keepAlive && !m_net.shuttingDown;
    if (m_watching) {
        // The watching read is called off first; its end sends the answer.
        m_pending.emplace(std::move(res), keepAlive);
        m_pendingHeld = held;
        beast::error_code ec;
        m_socket.cancel(ec);
        return;
    }
    m_held = held;
    send(std::move(res), keepAlive, false);
}

void HttpSession::send(HttpApiAnswer res, bool keepAlive, bool unread)
{
    // A request the client got wrong, however far it was read, ends its
    // connection as every refusal of what it sent does; what it may have sent
    // behind it is drained, so that it can read why.
    if (res.status == 400) {
        keepAlive = false;
        unread = true;
    }
    m_state = Writing;
    m_parser.reset();
    m_keepAlive = keepAlive && !unread;
    m_unread = unread;
    auto head = [&](auto& msg) {
        msg.version(11);
        msg.result(unsigned(res.status));
        if (!res.type.empty())
            msg.set(http::field::content_type, res.type);
        for (const auto& h : res.headers)
            msg.set(h.first, h.second);
    };
    auto framed = [&](auto& msg) {
        msg.keep_alive(m_keepAlive);
        // HTTP/1.0 keeps the connection only when the answer says so.
        if (m_keepAlive && m_http10)
            msg.set(http::field::connection, "keep-alive");
        if (m_keepAlive)
            msg.set(http::field::keep_alive, "timeout=" + std::to_string(HttpApiServer::kKeepAliveToldSeconds));
    };
    if (res.stream) {
        auto out = std::make_shared<Outgoing<http::buffer_body>>();
        head(out->msg);
        // Made as it is sent: chunked, or to the close for HTTP/1.0.
        if (m_http10)
            m_keepAlive = false;
        else
            out->msg.chunked(true);
        framed(out->msg);
        out->msg.body().data = nullptr;
        out->msg.body().size = 0;
        out->msg.body().more = true;
        m_stream = std::move(res.stream);
        write(out);
        return;
    }
    if (res.file >= 0) {
        beast::file_posix file;
        file.native_handle(res.file);
        auto out = std::make_shared<Outgoing<http::file_body>>();
        beast::error_code ec;
        out->msg.body().reset(std::move(file), ec);
        if (ec) {
            send(httpFailure(404, QStringLiteral("the result image could not be read")), keepAlive, unread);
            return;
        }
        head(out->msg);
        framed(out->msg);
        out->msg.prepare_payload();
        write(out);
        return;
    }
    auto out = std::make_shared<Outgoing<http::string_body>>();
    out->msg.body() = std::move(res.body);
    head(out->msg);
    framed(out->msg);
    out->msg.prepare_payload();
    write(out);
}

// Hands an answer to the kernel piece by piece; what the peer takes of it is
// watched meanwhile (see onProgressTick()).
template <class Body>
void HttpSession::write(std::shared_ptr<Outgoing<Body>> out)
{
    if (!out->sr)
        out->sr.emplace(out->msg);
    http::async_write_some(m_socket, *out->sr, [self = shared_from_this(), out](beast::error_code ec, size_t n) {
        self->m_handed += n;
        if (self->m_closed)
            return;
        if (n > 0)
            self->watchProgress();
        if (ec == http::error::need_buffer) {
            if constexpr (std::is_same<Body, http::buffer_body>::value)
                self->nextPiece(out);
            return;
        }
        if (ec) {
            self->close(true);
            return;
        }
        if (out->sr->is_done()) {
            self->answered();
            return;
        }
        self->write(out);
    });
}

// The bytes handed to the kernel are not those the peer took: the kernel
// holds up to twice the send buffer, and wakes a blocked writer only once a
// good part of it is free again, so over a slow link whole seconds pass
// without a write while the peer takes data all along. What the peer took
// is what it acknowledged: handed less what the kernel still holds.
void HttpSession::watchProgress()
{
    if (!m_progress.empty())
        return;
    m_progress.push_back({Clock::now(), m_handed - unacked(), m_handed});
    armProgressTick();
}

void HttpSession::armProgressTick()
{
    m_progressTimer.expires_after(std::chrono::milliseconds(HttpApiServer::kProgressTickMs));
    m_progressTimer.async_wait([weak = weak_from_this()](beast::error_code ec) {
        const auto self = weak.lock();
        if (!ec && self && !self->m_closed)
            self->onProgressTick();
    });
}

void HttpSession::onProgressTick()
{
    const size_t left = unacked();
    const auto now = Clock::now();
    const quint64 taken = m_handed - left;
    if (left == 0) {
        // Nothing owed: the watch rests until the next bytes are handed.
        m_progress.clear();
        return;
    }
    const auto spanAgo = now - std::chrono::milliseconds(HttpApiServer::kProgressSpanMs);
    // The sample a span back is the newest no younger than that; older ones
    // are done with.
    while (m_progress.size() > 1 && m_progress[1].at <= spanAgo)
        m_progress.pop_front();
    const Progress& then = m_progress.front();
    if (then.at <= spanAgo && taken - then.taken < quint64(HttpApiServer::kMinProgressBytes) && taken < then.handed) {
        LOG_EVERY_N(WARNING, 100) << "HTTP API: " << m_peer << " took " << (taken - then.taken) << " bytes of its answer in "
                                  << std::chrono::duration_cast<std::chrono::milliseconds>(now - then.at).count()
                                  << " ms (under " << HttpApiServer::kMinProgressBytes << " in "
                                  << HttpApiServer::kProgressSpanMs << " ms), dropped";
        close(true);
        return;
    }
    m_progress.push_back({now, taken, m_handed});
    armProgressTick();
}

// The piece sent is done with; the next is made on the pool, in the peer's
// turn and within its share of answer bytes. The wait for it is the
// station's, not the peer's: it does not count against its progress.
void HttpSession::nextPiece(std::shared_ptr<Outgoing<http::buffer_body>> out)
{
    if (m_held > 0)
        m_net.pool.release(m_peer, m_held);
    m_held = 0;
    m_piece.clear();
    HttpApiServer::Connections* net = &m_net;
    const std::string peer = m_peer;
    PeerPool::Job job;
    job.run = [weak = weak_from_this(), stream = m_stream, net, peer, out] {
        std::string piece;
        HttpApiAnswer::Piece r = HttpApiAnswer::Piece::Failed;
        try {
            r = stream(&piece, HttpApiServer::kPieceBytes);
        } catch (const std::exception& e) {
            LOG(ERROR) << "HTTP API: an answer could not be made whole: " << e.what();
        }
        const size_t held = piece.size();
        net->pool.hold(peer, held);
        asio::post(net->ioc, [weak, net, peer, out, piece = std::move(piece), r, held]() mutable {
            const auto self = weak.lock();
            if (!self || self->m_closed) {
                net->pool.release(peer, held);
                return;
            }
            if (r == HttpApiAnswer::Piece::Failed) {
                net->pool.release(peer, held);
                self->close(true);
                return;
            }
            self->m_held = held;
            self->m_piece = std::move(piece);
            auto& body = out->msg.body();
            body.data = self->m_piece.empty() ? nullptr : &self->m_piece[0];
            body.size = self->m_piece.size();
            body.more = r == HttpApiAnswer::Piece::More;
            self->write(out);
        });
    };
    job.abandoned = [gone = m_gone] { return gone->load(); };
    m_net.pool.follow(m_peer, std::move(job));
}

void HttpSession::answered()
{
    releaseHeld();
    m_stream = nullptr;
    m_piece = std::string();
    m_answered = true;
    if (m_keepAlive && !m_net.shuttingDown) {
        readRequest();
        return;
    }
    beast::error_code ec;
    m_socket.shutdown(tcp::socket::shutdown_send, ec);
    m_finQueued = !ec;
    if (ec) {
        close();
        return;
    }
    if (m_unread) {
        // Where the peer may still be sending, what it sends is read and
        // dropped for a short, bounded while: closing on unread bytes would
        // reset the connection and the peer might lose the answer that says
        // why.
        m_state = Draining;
        m_drained = 0;
        leave();
        if (m_closed)
            return;
        arm(kLingerMs, &HttpSession::onLingerOver);
        drain();
        return;
    }
    flush();
}

// The answer is handed whole; its slot is free at once. What the kernel has
// sent it delivers after the close; what the peer has not yet let it send
// is waited for outside the table, as long as the peer keeps taking.
void HttpSession::flush()
{
    m_state = Flushing;
    if (unsent() == 0) {
        close();
        return;
    }
    leave();
    if (!m_closed)
        arm(kFlushPollMs, &HttpSession::onFlushPoll);
}

void HttpSession::onFlushPoll()
{
    if (unsent() == 0)
        close();
    else
        arm(kFlushPollMs, &HttpSession::onFlushPoll);
}

void HttpSession::leave()
{
    m_outside = true;
    m_net.leaveTable(*this);
}

void HttpSession::onLingerOver()
{
    close();
}

void HttpSession::drain()
{
    m_socket.async_read_some(asio::buffer(m_net.discard), [self = shared_from_this()](beast::error_code ec, size_t n) {
        if (self->m_closed)
            return;
        self->m_drained += n;
        if (ec || self->m_drained > kLingerBytes)
            self->close();
        else
            self->drain();
    });
}
