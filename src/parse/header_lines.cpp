// Header lines: recognition of dialect declarations and comments, the default date of a
// "#Date:" line, and the translation of field lists into the input's own template.

#include "parse/header_lines.h"

#include "base/text.h"
#include "parse/line_ends.h"

namespace {

constexpr int MAX_FIELD_TOKENS = 48;  // fields_template: 48 fields, MUST_EOL, EOL
constexpr int FIELDS_CAPACITY = static_cast<int>(sizeof(ParseState::fields_template));

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
  if (!StartsWith("LOG_FORMAT", text)) return;
  const char* list = text + 10;
  const char* after = IsLineEnd(*list) ? list : list + 1;  // never past the line end
  if (StartsWith("COMMON_LOG_FORMAT", after)) return;
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
  if (StartsWith("Fields:", text)) {
    TranslateFields(state, text + 7, W3C_FIELDS);
  } else if (StartsWith("Software: WebSTAR", text)) {
    state.webstar_mode = true;
  } else if (StartsWith("Date: ", text)) {
    return ReadDateHeader(state, text + 6);
  }
  return true;
}

bool RecogniseHeader(ParseState& state, const char* text) {
  if (text[0] == '!' && text[1] == '!') {
    ReadWebstarHeader(state, text + 2);
    return true;
  }
  if (StartsWith("format=", text)) {
    TranslateFields(state, text + 7, NETSCAPE_VARIABLES);
    return true;
  }
  if (text[0] == '#') return ReadCommentHeader(state, text + 1);
  return StartsWith("Bad URL reference received from: ", text);
}

}  // namespace

ParseResult ReadFormatLine(ParseState& state, const char* line, const char* cursor,
                           LogEntry& entry) {
  if (!RecogniseHeader(state, cursor)) return PARSE_NO_MATCH;
  entry.line_length = HeaderLineLength(line);
  return PARSE_HEADER;
}

int32_t HeaderLineLength(const char* line) {
  const char* p = line;
  while (!IsLineEnd(*p)) ++p;
  if (*p == '\r') ++p;
  if (*p == '\n') ++p;
  return static_cast<int32_t>(p - line);
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
