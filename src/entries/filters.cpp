#include "entries/filters.h"

#include "entries/wild_match.h"

namespace {

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
      {filters.host, entry.client_host}, {filters.request, entry.uri}, {filters.agent, entry.agent},
      {filters.server, entry.domain},    {filters.user, entry.user},
  };
  for (const auto& item : lists) {
    if (ApplyList(item.list, item.field) == ListVerdict::DROP) return false;
  }
  return true;
}
