#pragma once
// Operating-system services the logic needs: local time, a short sleep, the limit on
// open files, what standard output is, and opening a file only when it is a regular one.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

// Breaks a calendar time down into local time; false when the conversion fails.
bool LocalTime(int64_t seconds, std::tm& out);

// Sleeps for the given number of milliseconds.
void SleepMilliseconds(int milliseconds);

// Raises the soft limit on open files so that `wanted` files can be open at once (as
// far as the hard limit allows). Returns the limit in force afterwards.
int64_t RaiseOpenFileLimit(int64_t wanted);

// Threads started from here on reserve kThreadStack bytes of stack instead of the process's
// stack limit (often 8 MiB): workers decode and parse with small frames, and under an
// address-space limit every reserved byte counts.
inline constexpr size_t kThreadStack = size_t{2} << 20;
void UseSmallThreadStacks();

// True when standard output is a terminal.
bool StandardOutputIsTerminal();

// True when standard error is a terminal.
bool StandardErrorIsTerminal();

// How OpenRegularFile went.
enum class RegularFileOpen { Opened, Missing, NotRegular, TooLarge, Failed };

// Opens `path` for reading in text mode only when it is a regular file of at most
// `max_bytes` bytes. A FIFO or device is refused without blocking on it (and without
// becoming the process's controlling terminal). Null unless `outcome` is Opened; after
// Missing and Failed, errno holds the system's reason.
std::FILE* OpenRegularFile(const char* path, int64_t max_bytes, RegularFileOpen& outcome);

// A stream of its own onto standard output (a duplicate of its descriptor, binary), so that
// closing it reports a failed write without closing the process's standard output. Null
// when it cannot be made.
std::FILE* OpenStandardOutputCopy();
