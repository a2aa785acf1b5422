#pragma once
// The clock: the current calendar time and its local-time fields.

#include <cstdint>

// ---- Time ------------------------------------------------------------------------------

// The current calendar time in whole seconds since 1970-01-01 00:00:00 UTC.
int32_t TimeNow();

// Local-time fields of a calendar time; each output pointer may be null (not wanted).
// Inputs below 0 or above 2147310847 (2038-01-17 03:14:07 UTC) are clamped to that
// value. A failing conversion is retried twice after a 1 ms sleep, then all fields are 0.
void TimeToFields(int32_t seconds, int32_t* year, int32_t* month, int32_t* day, int32_t* hour,
                  int32_t* minute, int32_t* second);
