// The whole station with its HTTP API under attack: the real main window over
// the simulated camera plug-in, the board simulator's moulding machine on a
// pseudo-terminal (a cycle every 0.8 s, result images kept), the API on a
// free port, and the 1,024 descriptors a service manager gives the station
// plus 3,072 for the attackers' own sockets, which live in this process too
// (with 1,024 in all, the attackers' and the well-behaved client's sockets
// ran out of descriptors before the station did).
// In one run, first on a quiet network, then while every attack of the API's
// attack test runs against it in turn (httpattack::everyAttack: endless
// heads and chunked bodies, a flood of 1,500 idle connections from a child
// process, slow and idle clients), then while one address holds the server
// full (httpattack::everyPeerAttack: refusals left to drain, slow readers of
// an 8 MB image and of a day's journal of 40,000 entries, trickling heads,
// idle connections, pipelined 400-day counts, stalled readers) and four
// others flood the writes, then while 150 addresses (127.0.0.10 to .159)
// each hold one idle connection and dial again whenever it ends, then while
// one reader on a slow link (30,000 bytes a second, taken as its
// application reads) fetches a 2 MiB image (the phase lasts until it has
// its image or is cut, at least as long as the others):
//  - the production-count route's latency for a client asking every 100 ms
//    from a fresh connection: median and 95th percentile;
//  - the same client's download of the 8 MiB image, one a second: median
//    time to the whole image, and those not whole within 20 s;
//  - the decision to the wire: from the cycle publishing a changed output
//    word to the board receiving the command-1 frame that carries it
//    (bench_cycle's measure), over every output change of the cycles;
// and each as a ratio of the phase to quiet. The slow reader's outcome:
// whether it got its whole image or was cut, the bytes it took, how long.
// Counters in milliseconds.
#include "cyclebench.h"
#include "netservices/httpapiserver.h"
#include "netservices/zev_netmn.h"
#include "records/resstatisticsparam.h"
#include "testsupport/httpattacks.h"
#include "testsupport/stationrig.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <climits>
#include <limits>
#include <mutex>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kPhaseMs = 30000;
constexpr int kAddresses = 150;
constexpr int kSlowReadRate = 30000;   // bytes a second
constexpr size_t kSlowImageBytes = 2u << 20;

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
    double countMedian = 0, countP95 = 0, wireMedian = 0, downloadMedian = 0;
    int answered = 0, unanswered = 0, decisions = 0, cycles = 0, downloads = 0, downloadsFailed = 0;
    long riseKb = 0;
};

// The well-behaved client's downloads of `image`, one a second until `stop`
// (the last one runs to its end): the times of the whole ones, and the
// number of the others.
void download(unsigned short port, const std::string& image, const std::atomic<bool>& stop,
              std::vector<double>& wholeMs, int& failed)
{
    const std::atomic<bool> never{false};
    httpattack::Client c = httpattack::sending(image, 20000);
    while (!stop) {
        const auto t0 = SteadyClock::now();
        const httpattack::Outcome o = httpattack::runOne(port, c, never);
        if (o.status == 200 && !o.closed && o.endMs >= 0)
            wholeMs.push_back(double(o.endMs));
        else
            ++failed;
        while (!stop && SteadyClock::now() - t0 < std::chrono::seconds(1))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void BM_StationUnderAttack(benchmark::State& state)
{
    appOnce();
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    const rlimit before = files;
    files.rlim_cur = std::min<rlim_t>(1024 + 3072, files.rlim_max);
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
        // The slow link's image, beside the largest one.
        QFile slowImage("alarmimage/camera1/detect1/OK/slowlink.jpg");
        if (!QDir().mkpath("alarmimage/camera1/detect1/OK") || !slowImage.open(QIODevice::WriteOnly)
            || !slowImage.resize(qint64(kSlowImageBytes))) {
            state.SkipWithError("the slow link's image could not be made");
            return;
        }
        slowImage.close();
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
        const std::string slowGet = "/v18/http/get_result_image/camera1/detect1/OK/slowlink.jpg";
        httpattack::Client slowReader = httpattack::sending(httpattack::request("GET", slowGet),
                                                            int(3 * 1000 * kSlowImageBytes / kSlowReadRate));
        slowReader.peer = 2;
        slowReader.readRate = kSlowReadRate;
        std::vector<httpattack::Client> addresses(kAddresses, httpattack::idle(3000));
        for (int i = 0; i < kAddresses; ++i)
            addresses[size_t(i)].peer = 10 + i;
        httpattack::Outcome slow;
        const std::atomic<bool> never{false};
        enum Attack { None, Every, Peer, Many, Slow };
        const auto phase = [&](Attack attack) {
            wire.clear();
            const int cycles = tick.machine.cycles();
            std::vector<double> downloads;
            int downloadsFailed = 0;
            const httpattack::Effect e = httpattack::measure(
                port,
                [&](const std::atomic<bool>&) {
                    std::atomic<bool> stop{false};
                    std::thread attacker, downloader([&] {
                        download(port, largest.image, stop, downloads, downloadsFailed);
                    });
                    if (attack == Every)
                        attacker = std::thread([&] { httpattack::everyAttack(port, stop); });
                    else if (attack == Peer)
                        attacker = std::thread([&] { httpattack::everyPeerAttack(port, largest, stop); });
                    else if (attack == Many)
                        attacker = std::thread([&] { httpattack::run(port, addresses, stop, kPhaseMs); });
                    else if (attack == Slow)
                        attacker = std::thread([&] { slow = httpattack::runOne(port, slowReader, never); });
                    std::this_thread::sleep_for(std::chrono::milliseconds(kPhaseMs));
                    if (attack != Slow)
                        stop = true;
                    if (attacker.joinable())
                        attacker.join();
                    stop = true;
                    downloader.join();
                },
                pump, LONG_MAX, 0, 1L << 40);
            Phase p;
            p.downloadMedian = median(downloads);
            p.downloads = int(downloads.size());
            p.downloadsFailed = downloadsFailed;
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
            const Phase many = phase(Many);
            const Phase slowLink = phase(Slow);
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
                state.counters[n + "_download_median_ms"] = p.downloadMedian;
                state.counters[n + "_downloads"] = p.downloads;
                state.counters[n + "_downloads_failed"] = p.downloadsFailed;
            };
            report("quiet", quiet);
            report("attack", attacked);
            report("peer", peer);
            report("many", many);
            report("slow", slowLink);
            // A phase in which nothing came whole waited without end.
            const auto ratio = [](double value, int samples, double yardstick) {
                return samples > 0 ? value / std::max(1e-9, yardstick) : std::numeric_limits<double>::infinity();
            };
            for (const auto& [name, p] : {std::make_pair("", &attacked), std::make_pair("peer_", &peer),
                                          std::make_pair("many_", &many), std::make_pair("slow_", &slowLink)}) {
                const std::string n(name);
                state.counters["ratio_" + n + "count_median"] = ratio(p->countMedian, p->answered, quiet.countMedian);
                state.counters["ratio_" + n + "count_p95"] = ratio(p->countP95, p->answered, quiet.countP95);
                state.counters["ratio_" + n + "wire_median"] = ratio(p->wireMedian, p->decisions, quiet.wireMedian);
                state.counters["ratio_" + n + "download_median"] =
                    ratio(p->downloadMedian, p->downloads, quiet.downloadMedian);
            }
            state.counters["slow_reader_whole"] = slow.status == 200 && !slow.closed && slow.endMs >= 0;
            state.counters["slow_reader_cut"] = slow.closed;
            state.counters["slow_reader_KiB"] = double(slow.received) / 1024;
            state.counters["slow_reader_s"] = double(slow.endMs) / 1000;
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
