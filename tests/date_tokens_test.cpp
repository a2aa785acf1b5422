#include "parse/date_tokens.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/clock.h"
#include "base/text.h"
#include "entries/log_entry.h"
#include "parse/format_tokens.h"

namespace {

struct Fields {
  int32_t year, month, day, hour, minute, second;
  bool operator==(const Fields&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Fields& f) {
  return out << f.year << '-' << f.month << '-' << f.day << ' ' << f.hour << ':' << f.minute << ':'
             << f.second;
}

Fields FieldsOf(const LogEntry& e) {
  return {e.year, e.month, e.day, e.hour, e.minute, e.second};
}

// Reset values: the hour is 12 when a rule does not read it.
constexpr Fields kNone = {0, 0, 0, 12, 0, 0};

// Copies `text` into a buffer that ends at its NUL, so AddressSanitizer catches any read
// past it.
std::unique_ptr<char[]> Exact(const std::string& text) {
  auto buffer = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
  return buffer;
}

struct Good {
  uint8_t token;
  const char* text;
  Fields fields;
  int consumed;
};

const Good kGood[] = {
    // Bracketed common-log stamps: weekday, leading-space day, two-digit year, quotes.
    {DATE_CLF, "[01/Jan/2001:10:00:00 -0500] \"GET", {2001, 1, 1, 10, 0, 0}, 28},
    {DATE_CLF, "[Mon, 01/Jan/2001:10:00:00 -0500]", {2001, 1, 1, 10, 0, 0}, 33},
    {DATE_CLF, "[ 1/Jan/01:10:00:00]", {2001, 1, 1, 10, 0, 0}, 20},
    {DATE_CLF, "\"05/mar/1999:23:59:58 +0100\" x", {1999, 3, 5, 23, 59, 58}, 28},
    {DATE_CLF, "[05/Mar/1999:23:59:58\"", {1999, 3, 5, 23, 59, 58}, 22},
    // Month-first dates (DATE_AUTO reads the same way).
    {DATE_MDY, "3/5/01 x", {2001, 3, 5, 12, 0, 0}, 6},
    {DATE_AUTO, "3/5/01", {2001, 3, 5, 12, 0, 0}, 6},
    {DATE_AUTO, " 12-31-1999", {1999, 12, 31, 12, 0, 0}, 11},
    {DATE_MDY, "Mar.5.2001", {2001, 3, 5, 12, 0, 0}, 10},
    // Day-first and year-first dates, all four separators.
    {DATE_DMY, "5.3.2001", {2001, 3, 5, 12, 0, 0}, 8},
    {DATE_DMY, "05-Mar-2001", {2001, 3, 5, 12, 0, 0}, 11},
    {DATE_DMY, "05:03/2001 ", {2001, 3, 5, 12, 0, 0}, 10},
    {DATE_YMD, "2001-03-05", {2001, 3, 5, 12, 0, 0}, 10},
    {DATE_YMD, " 01/Mar/5\t", {2001, 3, 5, 12, 0, 0}, 9},
    // The year rule: pivot 70, four digits when a third follows.
    {YEAR, "69", {2069, 0, 0, 12, 0, 0}, 2},
    {YEAR, "70", {1970, 0, 0, 12, 0, 0}, 2},
    {YEAR, "99 ", {1999, 0, 0, 12, 0, 0}, 2},
    {YEAR, "00", {2000, 0, 0, 12, 0, 0}, 2},
    {YEAR, "2001", {2001, 0, 0, 12, 0, 0}, 4},
    // Times.
    {TIME_24, "10:20:30 x", {0, 0, 0, 10, 20, 30}, 8},
    {TIME_24, " 1.2.3", {0, 0, 0, 1, 2, 3}, 6},
    {TIME_24, "24:00:00", {0, 0, 0, 24, 0, 0}, 8},  // hour 24 is mended by the parser
    {TIME_12, "12:00:00 am", {0, 0, 0, 0, 0, 0}, 11},
    {TIME_12, "12:30:00 pm", {0, 0, 0, 12, 30, 0}, 11},
    {TIME_12, "1:05:09 PM", {0, 0, 0, 13, 5, 9}, 10},
    {TIME_12, "11:59:59AM x", {0, 0, 0, 11, 59, 59}, 10},
    // Single fields.
    {MONTH, "12 ", {0, 12, 0, 12, 0, 0}, 2},
    {MONTH_NAME, "Sep 21", {0, 9, 0, 12, 0, 0}, 3},
    {MONTH_NAME, "Dxx5", {0, 12, 0, 12, 0, 0}, 3},  // no end check after a month name
    {DAY, " 5 10:00", {0, 0, 5, 12, 0, 0}, 2},
    {DAY, "5", {0, 0, 5, 12, 0, 0}, 1},
    {DAY, "31", {0, 0, 31, 12, 0, 0}, 2},
    {HOUR, "7:", {0, 0, 0, 7, 0, 0}, 1},
    {MINUTE, "59", {0, 0, 0, 12, 59, 0}, 2},
    {SECOND, "08", {0, 0, 0, 12, 0, 8}, 2},
    // Error-log stamps: the day as '15', ' 5' or '5'.
    {DATE_APACHE, "[Wed Oct 11 14:32:52 2000] [error]", {2000, 10, 11, 14, 32, 52}, 26},
    {DATE_APACHE, "[Wed Oct  5 08:00:00 00]", {2000, 10, 5, 8, 0, 0}, 24},
    {DATE_APACHE, "[Wed Oct 5 08:00:00 1999 x]", {1999, 10, 5, 8, 0, 0}, 27},
    // A lone space in the day's place is day 0 (no day given); the line stays a stamp.
    {DATE_APACHE, "[Wed Oct   14:32:52 2000]", {2000, 10, 0, 14, 32, 52}, 25},
    // A zero Unix time fills nothing but is still read.
    {UNIX_TIME, "0 x", kNone, 1},
    // Whole stamps in one field, bare or in brackets or double quotes (nginx's
    // $time_iso8601 and $msec).
    {DATE_ISO8601, "2024-03-05T10:00:00+01:00 x", {2024, 3, 5, 10, 0, 0}, 25},
    {DATE_ISO8601, "[2024-03-05T10:00:00.123Z] x", {2024, 3, 5, 10, 0, 0}, 26},
    {DATE_ISO8601, "\"2024-03-05T10:00:00-08:00\"", {2024, 3, 5, 10, 0, 0}, 27},
    {UNIX_TIME_UTC, "1709632800.123 x", {2024, 3, 5, 10, 0, 0}, 14},
    {UNIX_TIME_UTC, "[1709632800]", {2024, 3, 5, 10, 0, 0}, 12},
};

TEST(ReadDateToken, ReadsFieldsAndStopsAfterThem) {
  for (const Good& c : kGood) {
    SCOPED_TRACE(std::string(TokenName(c.token)) + " \"" + c.text + "\"");
    auto text = Exact(c.text);
    LogEntry entry;
    ResetEntry(entry);
    const char* end = ReadDateToken(c.token, text.get(), entry);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end - text.get(), c.consumed);
    EXPECT_EQ(FieldsOf(entry), c.fields);
  }
}

struct Bad {
  uint8_t token;
  const char* text;
};

const Bad kBad[] = {
    {DATE_CLF, "01/Jan/2001:10:00:00"},          // no opener
    {DATE_CLF, "[01/Jan/2001:10:00:00 -0500"},   // no closer before the end
    {DATE_CLF, "[01/Jan/2001:10:00:00 -05\n]"},  // no closer before the line end
    {DATE_CLF, "[1/Jan/2001:10:00:00]"},         // day needs two characters
    {DATE_CLF, "[01/Jxn/2001:10:00:00]"},
    {DATE_CLF, "[01/Jan/201:10:00:00]"},  // a third year digit needs a fourth
    {DATE_CLF, "[01/Jan/2001:1:00:00]"},  // two-digit hour required
    {DATE_CLF, "[01/Jan/2001 10:00:00]"},
    {DATE_CLF, "[Mon,01/Jan/2001:10:00:00]"},  // weekday needs its comma and space
    {DATE_MDY, "3/5/2001.5"},                  // end check
    {DATE_MDY, "3/5/012"},
    {DATE_MDY, "3 5 01"},    // a space is no date separator
    {DATE_MDY, "  3/5/01"},  // only one leading space
    {DATE_MDY, "Xyz/5/01"},
    {DATE_DMY, "5.3.20011"},
    {DATE_YMD, "2001-03-"},
    {DATE_YMD, "2001-03-051"},  // a three-digit day fails the end check
    {YEAR, "201"},              // three-digit year
    {YEAR, "2"},
    {YEAR, "20011"},
    {TIME_24, "10:00:00.250"},
    {TIME_24, "10:00"},
    {TIME_24, "123:00:00"},
    {TIME_12, "10:00:00"},
    {TIME_12, "10:00:00 xm"},
    {TIME_12, "10:00:00 a"},
    {TIME_12, "10:00:00  am"},  // only one space before am/pm
    {HOUR, "12.5"},
    {HOUR, "123"},
    {HOUR, "-1"},
    {MONTH, ""},
    {MONTH_NAME, "Juk"},
    {MONTH_NAME, "D"},  // a name is three characters on the line
    {MONTH_NAME, "De\r\n"},
    {DAY, " 15"},  // the space form has one digit
    {DAY, "  5"},
    {DAY, "123"},
    {DATE_APACHE, "[Oct 11 14:32:52 2000]"},  // month taken for a weekday
    {DATE_APACHE, "Wed Oct 11 14:32:52 2000]"},
    {DATE_APACHE, "[Wed Oct 11 14:32:52 2000"},
    {DATE_APACHE, "[Wed Oct 11 14:32:52 2000\r]"},
    {DATE_APACHE, "[Wed Oct 11 14:32 2000]"},
    {DATE_APACHE, "[Wed Oct  15 14:32:52 2000]"},
    {DATE_APACHE, "[Wed Oct x5 14:32:52 2000]"},  // a day starts with a space or a digit
    {UNIX_TIME, "-5"},
    {UNIX_TIME, " 5"},
    {UNIX_TIME, ""},
    {DATE_ISO8601, "2024-03-05 10:00:00+01:00"},   // a blank ends a bare stamp
    {DATE_ISO8601, "[2024-03-05T10:00:00+01:00"},  // no closer
    {DATE_ISO8601, "2024-03-05T10:00:00+1"},       // no offset
    {DATE_ISO8601, "05/Mar/2024:10:00:00"},
    {DATE_ISO8601, "[]"},
    {UNIX_TIME_UTC, "-5"},
    {UNIX_TIME_UTC, "17096x"},
    {UNIX_TIME_UTC, "\"1709632800"},
    {UNIX_TIME_UTC, "1709632800.1.2"},
    {UNIX_TIME_UTC, ""},
};

TEST(ReadDateToken, RejectsTextThatDoesNotFit) {
  for (const Bad& c : kBad) {
    SCOPED_TRACE(std::string(TokenName(c.token)) + " \"" + c.text + "\"");
    auto text = Exact(c.text);
    LogEntry entry;
    ResetEntry(entry);
    EXPECT_EQ(ReadDateToken(c.token, text.get(), entry), nullptr);
  }
}

// Every shortened form of a good text either fails or stays within the text. The exact
// buffers make AddressSanitizer report any read past the NUL.
TEST(ReadDateToken, TruncatedTextNeverReadsPastTheNul) {
  for (const Good& c : kGood) {
    const std::string full = c.text;
    for (size_t length = 0; length < full.size(); ++length) {
      const std::string part = full.substr(0, length);
      SCOPED_TRACE(std::string(TokenName(c.token)) + " \"" + part + "\"");
      auto text = Exact(part);
      LogEntry entry;
      ResetEntry(entry);
      const char* end = ReadDateToken(c.token, text.get(), entry);
      if (end != nullptr) {
        EXPECT_LE(end - text.get(), static_cast<ptrdiff_t>(length));
      }
    }
  }
}

// W3C extended times may carry a fraction of a second; it is dropped, not rounded.
TEST(ReadW3cTime, AcceptsAFractionOfASecond) {
  struct Case {
    const char* text;
    int consumed;  // -1: does not fit
    Fields fields;
  };
  const Case cases[] = {
      {"00:00:07.315 WEB01", 12, {0, 0, 0, 0, 0, 7}},
      {"23:59:59.9999999", 16, {0, 0, 0, 23, 59, 59}},
      {"10:00:07 x", 8, {0, 0, 0, 10, 0, 7}},
      {"10:00:07.", -1, {}},
      {"10:00:07.5.1", -1, {}},
      {"10:00:075", -1, {}},
      {"10:00", -1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    // Every shortened text is read too, in an exact buffer: nothing past the NUL is read.
    const std::string full = c.text;
    for (size_t length = 0; length < full.size(); ++length) {
      auto part = Exact(full.substr(0, length));
      LogEntry entry;
      ResetEntry(entry);
      const char* end = ReadW3cTime(part.get(), entry);
      if (end != nullptr) {
        EXPECT_LE(end - part.get(), static_cast<ptrdiff_t>(length));
      }
    }
    auto text = Exact(full);
    LogEntry entry;
    ResetEntry(entry);
    const char* end = ReadW3cTime(text.get(), entry);
    if (c.consumed < 0) {
      EXPECT_EQ(end, nullptr);
      continue;
    }
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end - text.get(), c.consumed);
    EXPECT_EQ(FieldsOf(entry), c.fields);
  }
}

TEST(ReadDateToken, UnixTimeIsBrokenDownIntoLocalTime) {
  for (int32_t seconds : {1, 978343200, 2147310847}) {
    SCOPED_TRACE(seconds);
    const std::string digits = std::to_string(seconds);
    auto text = Exact(digits + " rest");
    LogEntry entry;
    ResetEntry(entry);
    const char* end = ReadDateToken(UNIX_TIME, text.get(), entry);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end - text.get(), static_cast<ptrdiff_t>(digits.size()));
    Fields expected{};
    TimeToFields(seconds, &expected.year, &expected.month, &expected.day, &expected.hour,
                 &expected.minute, &expected.second);
    EXPECT_EQ(FieldsOf(entry), expected);
    EXPECT_GE(entry.year, 1970);
  }
}

TEST(ReadDateToken, OnlyTheFieldsItReadsChange) {
  LogEntry entry;
  ResetEntry(entry);
  entry.year = 1999;
  entry.day = 7;
  auto text = Exact("10:20:30");
  ASSERT_NE(ReadDateToken(TIME_24, text.get(), entry), nullptr);
  EXPECT_EQ(FieldsOf(entry), (Fields{1999, 0, 7, 10, 20, 30}));
  EXPECT_EQ(entry.status, NO_NUMBER);
  EXPECT_EQ(entry.bytes, NO_NUMBER);
}

TEST(IsDateToken, EighteenKinds) {
  for (int token = 0; token < TOKEN_KIND_COUNT; ++token) {
    SCOPED_TRACE(TokenName(static_cast<uint8_t>(token)));
    EXPECT_EQ(IsDateToken(static_cast<uint8_t>(token)), token <= SECOND || token == DATE_APACHE ||
                                                            token == DATE_ISO8601 ||
                                                            token == UNIX_TIME_UTC);
  }
}

}  // namespace

// Whole ISO 8601 and epoch stamps keep the fraction of the second and their zone; an epoch
// stamp is UTC.
TEST(ReadDateToken, WholeStampsKeepMillisecondsAndZone) {
  struct Case {
    uint8_t token;
    const char* text;
    int32_t millisecond;
    int32_t offset;
  };
  const Case cases[] = {
      {DATE_ISO8601, "2024-03-05T10:00:00+01:00", 0, 60},
      {DATE_ISO8601, "2024-03-05T10:00:00.5-08:00", 500, -480},
      {DATE_ISO8601, "[2024-03-05T10:00:00.123456Z]", 123, 0},
      {DATE_ISO8601, "2024-03-05T10:00:00", 0, NO_OFFSET},
      {UNIX_TIME_UTC, "1709632800.123", 123, 0},
      {UNIX_TIME_UTC, "\"1709632800\"", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto text = Exact(c.text);
    LogEntry entry;
    ResetEntry(entry);
    ASSERT_NE(ReadDateToken(c.token, text.get(), entry), nullptr);
    EXPECT_EQ(entry.millisecond, c.millisecond);
    EXPECT_EQ(entry.utc_offset, c.offset);
  }
}

TEST(ReadDateToken, CommonLogStampKeepsItsUtcOffset) {
  struct Case {
    const char* text;
    int32_t offset;
  };
  const Case cases[] = {
      {"[01/Jan/2001:10:00:00 -0500]", -300},      {"[01/Jan/2001:10:00:00 +0100]", 60},
      {"[01/Jan/2001:10:00:00 +0545]", 345},  // Nepal: minutes count too
      {"[01/Jan/2001:10:00:00 -0000]", 0},         {"[01/Jan/2001:10:00:00 +1400]", 840},
      {"[01/Jan/2001:10:00:00]", NO_OFFSET},        // no zone written
      {"[01/Jan/2001:10:00:00 -05]", NO_OFFSET},    // too short to be an offset
      {"[01/Jan/2001:10:00:00 +0560]", NO_OFFSET},  // not a clock offset
      {"[01/Jan/2001:10:00:00 EST]", NO_OFFSET},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto text = Exact(c.text);
    LogEntry entry;
    ResetEntry(entry);
    ASSERT_NE(ReadDateToken(DATE_CLF, text.get(), entry), nullptr);
    EXPECT_EQ(entry.utc_offset, c.offset);
    EXPECT_EQ(entry.hour, 10);
  }
}
