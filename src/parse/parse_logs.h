#pragma once
// The log parser: one line read in place against one template, and the per-line choice of
// dialect. Header lines and field lists are read in parse/header_lines.h.

#include <cstdint>

#include "entries/log_entry.h"
#include "parse/format_tokens.h"

enum ParseResult : int {
  PARSE_NO_MATCH = 0,  // the line does not fit; the line's text is untouched
  PARSE_HEADER = 2,    // a header or other non-entry line; line_length covers it
  PARSE_ENTRY = 3,     // the entry is filled and its text fields are cut with NULs in place
};

// What became of the last line ParseEntry read: an entry, or why it made none. The caller
// counts lines by it; PARSE_HEADER lines are HEADER or ERROR_LOG, PARSE_NO_MATCH lines
// NO_DIALECT or DATE_OUT_OF_RANGE.
enum class LineReason : uint8_t {
  ENTRY,
  HEADER,             // a header, comment or blank line, or an FTP service line of IIS
  ERROR_LOG,          // a line of an error log, or a bracketed date line
  NO_DIALECT,         // no template fits the line
  DATE_OUT_OF_RANGE,  // a template fits all but the date or time, which is impossible or
                      //   later than the year limit
};

// How the fields of a line are delimited beyond what the template's separators say.
enum class FieldStyle : uint8_t {
  TEMPLATE,  // as the template says: every built-in and user template; inside double
             //   quotes a quote behind an odd run of backslashes is part of the field
             //   (Apache's \" and \\), unless the line only fits without that reading
  W3C,       // W3C extended: a run of spaces is one separator, and "" inside a
             //   double-quoted string is a literal quote
};

struct JsonFieldMapping;

// Per-input parser state; created when the input is opened, lives as long as the input.
struct ParseState {
  int current_format = COMBINED;  // built-in slot tried first for the next line
  int default_year = 0;           // date of the latest "#Date: " header, used for
  int default_month = 0;          //   lines that carry no date
  int default_day = 0;
  int user_format_start[4] = {-1, -1, -1, -1};  // offsets into user_tokens; first -1 ends
  int fallback_from = 4;             // user formats from this index on are tried only after every
                                     //   built-in dialect (format-for without a pattern)
  int fields_length = 0;             // bytes in fields_template; 0 = none
  int year_limit = 0;                // entries dated in this year or later are rejected
  uint8_t user_tokens[150] = {};     // compiled user templates, each ended by EOL
  uint8_t fields_template[50] = {};  // template of the latest field-list header
  FieldStyle fields_style = FieldStyle::TEMPLATE;  // how fields_template's lines are written
  bool webstar_mode = false;                       // a WebSTAR header was seen; changes CS_HOST
  bool fields_local_time = false;  // the W3C field list dates its lines by local date or time
  int32_t w3c_utc_offset = 0;      // of W3C lines: 0 (UTC), or a "#GMT-Offset:" header's
                                   //   minutes east of UTC (Oracle Web Cache)
  const JsonFieldMapping* json_fields = nullptr;  // the user's JSON keys (not owned); null: none
  char path_join[1024] = {};  // the uri joined with '$' and a path argument; per
                              //   input, so pending entries never share it
  // Set by ParseEntry for every line: what became of it, and for an entry the template that
  // read it (a built-in slot, BUILTIN_FORMAT_COUNT + i for user format i, JSON_READER or
  // PROXY_READER).
  LineReason reason = LineReason::ENTRY;
  int8_t matched = -1;
  bool date_refused = false;  // a template read the current line up to a date it refused
};

// Templates an entry can come from: the built-in slots, the four user formats, then the two
// readers that need no template: JSON objects, and the load balancer and proxy dialects.
inline constexpr int JSON_READER = BUILTIN_FORMAT_COUNT + 4;
inline constexpr int PROXY_READER = JSON_READER + 1;
inline constexpr int TEMPLATE_COUNT = PROXY_READER + 1;

// The dialect name of a template (ParseState::matched), e.g. "NCSA combined", "user format 1".
const char* TemplateName(int matched);

// Prepares a fresh state: everything as above, and year_limit = the year 31 days from now
// (local time) plus 1.
void InitParseState(ParseState& state);

// Reads `line` (writable, NUL-terminated data) against `format` (ended by EOL) into
// `entry`, its fields delimited as `style` says. On PARSE_ENTRY and PARSE_HEADER,
// entry.line_length (> 0) is the number of bytes to release. Every text field of the entry
// is set on PARSE_ENTRY (each with its length) and absent on the other results. Nothing is written
// into the line unless the result is PARSE_ENTRY; the NUL behind the data is never an entry of its
// own. A template byte above 51, or TAB_SEP after the first byte, stops the program
// ("Invalid log format field").
ParseResult ParseLine(ParseState& state, char* line, LogFormat format, LogEntry& entry,
                      FieldStyle style = FieldStyle::TEMPLATE);

// A blank line (nothing but spaces and TABs before its CR or LF) is PARSE_HEADER: no
// dialect makes an entry of it. Other lines: tries the user formats, then the built-in
// rotation from current_format (which stays on the slot that fitted). Always sets
// entry.line_length > 0. A line that fits nothing keeps its text, its CR or LF becomes a
// NUL, and at the end of the data without a line end it counts one byte past the data. A
// bracketed date line or error-log line is PARSE_HEADER.
ParseResult ParseEntry(ParseState& state, char* line, LogEntry& entry);
