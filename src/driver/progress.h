#pragma once
// Progress reports while merging and the statistics at the end (both for verbose runs).

#include <cstdint>
#include <span>

struct MergeInput;

// ---- Progress ------------------------------------------------------------------------------
// The schedule of "Merged %d lines so far" reports, in calendar seconds.
struct ProgressSchedule {
  int32_t start;        // when the merge began
  int32_t last_report;  // the schedule; starts at `start`
};

// A schedule that starts now.
ProgressSchedule StartProgress();

// True when a report is due at `now` (more than 10 seconds past the schedule): the schedule
// then advances by exactly 15 seconds (it does not jump to `now`, so after a stall several
// reports follow) and `rate` is `merged` per second of schedule.
bool ProgressDue(ProgressSchedule& schedule, int32_t now, int64_t merged, int64_t& rate);

// Says "Merged N lines so far, R lines/sec." when a report is due now.
void ReportProgress(ProgressSchedule& schedule, int64_t merged);

// ---- Statistics ------------------------------------------------------------------------------
// Says the lines read, skipped and corrupt over every input, then the entries written and
// the time since the schedule started.
void PrintStatistics(std::span<const MergeInput> inputs, int64_t merged,
                     const ProgressSchedule& schedule);
