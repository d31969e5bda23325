#pragma once
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The link to the remote-viewer bridge: alarm timing, how alarms were
// cleared, template-list changes and the copy of every journal entry, each
// posted as a JSON body to a path below the bridge's address.
//
// Sending is allowed only while the link is enabled (the bridge's address is
// known) and its session is alive: the last request was answered, and none
// has waited longer than 8000 ms for its answer. The bridge's heartbeat, which
// would bring a dead session back and carry the two send flags, is not part of
// this station, so a link whose bridge stopped answering stays off until the
// station starts again (or the address is set again).
//
// The object lives on the GUI thread; a send from another thread is handed
// over to it. Requests never wait for their answers.
class ViewWatch2ZEL : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kAnswerWithinMs = 8000;

    explicit ViewWatch2ZEL(QObject* parent = nullptr);
    ~ViewWatch2ZEL() override;

    // The bridge's address ("http://host:port"); an empty or invalid one turns
    // the link off. A new address opens a new session.
    void setBridge(const QUrl& base);
    QUrl bridge() const;

    // Not negative when sending to the bridge is allowed: 0 allowed, -1 no
    // bridge address, -2 the bridge stopped answering.
    int isAllowSnd_2_VW() const;

    // A new alarm of detection d: a new uuid, the clear state and method
    // emptied; reported when sending is allowed.
    void sndAlarmStartTiming(int d);
    // Marks the alarm as cleared (clear state 2).
    void markAlarmCleared();
    // With the clear state 2 and sending allowed: state 0, and how the alarm
    // was cleared is posted with its uuid. Otherwise nothing changes.
    void sndAlarmFinishTiming();
    // Adds how a camera's alarm was cleared (methods 4 to 8) to the pending
    // clear method, as "Camera n <method>" texts separated by ';'.
    void addClearMethod(int camera, int method);
    // The copy of one journal entry (keys recordtime, recordpassword,
    // remarks, recordtype).
    virtual void sndRecordOperate(const QJsonObject& record);
    // A template-list change {"camera": [...], "detect": [...]}.
    void syncTempList(const QJsonObject& change);

    QString alarmUuid() const;
    int clearState() const;
    QString clearMethod() const;
    int alarmDetect() const;

protected:
    // Hands a request to the bridge when sending is allowed; false otherwise.
    bool post(const QString& urlPath, const QJsonObject& body);

private:
    Q_INVOKABLE void postHere(const QString& urlPath, const QByteArray& body);
    void sendNext();
    void answered(int session, qint64 sentMs, bool ok, const QString& urlPath, const QString& error);

    mutable QMutex m_mutex;
    QUrl m_base;
    bool m_dead = false;
    int m_session = 0;
    QList<qint64> m_waiting; // monotonic send times of the unanswered requests
    bool m_toldOff = false;
    QString m_uuid;
    int m_clearState = 0;
    QString m_clearMethod;
    int m_alarmDetect = -1;
    QNetworkAccessManager* m_net = nullptr;

    // Requests not sent yet, oldest first, and the one on the wire (the
    // link's own thread only).
    struct Pending
    {
        QString path;
        QByteArray body;
        qint64 sentMs = 0; // when it went on the wire: the answer is due from then
        int session = 0;
    };
    QList<Pending> m_queue;
    QNetworkReply* m_reply = nullptr;
};
