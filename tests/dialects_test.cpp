// Every built-in dialect with realistic sample lines: each sample parses with its
// dialect's template, and detection picks that dialect.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parse/format_tokens.h"
#include "parse/parse_logs.h"
#include "parse_test_support.h"

namespace {

using parse_test::Fields;
using parse_test::FreshState;
using parse_test::Walk;

struct Sample {
  std::string line;
  ParseResult result;
  Fields fields;  // for PARSE_ENTRY
};

struct Dialect {
  const char* name;
  int slot;
  std::string preamble;  // header lines that come first in such a file
  std::vector<Sample> samples;
};

const std::string kRequest =
    "[10/Oct/2000:13:55:36 -0700] \"GET /apache_pb.gif HTTP/1.0\" 200 2326";
const Fields kCommonFields = {{"host", "192.168.0.1"},  {"user", "frank"},
                              {"date", "2000-10-10"},   {"time", "13:55:36"},
                              {"method", "GET"},        {"uri", "/apache_pb.gif"},
                              {"protocol", "HTTP/1.0"}, {"bytes", "2326"}};

Fields With(Fields base, const Fields& more) {
  for (const auto& [k, v] : more) base[k] = v;
  return base;
}

const std::vector<Dialect>& Dialects() {
  static const std::vector<Dialect> dialects = {
      {"NCSA common and combined",
       COMBINED,
       "",
       {
           {"192.168.0.1 - frank " + kRequest, PARSE_ENTRY, kCommonFields},
           {"192.168.0.1 - frank " + kRequest +
                " \"http://www.example.com/start.html\" \"Mozilla/4.08 [en] (Win98; I ;Nav)\"",
            PARSE_ENTRY,
            With(kCommonFields, {{"referer", "http://www.example.com/start.html"},
                                 {"agent", "Mozilla/4.08 [en] (Win98; I ;Nav)"}})},
           {"192.168.0.1 - frank " + kRequest + " \"-\" \"Mozilla/4.0\" 2 \"session=abc\"",
            PARSE_ENTRY,
            With(kCommonFields,
                 {{"agent", "Mozilla/4.0"}, {"transfer", "1200"}, {"cookie", "session=abc"}})},
           // The WN extension: angle-bracketed fields, or a domain first.
           {"192.168.0.1 - frank " + kRequest +
                " <frank@example.com> <Mozilla/4.0 (compatible)> <http://www.example.com/> "
                "<id=7> www.example.com",
            PARSE_ENTRY,
            With(kCommonFields, {{"agent", "Mozilla/4.0 (compatible)"},
                                 {"referer", "http://www.example.com/"},
                                 {"cookie", "id=7"},
                                 {"domain", "www.example.com"}})},
           {"192.168.0.1 - frank " + kRequest +
                " www.example.com \"http://www.example.com/\" \"Mozilla/4.0\"",
            PARSE_ENTRY,
            With(kCommonFields, {{"domain", "www.example.com"},
                                 {"referer", "http://www.example.com/"},
                                 {"agent", "Mozilla/4.0"}})},
       }},
      {"IIS service log",
       IIS_SERVICE,
       "",
       {
           {"192.168.114.201, -, 03/20/01, 7:55:20, W3SVC2, SERVER, 172.21.13.45, 4502, 163, "
            "3223, 200, 0, GET, /DeptLogo.gif, -,",
            PARSE_ENTRY,
            {{"host", "192.168.114.201"},
             {"date", "2001-03-20"},
             {"time", "07:55:20"},
             {"protocol", "W3SVC2"},
             {"domain", "172.21.13.45"},
             {"transfer", "2701"},
             {"bytes", "3223"},
             {"method", "GET"},
             {"uri", "/DeptLogo.gif"}}},
           // Four fields after the uri are rotated into place: agent, referer, cookie, query.
           {"192.168.114.201, bob, 03/20/01, 7:55:20, W3SVC2, SERVER, www.example.com, 10, "
            "163, 3223, 404, 0, GET, /search.asp, Mozilla/4.0 (compatible; MSIE 5.5), "
            "http://www.example.com/, ASPSESSIONID=XYZ, q=1",
            PARSE_ENTRY,
            {{"host", "192.168.114.201"},
             {"user", "bob"},
             {"date", "2001-03-20"},
             {"time", "07:55:20"},
             {"protocol", "W3SVC2"},
             {"domain", "www.example.com"},
             {"transfer", "6"},
             {"bytes", "3223"},
             {"status", "404"},
             {"method", "GET"},
             {"uri", "/search.asp"},
             {"agent", "Mozilla/4.0 (compatible; MSIE 5.5)"},
             {"referer", "http://www.example.com/"},
             {"cookie", "ASPSESSIONID=XYZ"},
             {"query", "q=1"}}},
           {"192.168.114.201, -, 03/20/01, 7:55:20, MSFTPSVC1, SERVER, 172.21.13.45, 0, 0, 0, "
            "0, 0, [1]USER, anonymous, -,",
            PARSE_HEADER,
            {}},
       }},
      {"WebSTAR common",
       WEBSTAR_COMMON,
       "",
       {
           {"03/20/01\t10:00:00\tGET\tOK\t192.168.0.1\t/index.html\t1234",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"uri", "/index.html"},
             {"bytes", "1234"}}},
           {"03/20/01\t10:00:01\tGET\tERR!\t192.168.0.2\t/missing.html\t0",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:01"},
             {"host", "192.168.0.2"},
             {"uri", "/missing.html"},
             {"bytes", "0"},
             {"status", "404"}}},
       }},
      {"header lines",
       HEADER,
       "",
       {
           {"#Software: Microsoft Internet Information Services 5.0", PARSE_HEADER, {}},
           {"#Version: 1.0", PARSE_HEADER, {}},
           {"!!WebSTAR", PARSE_HEADER, {}},
           {"Bad URL reference received from: 192.168.0.1", PARSE_HEADER, {}},
       }},
      {"W3C extended",
       FIELDS,
       "#Software: Microsoft Internet Information Services 5.0\n#Version: 1.0\n"
       "#Date: 2001-03-20 10:00:00\n"
       "#Fields: date time c-ip cs-username cs-method cs-uri-stem cs-uri-query sc-status "
       "sc-bytes time-taken cs(User-Agent) cs(Referer)\n",
       {
           {"2001-03-20 10:00:01 192.168.0.1 - GET /default.htm q=1 200 1500 250 "
            "Mozilla/4.0+(compatible) http://www.example.com/",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:01"},
             {"host", "192.168.0.1"},
             {"method", "GET"},
             {"uri", "/default.htm"},
             {"query", "q=1"},
             {"bytes", "1500"},
             {"transfer", "150"},
             {"agent", "Mozilla/4.0+(compatible)"},
             {"referer", "http://www.example.com/"}}},
       }},
      {"WebSTAR field list",
       FIELDS,
       "!!WebSTAR\n!!LOG_FORMAT DATE TIME RESULT HOSTNAME URL BYTES_SENT AGENT REFERER "
       "TRANSFER_TIME\n",
       {
           {"03/20/01\t10:00:00\tOK\t192.168.0.1\t/index.html\t1234\tMozilla/4.0 (Macintosh)\t"
            "http://x/\t120",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"uri", "/index.html"},
             {"bytes", "1234"},
             {"agent", "Mozilla/4.0 (Macintosh)"},
             {"referer", "http://x/"},
             {"transfer", "1200"}}},
       }},
      {"Netscape flexible",
       FIELDS,
       "format=%Ses->client.ip% - %Req->vars.auth-user% [%SYSDATE%] "
       "\"%Req->reqpb.clf-request%\" %Req->srvhdrs.clf-status% "
       "%Req->srvhdrs.content-length% \"%Req->headers.referer%\"\n",
       {
           {"192.168.0.1 - frank " + kRequest + " \"http://r/\"", PARSE_ENTRY,
            With(kCommonFields, {{"referer", "http://r/"}})},
       }},
      {"date first",
       DATE_FIRST,
       "",
       {
           {"03/20/01 10:00:00 192.168.0.1 www.example.com - bob GET /a.html "
            "http://www.example.com/ - Mozilla/4.0 200 1234 1500",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"domain", "www.example.com"},
             {"user", "bob"},
             {"method", "GET"},
             {"uri", "/a.html"},
             {"referer", "http://www.example.com/"},
             {"agent", "Mozilla/4.0"},
             {"bytes", "1234"},
             {"transfer", "900"}}},
       }},
      {"bracketed date line",
       DATE_LINE,
       "",
       {{"[20/Mar/2001:10:00:00 -0800] Server restarted", PARSE_HEADER, {}}}},
      {"error log",
       ERROR_LINE,
       "",
       {{"[Tue Mar 20 10:00:00 2001] [error] [client 192.168.0.1] File does not exist: /x",
         PARSE_HEADER,
         {}}}},
      {"virtual-host combined",
       VHOST_COMBINED,
       "",
       {
           {"www.example.com 192.168.0.1 - frank " + kRequest +
                " \"Mozilla/4.0\" \"http://r/\" \"id=1\"",
            PARSE_ENTRY,
            With(kCommonFields, {{"domain", "www.example.com"},
                                 {"agent", "Mozilla/4.0"},
                                 {"referer", "http://r/"},
                                 {"cookie", "id=1"}})},
           // Stopping after the agent leaves referer and cookie out.
           {"www.example.com 192.168.0.1 - frank " + kRequest + " \"Mozilla/4.0\"", PARSE_ENTRY,
            With(kCommonFields, {{"domain", "www.example.com"}, {"agent", "Mozilla/4.0"}})},
       }},
      {"FTP transfer log",
       FTP_TRANSFER,
       "",
       {
           {"Tue Mar 20 10:00:00 2001 1 192.168.0.1 1234 /pub/file.txt b _ o r bob ftp 0 * c",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"bytes", "1234"},
             {"uri", "/pub/file.txt"},
             {"user", "bob"},
             {"method", "ftp"}}},
           {"Tue Mar  5 10:00:00 2001 1 192.168.0.1 1234 /pub/a.txt b _ o r bob ftp 0 * c",
            PARSE_ENTRY,
            {{"date", "2001-03-05"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"bytes", "1234"},
             {"uri", "/pub/a.txt"},
             {"user", "bob"},
             {"method", "ftp"}}},
       }},
  };
  return dialects;
}

TEST(Dialects, EverySlotHasSamples) {
  std::vector<bool> covered(BUILTIN_FORMAT_COUNT, false);
  for (const Dialect& d : Dialects()) {
    if (!d.samples.empty()) covered[d.slot] = true;
  }
  for (int slot = 0; slot < BUILTIN_FORMAT_COUNT; ++slot) {
    EXPECT_TRUE(covered[slot]) << "no sample for slot " << slot;
  }
}

// Every dialect x every sample, in a fresh input after the dialect's header lines, and
// once more with all samples of the dialect in one file (CR LF line ends).
TEST(Dialects, DetectionPicksTheDialectOfEverySample) {
  for (const Dialect& d : Dialects()) {
    SCOPED_TRACE(d.name);
    std::string file = d.preamble;
    for (const Sample& s : d.samples) {
      SCOPED_TRACE(s.line);
      ParseState state = FreshState();
      Walk(state, d.preamble);
      const auto outcomes = Walk(state, s.line + "\n");
      ASSERT_EQ(outcomes.size(), 1u);
      EXPECT_EQ(outcomes[0].result, s.result);
      EXPECT_EQ(outcomes[0].slot, d.slot);
      EXPECT_EQ(outcomes[0].fields, s.fields);
      file += s.line + "\r\n";
    }
    ParseState state = FreshState();
    const auto outcomes = Walk(state, file);
    ASSERT_GE(outcomes.size(), d.samples.size());
    for (size_t i = 0; i < d.samples.size(); ++i) {
      const auto& o = outcomes[outcomes.size() - d.samples.size() + i];
      EXPECT_EQ(o.result, d.samples[i].result);
      EXPECT_EQ(o.slot, d.slot);
      EXPECT_EQ(o.line_length, static_cast<int32_t>(d.samples[i].line.size() + 2));
    }
  }
}

// Each sample read with its dialect's own template directly gives the same fields.
TEST(Dialects, SamplesParseWithTheirTemplate) {
  for (const Dialect& d : Dialects()) {
    SCOPED_TRACE(d.name);
    for (const Sample& s : d.samples) {
      SCOPED_TRACE(s.line);
      ParseState state = FreshState();
      Walk(state, d.preamble);
      parse_test::Buffer buffer(s.line);
      LogEntry entry;
      const LogFormat format = d.slot == FIELDS ? state.fields_template : BuiltinFormat(d.slot);
      const ParseResult result = ParseLine(state, buffer.data(), format, entry);
      // DATE_LINE and ERROR_LINE read their lines as entries; detection turns them into
      // headers.
      const bool non_entry = d.slot == DATE_LINE || d.slot == ERROR_LINE;
      EXPECT_EQ(result, non_entry ? PARSE_ENTRY : s.result);
      if (s.result == PARSE_ENTRY) {
        EXPECT_EQ(parse_test::Describe(entry), s.fields);
      }
    }
  }
}

}  // namespace
