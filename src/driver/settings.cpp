#include "driver/settings.h"

#include <cstring>

#include "base/text.h"

Settings settings;

bool ReadDuration(const char* text, int64_t most, int64_t& seconds) {
  struct Unit {
    char letter;
    int64_t seconds;
  };
  constexpr Unit kUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
  int64_t total = 0;
  const char* p = text;
  if (*p == '\0') return false;
  while (*p != '\0') {
    int64_t number = 0;
    const char* digits = p;
    for (; IsDigit(*p) && number <= most; ++p) number = number * 10 + (*p - '0');
    if (p == digits || number > most) return false;
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
    if (total > most) return false;
  }
  seconds = total;
  return true;
}

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
  return ReadDuration(text, SORT_WINDOW_MOST, target.sort_window);
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

bool SetGap(Settings& target, const char* text) {
  constexpr int64_t kMost = int64_t{100} * 366 * 86400;
  return ReadDuration(text, kMost, target.gap_seconds);
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
