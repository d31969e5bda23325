// boardsim: the I/O board on a pseudo-terminal, with a moulding machine behind
// it. Linked at <simroot>/dev/ttyS<port> so the station finds it as its port.
#include "boardconsole.h"
#include "boardsim.h"
#include "mouldingmachine.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

std::atomic<bool> gStop{false};
std::mutex gPrint;

void say(const std::string& line)
{
    std::lock_guard<std::mutex> l(gPrint);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void usage()
{
    std::printf(
        "usage: boardsim [--port N] [--cycles N] [--closed-ms MS] [--open-ms MS] [--manual]\n"
        "Speaks the I/O board protocol on a pseudo-terminal linked at $STATION_SIMROOT/dev/ttyS<N>\n"
        "(a temporary sim root is made and printed when STATION_SIMROOT is unset) and runs a\n"
        "moulding machine on it. Commands on standard input:\n%s",
        BoardConsole::help());
}

} // namespace

int main(int argc, char** argv)
{
    int port = 1, cycles = 0;
    MouldingMachine::Timing timing;
    bool manual = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&](int& v) {
            if (i + 1 < argc)
                v = std::atoi(argv[++i]);
        };
        if (a == "--port") next(port);
        else if (a == "--cycles") next(cycles);
        else if (a == "--closed-ms") next(timing.closedMs);
        else if (a == "--open-ms") next(timing.openMs);
        else if (a == "--manual") manual = true;
        else if (a == "-h" || a == "--help") { usage(); return 0; }
        else { std::fprintf(stderr, "boardsim: unknown argument %s\n", a.c_str()); usage(); return 2; }
    }

    std::string root;
    if (const char* env = std::getenv("STATION_SIMROOT"); env && *env) {
        root = env;
    } else {
        char tmpl[] = "/tmp/boardsim.XXXXXX";
        if (!::mkdtemp(tmpl)) {
            std::perror("boardsim: mkdtemp");
            return 1;
        }
        root = tmpl;
        say("simroot " + root + " (set STATION_SIMROOT to it for the station)");
    }

    BoardSim sim;
    std::string err;
    const std::string link = root + "/dev/ttyS" + std::to_string(port);
    if (!sim.open(&err) || !sim.linkAt(link, &err)) {
        std::fprintf(stderr, "boardsim: %s\n", err.c_str());
        return 1;
    }
    std::signal(SIGINT, [](int) { gStop = true; });
    std::signal(SIGTERM, [](int) { gStop = true; });
    std::signal(SIGPIPE, SIG_IGN);

    sim.setOutputCallback([](const BoardSim::OutputChange& c) {
        std::string bits;
        for (int n = 9; n >= 0; --n)
            bits += (c.after >> n) & 1u ? '1' : '0';
        say("outputs " + BoardConsole::hex(c.before) + " -> " + BoardConsole::hex(c.after) + " (O9..O0 " + bits + ")");
    });
    MouldingMachine machine(sim, timing, cycles);
    machine.setEnabled(!manual);
    machine.setReporter([&sim](const std::string& s) {
        say(s + ", frames " + std::to_string(sim.totalFrames()) + ", bad " + std::to_string(sim.badFrameCount()));
    });
    BoardConsole console(sim, machine);
    sim.start();
    say("board on " + sim.slavePath() + ", linked at " + link + (manual ? ", manual" : ", automatic machine mode")
        + (cycles > 0 ? ", " + std::to_string(cycles) + " cycles" : ""));

    bool stdinOpen = true;
    std::string pending;
    int64_t lastReport = nowMs();
    uint64_t lastFrames = 0;
    while (!gStop && !machine.done()) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int r = stdinOpen ? ::poll(&p, 1, 10) : (::usleep(10000), 0);
        if (r > 0 && (p.revents & (POLLIN | POLLHUP))) {
            char buf[256];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof(buf));
            if (n <= 0) {
                stdinOpen = false;
            } else {
                pending.append(buf, size_t(n));
                size_t nl;
                while ((nl = pending.find('\n')) != std::string::npos) {
                    const std::string reply = console.command(pending.substr(0, nl));
                    if (!reply.empty())
                        say(reply);
                    if (console.quitRequested())
                        gStop = true;
                    pending.erase(0, nl + 1);
                }
            }
        } else if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) {
            stdinOpen = false;
        }
        const int64_t t = nowMs();
        machine.tick(t);
        // Say so when the station stops (or starts) polling.
        if (t - lastReport >= 5000) {
            const uint64_t f = sim.totalFrames();
            if (f == lastFrames)
                say("no frames from the station for 5 s");
            lastFrames = f;
            lastReport = t;
            // The station polls 200 times a second: keep the log bounded.
            sim.trimLog(10000);
        }
    }
    sim.stop();
    say("stopped after " + std::to_string(machine.cycles()) + " cycles: frames " + std::to_string(sim.totalFrames())
        + ", bad " + std::to_string(sim.badFrameCount()) + ", outputs " + BoardConsole::hex(sim.outputs()));
    ::unlink(link.c_str());
    return 0;
}
