// boardsim: the I/O board on a pseudo-terminal, with a moulding machine behind
// it. Linked at <simroot>/dev/ttyS<port> so the station finds it as its port.
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
#include <sstream>
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
        "moulding machine on it. Commands on standard input:\n"
        "  in N 0|1        set input N        inputs HEX     set all inputs\n"
        "  auto on|off     machine on/off     silent on|off  stop/resume answering\n"
        "  echo normal|zero|stuck HEX        delay MS        answer delay\n"
        "  fault split|merge|garbage|badcheck|badend|staleecho|drop|truncate [N]\n"
        "  flood N         N random bytes     status         counters\n"
        "  quit\n");
}

std::string hex(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof(b), "0x%03X", unsigned(v));
    return b;
}

void command(const std::string& line, BoardSim& sim, MouldingMachine& machine)
{
    std::istringstream is(line);
    std::string cmd, a;
    is >> cmd;
    if (cmd.empty())
        return;
    if (cmd == "in") {
        int n = -1, v = 0;
        is >> n >> v;
        sim.setInput(n, v != 0);
        say("inputs " + hex(sim.inputs()));
    } else if (cmd == "inputs") {
        is >> a;
        sim.setInputs(uint32_t(std::strtoul(a.c_str(), nullptr, 16)));
        say("inputs " + hex(sim.inputs()));
    } else if (cmd == "auto") {
        is >> a;
        machine.setEnabled(a != "off");
        say(std::string("machine ") + (machine.enabled() ? "on" : "off"));
    } else if (cmd == "silent") {
        is >> a;
        sim.setSilent(a != "off");
        say(std::string("board ") + (sim.silent() ? "silent" : "answering"));
    } else if (cmd == "echo") {
        is >> a;
        std::string w;
        is >> w;
        sim.setEcho(a == "zero" ? BoardSim::Echo::Zero : a == "stuck" ? BoardSim::Echo::Stuck : BoardSim::Echo::Normal,
                    uint32_t(std::strtoul(w.c_str(), nullptr, 16)));
        say("echo " + a);
    } else if (cmd == "delay") {
        int ms = 0;
        is >> ms;
        sim.setAnswerDelayMs(ms);
        say("answer delay " + std::to_string(ms) + " ms");
    } else if (cmd == "fault") {
        int n = 1;
        is >> a >> n;
        static const struct { const char* name; BoardSim::Fault f; } names[] = {
            {"split", BoardSim::Fault::Split}, {"merge", BoardSim::Fault::Merge},
            {"garbage", BoardSim::Fault::Garbage}, {"badcheck", BoardSim::Fault::BadCheck},
            {"badend", BoardSim::Fault::BadEnd}, {"staleecho", BoardSim::Fault::StaleEcho},
            {"drop", BoardSim::Fault::Drop}, {"truncate", BoardSim::Fault::Truncate}};
        for (const auto& x : names)
            if (a == x.name) {
                sim.injectFault(x.f, n > 0 ? n : 1);
                say("fault " + a + " x" + std::to_string(n > 0 ? n : 1));
                return;
            }
        say("unknown fault " + a);
    } else if (cmd == "flood") {
        int n = 0;
        is >> n;
        sim.flood(n);
        say("flooded " + std::to_string(n) + " bytes");
    } else if (cmd == "status") {
        say("frames " + std::to_string(sim.totalFrames()) + ", bad " + std::to_string(sim.badFrameCount())
            + ", answers " + std::to_string(sim.answersSent()) + ", inputs " + hex(sim.inputs()) + ", outputs "
            + hex(sim.outputs()) + ", cycles " + std::to_string(machine.cycles()));
    } else if (cmd == "quit") {
        gStop = true;
    } else {
        say("unknown command: " + line);
    }
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
        say("outputs " + hex(c.before) + " -> " + hex(c.after) + " (O9..O0 " + bits + ")");
    });
    MouldingMachine machine(sim, timing, cycles);
    machine.setEnabled(!manual);
    machine.setReporter([&sim](const std::string& s) {
        say(s + ", frames " + std::to_string(sim.totalFrames()) + ", bad " + std::to_string(sim.badFrameCount()));
    });
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
                    command(pending.substr(0, nl), sim, machine);
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
        + ", bad " + std::to_string(sim.badFrameCount()) + ", outputs " + hex(sim.outputs()));
    ::unlink(link.c_str());
    return 0;
}
