#include "entries/zone_shift.h"

#include <limits>

namespace {

constexpr int64_t kDay = 86400;
// A local clock time this far from every change of offset reads one way only (no offset
// reaches 30 hours, and OffsetAtLocalTime looks 30 hours either way).
constexpr int64_t kClear = 60 * 3600;
// Keys count seconds from the year -30000, so that no real instant gives a negative key.
constexpr int64_t kKeyBase = int64_t{1} << 40;

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return sum;
}

// Seconds to whole minutes, to the nearest: offsets before 1900 (local mean time) have
// seconds, the stamps written here do not.
int32_t ToMinutes(int32_t seconds) {
  return seconds >= 0 ? (seconds + 30) / 60 : -((-seconds + 30) / 60);
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

}  // namespace

int32_t LocalOffsetMinutes(const TimeZone& zone, int64_t local, OffsetMemo& memo) {
  if (local >= memo.begin && local < memo.end) return memo.minutes;
  const int32_t offset = OffsetAtLocalTime(zone, local);
  const OffsetSpan span = OffsetAtInstant(zone, local - offset);
  memo.minutes = ToMinutes(offset);
  memo.begin = local;
  memo.end = local + 1;
  // Clock times well inside the span of this offset read the same way; those near a change
  // are looked up each time.
  if (span.offset == offset) {
    const int64_t begin = SaturatingAdd(SaturatingAdd(span.begin, offset), kClear);
    const int64_t end = SaturatingAdd(SaturatingAdd(span.end, offset), -kClear);
    if (begin <= local && local < end) {
      memo.begin = begin;
      memo.end = end;
    }
  }
  return memo.minutes;
}

int32_t InstantOffsetMinutes(const TimeZone& zone, int64_t instant, OffsetMemo& memo) {
  if (instant >= memo.begin && instant < memo.end) return memo.minutes;
  const OffsetSpan span = OffsetAtInstant(zone, instant);
  memo = OffsetMemo{span.begin, span.end, ToMinutes(span.offset)};
  return memo.minutes;
}

bool EntryHasDate(const LogEntry& entry) {
  return entry.year > 0 && entry.month >= 1 && entry.month <= 12 && entry.day >= 1 &&
         entry.day <= 31;
}

int64_t EntryClockSeconds(const LogEntry& entry) {
  const auto at_least = [](int32_t value, int32_t low) { return value < low ? low : value; };
  const int64_t days =
      DaysFromCivil(at_least(entry.year, 0), at_least(entry.month, 1), at_least(entry.day, 1));
  return days * kDay + int64_t{at_least(entry.hour, 0)} * 3600 +
         int64_t{at_least(entry.minute, 0)} * 60 + at_least(entry.second, 0);
}

int64_t EntryInstant(const LogEntry& entry, const TimeZone& input_zone, OffsetMemo& memo) {
  const int64_t clock = EntryClockSeconds(entry);
  const int32_t minutes = entry.utc_offset != NO_OFFSET
                              ? entry.utc_offset
                              : LocalOffsetMinutes(input_zone, clock, memo);
  return clock - int64_t{minutes} * 60;
}

void RestampEntry(LogEntry& entry, int64_t instant, const TimeZone& zone, OffsetMemo& memo) {
  if (!EntryHasDate(entry)) return;
  const int32_t minutes = InstantOffsetMinutes(zone, instant, memo);
  SetEntryClock(entry, instant + int64_t{minutes} * 60);
  entry.utc_offset = minutes;
}

void SetEntryClock(LogEntry& entry, int64_t clock) {
  const int64_t days = FloorDiv(clock, kDay);
  const int64_t second_of_day = clock - days * kDay;
  const CivilDate date = CivilFromDays(days);
  entry.year = static_cast<int32_t>(date.year);
  entry.month = date.month;
  entry.day = date.day;
  entry.hour = static_cast<int32_t>(second_of_day / 3600);
  entry.minute = static_cast<int32_t>(second_of_day / 60 % 60);
  entry.second = static_cast<int32_t>(second_of_day % 60);
}

TimeKey InstantTimeKey(int64_t instant, int32_t millisecond) {
  const int32_t fraction = millisecond < 0 ? 0 : millisecond > 999 ? 999 : millisecond;
  return static_cast<TimeKey>(instant + kKeyBase) * 1000 + static_cast<TimeKey>(fraction);
}
