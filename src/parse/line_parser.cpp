// The line parser: one line read in place against one template, in a single pass.
//
// Text fields are remembered as start and length while the template runs; nothing is
// written into the line until the whole template has matched, so a template that fails
// leaves the line intact for the next one.

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

#include "base/check.h"
#include "base/clock.h"
#include "base/text.h"
#include "parse/date_tokens.h"
#include "parse/header_lines.h"
#include "parse/line_ends.h"
#include "parse/parse_logs.h"

namespace {

constexpr const char* MODULE = "ParseLogs";

// The separator before the first token of a space-separated template. Distinct from every
// char value, bytes >= 128 included.
constexpr int NO_SEPARATOR = 0x100;

// The uri joined with '$' and a path argument, NUL included, must fit path_join.
constexpr int32_t PATH_JOIN_LIMIT = 1022;

// Text fields while the template runs; PATH_ARG is kept for the join at the end.
enum TextField : int {
  F_HOST,
  F_URI,
  F_QUERY,
  F_REFERER,
  F_AGENT,
  F_USER,
  F_METHOD,
  F_PROTOCOL,
  F_DOMAIN,
  F_SERVER,
  F_COOKIE,
  F_SESSION,
  F_FORWARDED_FOR,
  F_PATH_ARG,
  FIELD_COUNT,
};

struct Span {
  char* start;  // null: not captured
  int32_t length;
  bool escaped;  // holds escapes: "" pairs in W3C, backslashes before a quote elsewhere
};

// What one token did.
enum class Step { NEXT, FAIL, HEADER, DROP_REST };

// One attempt: the cursor, the current separator and the captured fields.
struct Reader {
  ParseState& state;
  char* const line;
  LogEntry& entry;
  const FieldStyle style;
  // Inside double quotes a quote behind an odd run of backslashes is part of the field, as
  // Apache writes it (\" for a quote, \\ for a backslash). Off in W3C lines, and off when
  // a line is read again because it did not fit that way.
  const bool backslash_escapes;
  bool escape_used;  // a quote was taken as escaped on this attempt
  char* cur = nullptr;
  int separator;
  uint8_t next_token;  // the template byte after the token being read
  Span fields[FIELD_COUNT];
};

// Where an entry may end when the rest of its template does not fit (taken at EC). Only
// `taken` is set up front: the rest is written when the checkpoint is taken and read only
// after that, so no line pays for clearing it.
struct Checkpoint {
  bool taken = false;
  char* cur = nullptr;
  Span fields[FIELD_COUNT];
  LogEntry entry;
};

int32_t Length(const char* from, const char* to) {
  return static_cast<int32_t>(to - from);
}

void Capture(Reader& r, TextField field, char* start, char* end) {
  r.fields[field] = Span{start, Length(start, end), false};
}

// The dash rule: a lone '-' (or nothing) is no value; the characters are still consumed.
void CaptureDash(Reader& r, TextField field, char* start, char* end, bool escaped = false) {
  const int32_t length = Length(start, end);
  if (length > 1 || (length == 1 && *start != '-')) {
    r.fields[field] = Span{start, length, escaped};
  }
}

// ---- Separator step and stop sets ---------------------------------------------------------

void SeparatorStep(Reader& r) {
  const char c = *r.cur;
  r.separator = static_cast<unsigned char>(c);
  if (IsBlank(c)) {
    ++r.cur;
    // W3C extended columns may be padded: a run of spaces is one separator.
    if (c == ' ' && r.style == FieldStyle::W3C) {
      while (*r.cur == ' ') ++r.cur;
    }
  } else if (c == ',') {
    ++r.cur;
    while (*r.cur == ' ') ++r.cur;
  }
}

bool SeparatorIs(const Reader& r, char c) {
  return r.separator == static_cast<unsigned char>(c);
}

// Set A: TAB, space, comma or line end.
char* ScanSetA(char* p) {
  while (!IsLineEnd(*p) && *p != '\t' && *p != ' ' && *p != ',') ++p;
  return p;
}

// Sets B and C: TAB or line end; a space after a space; ", " after a comma. Set C also
// stops, after a comma, at a comma that ends the line.
char* ScanSetBC(const Reader& r, char* p, bool comma_at_line_end) {
  const bool space = SeparatorIs(r, ' ');
  const bool comma = SeparatorIs(r, ',');
  for (;; ++p) {
    const char c = *p;
    if (IsLineEnd(c) || c == '\t') return p;
    if (c == ' ' && space) return p;
    if (c == ',' && comma && (p[1] == ' ' || (comma_at_line_end && IsLineEnd(p[1])))) return p;
  }
}

// URI and PATH_ARG: TAB or line end; a space after a space; ", " always; '?' for a URI.
char* ScanUri(const Reader& r, char* p, bool stop_at_question) {
  const bool space = SeparatorIs(r, ' ');
  for (;; ++p) {
    const char c = *p;
    if (IsLineEnd(c) || c == '\t') return p;
    if (c == ' ' && space) return p;
    if (c == ',' && p[1] == ' ') return p;
    if (c == '?' && stop_at_question) return p;
  }
}

// The query behind a plain URI's '?': up to TAB, space, ", " or line end.
char* ScanPlainQuery(char* p) {
  for (;; ++p) {
    const char c = *p;
    if (IsLineEnd(c) || c == '\t' || c == ' ') return p;
    if (c == ',' && p[1] == ' ') return p;
  }
}

// SKIP: TAB, comma or line end; a space after a space or before any separator. W3C columns
// are separated by blanks only, so there a comma stays inside the field (CloudFront's
// x-forwarded-for lists addresses as "203.0.113.1, 10.0.0.1").
char* ScanSkip(const Reader& r, char* p) {
  const bool space = SeparatorIs(r, ' ') || r.separator == NO_SEPARATOR;
  const bool comma = r.style != FieldStyle::W3C;
  while (!IsLineEnd(*p) && *p != '\t' && !(*p == ',' && comma) && !(*p == ' ' && space)) ++p;
  return p;
}

// CURI and CQUERY: comma or line end.
char* ScanToComma(char* p) {
  while (!IsLineEnd(*p) && *p != ',') ++p;
  return p;
}

// ---- Quoted forms -------------------------------------------------------------------------

enum Quotes : unsigned {
  Q_DOUBLE = 1,
  Q_ANGLE = 2,
  Q_APOSTROPHE = 4,
  Q_BACKQUOTE = 8,
};

bool OpensQuote(char c, unsigned quotes) {
  return (c == '"' && (quotes & Q_DOUBLE)) || (c == '<' && (quotes & Q_ANGLE)) ||
         (c == '\'' && (quotes & Q_APOSTROPHE)) || (c == '`' && (quotes & Q_BACKQUOTE));
}

// A quoted field that took an escaped quote must end where a field ends: otherwise the
// backslash was no escape (a server that writes a lone backslash before the closer), and
// the line is read again without escapes.
bool EndsField(char c) {
  return IsLineEnd(c) || c == ' ' || c == '\t' || c == ',';
}

// True when the quote at `quote` is escaped: backslash escapes are on and an odd run of
// backslashes, none before `open` (the first content byte), stands right before it. Any
// backslash there sets `*escaped`: the run is halved when the field is cut.
bool EscapedQuote(Reader& r, const char* open, const char* quote, bool* escaped) {
  if (!r.backslash_escapes || quote == open || quote[-1] != '\\') return false;
  *escaped = true;
  const char* p = quote;
  while (p > open && p[-1] == '\\') --p;
  if ((quote - p) % 2 == 0) return false;
  r.escape_used = true;
  return true;
}

// Reads the quoted content at the cursor (which stands on the opener) into [start, end)
// and moves past the closer. False when the closer is missing. With `line_break_closer`,
// content that stops at a CR or LF directly followed by the closer is accepted too. In a
// W3C line "" inside a double-quoted string is a literal quote, not the closer; elsewhere
// a quote escaped by a backslash is (EscapedQuote). `*escaped` tells whether the content
// holds such escapes.
bool ReadQuoted(Reader& r, char** start, char** end, bool line_break_closer, bool* escaped) {
  const char closer = *r.cur == '<' ? '>' : *r.cur;
  const bool doubling = closer == '"' && r.style == FieldStyle::W3C;
  char* p = r.cur + 1;
  *start = p;
  *escaped = false;
  // The content runs to the closer or a line end; strcspn also stops at the NUL.
  const char stops[] = {closer, '\r', '\n', '\0'};
  p += std::strcspn(p, stops);
  bool backslash_escape = false;
  while (closer == '"' && *p == '"') {
    if (doubling && p[1] == '"') {
      *escaped = true;
      p += 2;
    } else if (EscapedQuote(r, *start, p, escaped)) {
      backslash_escape = true;
      ++p;
    } else {
      break;
    }
    p += std::strcspn(p, stops);
  }
  *end = p;
  if (backslash_escape && *p == closer && !EndsField(p[1])) return false;
  if (*p == closer) {
    r.cur = p + 1;
    return true;
  }
  if (line_break_closer && (*p == '\r' || *p == '\n') && p[1] == closer) {
    r.cur = p + 2;
    return true;
  }
  return false;
}

// A text field: quoted by one of `quotes`, or plain up to `scan`; dash rule.
template <typename Scan>
Step ReadText(Reader& r, TextField field, unsigned quotes, Scan scan,
              bool line_break_closer = false) {
  char* start = r.cur;
  char* end = nullptr;
  bool escaped = false;
  if (OpensQuote(*r.cur, quotes)) {
    if (!ReadQuoted(r, &start, &end, line_break_closer, &escaped)) return Step::FAIL;
  } else {
    end = scan(r.cur);
    r.cur = end;
  }
  CaptureDash(r, field, start, end, escaped);
  return Step::NEXT;
}

// ---- Numbers --------------------------------------------------------------------------

// A decimal field: a digit first, every digit consumed, no '.' behind them.
bool ReadDecimal(Reader& r, int32_t* value) {
  if (!IsDigit(*r.cur)) return false;
  *value = ParseSignedDecimal(r.cur);
  while (IsDigit(*r.cur)) ++r.cur;
  return *r.cur != '.';
}

// Transfer times are scaled in 64 bits and clamped, so a huge value cannot overflow.
int32_t Clamp32(int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

Step ReadStatusOrBytes(Reader& r, int32_t* field, int32_t dash_value) {
  if (*r.cur == '-') {
    *field = dash_value;
    ++r.cur;
    return Step::NEXT;
  }
  return ReadDecimal(r, field) ? Step::NEXT : Step::FAIL;
}

// BYTES: a 64-bit count, so downloads of several gigabytes keep their size; a count beyond
// INT64_MAX stays at INT64_MAX. '-' gives `dash_value`.
Step ReadBytes(Reader& r, int64_t dash_value) {
  if (*r.cur == '-') {
    r.entry.bytes = dash_value;
    ++r.cur;
    return Step::NEXT;
  }
  if (!IsDigit(*r.cur)) return Step::FAIL;
  uint64_t value = 0;
  constexpr uint64_t CAP = static_cast<uint64_t>(INT64_MAX);
  for (; IsDigit(*r.cur); ++r.cur) {
    const auto digit = static_cast<uint64_t>(*r.cur - '0');
    value = value > (CAP - digit) / 10 ? CAP : value * 10 + digit;
  }
  r.entry.bytes = static_cast<int64_t>(value);
  return *r.cur != '.' ? Step::NEXT : Step::FAIL;
}

// v * multiplier / divisor rounded to the nearest integer, for v >= 0.
int64_t RoundedScale(int64_t v, int64_t multiplier, int64_t divisor) {
  return (v * multiplier * 2 + divisor) / (2 * divisor);
}

// TRAN_TIME_SECS, TRAN_TIME_TICKS and TRAN_TIME_MICRO: n * multiplier / divisor milliseconds,
// rounded to the nearest; '-' leaves the time absent.
Step ReadTransferTime(Reader& r, int64_t multiplier, int64_t divisor) {
  if (*r.cur == '-') {
    ++r.cur;
    return Step::NEXT;
  }
  if (!IsDigit(*r.cur)) return Step::FAIL;
  // Read in 64 bits and capped, so a long request in a fine unit (Apache's %D counts
  // microseconds: 2^31 of them is 36 minutes) is clamped instead of wrapping round.
  constexpr int64_t CAP = int64_t{1} << 40;  // far beyond INT32_MAX milliseconds in any unit
  int64_t n = 0;
  for (; IsDigit(*r.cur); ++r.cur) n = std::min(n * 10 + (*r.cur - '0'), CAP);
  if (*r.cur == '.') return Step::FAIL;
  r.entry.transfer_time = Clamp32(RoundedScale(n, multiplier, divisor));
  return Step::NEXT;
}

bool TwoDigits(const char* p) {
  return IsDigit(p[0]) && IsDigit(p[1]);
}
int32_t TwoDigitValue(const char* p) {
  return (p[0] - '0') * 10 + (p[1] - '0');
}

// TRAN_TIME_MILLI: whole milliseconds, as IIS writes time-taken, or seconds when the value
// has a fraction, as CloudFront writes it ("0.001"), rounded to the nearest millisecond.
// '-' leaves the time absent.
Step ReadMilliseconds(Reader& r) {
  if (*r.cur == '-') {
    ++r.cur;
    return Step::NEXT;
  }
  constexpr int64_t WHOLE_CAP = int64_t{1} << 40;  // far beyond INT32_MAX in any unit
  constexpr int64_t FRACTION_DIGITS_CAP = 1'000'000'000;
  const char* p = r.cur;
  if (!IsDigit(*p)) return Step::FAIL;
  int64_t whole = 0;
  for (; IsDigit(*p); ++p) whole = std::min(whole * 10 + (*p - '0'), WHOLE_CAP);
  int64_t milliseconds = whole;
  if (*p == '.') {
    ++p;
    if (!IsDigit(*p)) return Step::FAIL;
    int64_t numerator = 0;
    int64_t denominator = 1;
    for (; IsDigit(*p); ++p) {
      if (denominator >= FRACTION_DIGITS_CAP) continue;  // finer than the unit: ignored
      numerator = numerator * 10 + (*p - '0');
      denominator *= 10;
    }
    if (*p == '.') return Step::FAIL;
    milliseconds = whole * 1000 + RoundedScale(numerator, 1000, denominator);
  }
  r.entry.transfer_time = Clamp32(milliseconds);
  r.cur += p - r.cur;  // keeps the writable pointer
  return Step::NEXT;
}

// TRAN_TIME_HMS: HH:MM:SS when the third character is ':', else sixtieths of a second.
Step ReadTransferHms(Reader& r) {
  const char* p = r.cur;
  if (*p != '-' && !IsLineEnd(p[0]) && !IsLineEnd(p[1]) && p[2] == ':') {
    if (!TwoDigits(p) || !TwoDigits(p + 3) || p[5] != ':' || !TwoDigits(p + 6)) {
      return Step::FAIL;
    }
    const int32_t seconds =
        TwoDigitValue(p) * 3600 + TwoDigitValue(p + 3) * 60 + TwoDigitValue(p + 6);
    r.entry.transfer_time = seconds * 1000;
    r.cur += 8;
    return Step::NEXT;
  }
  return ReadTransferTime(r, 50, 3);
}

// ---- Tokens ----------------------------------------------------------------------------

// The quoted request line: method, uri with optional query, optional protocol. A quote
// escaped by a backslash (EscapedQuote) is part of the request.
Step ReadFullRequest(Reader& r) {
  if (*r.cur != '"') return Step::FAIL;
  char* p = r.cur + 1;
  if (p[0] == '-' && p[1] == '"') {  // a request that is not there
    r.cur = p + 2;
    return Step::NEXT;
  }
  const char* const open = p;
  bool escaped = false;
  bool escape_taken = false;
  const auto closes = [&](const char* q) {
    if (*q != '"') return false;
    if (!EscapedQuote(r, open, q, &escaped)) return true;
    escape_taken = true;
    return false;
  };
  char* const method = p;
  while (*p != ' ' && !closes(p) && !IsLineEnd(*p)) ++p;
  Capture(r, F_METHOD, method, p);
  if (!closes(p)) {
    if (*p != ' ') return Step::FAIL;
    char* const uri = ++p;
    while (*p != ' ' && !closes(p) && *p != '?' && !IsLineEnd(*p)) ++p;
    Capture(r, F_URI, uri, p);
    TextField last = F_URI;  // the part that ends where the protocol's words begin
    char* last_start = uri;
    if (*p == '?') {
      char* const query = ++p;
      while (*p != ' ' && !closes(p) && !IsLineEnd(*p)) ++p;
      Capture(r, F_QUERY, query, p);
      last = F_QUERY;
      last_start = query;
    }
    if (!closes(p)) {
      char* const rest = p;
      while (*p == ' ') ++p;
      char* protocol = p;
      char* before_protocol = rest;
      while (!closes(p) && !IsLineEnd(*p)) {
        if (*p == ' ') {
          protocol = p + 1;
          before_protocol = p;
        }
        ++p;
      }
      // A quote directly followed by "HTTP" belongs to a request whose uri held a quote or
      // a space: the protocol starts again behind it.
      if (*p == '"' && StartsWith("HTTP", p + 1)) {
        protocol = ++p;
        while (!closes(p) && !IsLineEnd(*p)) ++p;
      } else if (p > protocol) {
        // A request line of more than three words keeps the words before the last in its
        // uri (or query), so that none is lost: "one two three four".
        while (before_protocol > rest && before_protocol[-1] == ' ') --before_protocol;
        if (before_protocol > rest) Capture(r, last, last_start, before_protocol);
      }
      if (p > protocol) Capture(r, F_PROTOCOL, protocol, p);
    }
  }
  if (escape_taken && *p == '"' && !EndsField(p[1])) return Step::FAIL;
  if (escaped) {
    for (TextField part : {F_METHOD, F_URI, F_QUERY, F_PROTOCOL}) r.fields[part].escaped = true;
  }
  r.cur = *p == '"' ? p + 1 : p;
  return Step::NEXT;
}

// URI: quoted (query inside the quotes, closer required) or plain; no dash rule.
Step ReadUri(Reader& r) {
  char* p = r.cur;
  if (*p == '"') {
    char* const uri = ++p;
    while (*p != '"' && *p != '?' && !IsLineEnd(*p)) ++p;
    Capture(r, F_URI, uri, p);
    if (*p == '?') {
      char* const query = ++p;
      while (*p != '"' && !IsLineEnd(*p)) ++p;
      Capture(r, F_QUERY, query, p);
    }
    if (*p != '"') return Step::FAIL;
    r.cur = p + 1;
    return Step::NEXT;
  }
  p = ScanUri(r, p, true);
  Capture(r, F_URI, r.cur, p);
  if (*p == '?') {
    char* const query = p + 1;
    p = ScanPlainQuery(query);
    Capture(r, F_QUERY, query, p);
  }
  r.cur = p;
  return Step::NEXT;
}

Step ReadWebstarResult(Reader& r) {
  int32_t status = 200;
  if (StartsWith("ERR!", r.cur)) {
    status = 404;
  } else if (StartsWith("PRIV", r.cur)) {
    status = 401;
  }
  r.entry.status = status;
  while (!IsLineEnd(*r.cur) && *r.cur != '\t') ++r.cur;
  return Step::NEXT;
}

// DOMAIN, MAY_DOMAIN and the domain form of CS_HOST. `keep` keeps a domain set earlier on
// this line.
Step ReadDomain(Reader& r, bool keep) {
  const Span before = r.fields[F_DOMAIN];
  const Step step = ReadText(r, F_DOMAIN, Q_DOUBLE | Q_ANGLE, ScanSetA);
  if (keep && before.start != nullptr) r.fields[F_DOMAIN] = before;
  return step;
}

// CS_HOST: the client in a WebSTAR log; elsewhere the host the client asked for, which is
// the virtual host whatever site name or server address the line gave before it.
Step ReadCsHost(Reader& r) {
  if (r.state.webstar_mode) return ReadText(r, F_HOST, Q_DOUBLE, ScanSetA);
  return ReadDomain(r, false);
}

// USER right before DATE_CLF, as in a common-log line: the user runs to the " [" that
// opens the date, so a name with blanks ("John Doe") stays whole. Not when its first word
// is a lone '-': that is the identity field of a line with a virtual host in front, which
// VHOST_COMBINED reads.
Step ReadUserBeforeDate(Reader& r) {
  constexpr unsigned USER_QUOTES = Q_DOUBLE | Q_ANGLE;
  auto set_b = [&r](char* p) { return ScanSetBC(r, p, false); };
  if (!SeparatorIs(r, ' ') || OpensQuote(*r.cur, USER_QUOTES)) {
    return ReadText(r, F_USER, USER_QUOTES, set_b);
  }
  char* p = r.cur;
  while (!IsLineEnd(*p) && *p != '\t' && !(p[0] == ' ' && p[1] == '[')) ++p;
  const bool before_date = p[0] == ' ' && p[1] == '[';
  const bool identity_first = r.cur[0] == '-' && r.cur[1] == ' ';
  if (!before_date || identity_first) return ReadText(r, F_USER, USER_QUOTES, set_b);
  CaptureDash(r, F_USER, r.cur, p);
  r.cur = p;
  return Step::NEXT;
}

// The IIS service name ("W3SVC1"): it marks a web-service line and is passed over; an
// FTP service line ("MSFTPSVC") is no entry.
Step ReadW3svc(Reader& r) {
  if (StartsWith("W3SVC", r.cur)) {
    r.cur = ScanToComma(r.cur);
    return Step::NEXT;
  }
  if (StartsWith("MSFTPSVC", r.cur)) {
    r.entry.line_length = HeaderLineLength(r.line);
    return Step::HEADER;
  }
  return Step::FAIL;
}

// Moves four captured texts round: query <- cookie <- referer <- agent <- query.
void Fixup(Reader& r) {
  const Span query = r.fields[F_QUERY];
  r.fields[F_QUERY] = r.fields[F_COOKIE];
  r.fields[F_COOKIE] = r.fields[F_REFERER];
  r.fields[F_REFERER] = r.fields[F_AGENT];
  r.fields[F_AGENT] = query;
}

// FORWARDED_FOR: an address list ("198.51.100.4, 10.0.0.1", IPv6 in brackets or not), plain
// or in double quotes; '-' is none. Anything else (a cookie, a router name, a bare counter)
// is no address list, so the field fails and a combined line ends before it.
Step ReadForwardedFor(Reader& r) {
  char* const before = r.cur;
  const Step step =
      ReadText(r, F_FORWARDED_FOR, Q_DOUBLE, [&r](char* p) { return ScanSetBC(r, p, false); });
  const Span& span = r.fields[F_FORWARDED_FOR];
  if (step != Step::NEXT || span.start == nullptr) return step;
  bool address = false;
  for (const char* p = span.start; p < span.start + span.length; ++p) {
    const char c = *p;
    if (c == '.' || c == ':') {
      address = true;
      continue;
    }
    const bool hex = IsDigit(c) || (ToLowerAscii(c) >= 'a' && ToLowerAscii(c) <= 'f');
    if (!hex && c != ',' && c != ' ' && c != '[' && c != ']') {
      address = false;
      break;
    }
  }
  if (address) return Step::NEXT;
  r.fields[F_FORWARDED_FOR] = Span{};
  r.cur = before;
  return Step::FAIL;
}

// EC: the rest of the template stays only when no number, or a number ended by a space or
// the line end, stands here (and the line goes on).
Step LookAheadEc(const Reader& r) {
  const char* p = r.cur;
  if (IsLineEnd(*p) || *p == '[') return Step::DROP_REST;
  if (!IsDigit(*p)) return Step::NEXT;
  while (IsDigit(*p)) ++p;
  return (*p == ' ' || IsLineEnd(*p)) ? Step::NEXT : Step::DROP_REST;
}

// A date, time or number: its reader takes a bare value. A W3C log that quotes every value
// (Imperva Incapsula: "2024-03-05" "10:00:00" "GET" ...) has it read inside its quotes, and
// the closing quote must follow it.
template <typename Read>
Step ReadBare(Reader& r, Read read) {
  if (*r.cur != '"' || r.style != FieldStyle::W3C) return read();
  ++r.cur;
  const Step step = read();
  if (step != Step::NEXT) return step;
  if (*r.cur != '"') return Step::FAIL;
  ++r.cur;
  return Step::NEXT;
}

Step ReadDate(Reader& r, uint8_t token) {
  const char* next = token == TIME_24 && r.style == FieldStyle::W3C
                         ? ReadW3cTime(r.cur, r.entry)
                         : ReadDateToken(token, r.cur, r.entry);
  if (next == nullptr) return Step::FAIL;
  r.cur += next - r.cur;  // keeps the writable pointer
  return Step::NEXT;
}

Step ReadToken(Reader& r, uint8_t token) {
  auto set_a = [](char* p) { return ScanSetA(p); };
  auto set_b = [&r](char* p) { return ScanSetBC(r, p, false); };
  auto set_c = [&r](char* p) { return ScanSetBC(r, p, true); };
  auto skip = [&r](char* p) { return ScanSkip(r, p); };
  auto comma = [](char* p) { return ScanToComma(p); };
  constexpr unsigned ALL_QUOTES = Q_DOUBLE | Q_ANGLE | Q_APOSTROPHE | Q_BACKQUOTE;

  switch (token) {
    case FULL_REQUEST:
      return ReadFullRequest(r);
    case HOST:
      return ReadText(r, F_HOST, Q_DOUBLE, set_a);
    case URI:
      return ReadUri(r);
    case URI_QUERY:
      return ReadText(r, F_QUERY, Q_DOUBLE, set_c);
    case STATUS:
      return ReadBare(r, [&r] { return ReadStatusOrBytes(r, &r.entry.status, NO_NUMBER); });
    case WEBSTAR_RESULT:
      return ReadWebstarResult(r);
    case BYTES:
      return ReadBare(r, [&r] { return ReadBytes(r, NO_NUMBER); });
    case TRAN_TIME_SECS:
      return ReadBare(r, [&r] { return ReadTransferTime(r, 1000, 1); });
    case TRAN_TIME_TICKS:
      return ReadBare(r, [&r] { return ReadTransferTime(r, 50, 3); });
    case TRAN_TIME_MICRO:
      return ReadBare(r, [&r] { return ReadTransferTime(r, 1, 1000); });
    case FORWARDED_FOR:
      return ReadForwardedFor(r);
    case TRAN_TIME_MILLI:
      return ReadBare(r, [&r] { return ReadMilliseconds(r); });
    case TRAN_TIME_HMS:
      return ReadBare(r, [&r] { return ReadTransferHms(r); });
    case REFERER:
      return ReadText(r, F_REFERER, ALL_QUOTES, set_c, true);
    case AGENT:
      return ReadText(r, F_AGENT, ALL_QUOTES, set_b);
    case USER:
      if (r.next_token == DATE_CLF) return ReadUserBeforeDate(r);
      return ReadText(r, F_USER, Q_DOUBLE | Q_ANGLE, set_b);
    case SESSION:
      return ReadText(r, F_SESSION, Q_DOUBLE | Q_ANGLE, set_b);
    case METHOD:
      return ReadText(r, F_METHOD, Q_DOUBLE | Q_ANGLE, set_a);
    case SERVER:
      return ReadText(r, F_SERVER, Q_DOUBLE | Q_ANGLE, set_a);
    case COOKIE:
      return ReadText(r, F_COOKIE, Q_DOUBLE | Q_ANGLE, set_c);
    case PROTOCOL:
      return ReadText(r, F_PROTOCOL, r.style == FieldStyle::W3C ? unsigned{Q_DOUBLE} : 0u, set_a);
    case DOMAIN:
      return ReadDomain(r, false);
    case MAY_DOMAIN:
      return ReadDomain(r, true);
    case CS_HOST:
      return ReadCsHost(r);
    case SKIP: {
      char* start = nullptr;
      char* end = nullptr;
      bool escaped = false;
      if (OpensQuote(*r.cur, Q_DOUBLE | Q_ANGLE)) {
        return ReadQuoted(r, &start, &end, false, &escaped) ? Step::NEXT : Step::FAIL;
      }
      r.cur = skip(r.cur);
      return Step::NEXT;
    }
    case MUST_EOL:
      return IsLineEnd(*r.cur) ? Step::NEXT : Step::FAIL;
    case W3SVC:
      return ReadW3svc(r);
    case FIXUP:
      Fixup(r);
      return Step::NEXT;
    case EC:
      return LookAheadEc(r);
    case CHAR:
      if (!IsLineEnd(*r.cur)) ++r.cur;
      return Step::NEXT;
    case FORMAT_LINE:
      return ReadFormatLine(r.state, r.line, r.cur, r.entry) == PARSE_HEADER ? Step::HEADER
                                                                             : Step::FAIL;
    case PATH_ARG: {
      char* const end = ScanUri(r, r.cur, false);
      Capture(r, F_PATH_ARG, r.cur, end);
      r.cur = end;
      return Step::NEXT;
    }
    case CURI: {
      char* const end = comma(r.cur);
      Capture(r, F_URI, r.cur, end);
      r.cur = end;
      return Step::NEXT;
    }
    case CQUERY:
      return ReadText(r, F_QUERY, 0, comma);
    default:
      break;
  }
  if (IsDateToken(token)) return ReadBare(r, [&r, token] { return ReadDate(r, token); });
  // TAB_SEP after the first byte, or a byte that is no token. Built-in templates never
  // hold one and user templates are checked when they are compiled.
  STITCHER_FAIL(MODULE, "Invalid log format field");
}

// ---- Finishing an entry ------------------------------------------------------------------

bool DateIsValid(const LogEntry& e, int32_t year_limit) {
  const bool year_ok = e.year == 0 || (e.year >= 1970 && e.year <= 9999 && e.year < year_limit);
  return year_ok && e.month >= 0 && e.month <= 12 && e.day >= 0 && e.day <= 31 && e.hour >= 0 &&
         e.hour <= 23 && e.minute >= 0 && e.minute <= 59 && e.second >= 0 && e.second <= 59;
}

// Bytes from the line start through the first line end at or after `p`; CR LF and LF CR
// count as one line end, the NUL behind the data as none.
int32_t EntryLineLength(const char* line, const char* p) {
  while (!IsLineEnd(*p)) ++p;
  return Length(line, PastLineEnd(p));
}

// Removes the escapes of a field in place; the span shrinks. W3C: each "" pair becomes one
// quote. Elsewhere a run of backslashes before a quote, or before the closing quote behind
// the span, is halved (an odd run's last backslash escaped the quote); other backslashes
// stay as they are.
void RemoveEscapes(Span& span, FieldStyle style) {
  if (span.start == nullptr || !span.escaped) return;
  char* const end = span.start + span.length;
  char* out = span.start;
  if (style == FieldStyle::W3C) {
    for (const char* in = span.start; in < end; ++in) {
      *out++ = *in;
      if (*in == '"' && in + 1 < end && in[1] == '"') ++in;
    }
  } else {
    const bool closer_follows = *end == '"';  // read before any NUL is written
    for (const char* in = span.start; in < end;) {
      if (*in != '\\') {
        *out++ = *in++;
        continue;
      }
      const char* const run = in;
      while (in < end && *in == '\\') ++in;
      const bool before_quote = in < end ? *in == '"' : closer_follows;
      const int32_t kept = before_quote ? Length(run, in) / 2 : Length(run, in);
      std::memset(out, '\\', static_cast<size_t>(kept));
      out += kept;
    }
  }
  span.length = Length(span.start, out);
  span.escaped = false;
}

// The entry field of a captured span, cut with a NUL in place; absent when not captured.
EntryText Terminated(const Span& span) {
  if (span.start == nullptr) return EntryText{};
  span.start[span.length] = '\0';
  return EntryText{span.start, span.length};
}

// The uri, a '$' and the path argument in the input's path_join buffer; absent (the uri
// stays alone) without a path argument or a uri, or when the result would not fit.
EntryText JoinPathArgument(Reader& r) {
  const Span& uri = r.fields[F_URI];
  const Span& arg = r.fields[F_PATH_ARG];
  if (arg.start == nullptr || arg.length < 1 || uri.start == nullptr) return EntryText{};
  if (uri.length > PATH_JOIN_LIMIT || arg.length > PATH_JOIN_LIMIT - uri.length) {
    return EntryText{};
  }
  char* out = r.state.path_join;
  std::memcpy(out, uri.start, static_cast<size_t>(uri.length));
  out[uri.length] = '$';
  std::memcpy(out + uri.length + 1, arg.start, static_cast<size_t>(arg.length));
  const int32_t length = uri.length + 1 + arg.length;
  out[length] = '\0';
  return EntryText{out, length};
}

ParseResult FinishEntry(Reader& r) {
  LogEntry& e = r.entry;
  if (e.year == 0 && e.month == 0 && e.day == 0) {
    e.year = r.state.default_year;
    e.month = r.state.default_month;
    e.day = r.state.default_day;
  }
  if (e.hour == 24) e.hour = 0;
  if (!DateIsValid(e, r.state.year_limit)) {
    r.state.date_refused = true;
    return PARSE_NO_MATCH;
  }

  const int32_t length = EntryLineLength(r.line, r.cur);
  // An empty line at the end of the data would let the caller advance by nothing.
  if (length == 0) return PARSE_NO_MATCH;
  e.line_length = length;

  // The rewrites and the join work on the captured spans, before any NUL is written.
  for (Span& field : r.fields) RemoveEscapes(field, r.style);
  Span& uri = r.fields[F_URI];
  if (uri.start != nullptr && uri.length > 0 && uri.start[0] == ':') {
    std::replace(uri.start, uri.start + uri.length, ':', '/');
  }
  const EntryText joined = JoinPathArgument(r);
  e.client_host = Terminated(r.fields[F_HOST]);
  e.uri = Terminated(uri);
  e.query = Terminated(r.fields[F_QUERY]);
  e.referer = Terminated(r.fields[F_REFERER]);
  e.agent = Terminated(r.fields[F_AGENT]);
  e.user = Terminated(r.fields[F_USER]);
  e.method = Terminated(r.fields[F_METHOD]);
  e.protocol = Terminated(r.fields[F_PROTOCOL]);
  e.domain = Terminated(r.fields[F_DOMAIN]);
  e.server = Terminated(r.fields[F_SERVER]);
  e.cookie = Terminated(r.fields[F_COOKIE]);
  e.session = Terminated(r.fields[F_SESSION]);
  e.forwarded_for = Terminated(r.fields[F_FORWARDED_FOR]);
  if (joined.text != nullptr) e.uri = joined;
  return PARSE_ENTRY;
}

}  // namespace

void InitParseState(ParseState& state) {
  state = ParseState{};
  constexpr int32_t MONTH_AHEAD = 2678400;  // 31 days
  const int32_t now = TimeNow();
  const int32_t ahead = now > INT32_MAX - MONTH_AHEAD ? INT32_MAX : now + MONTH_AHEAD;
  int32_t year = 0;
  TimeToFields(ahead, &year, nullptr, nullptr, nullptr, nullptr, nullptr);
  state.year_limit = year + 1;
}

namespace {

// One reading of the line against the template; `*escape_used` tells whether it took a
// quote as escaped by a backslash.
ParseResult ReadLine(ParseState& state, char* line, LogFormat format, LogEntry& entry,
                     FieldStyle style, bool backslash_escapes, bool* escape_used) {
  // Tokens set only numbers; FinishEntry sets every text field of an accepted line, from
  // the captured spans, and any other result leaves them absent. So the text fields are not
  // cleared for every line.
  ResetEntryNumbers(entry);
  Reader r{state, line, entry, style, backslash_escapes, false, line, NO_SEPARATOR, EOL, {}};
  const auto result = [&r, &entry, escape_used](ParseResult value) {
    *escape_used = r.escape_used;
    if (value != PARSE_ENTRY) ClearEntryTexts(entry);
    return value;
  };
  // EC takes it: when a later token fails, the entry ends where EC stood, so fields that
  // follow a combined line (a forwarded-for address, timings, a host) are passed over.
  Checkpoint fallback;
  LogFormat t = format;
  if (*t == TAB_SEP) {
    r.separator = '\t';
    ++t;
  }
  while (*t != EOL) {
    const uint8_t token = *t++;
    if (token == IF_EOL) {
      if (IsLineEnd(*r.cur)) break;
      continue;
    }
    Step step = Step::NEXT;
    if (token == WN) {
      // Branch into a sub-template by the next character; the rest of this one is left.
      const char c = *r.cur;
      if (IsLineEnd(c) || c == '[') break;
      if (c == '<') t = WN_ANGLE;
      if (IsLetter(c)) t = WN_WORD;
    } else {
      r.next_token = *t;
      step = ReadToken(r, token);
    }
    if (step == Step::FAIL) {
      if (!fallback.taken) return result(PARSE_NO_MATCH);
      r.cur = fallback.cur;
      std::copy(std::begin(fallback.fields), std::end(fallback.fields), std::begin(r.fields));
      entry = fallback.entry;
      break;
    }
    if (step == Step::HEADER) return result(PARSE_HEADER);
    if (step == Step::DROP_REST) break;
    if (token == EC) {
      fallback.taken = true;
      fallback.cur = r.cur;
      std::copy(std::begin(r.fields), std::end(r.fields), std::begin(fallback.fields));
      fallback.entry = entry;
    }
    SeparatorStep(r);
  }
  return result(FinishEntry(r));
}

}  // namespace

ParseResult ParseLine(ParseState& state, char* line, LogFormat format, LogEntry& entry,
                      FieldStyle style) {
  // A line that fits only when no quote counts as escaped (a server that writes a lone
  // backslash before the closing quote) is read as it always was. A reading that fails
  // has written nothing into the line, so it can be read again.
  const bool backslash_escapes = style != FieldStyle::W3C;
  bool escape_used = false;
  const ParseResult first =
      ReadLine(state, line, format, entry, style, backslash_escapes, &escape_used);
  if (first != PARSE_NO_MATCH || !escape_used) return first;
  return ReadLine(state, line, format, entry, style, false, &escape_used);
}
