#include "output/writers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "entries/log_entry.h"
#include "platform/byte_scan.h"

namespace {

// The writer options of the running test: every test starts from the defaults with UNIX
// line ends.
WriterOptions options;

class Writers : public ::testing::Test {
 protected:
  void SetUp() override { options = WriterOptions{.vhost = true, .newlines = NewlineStyle::UNIX}; }
};

// The entry of the worked example: the request "GET /", every other text absent,
// 2001-03-05 14:07:09, status 200, 1024 bytes, transfer time 1000 ms (one second).
LogEntry Example() {
  static char method[] = "GET";
  static char uri[] = "/";
  LogEntry e;
  ResetEntry(e);
  e.method = TextOf(method);
  e.uri = TextOf(uri);
  e.year = 2001;
  e.utc_offset = -300;  // as a common-log stamp at -0500 gives it
  e.month = 3;
  e.day = 5;
  e.hour = 14;
  e.minute = 7;
  e.second = 9;
  e.status = 200;
  e.bytes = 1024;
  e.transfer_time = 1000;
  return e;
}

// Formats into a heap buffer of exactly `size` bytes, so that AddressSanitizer catches
// any write past it.
std::string Format(LineWriter writer, const LogEntry& entry, size_t size = LINE_BUFFER_SIZE) {
  auto buffer = std::make_unique<char[]>(size);
  std::memset(buffer.get(), 'X', size);
  writer(buffer.get(), size, entry, options);
  EXPECT_NE(std::memchr(buffer.get(), '\0', size), nullptr) << "no NUL within the buffer";
  return std::string(buffer.get());
}

// Every field of an entry, for comparing entries field by field.
auto Fields(const LogEntry& e) {
  return std::make_tuple(e.line_length, e.client_host, e.year, e.month, e.day, e.hour, e.minute,
                         e.second, e.uri, e.query, e.status, e.bytes, e.transfer_time, e.referer,
                         e.agent, e.user, e.method, e.protocol, e.domain, e.server, e.cookie,
                         e.session);
}

struct Dialect {
  const char* name;
  LineWriter writer;
};
const Dialect DIALECTS[] = {
    {"NCSA", FormatNcsaLine}, {"W3C", FormatW3cLine}, {"WebSTAR", FormatWebstarLine}};

TEST_F(Writers, WorkedExampleInEveryDialect) {
  struct Case {
    LineWriter writer;
    const char* line;
  };
  const Case cases[] = {
      {FormatNcsaLine,
       "- - - [05/Mar/2001:14:07:09 -0500] \"GET / HTTP/1.0\" 200 1024 \"-\" \"-\"\n"},
      {FormatW3cLine, "2001-03-05 14:07:09 - - GET / - 200 1024 1000 - \"-\" \"-\" \"-\"\n"},
      {FormatWebstarLine, "03/05/2001\t14:07:09\t-\t-\tGET\t/\t-\t200\t1024\t60\t-\t-\t\"-\"\t-\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Format(c.writer, Example()), c.line);
  }
}

// No field holds its line's separator or a line end: the IIS user "NT AUTHORITY\LOCAL
// SERVICE" and an agent with a line break keep every later field in its column.
TEST_F(Writers, SeparatorsAndLineEndsInsideFieldsAreWrittenSafely) {
  char user[] = "NT AUTHORITY\\LOCAL SERVICE", uri[] = "/a\tb", agent[] = "Bot\r\n1 (x)";
  LogEntry e = Example();
  e.user = TextOf(user);
  e.uri = TextOf(uri);
  e.agent = TextOf(agent);
  struct Case {
    LineWriter writer;
    const char* line;
  };
  const Case cases[] = {
      {FormatNcsaLine,
       "- - NT+AUTHORITY\\LOCAL+SERVICE [05/Mar/2001:14:07:09 -0500] \"GET /a+b HTTP/1.0\" 200 "
       "1024 \"-\" \"Bot  1 (x)\"\n"},
      {FormatW3cLine,
       "2001-03-05 14:07:09 - NT+AUTHORITY\\LOCAL+SERVICE GET /a+b - 200 1024 1000 - "
       "\"Bot++1 (x)\" \"-\" \"-\"\n"},
      {FormatWebstarLine,
       "03/05/2001\t14:07:09\t-\tNT AUTHORITY\\LOCAL SERVICE\tGET\t/a b\t-\t200\t1024\t60\t-\t"
       "Bot  1 (x)\t\"-\"\t-\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Format(c.writer, e), c.line);
  }
}

TEST_F(Writers, EveryFieldLandsInItsPlace) {
  char host[] = "10.0.0.1", user[] = "ann", method[] = "POST", uri[] = "/a b.html", query[] = "x=1",
       referer[] = "http://r/", agent[] = "Moz \"q\"", domain[] = "www.x", cookie[] = "id=7";
  LogEntry e = Example();
  e.client_host = TextOf(host);
  e.user = TextOf(user);
  e.method = TextOf(method);
  e.uri = TextOf(uri);
  e.query = TextOf(query);
  e.referer = TextOf(referer);
  e.agent = TextOf(agent);
  e.domain = TextOf(domain);
  e.cookie = TextOf(cookie);
  e.status = 404;
  e.bytes = 17;
  e.transfer_time = 51;
  // A quote inside a quoted field is escaped the dialect's way; WebSTAR's agent is not quoted.
  EXPECT_EQ(Format(FormatNcsaLine, e),
            "10.0.0.1 www.x ann [05/Mar/2001:14:07:09 -0500] \"POST /a+b.html?x=1 HTTP/1.0\" "
            "404 17 \"http://r/\" \"Moz \\\"q\\\"\"\n");
  EXPECT_EQ(Format(FormatW3cLine, e),
            "2001-03-05 14:07:09 10.0.0.1 ann POST /a+b.html x=1 404 17 51 www.x "
            "\"Moz \"\"q\"\"\" \"id=7\" \"http://r/\"\n");
  EXPECT_EQ(Format(FormatWebstarLine, e),
            "03/05/2001\t14:07:09\t10.0.0.1\tann\tPOST\t/a b.html\tx=1\t404\t17\t3\twww.x\t"
            "Moz \"q\"\t\"id=7\"\thttp://r/\n");
}

// Quotes and backslashes inside quoted fields: NCSA and WebSTAR write a quote as \" and
// double a run of backslashes that a quote (or the closing quote) follows, as Apache does;
// W3C writes a quote as "" and a backslash as it is.
TEST_F(Writers, QuotesInsideQuotedFieldsAreEscaped) {
  struct Case {
    EntryText LogEntry::*field;
    const char* value;
    LineWriter writer;
    const char* expected;  // part of the line
  };
  const Case cases[] = {
      {&LogEntry::agent, "Bot \"x\"", FormatNcsaLine, " \"Bot \\\"x\\\"\"\n"},
      {&LogEntry::agent, "Bot \"x\"", FormatW3cLine, " \"Bot \"\"x\"\"\" \"-\" "},
      {&LogEntry::agent, "Bot \"x\"", FormatWebstarLine, "\tBot \"x\"\t"},
      {&LogEntry::referer, "C:\\", FormatNcsaLine, " \"C:\\\\\" \"-\"\n"},
      {&LogEntry::referer, "C:\\", FormatW3cLine, " \"C:\\\"\n"},
      {&LogEntry::agent, "a\\\"b", FormatNcsaLine, " \"a\\\\\\\"b\"\n"},
      {&LogEntry::agent, "a\\\\b", FormatNcsaLine, " \"a\\\\b\"\n"},
      {&LogEntry::uri, "/a\"b\\", FormatNcsaLine, "\"GET /a\\\"b\\ HTTP/1.0\""},
      {&LogEntry::query, "q=\"x y\"", FormatNcsaLine, "\"GET /?q=\\\"x+y\\\" HTTP/1.0\""},
      {&LogEntry::cookie, "id=\"7\"", FormatWebstarLine, "\t\"id=\\\"7\\\"\"\t"},
      {&LogEntry::cookie, "id=\"7\"", FormatW3cLine, " \"id=\"\"7\"\"\" "},
      // A field written without quotes that begins with a quote or '<' would read as a
      // quoted one: it is written between quotes.
      {&LogEntry::agent, "\"a\"", FormatWebstarLine, "\t\"\\\"a\\\"\"\t"},
      {&LogEntry::referer, "<script>", FormatWebstarLine, "\t\"<script>\"\n"},
      {&LogEntry::query, "\"x\"", FormatW3cLine, " \"\"\"x\"\"\" 200 "},
      {&LogEntry::user, "<admin>", FormatNcsaLine, " - \"<admin>\" [05/"},
      {&LogEntry::user, "admin\"", FormatNcsaLine, " - admin\" [05/"},
      {&LogEntry::protocol, "HTTP/1.1\\", FormatNcsaLine, "\"GET / HTTP/1.1\\\\\" 200 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::string value = c.value;
    LogEntry e = Example();
    e.*c.field = TextOf(value.data());
    const std::string line = Format(c.writer, e);
    EXPECT_NE(line.find(c.expected), std::string::npos) << line;
  }
}

// Fields are copied in runs up to the next byte that may need rewriting, found 16 bytes at
// a time: one such byte at every place of fields of lengths around those blocks (first
// byte, inside a block, at a block's edge, in the last, overlapping block) is rewritten
// there and nowhere else, in a field between separators (the uri) and a quoted one (the
// agent).
TEST_F(Writers, RewrittenBytesAtEveryPlaceOfAField) {
  struct Case {
    char byte;
    const char* in_uri;        // what the uri writes for it
    const char* in_agent;      // what the agent writes for it
    const char* ending_agent;  // ... as the agent's last byte, before the closing quote
  };
  const Case cases[] = {
      {' ', "+", " ", " "},
      {'\t', "+", "\t", "\t"},
      {'\r', "+", " ", " "},
      {'\n', "+", " ", " "},
      {'"', "\\\"", "\\\"", "\\\""},
      {'\\', "\\", "\\", "\\\\"},
      // Other control bytes and bytes from 128 up are written as they are.
      {'\x01', "\x01", "\x01", "\x01"},
      {'\x1f', "\x1f", "\x1f", "\x1f"},
      {'\xe9', "\xe9", "\xe9", "\xe9"},
  };
  for (const size_t length : {1, 2, 15, 16, 17, 31, 32, 33, 47, 70}) {
    for (size_t at = 0; at < length; ++at) {
      for (const Case& c : cases) {
        std::string field(length, 'a');
        field[at] = c.byte;
        SCOPED_TRACE("byte " + std::to_string(c.byte) + " at " + std::to_string(at) + " of " +
                     std::to_string(length));
        LogEntry e = Example();
        e.uri = TextOf(field.data());
        e.agent = TextOf(field.data());
        const std::string before(at, 'a'), after(length - at - 1, 'a');
        const bool last = at + 1 == length;
        EXPECT_EQ(Format(FormatNcsaLine, e),
                  "- - - [05/Mar/2001:14:07:09 -0500] \"GET " + before + c.in_uri + after +
                      " HTTP/1.0\" 200 1024 \"-\" \"" + before +
                      (last ? c.ending_agent : c.in_agent) + after + "\"\n");
      }
    }
  }
}

// The scan behind those runs finds the first byte it looks for at every place of texts of
// every length around its 16-byte blocks, takes bytes from 128 up for no control byte, and
// reads nothing outside the text: each text has a heap block of exactly its size, so a
// sanitizer build stops at a read past it.
TEST(ByteScan, FindsTheFirstStopAndReadsNothingOutsideTheText) {
  constexpr unsigned char LOW = ' ';
  const char stops[] = {'"', '\\', ' ', '\t', '\0', '\x1f'};
  const char fillers[] = {'a', '!', '\x7f', '\x80', '\xff'};
  for (size_t size = 0; size <= 50; ++size) {
    for (size_t at = 0; at <= size; ++at) {  // `size`: the text holds no stop
      for (const char stop : stops) {
        for (const char filler : fillers) {
          const auto text = std::make_unique<char[]>(size);
          std::fill_n(text.get(), size, filler);
          if (at < size) text[at] = stop;
          if (at + 1 < size) text[size - 1] = stop;  // a later stop is not the first
          EXPECT_EQ(FindByteOrLow(text.get(), size, '"', '\\', LOW), at)
              << "stop " << int{stop} << ", filler " << int{filler} << ", size " << size;
        }
      }
    }
  }
}

// The line space of an entry holds its whole line, escapes included, whichever field is
// long: nothing is shed.
TEST_F(Writers, LineSpaceHoldsEveryFieldEscaped) {
  std::string quotes(3000, '"');
  std::string backslashes(3000, '\\');
  for (EntryText LogEntry::*field : {&LogEntry::agent, &LogEntry::referer, &LogEntry::protocol,
                                     &LogEntry::query, &LogEntry::cookie, &LogEntry::user}) {
    for (std::string* text : {&quotes, &backslashes}) {
      LogEntry e = Example();
      e.line_length = 0;  // not known: every field is measured
      e.*field = TextOf(text->data());
      for (LineWriter writer : {FormatNcsaLine, FormatW3cLine, FormatWebstarLine}) {
        const std::string line = Format(writer, e, LineSizeBound(e));
        ASSERT_FALSE(line.empty());
        // NCSA has no cookie, W3C and WebSTAR no protocol.
        const bool written =
            writer == FormatNcsaLine ? field != &LogEntry::cookie : field != &LogEntry::protocol;
        if (written) {
          EXPECT_GE(std::count(line.begin(), line.end(), (*text)[0]), 3000) << line;
        }
      }
    }
  }
}

// A present but empty text (a host that normalisation emptied) prints like an absent one,
// so the fields of a line never run together; with method and uri both empty there is no
// request at all.
// Values the input did not have print as "-" in every dialect: nothing is invented.
TEST_F(Writers, AbsentNumbersAndRequestPrintAsDashes) {
  LogEntry e = Example();
  e.method = TextOf(nullptr);
  e.uri = TextOf(nullptr);
  e.status = NO_NUMBER;
  e.bytes = NO_NUMBER;
  e.transfer_time = NO_NUMBER;
  EXPECT_EQ(Format(FormatNcsaLine, e),
            "- - - [05/Mar/2001:14:07:09 -0500] \"-\" - - \"-\" \"-\"\n");
  EXPECT_EQ(Format(FormatW3cLine, e), "2001-03-05 14:07:09 - - - - - - - - - \"-\" \"-\" \"-\"\n");
  EXPECT_EQ(Format(FormatWebstarLine, e),
            "03/05/2001\t14:07:09\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t\"-\"\t-\n");
  // A 3 GB download keeps its size; a method without a uri still names the path "/".
  e.bytes = 3000000000;
  static char post[] = "POST";
  e.method = TextOf(post);
  EXPECT_EQ(Format(FormatNcsaLine, e),
            "- - - [05/Mar/2001:14:07:09 -0500] \"POST / HTTP/1.0\" - 3000000000 \"-\" \"-\"\n");
}

TEST_F(Writers, EmptyTextsPrintTheirPlaceholders) {
  char empty[][1] = {"", "", "", "", "", "", "", "", ""};
  LogEntry e = Example();
  e.client_host = TextOf(empty[0]);
  e.user = TextOf(empty[1]);
  e.method = TextOf(empty[2]);
  e.uri = TextOf(empty[3]);
  e.referer = TextOf(empty[4]);
  e.agent = TextOf(empty[5]);
  e.domain = TextOf(empty[6]);
  e.cookie = TextOf(empty[7]);
  EXPECT_EQ(Format(FormatNcsaLine, e),
            "- - - [05/Mar/2001:14:07:09 -0500] \"-\" 200 1024 \"-\" \"-\"\n");
  e.query = TextOf(empty[8]);
  EXPECT_EQ(Format(FormatW3cLine, e),
            "2001-03-05 14:07:09 - - - - - 200 1024 1000 - \"-\" \"-\" \"-\"\n");
  EXPECT_EQ(Format(FormatWebstarLine, e),
            "03/05/2001\t14:07:09\t-\t-\t-\t-\t-\t200\t1024\t60\t-\t-\t\"-\"\t-\n");
}

// Builds with assertions stop on an entry field whose length is not that of its text, so
// every test run checks the lengths each stage sets; a release build trusts them.
TEST_F(Writers, FieldLengthMismatchStopsBuildsWithAssertions) {
#ifdef NDEBUG
  GTEST_SKIP() << "the check is compiled only into builds with assertions";
#else
  static char agent[] = "Mozilla";
  struct Case {
    const char* name;
    EntryText LogEntry::*field;
    EntryText value;
  };
  const Case cases[] = {
      {"longer than the text", &LogEntry::agent, EntryText{agent, 8}},
      {"shorter than the text", &LogEntry::agent, EntryText{agent, 3}},
      {"negative", &LogEntry::agent, EntryText{agent, -1}},
      {"absent with a length", &LogEntry::referer, EntryText{nullptr, 2}},
      {"a field no dialect prints", &LogEntry::session, EntryText{agent, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogEntry e = Example();
    e.*c.field = c.value;
    for (const auto& d : DIALECTS) {
      SCOPED_TRACE(d.name);
      EXPECT_DEATH(Format(d.writer, e),
                   "internal error: the entry field [a-z_]+ carries the length");
    }
    EXPECT_DEATH(LineSizeBound(e), "carries the length");
  }
#endif
}

TEST_F(Writers, WritersLeaveTheEntryUnchanged) {
  std::string long_agent(5000, 'a');
  char cookie[] = "c";
  LogEntry e = Example();
  e.agent = TextOf(long_agent.data());
  e.cookie = TextOf(cookie);
  for (const auto& d : DIALECTS) {
    SCOPED_TRACE(d.name);
    const auto before = Fields(e);
    Format(d.writer, e);
    EXPECT_EQ(Fields(e), before);
  }
}

TEST_F(Writers, NcsaRequestQueryAndVirtualHost) {
  char uri[] = "/p", query[] = "a=1&b", empty[] = "", domain[] = "www.x";
  char http11[] = "HTTP/1.1", http2[] = "HTTP/2.0", odd[] = "SPDY 3";
  // The host, virtual-host and user fields, and the request, of each line; the rest is
  // the same everywhere. The protocol is written as read; HTTP/1.0 only where none was.
  struct Case {
    char* query;
    char* domain;
    bool vhost;
    char* protocol;
    const char* fields;
    const char* request;
  };
  const Case cases[] = {
      {query, nullptr, true, nullptr, "- - -", "GET /p?a=1&b HTTP/1.0"},
      {nullptr, nullptr, true, nullptr, "- - -", "GET /p HTTP/1.0"},
      {empty, nullptr, true, nullptr, "- - -", "GET /p? HTTP/1.0"},  // present, though empty
      {nullptr, domain, true, nullptr, "- www.x -", "GET /p HTTP/1.0"},
      {nullptr, domain, false, nullptr, "- - -", "GET /p HTTP/1.0"},
      {nullptr, nullptr, true, http11, "- - -", "GET /p HTTP/1.1"},
      {query, nullptr, true, http2, "- - -", "GET /p?a=1&b HTTP/2.0"},
      {nullptr, nullptr, true, empty, "- - -", "GET /p HTTP/1.0"},
      {nullptr, nullptr, true, odd, "- - -", "GET /p SPDY+3"},  // one field, like the uri
  };
  for (const auto& c : cases) {
    const std::string line = std::string(c.fields) + " [05/Mar/2001:14:07:09 -0500] \"" +
                             c.request + "\" 200 1024 \"-\" \"-\"\n";
    SCOPED_TRACE(line);
    options.vhost = c.vhost;
    LogEntry e = Example();
    e.uri = TextOf(uri);
    e.query = TextOf(c.query);
    e.domain = TextOf(c.domain);
    e.protocol = TextOf(c.protocol);
    EXPECT_EQ(Format(FormatNcsaLine, e), line);
  }
}

TEST_F(Writers, VhostOffStillPrintsTheDomainOnW3cAndWebstar) {
  options.vhost = false;
  char domain[] = "www.x";
  LogEntry e = Example();
  e.domain = TextOf(domain);
  EXPECT_NE(Format(FormatW3cLine, e).find(" 1000 www.x "), std::string::npos);
  EXPECT_NE(Format(FormatWebstarLine, e).find("\t60\twww.x\t"), std::string::npos);
}

TEST_F(Writers, NcsaStampYearsAndMonths) {
  struct Case {
    int year;
    int month;
    int day;
    const char* stamp;
  };
  const Case cases[] = {
      {1999, 12, 31, "[31/Dec/1999:14:07:09 -0500]"},
      {2000, 1, 1, "[01/Jan/2000:14:07:09 -0500]"},
      {2038, 6, 9, "[09/Jun/2038:14:07:09 -0500]"},
      {1970, 2, 28, "[28/Feb/1970:14:07:09 -0500]"},
      // No date at all: the zeros print as they are and the month shows as "???".
      {0, 0, 0, "[00/?\?\?/0000:14:07:09 -0500]"},
      {2001, 13, 1, "[01/?\?\?/2001:14:07:09 -0500]"},
      {2001, -1, 1, "[01/?\?\?/2001:14:07:09 -0500]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stamp);
    LogEntry e = Example();
    e.year = c.year;
    e.month = c.month;
    e.day = c.day;
    const std::string line = Format(FormatNcsaLine, e);
    EXPECT_EQ(line.substr(6, std::strlen(c.stamp)), c.stamp) << line;
  }
}

TEST_F(Writers, W3cAndWebstarPrintAMissingDateAsZeros) {
  LogEntry e = Example();
  e.year = e.month = e.day = 0;
  EXPECT_EQ(Format(FormatW3cLine, e).substr(0, 20), "0000-00-00 14:07:09 ");
  EXPECT_EQ(Format(FormatWebstarLine, e).substr(0, 20), "00/00/0000\t14:07:09\t");
}

TEST_F(Writers, TransferTimeInMillisecondsAndTicks) {
  // Milliseconds as they are; sixtieths of a second rounded to the nearest, half up.
  struct Case {
    int32_t transfer;
    const char* ms;
    const char* ticks;
  };
  const Case cases[] = {
      {1000, " 1000 ", "\t60\t"},
      {0, " 0 ", "\t0\t"},
      {8, " 8 ", "\t0\t"},
      {9, " 9 ", "\t1\t"},
      {25, " 25 ", "\t2\t"},
      {4501, " 4501 ", "\t270\t"},
      {4502, " 4502 ", "\t270\t"},
      {-1, " - ", "\t-\t"},  // absent
      {-7, " - ", "\t-\t"},
      // The product is taken in 64 bits: no overflow.
      {INT32_MAX, " 2147483647 ", "\t128849019\t"},
      {INT32_MIN, " - ", "\t-\t"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.transfer);
    LogEntry e = Example();
    e.transfer_time = c.transfer;
    EXPECT_NE(Format(FormatW3cLine, e).find(std::string(" 1024") + c.ms), std::string::npos)
        << Format(FormatW3cLine, e);
    EXPECT_NE(Format(FormatWebstarLine, e).find(std::string("\t1024") + c.ticks), std::string::npos)
        << Format(FormatWebstarLine, e);
  }
}

TEST_F(Writers, LineTerminators) {
  struct Case {
    NewlineStyle style;
    const char* end;
  };
  const Case cases[] = {
      {NewlineStyle::MAC, "\r"}, {NewlineStyle::UNIX, "\n"}, {NewlineStyle::DOS, "\r\n"}};
  for (const auto& c : cases) {
    options.newlines = c.style;
    const size_t end_size = std::strlen(c.end);
    for (const OutputDialect& d : OUTPUT_DIALECTS) {
      SCOPED_TRACE(std::string(d.name) + " " + std::to_string(static_cast<int>(c.style)));
      const std::string line = Format(d.writer, Example());
      ASSERT_GT(line.size(), end_size);
      EXPECT_EQ(line.substr(line.size() - end_size), c.end);
      EXPECT_EQ(line.find_first_of("\r\n"), line.size() - end_size);
    }
    // The header lines end in a single LF whatever the style.
    for (OutputFormat f : {OutputFormat::W3C, OutputFormat::WEBSTAR}) {
      const std::string header = HeaderFor(f);
      EXPECT_EQ(header.find_first_of("\r\n"), header.size() - 1);
      EXPECT_EQ(header.back(), '\n');
    }
  }
}

TEST_F(Writers, ChoosingByOutputFormat) {
  EXPECT_EQ(WriterFor(OutputFormat::NCSA), &FormatNcsaLine);
  EXPECT_EQ(WriterFor(OutputFormat::W3C), &FormatW3cLine);
  EXPECT_EQ(WriterFor(OutputFormat::WEBSTAR), &FormatWebstarLine);
  EXPECT_STREQ(HeaderFor(OutputFormat::NCSA), "");
  EXPECT_STREQ(HeaderFor(OutputFormat::W3C),
               "#Fields: date time c-ip cs-username cs-method cs-uri-stem cs-uri-query "
               "sc-status sc-bytes time-taken cs-host cs(User-Agent) cs(Cookie) cs(Referer)\n");
  EXPECT_STREQ(HeaderFor(OutputFormat::WEBSTAR),
               "!!LOG_FORMAT DATE TIME HOSTNAME USER METHOD URL SEARCH_ARGS SC-STATUS BYTES "
               "TRANSFER_TIME CS(HOST) AGENT CS(COOKIE) REFERER\n");
}

// The header names as many fields as a line of its dialect has.
TEST_F(Writers, HeadersNameEveryFieldOfTheirLines) {
  const auto count = [](const std::string& text, char separator) {
    return static_cast<int>(std::count(text.begin(), text.end(), separator)) + 1;
  };
  const std::string w3c = HeaderFor(OutputFormat::W3C);
  const std::string webstar = HeaderFor(OutputFormat::WEBSTAR);
  // Minus the directive word itself, and the trailing newline ends no extra field.
  EXPECT_EQ(count(w3c.substr(0, w3c.size() - 1), ' ') - 1,
            count(Format(FormatW3cLine, Example()), ' '));
  EXPECT_EQ(count(webstar.substr(0, webstar.size() - 1), ' ') - 1,
            count(Format(FormatWebstarLine, Example()), '\t'));
}

// ---- Shedding -----------------------------------------------------------------------------

TEST_F(Writers, W3cShedsCookieFirstThenAgent) {
  std::string agent(5000, 'a');
  char cookie[] = "session=1", referer[] = "http://r/", user[] = "ann";
  LogEntry e = Example();
  e.agent = TextOf(agent.data());
  e.cookie = TextOf(cookie);
  e.referer = TextOf(referer);
  e.user = TextOf(user);
  EXPECT_EQ(Format(FormatW3cLine, e),
            "2001-03-05 14:07:09 - ann GET / - 200 1024 1000 - \"-\" \"\" \"http://r/\"\n");
}

TEST_F(Writers, W3cSheddingStopsOnceTheEstimateFits) {
  // A 4050-byte cookie alone is too long; shedding it is enough, the agent stays.
  std::string cookie(4050, 'c');
  char agent[] = "Moz";
  LogEntry e = Example();
  e.cookie = TextOf(cookie.data());
  e.agent = TextOf(agent);
  EXPECT_EQ(Format(FormatW3cLine, e),
            "2001-03-05 14:07:09 - - GET / - 200 1024 1000 - \"Moz\" \"\" \"-\"\n");
}

// Five 40-byte fields, shed one at a time. The W3C estimate runs one byte short of the
// line (255 characters, estimate 254), so the whole line needs 256 bytes and a buffer of
// 255 sheds the cookie although the estimate admits it; the WebSTAR estimate runs nine
// bytes over its line (estimate 258, line 249), so it sheds from 258 down.
TEST_F(Writers, SheddingOrderAndBufferSizes) {
  const std::string c(40, 'c'), a(40, 'a'), r(40, 'r'), q(40, 'q'), u(40, 'u');
  std::string cookie = c, agent = a, referer = r, query = q, user = u;
  LogEntry e = Example();
  e.cookie = TextOf(cookie.data());
  e.agent = TextOf(agent.data());
  e.referer = TextOf(referer.data());
  e.query = TextOf(query.data());
  e.user = TextOf(user.data());
  struct Case {
    LineWriter writer;
    size_t size;
    int shed;
  };  // -1: the empty text
  const Case cases[] = {
      {FormatW3cLine, 256, 0},     {FormatW3cLine, 255, 1},     {FormatW3cLine, 216, 1},
      {FormatW3cLine, 215, 2},     {FormatW3cLine, 177, 2},     {FormatW3cLine, 176, 3},
      {FormatW3cLine, 137, 4},     {FormatW3cLine, 98, 5},      {FormatW3cLine, 60, 5},
      {FormatW3cLine, 59, -1},     {FormatWebstarLine, 259, 0}, {FormatWebstarLine, 258, 1},
      {FormatWebstarLine, 220, 1}, {FormatWebstarLine, 219, 2}, {FormatWebstarLine, 181, 2},
      {FormatWebstarLine, 180, 3}, {FormatWebstarLine, 141, 4}, {FormatWebstarLine, 102, 5},
      {FormatWebstarLine, 64, 5},  {FormatWebstarLine, 63, -1},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::to_string(k.size) + (k.writer == FormatW3cLine ? " W3C" : " WebSTAR"));
    const std::string cs = k.shed > 0 ? "" : c, as = k.shed > 1 ? "-" : a,
                      rs = k.shed > 2 ? "-" : r, qs = k.shed > 3 ? "-" : q,
                      us = k.shed > 4 ? "-" : u;
    std::string expected;
    if (k.shed < 0) {
      expected = "";
    } else if (k.writer == FormatW3cLine) {
      expected = "2001-03-05 14:07:09 - " + us + " GET / " + qs + " 200 1024 1000 - \"" + as +
                 "\" \"" + cs + "\" \"" + rs + "\"\n";
    } else {
      expected = "03/05/2001\t14:07:09\t-\t" + us + "\tGET\t/\t" + qs + "\t200\t1024\t60\t-\t" +
                 as + "\t\"" + cs + "\"\t" + rs + "\n";
    }
    EXPECT_EQ(Format(k.writer, e, k.size), expected);
  }
}

TEST_F(Writers, NcsaShedsRefererAndAgentTogether) {
  std::string referer(4050, 'r');  // estimate 4120
  char agent[] = "Moz", cookie[] = "not part of the line";
  LogEntry e = Example();
  e.referer = TextOf(referer.data());
  e.agent = TextOf(agent);
  e.cookie = TextOf(cookie);
  EXPECT_EQ(Format(FormatNcsaLine, e),
            "- - - [05/Mar/2001:14:07:09 -0500] \"GET / HTTP/1.0\" 200 1024 \"-\" \"-\"\n");
}

TEST_F(Writers, NcsaWithAnOverlongUriWritesNothing) {
  std::string uri(4090, 'u');
  char referer[] = "http://r/";
  LogEntry e = Example();
  e.uri = TextOf(uri.data());
  e.referer = TextOf(referer);
  EXPECT_EQ(Format(FormatNcsaLine, e), "");
}

TEST_F(Writers, TinyBuffers) {
  for (const auto& d : DIALECTS) {
    SCOPED_TRACE(d.name);
    for (size_t size : {1u, 2u, 10u, 40u}) EXPECT_EQ(Format(d.writer, Example(), size), "");
    // A zero-size buffer is left untouched.
    char untouched = 'X';
    d.writer(&untouched, 0, Example(), options);
    EXPECT_EQ(untouched, 'X');
  }
}

// The estimate counts the digits of the numbers only through its base, so numbers as long
// as INT32_MIN can make a line that the estimate admits longer than the buffer. Such a
// line sheds further fields instead of being cut or overflowing.
TEST_F(Writers, LongNumbersShedFurtherInsteadOfOverflowing) {
  std::string cookie(100, 'c');
  LogEntry e = Example();
  e.cookie = TextOf(cookie.data());
  e.year = e.month = e.day = e.hour = e.minute = e.second = INT32_MIN;
  e.status = e.bytes = e.transfer_time = INT32_MIN;
  const std::string full = Format(FormatW3cLine, e);
  ASSERT_NE(full.find(cookie), std::string::npos);
  // A buffer the estimate says is large enough, but one byte short of the whole line.
  const size_t size = full.size();
  ASSERT_LT(48 + 10 + 100, static_cast<int>(size));  // the estimate admits it
  const std::string shed = Format(FormatW3cLine, e, size);
  EXPECT_EQ(shed.find(cookie), std::string::npos);
  EXPECT_EQ(shed.substr(shed.size() - 11), "\"-\" \"\" \"-\"\n") << shed;
}

// Every buffer size from 0 up, with numbers of the longest kind: nothing is written past
// the buffer (AddressSanitizer watches the exact-size buffer), and the result is either a
// whole line or the empty text, never a cut line.
TEST_F(Writers, NoSizeOverflowsOrCutsALine) {
  std::string agent(60, 'a'), cookie(30, 'c'), uri(20, 'u');
  char query[] = "q=1";
  LogEntry big = Example();
  big.agent = TextOf(agent.data());
  big.cookie = TextOf(cookie.data());
  big.uri = TextOf(uri.data());
  big.query = TextOf(query);
  big.year = big.month = big.day = big.hour = big.minute = big.second = INT32_MIN;
  big.status = big.bytes = big.transfer_time = INT32_MIN;
  LogEntry max = big;
  max.year = max.month = max.day = max.hour = max.minute = max.second = INT32_MAX;
  max.status = max.bytes = max.transfer_time = INT32_MAX;
  options.newlines = NewlineStyle::DOS;
  for (const LogEntry* e : {&big, &max}) {
    for (const auto& d : DIALECTS) {
      const std::string whole = Format(d.writer, *e);
      for (size_t size = 0; size <= whole.size() + 1; ++size) {
        SCOPED_TRACE(std::string(d.name) + " size " + std::to_string(size));
        if (size == 0) {
          char untouched = 'X';
          d.writer(&untouched, 0, *e, options);
          EXPECT_EQ(untouched, 'X');
          continue;
        }
        const std::string line = Format(d.writer, *e, size);
        EXPECT_LT(line.size(), size);
        if (!line.empty()) {
          EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
        }
      }
      EXPECT_EQ(Format(d.writer, *e, whole.size() + 1), whole);
    }
  }
}

}  // namespace

namespace {

// An entry whose input gave no offset is stamped with the offset of the zone the options
// name at its clock time (the repeated autumn hour as its first reading, the skipped spring
// hour with the offset before the change), or +0000 without a zone.
TEST_F(Writers, NcsaStampWithoutOffsetTakesTheNamedZones) {
  TimeZone new_york;
  std::string error;
  ASSERT_TRUE(LoadTimeZone("America/New_York", new_york, error)) << error;
  struct Case {
    const TimeZone* zone;
    int32_t month, day, hour;
    const char* stamp;
  };
  const Case cases[] = {
      {&new_york, 1, 15, 12, "[15/Jan/2001:12:07:09 -0500]"},
      {&new_york, 7, 15, 12, "[15/Jul/2001:12:07:09 -0400]"},
      {&new_york, 4, 1, 2, "[01/Apr/2001:02:07:09 -0500]"},    // skipped hour
      {&new_york, 10, 28, 1, "[28/Oct/2001:01:07:09 -0400]"},  // repeated hour
      {nullptr, 7, 15, 12, "[15/Jul/2001:12:07:09 +0000]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stamp);
    options.offsetless_zone = c.zone;
    LogEntry e = Example();
    e.utc_offset = NO_OFFSET;
    e.year = 2001;
    e.month = c.month;
    e.day = c.day;
    e.hour = c.hour;
    EXPECT_NE(Format(FormatNcsaLine, e).find(c.stamp), std::string::npos)
        << Format(FormatNcsaLine, e);
  }
  options.offsetless_zone = nullptr;
}

}  // namespace

// ---- Combined, vhost_combined and JSON lines ------------------------------------------------

namespace {

// A combined-log entry as Apache writes one for a virtual host, with texts that JSON must
// escape.
struct JsonEntry {
  char host[16] = "192.0.2.10";
  char domain[32] = "www.example.com";
  char user[8] = "frank";
  char method[8] = "GET";
  char uri[16] = "/caf\xc3\xa9";
  char query[16] = "q=\"a\"";
  char protocol[16] = "HTTP/1.1";
  char referer[32] = "https://a.example/";
  char agent[32] = "Bot\\1\t\x01";
  LogEntry e;

  JsonEntry() {
    e = Example();
    e.client_host = TextOf(host);
    e.domain = TextOf(domain);
    e.user = TextOf(user);
    e.method = TextOf(method);
    e.uri = TextOf(uri);
    e.query = TextOf(query);
    e.protocol = TextOf(protocol);
    e.referer = TextOf(referer);
    e.agent = TextOf(agent);
    e.utc_offset = 120;
    e.millisecond = 7;
  }
};

}  // namespace

TEST_F(Writers, CombinedAndVhostCombinedLines) {
  JsonEntry j;
  const std::string combined =
      "192.0.2.10 - frank [05/Mar/2001:14:07:09 +0200] \"GET /caf\xc3\xa9?q=\\\"a\\\" HTTP/1.1\" "
      "200 1024 \"https://a.example/\" \"Bot\\1\t\x01\"\n";
  // The ident field is "-" whatever --vhost says.
  for (bool vhost : {true, false}) {
    options.vhost = vhost;
    EXPECT_EQ(Format(FormatCombinedLine, j.e), combined);
    EXPECT_EQ(Format(FormatVhostCombinedLine, j.e), "www.example.com:80 " + combined);
  }
  // A host read with its port keeps it; none at all prints "-" with the port readers expect.
  std::strcpy(j.domain, "www.example.com:443");
  j.e.domain = TextOf(j.domain);
  EXPECT_EQ(Format(FormatVhostCombinedLine, j.e), "www.example.com:443 " + combined);
  j.e.domain = EntryText{};
  EXPECT_EQ(Format(FormatVhostCombinedLine, j.e), "-:80 " + combined);
}

TEST_F(Writers, JsonLineKeysInOrderAbsentValuesLeftOut) {
  JsonEntry j;
  EXPECT_EQ(Format(FormatJsonLine, j.e),
            "{\"time\":\"2001-03-05T14:07:09.007+02:00\",\"client\":\"192.0.2.10\","
            "\"user\":\"frank\",\"method\":\"GET\",\"path\":\"/caf\xc3\xa9\",\"query\":"
            "\"q=\\\"a\\\"\",\"protocol\":\"HTTP/1.1\",\"status\":200,\"bytes\":1024,"
            "\"duration_ms\":1000,\"vhost\":\"www.example.com\",\"referer\":\"https://a.example/\","
            "\"agent\":\"Bot\\\\1\\t\\u0001\"}\n");
  // Nothing but the stamp: every other key is left out, never null.
  LogEntry bare;
  ResetEntry(bare);
  bare.year = 2024;
  bare.month = 3;
  bare.day = 31;
  bare.hour = 3;
  bare.utc_offset = -570;
  EXPECT_EQ(Format(FormatJsonLine, bare), "{\"time\":\"2024-03-31T03:00:00.000-09:30\"}\n");
  // No date: no time key.
  bare.year = 0;
  EXPECT_EQ(Format(FormatJsonLine, bare), "{}\n");
}

// Valid UTF-8 is copied; every byte that is not part of a valid sequence is written as
// \u00XX, its Latin-1 reading, so every line is valid UTF-8 and loses no byte.
TEST_F(Writers, JsonStringsAreValidUtf8) {
  struct Case {
    const char* agent;
    const char* written;
  };
  const Case cases[] = {
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"caf\xe9", "caf\\u00e9"},                             // Latin-1
      {"\xc3", "\\u00c3"},                                   // cut short at the end
      {"\xc0\xaf", "\\u00c0\\u00af"},                        // overlong '/'
      {"\xed\xa0\x80", "\\u00ed\\u00a0\\u0080"},             // a surrogate
      {"\xf4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"},  // above U+10FFFF
      {"\xe2\x82x", "\\u00e2\\u0082x"},                      // a sequence broken off
      {"a\x7f\x1f\r\n", "a\x7f\\u001f\\r\\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    LogEntry e;
    ResetEntry(e);
    std::string agent = c.agent;
    e.agent = TextOf(agent.data());
    EXPECT_EQ(Format(FormatJsonLine, e), std::string("{\"agent\":\"") + c.written + "\"}\n");
  }
}

// An entry without an offset gets the offset of the zone named for such entries, as on NCSA
// lines.
TEST_F(Writers, JsonTimeOfAnEntryWithoutOffset) {
  TimeZone berlin;
  std::string error;
  ASSERT_TRUE(LoadTimeZone("Europe/Berlin", berlin, error)) << error;
  options.offsetless_zone = &berlin;
  LogEntry e = Example();
  e.utc_offset = NO_OFFSET;
  e.month = 7;
  EXPECT_EQ(Format(FormatJsonLine, e).substr(0, 39), "{\"time\":\"2001-07-05T14:07:09.000+02:00\"");
}

TEST_F(Writers, OutputFormatsByName) {
  for (const OutputDialect& d : OUTPUT_DIALECTS) {
    OutputFormat named = OutputFormat::NCSA;
    ASSERT_TRUE(OutputFormatNamed(d.name, named)) << d.name;
    EXPECT_EQ(named, d.format);
    EXPECT_STREQ(OutputFormatName(d.format), d.name);
    EXPECT_EQ(WriterFor(d.format), d.writer);
  }
  OutputFormat unchanged = OutputFormat::W3C;
  EXPECT_FALSE(OutputFormatNamed("JSON", unchanged));
  EXPECT_FALSE(OutputFormatNamed("combined ", unchanged));
  EXPECT_EQ(unchanged, OutputFormat::W3C);
}
