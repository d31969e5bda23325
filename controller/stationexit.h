#pragma once
#include <QStringList>
#include <functional>

// The ordered end of a run: the exit action of the settings window, a closed
// window and SIGINT/SIGTERM on a desktop, power-off and reboot. Nothing may
// be lost on the way out and nothing may happen after it: the Modbus slave
// stops answering first, the record is written, then the parameters, then
// every camera is stopped and closed, the board polling ends, the result
// images still held (an alarm's NG image) are saved, the counters are
// written, and the databases close. From then on the journal takes no entry
// and no command runs but the end's own: power-off and reboot sync the disk
// before theirs.
class StationExit
{
public:
    enum Kind { Exit, PowerOff, Reboot };

    struct Hooks {
        std::function<void()> writeCounters; // the production counters
        std::function<void()> stopWatchdog;  // lets the board's watchdog lapse
        std::function<void()> afterClose;    // with the databases closed, before the command
        // The change the end is for (a new language), made once the end has
        // begun and before the set is saved.
        std::function<void()> beforeSave;
        // Whatever answers peers (the Modbus slave): stopped first.
        std::function<void()> stopServing;
    };

    // Runs every step once (a second call while one runs does nothing) and
    // returns. Exit then ends the process; power-off and reboot end with
    // their command, and on the simulated platform, where that command is
    // only logged, end the process too, saying so on the console. An exit
    // asked for after another end has run ends the process at once.
    static bool run(Kind kind, const Hooks& hooks);
    // Whether an end has begun (a late poll must not start a cycle).
    // Stops and closes every open camera (the end's step, and what joining
    // the threads needs after a way down that ran its own command).
    static void closeCameras();
    static bool ending();
    // Whether the end has closed the databases: the journal refuses entries.
    static bool closed();
    // The databases are closed for an end (any way the station goes down,
    // also those that close them and run their command directly): from now
    // on nothing is recorded and only the end's own commands run.
    static void markClosed();
    // A way down that takes its own steps and runs its command itself, in
    // the order its own rules give (the reboot after a changed camera count
    // or a touch calibration, the power-off for a lost camera, the restart
    // after a damaged database file was replaced): on the simulated
    // platform, where that command was only logged, the process ends now as
    // after run(), saying so on the console. On a panel the command does it.
    static void wentDown(Kind kind);
    // How the process ends: the program's main installs it (its event loop
    // returns and it joins its threads), with the arguments the program was
    // given (after its name, before Qt took its own), which the console
    // line that says how to start it again names. A window built without
    // that main (a tool's, a test's) leaves its process to whoever made it.
    static void setProcessEnd(std::function<void()> end, QStringList arguments = {});
    // Tests run more than one end in one process.
    static void resetForTest();
};
