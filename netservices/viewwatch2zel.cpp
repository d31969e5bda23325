#include "netservices/viewwatch2zel.h"

#include "frame/clock.h"
#include "frame/operatorprompt.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QUuid>

#include <glog/logging.h>

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
    QMutexLocker lock(&m_mutex);
    m_base = (base.isValid() && !base.host().isEmpty()) ? base : QUrl();
    m_dead = false;
    m_waiting.clear();
    ++m_session;
    m_toldOff = false;
    if (m_base.isEmpty())
        LOG(INFO) << "viewer bridge: no address, the link is off";
    else
        LOG(INFO) << "viewer bridge: " << m_base.toString().toStdString();
    lock.unlock();
    // A request still waiting on the old bridge must not hold up the new one.
    if (QThread::currentThread() == thread() && m_reply) {
        QNetworkReply* old = m_reply;
        m_reply = nullptr;
        old->abort();
    }
}

QUrl ViewWatch2ZEL::bridge() const
{
    QMutexLocker lock(&m_mutex);
    return m_base;
}

int ViewWatch2ZEL::isAllowSnd_2_VW() const
{
    QMutexLocker lock(&m_mutex);
    if (m_base.isEmpty())
        return -1;
    if (m_dead)
        return -2;
    if (!m_waiting.isEmpty() && Clock::instance()->monotonicMs() - m_waiting.first() > kAnswerWithinMs)
        return -2;
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
            LOG(INFO) << "viewer bridge: " << (allow == -1 ? "not configured" : "not answering") << ", "
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
    m_queue.append(Pending{urlPath, body, 0, session});
    sendNext();
}

// One request at a time: the bridge sees them in the order they were made
// (an alarm's finish never before its start).
void ViewWatch2ZEL::sendNext()
{
    QUrl url;
    int session = 0;
    {
        QMutexLocker lock(&m_mutex);
        url = m_base;
        session = m_session;
    }
    while (!m_queue.isEmpty() && m_queue.first().session != session)
        m_queue.removeFirst();
    if (m_reply || m_queue.isEmpty() || url.isEmpty())
        return;
    Pending p = m_queue.takeFirst();
    // The answer is due from the moment it is sent: a request waiting its
    // turn behind others is not one the bridge left unanswered.
    p.sentMs = Clock::instance()->monotonicMs();
    {
        QMutexLocker lock(&m_mutex);
        m_waiting.append(p.sentMs);
    }
    url.setPath(p.path);
    if (!m_net)
        m_net = new QNetworkAccessManager(this);
    QNetworkRequest req(url);
    req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // A bridge that never answers must not hold the queue for ever.
    req.setTransferTimeout(int(kAnswerWithinMs));
    m_reply = m_net->post(req, p.body);
    QNetworkReply* reply = m_reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, p] {
        reply->deleteLater();
        if (m_reply == reply)
            m_reply = nullptr;
        answered(p.session, p.sentMs, reply->error() == QNetworkReply::NoError, p.path, reply->errorString());
        sendNext();
    });
}

void ViewWatch2ZEL::answered(int session, qint64 sentMs, bool ok, const QString& urlPath, const QString& error)
{
    QMutexLocker lock(&m_mutex);
    if (session != m_session)
        return; // an answer to the previous address
    m_waiting.removeOne(sentMs);
    if (ok)
        return;
    // The bridge refused or dropped the request: the session is over.
    if (!m_dead)
        LOG(WARNING) << "viewer bridge: " << urlPath.toStdString() << " failed (" << error.toStdString()
                     << "), the link is off";
    m_dead = true;
    m_waiting.clear();
    ++m_session; // what is still queued is dropped
}
