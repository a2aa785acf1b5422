#include "driver/settings.h"

#include <cstring>

#include "base/text.h"

Settings settings;

void ResetSettings() {
  settings = Settings{};
}

bool SetUserFormat(Settings& target, const char* text) {
  const size_t length = std::strlen(text);
  if (length == 0 || length >= sizeof(target.user_format)) return false;
  std::memcpy(target.user_format, text, length + 1);
  return true;
}

bool SetLevelDigit(Settings& target, const char* text) {
  if (!IsDigit(text[0])) return false;
  target.level = text[0] - '0';
  return true;
}

bool SetMaxOpen(Settings& target, const char* text) {
  int value = 0;
  const char* p = text;
  for (; IsDigit(*p) && value <= MAX_OPEN_MOST; ++p) value = value * 10 + (*p - '0');
  if (p == text || *p != '\0' || value > MAX_OPEN_MOST) return false;
  if (value != 0 && value < MAX_OPEN_LEAST) return false;
  target.max_open = value;
  return true;
}

namespace {

struct DurationUnit {
  const char* name;
  int64_t milliseconds;
};
constexpr DurationUnit kDurationUnits[] = {
    {"", 1000}, {"ms", 1}, {"s", 1000}, {"m", 60 * 1000}, {"h", 3600 * 1000}};

}  // namespace

bool SetLateness(Settings& target, const char* text) {
  // Whole and fractional digits are kept apart so "0.001s" is exact; at most nine of each.
  int64_t whole = 0;
  int64_t fraction = 0;
  int64_t scale = 1;
  const char* p = text;
  int digits = 0;
  for (; IsDigit(*p) && digits < 9; ++p, ++digits) whole = whole * 10 + (*p - '0');
  if (digits == 0 || IsDigit(*p)) return false;
  if (*p == '.') {
    ++p;
    for (int places = 0; IsDigit(*p) && places < 9; ++p, ++places) {
      fraction = fraction * 10 + (*p - '0');
      scale *= 10;
    }
    if (scale == 1 || IsDigit(*p)) return false;
  }
  for (const DurationUnit& unit : kDurationUnits) {
    if (std::strcmp(p, unit.name) != 0) continue;
    const int64_t total = whole * unit.milliseconds + fraction * unit.milliseconds / scale;
    if (total > LATENESS_MOST_MS) return false;
    target.lateness_ms = total;
    return true;
  }
  return false;
}
