#pragma once
// Program-wide settings: written only at start-up (defaults, then the configuration file,
// then the switches; the last writer wins) and read by the driver alone: every other module
// takes what it needs as an argument.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "entries/filters.h"
#include "output/writers.h"
#include "parse/json_lines.h"

struct Settings {
  bool compress = true;  // merged.gz instead of merged.log
  int32_t level = 9;     // gzip level 0..9
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
  std::string timezone;        // order by real time and write stamps in this zone; empty = off
  std::string input_timezone;  // the zone of inputs whose stamps carry no offset; empty = this
                               // machine's
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

// Takes the gzip level from the leading digit of `text` ("12" gives 1); false when `text`
// does not start with a digit.
bool SetLevelDigit(Settings& target, const char* text);

// Inputs open at once: MAX_OPEN_LEAST..MAX_OPEN_MOST, or 0 for as many as the open-file
// limit allows. Only digits count; anything else, or a number out of range, is refused
// (false) and changes nothing.
inline constexpr int MAX_OPEN_LEAST = 2;
inline constexpr int MAX_OPEN_MOST = 1000000;
bool SetMaxOpen(Settings& target, const char* text);
