#include "driver/settings.h"

#include <cstring>

#include "base/text.h"

Settings settings;

void ResetSettings() {
  settings = Settings{};
}

std::string AllUserFormats(const Settings& source) {
  std::string text = source.user_format;
  if (!text.empty() && !source.server_formats.empty()) text += '\n';
  return text + source.server_formats;
}

bool AddJsonFieldSetting(Settings& target, std::string_view text, std::string& error) {
  JsonFieldMapping* mapping = target.json_fields.get();
  const bool first = mapping == nullptr;
  if (!AddJsonField(mapping, text, error)) return false;
  if (first) target.json_fields.reset(mapping, FreeJsonFieldMapping);
  return true;
}

bool SetUserFormat(Settings& target, const char* text) {
  const size_t length = std::strlen(text);
  if (length == 0 || length >= sizeof(target.user_format)) return false;
  std::memcpy(target.user_format, text, length + 1);
  return true;
}

bool AddInputZoneRule(Settings& target, const char* text) {
  const char* p = text;
  while (*p != '\0' && !IsBlank(*p)) ++p;
  const std::string pattern(text, static_cast<size_t>(p - text));
  while (IsBlank(*p)) ++p;
  std::string zone = p;
  while (!zone.empty() && IsBlank(zone.back())) zone.pop_back();
  if (pattern.empty() || zone.empty() || zone.find_first_of(" \t") != std::string::npos) {
    return false;
  }
  target.input_zone_rules.push_back({pattern, zone});
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
