#pragma once
// Filters: five lists of wildcard patterns, each tested against one field of an accepted
// entry. A pattern that begins with '+' accepts (the '+' is not part of the pattern); any
// other pattern rejects.

#include <string>
#include <string_view>
#include <vector>

#include "entries/log_entry.h"

// ---- The lists ---------------------------------------------------------------------------
inline constexpr size_t MAX_FILTER_LENGTH = 511;  // characters of one pattern, '+' included

// Patterns in the order they were given; the first that matches decides.
struct FilterLists {
  std::vector<std::string> host;     // tested against client_host
  std::vector<std::string> request;  // tested against uri
  std::vector<std::string> agent;    // tested against agent
  std::vector<std::string> server;   // tested against domain
  std::vector<std::string> user;     // tested against user
};

// Appends a pattern at the tail of a list. Text longer than MAX_FILTER_LENGTH is refused
// whole with false, never truncated.
bool AppendFilter(std::vector<std::string>& list, std::string_view text);

// ---- Testing an entry --------------------------------------------------------------------
// Applies every list (an absent field is the empty text); in each list the first matching
// pattern decides, '+' accepting, and no matching pattern passes. false = drop the entry.
bool PassesFilters(const LogEntry& entry, const FilterLists& filters);
