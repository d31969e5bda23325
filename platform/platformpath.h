#pragma once
#include <QString>

// The panel's hardware paths ("/dev/ttyS1", "/proc/mounts", "/sys/class/...")
// resolve below STATION_SIMROOT when it is set, so the station can run and be
// tested on a machine without that hardware. Unset, the real paths are used.
namespace platform {

// The simulation root, or an empty string on a real panel.
QString simRoot();
bool isSimulated();

// One line for the log at start-up on the simulated platform: what stands in
// for the panel and which of its files the simulation root does not provide.
// Empty on a real panel.
QString simulationNote();

// Maps an absolute platform path to the file the station must touch.
// Relative paths (the working directory) are returned unchanged.
QString path(const QString& absolutePath);

} // namespace platform
