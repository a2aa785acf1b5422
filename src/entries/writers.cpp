#include "entries/writers.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "entries/check.h"

namespace {

// ---- Data --------------------------------------------------------------------------------

constexpr const char* MONTH_NAMES[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// An entry without a date (month 0), or with a month no parser produces, still gets a
// three-letter month so the stamp keeps its shape; "???" makes the missing date visible.
constexpr const char* UNKNOWN_MONTH = "???";

// Placeholders for absent text fields.
constexpr const char* NO_TEXT = "-";
constexpr const char* NO_METHOD = "GET";
constexpr const char* NO_URI = "/";

// Estimated length of each line without its text fields: the fixed text, the numbers and
// the time stamp together. The estimate ignores the digits of large numbers, so the
// formatted length is checked as well.
constexpr int64_t NCSA_BASE = 60;
constexpr int64_t W3C_BASE = 48;
constexpr int64_t WEBSTAR_BASE = 52;

// Line terminators by NewlineStyle: MAC, UNIX, DOS.
constexpr const char* TERMINATORS[3] = {"\r", "\n", "\r\n"};

// ---- Texts of one line -------------------------------------------------------------------

// The texts a line prints, placeholders already in place of absent fields. `query` stays
// null on an NCSA line without a query, which prints no '?'.
struct LineTexts {
  const char* client_host;
  const char* domain;
  const char* user;
  const char* method;
  const char* uri;
  const char* query;
  const char* referer;
  const char* agent;
  const char* cookie;
};
using TextField = const char* LineTexts::*;

// One shedding step: the fields (the second may be null) that get `replacement`.
struct ShedStep {
  TextField first;
  TextField second;
  const char* replacement;
};

// NCSA drops referer and agent together.
constexpr ShedStep NCSA_SHEDDING[] = {
    {&LineTexts::referer, &LineTexts::agent, NO_TEXT},
};
// W3C and WebSTAR drop one field at a time, least important first; a shed cookie prints
// as nothing between its quotes.
constexpr ShedStep W3C_WEBSTAR_SHEDDING[] = {
    {&LineTexts::cookie, nullptr, ""},
    {&LineTexts::agent, nullptr, NO_TEXT},
    {&LineTexts::referer, nullptr, NO_TEXT},
    {&LineTexts::query, nullptr, NO_TEXT},
    {&LineTexts::user, nullptr, NO_TEXT},
};

const char* Or(const char* text, const char* placeholder) {
  return text != nullptr ? text : placeholder;
}

int64_t Length(const char* text) {
  return text != nullptr ? static_cast<int64_t>(std::strlen(text)) : 0;
}

const char* Terminator() {
  const auto style = static_cast<size_t>(settings.newlines);
  return style < std::size(TERMINATORS) ? TERMINATORS[style] : TERMINATORS[0];
}

const char* MonthName(int32_t month) {
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

// Formats one line of a dialect into `buffer`: returns snprintf's result, the length the
// whole line needs.
using Layout = int (*)(char* buffer, size_t size, const LogEntry& entry, const LineTexts& texts);

// Sheds fields while the estimate is not below the buffer size, then formats. A line that
// still does not fit whole (numbers longer than the estimate allows for) sheds the next
// field and is formatted again; with nothing left to shed the result is the empty text.
void WriteLine(char* buffer, size_t size, const LogEntry& entry, LineTexts texts,
               int64_t estimate, std::span<const ShedStep> shedding, Layout layout) {
  if (size == 0) return;
  size_t next_step = 0;
  for (;;) {
    if (estimate < static_cast<int64_t>(size)) {
      const int length = layout(buffer, size, entry, texts);
      if (length >= 0 && static_cast<size_t>(length) < size) return;
    }
    if (next_step == shedding.size()) break;
    Shed(texts, estimate, shedding[next_step++]);
  }
  buffer[0] = '\0';
}

// ---- NCSA --------------------------------------------------------------------------------

int NcsaLayout(char* buffer, size_t size, const LogEntry& e, const LineTexts& t) {
  // Two-digit year: 1999 prints as 99, 2001 as 01. Computed in 64 bits so no year
  // overflows.
  const int64_t year = e.year < 2000 ? int64_t{e.year} - 1900 : int64_t{e.year} - 2000;
  return std::snprintf(buffer, size,
                       "%s %s %s [%02d/%s/%02lld:%02d:%02d:%02d -0500] \"%s %s%s%s HTTP/1.0\" "
                       "%d %d \"%s\" \"%s\"%s",
                       t.client_host, t.domain, t.user, e.day, MonthName(e.month),
                       static_cast<long long>(year), e.hour, e.minute, e.second, t.method,
                       t.uri, t.query != nullptr ? "?" : "", Or(t.query, ""), e.status,
                       e.bytes, t.referer, t.agent, Terminator());
}

// ---- W3C ---------------------------------------------------------------------------------

int W3cLayout(char* buffer, size_t size, const LogEntry& e, const LineTexts& t) {
  const int64_t milliseconds = int64_t{e.transfer_time} * 5 / 3;
  return std::snprintf(buffer, size,
                       "%04d-%02d-%02d %02d:%02d:%02d %s %s %s %s %s %d %d %lld %s \"%s\" "
                       "\"%s\" \"%s\"%s",
                       e.year, e.month, e.day, e.hour, e.minute, e.second, t.client_host,
                       t.user, t.method, t.uri, t.query, e.status, e.bytes,
                       static_cast<long long>(milliseconds), t.domain, t.agent, t.cookie,
                       t.referer, Terminator());
}

// ---- WebSTAR -----------------------------------------------------------------------------

int WebstarLayout(char* buffer, size_t size, const LogEntry& e, const LineTexts& t) {
  const int32_t ticks = e.transfer_time / 10;
  return std::snprintf(buffer, size,
                       "%02d/%02d/%04d\t%02d:%02d:%02d\t%s\t%s\t%s\t%s\t%s\t%d\t%d\t%d\t%s\t%s\t"
                       "\"%s\"\t%s%s",
                       e.month, e.day, e.year, e.hour, e.minute, e.second, t.client_host,
                       t.user, t.method, t.uri, t.query, e.status, e.bytes, ticks, t.domain,
                       t.agent, t.cookie, t.referer, Terminator());
}

// W3C and WebSTAR print every field, placeholders included.
LineTexts FullTexts(const LogEntry& e) {
  return LineTexts{Or(e.client_host, NO_TEXT), Or(e.domain, NO_TEXT), Or(e.user, NO_TEXT),
                   Or(e.method, NO_METHOD),    Or(e.uri, NO_URI),      Or(e.query, NO_TEXT),
                   Or(e.referer, NO_TEXT),     Or(e.agent, NO_TEXT),   Or(e.cookie, NO_TEXT)};
}

int64_t FullEstimate(const LineTexts& t, int64_t base) {
  return base + Length(t.client_host) + Length(t.user) + Length(t.method) + Length(t.uri) +
         Length(t.query) + Length(t.referer) + Length(t.agent) + Length(t.domain) +
         Length(t.cookie);
}

}  // namespace

void FormatNcsaLine(char* buffer, size_t size, const LogEntry& entry) {
  const bool show_domain = settings.vhost && entry.domain != nullptr;
  const LineTexts texts{Or(entry.client_host, NO_TEXT),
                        show_domain ? entry.domain : NO_TEXT,
                        Or(entry.user, NO_TEXT),
                        Or(entry.method, NO_METHOD),
                        Or(entry.uri, NO_URI),
                        entry.query,
                        Or(entry.referer, NO_TEXT),
                        Or(entry.agent, NO_TEXT),
                        nullptr};
  const int64_t estimate = NCSA_BASE + Length(texts.client_host) + Length(texts.domain) +
                           Length(texts.user) + Length(texts.method) + Length(texts.uri) +
                           (texts.query != nullptr ? Length(texts.query) + 1 : 0) +
                           Length(texts.referer) + Length(texts.agent);
  WriteLine(buffer, size, entry, texts, estimate, NCSA_SHEDDING, NcsaLayout);
}

void FormatW3cLine(char* buffer, size_t size, const LogEntry& entry) {
  const LineTexts texts = FullTexts(entry);
  WriteLine(buffer, size, entry, texts, FullEstimate(texts, W3C_BASE), W3C_WEBSTAR_SHEDDING,
            W3cLayout);
}

void FormatWebstarLine(char* buffer, size_t size, const LogEntry& entry) {
  const LineTexts texts = FullTexts(entry);
  WriteLine(buffer, size, entry, texts, FullEstimate(texts, WEBSTAR_BASE),
            W3C_WEBSTAR_SHEDDING, WebstarLayout);
}

namespace {

// Writer and header of each output format, in the order of OutputFormat.
struct OutputDialect {
  LineWriter writer;
  const char* header;
};
constexpr OutputDialect OUTPUT_DIALECTS[3] = {
    {FormatNcsaLine, ""},
    {FormatW3cLine, W3C_HEADER},
    {FormatWebstarLine, WEBSTAR_HEADER},
};

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
