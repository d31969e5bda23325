#pragma once
#include <QJsonObject>
#include <QObject>
#include <QString>

// The link to the remote-viewer bridge: alarm timing, how alarms were
// cleared, template-list changes and the copy of every journal entry. The
// bridge client is not part of this station build, so the link stays off:
// every send is dropped, and the first one says so in the log.
class ViewWatch2ZEL : public QObject
{
    Q_OBJECT
public:
    explicit ViewWatch2ZEL(QObject* parent = nullptr);

    // Not negative when sending to the bridge is allowed.
    int isAllowSnd_2_VW() const { return m_linkUp ? 0 : -1; }

    // A new alarm of detection d: a new uuid; reported when sending is allowed.
    void sndAlarmStartTiming(int d);
    // With the clear state 2 and sending allowed: clears the state and
    // reports how the alarm was cleared.
    void sndAlarmFinishTiming();
    // Adds how a camera's alarm was cleared (methods 4 to 8) to the pending
    // clear method and marks the alarm as cleared.
    void addClearMethod(int camera, int method);
    // The copy of one journal entry (keys recordtime, recordpassword,
    // remarks, recordtype).
    virtual void sndRecordOperate(const QJsonObject& record);
    void syncTempList(const QJsonObject& change);

    QString alarmUuid() const { return m_uuid; }
    int clearState() const { return m_clearState; }
    QString clearMethod() const { return m_clearMethod; }
    int alarmDetect() const { return m_alarmDetect; }

protected:
    // Hands a request to the bridge; false when the link is off.
    bool post(const QString& urlPath, const QJsonObject& body);

private:
    bool m_linkUp = false;
    bool m_toldOff = false;
    QString m_uuid;
    int m_clearState = 0;
    QString m_clearMethod;
    int m_alarmDetect = -1;
};
