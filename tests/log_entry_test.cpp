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

TEST(LogEntry, ResetSetsTheThreeDefaultsAndClearsTheRest) {
  LogEntry e;
  e.uri = reinterpret_cast<char*>(&e);
  e.year = 7;
  ResetEntry(e);
  EXPECT_EQ(e.hour, 12);
  EXPECT_EQ(e.status, 200);
  EXPECT_EQ(e.bytes, 1024);
  EXPECT_EQ(e.year, 0);
  EXPECT_EQ(e.uri, nullptr);
  EXPECT_EQ(e.session, nullptr);
  EXPECT_EQ(e.line_length, 0);
}

TEST(LogEntry, TimeKeyPacksTheFieldsInOrder) {
  struct Case {
    LogEntry entry;
    uint32_t key;
  };
  const Case cases[] = {
      {Dated(1980, 0, 0, 0, 0, 0), 0u},
      {Dated(2001, 3, 5, 14, 7, 9),
       (21u << 26) + (3u << 22) + (5u << 17) + (14u << 12) + (7u << 6) + 9u},
      {Dated(2043, 12, 31, 23, 59, 59),
       (63u << 26) + (12u << 22) + (31u << 17) + (23u << 12) + (59u << 6) + 59u},
      // Years before 1980 wrap around: 1970 orders like 2034, the year 0 like 1984.
      {Dated(1970, 1, 1, 0, 0, 0), (54u << 26) + (1u << 22) + (1u << 17)},
      {Dated(0, 0, 0, 12, 0, 0), (4u << 26) + (12u << 12)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry.year);
    EXPECT_EQ(MakeTimeKey(c.entry), c.key);
  }
  EXPECT_LT(MakeTimeKey(Dated(2001, 1, 1, 10, 0, 0)), MakeTimeKey(Dated(2001, 1, 1, 10, 0, 1)));
  EXPECT_NE(MakeTimeKey(Dated(2038, 12, 31, 23, 59, 59)), NO_ENTRY);
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
