#include "netservices/httpapiserver.h"

#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "controller/productioncounters.h"
#include "controller/stationexit.h"
#include "frame/globals.h"
#include "frame/timetools.h"
#include "netservices/httpsession.h"
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

#include <glog/logging.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>

namespace {

const char* const kJson = "application/json; charset=utf-8";
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// Journal rows read from the database at once for an answer.
constexpr int kJournalPageRows = 256;

enum RouteIndex { CountByTime, ClearCount, SetTime, OperationRecord, ResultImage };

struct Route
{
    const char* method;
    const char* path; // the whole path, or the prefix of the image route
};

// Every route, in RouteIndex order.
const Route kRoutes[] = {
    {"POST", "/v18/http/get_production_count_bytime"},
    {"POST", "/v18/http/clear_count"},
    {"POST", "/v18/http/set_system_time"},
    {"POST", "/v18/http/get_operation_record"},
    {"GET", "/v18/http/get_result_image/"},
};

void answer(HttpApiAnswer& res, int status, const QJsonObject& body)
{
    res.status = status;
    res.type = kJson;
    res.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
}

void fail(HttpApiAnswer& res, int status, const QString& why)
{
    answer(res, status, QJsonObject{{"error", why}});
    // A refusal for now, not for what was asked: said when to ask again.
    if (status == 503 || status == 429)
        res.headers.emplace_back("Retry-After", std::to_string(HttpApiServer::kRetryAfterSeconds));
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

// Takes `word` and then one or more digits off the front of *rest, and the
// '/' after them; false when *rest does not start so.
bool takeNumbered(std::string* rest, const char* word, std::string* digits)
{
    const size_t w = std::strlen(word);
    if (rest->compare(0, w, word) != 0)
        return false;
    size_t end = w;
    while (end < rest->size() && (*rest)[end] >= '0' && (*rest)[end] <= '9')
        ++end;
    if (end == w || end >= rest->size() || (*rest)[end] != '/')
        return false;
    *digits = rest->substr(w, end - w);
    rest->erase(0, end + 1);
    return true;
}

// The image route's parts after its prefix: camera<n>/detect<m>/<kind>/<name>,
// the name being the rest (judged by the handler).
bool imageParts(std::string rest, std::vector<std::string>* parts)
{
    std::string camera, detect;
    if (!takeNumbered(&rest, "camera", &camera) || !takeNumbered(&rest, "detect", &detect))
        return false;
    const size_t slash = rest.find('/');
    if (slash == 0 || slash == std::string::npos || slash + 1 >= rest.size())
        return false;
    parts->push_back(camera);
    parts->push_back(detect);
    parts->push_back(rest.substr(0, slash));
    parts->push_back(rest.substr(slash + 1));
    return true;
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

} // namespace

HttpApiAnswer httpFailure(int status, const QString& why)
{
    HttpApiAnswer res;
    fail(res, status, why);
    return res;
}

QString httpEndingText()
{
    return QStringLiteral("the station is ending; nothing was changed");
}

// A '%' not followed by two hex digits stays as it is.
std::string decodedHttpPath(boost::beast::string_view target)
{
    const size_t query = target.find('?');
    if (query != boost::beast::string_view::npos)
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

// Plain comparisons, no pattern matcher: a path is the peer's and may be as
// long as the head allows.
int HttpApiServer::findRoute(const std::string& path, const std::string& method, std::vector<std::string>* parts,
                             const char** allow)
{
    parts->clear();
    for (int i = 0; i < int(std::size(kRoutes)); ++i) {
        const Route& r = kRoutes[i];
        if (i == ResultImage) {
            if (path.compare(0, std::strlen(r.path), r.path) != 0
                || !imageParts(path.substr(std::strlen(r.path)), parts)) {
                parts->clear();
                continue;
            }
        } else if (path != r.path) {
            continue;
        }
        if (method != r.method) {
            parts->clear();
            *allow = r.method;
            return -405;
        }
        parts->insert(parts->begin(), path);
        return i;
    }
    return -404;
}

bool HttpApiServer::paced(const HttpApiRequest& req, HttpApiAnswer& res)
{
    if (m_net && m_net->writes.take(req.peer, std::chrono::steady_clock::now()))
        return true;
    fail(res, 429,
         QStringLiteral("too many requests that change the station (%1 a second from one address, %2 from all); "
                        "nothing was changed")
             .arg(kPeerWritesPerSecond)
             .arg(kWritesPerSecond));
    return false;
}

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
    if (m_net)
        return m_listening;
    m_stopping = false;
    m_whyNot.clear();
    auto net = std::make_unique<Connections>(*this);
    const std::string host = m_address.toStdString();
    std::string why;
    if (!net->listen(host, m_port, &why)) {
        m_whyNot = QStringLiteral("%1:%2: %3").arg(m_address).arg(m_port).arg(QString::fromStdString(why));
        LOG(WARNING) << "HTTP API: not listening (" << m_whyNot.toStdString() << "), the station runs without it";
        return false;
    }
    m_port = net->port();
    m_net = std::move(net);
    m_net->run();
    m_listening = true;
    LOG(INFO) << "HTTP API on " << host << ":" << m_port;
    return true;
}

void HttpApiServer::stop()
{
    if (!m_net)
        return;
    m_stopping = true;
    m_net->stop();
    m_net.reset();
    m_listening = false;
    LOG(INFO) << "HTTP API stopped";
}

void HttpApiServer::handle(const HttpApiRequest& req, int route, HttpApiAnswer& res)
{
    switch (route) {
    case CountByTime: httpapi__get_production_count_bytime(req, res); break;
    case ClearCount: httpapi__clear_count(req, res); break;
    case SetTime: httpapi__set_system_time(req, res); break;
    case OperationRecord: httpapi__get_operation_record(req, res); break;
    case ResultImage: httpapi__get_result_image(req, res); break;
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
    if (!bodyObject(req, res, &body) || !paced(req, res))
        return;
    // The counters and the journal are the GUI thread's: cleared, written and
    // shown there, between two of its cycle steps.
    bool ended = false, gone = false;
    const bool done = runOnGui([&ended, &gone, &req] {
        // The end may have begun while the call waited, or the client may
        // have given up: it changes nothing then.
        if (StationExit::ending()) {
            ended = true;
            return;
        }
        if (req.gone()) {
            gone = true;
            return;
        }
        ProductionCounters::clearAll();
        if (gpWin) {
            gpWin->refresh();
            gpWin->InsertRecord(QStringLiteral("API: 清除计数"), QStringLiteral("API"));
        }
    });
    if (ended) {
        fail(res, 503, httpEndingText());
        return;
    }
    if (!done || gone) {
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
    if (!paced(req, res))
        return;
    if (StationExit::ending()) {
        fail(res, 503, httpEndingText());
        return;
    }
    if (req.gone()) {
        fail(res, 503, QStringLiteral("the client has gone; the clock was not set"));
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
    const int openError = errno;
    if (fd >= 0)
        ::close(fd);
    if (file < 0 && (openError == EMFILE || openError == ENFILE || openError == ENOMEM)) {
        // Out of descriptors is the station's state, not the image's: the
        // image may well be there, so the client is told to come back.
        fail(res, 503, QStringLiteral("the station is busy: no file can be opened now"));
        return;
    }
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
    // The day RECORD.db holds is the journal's: today's file is taken where
    // the day changes, so that it is the file of that day.
    std::shared_ptr<OperationRecords::DayReading> reading;
    if (!runOnGui([&reading, &day] {
            const QString file = day == OperationRecords::instance()->storedDay()
                                     ? QString::fromLatin1(OperationRecords::kDbFile)
                                     : QDir(QString::fromLatin1(OperationRecords::kArchiveDir))
                                           .filePath(day + QStringLiteral(".db"));
            reading = std::make_shared<OperationRecords::DayReading>(file, day);
        })) {
        fail(res, 503, QStringLiteral("the station did not take the request"));
        return;
    }
    // Sent as it is read, a page of rows at a time: a day's journal can be
    // large, and many may read it at once. The bytes are those of the whole
    // document written at once. The file is read to its end even when the
    // day changes meanwhile; when it is cleared meanwhile the answer is cut,
    // so that the client sees it is not whole.
    struct Reading
    {
        std::shared_ptr<OperationRecords::DayReading> file;
        bool begun = false;
        long rows = 0;
        std::string tail;
    };
    auto state = std::make_shared<Reading>();
    state->file = reading;
    const std::string whole =
        QJsonDocument(QJsonObject{{"date", day}, {"records", QJsonArray()}}).toJson(QJsonDocument::Compact).toStdString();
    const size_t open = whole.rfind("[]");
    const std::string head = whole.substr(0, open + 1);
    state->tail = whole.substr(open + 1);
    // An unreadable file is said before anything is sent.
    QVector<OperationRecords::Row> none;
    if (!reading->next(0, &none)) {
        fail(res, 500, QStringLiteral("the journal of %1 could not be read").arg(day));
        return;
    }
    res.status = 200;
    res.type = kJson;
    res.stream = [state, head](std::string* out, size_t room) {
        if (!state->begun) {
            out->append(head);
            state->begun = true;
        }
        QVector<OperationRecords::Row> page;
        for (;;) {
            if (!state->file->next(kJournalPageRows, &page))
                return HttpApiAnswer::Piece::Failed;
            for (const OperationRecords::Row& r : page) {
                if (state->rows++ > 0)
                    out->push_back(',');
                out->append(QJsonDocument(QJsonObject{{"recordtime", r.time},
                                                      {"recordpassword", r.level},
                                                      {"remarks", r.text},
                                                      {"recordtype", r.type}})
                                .toJson(QJsonDocument::Compact)
                                .toStdString());
            }
            if (page.size() < kJournalPageRows) {
                out->append(state->tail);
                return HttpApiAnswer::Piece::Last;
            }
            if (out->size() >= room)
                return HttpApiAnswer::Piece::More;
        }
    };
}
