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
