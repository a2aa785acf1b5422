#include "base/clock.h"

#include <ctime>

#include "platform/system.h"

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
