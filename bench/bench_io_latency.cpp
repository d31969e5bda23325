// Latency of the board link over a pseudo-terminal with the in-process board
// simulator: from IOFlashOut on the GUI side to the command-1 frame at the
// board, and from an input change at the board to the I/O thread's signal
// (received on that thread, the wake-up taken as the station takes it).
// Counters report the median and the worst case over all changes.
#include "boardsim.h"
#include "controller/controlport.h"
#include "controller/iothread.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "platform/platformpath.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

using Ms = std::chrono::duration<double, std::milli>;

struct Link {
    QTemporaryDir root;
    BoardSim sim;
    std::unique_ptr<ControlPort> port;

    bool up()
    {
        if (!root.isValid())
            return false;
        ::setenv("STATION_SIMROOT", root.path().toLocal8Bit().constData(), 1);
        if (!pMutexIO)
            pMutexIO = new QMutex;
        if (!gpWPara)
            gpWPara = new WizardPara();
        for (int& v : gpWPara->outInitState)
            v = 0;
        gpWPara->noAlarmSound = 0;
        gpWPara->out4Use = 0;
        gpWPara->in4Use = 0;
        gisCOM = 1;
        if (!sim.open() || !sim.linkAt(platform::path("/dev/ttyS1").toStdString()))
            return false;
        sim.start();
        port = std::make_unique<ControlPort>();
        if (!gpCom)
            return false;
        port->InitIOThread();
        return sim.waitForFrame([](const BoardSim::Frame& f) { return f.command == 2; }, 1000) >= 0;
    }
    ~Link()
    {
        port.reset();
        ComClose();
        sim.stop();
        ::unsetenv("STATION_SIMROOT");
    }
};

void report(benchmark::State& state, std::vector<double>& lat)
{
    if (lat.empty())
        return;
    std::sort(lat.begin(), lat.end());
    state.counters["median_ms"] = lat[lat.size() / 2];
    state.counters["p95_ms"] = lat[lat.size() * 95 / 100];
    state.counters["worst_ms"] = lat.back();
    state.counters["changes"] = double(lat.size());
}

void BM_FlashOutToWire(benchmark::State& state)
{
    Link link;
    if (!link.up()) {
        state.SkipWithError("no board link");
        return;
    }
    std::mt19937 rng(1);
    std::vector<double> lat;
    for (auto _ : state) {
        // Land anywhere in the 5 ms pass.
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 5000));
        const size_t from = link.sim.frameCount();
        link.port->IOSetOut(0, link.port->IOState(1, 0) ? 0 : 1);
        const uint32_t word = link.port->out;
        const auto t0 = BoardSim::Clock::now();
        link.port->IOFlashOut();
        const long i = link.sim.waitForFrame(
            [word](const BoardSim::Frame& f) { return f.command == 1 && f.data == word; }, 1000, from);
        if (i < 0) {
            state.SkipWithError("output never reached the board");
            break;
        }
        const double ms = Ms(link.sim.frames()[size_t(i)].t - t0).count();
        lat.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
        link.port->updateThreadProtectTiming();
    }
    report(state, lat);
}
BENCHMARK(BM_FlashOutToWire)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

void BM_InputToSignal(benchmark::State& state)
{
    Link link;
    if (!link.up()) {
        state.SkipWithError("no board link");
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    uint32_t lastWord = 0;
    BoardSim::Clock::time_point lastT;
    // Received on the I/O thread itself, as the station's receiver does it
    // (less the queue to the GUI thread): the wake-up is taken before the word
    // is read, or the thread signals no further change.
    IOThread* io = link.port->ioThread();
    QObject::connect(io, &IOThread::sigIOChange, io, [&] {
        const auto t = BoardSim::Clock::now();
        io->wakeTaken();
        uint32_t now;
        {
            QMutexLocker lock(boardIoMutex());
            now = gDataIn;
        }
        std::lock_guard<std::mutex> l(m);
        lastWord = now;
        lastT = t;
        cv.notify_all();
    }, Qt::DirectConnection);
    std::mt19937 rng(2);
    std::vector<double> lat;
    uint32_t word = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 5000));
        word ^= 1u;
        const auto t0 = BoardSim::Clock::now();
        link.sim.setInputs(word);
        std::unique_lock<std::mutex> l(m);
        if (!cv.wait_for(l, std::chrono::seconds(1), [&] { return lastWord == word; })) {
            state.SkipWithError("input change never signalled");
            break;
        }
        const double ms = Ms(lastT - t0).count();
        lat.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
        link.port->updateThreadProtectTiming();
    }
    report(state, lat);
}
BENCHMARK(BM_InputToSignal)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

} // namespace
