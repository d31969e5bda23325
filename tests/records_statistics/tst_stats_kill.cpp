// Kill test: a child process counts, saves every few milliseconds and
// rotates every few hundred saves on a fast test clock; the parent kills it
// at random moments and checks the files after every kill.
#include "statstestutil.h"
#include "testsupport/selfchild.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QThread>
#include <QtTest>

#include <random>
#include <sys/stat.h>

namespace {
const char* const kChildVar = "STATS_KILL_CHILD";
const int kStepSecs = 1200; // one cycle and one save per step: 72 saves a day
const QDate kFirstDay(2026, 3, 2); // the statistics day the child starts in, from 08:00

QByteArray hashOf(const QJsonObject& doc)
{
    return QCryptographicHash::hash(QJsonDocument(doc).toJson(QJsonDocument::Indented), QCryptographicHash::Sha1)
        .toHex();
}

// The child: counts one cycle every step of the clock, journals every
// document before handing it to the worker, and never stops by itself.
int runChild()
{
    numCamera = 2;
    gDNum = 2;
    QDateTime start(kFirstDay, QTime(8, 10));
    QFile last("clock.txt");
    if (last.open(QIODevice::ReadOnly))
        start = QDateTime::fromSecsSinceEpoch(last.readAll().trimmed().toLongLong()).addSecs(kStepSecs);
    last.close();
    TestClock clock(start);
    Clock::install(&clock);
    ResStatisticsParam m;
    QFile journal("journal.txt");
    journal.open(QIODevice::Append | QIODevice::Unbuffered);
    // Every document the model hands to the worker is journaled first: this
    // connection is made before the worker's, so it runs before the worker
    // can have stored the document.
    QObject::connect(&m, &ResStatisticsParam::sigSaveRecord, &m,
                     [&journal](const QString&, const QJsonObject& json, bool) { journal.write(hashOf(json) + "\n"); },
                     Qt::DirectConnection);
    m.init("default", 2);
    for (int i = 1;; ++i) {
        clock.advance(kStepSecs * 1000);
        QSaveFile c("clock.txt");
        c.open(QIODevice::WriteOnly);
        c.write(QByteArray::number(clock.now().toSecsSinceEpoch()));
        c.commit();
        m.calcCount(m.liveCount);
        m.checkDate();
        m.addRecord(0, 0, {true, i % 7 != 0}, false);
        m.addRecord(1, 0, {true, true}, true);
        if (i % 8 == 0)
            flushWorker(&m);
    }
}

// The largest per-slot count of the cycle record, or with all true the
// largest count of any record.
int slotMax(const QJsonObject& doc, bool all = false)
{
    int best = 0;
    for (const QJsonValue& g : doc["groups"].toArray())
        for (const QJsonValue& c : g.toObject()["datas"].toArray())
            if (all || c.toObject()["cameraID"].toInt() == -1)
                for (const QJsonValue& d : c.toObject()["data"].toArray())
                    if (all || d.toObject()["detectID"].toInt() == -1)
                        for (int k = 0; k < 24; ++k)
                            best = qMax(best, d.toObject()["OK"].toArray()[k].toInt()
                                                  + d.toObject()["NG"].toArray()[k].toInt());
    return best;
}
} // namespace

class TstStatsKill : public QObject
{
    Q_OBJECT
private slots:
    void killedAtRandomLosesNothing()
    {
        TestEnv env;
        const int kills = qEnvironmentVariableIntValue("STATS_KILLS") > 0 ? qEnvironmentVariableIntValue("STATS_KILLS") : 200;
        std::mt19937 rng(20260302);
        QMap<QString, QByteArray> seenArchives;
        int withDocument = 0, fresh = 0, settingsAhead = 0, twoNames = 0;
        auto startChild = [&](QProcess& child) { return startSelfAsChild(child, kChildVar, env.workDir()); };
        {
            // The first start makes the live file and the settings; a kill
            // before that finds nothing to keep, so the kills begin once the
            // station has saved once, however slow this machine starts.
            QProcess first;
            QVERIFY(startChild(first));
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo("journal.txt").size() > 0, 60000);
            first.kill();
            QVERIFY(first.waitForFinished());
        }
        // A loaded machine lets the child make less progress per kill: it is
        // then killed more often rather than the test failing.
        auto clockOf = [] {
            QFile f("clock.txt");
            return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLongLong() : 0LL;
        };
        int k = 0;
        for (; k < kills || (seenArchives.size() < kills / 20 && k < 5 * kills); ++k) {
            // However slowly this machine starts the child, each kill waits
            // for a few steps of progress (bounded), then hits a random
            // moment of the next ones: saves, rotations and starts alike.
            const qint64 before = clockOf();
            const qint64 steps = std::uniform_int_distribution<int>(1, 8)(rng);
            QProcess child;
            QVERIFY(startChild(child));
            QElapsedTimer waited;
            waited.start();
            while (clockOf() < before + steps * kStepSecs && child.state() == QProcess::Running
                   && waited.elapsed() < 30000)
                QThread::usleep(500);
            QThread::usleep(std::uniform_int_distribution<int>(0, 40000)(rng));
            child.kill();
            QVERIFY(child.waitForFinished());

            const QString where = QString("after kill %1").arg(k);
            // The live file holds one document the child sent, or is a fresh
            // template right after an archive.
            QVERIFY2(QFileInfo("ResStatistics.db").isFile(), qPrintable(where));
            const QStringList rows = docRows("ResStatistics.db");
            QVERIFY2(rows.size() <= 1, qPrintable(where));
            QFile jf("journal.txt");
            jf.open(QIODevice::ReadOnly); // missing when killed before the first save
            const QList<QByteArray> journal = jf.readAll().split('\n');
            if (rows.size() == 1) {
                ++withDocument;
                // Besides the journaled documents, a start on a fresh file
                // writes the empty day before the first save.
                const QJsonObject live = QJsonDocument::fromJson(rows[0].toUtf8()).object();
                QVERIFY2(journal.contains(hashOf(live)) || slotMax(live, true) == 0, qPrintable(where));
            } else {
                QVERIFY2(ResStatisticsDatabase::isFreshFile("ResStatistics.db"), qPrintable(where));
                ++fresh;
            }
            // The settings are the old or the new ones, never half written.
            QFile cfg("resstatistics.json");
            QVERIFY(cfg.open(QIODevice::ReadOnly));
            const QJsonObject c = QJsonDocument::fromJson(cfg.readAll()).object();
            QVERIFY2(c.contains("nightEnd"), qPrintable(where));
            QCOMPARE(c["time"].toString().toLongLong() % 86400, 8 * 3600LL);
            // Where the kill fell: between the new start time and the archive,
            // or between the archive's link and the fresh file.
            const QString liveDate = docOf("ResStatistics.db")["date"].toString();
            if (!liveDate.isEmpty()
                && liveDate < QDateTime::fromSecsSinceEpoch(c["time"].toString().toLongLong()).toString("yyyy-MM-dd"))
                ++settingsAhead;
            struct stat a;
            if (::stat("ResStatistics.db", &a) == 0 && a.st_nlink > 1)
                ++twoNames;
            // No archive lost, changed, duplicated or holding two days.
            const QStringList names = QDir("ResStatistics").entryList({"*.db"}, QDir::Files);
            for (auto it = seenArchives.cbegin(); it != seenArchives.cend(); ++it) {
                QVERIFY2(names.contains(it.key()), qPrintable(where + " lost " + it.key()));
                QCOMPARE(hashOf(docOf("ResStatistics/" + it.key())), it.value());
            }
            for (const QString& n : names) {
                QVERIFY2(n.count('.') == 1, qPrintable(where + " duplicate " + n));
                if (seenArchives.contains(n))
                    continue;
                const QJsonObject doc = docOf("ResStatistics/" + n);
                QCOMPARE(doc["date"].toString() + ".db", n);
                QVERIFY2(slotMax(doc) <= 3600 / kStepSecs, qPrintable(where + " merged " + n));
                seenArchives.insert(n, hashOf(doc));
            }
        }
        // Every check above held after every kill: no corrupt file, no lost,
        // changed or doubled archive, no document the child never sent.
        qInfo() << "kills" << k << "corrupt files 0 lost archives 0 archives" << seenArchives.size() << "live with a document" << withDocument
                << "fresh" << fresh << "settings ahead of the archive" << settingsAhead << "one file, two names" << twoNames;
        QVERIFY(seenArchives.size() >= kills / 20);
        // Every day the child's clock left is archived, but the last one when
        // the kill fell between the clock step and its archive.
        QFile last("clock.txt");
        QVERIFY(last.open(QIODevice::ReadOnly));
        const QDateTime reached = QDateTime::fromSecsSinceEpoch(last.readAll().trimmed().toLongLong());
        const int days = int(kFirstDay.daysTo(reached.date())) - (reached.time() < QTime(8, 0) ? 1 : 0);
        QVERIFY2(seenArchives.size() == days || seenArchives.size() == days - 1, qPrintable(QString::number(days)));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildVar))
        return runChild();
    TstStatsKill t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_stats_kill.moc"
