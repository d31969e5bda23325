#include "netservices/httpapiserver.h"

#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "controller/productioncounters.h"
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
#include <QThread>

#include <httplib.h>

#include <glog/logging.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iterator>
#include <vector>
#include <condition_variable>
#include <mutex>
#include <regex>

namespace {

const char* const kJson = "application/json; charset=utf-8";
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

struct Route
{
    const char* method;
    const char* pattern;
};

// Every route, for the answer to a known path asked with the wrong method.
const Route kRoutes[] = {
    {"POST", "/v18/http/get_production_count_bytime"},
    {"POST", "/v18/http/clear_count"},
    {"POST", "/v18/http/set_system_time"},
    {"POST", "/v18/http/get_operation_record"},
    {"GET", R"(/v18/http/get_result_image/camera([0-9]+)/detect([0-9]+)/([^/]+)/(.+))"},
};

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

void answer(httplib::Response& res, int status, const QJsonObject& body)
{
    res.status = status;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), kJson);
}

void fail(httplib::Response& res, int status, const QString& why)
{
    answer(res, status, QJsonObject{{"error", why}});
}

// The request's body as a JSON object; false with the error answered.
bool bodyObject(const httplib::Request& req, httplib::Response& res, QJsonObject* out)
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
bool textField(const QJsonObject& body, const char* key, httplib::Response& res, QString* out)
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

} // namespace

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
    if (m_server)
        return m_listening;
    m_stopping = false;
    m_server = std::make_unique<httplib::Server>();
    httplib::Server& s = *m_server;
    s.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    s.set_payload_max_length(kMaxBody);
    s.set_read_timeout(0, kReadTimeoutMs * 1000);
    s.set_write_timeout(kWriteTimeoutMs / 1000, (kWriteTimeoutMs % 1000) * 1000);
    s.set_keep_alive_timeout(kKeepAliveSeconds);
    // An answer's header and body go out as separate writes: without this the
    // body waits for the client's delayed acknowledgement of the header.
    s.set_tcp_nodelay(true);
    // The library's own options share the port (SO_REUSEPORT): a second
    // station on this port would bind too and take half of the requests.
    // Reusing the address only lets a restart bind past old connections.
    // The server keeps the options: the socket they last saw is shared, not
    // a local of this function.
    const auto listener = std::make_shared<int>(-1);
    s.set_socket_options([listener](int fd) {
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        *listener = fd;
    });
    // A known path asked with another method: 405, before any handler.
    s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        for (size_t i = 0; i < std::size(kRoutes); ++i) {
            const Route& r = kRoutes[i];
            if (!std::regex_match(req.path, routePatterns()[i]))
                continue;
            if (req.method == r.method)
                return httplib::Server::HandlerResponse::Unhandled;
            res.set_header("Allow", r.method);
            fail(res, 405, QStringLiteral("%1 takes %2, not %3")
                               .arg(QString::fromStdString(req.path).left(200), QLatin1String(r.method),
                                    QString::fromStdString(req.method).left(20)));
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Errors the library answers itself (unknown path, body too large, a
    // request it cannot read) get a JSON body too; the handlers' own errors
    // already have one.
    s.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request& req,
                                                                 httplib::Response& res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        QString why;
        switch (res.status) {
        case 404: why = QStringLiteral("no route %1").arg(QString::fromStdString(req.path).left(200)); break;
        case 413: why = QStringLiteral("the body is larger than %1 bytes").arg(kMaxBody); break;
        default: why = QStringLiteral("the request was refused (HTTP %1)").arg(res.status); break;
        }
        fail(res, res.status, why);
        return httplib::Server::HandlerResponse::Handled;
    }));
    s.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        LOG(ERROR) << "HTTP API: " << req.method << " " << req.path << " failed: " << what;
        fail(res, 500, QStringLiteral("the station could not answer the request"));
    });
    addRoutes();

    const std::string host = m_address.toStdString();
    int bound = -1;
    if (m_port == 0)
        bound = s.bind_to_any_port(host);
    else if (s.bind_to_port(host, m_port))
        bound = m_port;
    if (bound <= 0) {
        m_whyNotListening =
            QStringLiteral("%1:%2: %3").arg(m_address).arg(m_port).arg(QString::fromLocal8Bit(std::strerror(errno)));
        LOG(WARNING) << "HTTP API: " << host << ":" << m_port << " not opened (" << std::strerror(errno)
                     << "), the station runs without it";
        m_server.reset();
        return false;
    }
    // The library listens with a queue of 5 connections. Clients that connect
    // at once beyond it lose their handshake and send their request late,
    // after a retransmission; by then the worker that took the connection
    // may have stopped waiting for it and closed it unanswered.
    if (*listener >= 0 && ::listen(*listener, SOMAXCONN) != 0)
        LOG(WARNING) << "HTTP API: the queue of waiting connections stays short (" << std::strerror(errno) << ")";
    m_port = quint16(bound);
    m_listening = true;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    LOG(INFO) << "HTTP API on " << host << ":" << m_port;
    return true;
}

void HttpApiServer::stop()
{
    if (!m_server)
        return;
    m_stopping = true;
    m_server->stop();
    // listen_after_bind returns once its pool has joined every worker.
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    m_listening = false;
    LOG(INFO) << "HTTP API stopped";
}

void HttpApiServer::addRoutes()
{
    using Member = void (HttpApiServer::*)(const httplib::Request&, httplib::Response&);
    const auto bind = [this](Member m) -> httplib::Server::Handler {
        return [this, m](const httplib::Request& req, httplib::Response& res) { (this->*m)(req, res); };
    };
    httplib::Server& s = *m_server;
    s.Post(kRoutes[0].pattern, bind(&HttpApiServer::httpapi__get_production_count_bytime));
    s.Post(kRoutes[1].pattern, bind(&HttpApiServer::httpapi__clear_count));
    s.Post(kRoutes[2].pattern, bind(&HttpApiServer::httpapi__set_system_time));
    s.Post(kRoutes[3].pattern, bind(&HttpApiServer::httpapi__get_operation_record));
    s.Get(kRoutes[4].pattern, bind(&HttpApiServer::httpapi__get_result_image));
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

void HttpApiServer::httpapi__get_production_count_bytime(const httplib::Request& req, httplib::Response& res)
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

void HttpApiServer::httpapi__clear_count(const httplib::Request& req, httplib::Response& res)
{
    QJsonObject body;
    if (!bodyObject(req, res, &body))
        return;
    // The counters and the journal are the GUI thread's: cleared, written and
    // shown there, between two of its cycle steps.
    const bool done = runOnGui([] {
        ProductionCounters::clearAll();
        if (gpWin) {
            gpWin->refresh();
            gpWin->InsertRecord(QStringLiteral("API: 清除计数"), QStringLiteral("API"));
        }
    });
    if (!done) {
        fail(res, 503, QStringLiteral("the station did not take the request; nothing was cleared"));
        return;
    }
    answer(res, 200, QJsonObject{{"result", "cleared"}});
}

void HttpApiServer::httpapi__set_system_time(const httplib::Request& req, httplib::Response& res)
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
    const QString set = when.toString(kTimeFormat);
    if (!setSystemDateTime(when)) {
        fail(res, 500, QStringLiteral("the clock could not be set to %1").arg(set));
        return;
    }
    const bool recorded = runOnGui([set] {
        if (gpWin)
            gpWin->InsertRecord(QStringLiteral("API: 修改系统时间,") + set, QStringLiteral("API"));
    });
    if (!recorded)
        LOG(ERROR) << "HTTP API: clock set to " << set.toStdString() << ", its journal entry was not written";
    answer(res, 200, QJsonObject{{"result", "set"}, {"time", set}});
}

void HttpApiServer::httpapi__get_result_image(const httplib::Request& req, httplib::Response& res)
{
    const int camera = QString::fromStdString(req.matches[1]).toInt();
    const int detect = QString::fromStdString(req.matches[2]).toInt();
    const std::string kind = req.matches[3];
    const std::string name = req.matches[4];
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
    if (file >= 0 && (::fstat(file, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxImageBytes)) {
        ::close(file);
        file = -1;
    }
    if (file < 0) {
        fail(res, 404, QStringLiteral("no result image %1").arg(QString::fromStdString(name).left(255)));
        return;
    }
    std::string data(size_t(st.st_size), '\0');
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(file, &data[got], data.size() - got);
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(file);
    data.resize(got);
    res.status = 200;
    res.set_content(std::move(data), "image/jpeg");
}

void HttpApiServer::httpapi__get_operation_record(const httplib::Request& req, httplib::Response& res)
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
