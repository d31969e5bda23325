#pragma once
#include <QtGlobal>

class QDateTime;

// Time stamps for task records and the network side.

// Milliseconds since the epoch.
qint64 gettimeofday_ms();
// A 10 ms tick that fits an int: (ms / 10) modulo 10^9.
int curtime_qint64_2_int();
// The same tick for a given millisecond time (wraps every 10^9 ticks).
int curtime_from_ms(qint64 ms);
// Microseconds since the epoch (wall clock).
quint64 gettimeofday_us();

// Sets the system clock ("date -s") and the hardware clock from it
// ("hwclock --systohc") through the command runner. False when either fails.
bool setSystemDateTime(const QDateTime& when);
