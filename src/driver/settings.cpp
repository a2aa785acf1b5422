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

bool SetMemoryBudget(Settings& target, const char* text) {
  int64_t value = 0;
  const char* p = text;
  for (; IsDigit(*p) && value <= MEMORY_MOST; ++p) value = value * 10 + (*p - '0');
  if (p == text) return false;
  int shift = 0;
  switch (ToLowerAscii(*p)) {
    case 'k':
      shift = 10;
      break;
    case 'm':
      shift = 20;
      break;
    case 'g':
      shift = 30;
      break;
    default:
      break;
  }
  if (shift != 0) ++p;
  if (*p != '\0' || value > (MEMORY_MOST >> shift)) return false;
  value <<= shift;
  if (value < MEMORY_LEAST) return false;
  target.memory_budget = value;
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

bool SetSortWindow(Settings& target, const char* text) {
  struct Unit {
    char letter;
    int64_t seconds;
  };
  constexpr Unit kUnits[] = {{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};
  int64_t total = 0;
  const char* p = text;
  if (*p == '\0') return false;
  while (*p != '\0') {
    int64_t number = 0;
    const char* digits = p;
    for (; IsDigit(*p) && number <= SORT_WINDOW_MOST; ++p) number = number * 10 + (*p - '0');
    if (p == digits || number > SORT_WINDOW_MOST) return false;
    int64_t unit = 0;
    for (const Unit& u : kUnits) {
      if (*p == u.letter) unit = u.seconds;
    }
    if (unit == 0 && *p != '\0') return false;  // an unknown unit
    if (unit == 0) unit = 1;                    // a bare number at the end: seconds
    if (*p != '\0') ++p;
    total += number * unit;
    if (total > SORT_WINDOW_MOST) return false;
  }
  target.sort_window = total;
  return true;
}

bool SetSortMode(Settings& target, const char* text) {
  if (StartsWithNoCase("full", text) && text[4] == '\0') {
    target.sort_full = true;
  } else if (StartsWithNoCase("window", text) && text[6] == '\0') {
    target.sort_full = false;
  } else {
    return false;
  }
  return true;
}
