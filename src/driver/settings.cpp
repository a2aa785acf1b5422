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

bool SetGap(Settings& target, const char* text) {
  struct Unit {
    char letter;
    int64_t seconds;
  };
  static constexpr Unit kUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
  constexpr int64_t kMost = int64_t{100} * 366 * 86400;
  int64_t total = 0;
  const char* p = text;
  if (*p == '\0') return false;
  while (*p != '\0') {
    int64_t number = 0;
    const char* digits = p;
    for (; IsDigit(*p) && number <= kMost; ++p) number = number * 10 + (*p - '0');
    if (p == digits || number > kMost) return false;
    int64_t unit = 1;
    if (*p != '\0') {
      const Unit* found = nullptr;
      for (const Unit& u : kUnits) {
        if (ToLowerAscii(*p) == u.letter) found = &u;
      }
      if (found == nullptr) return false;
      unit = found->seconds;
      ++p;
    } else if (digits != text) {
      return false;  // "1h30": the last number needs its unit too
    }
    total += number * unit;
    if (total > kMost) return false;
  }
  target.gap_seconds = total;
  return true;
}
