#include "entries/log_entry.h"

#include <cstring>

EntryText TextOf(char* text) {
  return text != nullptr ? EntryText{text, static_cast<int32_t>(std::strlen(text))} : EntryText{};
}

void ResetEntry(LogEntry& entry) {
  ResetEntryNumbers(entry);
  ClearEntryTexts(entry);
}

void ClearEntryTexts(LogEntry& entry) {
  entry.client_host = entry.uri = entry.query = entry.referer = EntryText{};
  entry.agent = entry.user = entry.method = entry.protocol = EntryText{};
  entry.domain = entry.server = entry.cookie = entry.session = EntryText{};
  entry.forwarded_for = entry.source = EntryText{};
}

void ResetEntryNumbers(LogEntry& entry) {
  entry.line_length = 0;
  entry.year = 0;
  entry.month = 0;
  entry.day = 0;
  entry.hour = 12;
  entry.minute = 0;
  entry.second = 0;
  entry.millisecond = 0;
  entry.status = NO_NUMBER;
  entry.bytes = NO_NUMBER;
  entry.transfer_time = NO_NUMBER;
  entry.utc_offset = NO_OFFSET;
}

int64_t PackDateTime(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                     int64_t second) {
  return (((((year * 16 + month) * 32 + day) * 32 + hour) * 64 + minute) * 64) + second;
}

TimeKey MakeTimeKey(const LogEntry& entry) {
  const auto u = [](int32_t v) { return v > 0 ? int64_t{v} : int64_t{0}; };
  const int64_t clock = PackDateTime(u(entry.year), u(entry.month), u(entry.day), u(entry.hour),
                                     u(entry.minute), u(entry.second));
  return ClockTimeKey(clock,
                      entry.millisecond < 1000 ? static_cast<int32_t>(u(entry.millisecond)) : 999);
}
