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
