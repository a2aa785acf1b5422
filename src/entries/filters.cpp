#include "entries/filters.h"

#include "base/text.h"
#include "base/time_zone.h"
#include "entries/wild_match.h"

namespace {

// Reads exactly `digits` decimal digits at the front of `text` and removes them.
bool TakeNumber(std::string_view& text, size_t digits, int& value) {
  if (text.size() < digits) return false;
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    if (!IsDigit(text[i])) return false;
    value = value * 10 + (text[i] - '0');
  }
  text.remove_prefix(digits);
  return true;
}

// Removes `c` from the front of `text`.
bool TakeChar(std::string_view& text, char c) {
  if (text.empty() || text[0] != c) return false;
  text.remove_prefix(1);
  return true;
}

// The outcome of one filter list for one text.
enum class ListVerdict { PASS, DROP };

// The first pattern that matches decides: an accepting one ('+' prefix) passes, a
// rejecting one drops. No matching pattern passes.
ListVerdict ApplyList(const std::vector<std::string>& list, const char* field) {
  const char* text = field != nullptr ? field : "";  // an absent field is the empty text
  for (const std::string& pattern : list) {
    const bool accepting = !pattern.empty() && pattern[0] == '+';
    if (WildMatch(pattern.c_str() + (accepting ? 1 : 0), text)) {
      return accepting ? ListVerdict::PASS : ListVerdict::DROP;
    }
  }
  return ListVerdict::PASS;
}

}  // namespace

bool AppendFilter(std::vector<std::string>& list, std::string_view text) {
  if (text.size() > MAX_FILTER_LENGTH) return false;
  list.emplace_back(text);
  return true;
}

bool PassesFilters(const LogEntry& entry, const FilterLists& filters) {
  // Most runs have no filters: every entry passes without looking at it.
  if (filters.host.empty() && filters.request.empty() && filters.agent.empty() &&
      filters.server.empty() && filters.user.empty()) {
    return true;
  }
  const struct {
    const std::vector<std::string>& list;
    const char* field;
  } lists[] = {
      {filters.host, entry.client_host.text}, {filters.request, entry.uri.text},
      {filters.agent, entry.agent.text},      {filters.server, entry.domain.text},
      {filters.user, entry.user.text},
  };
  for (const auto& item : lists) {
    if (ApplyList(item.list, item.field) == ListVerdict::DROP) return false;
  }
  return true;
}

ClockTime EntryClockTime(const LogEntry& entry) {
  return PackDateTime(entry.year, entry.month, entry.day, entry.hour, entry.minute, entry.second);
}

int64_t ClockTimeSeconds(ClockTime time) {
  const int64_t second = time % 64;
  const int64_t minute = time / 64 % 64;
  const int64_t hour = time / (64 * 64) % 32;
  const int64_t day = time / (64 * 64 * 32) % 32;
  const int64_t month = time / (64 * 64 * 32 * 32) % 16;
  const int64_t year = time / (64 * 64 * 32 * 32 * 16);
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

bool ParseIsoTime(std::string_view text, ClockTime& out) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!TakeNumber(text, 4, year) || !TakeChar(text, '-') || !TakeNumber(text, 2, month) ||
      !TakeChar(text, '-') || !TakeNumber(text, 2, day)) {
    return false;
  }
  if (!text.empty()) {
    if (!TakeChar(text, 'T') && !TakeChar(text, ' ')) return false;
    if (!TakeNumber(text, 2, hour) || !TakeChar(text, ':') || !TakeNumber(text, 2, minute))
      return false;
    if (!text.empty() && (!TakeChar(text, ':') || !TakeNumber(text, 2, second))) return false;
    if (!text.empty()) return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  out = PackDateTime(year, month, day, hour, minute, second);
  return true;
}

bool InTimeWindow(const LogEntry& entry, const TimeWindow& window) {
  if (!window.since && !window.until) return true;
  const ClockTime time = EntryClockTime(entry);
  if (window.since && time < *window.since) return false;
  if (window.until && time >= *window.until) return false;
  return true;
}
