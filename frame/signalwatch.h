#pragma once
#include <functional>

// Turns SIGINT and SIGTERM into a call on the thread that installed the
// watch, from its event loop, so a desktop run stopped with Ctrl-C or by its
// service manager ends in order like the exit action.
class SignalWatch
{
public:
    // Calls onSignal(signo) once per signal received. Call from the GUI
    // thread after the application object exists.
    static bool install(std::function<void(int)> onSignal);
};
