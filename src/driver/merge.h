#pragma once
// The merge engine: follows the run's plan (run_plan.h), opens every log file as an input
// slot (input_slot.h), keeps one pending line per input, and writes the earliest pending line
// of all inputs until every input is exhausted: in one pass, in passes through spill files
// when more inputs are named than may be open at once, or, with --sort=full, from the sorted
// runs of every input.

#include "driver/input_slot.h"

struct RunRecord;

// Loads the zones the settings name; a name the zone database does not hold is reported
// (exit status 1) and the result is false.
bool LoadRunZones(RunZones& zones);

// Merges the `count` slots into the chosen output path, or standard output, or
// "merged.gz" (or "merged.log" with compress off) beside the first named file. An input that
// is the output file itself is left out with a message. The output is written to a temporary
// file beside it and renamed over the final name only when everything was written. False
// when the output cannot be opened, a write, flush or close of it failed, or the rename
// failed; true when the merge ran to its end.
// What every input's lines pass through in this run, from the settings: the time window,
// normalising, the filters, the zones, the writer and `sort_window`. The merge and the
// follower both read their inputs with it.
SlotOptions SlotOptionsOf(const RunZones& zones, const WindowLimits& sort_window);

// With `record`, what became of the output is noted there for the run report.
bool MergeLogs(int count, MergeInput* inputs, const RunZones& zones, RunRecord* record = nullptr);
