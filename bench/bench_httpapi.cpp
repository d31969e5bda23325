// The HTTP API's production-count route over a 31-day range (8 cameras x 8
// detections, day files written by the statistics worker from per-cycle
// results), asked by 1 and by 8 clients at once over loopback, against the
// range query alone (ResStatisticsDatabase::loadCount) on 1 and 8 threads in
// the same run. Per-request latency is the real time per iteration; the
// request rate is items_per_second.
#include "frame/clock.h"
#include "frame/globals.h"
#include "netservices/httpapiserver.h"
#include "records/resstatisticsdatabase.h"
#include "statsdays.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <chrono>
#include <memory>

namespace {

const QDate kFirst(2025, 1, 6);
constexpr int kDays = 40;

struct Env
{
    QString from, to;
    std::string body;
    HttpApiServer* api = nullptr;
};

Env& env()
{
    static Env e = [] {
        static int argc = 1;
        static char name[] = "bench_httpapi";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        static QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        QDir().mkpath("sim");
        qputenv("STATION_SIMROOT", QDir::current().absoluteFilePath("sim").toLocal8Bit());
        qputenv("STATION_HTTP_PORT", "0");
        numCamera = 8;
        gDNum = 8;
        ResStatisticsDatabase::writeTemplate(ResStatisticsDatabase::templateFile());
        auto* clock = new TestClock(QDateTime(kFirst, QTime(8, 30)));
        Clock::install(clock);
        writeStatisticsDays(clock, kDays, {"default"});
        Env out;
        out.from = kFirst.addDays(5).toString("yyyy-MM-dd") + " 08:00:00";
        out.to = kFirst.addDays(36).toString("yyyy-MM-dd") + " 07:59:59";
        out.body = QJsonDocument(QJsonObject{{"starttime", out.from}, {"finishtime", out.to}}).toJson().toStdString();
        out.api = new HttpApiServer;
        if (!out.api->start())
            qFatal("the HTTP API did not start");
        return out;
    }();
    return e;
}

void BM_LoadCount31Days(benchmark::State& state)
{
    Env& e = env();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        QJsonObject out;
        ResStatisticsDatabase::loadCount(e.from, e.to, out, QString());
        // The route answers the same object as text: count that too.
        benchmark::DoNotOptimize(QJsonDocument(out).toJson(QJsonDocument::Compact));
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.SetItemsProcessed(state.iterations());
    state.counters["latency_ms"] = benchmark::Counter(ms / double(state.iterations()), benchmark::Counter::kAvgThreads);
}

void BM_HttpCount31Days(benchmark::State& state)
{
    Env& e = env();
    httplib::Client c("127.0.0.1", e.api->port());
    c.set_keep_alive(true);
    c.set_tcp_nodelay(true); // as curl and most clients do
    c.set_read_timeout(30, 0);
    size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto r = c.Post("/v18/http/get_production_count_bytime", e.body, "application/json");
        if (!r || r->status != 200) {
            state.SkipWithError("request failed");
            break;
        }
        bytes = r->body.size();
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.SetItemsProcessed(state.iterations());
    // Per client: the mean time from sending a request to its whole answer.
    state.counters["latency_ms"] = benchmark::Counter(ms / double(state.iterations()), benchmark::Counter::kAvgThreads);
    state.counters["answer_bytes"] = benchmark::Counter(double(bytes), benchmark::Counter::kAvgThreads);
}

} // namespace

BENCHMARK(BM_LoadCount31Days)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(1)->Threads(8)
    ->MinTime(3.0);
BENCHMARK(BM_HttpCount31Days)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(1)->Threads(8)
    ->MinTime(3.0);
