#pragma once
#include <QString>

// The six production counters (gAllNum, gFailNum, gAllCycleNum,
// gFailCycleNum per camera, gSyncNGNum, gSyncNGCycleNum) and their file
// count.ini. The GUI thread changes them; the network threads read them
// without a lock, so every change and read here is atomic.
namespace ProductionCounters {

constexpr int kMaxValue = 100000000;

// "./ruv_net/workspace/count.ini" below the working directory.
QString filePath();

// Atomic add and read of one counter.
void add(int& counter, int n = 1);
int load(const int& counter);
void store(int& counter, int value);

// Writes all six keys in the stored order and makes the file durable before
// returning: a power cut or a kill right after leaves the new counts or the
// previous ones, never a truncated file.
void CountWrite();
// Reads them back: missing keys and damaged entries read 0, values outside
// 0..100,000,000 read 0, at most 8 entries per list.
void CountRead();
// Sets every counter to 0 (settings window, network services), then writes.
void clearAll();

} // namespace ProductionCounters
