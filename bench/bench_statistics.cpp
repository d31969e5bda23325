// Statistics: the HTTP range query over a year and a week of day files
// (8 cameras x 8 detections x 3 groups, written by the worker from
// per-cycle results), against a plain Qt loop that opens the same files and
// parses each document; addRecord and checkDate per call on the GUI thread
// at 8 x 8 with 5 groups, against a plain QJsonDocument::toJson.
#include "frame/clock.h"
#include "frame/globals.h"
#include "records/resstatisticsdatabase.h"
#include "records/resstatisticsparam.h"
#include "statsdays.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

const QDate kFirst(2025, 1, 6);

// Application object, working folder and clock, made once.
TestClock* benchEnv()
{
    static TestClock* clock = [] {
        static int argc = 1;
        static char name[] = "bench_statistics";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        static QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        numCamera = 8;
        gDNum = 8;
        ResStatisticsDatabase::writeTemplate(ResStatisticsDatabase::templateFile());
        auto* c = new TestClock(QDateTime(kFirst, QTime(8, 30)));
        Clock::install(c);
        return c;
    }();
    return clock;
}

struct Year
{
    TestClock* clock = benchEnv();
    QDate first = kFirst;

    Year() { writeStatisticsDays(clock, 366, {"default", "mould-B", "mould-C"}); }
    QString day(int n) const { return first.addDays(n).toString("yyyy-MM-dd"); }
};

Year& year()
{
    static Year y;
    return y;
}

void runQuery(benchmark::State& state, int days)
{
    Year& y = year();
    const QString from = y.day(365 - days) + " 08:00:00";
    const QString to = y.day(364) + " 07:59:59";
    qint64 bytes = 0;
    for (auto _ : state) {
        QJsonObject out;
        ResStatisticsDatabase::loadCount(from, to, out, QString());
        bytes = QJsonDocument(out).toJson(QJsonDocument::Compact).size();
        benchmark::DoNotOptimize(out);
    }
    state.counters["output_bytes"] = static_cast<double>(bytes);
}

void plainLoop(benchmark::State& state, int days)
{
    Year& y = year();
    for (auto _ : state) {
        int groups = 0;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "plain");
            for (int n = 365 - days; n <= 364; ++n) {
                db.setDatabaseName("ResStatistics/" + y.day(n) + ".db");
                db.open();
                QSqlQuery q(db);
                q.exec("select value1 from resstatistics where name='statisticsjson'");
                if (q.next())
                    groups += QJsonDocument::fromJson(q.value(0).toString().toUtf8())
                                  .object()
                                  .value("groups")
                                  .toArray()
                                  .size();
                q.finish();
                db.close();
            }
        }
        QSqlDatabase::removeDatabase("plain");
        benchmark::DoNotOptimize(groups);
    }
}

void BM_QueryYear(benchmark::State& s) { runQuery(s, 365); }
void BM_PlainQtYear(benchmark::State& s) { plainLoop(s, 365); }
void BM_QueryWeek(benchmark::State& s) { runQuery(s, 7); }
void BM_PlainQtWeek(benchmark::State& s) { plainLoop(s, 7); }

// A live day at 8 x 8 with 5 groups, on a model without a worker.
ResStatisticsParam& liveModel()
{
    static ResStatisticsParam* m = [] {
        benchEnv();
        auto* p = new ResStatisticsParam;
        p->createNewTime();
        for (int g = 0; g < 5; ++g) {
            p->setParamGroup(QString("group-%1").arg(g));
            for (int d = 0; d < 8; ++d)
                p->addRecord(d, 0, QList<bool>{true, true, true, true, true, true, true, false}, d == 7);
        }
        return p;
    }();
    return *m;
}

void BM_AddRecord(benchmark::State& state)
{
    ResStatisticsParam& m = liveModel();
    const QList<bool> flags{true, true, false, true, true, true, true, true};
    int d = 0;
    for (auto _ : state) {
        m.addRecord(d, 0, flags, d == 7);
        d = (d + 1) % 8;
    }
}

void BM_CheckDate(benchmark::State& state)
{
    ResStatisticsParam& m = liveModel();
    for (auto _ : state)
        m.checkDate();
}

void BM_PlainToJson(benchmark::State& state)
{
    ResStatisticsParam& m = liveModel();
    const QJsonObject doc = ResStatisticsParam::StuCountToJson(m.liveCount);
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument(doc).toJson(QJsonDocument::Indented));
}

} // namespace

BENCHMARK(BM_QueryYear)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_PlainQtYear)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_QueryWeek)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PlainQtWeek)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_AddRecord)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_CheckDate)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PlainToJson)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
