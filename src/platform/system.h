#pragma once
// Operating-system services the logic needs: local time, a short sleep, the limit on
// open files.

#include <cstdint>
#include <ctime>

// Breaks a calendar time down into local time; false when the conversion fails.
bool LocalTime(int64_t seconds, std::tm& out);

// Sleeps for the given number of milliseconds.
void SleepMilliseconds(int milliseconds);

// Raises the soft limit on open files so that `wanted` files can be open at once (as
// far as the hard limit allows). Returns the limit in force afterwards.
int64_t RaiseOpenFileLimit(int64_t wanted);
