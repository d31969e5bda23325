// The whole station with its HTTP API under attack: the real main window over
// the simulated camera plug-in, the board simulator's moulding machine on a
// pseudo-terminal (a cycle every 0.8 s, result images kept), the API on a
// free port, and the 1,024 descriptors a service manager gives the station.
// In one run, first on a quiet network, then while every attack of the API's
// attack test runs against it in turn (httpattack::everyAttack: endless
// heads and chunked bodies, a flood of 1,500 idle connections from a child
// process, slow and idle clients), then while one address holds the server
// full (httpattack::everyPeerAttack: refusals left to drain, slow readers of
// an 8 MB image and of a day's journal of 40,000 entries, trickling heads,
// idle connections, pipelined 400-day counts, stalled readers) and four
// others flood the writes:
//  - the production-count route's latency for a client asking every 100 ms
//    from a fresh connection: median and 95th percentile;
//  - the decision to the wire: from the cycle publishing a changed output
//    word to the board receiving the command-1 frame that carries it
//    (bench_cycle's measure), over every output change of the cycles;
// and each as a ratio attack / quiet and peer / quiet. Counters in
// milliseconds.
#include "cyclebench.h"
#include "netservices/httpapiserver.h"
#include "netservices/zev_netmn.h"
#include "records/resstatisticsparam.h"
#include "testsupport/httpattacks.h"
#include "testsupport/stationrig.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <climits>
#include <mutex>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kPhaseMs = 30000;

void appOnce()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", "/opt/Qt5.15.7/plugins/platforms");
    static int argc = 1;
    static char name[] = "bench_httpattack";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    const QString build = QDir(QCoreApplication::applicationDirPath() + "/..").absolutePath();
    if (qEnvironmentVariableIsEmpty("STATION_BUILD_DIR"))
        qputenv("STATION_BUILD_DIR", build.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("STATION_CAMERA_PLUGIN_DIR"))
        qputenv("STATION_CAMERA_PLUGIN_DIR", (build + "/Plugins/Cameras").toLocal8Bit());
    qputenv("STATION_HTTP_PORT", "0");
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// Output words as the cycle published them and as the board received them.
struct Wire
{
    struct Sample
    {
        SteadyClock::time_point t;
        uint32_t word;
    };
    std::mutex m;
    std::vector<Sample> published, received;

    void clear()
    {
        std::lock_guard<std::mutex> lock(m);
        published.clear();
        received.clear();
    }
    // Each word the board received, from the last publication of that word
    // before it.
    std::vector<double> delays()
    {
        std::lock_guard<std::mutex> lock(m);
        std::vector<double> out;
        for (const Sample& r : received)
            for (auto p = published.rbegin(); p != published.rend(); ++p)
                if (p->t <= r.t && p->word == r.word) {
                    const double ms = std::chrono::duration<double, std::milli>(r.t - p->t).count();
                    if (ms < 1000)
                        out.push_back(ms);
                    break;
                }
        return out;
    }
};

struct Phase
{
    double countMedian = 0, countP95 = 0, wireMedian = 0;
    int answered = 0, unanswered = 0, decisions = 0, cycles = 0;
    long riseKb = 0;
};

void BM_StationUnderAttack(benchmark::State& state)
{
    appOnce();
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    const rlimit before = files;
    files.rlim_cur = std::min<rlim_t>(1024, files.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &files);
    {
        TestEnv env;
        BoardSim sim;
        const QJsonObject cam = stationrig::oneCamera(env, "BENCH-1");
        if (cam.isEmpty() || !stationrig::startBoard(sim, nullptr)
            || !stationrig::teachMould(cam, {{0, QRect(10, 420, 50, 50), 25, 100, 3}}, stationrig::statisticsOn)) {
            state.SkipWithError("the station could not be set up");
            return;
        }
        auto win = std::make_unique<ReDoWizard>();
        ZEV_NETMN::getInstance()->initStart();
        HttpApiServer api;
        if (!api.start()) {
            state.SkipWithError("the HTTP API did not start");
            return;
        }
        win->show();
        Wire wire;
        QObject::connect(gpControlIO, &ControlPort::sigIOChange, [&wire] {
            QMutexLocker io(boardIoMutex());
            std::lock_guard<std::mutex> lock(wire.m);
            wire.published.push_back({SteadyClock::now(), gDataOut & 0x3FFu});
        });
        sim.setOutputCallback([&wire](const BoardSim::OutputChange& c) {
            std::lock_guard<std::mutex> lock(wire.m);
            wire.received.push_back({c.t, c.after & 0x3FFu});
        });
        stationrig::BoxHand hand;
        MouldingMachine::Timing timing;
        timing.closedMs = 300;
        timing.openMs = 500;
        stationrig::MachineTick tick(sim, *win, timing);
        stationrig::detectSemiAuto(*win, *win->views[0]);
        gPicNumOK = 5;
        const auto pump = [] {
            QEventLoop loop;
            QTimer::singleShot(5, &loop, &QEventLoop::quit);
            loop.exec();
        };
        pump();

        const quint16 port = api.port();
        const httpattack::Largest largest = httpattack::largestAnswers(8u << 20, 40000);
        enum Attack { None, Every, Peer };
        const auto phase = [&](Attack attack) {
            wire.clear();
            const int cycles = tick.machine.cycles();
            const httpattack::Effect e = httpattack::measure(
                port,
                [&](const std::atomic<bool>&) {
                    std::atomic<bool> stop{false};
                    std::thread attacker;
                    if (attack == Every)
                        attacker = std::thread([&] { httpattack::everyAttack(port, stop); });
                    else if (attack == Peer)
                        attacker = std::thread([&] { httpattack::everyPeerAttack(port, largest, stop); });
                    std::this_thread::sleep_for(std::chrono::milliseconds(kPhaseMs));
                    stop = true;
                    if (attacker.joinable())
                        attacker.join();
                },
                pump, LONG_MAX, 0, 1L << 40);
            Phase p;
            p.countMedian = median(e.probeMs);
            p.countP95 = percentile(e.probeMs, 0.95);
            const std::vector<double> delays = wire.delays();
            p.wireMedian = median(delays);
            p.answered = int(e.probeMs.size());
            p.unanswered = e.unanswered;
            p.decisions = int(delays.size());
            p.cycles = tick.machine.cycles() - cycles;
            p.riseKb = e.riseKb;
            return p;
        };
        for (auto _ : state) {
            const Phase quiet = phase(None);
            const Phase attacked = phase(Every);
            const Phase peer = phase(Peer);
            const auto report = [&state](const char* name, const Phase& p) {
                const std::string n(name);
                state.counters[n + "_count_median_ms"] = p.countMedian;
                state.counters[n + "_count_p95_ms"] = p.countP95;
                state.counters[n + "_count_unanswered"] = p.unanswered;
                state.counters[n + "_count_answered"] = p.answered;
                state.counters[n + "_wire_median_ms"] = p.wireMedian;
                state.counters[n + "_decisions"] = p.decisions;
                state.counters[n + "_cycles"] = p.cycles;
                state.counters[n + "_rss_rise_MB"] = double(p.riseKb) / 1024;
            };
            report("quiet", quiet);
            report("attack", attacked);
            report("peer", peer);
            for (const auto& [name, p] : {std::make_pair("", &attacked), std::make_pair("peer_", &peer)}) {
                const std::string n(name);
                state.counters["ratio_" + n + "count_median"] = p->countMedian / std::max(1e-9, quiet.countMedian);
                state.counters["ratio_" + n + "count_p95"] = p->countP95 / std::max(1e-9, quiet.countP95);
                state.counters["ratio_" + n + "wire_median"] = p->wireMedian / std::max(1e-9, quiet.wireMedian);
            }
        }
        tick.stop();
        hand.stop();
        sim.setOutputCallback({});
        api.stop();
        win.reset();
        ResStatisticsParam::destroyInstance();
        sim.stop();
    }
    ::setrlimit(RLIMIT_NOFILE, &before);
}

} // namespace

BENCHMARK(BM_StationUnderAttack)->Iterations(1)->Unit(benchmark::kMillisecond);
