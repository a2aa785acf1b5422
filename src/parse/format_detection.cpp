// Format detection: the per-line choice of template, the header recogniser and the
// translation of field-list headers into the input's own template.

#include "base/check.h"
#include "base/text.h"
#include "parse/format_tokens.h"
#include "parse/parse_internal.h"
#include "parse/parse_logs.h"

namespace {

constexpr const char* MODULE = "ParseLogs";

constexpr int MAX_FIELD_TOKENS = 48;  // fields_template: 48 fields, MUST_EOL, EOL
constexpr int FIELDS_CAPACITY = static_cast<int>(sizeof(ParseState::fields_template));
constexpr int USER_TOKENS_CAPACITY = static_cast<int>(sizeof(ParseState::user_tokens));

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A WebSTAR field list is tab-separated: TAB_SEP goes in front when there is room. A list
// without names leaves no template, and a lone TAB_SEP would be a template without EOL.
void MakeTabSeparated(ParseState& state) {
  if (state.fields_length == 0 || state.fields_length >= FIELDS_CAPACITY) return;
  for (int i = state.fields_length; i > 0; --i) {
    state.fields_template[i] = state.fields_template[i - 1];
  }
  state.fields_template[0] = TAB_SEP;
  ++state.fields_length;
}

// "!!" lines: WebSTAR mode, and a "LOG_FORMAT" field list unless it names the common
// layout.
void ReadWebstarHeader(ParseState& state, const char* text) {
  state.webstar_mode = true;
  if (!StartsWith(text, "LOG_FORMAT")) return;
  const char* list = text + 10;
  const char* after = IsLineEnd(*list) ? list : list + 1;  // never past the line end
  if (StartsWith(after, "COMMON_LOG_FORMAT")) return;
  TranslateFields(state, list, WEBSTAR_FIELDS);
  MakeTabSeparated(state);
}

// "#Date: yyyy-mm-dd": the default date for lines without one. False (and, for a date out
// of range, the default date cleared) when the text is no such date.
bool ReadDateHeader(ParseState& state, const char* d) {
  for (int i = 0; i < 9; ++i) {
    if (IsLineEnd(d[i])) return false;  // the form needs nine characters on this line
  }
  if (!IsDigit(d[0]) || d[4] != '-' || !IsDigit(d[5]) || d[7] != '-' || !IsDigit(d[8])) {
    return false;
  }
  int32_t year = ParseSignedDecimal(d);
  if (year < 70) {
    year += 2000;
  } else if (year < 100) {
    year += 1900;
  }
  const int32_t month = ParseSignedDecimal(d + 5);
  const int32_t day = ParseSignedDecimal(d + 8);
  if (year < 1970 || year > 2038 || month < 1 || month > 12 || day < 1 || day > 31) {
    state.default_year = state.default_month = state.default_day = 0;
    return false;
  }
  state.default_year = year;
  state.default_month = month;
  state.default_day = day;
  return true;
}

// Lines that begin with '#': W3C extended directives and comments.
bool ReadCommentHeader(ParseState& state, const char* text) {
  if (StartsWith(text, "Fields:")) {
    TranslateFields(state, text + 7, W3C_FIELDS);
  } else if (StartsWith(text, "Software: WebSTAR")) {
    state.webstar_mode = true;
  } else if (StartsWith(text, "Date: ")) {
    return ReadDateHeader(state, text + 6);
  }
  return true;
}

bool RecogniseHeader(ParseState& state, const char* text) {
  if (text[0] == '!' && text[1] == '!') {
    ReadWebstarHeader(state, text + 2);
    return true;
  }
  if (StartsWith(text, "format=")) {
    TranslateFields(state, text + 7, NETSCAPE_VARIABLES);
    return true;
  }
  if (text[0] == '#') return ReadCommentHeader(state, text + 1);
  return StartsWith(text, "Bad URL reference received from: ");
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

ParseResult TryBuiltin(ParseState& state, int slot, char* line, LogEntry& entry) {
  if (slot == FIELDS) {
    if (state.fields_length == 0) return PARSE_NO_MATCH;
    STITCHER_CHECK(MODULE, state.fields_template[state.fields_length - 1] == EOL);
    return ParseLine(state, line, state.fields_template, entry);
  }
  const ParseResult result = ParseLine(state, line, BuiltinFormat(slot), entry);
  if (result != PARSE_NO_MATCH && (slot == DATE_LINE || slot == ERROR_LINE)) {
    return PARSE_HEADER;  // read, but never an entry
  }
  return result;
}

}  // namespace

int32_t HeaderLineLength(const char* line) {
  const char* p = line;
  while (!IsLineEnd(*p)) ++p;
  if (*p == '\r') ++p;
  if (*p == '\n') ++p;
  return static_cast<int32_t>(p - line);
}

ParseResult ReadFormatLine(ParseState& state, const char* line, const char* cursor,
                           LogEntry& entry) {
  if (!RecogniseHeader(state, cursor)) return PARSE_NO_MATCH;
  entry.line_length = HeaderLineLength(line);
  return PARSE_HEADER;
}

void TranslateFields(ParseState& state, const char* text, TranslationTable table) {
  int count = 0;
  while (count < MAX_FIELD_TOKENS && !IsLineEnd(*text)) {
    while (IsBlank(*text)) ++text;
    // Blanks behind the last name give one more SKIP (it reads the empty rest of a data
    // line); blanks alone are no field list.
    if (IsLineEnd(*text) && count == 0) break;
    state.fields_template[count++] = LookupToken(text, table);
    while (!IsBlank(*text) && !IsLineEnd(*text)) ++text;
  }
  if (count == 0) {
    state.fields_length = 0;
    return;
  }
  state.fields_template[count++] = MUST_EOL;
  state.fields_template[count++] = EOL;
  state.fields_length = count;
}

ParseResult ParseEntry(ParseState& state, char* line, LogEntry& entry) {
  for (const int start : state.user_format_start) {
    if (start < 0) break;
    STITCHER_CHECK(MODULE, start < USER_TOKENS_CAPACITY);
    const ParseResult result = ParseLine(state, line, state.user_tokens + start, entry);
    if (result != PARSE_NO_MATCH) return result;
  }
  for (int tries = 0; tries < BUILTIN_FORMAT_COUNT; ++tries) {
    const ParseResult result = TryBuiltin(state, state.current_format, line, entry);
    if (result != PARSE_NO_MATCH) return result;
    state.current_format = (state.current_format + 1) % BUILTIN_FORMAT_COUNT;
  }
  ResetEntry(entry);
  entry.line_length = SkipLine(line);
  return PARSE_NO_MATCH;
}
