#pragma once
#include "records/countgroup.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

class ResStatisticsParam;

// The statistics files: ResStatistics.db holds the day in progress (one
// JSON document in table resstatistics, row "statisticsjson"), each finished
// day is a file of its own in ./ResStatistics named by its start date. The
// worker lives on a thread of its own and writes these files for the model;
// the range query (loadCount) reads them from any thread.
class ResStatisticsDatabase : public QObject
{
    Q_OBJECT
public:
    explicit ResStatisticsDatabase(ResStatisticsParam* param, QObject* parent = nullptr);
    // A reader only (legacy conversion in memory, never written back): no
    // start-up check.
    struct ReaderOnly {};
    explicit ResStatisticsDatabase(ReaderOnly)
        : m_param(nullptr)
        , m_writeBack(false)
    {
    }

    void loadCountFromJson(QString path, QJsonObject& out);
    void loadCountFromJson(QString path);
    QJsonObject loadCountFromJson(QSqlQuery query, QString path);
    bool saveCountFromJson(QJsonObject json, QSqlQuery query);
    bool loadCountFromJson(CountGroup& group, QSqlQuery& query);
    bool loadCountCamera(CountCamera& camera, int cameraIndex, QSqlQuery query);
    bool loadCountDetect(CountDetect& detect, QString sql, QSqlQuery query);

    // Moves the live file into the archive folder under date (never over an
    // existing archive: a taken name becomes date.N.db) and puts a fresh
    // template in its place. False, with the live file untouched, when the
    // move failed.
    bool archiveLive(const QString& date);

    // The range query for the HTTP API; safe from any thread. False, with
    // the series empty and the reason in problems, when the range is
    // refused (no time, reversed, or longer than kMaxQueryDays); a day file
    // whose document has no valid "date" is left out and named in problems.
    static bool loadCount(QString startText, QString finishText, QJsonObject& out, QString group,
                          QStringList* problems = nullptr);

    // True when another program held the live file locked through the
    // start-up check (it was reported, and kept).
    bool liveBusyAtStart = false;

    static QString liveFile() { return QStringLiteral("ResStatistics.db"); }
    static QString templateFile() { return QStringLiteral("ResStatisticsNULL.db"); }
    static QString archiveDir() { return QStringLiteral("ResStatistics"); }
    static QString table() { return QStringLiteral("resstatistics"); }
    // Writes a template database (empty table) at path; the factory tool
    // calls it for the working-directory template.
    static bool writeTemplate(const QString& path);
    // True when path has no rows at all (a fresh copy of the template).
    static bool isFreshFile(const QString& path);
    static bool archiveExists(const QString& date);
    // A day name that may become part of a file name: a real date written
    // as "yyyy-MM-dd", nothing else.
    static bool isDayName(const QString& s);
    // isDayName, and not further from the clock than a day ahead or ten
    // years back: anything else is not a statistical day of this station.
    static bool isPlausibleDay(const QString& s);
    // Keeps the live file aside (ResStatistics.db.bad-<time>) and starts an
    // empty one. False when the file could not be moved.
    bool replaceLive();
    // The longest range the query walks, in days; longer ranges are refused.
    static constexpr int kMaxQueryDays = 400;

signals:
    void sigLoadFinish(QJsonObject json, bool ok);
    // A day was archived at path (after the move).
    void sigArchived(QString path);

public slots:
    void slotUpdateRecord(QString path);
    void slotSaveRecord(QString curDate, QJsonObject json, bool isMove);

private:
    bool ensureTable(QSqlDatabase& db);
    bool installTemplate();
    bool setDamagedAside();

    ResStatisticsParam* m_param;
    bool m_writeBack = true; // a legacy file read is converted in place
};

QString removeSuffix(const QString& path);
bool tableExists(QSqlDatabase& db, const QString& table);

bool completeData(QDateTime day, QDateTime start, QDateTime finish, QJsonArray& detectNg, QJsonArray& detectAll,
                  QJsonArray& ngDetail, QJsonArray& allDetail, QJsonArray& everyDetect, int cameraCount, int detectCount,
                  int& firstHour, int& endHour, int dayStartHour);
void completeDataForErrorData(QDateTime day, QDateTime start, QDateTime finish, QJsonArray& detectNg,
                              QJsonArray& detectAll, QJsonArray& ngDetail, QJsonArray& allDetail,
                              QJsonArray& everyDetect, int cameraCount, int detectCount);
QJsonObject creatorEveryDetectIndex(QJsonObject element);
