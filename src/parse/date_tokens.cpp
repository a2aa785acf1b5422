#include "parse/date_tokens.h"

#include <string_view>

#include "base/check.h"
#include "base/clock.h"
#include "base/text.h"
#include "parse/format_tokens.h"
#include "parse/line_ends.h"
#include "parse/record_fields.h"

// Every reader below takes the cursor by reference, moves it over what it accepts and
// returns false when the text does not fit. A character is only looked at after the one
// before it was found to be something other than NUL, so no read goes past the NUL.

namespace {

constexpr bool IsDateSeparator(char c) {
  return c == ':' || c == '/' || c == '-' || c == '.';
}
constexpr int32_t DigitValue(char c) {
  return c - '0';
}

bool Accept(const char*& p, char c) {
  if (*p != c) return false;
  ++p;
  return true;
}

void SkipOptionalSpace(const char*& p) {
  Accept(p, ' ');
}

bool AcceptDateSeparator(const char*& p) {
  if (!IsDateSeparator(*p)) return false;
  ++p;
  return true;
}

// The next character is neither '.' nor a digit.
bool EndCheck(const char* p) {
  return *p != '.' && !IsDigit(*p);
}

// d[d]: one required digit, optionally a second.
bool ReadShortNumber(const char*& p, int32_t& value) {
  if (!IsDigit(*p)) return false;
  value = DigitValue(*p++);
  if (IsDigit(*p)) value = value * 10 + DigitValue(*p++);
  return true;
}

// Exactly two digits.
bool ReadTwoDigits(const char*& p, int32_t& value) {
  if (!IsDigit(p[0]) || !IsDigit(p[1])) return false;
  value = DigitValue(p[0]) * 10 + DigitValue(p[1]);
  p += 2;
  return true;
}

// Two digits, or four when a third follows; a two-digit year below 70 is in the 2000s.
bool ReadYear(const char*& p, int32_t& year) {
  int32_t high = 0;
  if (!ReadTwoDigits(p, high)) return false;
  if (!IsDigit(*p)) {
    year = high < 70 ? 2000 + high : 1900 + high;
    return true;
  }
  int32_t low = 0;
  if (!ReadTwoDigits(p, low)) return false;
  year = high * 100 + low;
  return true;
}

// A month name: decided by its first letters, always three characters long. The three
// characters must lie on the line, so a short name at the end of a line never pulls the
// line end (or the NUL) into the date.
bool ReadMonthName(const char*& p, int32_t& month) {
  const int found = MonthFromName(p);
  if (found < 0) return false;
  for (int i = 0; i < 3; ++i) {
    if (IsLineEnd(p[i])) return false;
  }
  month = found;
  p += 3;
  return true;
}

// A month name, or d[d] when the part starts with a digit.
bool ReadMonthPart(const char*& p, int32_t& month) {
  return IsDigit(*p) ? ReadShortNumber(p, month) : ReadMonthName(p, month);
}

// Moves past the first of `closers`; fails when a line end comes first.
bool SkipPastCloser(const char*& p, char closer, char other_closer) {
  for (; !IsLineEnd(*p); ++p) {
    if (*p == closer || *p == other_closer) {
      ++p;
      return true;
    }
  }
  return false;
}

// hh:mm:ss with exactly two digits in each part.
bool ReadClockTwoDigits(const char*& p, LogEntry& e) {
  return ReadTwoDigits(p, e.hour) && Accept(p, ':') && ReadTwoDigits(p, e.minute) &&
         Accept(p, ':') && ReadTwoDigits(p, e.second);
}

// h[h] m[m] s[s] with date separators, after an optional space.
bool ReadClock(const char*& p, LogEntry& e) {
  SkipOptionalSpace(p);
  return ReadShortNumber(p, e.hour) && AcceptDateSeparator(p) && ReadShortNumber(p, e.minute) &&
         AcceptDateSeparator(p) && ReadShortNumber(p, e.second);
}

// " +hhmm" or " -hhmm" after a common-log clock, kept as minutes east of UTC.
void ReadClfOffset(const char*& p, LogEntry& e) {
  if (p[0] != ' ' || (p[1] != '+' && p[1] != '-')) return;
  for (int i = 2; i < 6; ++i) {
    if (!IsDigit(p[i])) return;
  }
  const int32_t hours = DigitValue(p[2]) * 10 + DigitValue(p[3]);
  const int32_t minutes = DigitValue(p[4]) * 10 + DigitValue(p[5]);
  if (hours > 23 || minutes > 59) return;
  e.utc_offset = (p[1] == '-' ? -1 : 1) * (hours * 60 + minutes);
  p += 6;
}

// An optional fraction of the second after the clock (".655", HAProxy; ".123456", Apache
// 2.4's error log): its milliseconds, the rest of its digits passed over. Always true.
bool ReadOptionalFraction(const char*& p, LogEntry& e) {
  if (*p != '.' || !IsDigit(p[1])) return true;
  ++p;
  int32_t millisecond = 0;
  for (int digits = 0; digits < 3; ++digits) {
    millisecond = millisecond * 10 + (IsDigit(*p) ? DigitValue(*p++) : 0);
  }
  while (IsDigit(*p)) ++p;
  e.millisecond = millisecond;
  return true;
}

// [Mon, 01/Jan/2001:10:00:00 -0500] or the same in double quotes; the zone is kept.
bool ReadDateClf(const char*& p, LogEntry& e) {
  if (!Accept(p, '[') && !Accept(p, '"')) return false;
  if (IsLetter(p[0]) && IsLetter(p[1]) && IsLetter(p[2]) && p[3] == ',' && p[4] == ' ') {
    p += 5;  // weekday
  }
  if (!(*p == ' ' || IsDigit(*p)) || !IsDigit(p[1])) return false;
  e.day = (*p == ' ' ? 0 : DigitValue(*p) * 10) + DigitValue(p[1]);
  p += 2;
  return Accept(p, '/') && ReadMonthName(p, e.month) && Accept(p, '/') && ReadYear(p, e.year) &&
         Accept(p, ':') && ReadClockTwoDigits(p, e) && ReadOptionalFraction(p, e) &&
         (ReadClfOffset(p, e), true) && SkipPastCloser(p, ']', '"');
}

bool ReadDateMdy(const char*& p, LogEntry& e) {
  SkipOptionalSpace(p);
  return ReadMonthPart(p, e.month) && AcceptDateSeparator(p) && ReadShortNumber(p, e.day) &&
         AcceptDateSeparator(p) && ReadYear(p, e.year) && EndCheck(p);
}

bool ReadDateDmy(const char*& p, LogEntry& e) {
  SkipOptionalSpace(p);
  return ReadShortNumber(p, e.day) && AcceptDateSeparator(p) && ReadMonthPart(p, e.month) &&
         AcceptDateSeparator(p) && ReadYear(p, e.year) && EndCheck(p);
}

bool ReadDateYmd(const char*& p, LogEntry& e) {
  SkipOptionalSpace(p);
  return ReadYear(p, e.year) && AcceptDateSeparator(p) && ReadMonthPart(p, e.month) &&
         AcceptDateSeparator(p) && ReadShortNumber(p, e.day) && EndCheck(p);
}

// Decimal seconds since 1970, broken down into local time; 0 fills nothing.
bool ReadUnixTime(const char*& p, LogEntry& e) {
  if (!IsDigit(*p)) return false;
  const int32_t seconds = ParseSignedDecimal(p);
  while (IsDigit(*p)) ++p;
  if (seconds != 0) {
    TimeToFields(seconds, &e.year, &e.month, &e.day, &e.hour, &e.minute, &e.second);
  }
  return true;
}

// A 24-hour time followed by am or pm; 12 am is hour 0, 12 pm hour 12.
bool ReadTime12(const char*& p, LogEntry& e) {
  if (!ReadClock(p, e)) return false;
  SkipOptionalSpace(p);
  if (e.hour == 12) e.hour = 0;
  if (*p == 'p' || *p == 'P') {
    e.hour += 12;
  } else if (*p != 'a' && *p != 'A') {
    return false;
  }
  ++p;
  return Accept(p, 'm') || Accept(p, 'M');
}

// A space and one digit, or d[d].
bool ReadDayDigits(const char*& p, int32_t& day) {
  if (!Accept(p, ' ')) return ReadShortNumber(p, day);
  if (!IsDigit(*p)) return false;
  day = DigitValue(*p++);
  return true;
}

// The day of an error-log stamp: a space or a digit, optionally followed by a digit, so
// ' 5', '5' and '15' are read; a space alone is day 0 (no day given).
bool ReadApacheDay(const char*& p, int32_t& day) {
  if (*p != ' ' && !IsDigit(*p)) return false;
  day = *p == ' ' ? 0 : DigitValue(*p);
  ++p;
  if (IsDigit(*p)) day = day * 10 + DigitValue(*p++);
  return true;
}

// [Wed Oct 11 14:32:52 2000], or with a fraction of the second as Apache 2.4 writes it
// ([Wed Oct 11 14:32:52.123456 2000]).
bool ReadDateApache(const char*& p, LogEntry& e) {
  if (!Accept(p, '[')) return false;
  if (IsLetter(p[0]) && IsLetter(p[1]) && IsLetter(p[2]) && p[3] == ' ') p += 4;  // weekday
  if (!ReadMonthName(p, e.month) || !Accept(p, ' ')) return false;
  return ReadApacheDay(p, e.day) && Accept(p, ' ') && ReadClockTwoDigits(p, e) &&
         ReadOptionalFraction(p, e) && Accept(p, ' ') && ReadYear(p, e.year) &&
         SkipPastCloser(p, ']', ']');
}

// A whole stamp in one field, bare or in brackets or double quotes, read by `read` from
// the text between them: nginx writes $time_iso8601 and $msec either way.
bool ReadDelimitedStamp(const char*& p, LogEntry& e, bool (*read)(std::string_view, LogEntry&)) {
  const char closer = *p == '[' ? ']' : *p == '"' ? '"' : '\0';
  if (closer != '\0') ++p;
  const char* const start = p;
  while (!IsLineEnd(*p) && *p != closer && (closer != '\0' || !IsBlank(*p))) ++p;
  const std::string_view text(start, static_cast<size_t>(p - start));
  if (closer != '\0' && !Accept(p, closer)) return false;
  return read(text, e);
}

bool ReadWithEndCheck(const char*& p, int32_t& field) {
  return ReadShortNumber(p, field) && EndCheck(p);
}

bool Read(uint8_t token, const char*& p, LogEntry& e) {
  switch (token) {
    case DATE_CLF:
      return ReadDateClf(p, e);
    case DATE_AUTO:
    case DATE_MDY:
      return ReadDateMdy(p, e);
    case DATE_DMY:
      return ReadDateDmy(p, e);
    case DATE_YMD:
      return ReadDateYmd(p, e);
    case UNIX_TIME:
      return ReadUnixTime(p, e);
    case TIME_24:
      return ReadClock(p, e) && EndCheck(p);
    case TIME_12:
      return ReadTime12(p, e);
    case YEAR:
      return ReadYear(p, e.year) && EndCheck(p);
    case MONTH:
      return ReadWithEndCheck(p, e.month);
    case MONTH_NAME:
      return ReadMonthName(p, e.month);
    case DAY:
      return ReadDayDigits(p, e.day) && EndCheck(p);
    case HOUR:
      return ReadWithEndCheck(p, e.hour);
    case MINUTE:
      return ReadWithEndCheck(p, e.minute);
    case SECOND:
      return ReadWithEndCheck(p, e.second);
    case DATE_APACHE:
      return ReadDateApache(p, e);
    case DATE_ISO8601:
      return ReadDelimitedStamp(p, e, ReadIsoTime);
    case UNIX_TIME_UTC:
      return ReadDelimitedStamp(p, e, ReadEpochTime);
    default:
      STITCHER_FAIL("ParseLogs", "Not a date or time token");
  }
}

}  // namespace

bool IsDateToken(uint8_t token) {
  return token <= SECOND || token == DATE_APACHE || token == DATE_ISO8601 || token == UNIX_TIME_UTC;
}

const char* ReadDateToken(uint8_t token, const char* cursor, LogEntry& entry) {
  return Read(token, cursor, entry) ? cursor : nullptr;
}

const char* ReadW3cTime(const char* cursor, LogEntry& entry) {
  const char* p = cursor;
  if (!ReadClock(p, entry)) return nullptr;
  if (*p == '.' && IsDigit(p[1])) {
    ++p;
    while (IsDigit(*p)) ++p;
  }
  return EndCheck(p) ? p : nullptr;
}
