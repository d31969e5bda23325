#pragma once
// What the machine-cycle benchmarks share: the median of a sample and the
// station's board link to the in-process board simulator.
#include "boardsim.h"
#include "controller/controlport.h"
#include "frame/globals.h"
#include "platform/platformpath.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Runs the GUI's event loop (the station's cycle lives there) until a
// worker thread sets `done`.
inline void runEventsUntil(const std::atomic<bool>& done)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done)
            loop.quit();
    });
    check.start(10);
    loop.exec();
}

// The simulator on a pseudo-terminal where the station looks for the board,
// the station's port on it and its polling thread; false when any is missing.
inline bool linkBoard(BoardSim& sim, std::unique_ptr<ControlPort>& port)
{
    gisCOM = 1;
    if (!sim.open() || !sim.linkAt(platform::path("/dev/ttyS1").toStdString()))
        return false;
    sim.start();
    port = std::make_unique<ControlPort>();
    gpControlIO = port.get();
    if (!gpCom)
        return false;
    port->InitIOThread();
    return true;
}
