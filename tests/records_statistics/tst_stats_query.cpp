// The range query: the fixed cases, bad input, a query racing the worker,
// and a brute-force recount of three weeks of results.
#include "statstestutil.h"

#include "inspection/cameramanager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QMap>
#include <QtConcurrent>
#include <QtTest>

#include <atomic>
#include <random>

namespace {
QList<int> ints(const QJsonValue& v)
{
    QList<int> l;
    for (const QJsonValue& e : v.toArray())
        l << e.toInt();
    return l;
}

QJsonObject query(const QString& a, const QString& b)
{
    QJsonObject out{{"device", "kept"}};
    ResStatisticsDatabase::loadCount(a, b, out, QString());
    return out;
}

QString text(const QDateTime& t) { return t.toString("yyyy-MM-dd hh:mm:ss"); }

// Plain tallies of what was counted: (camera, detection) as in a day
// document (-1 for the totals) -> hour start -> (all, ng).
using Tally = QMap<QPair<int, int>, QMap<qint64, QPair<int, int>>>;

// The series the query gives for one (camera, detection) record.
QList<int> seriesOf(const QJsonObject& out, int c, int d, bool ng)
{
    const QString kind = ng ? "ng" : "all";
    if (d < 0)
        return ints(c < 0 ? out["detect_" + kind] : out["detect_" + kind + "_detail"].toArray()[c]);
    const QJsonObject e = out["every_detect"].toArray()[d].toObject();
    return ints(c < 0 ? e["detect_index_" + kind] : e["detect_index_" + kind + "_detail"].toArray()[c]);
}
} // namespace

class TstStatsQuery : public StatsTestCase
{
    Q_OBJECT

private slots:
    void init()
    {
        startEnv(at(2026, 1, 5, 9));
        numCamera = 1;
    }
    void cleanup()
    {
        delete CameraManager::_instance;
        CameraManager::_instance = nullptr;
        stopEnv();
    }

    void fixedCases()
    {
        // The values of files that are there: the recount below. No file:
        // zeros for the window from 08:00, elements numbered.
        CameraManager::getInstance()->cameras.resize(1);
        QJsonObject b = query("2024-01-05 10:30:00", "2024-01-05 12:00:00");
        QCOMPARE(b["device"].toString(), QString("kept"));
        QCOMPARE(ints(b["detect_all"]), QList<int>({0, 0, 0}));
        QCOMPARE(b["every_detect"].toArray().size(), 2);
        QCOMPARE(b["every_detect"].toArray()[1].toObject()["detect_index"].toInt(), 2);
        QCOMPARE(b["every_detect"].toArray()[0].toObject()["detect_index_all_detail"].toArray(),
                 QJsonArray({QJsonArray{0, 0, 0}}));

        // Records beyond the declared detections are skipped, not indexed.
        gDNum = 3;
        QJsonObject doc = dayJson("2024-01-07", [](CountGroup& g) { g.total.data[2].OK[0] = 9; });
        gDNum = 2;
        QJsonObject g0 = doc["groups"].toArray()[0].toObject();
        g0["detectCount"] = 1;
        doc["groups"] = QJsonArray{g0};
        QVERIFY(QDir().mkpath("ResStatistics") && putStatsFile("ResStatistics/2024-01-07.db", doc));
        const QJsonObject lowered = query("2024-01-07 08:00:00", "2024-01-07 08:30:00");
        for (const QJsonValue& e : lowered["every_detect"].toArray())
            QCOMPARE(ints(e.toObject()["detect_index_all"]).value(0), 0);
    }

    void badInputIsAnsweredAtOnce()
    {
        const QStringList keys{"detect_all", "detect_ng", "detect_all_detail", "detect_ng_detail", "every_detect"};
        const QList<QPair<QString, QString>> cases{{"garbage", "2024-01-05 10:00:00"},
                                                   {"2024-01-05 10:00:00", "2024-13-45 99:00:00"},
                                                   {"2024-01-09 10:00:00", "2024-01-05 10:00:00"},
                                                   {"1970-01-01 00:00:00", "2100-01-01 00:00:00"}};
        for (const auto& c : cases) {
            QElapsedTimer t;
            t.start();
            const QJsonObject out = query(c.first, c.second);
            QVERIFY(t.elapsed() < 2000);
            for (const QString& k : keys) {
                QVERIFY2(out.contains(k), qPrintable(c.first + " " + k));
                QVERIFY(out[k].toArray().isEmpty());
            }
        }
    }

    void longRangesAndUndatedDaysAreReported()
    {
        QStringList problems;
        QJsonObject out;
        QVERIFY(!ResStatisticsDatabase::loadCount("2024-01-01 00:00:00", "2025-02-05 00:00:00", out, "default", &problems));
        QVERIFY2(problems.join(' ').contains("longer than 400 days"), qPrintable(problems.join(' ')));
        QVERIFY(out["detect_all"].toArray().isEmpty());
        problems.clear();
        QVERIFY(ResStatisticsDatabase::loadCount("2024-01-01 08:00:00", "2025-02-04 07:59:59", out, "default", &problems));
        QCOMPARE(out["detect_all"].toArray().size(), 400 * 24);
        QCOMPARE(problems, QStringList());

        // A document without a valid date: its day reads as missing, and says so.
        QVERIFY(QDir().mkpath("ResStatistics"));
        QVERIFY(putStatsFile("ResStatistics/2024-01-07.db", dayJson("", [](CountGroup& g) { g.total.total.OK[0] = 9; })));
        out = QJsonObject();
        QVERIFY(ResStatisticsDatabase::loadCount("2024-01-07 08:00:00", "2024-01-07 09:59:59", out, "default", &problems));
        QCOMPARE(ints(out["detect_all"]), QList<int>({0, 0}));
        QCOMPARE(problems.size(), 1);
        QVERIFY(problems[0].contains("2024-01-07.db"));
    }

    void queryWhileTheWorkerSaves()
    {
        numCamera = 2;
        writeStatsConfig(at(2026, 1, 5, 8));
        auto m = startModel();
        m->addRecord(0, 0, {true, true}, false);
        m->addRecord(1, 0, {true, true}, true);
        checkDateAndWait(m.get());
        std::atomic<bool> stop{false};
        std::atomic<int> zeros{0}, runs{0};
        QFuture<void> reader = QtConcurrent::run([&] {
            while (!stop) {
                QJsonObject out;
                ResStatisticsDatabase::loadCount("2026-01-05 08:00:00", "2026-01-05 09:59:59", out, "default");
                int sum = 0;
                for (int v : ints(out["detect_all"]))
                    sum += v;
                if (sum == 0)
                    ++zeros;
                ++runs;
            }
        });
        for (int i = 0; i < 300; ++i) {
            m->addRecord(0, 0, {true, false}, false);
            m->addRecord(1, 0, {true, true}, true);
            m->checkDate();
            if (i % 20 == 0)
                flushWorker(m.get());
        }
        flushWorker(m.get());
        stop = true;
        reader.waitForFinished();
        QVERIFY(runs > 0);
        QCOMPARE(zeros.load(), 0);
    }

    void recountDayStart8() { recount(8, true); }
    void recountDayStart6() { recount(6, false); }

private:
    void recount(int H, bool withLegacy)
    {
        std::mt19937 rng(H * 7919);
        auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        numCamera = 2;
        gDNum = 2;
        const QDate d0(2026, 2, 2);
        writeStatsConfig(QDateTime(d0, QTime(H, 0)), H, (H + 12) % 24, (H + 12) % 24, H);
        clock->setNow(QDateTime(d0, QTime(H, 10)));
        Tally tally;
        auto hourKey = [](const QDateTime& t) { return t.toSecsSinceEpoch() / 3600 * 3600; };
        auto add = [&](int c, int d, qint64 k, int all, int ng) {
            auto& v = tally[{c, d}][k];
            v.first += all;
            v.second += ng;
        };
        // The day check on, on a long interval: this test runs its own.
        auto started = [] {
            auto m = startModel();
            m->dayTimer->setInterval(86400000);
            m->setTimer(true);
            return m;
        };
        auto model = started();
        auto restart = [&](const QDateTime& when, int cameras, int detects) {
            model.reset(); // an orderly stop stores the day
            clock->setNow(when);
            numCamera = cameras;
            gDNum = detects;
            model = started();
        };
        // Stops: days 4-5 off (a legacy file for day 5), day 12 off with
        // more cameras after, day 17 off with fewer detections after, and an
        // orderly restart in day 9. Group "B" for part of some days.
        const QDateTime end(d0.addDays(20), QTime(3, 30)); // in the morning window
        while (clock->now() < end) {
            const int day = static_cast<int>(d0.daysTo(clock->now().date()));
            const QTime t = clock->now().time();
            if (day == 4 && t.hour() >= 10)
                restart(QDateTime(d0.addDays(6), QTime(H + 1, 5)), 2, 3);
            else if (day == 12)
                restart(QDateTime(d0.addDays(13), QTime(H + 2, 0)), 3, 3);
            else if (day == 17)
                restart(QDateTime(d0.addDays(18), QTime(H, 30)), 3, 2);
            else if (day == 9 && t.hour() == 14 && t.minute() < 30)
                restart(clock->now().addSecs(1800), numCamera, gDNum);
            model->setParamGroup(day % 3 == 1 && t.hour() >= 15 && t.hour() < 18 ? "B" : "default");
            // One cycle: every detection judged by every camera.
            QVector<QList<bool>> flags(gDNum);
            for (int d = 0; d < gDNum; ++d)
                for (int c = 0; c < numCamera; ++c)
                    flags[d] << (rnd(0, 9) > 1);
            for (int d = 0; d < gDNum; ++d)
                model->addRecord(d, 0, flags[d], d == gDNum - 1);
            if (model->paramGroup == "default") {
                const qint64 k = hourKey(clock->now());
                QVector<bool> camOK(numCamera, true);
                bool cycleOK = true;
                for (int d = 0; d < gDNum; ++d) {
                    bool allCams = true;
                    for (int c = 0; c < numCamera; ++c) {
                        add(c, d, k, 1, !flags[d][c]);
                        allCams = allCams && flags[d][c];
                        camOK[c] = camOK[c] && flags[d][c];
                    }
                    add(-1, d, k, 1, !allCams);
                    cycleOK = cycleOK && allCams;
                }
                for (int c = 0; c < numCamera; ++c)
                    add(c, -1, k, 1, !camOK[c]);
                add(-1, -1, k, 1, !cycleOK);
            }
            model->checkDate();
            clock->advance(rnd(3, 40) * 60 * 1000 + rnd(0, 59) * 1000);
        }
        if (withLegacy) { // day 5 came from an older station: legacy rows, day start 8
            QList<QPair<QString, QPair<QString, QString>>> rows;
            const QDateTime s5(d0.addDays(5), QTime(8, 0));
            for (int c : {0, 1, 8})
                for (int d : {0, 1, 8}) {
                    QStringList ok, ng;
                    for (int k = 0; k < 24; ++k) {
                        const int o = rnd(0, 3), n = rnd(0, 1);
                        ok << QString::number(o);
                        ng << QString::number(n);
                        add(c == 8 ? -1 : c, d == 8 ? -1 : d, hourKey(s5.addSecs(k * 3600)), o + n, n);
                    }
                    rows.append({QString("C%1_D%2").arg(c).arg(d), {ok.join(' '), ng.join(' ')}});
                }
            QVERIFY(putStatsFile("ResStatistics/" + d0.addDays(5).toString("yyyy-MM-dd") + ".db", {}, rows));
        }
        checkDateAndWait(model.get());

        // Elements are numbered only when no day file is there.
        const QJsonObject first = query(text(QDateTime(d0, QTime(H, 0))), text(QDateTime(d0, QTime(H + 3, 0))));
        QVERIFY(!first["every_detect"].toArray()[0].toObject().contains("detect_index"));
        const QDateTime now = clock->now();
        for (int i = 0; i < 40; ++i) {
            QDateTime s, f;
            if (i < 10) { // inside the morning window of the day in progress
                s = QDateTime(now.date().addDays(-rnd(0, 2)), QTime(rnd(0, H - 1), rnd(0, 59), rnd(0, 59)));
                f = QDateTime(now.date(), QTime(rnd(0, H - 1), rnd(0, 59)));
                if (f < s)
                    std::swap(s, f);
            } else { // mid-hour and on the hour
                s = QDateTime(d0.addDays(rnd(-1, 19)), QTime(rnd(0, 23), i % 2 ? rnd(0, 59) : 0, i % 2 ? rnd(0, 59) : 0));
                f = s.addSecs(rnd(0, 6 * 24) * 3600 + (i % 3 ? rnd(0, 3599) : 0));
            }
            const QJsonObject out = query(text(s), text(f));
            const qint64 from = hourKey(s);
            const int n = static_cast<int>((hourKey(f) - from) / 3600) + 1;
            const int cameras = out["detect_all_detail"].toArray().size();
            const int detects = out["every_detect"].toArray().size();
            QVERIFY2(cameras >= 2 && detects >= 2, qPrintable(text(s) + " - " + text(f)));
            for (int c = -1; c < cameras; ++c)
                for (int d = -1; d < detects; ++d) {
                    QList<int> all, ng;
                    for (int h = 0; h < n; ++h) {
                        const auto v = tally.value({c, d}).value(from + h * 3600);
                        all << v.first;
                        ng << v.second;
                    }
                    QCOMPARE(seriesOf(out, c, d, false), all);
                    QCOMPARE(seriesOf(out, c, d, true), ng);
                }
        }
    }
};

QTEST_GUILESS_MAIN(TstStatsQuery)
#include "tst_stats_query.moc"
