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
  entry.forwarded_for = EntryText{};
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

TimeKey MakeTimeKey(const LogEntry& entry) {
  const auto u = [](int32_t v) { return v > 0 ? static_cast<uint64_t>(v) : uint64_t{0}; };
  const uint64_t clock = (u(entry.year) << 26) + (u(entry.month) << 22) + (u(entry.day) << 17) +
                         (u(entry.hour) << 12) + (u(entry.minute) << 6) + u(entry.second);
  const uint64_t millisecond = entry.millisecond < 1000 ? u(entry.millisecond) : uint64_t{999};
  return (clock << 10) + millisecond;
}
