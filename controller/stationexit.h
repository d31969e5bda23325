#pragma once
#include <functional>

// The ordered end of a run: the exit action of the settings window, a closed
// window and SIGINT/SIGTERM on a desktop, power-off and reboot. Nothing may
// be lost on the way out: the record is written first, then the parameters,
// then every camera is stopped and closed, the board polling ends, the
// counters are written, and the databases close last; power-off and reboot
// then sync the disk before their command.
class StationExit
{
public:
    enum Kind { Exit, PowerOff, Reboot };

    struct Hooks {
        std::function<void()> writeCounters; // the production counters
        std::function<void()> stopWatchdog;  // lets the board's watchdog lapse
        std::function<void()> afterClose;    // with the databases closed, before the command
        // The change the end is for (a new language), made once the record
        // is written in the language in force and before the set is saved.
        std::function<void()> beforeSave;
    };

    // Runs every step once (a second call while one runs does nothing) and
    // returns; PowerOff and Reboot end with their command, Exit leaves ending
    // the process to the caller.
    static bool run(Kind kind, const Hooks& hooks);
    // Whether an end has begun (a late poll must not start a cycle).
    static bool ending();
    // Tests run more than one end in one process.
    static void resetForTest();
};
