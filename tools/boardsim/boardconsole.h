#pragma once
#include <cstdint>
#include <string>

class BoardSim;
class MouldingMachine;

// The boardsim program's console: one command line of its standard input
// (set inputs, switch the machine, inject line faults, ask for counters)
// carried out on the board and its machine. Tests that drive the simulator
// the way a person at its console does go through the same commands.
class BoardConsole
{
public:
    BoardConsole(BoardSim& sim, MouldingMachine& machine) : m_sim(sim), m_machine(machine) {}

    // Carries out one line; returns the line the program prints for it
    // (empty for an empty line or "quit").
    std::string command(const std::string& line);
    // "quit" was given.
    bool quitRequested() const { return m_quit; }

    static const char* help();
    // A board word as the program prints it ("0x0F1").
    static std::string hex(uint32_t v);

private:
    BoardSim& m_sim;
    MouldingMachine& m_machine;
    bool m_quit = false;
};
