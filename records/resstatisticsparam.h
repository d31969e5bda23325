#pragma once
#include "records/countgroup.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QThread;
class QTimer;
class ResStatisticsDatabase;

// Today's production statistics: counts every result into the hour slot of
// the statistical day, derives shift sums for the statistics page, keeps the
// day's start and shift hours in resstatistics.json and hands the day's
// document to the database worker once a minute (archiving it when the day
// is over). Lives on the GUI thread and has no lock; the worker gets copies.
// The page is reached only through signals (sigCheckUpdate, sigUpdateList).
class ResStatisticsParam : public QObject
{
    Q_OBJECT
public:
    static ResStatisticsParam* getInstance();
    static ResStatisticsParam* instance;
    // Stops the worker and deletes the instance (orderly shut-down, tests).
    static void destroyInstance();

    explicit ResStatisticsParam(QObject* parent = nullptr);
    ~ResStatisticsParam() override;

    void init(QString group, int detectCount);
    void setTimer(bool on);
    // Orderly shut-down: stores the current document and stops the worker.
    void shutdown();
    // Stores the day's counts now and returns once they are in the file
    // (nothing while another program holds the file).
    void storeDay();

    // Sums and queries of the shown day.
    void calcCount(CountDetect& d);
    void calcCount(CountCamera& c);
    void calcCount(CountGroup& g);
    void calcCount(CountGroupList& l);
    int getCount(ShiftType type, bool ok, int camera, int detect);
    QList<int> getRes(ShiftType type, bool ok, int camera, int detect);
    QList<int> getShiftTimeList(ShiftType type);
    QStringList getGroups();
    CountGroup getGoupFromName(QString name);
    QString getCurGroupName();
    void setCurGroup();
    void checkCameraDetectCount(int count);
    // Switches the group that counts; used when the operator changes group.
    void setParamGroup(const QString& group) { paramGroup = group; }

    // The document.
    static QJsonObject StuCountDetectToJson(const CountDetect& d, int index);
    static QJsonObject StuCountCameraToJson(const CountCamera& c, int index, int& detectsWritten);
    static QJsonObject StuCountGroupToJson(const CountGroup& g);
    static QJsonObject StuCountToJson(const CountGroupList& l);
    static void StuCountDetectFromJson(CountDetect& d, const QJsonObject& obj);
    static void StuCountCameraFromJson(CountCamera& c, const QJsonObject& obj);
    static void StuCountGroupFromJson(CountGroup& g, const QJsonObject& obj);
    static void StuCountFromJson(CountGroupList& l, const QJsonObject& obj);

    // Fresh records.
    static void initStuStatisticsCount(sCount& s);
    static void initStuCountDetect(CountDetect& d);
    static void initStuCountCamera(CountCamera& c);
    static void initStuCountGroup(CountGroup& g, QString name);
    void initStuCount(CountGroupList& l);

    // Day and shift settings.
    void laodConfig();
    void laodConfigFromJson(QJsonObject obj);
    bool checkParam(QJsonObject& obj);
    bool saveConfig();
    void createNewTime();
    QString getCurDBDate();
    // Hour of the clock at which the current statistical day began.
    int dayStartHour();

    static QString configFile() { return QStringLiteral("resstatistics.json"); }

    ResStatisticsDatabase* dbWorker = nullptr;
    QTimer* dayTimer = nullptr;
    quint32 startTime = 0;
    QString paramGroup = QStringLiteral("default");
    int detectNum = 2;
    CountGroupList liveCount;
    CountGroupList showCount;
    QString curGroupName;
    QList<bool> cameraCycleOK;
    bool cycleOK = true;
    int morningsStart = 8;
    int morningsEnd = 20;
    int nightStart = 20;
    int nightEnd = 8;

signals:
    void sigUpdateRecord(QString path);
    void sigLoadFinish(bool ok);
    void sigSaveRecord(QString date, QJsonObject json, bool isMove);
    // For the statistics page: today's counts changed.
    void sigCheckUpdate();
    // For the statistics page: the list of days changed (a day was archived).
    void sigUpdateList();

public slots:
    void addRecord(int detect, int hour, QList<bool> cameraOK, bool cycleEnd);
    void slotUpdateRecord(int row, QString path);
    void slotRecvRecord(QJsonObject json, bool ok);
    void checkDate();

private:
    CountGroup* liveGroup(bool create);
    CountGroup newGroup(const QString& name);
    static void shapeDetect(CountDetect& d);
    void shapeGroup(CountGroup& g);
    void startNewDay(const QDateTime& dayStart);
    // The live file was locked at start, so the day's stored counts are not
    // in liveCount yet: read and add them before the first save, which would
    // otherwise overwrite them. False while the file is still locked.
    bool takeUnreadLive();
    bool m_unreadLive = false;

    QThread* m_thread = nullptr;
    qint64 nextDayStart();
    void armDayCheck();
    bool m_initialised = false;
    bool m_timerOn = false;
    bool m_checkArmed = false;
    qint64 m_lastSeen = 0;
    qint64 m_nextStartFor = -1;
    qint64 m_nextStart = 0; // latest check time, to tell a clock set back
};
