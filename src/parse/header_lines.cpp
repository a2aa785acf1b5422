// Header lines: recognition of dialect declarations and comments, the default date of a
// "#Date:" line, and the translation of field lists into the input's own template.

#include "parse/header_lines.h"

#include "base/text.h"
#include "parse/line_ends.h"

namespace {

constexpr int MAX_FIELD_TOKENS = 48;  // fields_template: 48 fields, MUST_EOL, EOL
constexpr int FIELDS_CAPACITY = static_cast<int>(sizeof(ParseState::fields_template));

// Calls visit(index, word) for each word of a field list in the order TranslateFields
// counts them: at most 48, blanks behind the last name giving one more (empty) word.
// Returns the number of words.
template <typename Visit>
int ForEachFieldWord(const char* text, Visit visit) {
  int count = 0;
  while (count < MAX_FIELD_TOKENS && !IsLineEnd(*text)) {
    while (IsBlank(*text)) ++text;
    // Blanks behind the last name give one more SKIP (it reads the empty rest of a data
    // line); blanks alone are no field list.
    if (IsLineEnd(*text) && count == 0) break;
    visit(count++, text);
    while (!IsBlank(*text) && !IsLineEnd(*text)) ++text;
  }
  return count;
}

// IIS Advanced Logging writes date-local and time-local, often beside the UTC date and
// time (date-utc, time-utc, or the plain W3C date and time). Where a field list has both,
// the UTC field gives the entry's date or time and the local one is skipped. A list that
// dates its lines by a local field alone leaves their UTC offset unknown.
void PreferUtcDateTime(ParseState& state, const char* text) {
  bool utc_date = false;
  bool utc_time = false;
  bool local_date = false;
  bool local_time = false;
  ForEachFieldWord(text, [&](int, const char* word) {
    utc_date = utc_date || MatchKeyword("DATE", word) || MatchKeyword("DATE-UTC", word);
    utc_time = utc_time || MatchKeyword("TIME", word) || MatchKeyword("TIME-UTC", word);
    local_date = local_date || MatchKeyword("DATE-LOCAL", word);
    local_time = local_time || MatchKeyword("TIME-LOCAL", word);
  });
  state.fields_local_time = (local_date && !utc_date) || (local_time && !utc_time);
  ForEachFieldWord(text, [&](int i, const char* word) {
    if ((utc_date && MatchKeyword("DATE-LOCAL", word)) ||
        (utc_time && MatchKeyword("TIME-LOCAL", word))) {
      state.fields_template[i] = SKIP;
    }
  });
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
  if (!StartsWith("LOG_FORMAT", text)) return;
  const char* list = text + 10;
  const char* after = IsLineEnd(*list) ? list : list + 1;  // never past the line end
  if (StartsWith("COMMON_LOG_FORMAT", after)) return;
  TranslateFields(state, list, WEBSTAR_FIELDS);
  state.fields_style = FieldStyle::TEMPLATE;
  MakeTabSeparated(state);
}

// The date of a header line, yyyy-mm-dd at `d`.
struct HeaderDate {
  bool has_form = false;  // the text has the yyyy-mm-dd form
  bool in_range = false;  // and names a date the parser accepts
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
};

HeaderDate ReadHeaderDate(const char* d) {
  HeaderDate date;
  for (int i = 0; i < 9; ++i) {
    if (IsLineEnd(d[i])) return date;  // the form needs nine characters on this line
  }
  if (!IsDigit(d[0]) || d[4] != '-' || !IsDigit(d[5]) || d[7] != '-' || !IsDigit(d[8])) {
    return date;
  }
  date.has_form = true;
  date.year = ParseSignedDecimal(d);
  if (date.year < 70) {
    date.year += 2000;
  } else if (date.year < 100) {
    date.year += 1900;
  }
  date.month = ParseSignedDecimal(d + 5);
  date.day = ParseSignedDecimal(d + 8);
  date.in_range = date.year >= 1970 && date.year <= 9999 && date.month >= 1 && date.month <= 12 &&
                  date.day >= 1 && date.day <= 31;
  return date;
}

void SetDefaultDate(ParseState& state, const HeaderDate& date) {
  state.default_year = date.in_range ? date.year : 0;
  state.default_month = date.in_range ? date.month : 0;
  state.default_day = date.in_range ? date.day : 0;
}

// "#Date: yyyy-mm-dd": the default date for lines without one. False (and, for a date out
// of range, the default date cleared) when the text is no such date.
bool ReadDateHeader(ParseState& state, const char* d) {
  const HeaderDate date = ReadHeaderDate(d);
  if (!date.has_form) return false;
  SetDefaultDate(state, date);
  return date.in_range;
}

// "#Start-Date: yyyy-mm-dd ...", the IIS Advanced Logging form of "#Date:": a valid date
// becomes the default date; anything else leaves it and stays a comment line.
void ReadStartDateHeader(ParseState& state, const char* d) {
  const HeaderDate date = ReadHeaderDate(d);
  if (date.in_range) SetDefaultDate(state, date);
}

// "#GMT-Offset: -0800" (Oracle Web Cache): the stamps of the lines below are local time at
// that offset. Anything else leaves the offset as it was.
void ReadGmtOffset(ParseState& state, const char* text) {
  while (IsBlank(*text)) ++text;
  const char sign = *text;
  if (sign != '+' && sign != '-') return;
  int digits[4];
  const char* p = text + 1;
  for (int i = 0; i < 4; ++i) {
    if (i == 2 && *p == ':') ++p;
    if (!IsDigit(*p)) return;
    digits[i] = *p++ - '0';
  }
  const int hours = digits[0] * 10 + digits[1];
  const int minutes = digits[2] * 10 + digits[3];
  if (hours > 23 || minutes > 59) return;
  state.w3c_utc_offset = (sign == '-' ? -1 : 1) * (hours * 60 + minutes);
}

// Lines that begin with '#': W3C extended directives and comments.
bool ReadCommentHeader(ParseState& state, const char* text) {
  if (StartsWith("Fields:", text)) {
    TranslateFields(state, text + 7, W3C_FIELDS);
    PreferUtcDateTime(state, text + 7);
    state.fields_style = FieldStyle::W3C;
  } else if (StartsWith("Software: WebSTAR", text)) {
    state.webstar_mode = true;
  } else if (StartsWith("Date: ", text)) {
    return ReadDateHeader(state, text + 6);
  } else if (StartsWith("Start-Date: ", text)) {
    ReadStartDateHeader(state, text + 12);
  } else if (StartsWith("GMT-Offset:", text)) {
    ReadGmtOffset(state, text + 11);
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
    state.fields_style = FieldStyle::TEMPLATE;
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
  int count = ForEachFieldWord(
      text, [&](int i, const char* word) { state.fields_template[i] = LookupToken(word, table); });
  if (count == 0) {
    state.fields_length = 0;
    return;
  }
  state.fields_template[count++] = MUST_EOL;
  state.fields_template[count++] = EOL;
  state.fields_length = count;
}

bool LooksLikeCloudFront(const char* line) {
  // Each test stops at the first byte that differs, so nothing past the line end is read.
  const auto digits = [&line](int from, int to) {
    for (int i = from; i < to; ++i) {
      if (!IsDigit(line[i])) return false;
    }
    return true;
  };
  return digits(0, 4) && line[4] == '-' && digits(5, 7) && line[7] == '-' && digits(8, 10) &&
         line[10] == '\t' && digits(11, 13) && line[13] == ':' && digits(14, 16) &&
         line[16] == ':' && digits(17, 19) && line[19] == '\t';
}

void AdoptCloudFrontFields(ParseState& state) {
  // The column order AWS documents for standard logs; later columns are read as SKIP.
  static constexpr char kFields[] =
      "date time x-edge-location sc-bytes c-ip cs-method cs(Host) cs-uri-stem sc-status "
      "cs(Referer) cs(User-Agent) cs-uri-query cs(Cookie) x-edge-result-type x-edge-request-id "
      "x-host-header cs-protocol cs-bytes time-taken x-forwarded-for ssl-protocol ssl-cipher "
      "x-edge-response-result-type cs-protocol-version fle-status fle-encrypted-fields c-port "
      "time-to-first-byte x-edge-detailed-result-type sc-content-type sc-content-len "
      "sc-range-start sc-range-end\n";
  TranslateFields(state, kFields, W3C_FIELDS);
  PreferUtcDateTime(state, kFields);
  state.fields_style = FieldStyle::W3C;
}
