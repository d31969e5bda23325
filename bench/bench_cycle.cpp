// The machine cycle's latencies over a pseudo-terminal with the in-process
// board simulator:
//  - decision to wire: CheckNG's output flush to the command-1 frame at the
//    board, NG (clamp + alarm) and OK (released) decisions in turn, against a
//    bare IOFlashOut of the same words in the same run;
//  - trigger edge to output at delay 0, in three parts: input edge at the
//    board to the input word on the GUI side, the inspection, the decision to
//    the wire;
//  (eight cameras on two cores: bench_cyclerate).
// Counters are medians and worst cases in milliseconds.
#include "cyclebench.h"
#include "controller/cyclehooks.h"
#include "controller/iothread.h"
#include "controller/machinecycle.h"
#include "controller/mainstate.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "inspection/cameraviewstate.h"
#include "netservices/modbusfuzz.h"
#include "netservices/httpapiserver.h"
#include "netservices/modbusserver.h"

#include <QDateTime>
#include <QMutex>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <thread>
#include <chrono>
#include <memory>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

void waitInputs(uint32_t mask, uint32_t value)
{
    for (;;) {
        QMutexLocker l(pMutexIO);
        if ((gDataIn & mask) == value)
            return;
    }
}

double worst(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

// A typical ROI set of the engine on one frame: 20 boxes, each thresholded,
// opened and searched for contours; NG when a box holds a blob.
struct Judge {
    cv::Mat frame;
    std::vector<cv::Rect> boxes;
    Judge()
    {
        frame = cv::Mat(1024, 1280, CV_8UC1, cv::Scalar(90));
        cv::randu(frame, 60, 120);
        for (int i = 0; i < 20; ++i)
            boxes.emplace_back(40 + (i % 5) * 240, 40 + (i / 5) * 240, 200, 200);
        cv::circle(frame, {140, 140}, 30, cv::Scalar(250), cv::FILLED);
    }
    bool run(std::vector<uchar>* results = nullptr) const
    {
        bool ok = true;
        cv::Mat bin, opened;
        const cv::Mat k = cv::getStructuringElement(cv::MORPH_ELLIPSE, {5, 5});
        for (size_t i = 0; i < boxes.size(); ++i) {
            cv::threshold(frame(boxes[i]), bin, 200, 255, cv::THRESH_BINARY);
            bool boxOk = true;
            cv::morphologyEx(bin, opened, cv::MORPH_OPEN, k);
            std::vector<std::vector<cv::Point>> contours;
            cv::findContours(opened, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
            for (const auto& c : contours)
                boxOk = boxOk && cv::contourArea(c) < 50;
            if (results)
                (*results)[i] = boxOk;
            ok = ok && boxOk;
        }
        return ok;
    }
};

struct Hooks : CycleHooks {
    std::vector<CameraViewState*>* views = nullptr;
    Judge judge;
    bool ngNext = false;
    bool grab(int) override { return true; }
    void inspect(int c, int) override
    {
        CameraViewState* v = (*views)[size_t(c)];
        judge.run();
        v->isOK = !(ngNext && c == 0);
    }
};

struct QuietState : MainState {
    bool InsertRecord(const QString&, const QString&) override { return true; }
};

struct Rig {
    QTemporaryDir root;
    BoardSim sim;
    TestClock clock;
    QuietState state;
    std::unique_ptr<ControlPort> port;
    std::vector<std::unique_ptr<CameraViewState>> owned;
    std::vector<CameraViewState*> views;
    Hooks hooks;
    std::unique_ptr<MachineCycle> cycle;
    SteadyClock::time_point lastFlush;

    bool up(int cameras)
    {
        if (!root.isValid())
            return false;
        ::setenv("STATION_SIMROOT", root.path().toLocal8Bit().constData(), 1);
        Clock::install(&clock);
        if (!pMutexIO)
            pMutexIO = new QMutex;
        if (!pMutexSaveFail)
            pMutexSaveFail = new QMutex;
        gpWin = &state;
        gpWPara = new WizardPara();
        for (int& v : gpWPara->outInitState)
            v = 0;
        gpWPara->semiAuto = 1;
        gpWPara->deriveByMode(&state.curMould);
        gPicNumNG = gPicNumOK = 0;
        if (!linkBoard(sim, port))
            return false;
        // The moment a changed output word is published (IOFlashOut).
        QObject::connect(port.get(), &ControlPort::sigIOChange, [this] { lastFlush = SteadyClock::now(); });
        for (int c = 0; c < cameras; ++c) {
            owned.push_back(std::make_unique<CameraViewState>());
            views.push_back(owned.back().get());
        }
        hooks.views = &views;
        cycle = std::make_unique<MachineCycle>(&hooks);
        cycle->setCameras(views);
        cycle->StartDetect();
        return sim.waitForOutputs(0xF, 0, 1000);
    }
    ~Rig()
    {
        cycle.reset();
        gpControlIO = nullptr;
        port.reset();
        ComClose();
        delete gpWPara;
        gpWPara = nullptr;
        gpWin = nullptr;
        Clock::install(nullptr);
    }
    // Time from the last publication of the output word until the board
    // holds `word` (command 1 received).
    double toWire(uint32_t word)
    {
        port->updateThreadProtectTiming();
        if (!sim.waitForOutputs(0xF, word, 200))
            return 200;
        const auto ch = sim.outputChanges();
        return Ms(ch.back().t - lastFlush).count();
    }
};

// Eight clients asking the station's HTTP API for a month of production
// counts and for the day's journal, back to back, until stopped.
class HttpLoad
{
public:
    explicit HttpLoad(quint16 port)
    {
        for (int c = 0; c < 8; ++c)
            m_threads.emplace_back([this, port, c] {
                httplib::Client cli("127.0.0.1", port);
                cli.set_keep_alive(true);
                cli.set_tcp_nodelay(true);
                const QDateTime now = QDateTime::currentDateTime();
                const std::string month =
                    "{\"starttime\": \"" + now.addDays(-31).toString("yyyy-MM-dd hh:mm:ss").toStdString()
                    + "\", \"finishtime\": \"" + now.toString("yyyy-MM-dd hh:mm:ss").toStdString() + "\"}";
                const std::string day = "{\"date\": \"" + now.toString("yyyy-MM-dd").toStdString() + "\"}";
                for (int i = 0; !m_stop; ++i) {
                    auto r = (i + c) % 2 ? cli.Post("/v18/http/get_production_count_bytime", month, "application/json")
                                         : cli.Post("/v18/http/get_operation_record", day, "application/json");
                    if (r && r->status == 200)
                        ++m_answered;
                }
            });
    }
    ~HttpLoad()
    {
        m_stop = true;
        for (auto& t : m_threads)
            t.join();
    }
    long answered() const { return m_answered; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_answered{0};
    std::vector<std::thread> m_threads;
};

enum class Load { None, ModbusFuzz, HttpClients };

// ModbusFuzz: the station's Modbus slave is served and fed malformed frames
// by eight clients throughout. HttpClients: the HTTP API is served and asked
// by eight clients throughout.
void decisionToWire(benchmark::State& st, Load load)
{
    const bool fuzz = load == Load::ModbusFuzz;
    Rig rig;
    if (!rig.up(2)) {
        st.SkipWithError("board link did not come up");
        return;
    }
    std::unique_ptr<ModbusServer> modbus;
    std::unique_ptr<ModbusFuzz> fuzzer;
    if (fuzz) {
        qputenv("STATION_MODBUS_PORT", "15502");
        modbus = std::make_unique<ModbusServer>();
        if (!modbus->isListening()) {
            st.SkipWithError("Modbus port 15502 taken");
            return;
        }
        fuzzer = std::make_unique<ModbusFuzz>(modbus->port(), 8, 1L << 40);
    }
    std::unique_ptr<HttpApiServer> api;
    std::unique_ptr<HttpLoad> clients;
    if (load == Load::HttpClients) {
        qputenv("STATION_HTTP_PORT", "0");
        api = std::make_unique<HttpApiServer>();
        if (!api->start()) {
            st.SkipWithError("HTTP API did not start");
            return;
        }
        clients = std::make_unique<HttpLoad>(api->port());
    }
    std::vector<double> decision, bare;
    for (auto _ : st) {
        for (int i = 0; i < 600; ++i) {
            // NG: the mould detection fails, clamp and alarm go on.
            rig.hooks.ngNext = true;
            rig.cycle->TimerUp(1);
            decision.push_back(rig.toWire(0x5));
            // OK re-detect: the alarm is left, outputs released.
            rig.hooks.ngNext = false;
            rig.views[0]->isOK = true;
            rig.cycle->CheckNG(true);
            decision.push_back(rig.toWire(0x0));
        }
        for (int i = 0; i < 600; ++i) {
            rig.port->IOSetOut(0, 1);
            rig.port->IOSetOut(2, 1);
            rig.port->IOFlashOut();
            bare.push_back(rig.toWire(0x5));
            rig.port->IOResetAllOut();
            rig.port->IOFlashOut();
            bare.push_back(rig.toWire(0x0));
        }
    }
    st.counters["decisions"] = double(decision.size());
    st.counters["decision_median_ms"] = median(decision);
    st.counters["decision_worst_ms"] = worst(decision);
    st.counters["bare_median_ms"] = median(bare);
    st.counters["bare_worst_ms"] = worst(bare);
    st.counters["ratio_median"] = median(decision) / std::max(1e-9, median(bare));
    if (fuzzer) {
        fuzzer->stop();
        fuzzer->wait();
        st.counters["fuzz_frames"] = double(fuzzer->sent());
    }
    if (clients) {
        const long answered = clients->answered();
        clients.reset();
        api.reset();
        st.counters["http_answers"] = double(answered);
    }
}

void BM_DecisionToWire(benchmark::State& st) { decisionToWire(st, Load::None); }
BENCHMARK(BM_DecisionToWire)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_DecisionToWireUnderModbusFuzz(benchmark::State& st) { decisionToWire(st, Load::ModbusFuzz); }
BENCHMARK(BM_DecisionToWireUnderModbusFuzz)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_DecisionToWireUnderHttpClients(benchmark::State& st) { decisionToWire(st, Load::HttpClients); }
BENCHMARK(BM_DecisionToWireUnderHttpClients)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_TriggerToOutputDelay0(benchmark::State& st)
{
    Rig rig;
    if (!rig.up(2)) {
        st.SkipWithError("board link did not come up");
        return;
    }
    gpWPara->trigInDelay[1] = 0;
    std::vector<double> input, inspection, wire, total;
    for (auto _ : st) {
        for (int i = 0; i < 100; ++i) {
            // Mould open (cycle start), then input 2 with the part left.
            rig.sim.setInput(0, true);
            waitInputs(1u, 1u);
            rig.cycle->Run();
            rig.hooks.ngNext = true;
            const auto t0 = SteadyClock::now();
            rig.sim.setInput(2, true);
            waitInputs(4u, 4u);
            const auto t1 = SteadyClock::now();
            input.push_back(Ms(t1 - t0).count());
            rig.cycle->Run(); // delay 0: inspection and decision in this poll
            const double w = rig.toWire(0x5);
            inspection.push_back(Ms(rig.lastFlush - t1).count());
            total.push_back(Ms(rig.lastFlush - t0).count() + w);
            wire.push_back(w);
            // Release: the part is gone, re-detect, mould closes.
            rig.hooks.ngNext = false;
            rig.views[0]->isOK = true;
            rig.cycle->CheckNG(true);
            rig.sim.setInput(0, false);
            rig.sim.setInput(2, false);
            rig.toWire(0x0);
            waitInputs(5u, 0u);
            rig.cycle->Run();
        }
    }
    st.counters["input_median_ms"] = median(input);
    st.counters["poll_to_flush_median_ms"] = median(inspection);
    st.counters["decision_to_wire_median_ms"] = median(wire);
    st.counters["total_median_ms"] = median(total);
    st.counters["total_worst_ms"] = worst(total);
}
BENCHMARK(BM_TriggerToOutputDelay0)->Iterations(1)->Unit(benchmark::kMillisecond);


} // namespace
