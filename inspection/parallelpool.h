#pragma once

// The library's parallel loops run on the station's own workers, installed
// when the program starts (before any other thread), in every program that
// aligns frames.
//
// Why: a frame's alignment is some seventy short parallel loops one after
// another (the detector's blurs, its layers, its descriptors). The library's
// default pool lets its workers fall asleep between them, and on a machine
// that has been waiting for the next opening, waking them again costs more
// than the loops themselves. Here, while a hot section is open (an
// alignment), idle workers do not sleep at all, as long as there are cores
// left beside the threads in hot sections. Outside one, a worker that
// finishes a loop watches for the next one for a short while before it
// sleeps, and a new loop wakes one sleeper, which wakes the next while tasks
// are left.

// True when the library's loops run on the station's workers (false, too,
// when the library runs them on one thread).
bool parallelPoolActive();

// While one is alive anywhere in the process, idle workers watch for the next
// loop instead of sleeping, and opening it wakes the sleeping ones: for work
// that is many short loops in a row and must finish soon. Each thread in a
// hot section counts as a busy core: only as many workers watch, and a loop
// takes only as many workers, as there are cores left. Costs the watching
// workers' cores for as long as it is open; open it around such work only.
class ParallelHotSection
{
public:
    ParallelHotSection();
    ~ParallelHotSection();
    ParallelHotSection(const ParallelHotSection&) = delete;
    ParallelHotSection& operator=(const ParallelHotSection&) = delete;
};
