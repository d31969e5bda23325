#pragma once
// Shared pieces of the statistics tests: a working directory with the
// factory template, a test clock, the counts of cameras and detections, a
// model with its worker.
#include "frame/clock.h"
#include "frame/globals.h"
#include "records/resstatisticsdatabase.h"
#include "records/resstatisticsparam.h"
#include "testsupport/testenv.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QStringList>

#include <functional>
#include <memory>

inline QDateTime at(int y, int m, int d, int h, int min = 0, int s = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s));
}

// Each test function starts in a working directory with the factory template,
// on a test clock, with two cameras and two detections.
class StatsTestCase : public QObject
{
protected:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestClock> clock;

    void startEnv(const QDateTime& now)
    {
        env.reset(new TestEnv);
        clock.reset(new TestClock(now));
        Clock::install(clock.get());
        numCamera = 2;
        gDNum = 2;
    }
    void stopEnv()
    {
        Clock::install(nullptr);
        clock.reset();
        env.reset();
    }
    // A model on the live file, started as the station starts it.
    static std::unique_ptr<ResStatisticsParam> startModel(const QString& group = "default")
    {
        std::unique_ptr<ResStatisticsParam> m(new ResStatisticsParam);
        m->init(group, gDNum);
        return m;
    }
};

inline void writeStatsConfig(const QDateTime& start, int ms = 8, int me = 20, int ns = 20, int ne = 8)
{
    QJsonObject o{{"time", QString::number(start.toSecsSinceEpoch())},
                  {"morningsStart", ms},
                  {"morningsEnd", me},
                  {"nightStart", ns},
                  {"nightEnd", ne}};
    QFile f(ResStatisticsParam::configFile());
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(QJsonDocument(o).toJson());
}

// A day document of the "default" group, zero but for what `fill` sets.
inline QJsonObject dayJson(const QString& date, const std::function<void(CountGroup&)>& fill)
{
    CountGroupList l;
    l.date = date;
    CountGroup g;
    ResStatisticsParam::initStuCountGroup(g, "default");
    fill(g);
    l.groups = {g};
    return ResStatisticsParam::StuCountToJson(l);
}

// Waits until the worker has run everything queued so far, then delivers
// its answers to the model.
inline void flushWorker(ResStatisticsParam* m)
{
    if (m && m->dbWorker)
        QMetaObject::invokeMethod(m->dbWorker, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
}

// The minute check (a save, or the day's rotation), waited for until the
// worker has stored what it sent.
inline void checkDateAndWait(ResStatisticsParam* m)
{
    m->checkDate();
    flushWorker(m);
}

// Runs fn on a statistics file through a connection of its own.
inline bool withStatsDb(const QString& path, const std::function<bool(QSqlQuery&)>& fn)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "testfile");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            ok = fn(q);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("testfile");
    return ok;
}

// The document row(s) of a statistics file.
inline QStringList docRows(const QString& path)
{
    QStringList rows;
    withStatsDb(path, [&](QSqlQuery& q) {
        q.exec("select value1 from resstatistics where name='statisticsjson'");
        while (q.next())
            rows << q.value(0).toString();
        return true;
    });
    return rows;
}

inline QJsonObject docOf(const QString& path)
{
    const QStringList rows = docRows(path);
    return rows.size() == 1 ? QJsonDocument::fromJson(rows.first().toUtf8()).object() : QJsonObject();
}

// Sum of one record's OK and NG over all slots in a document.
inline int docSum(const QJsonObject& doc, const QString& group, int camera, int detect, const char* key)
{
    int sum = 0;
    for (const QJsonValue& g : doc.value("groups").toArray()) {
        if (g.toObject().value("groupName").toString() != group)
            continue;
        for (const QJsonValue& c : g.toObject().value("datas").toArray()) {
            if (c.toObject().value("cameraID").toInt() != camera)
                continue;
            for (const QJsonValue& d : c.toObject().value("data").toArray())
                if (d.toObject().value("detectID").toInt() == detect)
                    for (const QJsonValue& v : d.toObject().value(key).toArray())
                        sum += v.toInt();
        }
    }
    return sum;
}

// Writes a statistics file holding doc (or legacy rows name -> (ok, ng)).
inline bool putStatsFile(const QString& path, const QJsonObject& doc,
                         const QList<QPair<QString, QPair<QString, QString>>>& legacy = {})
{
    return ResStatisticsDatabase::writeTemplate(path) && withStatsDb(path, [&](QSqlQuery& q) {
        bool ok = true;
        if (!doc.isEmpty()) {
            q.prepare("insert into resstatistics values('statisticsjson', ?, '')");
            q.addBindValue(QString::fromUtf8(QJsonDocument(doc).toJson()));
            ok = q.exec();
        }
        for (const auto& row : legacy) {
            q.prepare("insert into resstatistics values(?, ?, ?)");
            q.addBindValue(row.first);
            q.addBindValue(row.second.first);
            q.addBindValue(row.second.second);
            ok = ok && q.exec();
        }
        return ok;
    });
}
