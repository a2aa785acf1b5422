#pragma once
// Reading the pieces of a record that dialects outside the token templates share (JSON
// lines, cloud and proxy logs): fixed-width digits, ISO 8601, common-log and epoch times,
// and request lines and addresses cut in place.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "entries/log_entry.h"

// Digits of a fixed count at `at`; -1 when one is no digit or the text ends first.
int32_t Digits(std::string_view text, size_t at, size_t count);

// ".123456" (or ",123") at `*at` -> 123, moving past every digit of the fraction; 0 and no
// move when no fraction stands there.
int32_t FractionMilliseconds(std::string_view text, size_t* at);

// "Z", "+02:00", "+0200" or nothing (NO_OFFSET) at `at` to the end of `text`; false for
// anything else.
bool ReadOffset(std::string_view text, size_t at, int32_t* offset);

// ISO 8601: "2024-03-31T03:00:05.123+02:00", a space for the 'T' too.
bool ReadIsoTime(std::string_view text, LogEntry& e);

// Common log format: "10/Oct/2000:13:55:36 -0700", a fraction of the second allowed.
bool ReadClfTime(std::string_view text, LogEntry& e);

// Seconds since 1970 with an optional fraction: the UTC date and time.
bool ReadEpochTime(std::string_view text, LogEntry& e);

// Whether the date and time are a real stamp before `year_limit`.
bool DateIsValid(const LogEntry& e, int32_t year_limit);

EntryText TextAt(char* text, size_t length);

// Splits "uri?query" in place; the query is set unless an explicit one was given.
void SplitUri(EntryText text, LogEntry& e, bool query_given);

// "METHOD uri PROTOCOL" in place: the first word is the method, a last word starting
// "HTTP/" the protocol, everything between the uri. Fields already set are kept.
void SplitRequest(EntryText request, LogEntry& e, bool query_given);

// Drops the ":port" of an IPv4 address or a bracketed IPv6 address, in place.
EntryText WithoutPort(EntryText text);
