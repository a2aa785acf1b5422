#pragma once
// What became of each input's lines: its entries by dialect, the lines passed over by
// reason, the span of its entries and the holes in it, and a coarse timeline of them.
//
//   CountLine, CountEntry  on the thread that parses the input (a parse-ahead worker, or the
//                          merge thread); the counts are read only once that worker stopped
//   the rest               on the merge thread, at the end of the run

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "entries/log_entry.h"
#include "parse/parse_logs.h"

// ---- Why a line made no entry --------------------------------------------------------------
enum class LineFate : uint8_t {
  NO_DIALECT,         // corrupt: no template fits it
  DATE_OUT_OF_RANGE,  // corrupt: its date or time is impossible, or too far ahead
  OVER_LONG,          // corrupt: longer than the longest line read, passed over whole
  ERROR_LOG,          // skipped: a line of an error log (or a bracketed date line)
  HEADER,             // skipped: a header, comment or blank line
};

struct FateRow {
  LineFate fate;
  const char* label;   // in messages and tables: "no known dialect"
  const char* key;     // in the JSON report: "no_dialect"
  const char* column;  // heading of its column in the table of inputs
  bool corrupt;        // corrupt (the input is damaged or unread) rather than skipped
};

// One row per fate, in the order of LineFate.
inline constexpr FateRow kFates[] = {
    {LineFate::NO_DIALECT, "no known dialect", "no_dialect", "no dialect", true},
    {LineFate::DATE_OUT_OF_RANGE, "date out of range", "date_out_of_range", "bad date", true},
    {LineFate::OVER_LONG, "over-long", "over_long", "over-long", true},
    {LineFate::ERROR_LOG, "error-log line", "error_log", "error log", false},
    {LineFate::HEADER, "header", "header", "header", false},
};
inline constexpr int kFateCount = static_cast<int>(std::size(kFates));

// The fate of a line the parser made no entry of (its reason is not ENTRY).
LineFate FateOf(LineReason reason);

// ---- The counts of one input -------------------------------------------------------------
// A period with no entry inside an input's span: from the entry before it to the one after,
// in clock seconds as the merged log writes them.
struct TimeGap {
  int64_t from;
  int64_t to;
};

// Entries per period of `width` seconds from `origin` (a multiple of the width). The width
// starts at a minute and doubles whenever the span outgrows kTimelineBuckets periods, so
// timelines of different inputs can be added up on a shared axis.
inline constexpr size_t kTimelineBuckets = 2048;
struct Timeline {
  int64_t origin = 0;
  int64_t width = 60;
  std::vector<int64_t> counts;  // empty: no entry counted yet (or no timeline kept)
};

struct InputCounts {
  int64_t by_fate[kFateCount] = {};
  int64_t by_template[TEMPLATE_COUNT] = {};  // entries by the template that read them
  int64_t entries = 0;                       // entries handed to the merge
  int64_t dated = 0;  // of them, those with a whole date: they make first, last, gaps
  int64_t first = 0;  // clock seconds of the earliest and latest dated entry
  int64_t last = 0;
  int64_t gap_after = 0;      // a hole longer than this (seconds) is a gap; 0 keeps none
  std::vector<TimeGap> gaps;  // in time order, never overlapping
  bool keep_timeline = false;
  Timeline timeline;
  std::string first_unknown;         // the first line of no known dialect, shortened
  int64_t first_unknown_number = 0;  // its line number, from 1; 0 when there is none
  // Entries the sort window had to put back in order. Nothing sorts within an input yet, so
  // it stays 0; the report already carries it.
  int64_t out_of_order = 0;
  bool opened = false;    // the input was opened and read
  bool finished = false;  // the input was read to its end (or its failure)
  bool read_failed = false;
  int32_t container = -1;  // the input's container (IN_PLAIN ..), -1 when never opened
  int64_t bytes_read = 0;  // stored bytes read from it, once finished

  int64_t Corrupt() const;
  int64_t Skipped() const;
};

// Fresh counts for an input just opened: gaps longer than `gap_after` seconds are kept (0:
// none), and a timeline when `keep_timeline`.
void StartCounts(InputCounts& counts, int64_t gap_after, bool keep_timeline);

// The input was opened: its container. And it ended: the stored bytes read, and whether its
// reader failed. Both on the merge thread, while no worker holds the input.
struct InputFile;
void NoteInputStart(InputCounts& counts, const InputFile& file);
void NoteInputEnd(InputCounts& counts, const InputFile& file);

// A line numbered `line_number` that made no entry; `line` is its text (NUL-terminated, or
// null for a line passed over unread).
void CountLine(InputCounts& counts, LineFate fate, int64_t line_number, const char* line);

// An entry handed to the merge: read by template `matched`, its stamp as the merged log
// writes it.
void CountEntry(InputCounts& counts, int matched, const LogEntry& entry);

// As CountEntry, for a caller that has the stamp's clock seconds (EntryClockSeconds) at hand:
// `dated` tells whether the entry has a date at all.
void CountEntryAt(InputCounts& counts, int matched, bool dated, int64_t clock_seconds);

// "2001-03-05 10:00:00"
std::string ClockText(int64_t seconds);

// "3:00:00", "12:05", "2d 4:00:00"
std::string SpanClockText(int64_t seconds);

// The dialect names of the templates that read entries, most entries first, with their
// counts: "NCSA common/combined 80, vhost combined 2".
std::string DialectList(const InputCounts& counts);

// Adds `from` to `into` on into's axis, coarsening either to the wider width of the two.
void AddTimeline(Timeline& into, const Timeline& from);
