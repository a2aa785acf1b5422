#include "output/writers.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "base/check.h"
#include "entries/zone_shift.h"
#include "platform/byte_scan.h"

namespace {

// ---- Text pieces -------------------------------------------------------------------------

// A text and its length, so that each field is measured once per line. `data` is null only
// for an NCSA query that is absent (the line then prints no '?').
struct Text {
  const char* data;
  size_t size;
};

template <size_t N>
constexpr Text Literal(const char (&text)[N]) {
  return Text{text, N - 1};
}

// The text of an entry field, measured by the length it carries.
Text FieldText(const EntryText& field) {
  return field.text != nullptr ? Text{field.text, static_cast<size_t>(field.length)}
                               : Text{nullptr, 0};
}

// Builds with assertions check, for every entry a writer is given, that each text field
// carries the length of its text (an absent field the length 0), so that every test run
// verifies each stage that cuts or rewrites a field. A mismatch stops the program: the
// line would lose bytes or print bytes behind its field.
void CheckFieldLengths([[maybe_unused]] const LogEntry& entry) {
#ifndef NDEBUG
  const struct {
    const char* name;
    const EntryText& field;
  } fields[] = {
      {"client_host", entry.client_host},
      {"uri", entry.uri},
      {"query", entry.query},
      {"referer", entry.referer},
      {"agent", entry.agent},
      {"user", entry.user},
      {"method", entry.method},
      {"protocol", entry.protocol},
      {"domain", entry.domain},
      {"server", entry.server},
      {"cookie", entry.cookie},
      {"session", entry.session},
      {"forwarded_for", entry.forwarded_for},
      {"source", entry.source},
  };
  for (const auto& [name, field] : fields) {
    const size_t actual = field.text != nullptr ? std::strlen(field.text) : 0;
    if (field.length >= 0 && actual == static_cast<size_t>(field.length)) continue;
    std::fprintf(stderr,
                 "stitcher: internal error: the entry field %s carries the length %d, but its "
                 "text \"%.80s\" is %zu bytes long\n",
                 name, static_cast<int>(field.length),
                 field.text != nullptr ? field.text : "(absent)", actual);
    std::abort();
  }
#endif
}

// ---- Data --------------------------------------------------------------------------------

constexpr Text MONTH_NAMES[12] = {Literal("Jan"), Literal("Feb"), Literal("Mar"), Literal("Apr"),
                                  Literal("May"), Literal("Jun"), Literal("Jul"), Literal("Aug"),
                                  Literal("Sep"), Literal("Oct"), Literal("Nov"), Literal("Dec")};
// An entry without a date (month 0), or with a month no parser produces, still gets a
// three-letter month so the stamp keeps its shape; "???" makes the missing date visible.
constexpr Text UNKNOWN_MONTH = Literal("???");

// Placeholders for absent text fields.
constexpr Text NO_TEXT = Literal("-");
constexpr Text NO_METHOD = Literal("GET");
constexpr Text NO_URI = Literal("/");              // a method without a uri
constexpr Text NO_PROTOCOL = Literal("HTTP/1.0");  // a request line read without one
constexpr Text SHED_COOKIE = Literal("");

// Estimated length of each line without its text fields: the fixed text, the numbers and
// the time stamp together (the NCSA protocol is measured with the texts). The estimate
// ignores the digits of large numbers, so the formatted length is checked as well.
constexpr int64_t NCSA_BASE = 54;
constexpr int64_t W3C_BASE = 48;
constexpr int64_t WEBSTAR_BASE = 52;

// Line terminators by NewlineStyle: MAC, UNIX, DOS.
constexpr Text TERMINATORS[3] = {Literal("\r"), Literal("\n"), Literal("\r\n")};

// How a field inside double quotes writes a quote of its own.
enum class Quotes : uint8_t { AS_IS, BACKSLASH, DOUBLED };

// ---- Scanning for the bytes a field rewrites --------------------------------------------

// The bytes a field is scanned for. FIELD: a field that stands between separators, where
// blank, tab, CR and LF are rewritten; QUOTED: one between double quotes, where only CR
// and LF are. Both stop at the double quote and the backslash, which escaping looks at.
enum class ByteScan : uint8_t { FIELD = 1, QUOTED = 2 };

// For every byte value, the scans that stop at it (bits of ByteScan).
constexpr std::array<uint8_t, 256> SCAN_STOPS = [] {
  std::array<uint8_t, 256> stops{};
  constexpr uint8_t BOTH =
      static_cast<uint8_t>(ByteScan::FIELD) | static_cast<uint8_t>(ByteScan::QUOTED);
  for (const unsigned char c : {'\r', '\n', '"', '\\'}) stops[c] = BOTH;
  for (const unsigned char c : {' ', '\t'}) stops[c] = static_cast<uint8_t>(ByteScan::FIELD);
  return stops;
}();

// The length of the leading run of `size` bytes at `p` that holds no byte `scan` stops at.
// Most fields hold none. A long one is scanned 16 bytes a step for the quote, the
// backslash and the bytes from 0 up to the blank (FIELD) or to CR (QUOTED), so the scan
// may stop early, at any control byte (a rare guest in a log field), which the caller
// copies as it is.
size_t PlainRun(const char* p, size_t size, ByteScan scan) {
  if (size >= 16) {
    return FindByteOrLow(p, size, '"', '\\', scan == ByteScan::FIELD ? ' ' : '\r');
  }
  size_t at = 0;
  const auto wanted = static_cast<uint8_t>(scan);
  const auto stops = [p](size_t i) { return SCAN_STOPS[static_cast<unsigned char>(p[i])]; };
  // Four bytes a test while four remain, then byte by byte to the stop or the end.
  while (at + 4 <= size &&
         ((stops(at) | stops(at + 1) | stops(at + 2) | stops(at + 3)) & wanted) == 0) {
    at += 4;
  }
  while (at < size && (stops(at) & wanted) == 0) ++at;
  return at;
}

// "00" to "99", for writing numbers two digits at a time.
constexpr std::array<char, 200> DIGIT_PAIRS = [] {
  std::array<char, 200> pairs{};
  for (size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// ---- Bounded appender --------------------------------------------------------------------

// Appends pieces of one line to a buffer of `size` bytes (size > 0), keeping the last byte
// for the NUL. A piece that does not fit whole is not written and marks the line as
// overflowed, and the caller discards such a line; nothing is ever written past the buffer.
class LineAppender {
 public:
  LineAppender(char* buffer, size_t size) : begin_(buffer), at_(buffer), end_(buffer + size - 1) {}

  void Append(Text text) {
    if (text.size > static_cast<size_t>(end_ - at_)) {
      overflowed_ = true;
      return;
    }
    std::memcpy(at_, text.data, text.size);
    at_ += text.size;
  }

  // Appends `text` with every blank, tab, CR and LF written as `blank_as`, so that a field
  // never holds its line's separator or a line end. Quotes are escaped as `quotes` says,
  // `closer_follows` telling whether the closing quote comes right behind the text.
  void AppendField(Text text, char blank_as, Quotes quotes = Quotes::AS_IS,
                   bool closer_follows = false) {
    AppendRewritten(text, ByteScan::FIELD, blank_as, quotes, closer_follows);
  }

  // Appends a field that a line writes without quotes. One that begins with a character a
  // reader takes for an opening quote ('"', '<', an apostrophe, a backquote) is written
  // between double quotes instead, escaped as `quotes` says, so that it reads back whole.
  void AppendUnquoted(Text text, char blank_as, Quotes quotes) {
    AppendPlainOrQuoted(text, blank_as, quotes, false);
  }
  // The same for a word readers end at a comma as well as a blank (a client, a method): one
  // that holds a comma is written between double quotes too.
  void AppendWord(Text text, char blank_as, Quotes quotes) {
    AppendPlainOrQuoted(text, blank_as, quotes, std::memchr(text.data, ',', text.size) != nullptr);
  }

  // A field written plain, or between double quotes where it begins like a quoted one or
  // `quote` asks for them.
  void AppendPlainOrQuoted(Text text, char blank_as, Quotes quotes, bool quote) {
    const char first = text.size > 0 ? text.data[0] : '\0';
    if (!quote && first != '"' && first != '<' && first != '\'' && first != '`') {
      AppendField(text, blank_as);
      return;
    }
    Append('"');
    AppendField(text, blank_as, quotes, true);
    Append('"');
  }

  // Appends a field that stands between quotes, where blanks and tabs are safe: only CR
  // and LF are written as `line_end_as`; quotes are escaped as `quotes` says.
  void AppendQuoted(Text text, char line_end_as, Quotes quotes) {
    AppendRewritten(text, ByteScan::QUOTED, line_end_as, quotes, true);
  }

  void Append(char c) {
    if (at_ == end_) {
      overflowed_ = true;
      return;
    }
    *at_++ = c;
  }

  // A decimal number printed as printf's "%0<width>d" prints it: a '-' for a negative
  // number, then the digits, zero-padded after the sign to `width` characters in all.
  // Inlined for the clock and date parts, 0..99 at most two wide, that most numbers of a
  // line are.
  [[gnu::always_inline]] void AppendDecimal(int64_t value, size_t width = 0) {
    if (value >= 0 && value < 100 && width <= 2) {
      const size_t length = value >= 10 || width == 2 ? 2 : 1;
      if (length > static_cast<size_t>(end_ - at_)) {
        overflowed_ = true;
        return;
      }
      if (length == 2) *at_++ = static_cast<char>('0' + value / 10);
      *at_++ = static_cast<char>('0' + value % 10);
      return;
    }
    AppendLongDecimal(value, width);
  }

  // A status, byte count or transfer time: "-" when it is absent (negative).
  void AppendNumber(int64_t value) {
    if (value < 0) {
      Append('-');
    } else {
      AppendDecimal(value);
    }
  }

  bool Overflowed() const { return overflowed_; }

  // NUL-terminates what was appended and returns its length.
  size_t Finish() {
    *at_ = '\0';
    return static_cast<size_t>(at_ - begin_);
  }

 private:
  // AppendDecimal for any other number. The digits go two at a time, from the last one
  // back, into a scratch as wide as the widest number, and then to the line.
  void AppendLongDecimal(int64_t value, size_t width) {
    const bool negative = value < 0;
    // The magnitude in unsigned arithmetic, so that INT64_MIN has one too.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char scratch[20];
    char* const last = scratch + sizeof scratch;
    char* first = last;
    while (magnitude >= 100) {
      first -= 2;
      std::memcpy(first, DIGIT_PAIRS.data() + 2 * (magnitude % 100), 2);
      magnitude /= 100;
    }
    if (magnitude >= 10) {
      first -= 2;
      std::memcpy(first, DIGIT_PAIRS.data() + 2 * magnitude, 2);
    } else {
      *--first = static_cast<char>('0' + magnitude);
    }
    const auto digits = static_cast<size_t>(last - first);
    const size_t sign = negative ? 1 : 0;
    const size_t length = sign + digits < width ? width : sign + digits;
    if (length > static_cast<size_t>(end_ - at_)) {
      overflowed_ = true;
      return;
    }
    if (negative) *at_ = '-';
    std::memset(at_ + sign, '0', length - sign - digits);
    std::memcpy(at_ + length - digits, first, digits);
    at_ += length;
  }

  // Appends `text` in one pass: runs of bytes that need no change are copied whole, and
  // each byte the scan stops at is rewritten. Line ends (and, for FIELD, blanks and tabs)
  // are written as `blank_as`. Quotes are escaped as the content of a double-quoted field,
  // so that a reader finds the closing quote where it is. BACKSLASH: a quote as \", a run
  // of backslashes doubled where a quote follows it (in the text, or the closer when
  // `closer_follows`), as Apache writes them; DOUBLED: a quote as "", as W3C strings write
  // it; AS_IS: quotes and backslashes unchanged.
  void AppendRewritten(Text text, ByteScan scan, char blank_as, Quotes quotes,
                       bool closer_follows) {
    const char* p = text.data;
    const char* const end = p + text.size;
    while (p < end) {
      const size_t run = PlainRun(p, static_cast<size_t>(end - p), scan);
      Append(Text{p, run});
      p += run;
      if (p == end) return;
      if (*p == '"') {
        if (quotes != Quotes::AS_IS) Append(quotes == Quotes::BACKSLASH ? '\\' : '"');
        Append(*p++);
      } else if (*p == '\\') {
        const char* const backslashes = p;
        while (p < end && *p == '\\') ++p;
        const Text backslash_run{backslashes, static_cast<size_t>(p - backslashes)};
        Append(backslash_run);
        const bool before_quote = p < end ? *p == '"' : closer_follows;
        if (quotes == Quotes::BACKSLASH && before_quote) Append(backslash_run);
      } else if ((SCAN_STOPS[static_cast<unsigned char>(*p)] & static_cast<uint8_t>(scan)) != 0) {
        Append(blank_as);  // a line end, or for FIELD a blank or tab
        ++p;
      } else {
        Append(*p++);  // another control byte, where the scan stops too
      }
    }
  }

  char* begin_;
  char* at_;
  char* end_;  // the byte kept for the NUL
  bool overflowed_ = false;
};

// ---- Texts of one line -------------------------------------------------------------------

// The texts a line prints, placeholders already in place of absent fields. `query` stays
// null on an NCSA line without a query, which prints no '?'.
struct LineTexts {
  Text client_host;
  Text domain;
  Text user;
  Text method;
  Text uri;
  Text query;
  Text referer;
  Text agent;
  Text cookie;
  Text protocol;  // NCSA only
};
using TextField = Text LineTexts::*;

// One shedding step: the fields (the second may be null) that get `replacement`.
struct ShedStep {
  TextField first;
  TextField second;
  Text replacement;
};

// NCSA drops referer and agent together.
constexpr ShedStep NCSA_SHEDDING[] = {
    {&LineTexts::referer, &LineTexts::agent, NO_TEXT},
};
// W3C and WebSTAR drop one field at a time, least important first; a shed cookie prints
// as nothing between its quotes.
constexpr ShedStep W3C_WEBSTAR_SHEDDING[] = {
    {&LineTexts::cookie, nullptr, SHED_COOKIE}, {&LineTexts::agent, nullptr, NO_TEXT},
    {&LineTexts::referer, nullptr, NO_TEXT},    {&LineTexts::query, nullptr, NO_TEXT},
    {&LineTexts::user, nullptr, NO_TEXT},
};

// A field's text, or its placeholder when the field is absent or empty: an empty field
// would leave two separators side by side and shift every later field of the line.
Text Or(const EntryText& field, Text placeholder) {
  const Text text = FieldText(field);
  return text.size > 0 ? text : placeholder;
}

// A line without method and uri (a "-" request) has no request at all.
bool RequestAbsent(const LogEntry& e) {
  return e.method.length == 0 && e.uri.length == 0;
}

int64_t Length(Text text) {
  return static_cast<int64_t>(text.size);
}

Text Terminator(NewlineStyle newlines) {
  const auto style = static_cast<size_t>(newlines);
  return style < std::size(TERMINATORS) ? TERMINATORS[style] : TERMINATORS[0];
}

Text MonthName(int32_t month) {
  return month >= 1 && month <= 12 ? MONTH_NAMES[month - 1] : UNKNOWN_MONTH;
}

// Replaces the fields of `step`; each shed field takes its length minus one off the
// estimate.
void Shed(LineTexts& texts, int64_t& estimate, const ShedStep& step) {
  for (TextField field : {step.first, step.second}) {
    if (field == nullptr) continue;
    estimate -= Length(texts.*field) - 1;
    texts.*field = step.replacement;
  }
}

// Appends one line of a dialect, its terminator left to the caller; the appender tells
// whether it fitted.
using Layout = void (*)(LineAppender& out, const LogEntry& entry, const LineTexts& texts,
                        const WriterOptions& options);

// Sheds fields while the estimate is not below the buffer size, then formats. A line that
// still does not fit whole (numbers longer than the estimate allows for) sheds the next
// field and is formatted again; with nothing left to shed the result is the empty text.
// Returns the length of the line written.
size_t WriteLine(char* buffer, size_t size, const LogEntry& entry, const WriterOptions& options,
                 LineTexts texts, int64_t estimate, std::span<const ShedStep> shedding,
                 Layout layout) {
  if (size == 0) return 0;
  size_t next_step = 0;
  for (;;) {
    if (estimate < static_cast<int64_t>(size)) {
      LineAppender out(buffer, size);
      layout(out, entry, texts, options);
      out.Append(Terminator(options.newlines));
      if (!out.Overflowed()) return out.Finish();
    }
    if (next_step == shedding.size()) break;
    Shed(texts, estimate, shedding[next_step++]);
  }
  buffer[0] = '\0';
  return 0;
}

// "hh:mm:ss", each part at least two digits.
void AppendClock(LineAppender& out, const LogEntry& e) {
  out.AppendDecimal(e.hour, 2);
  out.Append(':');
  out.AppendDecimal(e.minute, 2);
  out.Append(':');
  out.AppendDecimal(e.second, 2);
}

// ---- NCSA --------------------------------------------------------------------------------

// The offset a stamp is written with: the entry's own, else the offset `options` names a zone for
// at the entry's clock time. Entries arrive in time order, so a remembered span of one
// offset spares almost every zone lookup.
int32_t WrittenOffset(const LogEntry& e, const WriterOptions& options) {
  int32_t offset = e.utc_offset;
  if (offset == NO_OFFSET) {
    thread_local const TimeZone* memo_zone = nullptr;
    thread_local OffsetMemo memo;
    if (memo_zone != options.offsetless_zone) {
      memo_zone = options.offsetless_zone;
      memo = OffsetMemo{};
    }
    offset = memo_zone == nullptr ? 0 : LocalOffsetMinutes(*memo_zone, EntryClockSeconds(e), memo);
  }
  return offset;
}

// "+hhmm", or "+hh:mm" with `colon`.
void AppendOffset(LineAppender& out, const LogEntry& e, const WriterOptions& options,
                  bool colon = false) {
  int32_t offset = WrittenOffset(e, options);
  out.Append(offset < 0 ? '-' : '+');
  if (offset < 0) offset = -offset;
  out.AppendDecimal(offset / 60, 2);
  if (colon) out.Append(':');
  out.AppendDecimal(offset % 60, 2);
}

void NcsaLayout(LineAppender& out, const LogEntry& e, const LineTexts& t,
                const WriterOptions& options) {
  out.AppendWord(t.client_host, '+', Quotes::BACKSLASH);
  out.Append(' ');
  out.AppendUnquoted(t.domain, '+', Quotes::BACKSLASH);
  out.Append(' ');
  out.AppendUnquoted(t.user, '+', Quotes::BACKSLASH);
  out.Append(Literal(" ["));
  out.AppendDecimal(e.day, 2);
  out.Append('/');
  out.Append(MonthName(e.month));
  out.Append('/');
  out.AppendDecimal(e.year, 4);
  out.Append(':');
  AppendClock(out, e);
  out.Append(' ');
  AppendOffset(out, e, options);
  out.Append(Literal("] \""));
  if (RequestAbsent(e)) {
    out.Append(Literal("-\" "));  // no request at all, as a server writes it for a 400
  } else {
    out.AppendField(t.method, '+', Quotes::BACKSLASH);
    out.Append(' ');
    out.AppendField(t.uri, '+', Quotes::BACKSLASH);
    if (t.query.data != nullptr) {
      out.Append('?');
      out.AppendField(t.query, '+', Quotes::BACKSLASH);
    }
    out.Append(' ');
    out.AppendField(t.protocol, '+', Quotes::BACKSLASH, true);
    out.Append(Literal("\" "));
  }
  out.AppendNumber(e.status);
  out.Append(' ');
  out.AppendNumber(e.bytes);
  out.Append(Literal(" \""));
  out.AppendQuoted(t.referer, ' ', Quotes::BACKSLASH);
  out.Append(Literal("\" \""));
  out.AppendQuoted(t.agent, ' ', Quotes::BACKSLASH);
  out.Append('"');
}

// ---- W3C ---------------------------------------------------------------------------------

// "yyyy-mm-dd", as W3C lines and ISO 8601 stamps write the date.
void AppendIsoDate(LineAppender& out, const LogEntry& e) {
  out.AppendDecimal(e.year, 4);
  out.Append('-');
  out.AppendDecimal(e.month, 2);
  out.Append('-');
  out.AppendDecimal(e.day, 2);
}

// The client, the user and the method of a W3C or WebSTAR line, each behind `separator`.
void AppendWhoAndHow(LineAppender& out, const LineTexts& t, char separator, char blank_as,
                     Quotes quotes) {
  out.Append(separator);
  out.AppendWord(t.client_host, blank_as, quotes);
  out.Append(separator);
  out.AppendUnquoted(t.user, blank_as, quotes);
  out.Append(separator);
  out.AppendWord(t.method, blank_as, quotes);
}

void W3cLayout(LineAppender& out, const LogEntry& e, const LineTexts& t, const WriterOptions&) {
  AppendIsoDate(out, e);
  out.Append(' ');
  AppendClock(out, e);
  AppendWhoAndHow(out, t, ' ', '+', Quotes::DOUBLED);
  out.Append(' ');
  out.AppendField(t.uri, '+');
  out.Append(' ');
  out.AppendUnquoted(t.query, '+', Quotes::DOUBLED);
  out.Append(' ');
  out.AppendNumber(e.status);
  out.Append(' ');
  out.AppendNumber(e.bytes);
  out.Append(' ');
  out.AppendNumber(e.transfer_time);
  out.Append(' ');
  out.AppendUnquoted(t.domain, '+', Quotes::DOUBLED);
  for (Text field : {t.agent, t.cookie, t.referer}) {
    out.Append(Literal(" \""));
    out.AppendQuoted(field, '+', Quotes::DOUBLED);
    out.Append('"');
  }
}

// ---- WebSTAR -----------------------------------------------------------------------------

void WebstarLayout(LineAppender& out, const LogEntry& e, const LineTexts& t, const WriterOptions&) {
  // Sixtieths of a second, rounded to the nearest.
  const int64_t ticks = e.transfer_time < 0 ? NO_NUMBER : (int64_t{e.transfer_time} * 6 + 50) / 100;
  out.AppendDecimal(e.month, 2);
  out.Append('/');
  out.AppendDecimal(e.day, 2);
  out.Append('/');
  out.AppendDecimal(e.year, 4);
  out.Append('\t');
  AppendClock(out, e);
  AppendWhoAndHow(out, t, '\t', ' ', Quotes::BACKSLASH);
  out.Append('\t');
  out.AppendField(t.uri, ' ');
  out.Append('\t');
  out.AppendUnquoted(t.query, ' ', Quotes::BACKSLASH);
  for (int64_t number : {int64_t{e.status}, e.bytes, ticks}) {
    out.Append('\t');
    out.AppendNumber(number);
  }
  out.Append('\t');
  out.AppendUnquoted(t.domain, ' ', Quotes::BACKSLASH);
  out.Append('\t');
  out.AppendUnquoted(t.agent, ' ', Quotes::BACKSLASH);
  out.Append(Literal("\t\""));
  out.AppendQuoted(t.cookie, ' ', Quotes::BACKSLASH);
  out.Append(Literal("\"\t"));
  out.AppendUnquoted(t.referer, ' ', Quotes::BACKSLASH);
}

// W3C and WebSTAR print every field, placeholders included; a method the entry does not
// have prints "-" (it is never invented), and so does the uri of a request that is not there.
LineTexts FullTexts(const LogEntry& e) {
  const bool no_request = RequestAbsent(e);
  return LineTexts{Or(e.client_host, NO_TEXT),
                   Or(e.domain, NO_TEXT),
                   Or(e.user, NO_TEXT),
                   Or(e.method, NO_TEXT),
                   no_request ? NO_TEXT : Or(e.uri, NO_URI),
                   Or(e.query, NO_TEXT),
                   Or(e.referer, NO_TEXT),
                   Or(e.agent, NO_TEXT),
                   Or(e.cookie, NO_TEXT),
                   Text{nullptr, 0}};
}

int64_t FullEstimate(const LineTexts& t, int64_t base) {
  return base + Length(t.client_host) + Length(t.user) + Length(t.method) + Length(t.uri) +
         Length(t.query) + Length(t.referer) + Length(t.agent) + Length(t.domain) +
         Length(t.cookie);
}

// NCSA texts, the domain only with `vhost`; `estimate` gets the line's estimated length.
LineTexts NcsaTexts(const LogEntry& entry, bool vhost, int64_t& estimate) {
  // Member by member: an aggregate initialiser here is compiled as a block clear of the
  // whole record before the stores, a measurable share of the per-line cost.
  LineTexts texts;
  texts.client_host = Or(entry.client_host, NO_TEXT);
  texts.domain = vhost ? Or(entry.domain, NO_TEXT) : NO_TEXT;
  texts.user = Or(entry.user, NO_TEXT);
  texts.method = Or(entry.method, NO_METHOD);
  texts.uri = Or(entry.uri, NO_URI);
  texts.query = FieldText(entry.query);
  texts.referer = Or(entry.referer, NO_TEXT);
  texts.agent = Or(entry.agent, NO_TEXT);
  texts.cookie = Text{nullptr, 0};
  texts.protocol = Or(entry.protocol, NO_PROTOCOL);
  estimate = NCSA_BASE + Length(texts.client_host) + Length(texts.domain) + Length(texts.user) +
             Length(texts.method) + Length(texts.uri) +
             (texts.query.data != nullptr ? Length(texts.query) + 1 : 0) + Length(texts.referer) +
             Length(texts.agent) + Length(texts.protocol);
  return texts;
}

// ---- vhost_combined -----------------------------------------------------------------------

// The port readers of vhost_combined expect behind a virtual host that was read without
// one: Apache writes "%v:%p", and goaccess, Matomo and Filebeat look for the colon.
constexpr Text DEFAULT_PORT = Literal(":80");
constexpr int64_t VHOST_PORT_LENGTH = 4;  // the port and the blank behind it

// The virtual host (carried in `cookie`, which the line does not print otherwise) with its
// port, then the combined line.
void VhostCombinedLayout(LineAppender& out, const LogEntry& e, const LineTexts& t,
                         const WriterOptions& options) {
  out.AppendUnquoted(t.cookie, '+', Quotes::BACKSLASH);
  if (std::memchr(t.cookie.data, ':', t.cookie.size) == nullptr) out.Append(DEFAULT_PORT);
  out.Append(' ');
  NcsaLayout(out, e, t, options);
}

// ---- JSON lines ---------------------------------------------------------------------------

// Bytes of a JSON string that need more than a copy: 1 a quote, a backslash or a control
// character (escaped), 2 a byte of 0x80 and above (checked as UTF-8).
constexpr auto JSON_BYTE_CLASSES = [] {
  std::array<uint8_t, 256> classes{};
  for (int c = 0; c < 0x20; ++c) classes[c] = 1;
  classes['"'] = 1;
  classes['\\'] = 1;
  for (int c = 0x80; c < 0x100; ++c) classes[c] = 2;
  return classes;
}();

constexpr char HEX_DIGITS[] = "0123456789abcdef";

// A JSON string: runs of plain bytes copied whole, valid UTF-8 kept, a quote, a backslash
// and the usual control characters escaped by their short forms, every other control
// character and every byte outside a valid UTF-8 sequence as \u00XX.
void AppendJsonString(LineAppender& out, Text text) {
  out.Append('"');
  const auto* p = reinterpret_cast<const unsigned char*>(text.data);
  const unsigned char* const end = p + text.size;
  while (p < end) {
    const unsigned char* const run = p;
    while (p < end && JSON_BYTE_CLASSES[*p] == 0) ++p;
    out.Append(Text{reinterpret_cast<const char*>(run), static_cast<size_t>(p - run)});
    if (p == end) break;
    const unsigned char c = *p;
    if (c >= 0x80) {
      const size_t length = Utf8SequenceLength(p, end);
      if (length > 0) {
        out.Append(Text{reinterpret_cast<const char*>(p), length});
        p += length;
        continue;
      }
    }
    ++p;
    out.Append('\\');
    switch (c) {
      case '"':
      case '\\':
        out.Append(static_cast<char>(c));
        break;
      case '\n':
        out.Append('n');
        break;
      case '\r':
        out.Append('r');
        break;
      case '\t':
        out.Append('t');
        break;
      default:
        out.Append(Literal("u00"));
        out.Append(HEX_DIGITS[c >> 4]);
        out.Append(HEX_DIGITS[c & 0xF]);
        break;
    }
  }
  out.Append('"');
}

// A key with what stands around it, `,"key":`, so that each costs one copy; the first key
// of a line is written without its comma.
template <size_t N>
constexpr Text JsonKey(const char (&text)[N]) {
  return Literal(text);
}

void AppendJsonKey(LineAppender& out, Text key, bool& first) {
  out.Append(first ? Text{key.data + 1, key.size - 1} : key);
  first = false;
}

// A field the input wrote as a lone "-" (no value, as in a request line of "-") is left out
// like an absent one: JSON readers, this program's among them, take "-" for no value.
void AppendJsonText(LineAppender& out, Text key, const EntryText& field, bool& first) {
  if (field.text == nullptr || field.length <= 0) return;
  if (field.length == 1 && field.text[0] == '-') return;
  AppendJsonKey(out, key, first);
  AppendJsonString(out, FieldText(field));
}

void AppendJsonNumber(LineAppender& out, Text key, int64_t value, bool& first) {
  if (value < 0) return;
  AppendJsonKey(out, key, first);
  out.AppendDecimal(value);
}

// Whether the entry's date and time make an ISO 8601 stamp: an entry without a date (or
// with parts no parser gives) has no time rather than a stamp no reader takes.
bool HasIsoTime(const LogEntry& e) {
  return e.year >= 1 && e.year <= 9999 && e.month >= 1 && e.month <= 12 && e.day >= 1 &&
         e.day <= 31 && e.hour >= 0 && e.hour <= 23 && e.minute >= 0 && e.minute <= 59 &&
         e.second >= 0 && e.second <= 60;
}

// "2024-03-31T03:00:05.000+02:00"; an entry without a real date has no time.
void AppendJsonTime(LineAppender& out, const LogEntry& e, const WriterOptions& options,
                    bool& first) {
  if (!HasIsoTime(e)) return;
  AppendJsonKey(out, JsonKey(",\"time\":"), first);
  out.Append('"');
  AppendIsoDate(out, e);
  out.Append('T');
  AppendClock(out, e);
  out.Append('.');
  const int32_t millisecond = e.millisecond >= 0 && e.millisecond <= 999 ? e.millisecond : 0;
  out.AppendDecimal(millisecond, 3);
  AppendOffset(out, e, options, true);
  out.Append('"');
}

void JsonLayout(LineAppender& out, const LogEntry& e, const WriterOptions& options) {
  bool first = true;
  out.Append('{');
  AppendJsonTime(out, e, options, first);
  AppendJsonText(out, JsonKey(",\"client\":"), e.client_host, first);
  AppendJsonText(out, JsonKey(",\"user\":"), e.user, first);
  AppendJsonText(out, JsonKey(",\"method\":"), e.method, first);
  AppendJsonText(out, JsonKey(",\"path\":"), e.uri, first);
  AppendJsonText(out, JsonKey(",\"query\":"), e.query, first);
  AppendJsonText(out, JsonKey(",\"protocol\":"), e.protocol, first);
  AppendJsonNumber(out, JsonKey(",\"status\":"), e.status, first);
  AppendJsonNumber(out, JsonKey(",\"bytes\":"), e.bytes, first);
  AppendJsonNumber(out, JsonKey(",\"duration_ms\":"), e.transfer_time, first);
  AppendJsonText(out, JsonKey(",\"vhost\":"), e.domain, first);
  AppendJsonText(out, JsonKey(",\"referer\":"), e.referer, first);
  AppendJsonText(out, JsonKey(",\"agent\":"), e.agent, first);
  AppendJsonText(out, JsonKey(",\"cookie\":"), e.cookie, first);
  AppendJsonText(out, JsonKey(",\"source\":"), e.source, first);
  out.Append('}');
}

}  // namespace

size_t FormatNcsaLine(char* buffer, size_t size, const LogEntry& entry,
                      const WriterOptions& options) {
  CheckFieldLengths(entry);
  int64_t estimate = 0;
  const LineTexts texts = NcsaTexts(entry, options.vhost, estimate);
  return WriteLine(buffer, size, entry, options, texts, estimate, NCSA_SHEDDING, NcsaLayout);
}

size_t FormatCombinedLine(char* buffer, size_t size, const LogEntry& entry,
                          const WriterOptions& options) {
  CheckFieldLengths(entry);
  int64_t estimate = 0;
  const LineTexts texts = NcsaTexts(entry, false, estimate);
  return WriteLine(buffer, size, entry, options, texts, estimate, NCSA_SHEDDING, NcsaLayout);
}

size_t FormatVhostCombinedLine(char* buffer, size_t size, const LogEntry& entry,
                               const WriterOptions& options) {
  CheckFieldLengths(entry);
  int64_t estimate = 0;
  LineTexts texts = NcsaTexts(entry, false, estimate);
  texts.cookie = Or(entry.domain, NO_TEXT);  // the cookie is not part of the line
  estimate += Length(texts.cookie) + VHOST_PORT_LENGTH;
  return WriteLine(buffer, size, entry, options, texts, estimate, NCSA_SHEDDING,
                   VhostCombinedLayout);
}

size_t FormatJsonLine(char* buffer, size_t size, const LogEntry& entry,
                      const WriterOptions& options) {
  CheckFieldLengths(entry);
  if (size == 0) return 0;
  LineAppender out(buffer, size);
  JsonLayout(out, entry, options);
  out.Append(Terminator(options.newlines));
  if (!out.Overflowed()) return out.Finish();
  buffer[0] = '\0';
  return 0;
}

size_t FormatW3cLine(char* buffer, size_t size, const LogEntry& entry,
                     const WriterOptions& options) {
  CheckFieldLengths(entry);
  const LineTexts texts = FullTexts(entry);
  return WriteLine(buffer, size, entry, options, texts, FullEstimate(texts, W3C_BASE),
                   W3C_WEBSTAR_SHEDDING, W3cLayout);
}

size_t FormatWebstarLine(char* buffer, size_t size, const LogEntry& entry,
                         const WriterOptions& options) {
  CheckFieldLengths(entry);
  const LineTexts texts = FullTexts(entry);
  return WriteLine(buffer, size, entry, options, texts, FullEstimate(texts, WEBSTAR_BASE),
                   W3C_WEBSTAR_SHEDDING, WebstarLayout);
}

size_t LineSizeBound(const LogEntry& entry) {
  CheckFieldLengths(entry);
  // The fixed text, the keys, the stamp, the numbers at their widest and every placeholder
  // take far less than this; the texts add their own lengths.
  constexpr size_t FIXED_PART = 512;
  // A byte of a text prints as at most six: a JSON line writes a control character or a
  // byte outside UTF-8 as \u00XX. Quotes around a field that needs them, and its key.
  constexpr size_t WORST_EXPANSION = 6;
  constexpr size_t PER_FIELD = 3;
  constexpr size_t FIELDS = 11;
  // The lengths of the texts (never negative) added once, then scaled.
  const int64_t texts = int64_t{entry.client_host.length} + entry.domain.length +
                        entry.user.length + entry.method.length + entry.uri.length +
                        entry.query.length + entry.protocol.length + entry.referer.length +
                        entry.agent.length + entry.cookie.length + entry.source.length;
  const size_t bound =
      FIXED_PART + FIELDS * PER_FIELD + WORST_EXPANSION * static_cast<size_t>(texts);
  return bound > LINE_BUFFER_SIZE ? bound : LINE_BUFFER_SIZE;
}

namespace {

constexpr bool DialectsInFormatOrder() {
  for (size_t i = 0; i < std::size(OUTPUT_DIALECTS); ++i) {
    if (static_cast<size_t>(OUTPUT_DIALECTS[i].format) != i) return false;
  }
  return true;
}
static_assert(DialectsInFormatOrder(), "OUTPUT_DIALECTS stands in the order of OutputFormat");

const OutputDialect& DialectFor(OutputFormat format) {
  const auto index = static_cast<size_t>(format);
  STITCHER_CHECK("writers", index < std::size(OUTPUT_DIALECTS));
  return OUTPUT_DIALECTS[index];
}

}  // namespace

LineWriter WriterFor(OutputFormat format) {
  return DialectFor(format).writer;
}

const char* HeaderFor(OutputFormat format) {
  return DialectFor(format).header;
}

const char* OutputFormatName(OutputFormat format) {
  return DialectFor(format).name;
}

const char* OutputFormatTitle(OutputFormat format) {
  return DialectFor(format).title;
}

bool OutputFormatNamed(const char* name, OutputFormat& format) {
  for (const OutputDialect& dialect : OUTPUT_DIALECTS) {
    if (std::strcmp(dialect.name, name) != 0) continue;
    format = dialect.format;
    return true;
  }
  return false;
}
