#pragma once
// Progress while merging: the "Merged N lines so far" reports of verbose runs, the progress
// line drawn on a terminal, and the statistics at the end.

#include <cstdint>
#include <span>
#include <string>

#include "driver/settings.h"

struct MergeInput;

// ---- Verbose reports -----------------------------------------------------------------------
// The schedule of "Merged %d lines so far" reports, in calendar seconds.
struct ProgressSchedule {
  int32_t start;         // when the merge began
  int32_t last_report;   // the schedule; starts at `start`
  bool verbose = false;  // the reports are printed (the progress line may be drawn without)
};

// A schedule that starts now.
ProgressSchedule StartProgress(bool verbose);

// True when a report is due at `now` (more than 10 seconds past the schedule): the schedule
// then advances by exactly 15 seconds (it does not jump to `now`, so after a stall several
// reports follow) and `rate` is `merged` per second of schedule.
bool ProgressDue(ProgressSchedule& schedule, int32_t now, int64_t merged, int64_t& rate);

// Says "Merged N lines so far, R lines/sec." when a report is due now (verbose runs), and
// redraws the progress line when it is time.
void ReportProgress(ProgressSchedule& schedule, int64_t merged);

// ---- The progress line ---------------------------------------------------------------------
// One line on standard error, redrawn at most 10 times a second while the merge writes:
//   [ 5/20 files]  1.2 of 3.4 GB  35 %  4.1 M entries  210 MB/s  0:11 left
// Every message clears it first (through the message channel), so it never mixes with
// them; it is cleared for good at the end of the merge.

// What the line shows.
struct ProgressFigures {
  int64_t inputs_done = 0;
  int64_t inputs = 0;
  int64_t bytes = 0;        // stored bytes read (compressed inputs by their compressed bytes)
  int64_t total_bytes = 0;  // of every input; 0 when unknown (pipes)
  int64_t entries = 0;      // written to the merged log
  double seconds = 0;       // since the merge began
};

// The line's text, without cursor movements.
std::string ProgressText(const ProgressFigures& figures);

// Whether to draw it: as `mode` says, or by default when standard error is a terminal and
// the run is not quiet (the logs of cron jobs stay clean).
bool ProgressLineWanted(ProgressMode mode, bool quiet);

// Starts drawing the line for `inputs` (their sizes are read now) when `draw`.
void StartProgressLine(std::span<const MergeInput> inputs, bool draw);

// Whether the line is being drawn.
bool ProgressLineOn();

// Clears the line, if it is shown, and draws it no more.
void EndProgressLine();

// ---- Statistics ------------------------------------------------------------------------------
// Says the lines read, skipped and corrupt over every input, then the entries written and
// the time since the schedule started.
void PrintStatistics(std::span<const MergeInput> inputs, int64_t merged,
                     const ProgressSchedule& schedule);
