#pragma once
// The merge engine: opens every log file, keeps one parsed entry pending per input, and
// writes the earliest pending entry of all inputs until every input is exhausted.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/time_zone.h"
#include "entries/log_entry.h"
#include "entries/zone_shift.h"

struct Destination;
struct InputFile;
struct ParseAhead;
struct ParseState;
struct MemoryPool;

// ---- The zones of a run ------------------------------------------------------------------
// Loaded from the settings once, at start-up.
struct RunZones {
  // With a zone for the merged log, entries are merged by the instant they stand for and
  // written as `written`'s clock; without, by their clock time as written.
  bool real_time = false;
  TimeZone named;    // the zone the user named for the merged log
  TimeZone written;  // the zone stamps are written in: `named`, or UTC for W3C output
  // The zone of stamps that carry no offset: always with real_time (this machine's unless
  // named), else only when named.
  bool has_input_zone = false;
  TimeZone input;
  // input-timezone-for: a zone for the inputs whose names (or base names) match a pattern.
  struct InputZoneRule {
    std::string pattern;
    TimeZone zone;
  };
  std::vector<InputZoneRule> input_rules;
  // The zone an NCSA stamp whose entry carries no offset is written with: `input` when there
  // is one, else this machine's (UTC when that cannot be read, as the C library reads an
  // unknown TZ).
  TimeZone offsetless;
  // The --since / --until bounds as instants (read as clock times of `named`), with
  // real_time.
  std::optional<int64_t> since;
  std::optional<int64_t> until;
};

// Loads the zones the settings name; a name the zone database does not hold is reported
// (exit status 1) and the result is false.
bool LoadRunZones(RunZones& zones);

// ---- The merge state of one log file ----------------------------------------------------
// Slots stand in command-line order; a slot's index is its rank when keys tie.
struct MergeInput {
  const char* name = nullptr;            // the command-line argument itself, not a copy
  InputFile* stream = nullptr;           // open input; null when failed or finished
  ParseState* parse_state = nullptr;     // taken from the run's pool; null when closed
  LogEntry entry{};                      // the pending entry; its texts point into stream
  TimeKey time_key = 0;                  // key of the pending entry; NO_ENTRY when done
  int64_t lines_read = 0;                // lines handed to the parser
  int64_t lines_corrupt = 0;             // lines no format matched
  int64_t lines_skipped = 0;             // header and other non-entry lines
  const RunZones* zones = nullptr;       // null: stamps are left as read
  const TimeZone* input_zone = nullptr;  // zones->input, or the zone a rule names for it
  OffsetMemo input_offsets;              // of input_zone, at this input's clock times
  OffsetMemo written_offsets;            // of zones->written, at this input's instants
  // Parsing ahead on a worker (parse_ahead.h): while set, the worker owns every field
  // above but name and time_key.
  ParseAhead* ahead = nullptr;
};

// ---- Running a merge ---------------------------------------------------------------------
// Merges the `count` slots into the chosen output path, or standard output, or
// "merged.gz" (or "merged.log" with compress off) beside the first named file. An input that is the
// output file itself is left out with a message. The output is written to a temporary file beside
// it and renamed over the final name only when everything was written. False when the output cannot
// be opened, a write, flush or close of it failed, or the rename failed; true when the merge ran to
// its end.
bool MergeLogs(int count, MergeInput* inputs, const RunZones& zones);

// Opens one slot's file, parser state and counters; its entries are read with `zones`. True
// when the slot has an input to read. A file that cannot be opened is reported with the
// system's reason as a lost input (exit status 2); one that is the merged log of
// `destination` (where given) is left out with a message. Either way the slot's key becomes
// NO_ENTRY.
bool OpenInput(MergeInput& input, MemoryPool* pool, const RunZones* zones,
               const Destination* destination = nullptr);

// Releases the slot's current line and reads its next accepted entry into the slot's entry:
// its key, or NO_ENTRY at the end of the input (the slot is left open). Only the merge
// thread (`merge_thread`) polls the console.
TimeKey ReadEntry(MergeInput& input, bool merge_thread);

// Releases the slot's current line and makes its next accepted entry pending, or finishes
// the slot (parser state dropped, stream closed, key NO_ENTRY) at the end of its input.
void NextEntry(MergeInput& input);
