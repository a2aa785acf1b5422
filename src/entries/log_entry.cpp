#include "entries/log_entry.h"

void ResetEntry(LogEntry& entry) {
  entry = LogEntry{};
  entry.hour = 12;
  entry.status = 200;
  entry.bytes = 1024;
}

TimeKey MakeTimeKey(const LogEntry& entry) {
  // Unsigned arithmetic wraps by definition, so years outside 1980..2043 cannot overflow.
  const auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
  return ((u(entry.year) - 1980u) << 26) + (u(entry.month) << 22) + (u(entry.day) << 17) +
         (u(entry.hour) << 12) + (u(entry.minute) << 6) + u(entry.second);
}
