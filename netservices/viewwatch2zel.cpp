#include "netservices/viewwatch2zel.h"

#include "frame/clock.h"
#include "frame/operatorprompt.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <memory>

#include <glog/logging.h>

const char* const ViewWatch2ZEL::kHeartbeatPath = "/inline/bymain/heartbeat";
const char* const ViewWatch2ZEL::kSendFlags[2] = {"sendenable", "viewerconnect"};

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

// Delivered means a 2xx answer: a redirect or an error page is not.
bool delivered(QNetworkReply* r)
{
    const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return r->error() == QNetworkReply::NoError && status >= 200 && status < 300;
}

// A reply that already failed must not be aborted again.
void stop(QNetworkReply* r)
{
    if (r->isRunning() && r->error() == QNetworkReply::NoError)
        r->abort();
}

QString failure(QNetworkReply* r)
{
    const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (r->error() == QNetworkReply::NoError)
        return QStringLiteral("HTTP %1").arg(status);
    return status ? QStringLiteral("HTTP %1, %2").arg(status).arg(r->errorString()) : r->errorString();
}
} // namespace

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

QNetworkReply* ViewWatch2ZEL::send(const QString& urlPath, const QByteArray& body, const std::shared_ptr<QByteArray>& answer)
{
    QUrl url = bridge();
    url.setPath(urlPath);
    if (!m_net)
        m_net = new QNetworkAccessManager(this);
    QNetworkRequest req(url);
    req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // A bridge that never answers must not hold a connection for ever.
    req.setTransferTimeout(int(kAnswerWithinMs));
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* r = m_net->post(req, body);
    {
        QMutexLocker lock(&m_mutex);
        m_waiting.insert(r, Clock::instance()->monotonicMs());
    }
    // Only the head of an answer is kept; the reply's own buffer stays small
    // and whatever a bridge sends beyond it is read and dropped.
    r->setReadBufferSize(64 * 1024);
    connect(r, &QIODevice::readyRead, this, [r, answer] {
        const qint64 room = kMaxAnswerBytes - answer->size();
        if (room > 0)
            answer->append(r->read(room));
        char sink[16384];
        while (r->read(sink, sizeof sink) > 0) {
        }
    });
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
    QNetworkReply* reply = send(p.path, p.body, std::make_shared<QByteArray>());
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, path = p.path] {
        reply->deleteLater();
        m_reply = nullptr;
        {
            QMutexLocker lock(&m_mutex);
            m_waiting.remove(reply);
        }
        if (!delivered(reply))
            endSession(path + QStringLiteral(" not delivered (") + failure(reply) + QLatin1Char(')'));
        sendNext();
    });
}

void ViewWatch2ZEL::beat(int generation)
{
    if (generation != m_beatGeneration || bridge().isEmpty())
        return;
    bool silent = false;
    {
        QMutexLocker lock(&m_mutex);
        silent = m_alive && overdueLocked();
    }
    if (silent)
        endSession(QStringLiteral("no answer within %1 ms").arg(kAnswerWithinMs));
    sendHeartbeat();
    Clock::instance()->singleShot(kHeartbeatMs, this, [this, generation] { beat(generation); });
}

void ViewWatch2ZEL::sendHeartbeat()
{
    auto answer = std::make_shared<QByteArray>();
    QNetworkReply* reply = send(QString::fromLatin1(kHeartbeatPath), QByteArrayLiteral("{}"), answer);
    m_beats.append(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply, answer] {
        reply->deleteLater();
        // The heartbeats sent before this one are answered by it.
        const int at = m_beats.indexOf(reply);
        const QList<QNetworkReply*> older = m_beats.mid(0, qMax(0, at));
        m_beats.removeOne(reply);
        for (QNetworkReply* r : older) {
            m_beats.removeOne(r);
            disconnect(r, &QNetworkReply::finished, this, nullptr);
            stop(r);
            r->deleteLater();
            QMutexLocker lock(&m_mutex);
            m_waiting.remove(r);
        }
        if (!delivered(reply)) {
            endSession(QString::fromLatin1(kHeartbeatPath) + QStringLiteral(" not answered (") + failure(reply)
                       + QLatin1Char(')'));
            return;
        }
        const bool flags = sendFlagsSet(*answer);
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
    QList<QNetworkReply*> all = m_beats;
    if (m_reply)
        all << m_reply;
    m_beats.clear();
    m_reply = nullptr;
    for (QNetworkReply* r : all) {
        // Its finished() would report on a session that is over.
        disconnect(r, &QNetworkReply::finished, this, nullptr);
        stop(r);
        r->deleteLater();
    }
    QMutexLocker lock(&m_mutex);
    for (QNetworkReply* r : all)
        m_waiting.remove(r);
}
