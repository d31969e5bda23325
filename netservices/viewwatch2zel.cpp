#include "netservices/viewwatch2zel.h"

#include "frame/clock.h"
#include "frame/operatorprompt.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMutexLocker>
#include <QTcpSocket>
#include <QThread>
#include <QUuid>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cstdint>
#include <optional>

#include <glog/logging.h>

const char* const ViewWatch2ZEL::kHeartbeatPath = "/inline/bymain/heartbeat";
const char* const ViewWatch2ZEL::kSendFlags[2] = {"sendenable", "viewerconnect"};

namespace beast = boost::beast;
namespace http = boost::beast::http;

namespace {
// A named flag counts as set when it says so in any of the usual spellings.
bool flagOn(const QJsonValue& v)
{
    if (v.isBool())
        return v.toBool();
    if (v.isDouble())
        return v.toDouble() != 0;
    const QString s = v.toString().trimmed();
    return s == QLatin1String("1") || s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

bool sendFlagsSet(const QByteArray& answer)
{
    const QJsonObject o = QJsonDocument::fromJson(answer).object();
    for (const char* name : ViewWatch2ZEL::kSendFlags)
        if (o.contains(QLatin1String(name)) && !flagOn(o.value(QLatin1String(name))))
            return false;
    return true;
}
} // namespace

// One request to the bridge, on a connection of its own that is closed when
// the request is over. Qt's socket buffers at most kMaxHeadBytes, a body is
// taken only up to kMaxAnswerBytes (what follows is never read), nothing is
// ever sent twice, and the deadline runs from the start. The answer is read
// by the same HTTP parser the station's own server uses, bounded alike.
//
// Not QNetworkAccessManager: its HTTP thread decodes a chunked body into
// memory however little of it the reply reads (a bridge streaming one took
// gigabytes), and it posts a request again on a new connection when the
// bridge hangs up before answering.
class ViewerRequest : public QObject
{
public:
    ViewerRequest(const QUrl& url, const QByteArray& body, QObject* parent)
        : QObject(parent)
        , m_url(url)
        , m_body(body)
        , m_socket(new QTcpSocket(this))
    {
        // Qt reads ahead only this far; the rest waits in the kernel until
        // the connection is closed.
        m_socket->setReadBufferSize(ViewWatch2ZEL::kMaxHeadBytes);
        connect(m_socket, &QTcpSocket::connected, this, [this] { m_socket->write(request()); });
        connect(m_socket, &QTcpSocket::readyRead, this, [this] { read(); });
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { closed(); });
        connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            if (e == QAbstractSocket::RemoteHostClosedError)
                closed();
            else
                finish(m_socket->errorString());
        });
    }
    std::function<void(ViewerRequest*)> done;

    void start()
    {
        newParser();
        Clock::instance()->singleShot(int(ViewWatch2ZEL::kAnswerWithinMs), this, [this] {
            finish(QStringLiteral("no answer within %1 ms").arg(ViewWatch2ZEL::kAnswerWithinMs));
        });
        m_socket->connectToHost(m_url.host(), quint16(m_url.port(80)));
    }
    // Over without a word to whoever waits for it.
    void abort()
    {
        done = nullptr;
        finish(QStringLiteral("aborted"));
    }
    // Answered with a 2xx status (a redirect or an error page is not); an
    // answer cut at its limit still says by its status whether the bridge
    // took the request.
    bool delivered() const { return m_error.isEmpty() && m_status >= 200 && m_status < 300; }
    QString failure() const
    {
        if (m_error.isEmpty())
            return QStringLiteral("HTTP %1").arg(m_status);
        return m_status ? QStringLiteral("HTTP %1, %2").arg(m_status).arg(m_error) : m_error;
    }
    const QByteArray& answer() const { return m_answer; }

private:
    QByteArray request() const
    {
        QByteArray host = m_url.host().toLatin1();
        if (m_url.port() >= 0)
            host += ':' + QByteArray::number(m_url.port());
        return "POST " + m_url.path(QUrl::FullyEncoded).toLatin1() + " HTTP/1.1\r\nHost: " + host
               + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(m_body.size())
               + "\r\nConnection: close\r\n\r\n" + m_body;
    }
    void read()
    {
        while (!m_over) {
            // What the parser has not taken stays in m_in, never more than a
            // head's worth: the parser refuses a longer head.
            const QByteArray more = m_socket->read(ViewWatch2ZEL::kMaxHeadBytes - m_in.size());
            if (more.isEmpty())
                return;
            m_in += more;
            feed();
        }
    }
    void newParser()
    {
        m_parser.emplace();
        // Not eager: this parser version goes on into the body after a head
        // whose declared length it has just refused, and would make room for
        // all of it. Head and body are taken in separate calls instead.
        m_parser->header_limit(ViewWatch2ZEL::kMaxHeadBytes);
        m_parser->body_limit(std::uint64_t(ViewWatch2ZEL::kMaxAnswerBytes));
    }
    // Hands what came to the parser, answer after answer: interim ones (1xx)
    // are passed over, the first final one ends the request.
    void feed()
    {
        while (!m_over && !m_in.isEmpty()) {
            beast::error_code ec;
            const size_t used = m_parser->put(boost::asio::buffer(m_in.constData(), size_t(m_in.size())), ec);
            m_in.remove(0, int(used));
            if (m_parser->is_header_done() && m_parser->get().result_int() >= 200)
                m_status = int(m_parser->get().result_int());
            if (ec == http::error::need_more)
                return;
            if (ec == http::error::body_limit && m_status) {
                // Cut at its limit; the status still says whether the bridge
                // took the request.
                finish(QString());
                return;
            }
            if (ec) {
                finish(QStringLiteral("not an HTTP answer (%1)").arg(QString::fromStdString(ec.message())));
                return;
            }
            if (m_parser->is_done()) {
                if (m_status) {
                    finish(QString());
                    return;
                }
                newParser();
            } else if (used == 0) {
                return;
            }
        }
    }
    // The bridge hung up: the end of a body that runs to the close, else a
    // request left unanswered.
    void closed()
    {
        read();
        if (m_over)
            return;
        beast::error_code ec;
        if (m_status && m_parser->is_header_done())
            m_parser->put_eof(ec);
        finish(m_status && !ec ? QString() : QStringLiteral("connection closed"));
    }
    void finish(const QString& error)
    {
        if (m_over)
            return;
        m_over = true;
        m_error = error;
        if (m_parser)
            m_answer = QByteArray::fromStdString(m_parser->get().body());
        m_parser.reset();
        m_socket->disconnect(this);
        m_socket->abort();
        if (done)
            done(this);
    }

    const QUrl m_url;
    const QByteArray m_body;
    QTcpSocket* m_socket;
    QByteArray m_in, m_answer;
    std::optional<http::response_parser<http::string_body>> m_parser;
    int m_status = 0;
    bool m_over = false;
    QString m_error;
};

ViewWatch2ZEL::ViewWatch2ZEL(QObject* parent)
    : QObject(parent)
{
    // Made on any thread; the requests go out from the GUI thread.
    if (!parent)
        if (QCoreApplication* app = QCoreApplication::instance())
            moveToThread(app->thread());
}

ViewWatch2ZEL::~ViewWatch2ZEL() = default;

void ViewWatch2ZEL::setBridge(const QUrl& base)
{
    {
        QMutexLocker lock(&m_mutex);
        m_base = (base.isValid() && !base.host().isEmpty()) ? base : QUrl();
        m_alive = false;
        m_flagsSet = true;
        m_waiting.clear();
        ++m_session;
        m_toldOff = false;
        if (m_base.isEmpty())
            LOG(INFO) << "viewer bridge: the link is off";
        else
            LOG(INFO) << "viewer bridge: " << m_base.toString().toStdString();
    }
    if (QThread::currentThread() == thread())
        restartHere();
    else
        QMetaObject::invokeMethod(this, [this] { restartHere(); }, Qt::QueuedConnection);
}

// What is on the wire to the old address must not hold up the new one; the
// new address gets its first heartbeat at once.
void ViewWatch2ZEL::restartHere()
{
    abortAll();
    m_queue.clear();
    m_dropped = 0;
    beat(++m_beatGeneration);
}

QUrl ViewWatch2ZEL::bridge() const
{
    QMutexLocker lock(&m_mutex);
    return m_base;
}

bool ViewWatch2ZEL::overdueLocked() const
{
    if (m_waiting.isEmpty())
        return false;
    const qint64 oldest = *std::min_element(m_waiting.cbegin(), m_waiting.cend());
    return Clock::instance()->monotonicMs() - oldest > kAnswerWithinMs;
}

int ViewWatch2ZEL::isAllowSnd_2_VW() const
{
    QMutexLocker lock(&m_mutex);
    if (m_base.isEmpty())
        return -1;
    if (!m_alive || overdueLocked())
        return -2;
    if (!m_flagsSet)
        return -3;
    return 0;
}

void ViewWatch2ZEL::sndAlarmStartTiming(int d)
{
    QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QMutexLocker lock(&m_mutex);
        m_uuid = uuid;
        m_alarmDetect = d;
        m_clearState = 0;
        m_clearMethod.clear();
    }
    post(QStringLiteral("/inline/bymain/alarm_starttiming"), QJsonObject{{"detect", d}, {"uuid", uuid}});
}

void ViewWatch2ZEL::markAlarmCleared()
{
    QMutexLocker lock(&m_mutex);
    m_clearState = 2;
}

void ViewWatch2ZEL::sndAlarmFinishTiming()
{
    if (isAllowSnd_2_VW() < 0)
        return;
    QJsonObject body;
    {
        QMutexLocker lock(&m_mutex);
        if (m_clearState != 2)
            return;
        m_clearState = 0;
        body = QJsonObject{{"clear_method", m_clearMethod}, {"uuid", m_uuid}};
    }
    post(QStringLiteral("/inline/bymain/alarm_finishtiming"), body);
}

void ViewWatch2ZEL::addClearMethod(int camera, int method)
{
    static const int kText[] = {47, 48, 338, 61, 143}; // methods 4 to 8
    if (method < 4 || method > 8)
        return;
    const QString text = messageText(151).arg(camera + 1) + messageText(kText[method - 4]);
    QMutexLocker lock(&m_mutex);
    if (!m_clearMethod.isEmpty())
        m_clearMethod += QLatin1Char(';');
    m_clearMethod += text;
}

void ViewWatch2ZEL::sndRecordOperate(const QJsonObject& record)
{
    post(QStringLiteral("/inline/bymain/recordoperate"), record);
}

void ViewWatch2ZEL::syncTempList(const QJsonObject& change)
{
    post(QStringLiteral("/inline/bymain/synctemplist"), change);
}

QString ViewWatch2ZEL::alarmUuid() const
{
    QMutexLocker lock(&m_mutex);
    return m_uuid;
}

int ViewWatch2ZEL::clearState() const
{
    QMutexLocker lock(&m_mutex);
    return m_clearState;
}

QString ViewWatch2ZEL::clearMethod() const
{
    QMutexLocker lock(&m_mutex);
    return m_clearMethod;
}

int ViewWatch2ZEL::alarmDetect() const
{
    QMutexLocker lock(&m_mutex);
    return m_alarmDetect;
}

bool ViewWatch2ZEL::post(const QString& urlPath, const QJsonObject& body)
{
    const int allow = isAllowSnd_2_VW();
    if (allow < 0) {
        QMutexLocker lock(&m_mutex);
        if (!m_toldOff) {
            m_toldOff = true;
            LOG(INFO) << "viewer bridge: "
                      << (allow == -1 ? "link off" : allow == -2 ? "not answering" : "send flags cleared") << ", "
                      << urlPath.toStdString() << " and later requests are not sent";
        }
        return false;
    }
    const QByteArray data = QJsonDocument(body).toJson(QJsonDocument::Compact);
    if (QThread::currentThread() == thread())
        postHere(urlPath, data);
    else
        QMetaObject::invokeMethod(this, "postHere", Qt::QueuedConnection, Q_ARG(QString, urlPath),
                                  Q_ARG(QByteArray, data));
    return true;
}

void ViewWatch2ZEL::postHere(const QString& urlPath, const QByteArray& body)
{
    int session = 0;
    {
        QMutexLocker lock(&m_mutex);
        if (m_base.isEmpty())
            return;
        session = m_session;
    }
    // A bridge slower than the station must not make it hoard requests: the
    // oldest copies give way to the newest.
    if (m_queue.size() >= kMaxQueued) {
        if (m_dropped == 0)
            LOG(WARNING) << "viewer bridge: " << kMaxQueued << " requests wait for a slow bridge, the oldest are dropped";
        m_queue.removeFirst();
        ++m_dropped;
    }
    m_queue.append(Pending{urlPath, body, session});
    sendNext();
}

void ViewWatch2ZEL::reportDropped()
{
    if (m_dropped > 0)
        LOG(WARNING) << "viewer bridge: " << m_dropped << " requests dropped while the bridge was slow";
    m_dropped = 0;
}

ViewerRequest* ViewWatch2ZEL::send(const QString& urlPath, const QByteArray& body, std::function<void(ViewerRequest*)> done)
{
    QUrl url = bridge();
    url.setPath(urlPath);
    auto* r = new ViewerRequest(url, body, this);
    r->done = std::move(done);
    QMutexLocker lock(&m_mutex);
    m_waiting.insert(r, Clock::instance()->monotonicMs());
    return r;
}

// One request at a time: the bridge sees them in the order they were made
// (an alarm's finish never before its start).
void ViewWatch2ZEL::sendNext()
{
    int session = 0;
    bool off = false;
    {
        QMutexLocker lock(&m_mutex);
        session = m_session;
        off = m_base.isEmpty();
    }
    while (!m_queue.isEmpty() && m_queue.first().session != session)
        m_queue.removeFirst();
    if (m_queue.isEmpty())
        reportDropped();
    if (m_reply || m_queue.isEmpty() || off)
        return;
    const Pending p = m_queue.takeFirst();
    // The answer is due from the moment it is sent: a request waiting its
    // turn behind others is not one the bridge left unanswered.
    m_reply = send(p.path, p.body, [this, path = p.path](ViewerRequest* r) {
        r->deleteLater();
        m_reply = nullptr;
        {
            QMutexLocker lock(&m_mutex);
            m_waiting.remove(r);
        }
        if (!r->delivered())
            endSession(path + QStringLiteral(" not delivered (") + r->failure() + QLatin1Char(')'));
        sendNext();
    });
    m_reply->start();
}

void ViewWatch2ZEL::beat(int generation)
{
    if (generation != m_beatGeneration || bridge().isEmpty())
        return;
    sendHeartbeat();
    Clock::instance()->singleShot(kHeartbeatMs, this, [this, generation] { beat(generation); });
}

void ViewWatch2ZEL::sendHeartbeat()
{
    ViewerRequest* beat = send(QString::fromLatin1(kHeartbeatPath), QByteArrayLiteral("{}"), [this](ViewerRequest* reply) {
        reply->deleteLater();
        // The heartbeats sent before this one are answered by it.
        const int at = m_beats.indexOf(reply);
        const QList<ViewerRequest*> older = m_beats.mid(0, qMax(0, at));
        m_beats.removeOne(reply);
        for (ViewerRequest* r : older) {
            m_beats.removeOne(r);
            r->abort();
            r->deleteLater();
            QMutexLocker lock(&m_mutex);
            m_waiting.remove(r);
        }
        if (!reply->delivered()) {
            endSession(QString::fromLatin1(kHeartbeatPath) + QStringLiteral(" not answered (") + reply->failure()
                       + QLatin1Char(')'));
            return;
        }
        const bool flags = sendFlagsSet(reply->answer());
        QMutexLocker lock(&m_mutex);
        m_waiting.remove(reply);
        if (!m_alive)
            LOG(INFO) << "viewer bridge: answering, the link is on";
        else if (flags != m_flagsSet)
            LOG(INFO) << "viewer bridge: send flags " << (flags ? "set" : "cleared");
        m_alive = true;
        m_flagsSet = flags;
        m_toldOff = false;
    });
    m_beats.append(beat);
    beat->start();
}

void ViewWatch2ZEL::endSession(const QString& why)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_alive)
            LOG(WARNING) << "viewer bridge: " << why.toStdString() << ", the link is off until the bridge answers";
        m_alive = false;
        m_waiting.clear();
        ++m_session; // what is still queued is dropped
    }
    abortAll();
    reportDropped();
    m_queue.clear();
}

void ViewWatch2ZEL::abortAll()
{
    QList<ViewerRequest*> all = m_beats;
    if (m_reply)
        all << m_reply;
    m_beats.clear();
    m_reply = nullptr;
    for (ViewerRequest* r : all) {
        // Over without reporting on a session that is over.
        r->abort();
        r->deleteLater();
    }
    QMutexLocker lock(&m_mutex);
    for (ViewerRequest* r : all)
        m_waiting.remove(r);
}
