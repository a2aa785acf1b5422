#include "parse/format_tokens.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(MatchKeyword, NameMustEndAtAWordBoundary) {
  struct Case {
    const char* name;
    const char* text;
    bool match;
  };
  const Case cases[] = {
      {"URI", "URI", true},
      {"URI", "uri", true},
      {"URI", "URI-QUERY", false},  // '-' continues the word
      {"CS-URI", "cs-uri-stem", false},
      {"HOST", "HOSTNAME", false},  // a letter continues the word
      {"DATE", "date-clf", false},
      {"TIME", "time_taken", false},  // '_' continues the word
      {"CS(USER-AGENT)", "cs(User-Agent)", true},
      {"HOST", "HOST,", true},  // punctuation, blanks, digits and the end may follow
      {"HOST", "HOST rest", true},
      {"HOST", "HOST\tx", true},
      {"HOST", "HOST2", true},
      {"HOST", "HOST(", true},
      {"HOST", "HOST\"", true},
      {"HOST", "HOS", false},  // the text ends before the name does
      {"HOST", "", false},
      {"HOST", "HOSx", false},
      {"\"%SYSDATE%\"", "\"%sysdate%\"", true},
      {"\"%SYSDATE%\"", "%SYSDATE%", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " vs " + c.text);
    EXPECT_EQ(MatchKeyword(c.name, c.text), c.match);
  }
}

TEST(MonthFromName, FirstLettersDecide) {
  struct Case {
    const char* text;
    int month;
  };
  const Case cases[] = {
      {"Jan", 1},
      {"JAN", 1},
      {"jan", 1},
      {"Feb", 2},
      {"Mar", 3},
      {"Apr", 4},
      {"May", 5},
      {"Jun", 6},
      {"Jul", 7},
      {"Aug", 8},
      {"Sep", 9},
      {"Oct", 10},
      {"Nov", 11},
      {"Dec", 12},
      {"dec", 12},
      {"Dxx", 12},
      {"Mxy", 5},
      {"Mxr", 3},  // only the named letters are looked at
      {"Juk", -1},
      {"Jxn", -1},
      {"Axx", -1},
      {"Mab", -1},
      {"Bob", -1},
      {"1ab", -1},
      {"", -1},
      {"J", -1},
      {"Ju", -1},
      {"M", -1},
      {"Ma", -1},
      {"A", -1},
      {"\xc4"
       "ec",
       -1},  // bytes above 127 are no letters
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MonthFromName(c.text), c.month);
  }
}

// A buffer that ends right after the NUL: AddressSanitizer reports any read beyond it.
TEST(MonthFromName, NeverReadsPastTheNul) {
  for (const char* text : {"J", "Ju", "M", "Ma", "A", ""}) {
    SCOPED_TRACE(text);
    const size_t size = std::strlen(text) + 1;
    char* exact = new char[size];
    std::memcpy(exact, text, size);
    EXPECT_EQ(MonthFromName(exact), -1);
    delete[] exact;
  }
}

TEST(TokenNames, KindOrderThenReferrer) {
  ASSERT_EQ(TOKEN_TABLE.size(), 57u);
  struct Case {
    int index;
    const char* name;
  };
  const Case cases[] = {
      {DATE_CLF, "DATE-CLF"},
      {TRAN_TIME_HMS, "TRAN-TIME-HMS"},
      {REFERER, "REFERER"},
      {EOL, "EOL"},
      {TAB_SEP, "TAB-SEP"},
      {DATE_APACHE, "DATE-APACHE"},
      {SESSION, "SESSION"},
      {FORWARDED_FOR, "FORWARDED-FOR"},
      {TRAN_TIME_MICRO, "TRAN-TIME-MICRO"},
      {DATE_ISO8601, "DATE-ISO8601"},
      {UNIX_TIME_UTC, "UNIX-TIME-UTC"},
      {56, "REFERRER"},
  };
  for (const Case& c : cases) EXPECT_STREQ(TOKEN_TABLE[c.index].name, c.name);
  // Every name is found by MatchKeyword at its own index, so no earlier name shadows it.
  for (size_t i = 0; i < TOKEN_TABLE.size(); ++i) {
    SCOPED_TRACE(TOKEN_TABLE[i].name);
    size_t first = 0;
    while (!MatchKeyword(TOKEN_TABLE[first].name, TOKEN_TABLE[i].name)) ++first;
    EXPECT_EQ(first, i);
  }
}

// TokenName serves messages and traces: the name of a kind, never the alias, "?" beyond.
TEST(TokenNames, NameOfEveryKindAndNothingBeyond) {
  struct Case {
    uint8_t token;
    const char* name;
  };
  const Case cases[] = {
      {DATE_CLF, "DATE-CLF"},
      {REFERER, "REFERER"},
      {SESSION, "SESSION"},
      {TRAN_TIME_MICRO, "TRAN-TIME-MICRO"},
      {UNIX_TIME_UTC, "UNIX-TIME-UTC"},
      {56, "?"},
      {255, "?"},
  };
  for (const Case& c : cases) EXPECT_STREQ(TokenName(c.token), c.name);
  for (const TokenRow& row : TOKEN_TABLE) {
    SCOPED_TRACE(row.name);
    EXPECT_GT(std::strlen(row.reads), 0u) << "every row says what its token reads";
  }
}

TEST(LookupToken, HeaderWordsFindTheFirstMatchingRow) {
  struct Case {
    const char* word;
    TranslationTable table;
    uint8_t token;
  };
  const Case cases[] = {
      {"time-taken", W3C_FIELDS, TRAN_TIME_MILLI},
      {"time_taken", W3C_FIELDS, TRAN_TIME_HMS},
      {"time", W3C_FIELDS, TIME_24},
      {"date", W3C_FIELDS, DATE_YMD},
      {"cs-uri-stem", W3C_FIELDS, URI},
      {"cs-uri-query", W3C_FIELDS, URI_QUERY},
      {"cs-uri", W3C_FIELDS, URI},
      {"cs-host", W3C_FIELDS, CS_HOST},
      {"cs(User-Agent)", W3C_FIELDS, AGENT},
      {"s-ip", W3C_FIELDS, MAY_DOMAIN},
      {"s-operation", W3C_FIELDS, METHOD},
      {"date-local", W3C_FIELDS, DATE_YMD},
      {"time-local", W3C_FIELDS, TIME_24},
      {"date-localx", W3C_FIELDS, SKIP},
      {"time-utc", W3C_FIELDS, TIME_24},
      {"x-unknown", W3C_FIELDS, SKIP},
      {"HOST", WEBSTAR_FIELDS, DOMAIN},    // the virtual host
      {"HOSTNAME", WEBSTAR_FIELDS, HOST},  // the client
      {"CS-HOST", WEBSTAR_FIELDS, HOST},
      {"CS-IP", WEBSTAR_FIELDS, HOST},
      {"C-IP", WEBSTAR_FIELDS, HOST},
      {"C-DNS", WEBSTAR_FIELDS, HOST},
      {"HOSTFIELD", WEBSTAR_FIELDS, DOMAIN},
      {"DATE", WEBSTAR_FIELDS, DATE_AUTO},
      {"RESULT_CODE", WEBSTAR_FIELDS, STATUS},
      {"RESULT", WEBSTAR_FIELDS, WEBSTAR_RESULT},
      {"AFP_METHOD", WEBSTAR_FIELDS, METHOD},
      {"\"%Req->headers.referer%\"", NETSCAPE_VARIABLES, REFERER},
      {"%Req->headers.referer%", NETSCAPE_VARIABLES, SKIP},  // quotes are part of the name
      {"%Req->headers.host%", NETSCAPE_VARIABLES, DOMAIN},
      {"\"%Req->headers.host%\"", NETSCAPE_VARIABLES, DOMAIN},
      {"%Req->vars.xfer-time-total%", NETSCAPE_VARIABLES, TRAN_TIME_SECS},
      {"\"%Req->headers.cookie.rtnuser%\"", NETSCAPE_VARIABLES, SESSION},
      {"\"%Req->headers.cookie%\"", NETSCAPE_VARIABLES, COOKIE},
      {"-", NETSCAPE_VARIABLES, SKIP},
      {"", W3C_FIELDS, SKIP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(LookupToken(c.word, c.table), c.token);
  }
}

TEST(TranslationTables, RowCountsAndOnlyValidTokens) {
  EXPECT_EQ(NETSCAPE_VARIABLES.size(), 25u);
  EXPECT_EQ(WEBSTAR_FIELDS.size(), 36u);
  EXPECT_EQ(W3C_FIELDS.size(), 37u);  // 33 W3C names, then IIS Advanced Logging's dates and times
  for (TranslationTable table : {NETSCAPE_VARIABLES, WEBSTAR_FIELDS, W3C_FIELDS}) {
    for (const TranslationRow& row : table) {
      SCOPED_TRACE(row.name);
      EXPECT_LT(row.token, TOKEN_KIND_COUNT);
      EXPECT_NE(row.token, EOL);
      EXPECT_NE(row.token, TAB_SEP);
    }
  }
}

// Checks the invariants the parser relies on: ends in EOL, bytes 0..51, TAB_SEP only first.
void ExpectWellFormed(LogFormat format) {
  ASSERT_NE(format, nullptr);
  size_t i = 0;
  for (; format[i] != EOL; ++i) {
    ASSERT_LT(i, 64u) << "no EOL";
    EXPECT_LT(format[i], TOKEN_KIND_COUNT) << "byte " << i;
    if (i > 0) {
      EXPECT_NE(format[i], TAB_SEP) << "byte " << i;
    }
  }
}

TEST(BuiltinFormats, EveryTemplateIsWellFormed) {
  for (int slot = 0; slot < BUILTIN_FORMAT_COUNT; ++slot) {
    SCOPED_TRACE(slot);
    if (slot == FIELDS) {
      EXPECT_EQ(BuiltinFormat(slot), nullptr);
    } else {
      ExpectWellFormed(BuiltinFormat(slot));
    }
  }
  ExpectWellFormed(WN_ANGLE);
  ExpectWellFormed(WN_WORD);
}

std::basic_string<uint8_t> Bytes(LogFormat format) {
  std::basic_string<uint8_t> bytes;
  while (*format != EOL) bytes.push_back(*format++);
  bytes.push_back(EOL);
  return bytes;
}

TEST(BuiltinFormats, SlotsHoldTheirTemplates) {
  using B = std::basic_string<uint8_t>;
  struct Case {
    int slot;
    B bytes;
  };
  const Case cases[] = {
      {COMBINED,
       {HOST, SKIP, USER, DATE_CLF, FULL_REQUEST, STATUS, BYTES, WN, REFERER, IF_EOL, AGENT, EC,
        FORWARDED_FOR, EOL}},
      {IIS_SERVICE, {HOST,  USER,    DATE_AUTO, TIME_24, W3SVC,  SKIP, DOMAIN,    TRAN_TIME_MILLI,
                     SKIP,  BYTES,   STATUS,    SKIP,    METHOD, URI,  URI_QUERY, IF_EOL,
                     AGENT, REFERER, IF_EOL,    COOKIE,  FIXUP,  EOL}},
      {WEBSTAR_COMMON, {DATE_AUTO, TIME_24, SKIP, WEBSTAR_RESULT, HOST, URI, BYTES, MUST_EOL, EOL}},
      {HEADER, {FORMAT_LINE, EOL}},
      {DATE_FIRST,
       {DATE_AUTO, TIME_24, HOST, DOMAIN, SKIP, USER, METHOD, URI, REFERER, SKIP, AGENT, STATUS,
        BYTES, TRAN_TIME_MILLI, EOL}},
      {DATE_LINE, {DATE_CLF, EOL}},
      {ERROR_LINE, {DATE_APACHE, EOL}},
      {VHOST_COMBINED,
       {DOMAIN, HOST, SKIP, USER, DATE_CLF, FULL_REQUEST, STATUS, BYTES, REFERER, AGENT, COOKIE,
        EOL}},
      {FTP_TRANSFER,
       {SKIP, MONTH_NAME, DAY, TIME_24, YEAR, TRAN_TIME_SECS, HOST, BYTES, URI, SKIP, SKIP, SKIP,
        SKIP, USER, METHOD, SKIP, SKIP, EOL}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    EXPECT_EQ(Bytes(BuiltinFormat(c.slot)), c.bytes);
  }
  EXPECT_EQ(Bytes(WN_ANGLE), (B{SKIP, AGENT, REFERER, COOKIE, IF_EOL, DOMAIN, EOL}));
  EXPECT_EQ(Bytes(WN_WORD), (B{DOMAIN, IF_EOL, REFERER, AGENT, EOL}));
}

TEST(BuiltinFormatsDeathTest, SlotOutOfRangeStops) {
  EXPECT_EXIT(BuiltinFormat(BUILTIN_FORMAT_COUNT), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(BuiltinFormat(-1), testing::ExitedWithCode(1), "");
}

}  // namespace
