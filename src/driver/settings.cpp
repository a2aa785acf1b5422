#include "driver/settings.h"

#include <cstring>

Settings settings;

bool AppendFilter(FilterPattern*& list, const char* text) {
  const size_t length = std::strlen(text);
  if (length >= sizeof(FilterPattern::text)) return false;
  auto* node = new FilterPattern{};
  std::memcpy(node->text, text, length + 1);
  FilterPattern** tail = &list;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = node;
  return true;
}

namespace {

void FreeFilters(FilterPattern*& list) {
  while (list != nullptr) {
    FilterPattern* next = list->next;
    delete list;
    list = next;
  }
}

}  // namespace

void ResetSettings() {
  FreeFilters(settings.host_filters);
  FreeFilters(settings.request_filters);
  FreeFilters(settings.agent_filters);
  FreeFilters(settings.server_filters);
  FreeFilters(settings.user_filters);
  settings = Settings{};
}
