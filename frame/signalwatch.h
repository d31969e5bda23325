#pragma once
#include <functional>

// Turns SIGINT and SIGTERM into a call on the thread that installed the
// watch, from its event loop, so a desktop run stopped with Ctrl-C or by its
// service manager ends in order like the exit action.
class SignalWatch
{
public:
    // From now on SIGINT and SIGTERM are only noted, never fatal. Call it
    // first thing, and again after a library has put its own handler in
    // place (the logging library's crash handler takes SIGTERM).
    static bool catchSignals();
    // Calls onSignal(signo) once per signal received, those noted before
    // included. Call from the GUI thread after the application object
    // exists; a second call replaces the callback.
    static bool install(std::function<void(int)> onSignal);
};
