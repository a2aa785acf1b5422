#pragma once
// Output writers: the header line of each output dialect and the writers that turn one
// LogEntry into one line of the merged log.
//
// Writers fill the caller's buffer and nothing else: they read the entry and their options
// and never change the entry. Each text field is taken at the length it carries; builds
// with assertions stop the program when a length is not that of its text. Every result is a
// complete line, terminator included, NUL-terminated, or the empty text when the entry cannot be
// fitted into the buffer even after its long, less important fields have been shed. A line is never
// cut short. Absent and empty text fields print as their placeholders ("-", the method "GET", the
// path "/" of a method without a uri), so no field of a line is ever empty. An absent status, byte
// count or transfer time prints as "-", and an entry without method and uri prints its request as
// "-" (NCSA: "\"-\""). Each writer returns the length of what it wrote (0 for the empty text, and
// for a zero-size buffer, which it leaves untouched). No field holds its line's separator or a line
// end, and the merged log reads back: a quote inside a quoted field is written as \" on NCSA and
// WebSTAR lines (a run of backslashes in front of a quote or of the closing quote doubled, as
// Apache writes them) and as "" on W3C lines; a field written without quotes that begins with a
// quote, '<', an apostrophe or a backquote is written between quotes.
//
// JSON lines hold one object per entry whose absent values are left out (no key, never
// null); strings are valid UTF-8 (a byte that is not part of a valid UTF-8 sequence is
// written as \u00XX, its Latin-1 reading), numbers are numbers.

#include <cstddef>
#include <cstdint>

#include "base/time_zone.h"
#include "entries/log_entry.h"

// ---- Output dialects and their options ---------------------------------------------------
enum class OutputFormat : uint8_t {
  NCSA = 0,
  W3C = 1,
  WEBSTAR = 2,
  COMBINED = 3,        // Apache's combined: ident always "-"
  VHOST_COMBINED = 4,  // Apache's vhost_combined: "vhost:port" before the combined fields
  JSON = 5,            // JSON lines
};
enum class NewlineStyle : int32_t { MAC = 0, UNIX = 1, DOS = 2 };

struct WriterOptions {
  bool vhost = true;                          // NCSA field two shows the domain
  NewlineStyle newlines = NewlineStyle::MAC;  // the terminator of every entry line
  // The zone whose offset at an entry's clock time an NCSA stamp gets when the entry has
  // none of its own; null: UTC.
  const TimeZone* offsetless_zone = nullptr;
};

// ---- Header lines ------------------------------------------------------------------------
// Written once before the first entry; each ends in a single LF whatever `newlines` says.

inline constexpr char W3C_HEADER[] =
    "#Fields: date time c-ip cs-username cs-method cs-uri-stem cs-uri-query sc-status "
    "sc-bytes time-taken cs-host cs(User-Agent) cs(Cookie) cs(Referer)\n";
inline constexpr char WEBSTAR_HEADER[] =
    "!!LOG_FORMAT DATE TIME HOSTNAME USER METHOD URL SEARCH_ARGS SC-STATUS BYTES "
    "TRANSFER_TIME CS(HOST) AGENT CS(COOKIE) REFERER\n";

// ---- Line writers ------------------------------------------------------------------------

// Size of the line buffer the merge engine formats every entry into.
inline constexpr size_t LINE_BUFFER_SIZE = 4096;

// NCSA combined: host, virtual host (only with `vhost`), user, "[dd/Mon/yy:hh:mm:ss -0500]",
// the quoted request, status, bytes, quoted referer and agent. Sheds referer and agent
// together when the line is too long. A month outside 1..12 prints as "???".
size_t FormatNcsaLine(char* buffer, size_t size, const LogEntry& entry,
                      const WriterOptions& options);

// W3C extended, fields in the order of W3C_HEADER; time taken in milliseconds. Sheds
// cookie, agent, referer, query, user, one at a time, when the line is too long.
size_t FormatW3cLine(char* buffer, size_t size, const LogEntry& entry,
                     const WriterOptions& options);

// WebSTAR, tab-separated, fields in the order of WEBSTAR_HEADER; transfer time in ticks
// of 1/60 second, rounded to the nearest. Sheds like FormatW3cLine.
size_t FormatWebstarLine(char* buffer, size_t size, const LogEntry& entry,
                         const WriterOptions& options);

// Apache's combined: NCSA with "-" in field two whatever `vhost` says.
size_t FormatCombinedLine(char* buffer, size_t size, const LogEntry& entry,
                          const WriterOptions& options);

// Apache's vhost_combined: the virtual host with its port ("-" when absent; ":80" is added
// to a host written without a port, as readers of the format expect one), then the
// combined line. Sheds like FormatNcsaLine.
size_t FormatVhostCombinedLine(char* buffer, size_t size, const LogEntry& entry,
                               const WriterOptions& options);

// One JSON object, absent values left out, keys in this order: time (ISO 8601 with
// milliseconds and the entry's offset, or the offset the NCSA stamp would get), client, user,
// method, path, query, protocol, status, bytes, duration_ms (numbers), vhost, referer,
// agent, cookie, source. Nothing is shed: a
// buffer of LineSizeBound bytes holds every line, a smaller one may give the empty text.
size_t FormatJsonLine(char* buffer, size_t size, const LogEntry& entry,
                      const WriterOptions& options);

// Bytes of a buffer that holds the entry's whole line in every dialect (terminator and NUL
// included), so that no field is shed: at least LINE_BUFFER_SIZE, more for long fields.
size_t LineSizeBound(const LogEntry& entry);

// ---- Choosing by output format -----------------------------------------------------------

using LineWriter = size_t (*)(char* buffer, size_t size, const LogEntry& entry,
                              const WriterOptions& options);

// One output dialect: the name users choose it by (--output-format), its writer, its header
// line ("" for none) and its title in messages ("Wrote 12 entries (NCSA combined, gzip)").
struct OutputDialect {
  const char* name;
  OutputFormat format;
  LineWriter writer;
  const char* header;
  const char* title;
};

// Every output dialect, in the order of OutputFormat.
inline constexpr OutputDialect OUTPUT_DIALECTS[] = {
    {"ncsa", OutputFormat::NCSA, FormatNcsaLine, "", "NCSA combined"},
    {"w3c", OutputFormat::W3C, FormatW3cLine, W3C_HEADER, "W3C extended"},
    {"webstar", OutputFormat::WEBSTAR, FormatWebstarLine, WEBSTAR_HEADER, "WebSTAR"},
    {"combined", OutputFormat::COMBINED, FormatCombinedLine, "", "Apache combined"},
    {"vhost_combined", OutputFormat::VHOST_COMBINED, FormatVhostCombinedLine, "",
     "Apache vhost_combined"},
    {"json", OutputFormat::JSON, FormatJsonLine, "", "JSON lines"},
};

// The writer of an output format.
LineWriter WriterFor(OutputFormat format);

// The header line of an output format; the empty text for those that have none.
const char* HeaderFor(OutputFormat format);

// The name of an output format ("ncsa", "json", ...).
const char* OutputFormatName(OutputFormat format);

// The title of an output format in messages ("NCSA combined", "JSON lines", ...).
const char* OutputFormatTitle(OutputFormat format);

// The output format named `name` exactly; false when none is.
bool OutputFormatNamed(const char* name, OutputFormat& format);
