#pragma once
// The date and time tokens: DATE_CLF, DATE_AUTO, DATE_DMY, DATE_MDY, DATE_YMD, UNIX_TIME,
// TIME_24, TIME_12, YEAR, MONTH, MONTH_NAME, DAY, HOUR, MINUTE, SECOND, DATE_APACHE,
// DATE_ISO8601 and UNIX_TIME_UTC.

#include <cstdint>

#include "entries/log_entry.h"

// True for the eighteen token kinds above.
bool IsDateToken(uint8_t token);

// Reads the date or time token `token` at `cursor` (NUL-terminated text; nothing past the
// NUL is ever read) and stores the fields it reads into `entry`. Returns the position
// just past what was read, or null when the text does not fit the token.
const char* ReadDateToken(uint8_t token, const char* cursor, LogEntry& entry);

// TIME_24 as W3C extended logs may write it: a fraction of a second may follow
// ("00:00:07.315"); it is read and dropped, the seconds are not rounded. Returns the
// position past what was read, or null when the text does not fit.
const char* ReadW3cTime(const char* cursor, LogEntry& entry);
