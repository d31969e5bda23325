#include "boardconsole.h"
#include "boardsim.h"
#include "mouldingmachine.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

std::string BoardConsole::hex(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof(b), "0x%03X", unsigned(v));
    return b;
}

const char* BoardConsole::help()
{
    return "  in N 0|1        set input N        inputs HEX     set all inputs\n"
           "  auto on|off     machine on/off     silent on|off  stop/resume answering\n"
           "  echo normal|zero|stuck HEX        delay MS        answer delay\n"
           "  fault split|merge|garbage|badcheck|badend|staleecho|drop|truncate [N]\n"
           "  flood N         N random bytes     status         counters\n"
           "  quit\n";
}

std::string BoardConsole::command(const std::string& line)
{
    std::istringstream is(line);
    std::string cmd, a;
    is >> cmd;
    if (cmd.empty())
        return {};
    if (cmd == "in") {
        int n = -1, v = 0;
        is >> n >> v;
        m_sim.setInput(n, v != 0);
        return "inputs " + hex(m_sim.inputs());
    }
    if (cmd == "inputs") {
        is >> a;
        m_sim.setInputs(uint32_t(std::strtoul(a.c_str(), nullptr, 16)));
        return "inputs " + hex(m_sim.inputs());
    }
    if (cmd == "auto") {
        is >> a;
        m_machine.setEnabled(a != "off");
        return std::string("machine ") + (m_machine.enabled() ? "on" : "off");
    }
    if (cmd == "silent") {
        is >> a;
        m_sim.setSilent(a != "off");
        return std::string("board ") + (m_sim.silent() ? "silent" : "answering");
    }
    if (cmd == "echo") {
        is >> a;
        std::string w;
        is >> w;
        m_sim.setEcho(a == "zero" ? BoardSim::Echo::Zero : a == "stuck" ? BoardSim::Echo::Stuck : BoardSim::Echo::Normal,
                      uint32_t(std::strtoul(w.c_str(), nullptr, 16)));
        return "echo " + a;
    }
    if (cmd == "delay") {
        int ms = 0;
        is >> ms;
        m_sim.setAnswerDelayMs(ms);
        return "answer delay " + std::to_string(ms) + " ms";
    }
    if (cmd == "fault") {
        int n = 1;
        is >> a >> n;
        static const struct {
            const char* name;
            BoardSim::Fault f;
        } names[] = {{"split", BoardSim::Fault::Split},         {"merge", BoardSim::Fault::Merge},
                     {"garbage", BoardSim::Fault::Garbage},     {"badcheck", BoardSim::Fault::BadCheck},
                     {"badend", BoardSim::Fault::BadEnd},       {"staleecho", BoardSim::Fault::StaleEcho},
                     {"drop", BoardSim::Fault::Drop},           {"truncate", BoardSim::Fault::Truncate}};
        for (const auto& x : names)
            if (a == x.name) {
                m_sim.injectFault(x.f, n > 0 ? n : 1);
                return "fault " + a + " x" + std::to_string(n > 0 ? n : 1);
            }
        return "unknown fault " + a;
    }
    if (cmd == "flood") {
        int n = 0;
        is >> n;
        m_sim.flood(n);
        return "flooded " + std::to_string(n) + " bytes";
    }
    if (cmd == "status")
        return "frames " + std::to_string(m_sim.totalFrames()) + ", bad " + std::to_string(m_sim.badFrameCount())
            + ", answers " + std::to_string(m_sim.answersSent()) + ", inputs " + hex(m_sim.inputs()) + ", outputs "
            + hex(m_sim.outputs()) + ", cycles " + std::to_string(m_machine.cycles());
    if (cmd == "quit") {
        m_quit = true;
        return {};
    }
    return "unknown command: " + line;
}
