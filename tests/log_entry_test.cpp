#include "entries/log_entry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "base/clock.h"
#include "base/text.h"

namespace {

LogEntry Dated(int year, int month, int day, int hour, int minute, int second) {
  LogEntry e;
  ResetEntry(e);
  e.year = year;
  e.month = month;
  e.day = day;
  e.hour = hour;
  e.minute = minute;
  e.second = second;
  return e;
}

TEST(LogEntry, ResetKeepsTheDefaultTimeAndInventsNoNumbers) {
  LogEntry e;
  e.uri = EntryText{reinterpret_cast<char*>(&e), 3};
  e.forwarded_for = EntryText{reinterpret_cast<char*>(&e), 3};
  e.year = 7;
  e.millisecond = 250;
  ResetEntry(e);
  EXPECT_EQ(e.hour, 12);
  EXPECT_EQ(e.status, NO_NUMBER);
  EXPECT_EQ(e.bytes, NO_NUMBER);
  EXPECT_EQ(e.transfer_time, NO_NUMBER);
  EXPECT_EQ(e.year, 0);
  EXPECT_EQ(e.uri, EntryText{});
  EXPECT_EQ(e.session, EntryText{});
  EXPECT_EQ(e.forwarded_for, EntryText{});
  EXPECT_EQ(e.millisecond, 0);
  EXPECT_EQ(e.line_length, 0);
}

TEST(LogEntry, TimeKeyPacksTheFieldsInOrder) {
  struct Case {
    LogEntry entry;
    uint64_t key;
  };
  const Case cases[] = {
      {Dated(0, 0, 0, 12, 0, 0), 12ull << 22},  // no date at all sorts first
      {Dated(2001, 3, 5, 14, 7, 9),
       ((2001ull << 26) + (3u << 22) + (5u << 17) + (14u << 12) + (7u << 6) + 9u) << 10},
      {Dated(9999, 12, 31, 23, 59, 59),
       ((9999ull << 26) + (12u << 22) + (31u << 17) + (23u << 12) + (59u << 6) + 59u) << 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry.year);
    EXPECT_EQ(MakeTimeKey(c.entry), c.key);
  }
}

TEST(LogEntry, TimeKeysOrderEveryAcceptedDate) {
  // Each entry is later than the one before it; the 32-bit key wrapped at 2044 and put
  // 1970-1979 after 2038.
  const LogEntry ascending[] = {
      Dated(1970, 1, 1, 0, 0, 0),  Dated(1979, 12, 31, 23, 59, 59),
      Dated(1980, 1, 1, 0, 0, 0),  Dated(2001, 1, 1, 10, 0, 0),
      Dated(2001, 1, 1, 10, 0, 1), Dated(2038, 1, 19, 3, 14, 8),
      Dated(2039, 3, 5, 0, 0, 0),  Dated(2043, 12, 31, 23, 59, 59),
      Dated(2044, 1, 1, 0, 0, 0),  Dated(9999, 12, 31, 23, 59, 59),
  };
  for (size_t i = 1; i < std::size(ascending); ++i) {
    SCOPED_TRACE(ascending[i].year);
    EXPECT_LT(MakeTimeKey(ascending[i - 1]), MakeTimeKey(ascending[i]));
  }
  EXPECT_LT(MakeTimeKey(Dated(9999, 12, 31, 23, 59, 59)), NO_ENTRY);
}

TEST(LogEntry, TimeKeysOrderMillisecondsWithinTheirSecond) {
  const auto at = [](int second, int millisecond) {
    LogEntry e = Dated(2024, 3, 31, 3, 0, second);
    e.millisecond = millisecond;
    return e;
  };
  // A second without a fraction comes first; 999 ms still sorts before the next second.
  const LogEntry ascending[] = {at(5, 0), at(5, 1), at(5, 310), at(5, 999), at(6, 0)};
  for (size_t i = 1; i < std::size(ascending); ++i) {
    SCOPED_TRACE(i);
    EXPECT_LT(MakeTimeKey(ascending[i - 1]), MakeTimeKey(ascending[i]));
  }
  // A millisecond out of range never reaches the next second.
  EXPECT_LT(MakeTimeKey(at(5, 5000)), MakeTimeKey(at(6, 0)));
}

TEST(Helpers, ParseSignedDecimal) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case cases[] = {
      {"-12ab", -12},
      {"+12", 0},
      {"", 0},
      {"-", 0},
      {" 5", 0},
      {"0042x", 42},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"2147483648", INT32_MIN},             // wraps instead of overflowing
      {"99999999999999999999", 1661992959},  // (10^20 - 1) mod 2^32
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseSignedDecimal(c.text), c.value);
  }
}

TEST(Helpers, StartsWithNoCaseAndUpperCase) {
  EXPECT_TRUE(StartsWithNoCase("", "anything"));
  EXPECT_TRUE(StartsWithNoCase(".lnk", ".LNK"));
  EXPECT_TRUE(StartsWithNoCase("http", "HTTP://x"));
  EXPECT_FALSE(StartsWithNoCase("http", "htt"));
  EXPECT_FALSE(StartsWithNoCase("a", "\xC1"));  // bytes above 127 have no case
  char text[] = "get /\xE9x-z";
  UpperCaseInPlace(text);
  EXPECT_STREQ(text, "GET /\xE9X-Z");
}

class LocalTimeInUtc : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

TEST_F(LocalTimeInUtc, TimeToFieldsBreaksDownAndClamps) {
  int32_t y, mo, d, h, mi, s;
  TimeToFields(0, &y, &mo, &d, &h, &mi, &s);
  EXPECT_EQ(y, 1970);
  EXPECT_EQ(mo, 1);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(mi, 0);
  EXPECT_EQ(s, 0);
  TimeToFields(-5, &y, &mo, &d, &h, &mi, &s);  // clamped to 2038-01-17 03:14:07
  EXPECT_EQ(y, 2038);
  EXPECT_EQ(mo, 1);
  EXPECT_EQ(d, 17);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(mi, 14);
  EXPECT_EQ(s, 7);
  TimeToFields(INT32_MAX, &y, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(y, 2038);
  TimeToFields(983801229, &y, &mo, &d, &h, &mi, &s);  // 2001-03-05 14:07:09
  EXPECT_EQ(y, 2001);
  EXPECT_EQ(mo, 3);
  EXPECT_EQ(d, 5);
  EXPECT_EQ(h, 14);
  EXPECT_EQ(mi, 7);
  EXPECT_EQ(s, 9);
}

}  // namespace
