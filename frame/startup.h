#pragma once

// The start-up sequence of the station: hardware, splash, logging, message
// table, shared images, main window, background services, event loop.
int stationMain(int argc, char** argv);
