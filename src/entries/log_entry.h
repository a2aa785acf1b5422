#pragma once
// The common record every parsed log line becomes, and the time key that orders it.

#include <cstdint>

// One parsed log line. Integers are signed 32-bit, byte counts 64-bit; every text field is null or
// points to NUL-terminated text owned elsewhere (normally the input's window), which stays
// unchanged until the entry has been written.
struct LogEntry {
  int32_t line_length;  // bytes of the input this line occupies, line end included
  char* client_host;
  int32_t year;   // full year; 0 = not given
  int32_t month;  // 1..12; 0 = not given
  int32_t day;    // 1..31; 0 = not given
  int32_t hour;
  int32_t minute;
  int32_t second;
  char* uri;
  char* query;  // without its leading '?'
  int32_t status;
  int64_t bytes;          // a download of several gigabytes fits
  int32_t transfer_time;  // in milliseconds, so a server's own milliseconds stay exact
  char* referer;
  char* agent;
  char* user;
  char* method;
  char* protocol;  // as read; null when the line has none
  char* domain;    // the virtual host
  char* server;    // parsed, never written out
  char* cookie;
  char* session;       // parsed, never written out
  int32_t utc_offset;  // minutes east of UTC as the input gave it; NO_OFFSET when not given
};

// The UTC offset of an entry whose input carries no zone.
inline constexpr int32_t NO_OFFSET = INT32_MIN;

// The key by which entries are merged: a smaller key is written first. 64 bits, so every
// date from the year 0 (not given) to 9999 has its own place in the order.
using TimeKey = uint64_t;

// Key of an input that has no pending entry (finished or never opened). No valid entry
// reaches it.
inline constexpr TimeKey NO_ENTRY = UINT64_MAX;

// A status, byte count or transfer time the line does not have; any negative value counts
// as absent and prints as "-".
inline constexpr int32_t NO_NUMBER = -1;

// Clears every field, then sets the default hour 12 (ordering needs a time), marks
// status, bytes and transfer time absent (NO_NUMBER) and the UTC offset unknown.
void ResetEntry(LogEntry& entry);

// The packed date and time by which entries are merged:
// year<<26 + month<<22 + day<<17 + hour<<12 + minute<<6 + second. Every field of an
// accepted entry is small and non-negative, so keys order the dates exactly; a negative
// field counts as 0.
TimeKey MakeTimeKey(const LogEntry& entry);
