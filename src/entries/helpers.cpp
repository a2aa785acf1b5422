#include "entries/helpers.h"

#include <ctime>

#include "platform/system.h"

bool StartsWithNoCase(const char* prefix, const char* text) {
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (ToLowerAscii(*prefix) != ToLowerAscii(*text)) return false;
  }
  return true;
}

int32_t ParseSignedDecimal(const char* text) {
  bool negative = false;
  if (*text == '-') {
    negative = true;
    ++text;
  }
  uint32_t value = 0;  // unsigned so that overflow wraps instead of being undefined
  for (; IsDigit(*text); ++text) value = value * 10u + static_cast<uint32_t>(*text - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);  // two's complement conversion (C++20)
}

void UpperCaseInPlace(char* text) {
  for (; *text != '\0'; ++text) *text = ToUpperAscii(*text);
}

int32_t TimeNow() {
  return static_cast<int32_t>(std::time(nullptr));
}

void TimeToFields(int32_t seconds, int32_t* year, int32_t* month, int32_t* day, int32_t* hour,
                  int32_t* minute, int32_t* second) {
  constexpr int32_t kLatest = 2147310847;  // 2038-01-17 03:14:07 UTC
  if (seconds < 0 || seconds > kLatest) seconds = kLatest;

  std::tm fields{};
  bool converted = LocalTime(seconds, fields);
  for (int retry = 0; !converted && retry < 2; ++retry) {
    SleepMilliseconds(1);
    converted = LocalTime(seconds, fields);
  }
  if (!converted) fields = std::tm{};

  if (year != nullptr) *year = fields.tm_year + 1900;
  if (month != nullptr) *month = fields.tm_mon + 1;
  if (day != nullptr) *day = fields.tm_mday;
  if (hour != nullptr) *hour = fields.tm_hour;
  if (minute != nullptr) *minute = fields.tm_min;
  if (second != nullptr) *second = fields.tm_sec;
}
