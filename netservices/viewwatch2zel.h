#pragma once
#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class ViewerRequest;

// The link to the remote-viewer bridge: alarm timing, how alarms were
// cleared, template-list changes and the copy of every journal entry, each
// posted as a JSON body to a path below the bridge's address.
//
// While the link has an address it posts "{}" to the heartbeat path every
// 3 s. The session is alive from the first heartbeat answered with a 2xx
// status and stays alive while every request is answered within 8000 ms; a
// request refused, failed or answered with anything but 2xx (a redirect
// included) ends it, and so does a request left unanswered longer. The
// heartbeats go on regardless, so a bridge that comes back is used again
// from its next answered heartbeat. The heartbeat's answer may name the two
// send flags ("sendenable", "viewerconnect", JSON true/false, 1/0 or
// "true"/"false"); a flag it does not name counts as set. Sending needs the
// address, a live session and both flags of the last answer set.
//
// Every request goes on a connection of its own, closed once its answer is
// read, and is never sent twice: a bridge that hangs up without answering has
// it once, and the request counts as failed. An answer is read up to
// kMaxAnswerBytes of its body (its head up to kMaxHeadBytes); past that the
// connection is closed and the answer counts by its status. Every request,
// heartbeats too, is over kAnswerWithinMs after its sending however its
// answer trickles in; one not answered by then ends the session. Turning the
// link off or to another address closes whatever is open to the old one. At
// most kMaxQueued requests wait their turn: a slow bridge makes the oldest go
// (counted and logged).
//
// The object lives on the GUI thread; a send from another thread is handed
// over to it. Requests never wait for their answers.
class ViewWatch2ZEL : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kAnswerWithinMs = 8000;
    static constexpr int kHeartbeatMs = 3000;
    static constexpr int kMaxQueued = 64;
    static constexpr int kMaxAnswerBytes = 4096;
    static constexpr int kMaxHeadBytes = 8192;
    static const char* const kHeartbeatPath;
    static const char* const kSendFlags[2];

    explicit ViewWatch2ZEL(QObject* parent = nullptr);
    ~ViewWatch2ZEL() override;

    // The bridge's address ("http://host:port"); an empty or invalid one turns
    // the link off. A new address opens a new session, which lives from its
    // first answered heartbeat.
    void setBridge(const QUrl& base);
    QUrl bridge() const;

    // Not negative when sending to the bridge is allowed: 0 allowed, -1 the
    // link is off, -2 no live session (no heartbeat answered yet, or the
    // bridge failed or stopped answering), -3 a send flag is cleared.
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
    void restartHere();
    void beat(int generation);
    void sendHeartbeat();
    void sendNext();
    // A request ready to start, its answer due from now; done is called once
    // when it is over, unless it is aborted first.
    ViewerRequest* send(const QString& urlPath, const QByteArray& body, std::function<void(ViewerRequest*)> done);
    // Whether a request has waited longer than kAnswerWithinMs (lock held).
    bool overdueLocked() const;
    // The session is over: what is queued or on the wire is dropped.
    void endSession(const QString& why);
    void abortAll();
    void reportDropped();

    mutable QMutex m_mutex;
    QUrl m_base;
    bool m_alive = false;
    bool m_flagsSet = true;
    int m_session = 0;
    QHash<ViewerRequest*, qint64> m_waiting; // monotonic send times of the unanswered requests
    bool m_toldOff = false;
    QString m_uuid;
    int m_clearState = 0;
    QString m_clearMethod;
    int m_alarmDetect = -1;

    // The link's own thread only: requests not sent yet (oldest first), the
    // one on the wire, the heartbeats on the wire.
    struct Pending
    {
        QString path;
        QByteArray body;
        int session = 0;
    };
    QList<Pending> m_queue;
    ViewerRequest* m_reply = nullptr;
    QList<ViewerRequest*> m_beats;
    int m_beatGeneration = 0;
    int m_dropped = 0;
};
