#pragma once
#include <QString>
#include <functional>

// The start-up sequence of the station: hardware, splash, logging, message
// table, shared images, main window, background services, event loop.
int stationMain(int argc, char** argv);

// Registers the types that travel in queued signals between threads
// (drive lists, statistics groups, name pairs) under the names the
// connections use.
void registerMetaTypes();

// Blocks the caller for 1 s before the databases close on a power-off path.
void StopWTD();
// StopWTD, then ends the process with the status.
[[noreturn]] void Exit(int status);

// Records the software version and the camera count in "ruv_net/config.json",
// keeping every other key of the file.
void writeVersionToJson();

// "D%1_T%2".
QString funcNumberToQString(int a, int b);

// Interval statistics between a start stamp and now; kept for diagnostics.
int CaclTime();

// The fixed start-up waits of a panel: starts the network-card script, then
// gives the cards 5 s and the cameras 10 s (on the station clock), showing
// each second's step.
void waitForHardware(const std::function<void(int, const QString&)>& show);
