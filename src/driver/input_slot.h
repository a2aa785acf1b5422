#pragma once
// One input on its road to the merge: open -> decode -> split into lines -> parse ->
// time window and filters -> normalise -> zone -> the merged log's line -> sort window.
// Everything a slot needs is built once, at start-up, into a SlotOptions record that the
// slot points to; nothing here reads the program's settings, so the same road runs on the
// merge thread and on a parsing worker (parse_ahead.h) and gives the same lines.
//
//   OpenInput         opens a slot's file, parser state and counters
//   StartParsing      the slot's parser state, formats and input zone
//   ReadPending       makes the slot's next line pending: its key, or NO_ENTRY at the end
//   PendingLineBound  the bytes the pending line takes at most
//   WritePendingLine  writes the pending line in the merged log's dialect
//   NextEntry         ReadPending for the merge thread, finishing the slot at its end
//   FinishInput       closes the slot; its counters are final
//   SayLateEntries    the line for an input whose entries were late beyond its window

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/time_zone.h"
#include "driver/entry_rules.h"
#include "driver/input_stats.h"
#include "driver/sort_window.h"
#include "entries/filters.h"
#include "entries/log_entry.h"
#include "entries/zone_shift.h"
#include "output/writers.h"

struct Destination;
struct InputFile;
struct JsonFieldMapping;
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

// A server format line (as token names) for the inputs whose names match `pattern`, tried
// before the built-in dialects; with an empty pattern, for every input, after them.
struct InputFormatRule {
  std::string pattern;
  std::string names;
};

// ---- What every slot of a run reads -----------------------------------------------------
// Built once by the driver before any input opens; read-only from then on, so workers share
// it without locks.
struct SlotOptions {
  const RunZones* zones = nullptr;  // null: stamps are left as read
  TimeWindow window;                // --since / --until as clock times, without real time
  FilterLists filters;
  bool normalize = false;
  bool lowercase = false;
  int trim_first_n_dirs = 0;
  std::string user_format;  // user log formats, one per line; empty: none
  std::vector<InputFormatRule> format_rules;
  const JsonFieldMapping* json_fields = nullptr;  // the user's JSON keys; null: presets only
  bool verbose = false;                           // say which files were opened
  LineWriter format = nullptr;
  WriterOptions writer;
  WindowLimits sort_window;  // span 0: lines pass in the input's own order
  int64_t gap_seconds = 0;   // a longer time without entries inside an input is a gap
  bool timelines = false;    // keep each input's entries per minute, for the run report
};

// ---- The merge state of one log file ----------------------------------------------------
// Slots stand in command-line order; a slot's index is its rank when keys tie.
struct MergeInput {
  const char* name = nullptr;         // the command-line argument itself, not a copy
  InputFile* stream = nullptr;        // open input; null when failed or finished
  ParseState* parse_state = nullptr;  // taken from the run's pool; null when closed
  LogEntry entry{};                   // the entry last read; its texts point into stream
  TimeKey time_key = 0;               // key of the pending line; NO_ENTRY when done
  int64_t lines_read = 0;             // lines handed to the parser
  int64_t lines_corrupt = 0;          // lines no format matched
  int64_t lines_skipped = 0;          // header and other non-entry lines
  InputCounts counts;                 // entries, lines by reason, span and gaps
  const EntryRules* rules = nullptr;  // applied to every accepted entry; null: none
  InputRewrite rewrite;               // the texts the rules' rewritten fields point to
  // Entries written later than an entry of the same input with a larger key (late beyond
  // the sort window), and the most log time one of them lay behind the newest entry read.
  int64_t lines_late = 0;
  int64_t late_most_seconds = 0;
  int32_t first_offset = NO_OFFSET;  // the UTC offset the first entry carried, by clock time
  bool first_read = false;           // first_offset is set
  const SlotOptions* options = nullptr;
  const TimeZone* input_zone = nullptr;  // zones->input, or the zone a rule names for it
  OffsetMemo input_offsets;              // of input_zone, at this input's clock times
  OffsetMemo written_offsets;            // of zones->written, at this input's instants
  int64_t entry_seconds = 0;             // log time of `entry`, in seconds, for the sort window
  // The sort window; null when off. The pending line is its front one.
  std::unique_ptr<SortWindow> window;
  bool window_pending = false;  // the window's front line is the pending one
  // Parsing ahead on a worker (parse_ahead.h): while set, the worker owns every field
  // above but name and time_key.
  ParseAhead* ahead = nullptr;
};

// Opens one slot's file, parser state and counters; its entries are read as `options` say.
// True when the slot has an input to read. A file that cannot be opened is reported with
// the system's reason as a lost input (exit status 2); one that is the merged log of
// `destination` (where given) is left out with a message. Either way the slot's key becomes
// NO_ENTRY.
bool OpenInput(MergeInput& input, MemoryPool* pool, const SlotOptions& options,
               const Destination* destination = nullptr);

// Gives an opened slot its parser state, from `pool`: the user formats and JSON keys of its
// options, those of the format-for rules its name matches, and the zone of its offsetless
// stamps. OpenInput does this; the follower, which opens files itself, calls it once per slot.
void StartParsing(MergeInput& input, MemoryPool* pool);

// Releases the slot's pending line and makes its next one pending: its key, or NO_ENTRY at
// the end of the input (the slot is left open). Only the merge thread (`merge_thread`) polls
// the console.
TimeKey ReadPending(MergeInput& input, bool merge_thread);

// Parses `line` (writable, NUL-terminated data: the slot's next line) into the slot's entry
// and passes it through the time window, normalising, the filters and the zones. Returns the
// entry's key, or NO_ENTRY when the line gave no entry (a header or corrupt line, counted; or
// a filtered entry). entry.line_length is the bytes the line takes either way. The follower
// reads its lines through it; the merge through ReadPending.
TimeKey AcceptLine(MergeInput& input, char* line);

// The bytes the pending line takes at most, line end included.
size_t PendingLineBound(const MergeInput& input);

// Writes the pending line at `room`, which holds PendingLineBound bytes; its length.
size_t WritePendingLine(const MergeInput& input, char* room);

// ReadPending on the merge thread; at the end of its input the slot is finished.
void NextEntry(MergeInput& input);

// Finishes a slot: stops parsing ahead, drops the parser state, closes the stream (an input
// whose decoder failed is reported as lost in part), keeps the window's counters. The key
// becomes NO_ENTRY.
void FinishInput(MergeInput& input);

// For a finished slot with late entries: one line naming the file, how many and how late,
// and the settings that order them. Said even when quiet: it is a problem, not information.
void SayLateEntries(const MergeInput& input, int64_t window_seconds);

// "10m", "3h12m", "45s", "2d4h": a span of log time as --sort-window takes it.
std::string DurationText(int64_t seconds);
