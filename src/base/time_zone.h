#pragma once
// Time zones of the system's zone database (TZif files under /usr/share/zoneinfo): the UTC
// offset in force at an instant, and the offset of a local clock time that carries none.
// Dates past the last change a file lists follow the rule of its footer (a POSIX TZ text
// such as "CET-1CEST,M3.5.0,M10.5.0/3"). Nothing here reads or changes the process's own
// zone (no TZ changes, no localtime), so every thread may use a loaded zone at once.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ---- Calendar arithmetic (proleptic Gregorian) --------------------------------------------

// Days from 1970-01-01 to the given date; negative before it.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);

struct CivilDate {
  int64_t year;
  int32_t month;  // 1..12
  int32_t day;    // 1..31
};

// The date `days` days after 1970-01-01.
CivilDate CivilFromDays(int64_t days);

// True for a leap year.
bool IsLeapYear(int64_t year);

// The days of `month` (1..12) in `year`.
int32_t DaysInMonth(int64_t year, int32_t month);

// ---- The rule of a footer ------------------------------------------------------------------

// The day of the year a rule changes on: Jn (1..365, 29 February never counted), n (0..365,
// counted), or Mm.w.d (weekday d of week w, 5 meaning the last, of month m).
struct RuleDay {
  char kind = 'M';  // 'J', 'N' or 'M'
  int32_t day = 0;  // J and N: the number; M: the weekday 0..6 (Sunday = 0)
  int32_t week = 0;
  int32_t month = 0;
};

struct ZoneRule {
  int32_t standard_offset = 0;  // seconds east of UTC
  bool has_daylight = false;
  int32_t daylight_offset = 0;
  RuleDay start;              // daylight time starts at start_time local standard time on this day
  RuleDay end;                // and ends at end_time local daylight time on this day
  int32_t start_time = 7200;  // seconds after local midnight; may be negative or past 24 h
  int32_t end_time = 7200;
};

// Reads a POSIX TZ text; false when it is not one.
bool ParseZoneRule(std::string_view text, ZoneRule& rule);

// ---- Zones -----------------------------------------------------------------------------------

struct TimeZone {
  std::string name;
  std::vector<int64_t> changes;  // instants (seconds since 1970, UTC) of each change
  std::vector<int32_t> offsets;  // the offset in force from each change on (s east)
  int32_t initial_offset = 0;    // the offset before the first change
  bool has_rule = false;         // past the last change the rule decides, else
  ZoneRule rule;                 // the last offset holds for ever
};

// The offset in force during [begin, end) of instants; the instant asked about lies inside.
struct OffsetSpan {
  int64_t begin;
  int64_t end;
  int32_t offset;  // seconds east of UTC
};

// The offset at an instant (seconds since 1970, UTC) and the span it holds over.
OffsetSpan OffsetAtInstant(const TimeZone& zone, int64_t instant);

// The offset of a local clock time (seconds since 1970 as if the clock were UTC). Where
// daylight saving makes the clock jump, a time can be read two ways or none: an hour that is
// repeated takes its earlier reading (the offset before the change) and an hour that is
// skipped takes the offset before the change too (standard time in spring), so the answer
// is always the offset in force just before the nearest change.
int32_t OffsetAtLocalTime(const TimeZone& zone, int64_t local);

// Loads a zone by name: "UTC", "local" (this machine's zone: the TZ variable when set, else
// /etc/localtime, else UTC) or a name of the database ("Europe/Berlin"), read from the folder
// the TZDIR variable names or /usr/share/zoneinfo. False with the reason in `error` for a
// name the database does not hold and for a file that is not a sound zone file.
bool LoadTimeZone(std::string_view name, TimeZone& zone, std::string& error);

// Reads the bytes of a TZif file (version 2 or later); false with the reason in `error`.
bool ReadTimeZoneData(std::string_view bytes, TimeZone& zone, std::string& error);
