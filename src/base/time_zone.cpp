#include "base/time_zone.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t DaysInMonth(int64_t year, int32_t month) {
  static constexpr int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kHour = 3600;
// No zone's offset is a day or more from UTC; anything larger marks a damaged file.
constexpr int32_t kMaxOffset = 26 * 3600;
// A zone file is a few kilobytes; a much larger one is not a zone file.
constexpr long kMaxZoneFile = 1 << 20;
constexpr int64_t kNoEnd = std::numeric_limits<int64_t>::max();
constexpr int64_t kNoBegin = std::numeric_limits<int64_t>::min();

// ---- POSIX TZ texts ----------------------------------------------------------------------------

class RuleReader {
 public:
  explicit RuleReader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return at_ == text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[at_]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++at_;
    return true;
  }

  // A zone abbreviation: three or more letters, or any text in angle brackets.
  bool Name() {
    if (Take('<')) {
      const size_t close = text_.find('>', at_);
      if (close == std::string_view::npos || close == at_) return false;
      at_ = close + 1;
      return true;
    }
    const size_t start = at_;
    while ((Peek() >= 'A' && Peek() <= 'Z') || (Peek() >= 'a' && Peek() <= 'z')) ++at_;
    return at_ - start >= 3;
  }

  bool Number(int32_t low, int32_t high, int32_t& value) {
    if (Peek() < '0' || Peek() > '9') return false;
    value = 0;
    while (Peek() >= '0' && Peek() <= '9') {
      value = value * 10 + (text_[at_++] - '0');
      if (value > high) return false;
    }
    return value >= low;
  }

  // [+-]hh[:mm[:ss]] in seconds, hours up to `max_hours`.
  bool Duration(int32_t max_hours, int32_t& seconds) {
    const bool negative = Take('-');
    if (!negative) Take('+');
    int32_t hours = 0, minutes = 0, secs = 0;
    if (!Number(0, max_hours, hours)) return false;
    if (Take(':') && (!Number(0, 59, minutes) || (Take(':') && !Number(0, 59, secs)))) {
      return false;
    }
    seconds = hours * 3600 + minutes * 60 + secs;
    if (negative) seconds = -seconds;
    return true;
  }

  bool Day(RuleDay& day) {
    if (Take('M')) {
      day.kind = 'M';
      return Number(1, 12, day.month) && Take('.') && Number(1, 5, day.week) && Take('.') &&
             Number(0, 6, day.day);
    }
    if (Take('J')) {
      day.kind = 'J';
      return Number(1, 365, day.day);
    }
    day.kind = 'N';
    return Number(0, 365, day.day);
  }

  // ",day[/time]"
  bool Change(RuleDay& day, int32_t& time) {
    if (!Take(',') || !Day(day)) return false;
    return !Take('/') || Duration(167, time);
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

// The first day (days since 1970) of a rule's change in a year.
int64_t RuleDayOf(const RuleDay& rule, int64_t year) {
  const int64_t january_first = DaysFromCivil(year, 1, 1);
  switch (rule.kind) {
    case 'J':
      return january_first + rule.day - 1 + (IsLeapYear(year) && rule.day >= 60 ? 1 : 0);
    case 'N':
      return january_first + rule.day;
    default: {
      const int64_t first = DaysFromCivil(year, rule.month, 1);
      const int64_t weekday = ((first + 4) % 7 + 7) % 7;  // 1970-01-01 was a Thursday
      int64_t day = first + (rule.day - weekday + 7) % 7 + int64_t{rule.week - 1} * 7;
      while (day >= first + DaysInMonth(year, rule.month)) day -= 7;
      return day;
    }
  }
}

// The instants daylight time starts and ends in a year.
void RuleChanges(const ZoneRule& rule, int64_t year, int64_t& start, int64_t& end) {
  start = RuleDayOf(rule.start, year) * kDay + rule.start_time - rule.standard_offset;
  end = RuleDayOf(rule.end, year) * kDay + rule.end_time - rule.daylight_offset;
}

// The offset the rule gives at an instant and the span it holds over, cut to begin no earlier
// than `floor` (the last change the file lists).
OffsetSpan RuleOffset(const ZoneRule& rule, int64_t instant, int64_t floor) {
  if (!rule.has_daylight) return OffsetSpan{floor, kNoEnd, rule.standard_offset};
  const int64_t local = instant + rule.standard_offset;
  const int64_t year = CivilFromDays(local / kDay - (local % kDay < 0 ? 1 : 0)).year;
  // The changes of this year and its neighbours, in order of time, each with the offset it
  // brings; the span is between the last change at or before the instant and the next.
  struct Change {
    int64_t at;
    int32_t offset;
  };
  Change changes[6];
  int count = 0;
  for (int64_t y = year - 1; y <= year + 1; ++y) {
    int64_t start = 0, end = 0;
    RuleChanges(rule, y, start, end);
    changes[count++] = {start, rule.daylight_offset};
    changes[count++] = {end, rule.standard_offset};
  }
  std::sort(changes, changes + count, [](const Change& a, const Change& b) { return a.at < b.at; });
  int last = -1;
  for (int i = 0; i < count; ++i) {
    if (changes[i].at <= instant) last = i;
  }
  OffsetSpan span{kNoBegin, kNoEnd, 0};
  if (last < 0) {
    // Before the first change of the previous year: the offset that change ends.
    span.offset =
        changes[0].offset == rule.daylight_offset ? rule.standard_offset : rule.daylight_offset;
    span.end = changes[0].at;
  } else {
    span.offset = changes[last].offset;
    span.begin = changes[last].at;
    if (last + 1 < count) span.end = changes[last + 1].at;
  }
  span.begin = std::max(span.begin, floor);
  return span;
}

// ---- TZif files --------------------------------------------------------------------------------

class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}
  bool Has(size_t count) const { return bytes_.size() - at_ >= count; }
  size_t Position() const { return at_; }
  void Skip(size_t count) { at_ += count; }
  uint32_t U32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes_[at_++]);
    return value;
  }
  int64_t I64() {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | static_cast<uint8_t>(bytes_[at_++]);
    return static_cast<int64_t>(value);
  }
  uint8_t U8() { return static_cast<uint8_t>(bytes_[at_++]); }
  std::string_view Rest() const { return bytes_.substr(at_); }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

struct TzifCounts {
  uint32_t isut, isstd, leap, time, type, chars;
};

bool ReadHeader(ByteReader& in, char& version, TzifCounts& counts) {
  if (!in.Has(44)) return false;
  const std::string_view magic = in.Rest().substr(0, 4);
  if (magic != "TZif") return false;
  in.Skip(4);
  version = static_cast<char>(in.U8());
  in.Skip(15);
  counts = {in.U32(), in.U32(), in.U32(), in.U32(), in.U32(), in.U32()};
  return true;
}

// Bytes of a data block whose times are `time_size` bytes wide.
uint64_t BlockSize(const TzifCounts& c, uint64_t time_size) {
  return uint64_t{c.time} * time_size + c.time + uint64_t{c.type} * 6 + c.chars +
         uint64_t{c.leap} * (time_size + 4) + c.isstd + c.isut;
}

bool Fail(std::string& error, const char* reason) {
  error = reason;
  return false;
}

bool ReadFile(const std::string& path, std::string& bytes, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return Fail(error, "no such zone in the time-zone database");
  char buffer[8192];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes.append(buffer, got);
    if (bytes.size() > static_cast<size_t>(kMaxZoneFile)) break;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  // A folder of the database ("America") opens but cannot be read.
  if (failed) return Fail(error, "no such zone in the time-zone database");
  if (bytes.size() > static_cast<size_t>(kMaxZoneFile)) {
    return Fail(error, "the file is too large to be a zone file");
  }
  return true;
}

// Database names are relative paths of letters, digits and "_-+."; no part may be "..".
bool IsZoneName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name.front() == '/' || name.back() == '/') return false;
  for (char c : name) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '+' || c == '.' ||
                         c == '/';
    if (!allowed) return false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t slash = name.find('/', start);
    if (slash == std::string_view::npos) slash = name.size();
    const std::string_view part = name.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

std::string ZoneFolder() {
  const char* folder = std::getenv("TZDIR");
  return folder != nullptr && folder[0] != '\0' ? folder : "/usr/share/zoneinfo";
}

void MakeUtc(TimeZone& zone, std::string_view name) {
  zone = TimeZone{};
  zone.name = name;
}

bool LoadFile(const std::string& path, TimeZone& zone, std::string& error) {
  std::string bytes;
  if (!ReadFile(path, bytes, error)) return false;
  if (!ReadTimeZoneData(bytes, zone, error)) {
    error = "'" + path + "' is not a sound zone file: " + error;
    return false;
  }
  return true;
}

// This machine's zone as the C library would find it: TZ when set (a name, a file after ':'
// or a POSIX rule; empty means UTC), else /etc/localtime, else UTC.
bool LoadLocal(TimeZone& zone, std::string& error) {
  const char* tz = std::getenv("TZ");
  if (tz == nullptr) {
    std::FILE* probe = std::fopen("/etc/localtime", "rb");
    if (probe == nullptr) {
      MakeUtc(zone, "local");
      return true;
    }
    std::fclose(probe);
    if (!LoadFile("/etc/localtime", zone, error)) return false;
    zone.name = "local";
    return true;
  }
  std::string_view value(tz);
  if (!value.empty() && value.front() == ':') value.remove_prefix(1);
  if (value.empty() || value == "UTC") {
    MakeUtc(zone, "local");
    return true;
  }
  std::string ignored;
  if (value.front() == '/'
          ? LoadFile(std::string(value), zone, ignored)
          : IsZoneName(value) && LoadFile(ZoneFolder() + "/" + std::string(value), zone, ignored)) {
    zone.name = "local";
    return true;
  }
  TimeZone from_rule;
  if (ParseZoneRule(value, from_rule.rule)) {
    from_rule.has_rule = true;
    from_rule.initial_offset = from_rule.rule.standard_offset;
    zone = from_rule;
    zone.name = "local";
    return true;
  }
  error = "the TZ variable ('" + std::string(value) + "') names no zone this machine knows";
  return false;
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

CivilDate CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t mp = (5 * day_of_year + 2) / 153;
  const int32_t day = static_cast<int32_t>(day_of_year - (153 * mp + 2) / 5 + 1);
  const int32_t month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  return CivilDate{year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool ParseZoneRule(std::string_view text, ZoneRule& rule) {
  RuleReader in(text);
  rule = ZoneRule{};
  int32_t west = 0;
  // The text counts hours west of Greenwich; offsets here count east.
  if (!in.Name() || !in.Duration(24, west)) return false;
  rule.standard_offset = -west;
  if (in.AtEnd()) return true;
  if (!in.Name()) return false;
  rule.has_daylight = true;
  rule.daylight_offset = rule.standard_offset + 3600;
  if (in.Peek() != ',' && !in.AtEnd()) {
    if (!in.Duration(24, west)) return false;
    rule.daylight_offset = -west;
  }
  if (in.AtEnd()) {
    // No dates: the United States' rule, as the C library assumes.
    rule.start = RuleDay{'M', 0, 2, 3};
    rule.end = RuleDay{'M', 0, 1, 11};
    return true;
  }
  return in.Change(rule.start, rule.start_time) && in.Change(rule.end, rule.end_time) && in.AtEnd();
}

OffsetSpan OffsetAtInstant(const TimeZone& zone, int64_t instant) {
  const std::vector<int64_t>& changes = zone.changes;
  if (changes.empty() || instant < changes.front()) {
    if (changes.empty() && zone.has_rule) return RuleOffset(zone.rule, instant, kNoBegin);
    return OffsetSpan{kNoBegin, changes.empty() ? kNoEnd : changes.front(), zone.initial_offset};
  }
  const size_t at = static_cast<size_t>(std::upper_bound(changes.begin(), changes.end(), instant) -
                                        changes.begin()) -
                    1;
  if (at + 1 < changes.size()) return OffsetSpan{changes[at], changes[at + 1], zone.offsets[at]};
  if (zone.has_rule) return RuleOffset(zone.rule, instant, changes.back());
  return OffsetSpan{changes.back(), kNoEnd, zone.offsets.back()};
}

int32_t OffsetAtLocalTime(const TimeZone& zone, int64_t local) {
  // The offsets in force well before and well after the clock time (no offset reaches 30 h):
  // a reading is right when the instant it gives has that offset itself.
  constexpr int64_t kFar = 30 * kHour;
  const int32_t before = OffsetAtInstant(zone, local - kFar).offset;
  if (OffsetAtInstant(zone, local - before).offset == before) return before;
  const int32_t after = OffsetAtInstant(zone, local + kFar).offset;
  if (OffsetAtInstant(zone, local - after).offset == after) return after;
  return before;  // a skipped hour: the offset before the change
}

bool ReadTimeZoneData(std::string_view bytes, TimeZone& zone, std::string& error) {
  ByteReader in(bytes);
  char version = 0;
  TzifCounts v1{};
  if (!ReadHeader(in, version, v1)) return Fail(error, "it does not start with a TZif header");
  if (version < '2') return Fail(error, "version 1 zone files are not read");
  const uint64_t v1_size = BlockSize(v1, 4);
  if (!in.Has(v1_size)) return Fail(error, "it is truncated");
  in.Skip(v1_size);
  TzifCounts c{};
  char version2 = 0;
  if (!ReadHeader(in, version2, c)) return Fail(error, "it is truncated");
  if (c.type == 0 || c.type > 256 || c.chars == 0 || (c.isstd != 0 && c.isstd != c.type) ||
      (c.isut != 0 && c.isut != c.type)) {
    return Fail(error, "its counts are inconsistent");
  }
  if (c.leap != 0) return Fail(error, "zones with leap seconds are not read");
  if (!in.Has(BlockSize(c, 8))) return Fail(error, "it is truncated");
  TimeZone read;
  read.changes.resize(c.time);
  for (int64_t& at : read.changes) at = in.I64();
  if (!std::is_sorted(read.changes.begin(), read.changes.end()) ||
      std::adjacent_find(read.changes.begin(), read.changes.end()) != read.changes.end()) {
    return Fail(error, "its changes are out of order");
  }
  std::vector<uint8_t> kinds(c.time);
  for (uint8_t& kind : kinds) {
    kind = in.U8();
    if (kind >= c.type) return Fail(error, "a change names a local time type it lacks");
  }
  std::vector<int32_t> type_offsets(c.type);
  for (int32_t& offset : type_offsets) {
    offset = static_cast<int32_t>(in.U32());
    in.Skip(2);  // the daylight flag and the abbreviation are not needed
    if (offset <= -kMaxOffset || offset >= kMaxOffset) {
      return Fail(error, "an offset is a day or more from UTC");
    }
  }
  in.Skip(uint64_t{c.chars} + c.isstd + c.isut);
  read.initial_offset = type_offsets[0];
  read.offsets.resize(c.time);
  for (size_t i = 0; i < kinds.size(); ++i) read.offsets[i] = type_offsets[kinds[i]];
  // The footer: "\n" rule "\n"; an empty rule keeps the last offset.
  const std::string_view footer = in.Rest();
  if (footer.size() < 2 || footer.front() != '\n') return Fail(error, "its footer is missing");
  const size_t close = footer.find('\n', 1);
  if (close == std::string_view::npos) return Fail(error, "its footer is truncated");
  const std::string_view rule = footer.substr(1, close - 1);
  if (!rule.empty()) {
    if (!ParseZoneRule(rule, read.rule)) return Fail(error, "its footer rule cannot be read");
    read.has_rule = true;
    if (read.changes.empty()) read.initial_offset = read.rule.standard_offset;
  }
  read.name = std::move(zone.name);
  zone = std::move(read);
  return true;
}

bool LoadTimeZone(std::string_view name, TimeZone& zone, std::string& error) {
  if (name == "UTC") {
    MakeUtc(zone, name);
    return true;
  }
  if (name == "local") return LoadLocal(zone, error);
  if (!IsZoneName(name)) return Fail(error, "it is not a zone name such as Europe/Berlin");
  if (!LoadFile(ZoneFolder() + "/" + std::string(name), zone, error)) return false;
  zone.name = name;
  return true;
}
