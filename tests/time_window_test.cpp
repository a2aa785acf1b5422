// The time window: ISO 8601 times as written on the command line, and which entries fall
// inside [since, until).

#include <gtest/gtest.h>

#include <string>

#include "entries/filters.h"

namespace {

TEST(IsoTime, GoodAndBadTimes) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"2024-03-01", true},
      {"2024-03-01T06:30", true},
      {"2024-03-01T06:30:15", true},
      {"2024-03-01 06:30:15", true},
      {"2024-02-29", true},  // a leap year
      {"2000-02-29", true},
      {"2024-12-31T23:59:59", true},
      {"2023-02-29", false},
      {"1900-02-29", false},
      {"2024-04-31", false},
      {"2024-13-01", false},
      {"2024-00-10", false},
      {"2024-03-00", false},
      {"2024-03-01T24:00", false},
      {"2024-03-01T06:60", false},
      {"2024-03-01T06:30:60", false},
      {"2024-3-1", false},
      {"20240301", false},
      {"2024-03-01T06", false},
      {"2024-03-01T06:30:15Z", false},  // no zones yet: refused, never ignored
      {"2024-03-01T06:30:15+01:00", false},
      {"2024-03-01T06:30:15.5", false},
      {"2024-03-01T", false},
      {" 2024-03-01", false},
      {"", false},
      {"yesterday", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ClockTime time = -1;
    EXPECT_EQ(ParseIsoTime(c.text, time), c.valid);
  }
}

ClockTime Time(const char* text) {
  ClockTime time = 0;
  EXPECT_TRUE(ParseIsoTime(text, time)) << text;
  return time;
}

TEST(IsoTime, LaterTimesAreLargerAndADateIsItsMidnight) {
  EXPECT_EQ(Time("2024-03-01"), Time("2024-03-01T00:00:00"));
  EXPECT_EQ(Time("2024-03-01T06:30"), Time("2024-03-01T06:30:00"));
  const char* ordered[] = {"1999-12-31T23:59:59", "2024-02-29T23:59:59", "2024-03-01",
                           "2024-03-01T00:00:01", "2024-03-01T00:01",    "2024-03-01T01:00",
                           "2024-03-02",          "2024-04-01",          "2025-01-01"};
  for (size_t i = 1; i < std::size(ordered); ++i) {
    SCOPED_TRACE(ordered[i]);
    EXPECT_LT(Time(ordered[i - 1]), Time(ordered[i]));
  }
}

LogEntry EntryAt(int year, int month, int day, int hour, int minute, int second) {
  LogEntry entry;
  ResetEntry(entry);
  entry.year = year;
  entry.month = month;
  entry.day = day;
  entry.hour = hour;
  entry.minute = minute;
  entry.second = second;
  return entry;
}

TEST(TimeWindow, SinceInclusiveUntilExclusive) {
  TimeWindow window{Time("2024-03-01T10:00:00"), Time("2024-03-01T11:00:00")};
  struct Case {
    LogEntry entry;
    bool inside;
  };
  const Case cases[] = {
      {EntryAt(2024, 3, 1, 9, 59, 59), false}, {EntryAt(2024, 3, 1, 10, 0, 0), true},
      {EntryAt(2024, 3, 1, 10, 59, 59), true}, {EntryAt(2024, 3, 1, 11, 0, 0), false},
      {EntryAt(2023, 3, 1, 10, 30, 0), false}, {EntryAt(2024, 3, 2, 10, 30, 0), false},
      {EntryAt(1975, 3, 1, 10, 30, 0), false},  // years the merge key wraps still compare
      {EntryAt(2050, 3, 1, 10, 30, 0), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.entry.year) + " " + std::to_string(c.entry.hour) + ":" +
                 std::to_string(c.entry.minute) + ":" + std::to_string(c.entry.second));
    EXPECT_EQ(InTimeWindow(c.entry, window), c.inside);
  }
  // Consecutive windows share no entry and lose none.
  const TimeWindow next{Time("2024-03-01T11:00:00"), Time("2024-03-01T12:00:00")};
  const LogEntry boundary = EntryAt(2024, 3, 1, 11, 0, 0);
  EXPECT_NE(InTimeWindow(boundary, window), InTimeWindow(boundary, next));
}

TEST(TimeWindow, AnAbsentBoundDoesNotLimit) {
  const LogEntry early = EntryAt(1990, 1, 1, 0, 0, 0);
  const LogEntry late = EntryAt(2037, 12, 31, 23, 59, 59);
  EXPECT_TRUE(InTimeWindow(early, TimeWindow{}));
  EXPECT_TRUE(InTimeWindow(late, TimeWindow{}));
  EXPECT_TRUE(InTimeWindow(late, TimeWindow{Time("2024-01-01"), std::nullopt}));
  EXPECT_FALSE(InTimeWindow(early, TimeWindow{Time("2024-01-01"), std::nullopt}));
  EXPECT_TRUE(InTimeWindow(early, TimeWindow{std::nullopt, Time("2024-01-01")}));
  EXPECT_FALSE(InTimeWindow(late, TimeWindow{std::nullopt, Time("2024-01-01")}));
}

}  // namespace
