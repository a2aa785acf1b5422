#pragma once
// Entries across time zones: the instant an entry's stamp stands for, and the entry's stamp
// rewritten as the clock of another zone. Each input keeps two small memos of the offsets
// it met; entries of a run share their offsets, so nearly every entry is converted with a
// comparison or two and no zone lookup.

#include <cstdint>

#include "base/time_zone.h"
#include "entries/log_entry.h"

// ---- Memos of one input -------------------------------------------------------------------
// An offset in minutes east of UTC that holds for every second in [begin, end); empty at
// first.
struct OffsetMemo {
  int64_t begin = 0;
  int64_t end = 0;
  int32_t minutes = 0;
};

// The zone's offset (minutes) at a local clock time, read as seconds since 1970 as if the
// clock were UTC. A time that daylight saving repeats or skips takes the offset before the
// change (see OffsetAtLocalTime).
int32_t LocalOffsetMinutes(const TimeZone& zone, int64_t local, OffsetMemo& memo);

// The zone's offset (minutes) at an instant (seconds since 1970, UTC).
int32_t InstantOffsetMinutes(const TimeZone& zone, int64_t instant, OffsetMemo& memo);

// ---- Entries -------------------------------------------------------------------------------

// True when the entry has a whole date (year, month and day given).
bool EntryHasDate(const LogEntry& entry);

// The entry's date and time as seconds since 1970 as if its clock were UTC; a month or day
// not given counts as the first.
int64_t EntryClockSeconds(const LogEntry& entry);

// The instant of the entry's stamp: its clock time less its own offset, or, when it has
// none, less the offset `input_zone` gives that clock time.
int64_t EntryInstant(const LogEntry& entry, const TimeZone& input_zone, OffsetMemo& memo);

// Sets the entry's date and time from `clock`, seconds since 1970 as if the clock were UTC
// (EntryClockSeconds backwards); the offset and the millisecond are left alone.
void SetEntryClock(LogEntry& entry, int64_t clock);

// Rewrites the entry's date, time and offset as `zone`'s clock at `instant`. An entry without
// a whole date keeps its stamp: there is no day to move it to.
void RestampEntry(LogEntry& entry, int64_t instant, const TimeZone& zone, OffsetMemo& memo);

// The merge key of an instant and the millisecond within its second (0..999): a later
// moment has a larger key, and every instant from the year 0 to 9999 fits below NO_ENTRY.
TimeKey InstantTimeKey(int64_t instant, int32_t millisecond = 0);
