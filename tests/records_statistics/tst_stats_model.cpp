// The statistics model: counting, shifts, the document and the day rotation
// on a test clock.
#include "statstestutil.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTimeZone>
#include <QtTest>

class TstStatsModel : public StatsTestCase
{
    Q_OBJECT

private slots:
    void init() { startEnv(at(2026, 1, 5, 9)); }
    void cleanup() { stopEnv(); }

    void countsEveryResultInItsPlace()
    {
        writeStatsConfig(at(2026, 1, 5, 8));
        auto m = startModel();
        // Every record of every cycle is recounted by the range query's test;
        // here the inputs it never gives. A flag beyond the cameras is not
        // counted; bad detections are refused, never indexed.
        clock->setNow(at(2026, 1, 5, 11, 30)); // slot 3
        m->addRecord(0, 11, {true, true}, false);
        m->addRecord(1, 11, {true, true, false}, true);
        QCOMPARE(m->liveCount.groups.first().total.total.OK[3], 1);
        m->addRecord(-1, 0, {true}, true);
        m->addRecord(9, 0, {true}, true);
        QCOMPARE(m->liveCount.groups.first().total.total.whole.ok, 1);

        // Without the day check running: 30 h after the start is slot 23, a
        // start in the future is slot 0.
        ResStatisticsParam bare;
        bare.startTime = at(2026, 1, 5, 8).toSecsSinceEpoch();
        clock->setNow(at(2026, 1, 6, 14));
        bare.addRecord(0, 0, {false, false}, true);
        QCOMPARE(bare.liveCount.groups.first().total.total.NG[23], 1);
        clock->setNow(at(2026, 1, 5, 7));
        bare.addRecord(0, 0, {true, true}, true);
        QCOMPARE(bare.liveCount.groups.first().total.total.OK[0], 1);
    }

    void shiftSumsSeriesAndLabels()
    {
        ResStatisticsParam m;
        CountGroup g;
        ResStatisticsParam::initStuCountGroup(g, "default");
        for (int i = 0; i < 24; ++i)
            g.total.total.OK[i] = i + 1;
        m.liveCount.groups = {g};
        m.curGroupName = "default";
        m.slotUpdateRecord(0, QString());
        // Slots 0-11, 12-23, all, and a camera that is not there; the series
        // and labels of the usual shifts and another group's zeros are the
        // page's bars, axes and values in its test.
        QCOMPARE(QList<int>({m.getCount(Morning, true, 8, 8), m.getCount(Night, true, 8, 8), m.getCount(Whole, true, 8, 8),
                             m.getCount(Whole, true, 5, 0)}),
                 QList<int>({78, 222, 300, 0}));
        QVERIFY(m.getRes(Whole, true, 5, 0).isEmpty());
        m.nightStart = 6;
        QCOMPARE(m.getRes(Night, true, 8, 8), QList<int>({23, 24}));
        QCOMPARE(m.getShiftTimeList(Night), QList<int>({6, 7}));
    }

    void documentRoundTripAndShapes()
    {
        QJsonObject doc = dayJson("2026-01-05", [](CountGroup& g) {
            g.datas[1].data[1].NG[5] = 7;
            g.datas[0].total.OK[2] = 3;
            g.total.total.OK[0] = 4;
        });
        // Totals first and no shift keys: still read into their place.
        QJsonObject group = doc["groups"].toArray()[0].toObject();
        QJsonArray datas = group["datas"].toArray();
        QJsonObject cam0 = datas[0].toObject();
        QJsonArray cam0data = cam0["data"].toArray();
        cam0data.prepend(cam0data.takeAt(cam0data.size() - 1));
        cam0["data"] = cam0data;
        datas[0] = cam0;
        datas.prepend(datas.takeAt(datas.size() - 1));
        group["datas"] = datas;
        group.remove("morningStart");
        group.remove("nightStart");
        doc["groups"] = QJsonArray{group};
        CountGroupList back;
        ResStatisticsParam::StuCountFromJson(back, doc);
        const CountGroup& b = back.groups[0];
        QCOMPARE(QList<int>({b.datas[1].data[1].NG[5], b.datas[0].total.OK[2], b.total.total.OK[0], int(b.datas.size()),
                             b.morningStart, b.nightStart}),
                 QList<int>({7, 3, 4, 2, 8, 20}));

        // A short document on disk is brought to shape and counts safely.
        writeStatsConfig(at(2026, 1, 5, 8));
        QJsonObject shortDoc{{"date", "2026-01-05"},
                             {"groups", QJsonArray{QJsonObject{
                                            {"groupName", "default"},
                                            {"datas", QJsonArray{QJsonObject{{"cameraID", -1},
                                                                             {"data", QJsonArray{QJsonObject{
                                                                                          {"detectID", 0},
                                                                                          {"OK", QJsonArray{1, 2}}}}}}}}}}}};
        QVERIFY(putStatsFile("ResStatistics.db", shortDoc));
        {
            auto m = startModel();
            const CountGroup& s = m->liveCount.groups.first();
            QCOMPARE(s.datas.size(), 2);
            QCOMPARE(s.total.data[0].OK.size(), 24);
            QCOMPARE(s.total.data[0].OK[1], 2);
            m->addRecord(1, 0, {false, false}, true);
            QCOMPARE(m->liveCount.groups.first().total.total.NG[1], 1);
            m->checkCameraDetectCount(4);
            QCOMPARE(m->liveCount.groups.first().datas[1].data.size(), 4);
            m->checkCameraDetectCount(2);
            QCOMPARE(m->liveCount.groups.first().total.data.size(), 4);
        }
        // A document without groups shows the current group.
        QVERIFY(putStatsFile("ResStatistics.db", QJsonObject{{"date", "2026-01-05"}, {"groups", QJsonArray()}}));
        auto m = startModel("moulds-A");
        QCOMPARE(m->curGroupName, QString("moulds-A"));
        m->addRecord(0, 0, {true, true}, true);
        QCOMPARE(m->liveCount.groups.first().groupName, QString("moulds-A"));
    }

    void dayRotation()
    {
        writeStatsConfig(at(2026, 1, 4, 8));
        clock->setNow(at(2026, 1, 5, 7, 59));
        auto m = startModel();
        m->setTimer(true);
        QSignalSpy spy(m.get(), &ResStatisticsParam::sigSaveRecord);
        m->addRecord(0, 0, {true, true}, true);
        m->checkDate();
        QCOMPARE(spy.last().at(2).toBool(), false);
        clock->setNow(at(2026, 1, 5, 8, 0, 30));
        m->checkDate();
        QCOMPARE(spy.last().at(0).toString() + spy.last().at(2).toString(), QString("2026-01-04true"));
        QCOMPARE(docSum(spy.last().at(1).toJsonObject(), "default", -1, -1, "OK"), 1);
        QCOMPARE(m->startTime, quint32(at(2026, 1, 5, 8).toSecsSinceEpoch()));
        QCOMPARE(m->liveCount.date, QString("2026-01-05"));
        QCOMPARE(m->liveCount.groups.size(), 1);
        QCOMPARE(m->liveCount.groups.first().total.total.OK[0], 0);
        ResStatisticsParam reread;
        reread.laodConfig();
        QCOMPARE(reread.startTime, m->startTime);
        // A result just after the next day's start is not counted into the
        // old day's last slot.
        clock->setNow(at(2026, 1, 6, 8, 0, 10));
        m->addRecord(0, 0, {true, true}, true);
        QCOMPARE(spy.last().at(2).toBool(), true);
        QCOMPARE(m->liveCount.date, QString("2026-01-06"));
        QCOMPARE(m->liveCount.groups.first().total.total.OK[0], 1);

        // Three days off: one rotation, to the current day.
        clock->setNow(at(2026, 1, 9, 9));
        spy.clear();
        m->checkDate();
        m->checkDate();
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy[0].at(0).toString() + spy[0].at(2).toString() + spy[1].at(2).toString(),
                 QString("2026-01-06truefalse"));
        QCOMPARE(m->getCurDBDate(), QString("2026-01-09"));

        // Clock set back: an hour, and across the day start, keep the day;
        // three days start the day the clock now shows.
        clock->setNow(at(2026, 1, 9, 8, 20));
        m->checkDate();
        clock->setNow(at(2026, 1, 9, 7, 40));
        m->checkDate();
        m->addRecord(0, 0, {false, false}, true);
        QCOMPARE(m->liveCount.groups.first().total.total.NG[0], 1);
        QCOMPARE(spy.last().at(2).toBool(), false);
        clock->setNow(at(2026, 1, 6, 10));
        m->checkDate();
        QCOMPARE(spy.last().at(0).toString() + spy.last().at(2).toString(), QString("2026-01-09true"));
        QCOMPARE(m->getCurDBDate(), QString("2026-01-06"));
        m->checkDate();
        QCOMPARE(spy.last().at(2).toBool(), false);
    }

    // The first second of a day counts in that day; while the day check is
    // stopped (an export) the day does not rotate behind its back.
    void dayBoundaryAndStoppedCheck()
    {
        writeStatsConfig(at(2026, 1, 4, 8));
        clock->setNow(at(2026, 1, 5, 7, 59, 59));
        auto m = startModel();
        m->setTimer(true);
        m->addRecord(0, 0, {true, true}, true);
        clock->setNow(at(2026, 1, 5, 8));
        m->addRecord(0, 0, {false, true}, true);
        flushWorker(m.get());
        const QJsonObject old = docOf("ResStatistics/2026-01-04.db");
        QCOMPARE(docSum(old, "default", -1, -1, "OK") + docSum(old, "default", -1, -1, "NG"), 1);
        QCOMPARE(m->liveCount.date, QString("2026-01-05"));
        QCOMPARE(m->liveCount.groups.first().total.total.NG[0], 1);

        m->setTimer(false);
        clock->setNow(at(2026, 1, 6, 8, 0, 5));
        m->addRecord(0, 0, {true, true}, true);
        flushWorker(m.get());
        QCOMPARE(m->liveCount.date, QString("2026-01-05"));
        QCOMPARE(m->liveCount.groups.first().total.total.OK[23], 1);
        QVERIFY(!QFile::exists("ResStatistics/2026-01-05.db"));
        m->setTimer(true);
        clock->advance(60000);
        flushWorker(m.get());
        QCOMPARE(m->liveCount.date, QString("2026-01-06"));
        QCOMPARE(docSum(docOf("ResStatistics/2026-01-05.db"), "default", -1, -1, "OK"), 1);
        m->shutdown();
    }

    void settingsFile()
    {
        {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^laodConfig fail, Error parsing JSON:"));
            env->writeWorkFile("resstatistics.json", "{");
            clock->setNow(at(2026, 1, 5, 9));
            ResStatisticsParam m;
            m.laodConfig();
            QCOMPARE(m.startTime, quint32(at(2026, 1, 5, 8).toSecsSinceEpoch()));
            // Equal hours change nothing, new ones keep the day's start (that
            // they survive a restart is the page's test).
            QJsonObject hours{{"morningsStart", 6}, {"morningsEnd", 18}, {"nightStart", 18}, {"nightEnd", 6}};
            QVERIFY(m.checkParam(hours));
            m.laodConfigFromJson(hours);
            m.setCurGroup();
            QVERIFY(!m.checkParam(hours));
            QCOMPARE(m.startTime, quint32(at(2026, 1, 5, 8).toSecsSinceEpoch()));
        }
        // A day that starts at midnight rotates at midnight.
        writeStatsConfig(at(2026, 1, 5, 0), 0, 12, 12, 0);
        ResStatisticsParam m;
        m.laodConfig();
        QSignalSpy spy(&m, &ResStatisticsParam::sigSaveRecord);
        clock->setNow(at(2026, 1, 5, 23, 59));
        m.checkDate();
        clock->setNow(at(2026, 1, 6, 0, 0, 30));
        m.checkDate();
        QCOMPARE(spy[0].at(2).toBool(), false);
        QCOMPARE(spy[1].at(2).toBool(), true);
        QCOMPARE(m.getCurDBDate(), QString("2026-01-06"));
    }

    // The minute check runs on the station clock, once per minute while on.
    void minuteCheckCadence()
    {
        writeStatsConfig(at(2026, 1, 5, 8));
        auto m = startModel();
        QSignalSpy spy(m.get(), &ResStatisticsParam::sigSaveRecord);
        m->setTimer(true);
        m->setTimer(true);
        for (int s : {60, 59, 1}) {
            clock->advance(s * 1000);
            QCOMPARE(spy.size(), s == 1 ? 2 : 1);
        }
        m->setTimer(false);
        clock->advance(5 * 60 * 1000);
        QCOMPARE(spy.size(), 2);
        m->setTimer(true);
        clock->advance(24 * 3600 * 1000);
        QCOMPARE(spy.size(), 2 + 24 * 60);
        int moves = 0;
        for (const auto& s : spy)
            moves += s.at(2).toBool() ? 1 : 0;
        QCOMPARE(moves, 1);
        m->shutdown();
    }

    void yearAcrossDaylightSaving()
    {
        const QTimeZone berlin("Europe/Berlin");
        QVERIFY(berlin.isValid());
        clock->setNow(QDateTime(QDate(2026, 1, 1), QTime(9, 0), berlin));
        ResStatisticsParam m;
        m.laodConfig();
        QCOMPARE(m.getCurDBDate(), QString("2026-01-01"));
        int archived = 0, rotations = 0;
        QStringList dates;
        connect(&m, &ResStatisticsParam::sigSaveRecord, [&](QString date, QJsonObject doc, bool isMove) {
            if (!isMove)
                return;
            ++rotations;
            dates << date;
            archived += docSum(doc, "default", -1, -1, "OK");
        });
        int added = 0;
        for (int h = 0; h < 366 * 24; ++h) {
            clock->advance(3600 * 1000);
            m.addRecord(0, 0, {true, true}, false);
            m.addRecord(1, 0, {true, true}, true);
            ++added;
            m.checkDate();
        }
        QCOMPARE(rotations, 366);
        QCOMPARE(dates.size(), QSet<QString>(dates.begin(), dates.end()).size());
        QCOMPARE(dates.mid(86, 3), QStringList({"2026-03-28", "2026-03-29", "2026-03-30"}));
        const int live = m.liveCount.groups.first().total.total.whole.ok;
        QCOMPARE(archived + live, added);
        QCOMPARE(QDateTime::fromSecsSinceEpoch(m.startTime, berlin).time(), QTime(8, 0));

        // A day start inside the hour the spring change skips.
        clock->setNow(QDateTime(QDate(2027, 3, 28), QTime(5, 0), berlin));
        m.morningsStart = 2;
        m.createNewTime();
        QCOMPARE(QDateTime::fromSecsSinceEpoch(m.startTime, berlin), QDateTime(QDate(2027, 3, 28), QTime(3, 0), berlin));
    }
};

QTEST_GUILESS_MAIN(TstStatsModel)
#include "tst_stats_model.moc"
