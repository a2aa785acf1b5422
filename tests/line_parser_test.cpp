// ParseLine: one line against one template.

#include <gtest/gtest.h>

#include <string>

#include "base/clock.h"
#include "base/text.h"
#include "parse/format_tokens.h"
#include "parse/parse_logs.h"
#include "parse_test_support.h"

namespace {

using parse_test::Buffer;
using parse_test::Describe;
using parse_test::ExpectSoundEntry;
using parse_test::Fields;
using parse_test::FreshState;
using parse_test::Template;

Template Builtin(int slot) {
  Template t;
  for (LogFormat p = BuiltinFormat(slot); *p != EOL; ++p) t.push_back(*p);
  t.push_back(EOL);
  return t;
}

struct Case {
  const char* name;
  Template format;
  std::string line;
  ParseResult result;
  Fields fields;  // for PARSE_ENTRY: every field that differs from the reset entry
};

// Parses each case with a fresh state and checks the result, the fields and the in-place
// invariants: a line that does not fit is left byte for byte as it was.
void RunCases(const std::vector<Case>& cases, bool webstar_mode = false,
              FieldStyle style = FieldStyle::TEMPLATE) {
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.line);
    ParseState state = FreshState();
    state.webstar_mode = webstar_mode;
    Buffer buffer(c.line);
    LogEntry entry;
    const ParseResult result = ParseLine(state, buffer.data(), c.format.data(), entry, style);
    ASSERT_EQ(result, c.result);
    if (result == PARSE_NO_MATCH) {
      EXPECT_EQ(buffer.Text(), c.line);
      continue;
    }
    if (result == PARSE_ENTRY) {
      EXPECT_EQ(Describe(entry), c.fields);
      ExpectSoundEntry(buffer, 0, state, entry);
    }
  }
}

const std::string kDate = "[01/Jan/2001:10:00:00 -0500]";
const Fields kCommon = {{"host", "1.2.3.4"},      {"date", "2001-01-01"}, {"time", "10:00:00"},
                        {"method", "GET"},        {"uri", "/a"},          {"query", "b=1"},
                        {"protocol", "HTTP/1.0"}, {"bytes", "512"}};

Fields With(Fields base, const Fields& more) {
  for (const auto& [k, v] : more) base[k] = v;
  return base;
}

TEST(ParseLine, CombinedTemplateReadsCommonAndCombinedLines) {
  const std::string common = "1.2.3.4 - - " + kDate + " \"GET /a?b=1 HTTP/1.0\" 200 512";
  const Template combined = Builtin(COMBINED);
  RunCases({
      {"common", combined, common, PARSE_ENTRY, kCommon},
      {"common with LF", combined, common + "\nnext", PARSE_ENTRY, kCommon},
      {"combined", combined, common + " \"http://r/\" \"Mozilla/4.0 (compatible)\"", PARSE_ENTRY,
       With(kCommon, {{"referer", "http://r/"}, {"agent", "Mozilla/4.0 (compatible)"}})},
      // A number after the agent has no declared unit: it is no transfer time, and what
      // follows it is no cookie.
      {"combined, number", combined, common + " \"http://r/\" \"M\" 3", PARSE_ENTRY,
       With(kCommon, {{"referer", "http://r/"}, {"agent", "M"}})},
      {"combined, number, quoted", combined, common + " \"-\" \"M\" 3 \"id=1\"", PARSE_ENTRY,
       With(kCommon, {{"agent", "M"}})},
      // A quoted field where the transfer time belongs is no cookie: passed over.
      {"quoted field after the agent", combined, common + " \"-\" \"M\" \"id=1\"", PARSE_ENTRY,
       With(kCommon, {{"agent", "M"}})},
      {"stops before bytes",
       combined,
       "1.2.3.4 - - " + kDate + " \"GET / HTTP/1.0\" 200",
       PARSE_NO_MATCH,
       {}},
      {"user",
       combined,
       "h - bob " + kDate + " \"GET / HTTP/1.0\" 404 -",
       PARSE_ENTRY,
       {{"host", "h"},
        {"user", "bob"},
        {"date", "2001-01-01"},
        {"time", "10:00:00"},
        {"method", "GET"},
        {"uri", "/"},
        {"protocol", "HTTP/1.0"},
        {"status", "404"}}},  // "-" bytes: none
      // EC drops the rest at a number followed by something else, and at '['.
      {"EC at 5x", combined, common + " \"-\" \"M\" 5x", PARSE_ENTRY,
       With(kCommon, {{"agent", "M"}})},
      {"EC at [", combined, common + " \"-\" \"M\" [x", PARSE_ENTRY,
       With(kCommon, {{"agent", "M"}})},
  });
}

// Fields that servers append to a combined line: the one where the transfer time belongs
// keeps that meaning when it is a number, and so does a cookie behind it; everything else
// is passed over.
TEST(ParseLine, CombinedLinesWithTrailingFields) {
  const Template combined = Builtin(COMBINED);
  const std::string line =
      "203.0.113.9 - - [12/Mar/2023:06:25:14 +0000] \"GET /index.html HTTP/1.1\" 200 615 "
      "\"http://example.com/\" \"Mozilla/5.0 (X11; Linux x86_64)\"";
  const Fields fields = {{"host", "203.0.113.9"},
                         {"date", "2023-03-12"},
                         {"time", "06:25:14"},
                         {"method", "GET"},
                         {"uri", "/index.html"},
                         {"protocol", "HTTP/1.1"},
                         {"bytes", "615"},
                         {"referer", "http://example.com/"},
                         {"agent", "Mozilla/5.0 (X11; Linux x86_64)"}};
  RunCases({
      // nginx's packaged default: combined, then "$http_x_forwarded_for".
      {"forwarded-for dash", combined, line + " \"-\"", PARSE_ENTRY, fields},
      {"forwarded-for list", combined, line + " \"198.51.100.4, 10.0.0.2\"\r\n", PARSE_ENTRY,
       With(fields, {{"forwarded_for", "198.51.100.4, 10.0.0.2"}})},
      {"IPv6 forwarded-for", combined, line + " \"2001:db8::7, [2001:db8::8]\"", PARSE_ENTRY,
       With(fields, {{"forwarded_for", "2001:db8::7, [2001:db8::8]"}})},
      {"a quoted field that is no address list", combined, line + " \"id=1\"", PARSE_ENTRY, fields},
      {"host behind", combined, line + " www.example.com", PARSE_ENTRY, fields},
      {"key=value timings", combined, line + " rt=0.004 uct=\"0.000\"", PARSE_ENTRY, fields},
      // Request and upstream time with fractions: EC passes over a number with a fraction.
      {"timings with fractions", combined, line + " 0.004 0.003", PARSE_ENTRY, fields},
      {"forwarded-for then timings", combined, line + " \"-\" 0.004 0.003", PARSE_ENTRY, fields},
      {"number, quoted and more", combined, line + " 2 \"id=1\" \"-\" www.example.com", PARSE_ENTRY,
       fields},
      // A cookie whose quote never closes: only the fields before EC stay.
      {"broken cookie", combined, line + " 2 \"id=1", PARSE_ENTRY, fields},
  });
}

// In a common-log line the user runs to the " [" that opens the date.
TEST(ParseLine, UserNamesWithBlanks) {
  const std::string rest =
      " [01/Jan/2001:13:01:00 +0100] \"GET / HTTP/1.0\" 200 7009 \"http://r/\" \"Mozilla/4.0\"";
  const Fields fields = {{"date", "2001-01-01"},   {"time", "13:01:00"},
                         {"method", "GET"},        {"uri", "/"},
                         {"protocol", "HTTP/1.0"}, {"bytes", "7009"},
                         {"referer", "http://r/"}, {"agent", "Mozilla/4.0"}};
  const Template combined = Builtin(COMBINED);
  const Template vhost = Builtin(VHOST_COMBINED);
  RunCases({
      {"two words", combined, "80.8.55.7 - John Doe" + rest, PARSE_ENTRY,
       With(fields, {{"host", "80.8.55.7"}, {"user", "John Doe"}})},
      {"domain account", combined, "80.8.55.7 - CORP\\j smith" + rest, PARSE_ENTRY,
       With(fields, {{"host", "80.8.55.7"}, {"user", "CORP\\j smith"}})},
      {"no user", combined, "80.8.55.7 - -" + rest, PARSE_ENTRY,
       With(fields, {{"host", "80.8.55.7"}})},
      // A virtual host in front: COMBINED would see "- John Doe" and leaves it to
      // VHOST_COMBINED, which keeps the name whole.
      {"virtual host in front",
       combined,
       "www.a.com 80.8.55.7 - John Doe" + rest,
       PARSE_NO_MATCH,
       {}},
      {"virtual host, no user", combined, "www.a.com 80.8.55.7 - -" + rest, PARSE_NO_MATCH, {}},
      {"vhost template", vhost, "www.a.com 80.8.55.7 - John Doe" + rest, PARSE_ENTRY,
       With(fields, {{"domain", "www.a.com"}, {"host", "80.8.55.7"}, {"user", "John Doe"}})},
      // Only right before the date: elsewhere a user still ends at a blank.
      {"not before a date", {HOST, USER, STATUS, EOL}, "h a b 200", PARSE_NO_MATCH, {}},
      {"no date bracket",
       combined,
       "80.8.55.7 - John Doe \"GET / HTTP/1.0\" 200 1",
       PARSE_NO_MATCH,
       {}},
  });
}

// W3C extended lines: padded columns and "" inside quoted strings; the same lines read
// with the template's own separators show what the style changes.
TEST(ParseLine, W3cColumnsAndDoubledQuotes) {
  const Template t = {DATE_YMD, TIME_24, HOST, AGENT, STATUS, BYTES, MUST_EOL, EOL};
  const Fields fields = {{"date", "2012-05-01"},
                         {"time", "00:00:07"},
                         {"host", "10.0.0.1"},
                         {"status", "304"},
                         {"bytes", "0"}};
  RunCases(
      {
          {"padded columns", t, "2012-05-01 00:00:07  10.0.0.1    Mozilla/5.0  304   0  ",
           PARSE_ENTRY, With(fields, {{"agent", "Mozilla/5.0"}})},
          {"doubled quote", t,
           "2012-05-01 00:00:07 10.0.0.1 \"Mozilla/5.0 (\"\"compatible\"\")\" 304 0", PARSE_ENTRY,
           With(fields, {{"agent", "Mozilla/5.0 (\"compatible\")"}})},
          {"quote pair at both ends", t, "2012-05-01 00:00:07 10.0.0.1 \"\"\"a\"\"\" 304 0",
           PARSE_ENTRY, With(fields, {{"agent", "\"a\""}})},
          {"empty string", t, "2012-05-01 00:00:07 10.0.0.1 \"\" 304 0", PARSE_ENTRY, fields},
          {"pair before the missing closer",
           t,
           "2012-05-01 00:00:07 10.0.0.1 \"a\"\" 304 0",
           PARSE_NO_MATCH,
           {}},
          {"tabs are not collapsed", {HOST, HOST, STATUS, EOL}, "a\t\tb 200", PARSE_NO_MATCH, {}},
          // Columns are separated by blanks only: a skipped field keeps its commas.
          {"comma in a skipped column",
           {TAB_SEP, HOST, SKIP, SKIP, STATUS, EOL},
           "10.0.0.1\t203.0.113.1, 10.0.0.2\ta,b\t404",
           PARSE_ENTRY,
           {{"host", "10.0.0.1"}, {"status", "404"}}},
      },
      false, FieldStyle::W3C);
  RunCases({
      {"padded columns as written",
       t,
       "2012-05-01 00:00:07  10.0.0.1 Mozilla/5.0 304 0",
       PARSE_NO_MATCH,
       {}},
      {"doubled quote as written",
       t,
       "2012-05-01 00:00:07 10.0.0.1 \"a\"\"b\" 304 0",
       PARSE_NO_MATCH,
       {}},
      {"comma in a skipped column as written",
       {TAB_SEP, HOST, SKIP, SKIP, STATUS, EOL},
       "10.0.0.1\t203.0.113.1, 10.0.0.2\ta,b\t404",
       PARSE_NO_MATCH,
       {}},
  });
}

// Apache writes a quote inside a quoted field as \" and a backslash as \\; such a quote is
// part of the field. Lines of a server that writes a lone backslash before the closing
// quote read as they always did.
TEST(ParseLine, BackslashEscapedQuotesInApacheLines) {
  const Template combined = Builtin(COMBINED);
  const std::string head = "198.51.100.7 - - [12/Mar/2023:06:25:14 +0000] ";
  const Fields base = {{"host", "198.51.100.7"}, {"date", "2023-03-12"}, {"time", "06:25:14"},
                       {"method", "GET"},        {"uri", "/"},           {"protocol", "HTTP/1.1"},
                       {"status", "404"},        {"bytes", "196"}};
  const std::string request = "\"GET / HTTP/1.1\" 404 196 ";
  Fields no_protocol = base;
  no_protocol.erase("protocol");
  RunCases({
      {"quotes in the agent", combined,
       head + request + "\"-\" \"Mozilla/5.0 (compatible; \\\"Bot\\\" 1.0)\"", PARSE_ENTRY,
       With(base, {{"agent", "Mozilla/5.0 (compatible; \"Bot\" 1.0)"}})},
      {"quote at the end of the agent, then more fields", combined,
       head + request + "\"-\" \"sqlmap \\\"\" \"10.0.0.1\"", PARSE_ENTRY,
       With(base, {{"agent", "sqlmap \""}, {"forwarded_for", "10.0.0.1"}})},
      {"quotes in the query", combined,
       head + "\"GET /index.php?q=\\\"admin\\\" HTTP/1.1\" 404 196 \"-\" \"curl/8.5.0\"",
       PARSE_ENTRY,
       With(base, {{"uri", "/index.php"}, {"query", "q=\"admin\""}, {"agent", "curl/8.5.0"}})},
      {"quote inside the uri", combined, head + "\"GET /a\\\"b HTTP/1.1\" 404 196", PARSE_ENTRY,
       With(base, {{"uri", "/a\"b"}})},
      // A backslash written as \\ before the closer is one backslash; elsewhere a backslash
      // stays as written.
      {"escaped backslash before the closer", combined,
       head + request + "\"http://x/\\\\\" \"a\\\\b\"", PARSE_ENTRY,
       With(base, {{"referer", "http://x/\\"}, {"agent", "a\\\\b"}})},
      {"escaped backslash, then escaped quote", combined, head + request + "\"-\" \"a\\\\\\\"b\"",
       PARSE_ENTRY, With(base, {{"agent", "a\\\"b"}})},
      {"lone backslash before the closer", combined, head + request + "\"C:\\\" \"Mozilla/4.0\"",
       PARSE_ENTRY, With(base, {{"referer", "C:\\"}, {"agent", "Mozilla/4.0"}})},
      {"lone backslash at the end of the request", combined,
       head + "\"GET /a\\\" 404 196 \"-\" \"M\"", PARSE_ENTRY,
       With(no_protocol, {{"uri", "/a\\"}, {"agent", "M"}})},
      {"escaped quote with no closer", combined, head + request + "\"-\" \"abc\\\"", PARSE_ENTRY,
       With(base, {{"agent", "abc\\"}})},
  });
  // W3C lines escape by doubling: a backslash there is an ordinary character.
  RunCases({{"backslash in a W3C string",
             {AGENT, HOST, EOL},
             "\"a\\\" h",
             PARSE_ENTRY,
             {{"agent", "a\\"}, {"host", "h"}}}},
           false, FieldStyle::W3C);
}

TEST(ParseLine, FullRequestForms) {
  const Template t = {FULL_REQUEST, EOL};
  RunCases({
      {"absent", t, "\"-\" x", PARSE_ENTRY, {}},
      {"method only", t, "\"GET\"", PARSE_ENTRY, {{"method", "GET"}}},
      {"no protocol", t, "\"GET /x\"", PARSE_ENTRY, {{"method", "GET"}, {"uri", "/x"}}},
      {"query without protocol",
       t,
       "\"GET /x?\"",
       PARSE_ENTRY,
       {{"method", "GET"}, {"uri", "/x"}, {"query", ""}}},
      {"quote and HTTP restart",
       t,
       "\"GET /a b\"HTTP/1.0\"",
       PARSE_ENTRY,
       {{"method", "GET"}, {"uri", "/a"}, {"protocol", "HTTP/1.0"}}},
      // The words between keep their place in the uri (or query): none is lost.
      {"last word is the protocol",
       t,
       "\"GET /a b c HTTP/1.1\"",
       PARSE_ENTRY,
       {{"method", "GET"}, {"uri", "/a b c"}, {"protocol", "HTTP/1.1"}}},
      {"four words with a query",
       t,
       "\"one two?q three four\"",
       PARSE_ENTRY,
       {{"method", "one"}, {"uri", "two"}, {"query", "q three"}, {"protocol", "four"}}},
      {"blanks before the protocol are no part of the uri",
       t,
       "\"GET /a b   HTTP/1.1\"",
       PARSE_ENTRY,
       {{"method", "GET"}, {"uri", "/a b"}, {"protocol", "HTTP/1.1"}}},
      {"empty protocol", t, "\"GET /a   \"", PARSE_ENTRY, {{"method", "GET"}, {"uri", "/a"}}},
      {"missing closer",
       t,
       "\"GET /a HTTP/1.0",
       PARSE_ENTRY,
       {{"method", "GET"}, {"uri", "/a"}, {"protocol", "HTTP/1.0"}}},
      {"no opening quote", t, "GET /a HTTP/1.0", PARSE_NO_MATCH, {}},
      {"method ends at line end", t, "\"GET", PARSE_NO_MATCH, {}},
      {"method ends at TAB", t, "\"GET\t/a\"", PARSE_ENTRY, {{"method", "GET\t/a"}}},
  });
}

TEST(ParseLine, HostUriAndQuery) {
  RunCases({
      {"quoted host", {HOST, SKIP, EOL}, "\"my host\" x", PARSE_ENTRY, {{"host", "my host"}}},
      {"dash host", {HOST, SKIP, EOL}, "- x", PARSE_ENTRY, {}},
      {"host stops at comma", {HOST, HOST, EOL}, "a,b", PARSE_ENTRY, {{"host", "b"}}},
      {"unterminated host", {HOST, SKIP, EOL}, "\"my host x", PARSE_NO_MATCH, {}},
      {"angle is no host quote", {HOST, EOL}, "<h>", PARSE_ENTRY, {{"host", "<h>"}}},
      {"plain uri",
       {URI, STATUS, EOL},
       "/a?x=1 404",
       PARSE_ENTRY,
       {{"uri", "/a"}, {"query", "x=1"}, {"status", "404"}}},
      {"dash uri is kept",
       {HOST, URI, STATUS, EOL},
       "h - 200",
       PARSE_ENTRY,
       {{"host", "h"}, {"uri", "-"}}},
      // Before the first separator a space does not end a uri.
      {"first uri runs on", {URI, EOL}, "/a b c", PARSE_ENTRY, {{"uri", "/a b c"}}},
      {"quoted uri",
       {URI, STATUS, EOL},
       "\"/a b?c d\" 200",
       PARSE_ENTRY,
       {{"uri", "/a b"}, {"query", "c d"}}},
      {"quoted uri without closer", {URI, STATUS, EOL}, "\"/a 200", PARSE_NO_MATCH, {}},
      {"uri with colons",
       {URI, EOL},
       ":folder:page.html",
       PARSE_ENTRY,
       {{"uri", "/folder/page.html"}}},
      {"inner colon stays", {URI, EOL}, "/a:b", PARSE_ENTRY, {{"uri", "/a:b"}}},
      // After ", " the uri keeps its spaces and the query ends at a comma before the end.
      {"comma separated",
       {SKIP, URI, URI_QUERY, EOL},
       "x, /a b, q=1,",
       PARSE_ENTRY,
       {{"uri", "/a b"}, {"query", "q=1"}}},
      {"uri query dash", {SKIP, URI, URI_QUERY, EOL}, "x, /a, -,", PARSE_ENTRY, {{"uri", "/a"}}},
      {"uri stops at comma space",
       {URI, HOST, EOL},
       "/a,b, h",
       PARSE_ENTRY,
       {{"uri", "/a,b"}, {"host", "h"}}},
      {"plain query stops at space",
       {URI, SKIP, HOST, EOL},
       "/a?b c h",
       PARSE_ENTRY,
       {{"uri", "/a"}, {"query", "b"}, {"host", "h"}}},
      {"curi and cquery",
       {CURI, CQUERY, EOL},
       "/a?b,q=1",
       PARSE_ENTRY,
       {{"uri", "/a?b"}, {"query", "q=1"}}},
      {"empty curi", {CURI, CQUERY, EOL}, ",,", PARSE_ENTRY, {{"uri", ""}}},
  });
}

TEST(ParseLine, AbsentNumbersStayAbsent) {
  // A "-" status, byte count or transfer time, and a line without those fields, invent no
  // value: each stays absent, not 0.
  const Template numbers = {STATUS, BYTES, EOL};
  const Template host_only = {HOST, EOL};
  const Template times = {TRAN_TIME_SECS, TRAN_TIME_MILLI, TRAN_TIME_TICKS, TRAN_TIME_HMS, EOL};
  for (const auto& [text, format] :
       {std::pair{"- -", numbers.data()}, {"h", host_only.data()}, {"- - - -", times.data()}}) {
    SCOPED_TRACE(text);
    ParseState state = FreshState();
    Buffer buffer(text);
    LogEntry entry;
    ASSERT_EQ(ParseLine(state, buffer.data(), format, entry), PARSE_ENTRY);
    EXPECT_EQ(entry.status, NO_NUMBER);
    EXPECT_EQ(entry.bytes, NO_NUMBER);
    EXPECT_EQ(entry.transfer_time, NO_NUMBER);
  }
}

TEST(ParseLine, NumberFields) {
  RunCases({
      {"dash status and bytes", {STATUS, BYTES, EOL}, "- -", PARSE_ENTRY, {}},
      {"numbers", {STATUS, BYTES, EOL}, "304 0", PARSE_ENTRY, {{"status", "304"}, {"bytes", "0"}}},
      {"bytes 12.5", {STATUS, BYTES, EOL}, "200 12.5", PARSE_NO_MATCH, {}},
      {"a 3 GB download",
       {STATUS, BYTES, EOL},
       "200 3000000000",
       PARSE_ENTRY,
       {{"bytes", "3000000000"}}},
      {"bytes beyond 64 bits stay at the largest count",
       {STATUS, BYTES, EOL},
       "200 99999999999999999999",
       PARSE_ENTRY,
       {{"bytes", "9223372036854775807"}}},
      {"status 2.0", {STATUS, EOL}, "2.0", PARSE_NO_MATCH, {}},
      {"status not a number", {STATUS, EOL}, "x", PARSE_NO_MATCH, {}},
      {"status at line end", {HOST, STATUS, EOL}, "h", PARSE_NO_MATCH, {}},
      {"seconds", {TRAN_TIME_SECS, EOL}, "2", PARSE_ENTRY, {{"transfer", "2000"}}},
      {"ticks", {TRAN_TIME_TICKS, EOL}, "2", PARSE_ENTRY, {{"transfer", "33"}}},
      {"ticks round up", {TRAN_TIME_TICKS, EOL}, "7", PARSE_ENTRY, {{"transfer", "117"}}},
      {"milliseconds", {TRAN_TIME_MILLI, EOL}, "1500", PARSE_ENTRY, {{"transfer", "1500"}}},
      // IIS writes whole milliseconds: every value stays exact.
      {"milliseconds 4502", {TRAN_TIME_MILLI, EOL}, "4502", PARSE_ENTRY, {{"transfer", "4502"}}},
      {"milliseconds 4501", {TRAN_TIME_MILLI, EOL}, "4501", PARSE_ENTRY, {{"transfer", "4501"}}},
      {"one millisecond", {TRAN_TIME_MILLI, EOL}, "1", PARSE_ENTRY, {{"transfer", "1"}}},
      {"huge milliseconds",
       {TRAN_TIME_MILLI, EOL},
       "3000000000",
       PARSE_ENTRY,
       {{"transfer", "2147483647"}}},
      // With a fraction the value is seconds, as CloudFront writes time-taken.
      {"seconds with a fraction",
       {TRAN_TIME_MILLI, EOL},
       "2.25",
       PARSE_ENTRY,
       {{"transfer", "2250"}}},
      // Finer fractions round to the nearest millisecond, half up, not down.
      {"seconds rounded up", {TRAN_TIME_MILLI, EOL}, "0.0015", PARSE_ENTRY, {{"transfer", "2"}}},
      {"seconds rounded down",
       {TRAN_TIME_MILLI, EOL},
       "1.0004",
       PARSE_ENTRY,
       {{"transfer", "1000"}}},
      {"a millisecond as seconds",
       {TRAN_TIME_MILLI, EOL},
       "0.001",
       PARSE_ENTRY,
       {{"transfer", "1"}}},
      {"fraction finer than the unit",
       {TRAN_TIME_MILLI, EOL},
       "0.0000000000001",
       PARSE_ENTRY,
       {{"transfer", "0"}}},
      {"fraction without digits", {TRAN_TIME_MILLI, EOL}, "1.", PARSE_NO_MATCH, {}},
      {"two fractions", {TRAN_TIME_MILLI, EOL}, "1.2.3", PARSE_NO_MATCH, {}},
      {"hms", {TRAN_TIME_HMS, EOL}, "00:01:02", PARSE_ENTRY, {{"transfer", "62000"}}},
      {"hms as ticks", {TRAN_TIME_HMS, EOL}, "7", PARSE_ENTRY, {{"transfer", "117"}}},
      {"hms broken", {TRAN_TIME_HMS, EOL}, "0a:01:02", PARSE_NO_MATCH, {}},
      {"hms short", {TRAN_TIME_HMS, EOL}, "00:01", PARSE_NO_MATCH, {}},
      {"dash keeps the time",
       {TRAN_TIME_SECS, TRAN_TIME_MILLI, EOL},
       "2 -",
       PARSE_ENTRY,
       {{"transfer", "2000"}}},
      {"seconds 1.5", {TRAN_TIME_SECS, EOL}, "1.5", PARSE_NO_MATCH, {}},
      // Huge values are clamped instead of overflowing.
      {"huge seconds",
       {TRAN_TIME_SECS, EOL},
       "2000000000",
       PARSE_ENTRY,
       {{"transfer", "2147483647"}}},
      {"microseconds", {TRAN_TIME_MICRO, EOL}, "1500", PARSE_ENTRY, {{"transfer", "2"}}},
      // Counts beyond 32 bits are clamped, never wrapped round to a small or negative time.
      {"a 50-minute request in microseconds",
       {TRAN_TIME_MICRO, EOL},
       "3000000000",
       PARSE_ENTRY,
       {{"transfer", "3000000"}}},
      {"seconds beyond 32 bits",
       {TRAN_TIME_SECS, EOL},
       "4294967297",
       PARSE_ENTRY,
       {{"transfer", "2147483647"}}},
      {"microseconds beyond 64 bits",
       {TRAN_TIME_MICRO, EOL},
       "99999999999999999999999",
       PARSE_ENTRY,
       {{"transfer", "1099511628"}}},
      {"webstar OK", {WEBSTAR_RESULT, HOST, EOL}, "OK\th", PARSE_ENTRY, {{"host", "h"}}},
      {"webstar ERR!",
       {WEBSTAR_RESULT, HOST, EOL},
       "ERR! x\th",
       PARSE_ENTRY,
       {{"host", "h"}, {"status", "404"}}},
      {"webstar PRIV",
       {WEBSTAR_RESULT, HOST, EOL},
       "PRIV\th",
       PARSE_ENTRY,
       {{"host", "h"}, {"status", "401"}}},
      {"webstar other", {WEBSTAR_RESULT, HOST, EOL}, "ERR\th", PARSE_ENTRY, {{"host", "h"}}},
  });
}

TEST(ParseLine, QuotedTextFields) {
  RunCases({
      {"referer apostrophe",
       {REFERER, EOL},
       "'http://x/ y'",
       PARSE_ENTRY,
       {{"referer", "http://x/ y"}}},
      {"referer angle", {REFERER, EOL}, "<http://x/>", PARSE_ENTRY, {{"referer", "http://x/"}}},
      {"referer backquote", {REFERER, EOL}, "`x y`", PARSE_ENTRY, {{"referer", "x y"}}},
      {"referer quoted dash", {REFERER, EOL}, "\"-\"", PARSE_ENTRY, {}},
      {"referer plain dash", {HOST, REFERER, HOST, EOL}, "x - h", PARSE_ENTRY, {{"host", "h"}}},
      {"referer missing closer", {REFERER, EOL}, "\"http://x/", PARSE_NO_MATCH, {}},
      {"referer closer behind CR",
       {REFERER, EOL},
       "\"abc\r\"\n",
       PARSE_ENTRY,
       {{"referer", "abc"}}},
      {"referer closer behind LF",
       {REFERER, HOST, EOL},
       "\"abc\n\" h",
       PARSE_ENTRY,
       {{"referer", "abc"}, {"host", "h"}}},
      {"referer no closer behind CR", {REFERER, EOL}, "\"abc\rx", PARSE_NO_MATCH, {}},
      {"agent has no CR exception", {AGENT, EOL}, "\"abc\r\"", PARSE_NO_MATCH, {}},
      {"user angle", {USER, EOL}, "<john doe>", PARSE_ENTRY, {{"user", "john doe"}}},
      // USER takes no apostrophe quotes; without a separator yet a space does not stop it.
      {"user apostrophe", {USER, EOL}, "'john doe'", PARSE_ENTRY, {{"user", "'john doe'"}}},
      {"user stops at space",
       {HOST, USER, EOL},
       "h john doe",
       PARSE_ENTRY,
       {{"host", "h"}, {"user", "john"}}},
      {"method server session cookie",
       {METHOD, SERVER, SESSION, COOKIE, EOL},
       "GET <srv 1> \"s 1\" c=1",
       PARSE_ENTRY,
       {{"method", "GET"}, {"server", "srv 1"}, {"session", "s 1"}, {"cookie", "c=1"}}},
      {"protocol has no quotes",
       {PROTOCOL, EOL},
       "\"HTTP/1.0\"",
       PARSE_ENTRY,
       {{"protocol", "\"HTTP/1.0\""}}},
      {"skip quoted", {SKIP, HOST, EOL}, "\"a b\" h", PARSE_ENTRY, {{"host", "h"}}},
      {"skip angle", {SKIP, HOST, EOL}, "<a b> h", PARSE_ENTRY, {{"host", "h"}}},
      {"skip missing closer", {SKIP, HOST, EOL}, "<a b h", PARSE_NO_MATCH, {}},
      {"skip at comma", {SKIP, HOST, EOL}, "a b,h", PARSE_ENTRY, {{"host", "b"}}},
  });
}

TEST(ParseLine, SeparatorsDecideWhereFieldsEnd) {
  RunCases({
      {"tab separated agent keeps spaces",
       {TAB_SEP, HOST, AGENT, USER, EOL},
       "h\tMozilla/4.0 (compatible; x)\tjohn doe",
       PARSE_ENTRY,
       {{"host", "h"}, {"agent", "Mozilla/4.0 (compatible; x)"}, {"user", "john doe"}}},
      {"space separated agent ends at space",
       {HOST, AGENT, EOL},
       "h Mozilla/4.0 (compatible)",
       PARSE_ENTRY,
       {{"host", "h"}, {"agent", "Mozilla/4.0"}}},
      {"comma space ends agent",
       {HOST, AGENT, REFERER, EOL},
       "h, Moz a,b, r",
       PARSE_ENTRY,
       {{"host", "h"}, {"agent", "Moz a,b"}, {"referer", "r"}}},
      {"tab separated skip keeps spaces",
       {TAB_SEP, SKIP, HOST, EOL},
       "a b\th",
       PARSE_ENTRY,
       {{"host", "h"}}},
      {"tab separated host stops at space",
       {TAB_SEP, HOST, EOL},
       "a b",
       PARSE_ENTRY,
       {{"host", "a"}}},
      // After a comma, a comma that ends the line ends a referer but not an agent.
      {"comma at line end ends referer",
       {HOST, REFERER, EOL},
       "h, r,",
       PARSE_ENTRY,
       {{"host", "h"}, {"referer", "r"}}},
      {"comma at line end stays in agent",
       {HOST, AGENT, EOL},
       "h, Moz,",
       PARSE_ENTRY,
       {{"host", "h"}, {"agent", "Moz,"}}},
      // A token that reads nothing still makes the character it stands on the separator,
      // so a space no longer ends the agent behind it.
      {"char sets the separator",
       {HOST, CHAR, AGENT, EOL},
       "h xa b",
       PARSE_ENTRY,
       {{"host", "h"}, {"agent", "a b"}}},
      {"ec sets the separator",
       {HOST, EC, AGENT, EOL},
       "h a b",
       PARSE_ENTRY,
       {{"host", "h"}, {"agent", "a b"}}},
      {"fixup sets the separator",
       {HOST, FIXUP, USER, EOL},
       "h a b",
       PARSE_ENTRY,
       {{"host", "h"}, {"user", "a b"}}},
  });
}

TEST(ParseLine, DomainForms) {
  RunCases({
      {"domain then may-domain",
       {DOMAIN, MAY_DOMAIN, EOL},
       "a.com b.com",
       PARSE_ENTRY,
       {{"domain", "a.com"}}},
      {"may-domain then domain",
       {MAY_DOMAIN, DOMAIN, EOL},
       "a.com b.com",
       PARSE_ENTRY,
       {{"domain", "b.com"}}},
      {"dash keeps the domain",
       {DOMAIN, DOMAIN, EOL},
       "a.com -",
       PARSE_ENTRY,
       {{"domain", "a.com"}}},
      // The host the client asked for is the virtual host, whatever came before it.
      {"cs-host plain replaces the domain",
       {DOMAIN, CS_HOST, EOL},
       "W3SVC1 b.com",
       PARSE_ENTRY,
       {{"domain", "b.com"}}},
      {"cs-host dash keeps the domain",
       {DOMAIN, MAY_DOMAIN, CS_HOST, EOL},
       "W3SVC1 10.0.0.1 -",
       PARSE_ENTRY,
       {{"domain", "W3SVC1"}}},
      {"may-domain after cs-host keeps it",
       {CS_HOST, MAY_DOMAIN, EOL},
       "b.com 10.0.0.1",
       PARSE_ENTRY,
       {{"domain", "b.com"}}},
      {"cs-host quoted replaces it",
       {DOMAIN, CS_HOST, EOL},
       "a.com \"b.com\"",
       PARSE_ENTRY,
       {{"domain", "b.com"}}},
      {"cs-host alone", {CS_HOST, EOL}, "<b.com>", PARSE_ENTRY, {{"domain", "b.com"}}},
  });
  RunCases(
      {{"cs-host in webstar mode", {CS_HOST, EOL}, "1.2.3.4", PARSE_ENTRY, {{"host", "1.2.3.4"}}}},
      true);
}

TEST(ParseLine, ControlTokens) {
  RunCases({
      {"if-eol at end", {HOST, IF_EOL, STATUS, EOL}, "h", PARSE_ENTRY, {{"host", "h"}}},
      {"if-eol not at end", {HOST, IF_EOL, STATUS, EOL}, "h x", PARSE_NO_MATCH, {}},
      {"must-eol", {HOST, MUST_EOL, EOL}, "h\r\n", PARSE_ENTRY, {{"host", "h"}}},
      {"must-eol fails", {HOST, MUST_EOL, EOL}, "h x", PARSE_NO_MATCH, {}},
      {"text fields at the end are optional",
       {HOST, AGENT, REFERER, COOKIE, EOL},
       "h",
       PARSE_ENTRY,
       {{"host", "h"}}},
      {"char", {CHAR, HOST, EOL}, "xh", PARSE_ENTRY, {{"host", "h"}}},
      {"char at line end", {HOST, CHAR, CHAR, EOL}, "h", PARSE_ENTRY, {{"host", "h"}}},
      {"ec number then space",
       {HOST, EC, TRAN_TIME_SECS, EOL},
       "h 5 x",
       PARSE_ENTRY,
       {{"host", "h"}, {"transfer", "5000"}}},
      {"ec number then letter",
       {HOST, EC, TRAN_TIME_SECS, EOL},
       "h 5x",
       PARSE_ENTRY,
       {{"host", "h"}}},
      {"ec at line end", {HOST, EC, STATUS, EOL}, "h", PARSE_ENTRY, {{"host", "h"}}},
      // When the rest does not fit, the entry ends at EC with what was read before it.
      {"ec at other text", {HOST, EC, STATUS, EOL}, "h x", PARSE_ENTRY, {{"host", "h"}}},
      {"ec forgets a partly read rest",
       {HOST, EC, TRAN_TIME_SECS, STATUS, EOL},
       "h 5 x",
       PARSE_ENTRY,
       {{"host", "h"}}},
      {"fails before ec", {HOST, STATUS, EC, EOL}, "h x", PARSE_NO_MATCH, {}},
      {"w3svc", {W3SVC, SKIP, EOL}, "W3SVC1, x", PARSE_ENTRY, {}},
      {"w3svc other service", {W3SVC, SKIP, EOL}, "SMTPSVC1, x", PARSE_NO_MATCH, {}},
      {"fixup",
       {HOST, URI_QUERY, AGENT, REFERER, COOKIE, FIXUP, EOL},
       "h q a r c",
       PARSE_ENTRY,
       {{"host", "h"}, {"query", "c"}, {"agent", "q"}, {"referer", "a"}, {"cookie", "r"}}},
      {"fixup moves nulls too",
       {HOST, URI_QUERY, AGENT, FIXUP, EOL},
       "h q a",
       PARSE_ENTRY,
       {{"host", "h"}, {"agent", "q"}, {"referer", "a"}}},
      {"wn at line end", {HOST, WN, STATUS, EOL}, "h", PARSE_ENTRY, {{"host", "h"}}},
      {"wn at [", {HOST, WN, STATUS, EOL}, "h [x", PARSE_ENTRY, {{"host", "h"}}},
      {"wn at other text",
       {HOST, WN, STATUS, EOL},
       "h 5",
       PARSE_ENTRY,
       {{"host", "h"}, {"status", "5"}}},
      {"wn angle",
       {HOST, WN, STATUS, EOL},
       "h <s> <agent 1> <r> <c> d.com",
       PARSE_ENTRY,
       {{"host", "h"},
        {"agent", "agent 1"},
        {"referer", "r"},
        {"cookie", "c"},
        {"domain", "d.com"}}},
      {"wn word",
       {HOST, WN, STATUS, EOL},
       "h d.com \"r\" \"a\"",
       PARSE_ENTRY,
       {{"host", "h"}, {"domain", "d.com"}, {"referer", "r"}, {"agent", "a"}}},
  });
}

TEST(ParseLine, MsftpsvcLineIsANonEntryLine) {
  ParseState state = FreshState();
  Buffer buffer("1.2.3.4, -, 3/5/01, 10:00:00, MSFTPSVC1, x\r\nnext");
  LogEntry entry;
  const Template t = Builtin(IIS_SERVICE);
  ASSERT_EQ(ParseLine(state, buffer.data(), t.data(), entry), PARSE_HEADER);
  EXPECT_EQ(entry.line_length, 44);
  EXPECT_EQ(buffer.Text(), buffer.original());
}

TEST(ParseLine, PathArgumentIsJoinedInThePerInputBuffer) {
  const std::string uri1000(1000, 'u');
  RunCases({
      {"joined",
       {HOST, URI, PATH_ARG, EOL},
       "h /cgi arg",
       PARSE_ENTRY,
       {{"host", "h"}, {"uri", "/cgi$arg"}}},
      {"no uri", {HOST, PATH_ARG, EOL}, "h arg", PARSE_ENTRY, {{"host", "h"}}},
      {"empty argument",
       {HOST, URI, PATH_ARG, EOL},
       "h /cgi",
       PARSE_ENTRY,
       {{"host", "h"}, {"uri", "/cgi"}}},
      {"longest join",
       {HOST, URI, PATH_ARG, EOL},
       "h " + uri1000 + " " + std::string(22, 'a'),
       PARSE_ENTRY,
       {{"host", "h"}, {"uri", uri1000 + "$" + std::string(22, 'a')}}},
      {"too long",
       {HOST, URI, PATH_ARG, EOL},
       "h " + uri1000 + " " + std::string(23, 'a'),
       PARSE_ENTRY,
       {{"host", "h"}, {"uri", uri1000}}},
  });
  // Two inputs keep their joined uris apart.
  ParseState a = FreshState();
  ParseState b = FreshState();
  Buffer la("h /x 1");
  Buffer lb("h /y 2");
  LogEntry ea;
  LogEntry eb;
  const Template t = {HOST, URI, PATH_ARG, EOL};
  ASSERT_EQ(ParseLine(a, la.data(), t.data(), ea), PARSE_ENTRY);
  ASSERT_EQ(ParseLine(b, lb.data(), t.data(), eb), PARSE_ENTRY);
  EXPECT_STREQ(ea.uri.text, "/x$1");
  EXPECT_STREQ(eb.uri.text, "/y$2");
}

TEST(ParseLine, DateCompletionAndValidation) {
  const Template ymd = {DATE_YMD, TIME_24, EOL};
  RunCases({
      {"hour 24 is hour 0",
       ymd,
       "2001-03-05 24:00:00",
       PARSE_ENTRY,
       {{"date", "2001-03-05"}, {"time", "00:00:00"}}},
      {"no date", {HOST, EOL}, "h", PARSE_ENTRY, {{"host", "h"}}},
      {"year 1969", ymd, "1969-12-31 10:00:00", PARSE_NO_MATCH, {}},
      {"year 1970",
       ymd,
       "1970-01-01 10:00:00",
       PARSE_ENTRY,
       {{"date", "1970-01-01"}, {"time", "10:00:00"}}},
      {"year 2039", ymd, "2039-01-01 10:00:00", PARSE_NO_MATCH, {}},
      {"two-digit 69 is 2069", ymd, "69-01-01 10:00:00", PARSE_NO_MATCH, {}},
      {"month 13", ymd, "2001-13-01 10:00:00", PARSE_NO_MATCH, {}},
      {"day 32", ymd, "2001-01-32 10:00:00", PARSE_NO_MATCH, {}},
      {"hour 25", ymd, "2001-01-01 25:00:00", PARSE_NO_MATCH, {}},
      {"minute 60", ymd, "2001-01-01 10:60:00", PARSE_NO_MATCH, {}},
      {"second 60", ymd, "2001-01-01 10:00:60", PARSE_NO_MATCH, {}},
      {"trailing text is ignored",
       {DATE_CLF, EOL},
       kDate + " anything",
       PARSE_ENTRY,
       {{"date", "2001-01-01"}, {"time", "10:00:00"}}},
  });

  // Lines without a date take the date of the latest "#Date: " header.
  ParseState state = FreshState();
  state.default_year = 2001;
  state.default_month = 3;
  state.default_day = 5;
  const Template time_only = {TIME_24, HOST, EOL};
  Buffer buffer("10:00:00 h");
  LogEntry entry;
  ASSERT_EQ(ParseLine(state, buffer.data(), time_only.data(), entry), PARSE_ENTRY);
  EXPECT_EQ(Describe(entry), (Fields{{"date", "2001-03-05"}, {"time", "10:00:00"}, {"host", "h"}}));

  // Below year_limit every year up to 9999 is accepted: nothing stops at 2038.
  state.year_limit = 10000;
  for (const char* date : {"2039-01-19", "2044-06-30", "9999-12-31"}) {
    SCOPED_TRACE(date);
    Buffer far(std::string(date) + " 10:00:00");
    ASSERT_EQ(ParseLine(state, far.data(), ymd.data(), entry), PARSE_ENTRY);
    EXPECT_EQ(Describe(entry), (Fields{{"date", date}, {"time", "10:00:00"}}));
  }

  // Entries dated in year_limit or later are rejected.
  state.year_limit = 2001;
  Buffer late("2001-01-01 10:00:00");
  EXPECT_EQ(ParseLine(state, late.data(), ymd.data(), entry), PARSE_NO_MATCH);
  Buffer early("2000-12-31 10:00:00");
  EXPECT_EQ(ParseLine(state, early.data(), ymd.data(), entry), PARSE_ENTRY);
}

TEST(ParseLine, YearLimitIsNextYearOrLater) {
  ParseState state = FreshState();
  int32_t year = 0;
  TimeToFields(TimeNow(), &year, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_GE(state.year_limit, year + 1);
  EXPECT_LE(state.year_limit, year + 2);
  EXPECT_EQ(state.current_format, COMBINED);
  EXPECT_EQ(state.user_format_start[0], -1);
  EXPECT_EQ(state.fields_length, 0);
  EXPECT_FALSE(state.webstar_mode);
}

TEST(ParseLine, LineLengthCoversOneLineEnd) {
  struct LengthCase {
    std::string text;
    int32_t length;
  };
  const LengthCase cases[] = {
      {"h", 1},      {"h\nx", 2},  {"h\rx", 2},  {"h\r\nx", 3},
      {"h\n\rx", 3}, {"h\r\r", 2}, {"h\n\n", 2}, {"h x y\n", 6},
  };
  const Template t = {HOST, EOL};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ParseState state = FreshState();
    Buffer buffer(c.text);
    LogEntry entry;
    ASSERT_EQ(ParseLine(state, buffer.data(), t.data(), entry), PARSE_ENTRY);
    EXPECT_EQ(entry.line_length, c.length);
    EXPECT_STREQ(entry.client_host.text, "h");
  }
}

// The parser resets only the numbers of the entry it is given and sets every text field
// itself, so an entry reused from line to line, as the merge engine reuses one per input,
// must keep nothing of the line before: a field the new line lacks is absent, and a line
// that is no entry leaves every text field absent.
TEST(ParseLine, ReusedEntryKeepsNothingOfTheLineBefore) {
  const std::string common = "1.2.3.4 - - " + kDate + " \"GET /a?b=1 HTTP/1.0\" 200 512";
  struct Step {
    const char* name;
    Template format;
    std::string line;
    ParseResult result;
    Fields fields;  // for PARSE_ENTRY
  };
  const Step steps[] = {
      {"combined with forwarded-for", Builtin(COMBINED),
       common + " \"http://r/\" \"Mozilla/4.0\" \"203.0.113.9\"", PARSE_ENTRY,
       With(
           kCommon,
           {{"referer", "http://r/"}, {"agent", "Mozilla/4.0"}, {"forwarded_for", "203.0.113.9"}})},
      {"common", Builtin(COMBINED), common, PARSE_ENTRY, kCommon},
      {"no request, no user",
       Builtin(COMBINED),
       "5.6.7.8 - - " + kDate + " \"-\" 400 -",
       PARSE_ENTRY,
       {{"host", "5.6.7.8"}, {"date", "2001-01-01"}, {"time", "10:00:00"}, {"status", "400"}}},
      {"combined again", Builtin(COMBINED), common + " \"http://r/\" \"M\"", PARSE_ENTRY,
       With(kCommon, {{"referer", "http://r/"}, {"agent", "M"}})},
      {"no match", Builtin(COMBINED), "not a log line", PARSE_NO_MATCH, {}},
      {"combined after the failure", Builtin(COMBINED), common, PARSE_ENTRY, kCommon},
      {"FTP service line",
       Builtin(IIS_SERVICE),
       "1.2.3.4, -, 3/5/01, 10:00:00, MSFTPSVC1, x",
       PARSE_HEADER,
       {}},
  };
  ParseState state = FreshState();
  LogEntry entry;
  ResetEntry(entry);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    Buffer buffer(step.line);
    ASSERT_EQ(ParseLine(state, buffer.data(), step.format.data(), entry), step.result);
    if (step.result == PARSE_ENTRY) {
      EXPECT_EQ(Describe(entry), step.fields);
      ExpectSoundEntry(buffer, 0, state, entry);
      continue;
    }
    for (const auto& [name, field] : parse_test::TextFields(entry)) {
      EXPECT_EQ(field.text, nullptr) << name;
      EXPECT_EQ(field.length, 0) << name;
    }
  }
}

TEST(ParseLine, EmptyDataIsNoEntry) {
  // A template of optional fields would otherwise accept the NUL behind the data as a line
  // of length 0, and the caller would never move on.
  ParseState state = FreshState();
  Buffer buffer("");
  LogEntry entry;
  const Template t = {HOST, AGENT, EOL};
  EXPECT_EQ(ParseLine(state, buffer.data(), t.data(), entry), PARSE_NO_MATCH);
  Buffer line_end("\n");
  EXPECT_EQ(ParseLine(state, line_end.data(), t.data(), entry), PARSE_ENTRY);
  EXPECT_EQ(entry.line_length, 1);
}

TEST(ParseLine, FieldsAreCutOnlyAfterTheWholeLineMatched) {
  // The host and the request fit, the status does not: nothing may be written.
  ParseState state = FreshState();
  const std::string text = "1.2.3.4 - - " + kDate + " \"GET /a?b HTTP/1.0\" OK 5\n";
  Buffer buffer(text);
  LogEntry entry;
  const Template t = Builtin(COMBINED);
  ASSERT_EQ(ParseLine(state, buffer.data(), t.data(), entry), PARSE_NO_MATCH);
  EXPECT_EQ(buffer.Text(), text);
}

TEST(ParseLineDeathTest, InvalidTemplateBytesStopTheProgram) {
  const Template misplaced_tab_sep = {HOST, TAB_SEP, EOL};
  const Template unknown = {HOST, TOKEN_KIND_COUNT, EOL};
  for (const Template* t : {&misplaced_tab_sep, &unknown}) {
    EXPECT_EXIT(
        {
          ParseState state = FreshState();
          Buffer buffer("h x");
          LogEntry entry;
          ParseLine(state, buffer.data(), t->data(), entry);
        },
        testing::ExitedWithCode(1), "");
  }
}

}  // namespace
