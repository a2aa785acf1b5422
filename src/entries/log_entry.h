#pragma once
// The common record every parsed log line becomes, and the time key that orders it.

#include <cstdint>

// A text field of an entry: null (absent), or `length` bytes at `text` with a NUL right behind
// them. The text is owned elsewhere (normally the input's window) and stays unchanged until
// the entry has been written. The length travels with the pointer, set where the field is cut
// and kept right by every rewrite, so that no later stage measures the field again.
struct EntryText {
  char* text;
  int32_t length;

  friend bool operator==(const EntryText&, const EntryText&) = default;
};

// The field for NUL-terminated `text` (null: absent), measured once. For entries built
// outside the parser, which knows each length where it cuts the field.
EntryText TextOf(char* text);

// One parsed log line. Integers are signed 32-bit, byte counts 64-bit.
struct LogEntry {
  int32_t line_length;  // bytes of the input this line occupies, line end included
  EntryText client_host;
  int32_t year;   // full year; 0 = not given
  int32_t month;  // 1..12; 0 = not given
  int32_t day;    // 1..31; 0 = not given
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t millisecond;  // 0..999: the fraction of the second where the input gives one, else 0
  EntryText uri;
  EntryText query;  // without its leading '?'
  int32_t status;
  int64_t bytes;          // a download of several gigabytes fits
  int32_t transfer_time;  // in milliseconds, so a server's own milliseconds stay exact
  EntryText referer;
  EntryText agent;
  EntryText user;
  EntryText method;
  EntryText protocol;  // as read; null when the line has none
  EntryText domain;    // the virtual host
  EntryText server;    // parsed, never written out
  EntryText cookie;
  EntryText session;        // parsed, never written out
  EntryText forwarded_for;  // the X-Forwarded-For list as the input gave it; null when none
  EntryText source;         // where the entry came from (--source); null when not asked for
  int32_t utc_offset;       // minutes east of UTC as the input gave it; NO_OFFSET when not given
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

// The two halves of ResetEntry: the numbers, and the text fields (all absent). A parser that
// sets every text field of an entry it accepts resets only the numbers for each line.
void ResetEntryNumbers(LogEntry& entry);
void ClearEntryTexts(LogEntry& entry);

// A date and time packed so that a later one is a larger number:
// year<<26 + month<<22 + day<<17 + hour<<12 + minute<<6 + second.
int64_t PackDateTime(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                     int64_t second);

// The packed date and time by which entries are merged:
// (year<<26 + month<<22 + day<<17 + hour<<12 + minute<<6 + second) << 10 + millisecond.
// Every field of an accepted entry is small and non-negative, so keys order the dates
// exactly, to the millisecond where the input gives one; a negative field counts as 0 and a
// millisecond above 999 as 999.
TimeKey MakeTimeKey(const LogEntry& entry);

// The key of a date and time packed by PackDateTime, at `millisecond` (0..999) of its second.
constexpr TimeKey ClockTimeKey(int64_t packed, int32_t millisecond = 0) {
  return (static_cast<TimeKey>(packed) << 10) + static_cast<TimeKey>(millisecond);
}
