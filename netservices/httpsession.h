#pragma once
// The HTTP API's connections: admission by shares per peer address, and one
// session per connection that reads a request within its bounds, hands it to
// the pool and sends the answer while it moves. Internal to the server.

#include "netservices/httpapiserver.h"
#include "netservices/httpshares.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class HttpSession;

// An error answer: {"error": why} with its status.
HttpApiAnswer httpFailure(int status, const QString& why);
// The path of a request target: the query dropped and %XX decoded, so that a
// file name is judged as the file system will see it.
std::string decodedHttpPath(boost::beast::string_view target);
// Why a request is refused once the station has begun to end.
QString httpEndingText();

class HttpApiServer::Connections
{
public:
    explicit Connections(HttpApiServer& owner);
    ~Connections();
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // Binds and listens; false with the system's reason in *why.
    bool listen(const std::string& host, quint16 port, std::string* why);
    quint16 port() const { return m_port; }
    // Starts the pool, the accepting and the I/O thread.
    void run();
    // Refuses new connections, closes those waiting for a request, lets the
    // requests taken end, gives answers on their way a moment, and joins.
    void stop();

    // --- for the sessions, on the I/O thread ---
    HttpApiServer& owner;
    boost::asio::io_context ioc{1};
    PeerPool pool;
    WriteRate writes; // any thread
    bool shuttingDown = false;
    // A sink for what is read only to be dropped; one thread reads into it.
    std::array<char, 4096> discard{};
    // Takes a connection whose answer is handed whole out of the table and
    // keeps it among those closing.
    void leaveTable(HttpSession& s);
    void forget(HttpSession& s);

private:
    void accept();
    void admit(boost::asio::ip::tcp::socket socket);
    void watchForEnd();
    void shutDown();
    void closeAll();

    boost::asio::ip::tcp::acceptor m_acceptor{ioc};
    boost::asio::steady_timer m_acceptRetry{ioc};
    boost::asio::steady_timer m_endWatch{ioc};
    boost::asio::steady_timer m_finalClose{ioc};
    // Keeps the I/O thread for answers still to come from the pool while the
    // server stops.
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_busy{ioc.get_executor()};
    std::thread m_io;
    quint16 m_port = 0;

    // Every open connection, oldest first.
    std::list<std::shared_ptr<HttpSession>> m_sessions;
    long m_evicted = 0;
    // Those out of the table whose last bytes are still on their way, oldest
    // first, and how many each peer keeps.
    std::list<std::shared_ptr<HttpSession>> m_closing;
    std::map<std::string, int> m_closingPerPeer;
};

class HttpSession : public std::enable_shared_from_this<HttpSession>
{
public:
    using Clock = std::chrono::steady_clock;
    HttpSession(HttpApiServer::Connections& net, boost::asio::ip::tcp::socket socket, std::string peer);

    void start(std::list<std::shared_ptr<HttpSession>>::iterator self);
    // Closes now, gracefully when all that was sent has left, abortively
    // (dropping what the kernel still holds) otherwise or when asked.
    void close(bool abortive = false);

    const std::string& peer() const { return m_peer; }
    // How willingly it gives up its slot, most willing first: waiting a while
    // for a request with no byte of it; draining after a refusal, or closing
    // with its answer all taken; new with no byte yet; reading a request
    // (bytes of it come, read or not); its request waiting or running; its
    // answer on its way (also kept alive while the kernel still sends it).
    // Up to kSilentRank it has not asked for anything.
    int rank() const;
    // When it began waiting for the request it is on (what it has been doing
    // since): the earlier, the more willingly it goes within its rank.
    Clock::time_point since() const { return m_idleSince; }
    bool waitingForRequest() const { return !m_closed && (m_state == Idle || m_state == Reading); }
    // Out of the table, among the connections closing.
    bool closing() const { return m_outside; }
    std::list<std::shared_ptr<HttpSession>>::iterator self() const { return m_self; }

    // The answer of a route, back on the I/O thread; `held` bytes of it are
    // counted against the peer's share until it is sent.
    void deliver(HttpApiAnswer res, bool keepAlive, size_t held);

private:
    enum State { Idle, Reading, Handling, Writing, Flushing, Draining, Closed };
    template <class Body>
    struct Outgoing;

    // Room for a whole head and a little more: what the parser has not
    // taken yet stays here, never more.
    static constexpr size_t kBufferBytes = HttpApiServer::kMaxHeadBytes + 4096;
    // After an early refusal, what the peer still sends is dropped for this
    // long and this much at most.
    static constexpr int kLingerMs = 500;
    static constexpr size_t kLingerBytes = 1 << 20;
    // How often a closing connection looks whether the kernel has sent all.
    static constexpr int kFlushPollMs = 20;
    // How long a connection waits for its first byte before it counts as idle.
    static constexpr int kIdleGraceMs = 100;

    void readRequest();
    void waitForRequest();
    void takeFirstBytes();
    void readSome();
    void onRead(boost::beast::error_code ec, size_t n);
    void parse();
    void refuse(boost::beast::error_code ec);
    bool headAcceptable();
    bool originAcceptable(boost::beast::string_view origin) const;
    void continueBody();
    void dispatch();
    void watchHangUp();
    void early(int status, const QString& why);
    void send(HttpApiAnswer res, bool keepAlive, bool unread);
    template <class Body>
    void write(std::shared_ptr<Outgoing<Body>> out);
    void nextPiece(std::shared_ptr<Outgoing<boost::beast::http::buffer_body>> out);
    void answered();
    void flush();
    void leave();
    void drain();
    void arm(int ms, void (HttpSession::*then)());
    void onRequestDeadline();
    void onIdle();
    void watchProgress();
    void armProgressTick();
    void onProgressTick();
    void onLingerOver();
    void onFlushPoll();
    // Bytes the peer sent that the kernel holds and no read has taken yet.
    size_t unread() const;
    // Bytes handed to the kernel that the peer has not acknowledged yet, and
    // those the kernel has not even sent (the peer's window is full).
    size_t unacked() const;
    size_t unsent() const;
    void releaseHeld();

    HttpApiServer::Connections& m_net;
    boost::asio::ip::tcp::socket m_socket;
    const std::string m_peer;
    boost::beast::flat_buffer m_buffer;
    boost::asio::steady_timer m_timer;
    unsigned m_timerRound = 0;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> m_parser;
    HttpApiRequest m_request; // the one being read: method, path, the route's parts
    int m_route = -1;
    bool m_headChecked = false;
    size_t m_blank = 0; // empty lines skipped before the request line
    bool m_timedOut = false;
    bool m_http10 = false;
    std::list<std::shared_ptr<HttpSession>>::iterator m_self;
    State m_state = Idle;
    Clock::time_point m_idleSince = Clock::now();
    bool m_closed = false;
    // Set once the connection is gone, read by the pool before it runs the
    // request.
    std::shared_ptr<std::atomic<bool>> m_gone = std::make_shared<std::atomic<bool>>(false);

    // While the request is handled: whether a read watches for the peer
    // hanging up, and the answer held back until that read is called off.
    bool m_watching = false;
    std::optional<std::pair<HttpApiAnswer, bool>> m_pending;
    size_t m_pendingHeld = 0;

    // The answer being sent.
    bool m_keepAlive = false;
    bool m_unread = false;
    size_t m_held = 0; // answer bytes counted against the peer's share
    bool m_answered = false;  // an answer has gone out: the keep-alive wait applies
    bool m_finQueued = false; // the sending side is shut (the kernel counts the FIN as a byte)
    bool m_outside = false;   // out of the table (see Connections::leaveTable)
    quint64 m_handed = 0;     // answer bytes handed to the kernel, on this connection's whole life

    // What the peer has taken: samples every kProgressTickMs while it owes
    // any, the oldest a span back.
    struct Progress
    {
        Clock::time_point at;
        quint64 taken, handed;
    };
    std::deque<Progress> m_progress;
    boost::asio::steady_timer m_progressTimer;
    std::function<HttpApiAnswer::Piece(std::string*, size_t)> m_stream;
    std::string m_piece;
    size_t m_drained = 0;
};
