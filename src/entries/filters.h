#pragma once
// Filters: five lists of wildcard patterns, each tested against one field of an accepted
// entry. A pattern that begins with '+' accepts (the '+' is not part of the pattern); any
// other pattern rejects. And a time window that keeps only the entries written within it.

#include <cstdint>
#include <optional>
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

// ---- The time window -----------------------------------------------------------------------
// A date and time as written in the log (no time zone applied), packed so that a later time
// is a larger number: year, month, day, hour, minute, second from the most significant end.
using ClockTime = int64_t;

// The clock time of an entry's date and time fields.
ClockTime EntryClockTime(const LogEntry& entry);

// The clock time as seconds since 1970 as if its clock were UTC.
int64_t ClockTimeSeconds(ClockTime time);

// Reads an ISO 8601 local date and time: "2024-03-01", "2024-03-01T06:30" or
// "2024-03-01T06:30:15" (a space may stand for the 'T'). A date alone means its midnight.
// False for anything else, including a real date that does not exist (2023-02-29), a time
// zone suffix and fractions of a second.
bool ParseIsoTime(std::string_view text, ClockTime& out);

// Entries from `since` (inclusive) up to `until` (exclusive, so consecutive windows never
// share an entry); an absent bound does not limit.
struct TimeWindow {
  std::optional<ClockTime> since;
  std::optional<ClockTime> until;
};

// True when the entry's clock time lies inside the window.
bool InTimeWindow(const LogEntry& entry, const TimeWindow& window);
