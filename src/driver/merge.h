#pragma once
// The merge engine: opens every log file, keeps one parsed entry pending per input, and
// writes the earliest pending entry of all inputs until every input is exhausted.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "entries/log_entry.h"

struct InputFile;
struct ParseState;
struct MemoryPool;
struct GzipWriter;

// ---- The merge state of one log file ----------------------------------------------------
// Slots stand in command-line order; a slot's index is its rank when keys tie.
struct MergeInput {
  const char* name = nullptr;         // the command-line argument itself, not a copy
  InputFile* stream = nullptr;        // open input; null when failed or finished
  ParseState* parse_state = nullptr;  // taken from the run's pool; null when closed
  LogEntry entry{};                   // the pending entry; its texts point into stream
  TimeKey time_key = 0;               // key of the pending entry; NO_ENTRY when done
  int64_t lines_read = 0;             // lines handed to the parser
  int64_t lines_corrupt = 0;          // lines no format matched
  int64_t lines_skipped = 0;          // header and other non-entry lines
};

// ---- Running a merge ---------------------------------------------------------------------
// Merges the `count` slots into "merged.gz" (or "merged.log" with compress off) beside the
// first named file. An input that is the output file itself is left out with a message.
// The output is written to a temporary file beside it and renamed over the final name only
// when everything was written. False when the output cannot be opened, a write, flush or
// close of it failed, or the rename failed; true when the merge ran to its end.
bool MergeLogs(int count, MergeInput* inputs);

// Opens one slot's file, parser state and counters. A file that cannot be opened is
// reported and the slot's key becomes NO_ENTRY.
void OpenInput(MergeInput& input, MemoryPool* pool);

// Releases the slot's current line and makes its next accepted entry pending, or finishes
// the slot (parser state dropped, stream closed, key NO_ENTRY) at the end of its input.
void NextEntry(MergeInput& input);

// ---- Progress (verbose) ------------------------------------------------------------------
// The schedule of "Merged %d lines so far" reports, in calendar seconds.
struct ProgressSchedule {
  int32_t start;        // when the merge began
  int32_t last_report;  // the schedule; starts at `start`
};

// True when a report is due at `now` (more than 10 seconds past the schedule): the schedule
// then advances by exactly 15 seconds (it does not jump to `now`, so after a stall several
// reports follow) and `rate` is `merged` per second of schedule.
bool ProgressDue(ProgressSchedule& schedule, int32_t now, int64_t merged, int64_t& rate);

// ---- The output stream -------------------------------------------------------------------
// Either a gzip writer or a plain stream; the first failure is reported once with
// "Write error on output file!" and remembered.
struct MergeOutput {
  GzipWriter* gzip = nullptr;
  std::FILE* plain = nullptr;
  bool write_failed = false;
};

// Writes the NUL-terminated text (nothing for an empty text); false once a write failed.
bool WriteOutput(MergeOutput& out, const char* text);

// The same for the `length` bytes at `text`, whose length the caller already knows.
bool WriteOutput(MergeOutput& out, const char* text, size_t length);

// Flushes and closes the stream; a failed flush or close is a write failure. Returns false
// when any write of the stream failed.
bool CloseOutput(MergeOutput& out);
