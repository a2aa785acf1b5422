// Format detection: the per-line choice of template. User formats first, then the
// built-in rotation from the slot that fitted last; a line that fits nothing is passed
// over.

#include <algorithm>
#include <iterator>

#include "base/check.h"
#include "base/text.h"
#include "parse/format_tokens.h"
#include "parse/header_lines.h"
#include "parse/json_lines.h"
#include "parse/line_ends.h"
#include "parse/parse_logs.h"
#include "parse/proxy_lines.h"

namespace {

constexpr const char* MODULE = "ParseLogs";

// Dialect names by built-in slot, for statistics and reports.
constexpr const char* kSlotNames[] = {
    "NCSA common/combined",
    "IIS service",
    "WebSTAR common",
    "header line",
    "declared fields (W3C, Netscape, WebSTAR)",
    "date first",
    "date line",
    "error log",
    "vhost combined",
    "FTP transfer",
};
static_assert(std::size(kSlotNames) == BUILTIN_FORMAT_COUNT);
constexpr const char* kUserFormatNames[] = {"user format 1", "user format 2", "user format 3",
                                            "user format 4"};
static_assert(std::size(kUserFormatNames) == JSON_READER - BUILTIN_FORMAT_COUNT);

constexpr int USER_TOKENS_CAPACITY = static_cast<int>(sizeof(ParseState::user_tokens));

// Bytes of a blank line (only spaces and TABs before a CR or LF, line end included), or 0
// for any other line. A NUL is no line end here: the data's end or a NUL byte in the text
// is no blank line.
int32_t BlankLineLength(const char* line) {
  const char* p = line;
  while (IsBlank(*p)) ++p;
  if (*p != '\r' && *p != '\n') return 0;
  return static_cast<int32_t>(PastLineEnd(p) - line);
}

// A line that fits nothing: its line end becomes a NUL and the line is passed over.
int32_t SkipLine(char* line) {
  char* end = line;
  while (!IsLineEnd(*end)) ++end;
  // At the end of the data: one byte beyond, which the input accepts.
  char* const next = *end == '\0' ? end + 1 : PastLineEnd(end);
  *end = '\0';
  return static_cast<int32_t>(next - line);
}

// Whether a built-in template could fit the line. Every entry template needs a date or a
// time, hence a digit; a line without one can only be a header line ("#Fields:", "format=",
// "!!", a '#' comment, "Bad URL reference received from: "), each of which holds '#', '!',
// '=' or ':'. Anything else (a run of NULs, binary noise) fits nothing and is passed over
// without trying every template in turn.
bool MayFitBuiltin(const char* line) {
  for (const char* p = line; !IsLineEnd(*p); ++p) {
    const char c = *p;
    if (IsDigit(c) || c == '#' || c == '!' || c == '=' || c == ':') return true;
  }
  return false;
}

ParseResult TryBuiltin(ParseState& state, int slot, char* line, LogEntry& entry) {
  if (slot == FIELDS) {
    if (state.fields_length == 0) return PARSE_NO_MATCH;
    STITCHER_CHECK(MODULE, state.fields_template[state.fields_length - 1] == EOL);
    const ParseResult result =
        ParseLine(state, line, state.fields_template, entry, state.fields_style);
    // W3C extended logs give date and time in UTC (the "#Date:" header too), or at the
    // offset a "#GMT-Offset:" header names; WebSTAR's and the local fields of IIS Advanced
    // Logging are the server's local time.
    if (result == PARSE_ENTRY && state.fields_style == FieldStyle::W3C && !state.webstar_mode &&
        !state.fields_local_time) {
      entry.utc_offset = state.w3c_utc_offset;
    }
    return result;
  }
  const ParseResult result = ParseLine(state, line, BuiltinFormat(slot), entry);
  // Traefik, ingress-nginx and HAProxy write a combined line with their own fields behind it.
  if (result == PARSE_ENTRY && slot == COMBINED) ReadProxyTail(line, entry);
  if (result != PARSE_NO_MATCH && (slot == DATE_LINE || slot == ERROR_LINE)) {
    state.reason = LineReason::ERROR_LOG;
    return PARSE_HEADER;  // read, but never an entry
  }
  return result;
}

// Notes what became of the line in the state, and passes the result on.
ParseResult Noted(ParseState& state, ParseResult result, int matched) {
  if (result == PARSE_ENTRY) {
    state.reason = LineReason::ENTRY;
    state.matched = static_cast<int8_t>(matched);
  } else if (result == PARSE_HEADER && state.reason != LineReason::ERROR_LOG) {
    state.reason = LineReason::HEADER;
  }
  return result;
}

// The user formats of indexes [from, to), in order.
ParseResult TryUserFormats(ParseState& state, int from, int to, char* line, LogEntry& entry) {
  for (int i = std::max(from, 0); i < to && i < 4; ++i) {
    const int start = state.user_format_start[i];
    if (start < 0) break;
    STITCHER_CHECK(MODULE, start < USER_TOKENS_CAPACITY);
    const ParseResult result = ParseLine(state, line, state.user_tokens + start, entry);
    if (result != PARSE_NO_MATCH) return Noted(state, result, BUILTIN_FORMAT_COUNT + i);
  }
  return PARSE_NO_MATCH;
}

}  // namespace

const char* TemplateName(int matched) {
  if (matched >= 0 && matched < BUILTIN_FORMAT_COUNT) return kSlotNames[matched];
  if (matched >= BUILTIN_FORMAT_COUNT && matched < JSON_READER) {
    return kUserFormatNames[matched - BUILTIN_FORMAT_COUNT];
  }
  if (matched == JSON_READER) return "JSON lines";
  if (matched == PROXY_READER) return "load balancer or proxy";
  return "?";
}

ParseResult ParseEntry(ParseState& state, char* line, LogEntry& entry) {
  state.reason = LineReason::HEADER;
  state.date_refused = false;
  // Blank lines separate parts of a log; no template may turn one into an empty entry.
  if (const int32_t blank = BlankLineLength(line); blank > 0) {
    ResetEntry(entry);
    entry.line_length = blank;
    return PARSE_HEADER;
  }
  // A line that opens a JSON object is read as one and by no template.
  if (IsJsonLine(line)) {
    const ParseResult result = ParseJsonLine(state, line, entry);
    if (result != PARSE_NO_MATCH) return Noted(state, result, JSON_READER);
    ResetEntry(entry);
    entry.line_length = SkipLine(line);
    state.reason = LineReason::NO_DIALECT;
    return PARSE_NO_MATCH;
  }
  if (const ParseResult result = TryUserFormats(state, 0, state.fallback_from, line, entry);
      result != PARSE_NO_MATCH) {
    return result;
  }
  if (const ParseResult result = ParseProxyLine(state, line, entry); result != PARSE_NO_MATCH) {
    return Noted(state, result, PROXY_READER);
  }
  // CloudFront lines without their header lines: its documented field list is taken.
  if (state.fields_length == 0 && LooksLikeCloudFront(line)) {
    AdoptCloudFrontFields(state);
    state.current_format = FIELDS;
  }
  for (int tries = MayFitBuiltin(line) ? 0 : BUILTIN_FORMAT_COUNT; tries < BUILTIN_FORMAT_COUNT;
       ++tries) {
    const ParseResult result = TryBuiltin(state, state.current_format, line, entry);
    if (result != PARSE_NO_MATCH) return Noted(state, result, state.current_format);
    state.current_format = (state.current_format + 1) % BUILTIN_FORMAT_COUNT;
  }
  if (const ParseResult result = TryUserFormats(state, state.fallback_from, 4, line, entry);
      result != PARSE_NO_MATCH) {
    return result;
  }
  ResetEntry(entry);
  entry.line_length = SkipLine(line);
  state.reason = state.date_refused ? LineReason::DATE_OUT_OF_RANGE : LineReason::NO_DIALECT;
  return PARSE_NO_MATCH;
}
