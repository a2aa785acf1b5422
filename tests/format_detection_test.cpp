// ParseEntry: the rotation over user and built-in formats, the header recogniser and the
// translation of field-list headers.

#include <gtest/gtest.h>

#include <string>

#include "parse/format_tokens.h"
#include "parse/header_lines.h"
#include "parse/parse_logs.h"
#include "parse/user_formats.h"
#include "parse_test_support.h"

namespace {

using parse_test::Buffer;
using parse_test::Fields;
using parse_test::FreshState;
using parse_test::LineOutcome;
using parse_test::Template;
using parse_test::Walk;

Template FieldsTemplate(const ParseState& state) {
  return Template(state.fields_template, state.fields_template + state.fields_length);
}

const std::string kCommon = "1.2.3.4 - - [01/Jan/2001:10:00:00 -0500] \"GET /a HTTP/1.0\" 200 512";

TEST(TranslateFields, HeadersBecomeTemplates) {
  struct Case {
    const char* header;
    Template expected;
    bool webstar_mode;
  };
  const Case cases[] = {
      {"#Fields: date time c-ip cs-method cs-uri-stem sc-status",
       {DATE_YMD, TIME_24, HOST, METHOD, URI, STATUS, MUST_EOL, EOL},
       false},
      // IIS Advanced Logging: the local date and time, unless the UTC ones are there too.
      {"#Fields: date-local time-local c-ip", {DATE_YMD, TIME_24, HOST, MUST_EOL, EOL}, false},
      {"#Fields: date-local time-local date time c-ip",
       {SKIP, SKIP, DATE_YMD, TIME_24, HOST, MUST_EOL, EOL},
       false},
      {"#Fields: date time-local time date-local",
       {DATE_YMD, SKIP, TIME_24, SKIP, MUST_EOL, EOL},
       false},
      {"#Fields: date time-local", {DATE_YMD, TIME_24, MUST_EOL, EOL}, false},
      {"#Fields: date-utc time-utc date-local time-local",
       {DATE_YMD, TIME_24, SKIP, SKIP, MUST_EOL, EOL},
       false},
      {"#Fields: time-taken time_taken cs(User-Agent) s-ip x-unknown",
       {TRAN_TIME_MILLI, TRAN_TIME_HMS, AGENT, MAY_DOMAIN, SKIP, MUST_EOL, EOL},
       false},
      // Blanks at the end give one more SKIP.
      {"#Fields: date time \r\n", {DATE_YMD, TIME_24, SKIP, MUST_EOL, EOL}, false},
      {"!!LOG_FORMAT DATE TIME RESULT HOSTNAME URL BYTES_SENT",
       {TAB_SEP, DATE_AUTO, TIME_24, WEBSTAR_RESULT, HOST, URI, BYTES, MUST_EOL, EOL},
       true},
      {"!!LOG_FORMAT HOST CS-HOST PATH_ARGS\n",
       {TAB_SEP, DOMAIN, HOST, PATH_ARG, MUST_EOL, EOL},
       true},
      {"format=%Ses->client.ip% - %Req->vars.auth-user% [%SYSDATE%] "
       "\"%Req->reqpb.clf-request%\" %Req->srvhdrs.clf-status% "
       "%Req->srvhdrs.content-length%",
       {HOST, SKIP, USER, DATE_CLF, FULL_REQUEST, STATUS, BYTES, MUST_EOL, EOL},
       false},
      {"format=%Req->headers.referer% \"%Req->headers.referer%\"",
       {SKIP, REFERER, MUST_EOL, EOL},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    ParseState state = FreshState();
    const auto outcomes = Walk(state, c.header);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].result, PARSE_HEADER);
    EXPECT_EQ(FieldsTemplate(state), c.expected);
    EXPECT_EQ(state.webstar_mode, c.webstar_mode);
  }
}

// Only a W3C field list makes its lines W3C-style (padded columns, "" in quoted strings).
TEST(TranslateFields, FieldStyleFollowsTheLatestFieldList) {
  struct Case {
    const char* header;
    FieldStyle style;
  };
  const Case cases[] = {
      {"#Fields: c-ip sc-status", FieldStyle::W3C},
      {"format=%Ses->client.ip% %Req->srvhdrs.clf-status%", FieldStyle::TEMPLATE},
      {"!!LOG_FORMAT HOSTNAME STATUS", FieldStyle::TEMPLATE},
      {"#Fields: c-ip", FieldStyle::W3C},
      {"!!LOG_FORMAT COMMON_LOG_FORMAT", FieldStyle::W3C},  // keeps the template and its style
  };
  ParseState state = FreshState();
  Walk(state, "#Fields: c-ip sc-status\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    Walk(state, std::string(c.header) + "\n");
    EXPECT_EQ(state.fields_style, c.style);
  }
  // The same padded line after a Netscape list and after a W3C list.
  ParseState netscape = FreshState();
  const auto padded = "1.2.3.4  404\n";
  EXPECT_EQ(
      Walk(netscape, "format=%Ses->client.ip% %Req->srvhdrs.clf-status%\n" + std::string(padded))[1]
          .result,
      PARSE_NO_MATCH);
  ParseState w3c = FreshState();
  const auto outcomes = Walk(w3c, "#Fields: c-ip sc-status\n" + std::string(padded));
  EXPECT_EQ(outcomes[1].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[1].fields, (Fields{{"host", "1.2.3.4"}, {"status", "404"}}));
}

TEST(TranslateFields, KeepsAtMost48Fields) {
  std::string words;
  for (int i = 0; i < 60; ++i) words += " c-ip";
  ParseState state = FreshState();
  TranslateFields(state, words.c_str(), W3C_FIELDS);
  ASSERT_EQ(state.fields_length, 50);
  EXPECT_EQ(state.fields_template[47], HOST);
  EXPECT_EQ(state.fields_template[48], MUST_EOL);
  EXPECT_EQ(state.fields_template[49], EOL);

  // A WebSTAR list that long has no room for TAB_SEP and stays space-separated.
  Walk(state, "!!LOG_FORMAT" + words);
  ASSERT_EQ(state.fields_length, 50);
  EXPECT_EQ(state.fields_template[0], HOST);
  EXPECT_EQ(state.fields_template[49], EOL);

  // 47 names leave room for it.
  words.resize(47 * 5);
  Walk(state, "!!LOG_FORMAT" + words);
  ASSERT_EQ(state.fields_length, 50);
  EXPECT_EQ(state.fields_template[0], TAB_SEP);
  EXPECT_EQ(state.fields_template[49], EOL);
}

TEST(TranslateFields, AListWithoutNamesSwitchesTheFieldsSlotOff) {
  // Without field names there is no template: no lone TAB_SEP without EOL, and no SKIP
  // template that would take every later line as a dateless entry.
  for (const char* header : {"!!LOG_FORMAT", "!!LOG_FORMAT ", "!!LOG_FORMAT   \t",
                             "#Fields:", "#Fields:  \r", "format="}) {
    SCOPED_TRACE(header);
    ParseState state = FreshState();
    Walk(state, "#Fields: c-ip\n");
    ASSERT_EQ(state.fields_length, 3);
    const auto outcomes = Walk(state, std::string(header) + "\nplain words\n");
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].result, PARSE_HEADER);
    EXPECT_EQ(state.fields_length, 0);
    EXPECT_EQ(outcomes[1].result, PARSE_NO_MATCH);
  }
}

TEST(TranslateFields, CommonLogFormatKeepsTheTemplate) {
  ParseState state = FreshState();
  Walk(state, "#Fields: date time c-ip\n");
  const Template before = FieldsTemplate(state);
  const auto outcomes = Walk(state, "!!LOG_FORMAT COMMON_LOG_FORMAT\n");
  EXPECT_EQ(outcomes[0].result, PARSE_HEADER);
  EXPECT_EQ(FieldsTemplate(state), before);
  EXPECT_TRUE(state.webstar_mode);
}

TEST(FormatLine, RecognisesHeaderLines) {
  struct Case {
    std::string line;
    ParseResult result;
    int32_t line_length;
  };
  const Case cases[] = {
      {"#Version: 1.0\r\nx", PARSE_HEADER, 15},
      {"#Remark: anything", PARSE_HEADER, 17},
      {"#\n", PARSE_HEADER, 2},
      {"#x\n\rx", PARSE_HEADER, 3},  // LF CR: only the LF belongs to a header line
      {"#x\r\rx", PARSE_HEADER, 3},
      {"!!WebSTAR log\n", PARSE_HEADER, 14},
      {"!!LOG_FORMAT", PARSE_HEADER, 12},
      {"Bad URL reference received from: 1.2.3.4\n", PARSE_HEADER, 41},
      {"Bad URL reference received", PARSE_NO_MATCH, 27},
      {"!x\r\n", PARSE_NO_MATCH, 4},
      {"Format=a", PARSE_NO_MATCH, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ParseState state = FreshState();
    Buffer buffer(c.line);
    LogEntry entry;
    EXPECT_EQ(ParseEntry(state, buffer.data(), entry), c.result);
    EXPECT_EQ(entry.line_length, c.line_length);
  }
}

TEST(FormatLine, WebstarHeadersSetWebstarMode) {
  for (const char* line : {"!!anything", "#Software: WebSTAR/4.2"}) {
    SCOPED_TRACE(line);
    ParseState state = FreshState();
    EXPECT_EQ(Walk(state, line)[0].result, PARSE_HEADER);
    EXPECT_TRUE(state.webstar_mode);
  }
  ParseState state = FreshState();
  Walk(state, "#Software: Microsoft IIS\n");
  EXPECT_FALSE(state.webstar_mode);
}

TEST(FormatLine, DateHeaderSetsTheDefaultDate) {
  struct Case {
    const char* line;
    ParseResult result;
    int year, month, day;  // the default date afterwards (it starts as 1999-09-09)
  };
  const Case cases[] = {
      {"#Date: 2001-03-05 10:00:00", PARSE_HEADER, 2001, 3, 5},
      {"#Date: 0001-03-05", PARSE_HEADER, 2001, 3, 5},  // below 70: plus 2000
      {"#Date: 0099-03-05", PARSE_HEADER, 1999, 3, 5},  // 70 to 99: plus 1900
      {"#Date: 1969-03-05", PARSE_NO_MATCH, 0, 0, 0},   // out of range clears it
      {"#Date: 2039-03-05", PARSE_HEADER, 2039, 3, 5},  // past 2038; entries check the limit
      {"#Date: 9999-12-31", PARSE_HEADER, 9999, 12, 31},
      {"#Date: 2001-13-05", PARSE_NO_MATCH, 0, 0, 0},
      {"#Date: 2001-00-05", PARSE_NO_MATCH, 0, 0, 0},
      {"#Date: 2001-03-32", PARSE_NO_MATCH, 0, 0, 0},
      {"#Date: 01-03-05", PARSE_NO_MATCH, 1999, 9, 9},  // not yyyy-mm-dd: unchanged
      {"#Date: 2001/03/05", PARSE_NO_MATCH, 1999, 9, 9},
      {"#Date: 2001-03-", PARSE_NO_MATCH, 1999, 9, 9},
      {"#Date: 2", PARSE_NO_MATCH, 1999, 9, 9},            // short: nothing past the NUL is read
      {"#Date: 2\n01-03-05", PARSE_NO_MATCH, 1999, 9, 9},  // nor the next line
      {"#Date:2001-03-05", PARSE_HEADER, 1999, 9, 9},      // another comment
      // IIS Advanced Logging's form; anything but a valid date leaves it a plain comment.
      {"#Start-Date: 2012-05-01 00:00:00.000", PARSE_HEADER, 2012, 5, 1},
      {"#Start-Date: 2039-05-01 00:00:00.000", PARSE_HEADER, 2039, 5, 1},
      {"#Start-Date: unknown", PARSE_HEADER, 1999, 9, 9},
      {"#End-Date: 2012-05-02 00:00:00.000", PARSE_HEADER, 1999, 9, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ParseState state = FreshState();
    state.default_year = 1999;
    state.default_month = 9;
    state.default_day = 9;
    Buffer buffer(c.line);
    LogEntry entry;
    EXPECT_EQ(ParseEntry(state, buffer.data(), entry), c.result);
    EXPECT_EQ(state.default_year, c.year);
    EXPECT_EQ(state.default_month, c.month);
    EXPECT_EQ(state.default_day, c.day);
  }
}

TEST(ParseEntry, HeaderDateAppliesToLaterLinesWithoutDate) {
  ParseState state = FreshState();
  const auto outcomes = Walk(state,
                             "#Date: 2001-03-05 00:00:00\n"
                             "#Fields: time c-ip cs-uri-stem\n"
                             "10:00:00 1.2.3.4 /a\n"
                             "#Date: 2001-03-06 00:00:00\n"
                             "11:00:00 1.2.3.4 /b\n");
  ASSERT_EQ(outcomes.size(), 5u);
  EXPECT_EQ(outcomes[2].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[2].fields.at("date"), "2001-03-05");
  EXPECT_EQ(outcomes[4].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[4].fields.at("date"), "2001-03-06");
}

// W3C extended times are UTC; a common-log stamp carries its own offset; WebSTAR, IIS's
// comma logs and IIS Advanced Logging's local fields carry none.
TEST(ParseEntry, UtcOffsetOfEachDialect) {
  struct Case {
    const char* name;
    std::string text;  // headers, then one entry as its last line
    int32_t offset;
  };
  const Case cases[] = {
      {"W3C",
       "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n"
       "2001-03-05 10:00:00 1.2.3.4 GET /a 200\n",
       0},
      {"W3C, time only, #Date",
       "#Date: 2001-03-05 00:00:00\n#Fields: time c-ip cs-uri-stem\n10:00:00 1.2.3.4 /a\n", 0},
      {"IIS Advanced Logging, local only",
       "#Fields: date-local time-local c-ip cs-uri-stem\n2001-03-05 11:00:00 1.2.3.4 /a\n",
       NO_OFFSET},
      {"IIS Advanced Logging, UTC beside local",
       "#Fields: date-local time-local date-utc time-utc c-ip cs-uri-stem\n"
       "2001-03-05 11:00:00 2001-03-05 10:00:00 1.2.3.4 /a\n",
       0},
      {"field list changes to local",
       "#Fields: date time c-ip\n#Fields: date time-local c-ip\n2001-03-05 11:00:00 1.2.3.4\n",
       NO_OFFSET},
      {"common log", kCommon + "\n", -300},
      {"IIS comma",
       "192.168.114.201, -, 03/20/01, 7:55:20, W3SVC2, SERVER, 172.21.13.45, 4502, 163, 3223, "
       "200, 0, GET, /DeptLogo.gif, -,\n",
       NO_OFFSET},
      {"WebSTAR field list",
       "!!WebSTAR\n!!LOG_FORMAT DATE TIME HOSTNAME URL\n03/20/01\t10:00:00\t192.168.0.1\t/a\n",
       NO_OFFSET},
      {"WebSTAR W3C",
       "#Software: WebSTAR\n#Fields: date time c-ip cs-uri\n2001-03-05 10:00:00 1.2.3.4 /a\n",
       NO_OFFSET},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParseState state = FreshState();
    const auto outcomes = Walk(state, c.text);
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back().result, PARSE_ENTRY);
    EXPECT_EQ(outcomes.back().utc_offset, c.offset);
  }
}

TEST(ParseEntry, RotationStaysOnTheSlotThatFitted) {
  ParseState state = FreshState();
  const auto outcomes = Walk(state,
                             kCommon + "\n" +                                       // slot 0
                                 "#Software: Microsoft IIS\n"                       // 3
                                 "#Fields: date time c-ip cs-method cs-uri-stem\n"  // 3
                                 "2001-03-05 10:00:00 1.2.3.4 GET /a\n"             // 4
                                 "2001-03-05 10:00:01 1.2.3.4 GET /b\n"             // 4
                                 "2001-03-05 10:00:02 1.2.3.4 GET /c extra\n"       // nothing
                                 "#Fields: date time c-ip\n"                        // 3
                                 "2001-03-05 10:00:03 1.2.3.4\n" +                  // 4
                                 kCommon +
                                 "\n");  // 0
  const std::vector<std::pair<ParseResult, int>> expected = {
      {PARSE_ENTRY, COMBINED}, {PARSE_HEADER, HEADER}, {PARSE_HEADER, HEADER},
      {PARSE_ENTRY, FIELDS},   {PARSE_ENTRY, FIELDS},  {PARSE_NO_MATCH, FIELDS},
      {PARSE_HEADER, HEADER},  {PARSE_ENTRY, FIELDS},  {PARSE_ENTRY, COMBINED},
  };
  ASSERT_EQ(outcomes.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(outcomes[i].result, expected[i].first);
    EXPECT_EQ(outcomes[i].slot, expected[i].second);
  }
  EXPECT_EQ(outcomes[7].fields,
            (Fields{{"date", "2001-03-05"}, {"time", "10:00:03"}, {"host", "1.2.3.4"}}));
}

TEST(ParseEntry, LineThatFitsNothingIsSkipped) {
  struct Case {
    std::string text;
    int32_t line_length;
    int nul_at;  // where the line end became a NUL; -1: none
  };
  const Case cases[] = {
      {"garbage\r\nnext", 9, 7},
      {"garbage\n\rnext", 9, 7},
      {"garbage\rnext", 8, 7},
      {"garbage\n\nnext", 8, 7},
      {"garbage", 8, -1},  // one past the end of the data
      {"", 1, -1},
      {"\0\n", 1, -1},                    // a NUL byte is no blank line
      {std::string("\0\0\0", 3), 1, -1},  // a run of NULs goes one byte at a time
      // Lines with a digit or a header character try every template, and fit none.
      {"garbage 42\n", 11, 10},
      {"key: value\n", 11, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ParseState state = FreshState();
    state.current_format = VHOST_COMBINED;
    Buffer buffer(c.text);
    LogEntry entry;
    EXPECT_EQ(ParseEntry(state, buffer.data(), entry), PARSE_NO_MATCH);
    EXPECT_EQ(entry.line_length, c.line_length);
    EXPECT_EQ(state.current_format, VHOST_COMBINED);
    std::string expected = c.text;
    if (c.nul_at >= 0) expected[c.nul_at] = '\0';
    EXPECT_EQ(buffer.Text(), expected);
  }
}

// Blank lines are skipped, never corrupt, and never entries: not even for a template
// whose fields are all optional text, which would read an empty line as an empty entry.
TEST(ParseEntry, BlankLinesAreSkipped) {
  struct Case {
    std::string text;
    int32_t line_length;
  };
  const Case cases[] = {
      {"\n", 1}, {"\r\n", 2}, {"\n\r", 2}, {"\r\r\n", 1}, {"   \t\r\nnext", 6},
  };
  for (const char* user_format : {"", "URI AGENT"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(user_format) + " | " + c.text);
      ParseState state = FreshState();
      Walk(state, "#Fields: cs-uri-stem\n");  // a W3C template of one optional field
      LoadUserFormats(state, user_format);
      Buffer buffer(c.text);
      LogEntry entry;
      EXPECT_EQ(ParseEntry(state, buffer.data(), entry), PARSE_HEADER);
      EXPECT_EQ(entry.line_length, c.line_length);
      EXPECT_EQ(entry.uri.text, nullptr);
      EXPECT_EQ(state.current_format, HEADER);  // the rotation does not move
      EXPECT_EQ(buffer.Text(), c.text);
    }
  }
}

TEST(ParseEntry, NonEntryLinesAreHeaders) {
  struct Case {
    std::string line;
    int slot;
  };
  const Case cases[] = {
      {"[01/Jan/2001:10:00:00 -0500] server restarted\r\n", DATE_LINE},
      {"[Wed Oct 11 14:32:52 2000] [error] [client 1.2.3.4] File does not exist\n", ERROR_LINE},
      {"1.2.3.4, -, 3/5/01, 10:00:00, MSFTPSVC1, SRV, 10.0.0.1, 0, 0, 0, 0, 0, [1]USER, -, "
       "-,\r\n",
       IIS_SERVICE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ParseState state = FreshState();
    const auto outcomes = Walk(state, c.line);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].result, PARSE_HEADER);
    EXPECT_EQ(outcomes[0].slot, c.slot);
    EXPECT_EQ(outcomes[0].line_length, static_cast<int32_t>(c.line.size()));
  }
}

TEST(ParseEntry, LfCrHeaderLeavesItsCrAsABlankLine) {
  ParseState state = FreshState();
  const auto outcomes = Walk(state, "#Version: 1.0\n\r" + kCommon + "\n\r");
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, PARSE_HEADER);
  EXPECT_EQ(outcomes[0].line_length, 14);
  EXPECT_EQ(outcomes[1].result, PARSE_HEADER);
  EXPECT_EQ(outcomes[1].line_length, 1);
  EXPECT_EQ(outcomes[2].result, PARSE_ENTRY);  // an entry takes both characters
  EXPECT_EQ(outcomes[2].line_length, static_cast<int32_t>(kCommon.size() + 2));
}

TEST(ParseEntry, UserFormatsComeFirstAndDoNotMoveTheRotation) {
  ParseState state = FreshState();
  // Two user templates: a common-log one and one that reads "USER <name>" lines.
  const Template user = {HOST,  SKIP, USER, DATE_CLF, FULL_REQUEST, STATUS,
                         BYTES, EOL,  SKIP, USER,     MUST_EOL,     EOL};
  std::copy(user.begin(), user.end(), state.user_tokens);
  state.user_format_start[0] = 0;
  state.user_format_start[1] = 8;
  state.user_format_start[2] = -1;
  state.current_format = DATE_FIRST;

  const auto outcomes = Walk(state, kCommon + " \"http://r/\" \"agent\"\nUSER bob\n");
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[0].fields.count("referer"), 0u);  // the user template has none
  EXPECT_EQ(outcomes[0].fields.at("host"), "1.2.3.4");
  EXPECT_EQ(outcomes[1].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[1].fields, (Fields{{"user", "bob"}}));
  EXPECT_EQ(state.current_format, DATE_FIRST);

  // A line no user template fits goes on to the built-in rotation.
  const auto vhost =
      Walk(state, "www.x.com 1.2.3.4 - - [01/Jan/2001:10:00:00 -0500] \"GET / HTTP/1.0\" 200 1\n");
  EXPECT_EQ(vhost[0].result, PARSE_ENTRY);
  EXPECT_EQ(vhost[0].fields.at("domain"), "www.x.com");
  EXPECT_EQ(state.current_format, VHOST_COMBINED);
}

TEST(ParseEntry, UserFormatMayReadHeaders) {
  ParseState state = FreshState();
  const Template user = {FORMAT_LINE, EOL};
  std::copy(user.begin(), user.end(), state.user_tokens);
  state.user_format_start[0] = 0;
  const auto outcomes = Walk(state, "#Fields: c-ip\n");
  EXPECT_EQ(outcomes[0].result, PARSE_HEADER);
  EXPECT_EQ(state.current_format, COMBINED);  // found before the rotation
  EXPECT_EQ(state.fields_length, 3);
}

TEST(ParseEntry, HostileInputAlwaysMovesOn) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::pair<ParseResult, int32_t>> lines;  // result and line_length
  };
  const std::string nul(1, '\0');
  const std::string long_uri(100000, 'u');
  const Case cases[] = {
      {"100 KB of text", std::string(100000, 'a'), {{PARSE_NO_MATCH, 100001}}},
      {"100 KB uri",
       "1.2.3.4 - - [01/Jan/2001:10:00:00 -0500] \"GET /" + long_uri + " HTTP/1.0\" 200 5\n",
       {{PARSE_ENTRY, 100064}}},
      // A NUL inside a line ends it; the NUL is passed over as a line of its own.
      {"NUL behind an entry",
       kCommon + nul + "tail\n",
       {{PARSE_ENTRY, static_cast<int32_t>(kCommon.size())},
        {PARSE_NO_MATCH, 1},
        {PARSE_NO_MATCH, 5}}},
      {"NUL inside a request",
       "1.2.3.4 - - [01/Jan/2001:10:00:00 -0500] \"GET /a" + nul + "b HTTP/1.0\" 200 5\n",
       {{PARSE_NO_MATCH, 49}, {PARSE_NO_MATCH, 18}}},
      {"unterminated quotes",
       "\"GET /a HTTP/1.0\n<agent\n'x\n`y",
       {{PARSE_NO_MATCH, 17}, {PARSE_NO_MATCH, 7}, {PARSE_NO_MATCH, 3}, {PARSE_NO_MATCH, 3}}},
      {"bytes of 128 and up", "\xff\xfe\x80 \xe9\xe9\xe9\r\n", {{PARSE_NO_MATCH, 9}}},
      {"line ends only",
       "\r\n\n\r\r\r",
       {{PARSE_HEADER, 2}, {PARSE_HEADER, 2}, {PARSE_HEADER, 1}, {PARSE_HEADER, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParseState state = FreshState();
    const auto outcomes = Walk(state, c.text);
    ASSERT_EQ(outcomes.size(), c.lines.size());
    for (size_t i = 0; i < outcomes.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(outcomes[i].result, c.lines[i].first);
      EXPECT_EQ(outcomes[i].line_length, c.lines[i].second);
    }
  }
}

TEST(ParseEntry, BytesOf128AndUpStayInFields) {
  ParseState state = FreshState();
  const auto outcomes = Walk(
      state,
      "h\xe9 - - [01/Jan/2001:10:00:00 -0500] \"GET /caf\xe9 HTTP/1.0\" 200 5 \"\xff\" \"\x80\"\n");
  ASSERT_EQ(outcomes.size(), 1u);
  ASSERT_EQ(outcomes[0].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[0].fields.at("host"), "h\xe9");
  EXPECT_EQ(outcomes[0].fields.at("uri"), "/caf\xe9");
  EXPECT_EQ(outcomes[0].fields.at("referer"), "\xff");
  EXPECT_EQ(outcomes[0].fields.at("agent"), "\x80");
}

TEST(ParseEntry, CompiledUserFormatsReadLinesBeforeTheBuiltins) {
  ParseState state = FreshState();
  LoadUserFormats(state,
                  "HOST SKIP USER DATE-CLF FULL-REQUEST STATUS BYTES\n"
                  "TAB-SEP DATE-MDY TIME-12 HOST");
  const auto outcomes =
      Walk(state, kCommon + " \"http://r/\" \"agent\"\n" + "3/5/01\t1:05:09 PM\th\n");
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[0].fields.count("referer"), 0u);  // COMBINED would have read it
  EXPECT_EQ(outcomes[1].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[1].fields,
            (Fields{{"date", "2001-03-05"}, {"time", "13:05:09"}, {"host", "h"}}));
  EXPECT_EQ(state.current_format, COMBINED);
}

}  // namespace
