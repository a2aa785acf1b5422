#include "driver/settings.h"
#include "entries/normalize.h"
#include "entries/wild_match.h"

namespace {

// The outcome of one filter list for one text.
enum class ListVerdict { PASS, DROP };

// The first pattern that matches decides: an accepting one ('+' prefix) passes, a
// rejecting one drops. No matching pattern passes.
ListVerdict ApplyList(const FilterPattern* list, const char* field) {
  const char* text = field != nullptr ? field : "";  // an absent field is the empty text
  for (const FilterPattern* node = list; node != nullptr; node = node->next) {
    const bool accepting = node->text[0] == '+';
    const char* pattern = accepting ? node->text + 1 : node->text;
    if (WildMatch(pattern, text)) return accepting ? ListVerdict::PASS : ListVerdict::DROP;
  }
  return ListVerdict::PASS;
}

}  // namespace

bool PassesFilters(const LogEntry& entry) {
  // Most runs have no filters: every entry passes without looking at it.
  if (settings.host_filters == nullptr && settings.request_filters == nullptr &&
      settings.agent_filters == nullptr && settings.server_filters == nullptr &&
      settings.user_filters == nullptr) {
    return true;
  }
  const struct {
    const FilterPattern* list;
    const char* field;
  } lists[] = {
      {settings.host_filters, entry.client_host}, {settings.request_filters, entry.uri},
      {settings.agent_filters, entry.agent},      {settings.server_filters, entry.domain},
      {settings.user_filters, entry.user},
  };
  for (const auto& item : lists) {
    if (ApplyList(item.list, item.field) == ListVerdict::DROP) return false;
  }
  return true;
}
