#pragma once
// Program-wide settings: written only at start-up (defaults, then the configuration file,
// then the switches; the last writer wins) and read by the driver alone: every other module
// takes what it needs as an argument.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/sort_window.h"
#include "entries/client_address.h"
#include "entries/entry_source.h"
#include "entries/filters.h"
#include "output/writers.h"
#include "parse/json_lines.h"

// Whether the progress line is drawn.
enum class ProgressMode : uint8_t {
  AUTO,  // when standard error is a terminal and the run is not quiet
  ON,    // always
  OFF,   // never
};

struct Settings {
  bool compress = true;  // merged.gz instead of merged.log
  // Who asked for `compress` explicitly ("-Plain", "--compress=yes", a configuration
  // line), for messages; empty when nobody did, and the output's name decides.
  std::string compress_asked_by;
  int32_t level = 9;  // gzip level 0..9
  bool verbose = false;
  bool vhost = true;       // NCSA field two shows the domain
  bool lowercase = false;  // normalisation lower-cases the path
  bool normalize = false;
  int8_t trim_first_n_dirs = 0;  // 0..9
  OutputFormat output_format = OutputFormat::WEBSTAR;
  NewlineStyle newlines = NewlineStyle::UNIX;  // native line ends: every Unix tool sees lines
  FilterLists filters;
  char user_format[512] = {};  // user log formats; empty = none
  TimeWindow window;           // --since / --until; unbounded by default
  bool quiet = false;          // say nothing but problems
  bool header = true;          // the output dialect's header line(s) open the merged log
  int threads = 0;             // threads compressing the merged log; 0 = one per core
  int max_open = 0;            // inputs open at once, more merge in passes; 0 = from the
                               // process's open-file limit
  std::string output_path;     // the merged log's path; empty = beside the first input; "-" =
                               // standard output
  std::string config_path;     // the configuration file; empty = "Stitcher.cfg"
  bool null_separated_lists = false;          // --files-from lists end each name with a NUL
  int64_t memory_budget = int64_t{64} << 20;  // bytes decoders and read-ahead hold at once
  std::string timezone;        // order by real time and write stamps in this zone; empty = off
  std::string input_timezone;  // the zone of inputs whose stamps carry no offset; empty = this
                               // machine's
  int64_t sort_window = 600;   // seconds of log time each input's sort window spans; 0 = off
  bool sort_full = false;      // sort every input whole through temporary files
  bool stats = false;          // the table of inputs at the end (as with verbose)
  ProgressMode progress = ProgressMode::AUTO;
  int64_t gap_seconds = 3600;  // a longer hole inside an input's span is a gap; 0 = none
  std::string report_path;     // the run report: JSON, or HTML when it ends in ".html"; empty =
                               // none
  bool follow = false;         // keep reading the inputs as they grow, until a signal
  std::optional<ClockTime> follow_until;  // following ends at this local clock time
  int64_t lateness_ms = 2000;             // an entry waits at most this long for the other inputs
  SourceKind source = SourceKind::NONE;   // each entry records its input (--source)
  std::string source_pattern;             // --source=host: a pattern whose first group is the host
  bool source_into_vhost = false;         // the source replaces every entry's virtual host
  ClientSource client = ClientSource::REMOTE;  // --client=remote|xff
  Anonymize anonymize_ip = Anonymize::NONE;    // --anonymize-ip=1|2|3|hash
  std::string anonymize_key;                   // the file holding the hash key
  bool dedupe = false;  // entries another input brought at the same time are written once
  // input-timezone-for: the zone of offsetless stamps in the inputs whose names match a
  // pattern, ahead of input_timezone; the first matching rule wins.
  struct InputZoneRule {
    std::string pattern;
    std::string zone;
  };
  std::vector<InputZoneRule> input_zone_rules;
  // format-for: server format lines (as token names) for the inputs whose names match a
  // pattern, tried first; an empty pattern: for every input, after the built-in dialects.
  struct FormatRule {
    std::string pattern;
    std::string names;
  };
  std::vector<FormatRule> format_rules;
  std::shared_ptr<JsonFieldMapping> json_fields;  // the user's JSON keys; null = presets only
  std::string server_formats;  // --apache-format / --nginx-format lines as user formats, one
                               // per line; tried after user_format's
};

// The user formats every input tries first: user_format's lines, then server_formats'.
std::string AllUserFormats(const Settings& source);

// The settings of this process.
extern Settings settings;

// Puts every setting back to its default (tests use it).
void ResetSettings();

// ---- Rules the switches and the configuration file share ---------------------------------
// Takes user log formats of 1..511 characters; longer or empty text is refused whole (false).
bool SetUserFormat(Settings& target, const char* text);

// Adds one "<field>=<key path>" to the user's JSON keys; false with `error` set when it
// cannot be read.
bool AddJsonFieldSetting(Settings& target, std::string_view text, std::string& error);

// Adds an input-timezone-for rule from "<pattern> <zone>" (blanks between); false when
// either part is missing.
bool AddInputZoneRule(Settings& target, const char* text);

// Inputs open at once: MAX_OPEN_LEAST..MAX_OPEN_MOST, or 0 for as many as the open-file
// limit allows. Only digits count; anything else, or a number out of range, is refused
// (false) and changes nothing.
inline constexpr int MAX_OPEN_LEAST = 2;
inline constexpr int MAX_OPEN_MOST = 1000000;
bool SetMaxOpen(Settings& target, const char* text);

// The memory budget: a whole number of bytes, or of KiB, MiB or GiB with the suffix K, M or G
// (either case), MEMORY_LEAST..MEMORY_MOST. Anything else is refused (false) and changes
// nothing.
inline constexpr int64_t MEMORY_LEAST = int64_t{16} << 20;
inline constexpr int64_t MEMORY_MOST = int64_t{1} << 40;
bool SetMemoryBudget(Settings& target, const char* text);

// The sort window: "0" (off), or a span of log time read as ReadDuration reads it, up to
// SORT_WINDOW_MOST seconds. Anything else is refused (false) and changes nothing.
inline constexpr int64_t SORT_WINDOW_MOST = kMostWindowSpan;
bool SetSortWindow(Settings& target, const char* text);

// The sort mode: "window" (each input through its sort window) or "full" (every input
// sorted whole). Anything else is refused (false) and changes nothing.
bool SetSortMode(Settings& target, const char* text);
// A span of time such as "90", "45s", "30m", "1h30m" or "2d": numbers each followed by s, m,
// h or d in either case, or one bare number of seconds, at most `most` seconds in all; false,
// leaving `seconds` as it was, for anything else. The sort window and the gap read it.
bool ReadDuration(const char* text, int64_t most, int64_t& seconds);

// The gap: a duration (ReadDuration) of at most 100 years; 0 turns gaps off.
bool SetGap(Settings& target, const char* text);
// The wait of an entry for the other inputs while following: a number with an optional
// fraction and unit, "ms", "s" (the default), "m" or "h": "2s", "500ms", "1.5", "1m". Up to
// LATENESS_MOST_MS; anything else is refused (false) and changes nothing.
inline constexpr int64_t LATENESS_MOST_MS = 3600 * 1000;
bool SetLateness(Settings& target, const char* text);
