#include "parse/format_tokens.h"

#include <iterator>

#include "base/check.h"
#include "base/text.h"

namespace {

// ---- Token names, in kind order; entry 52 is the second name of REFERER -----------------
constexpr const char* kTokenNames[] = {
    "DATE-CLF",
    "DATE-AUTO",
    "DATE-DMY",
    "DATE-MDY",
    "DATE-YMD",
    "UNIX-TIME",
    "TIME-24",
    "TIME-12",
    "YEAR",
    "MONTH",
    "MONTH-NAME",
    "DAY",
    "HOUR",
    "MINUTE",
    "SECOND",
    "FULL-REQUEST",
    "HOST",
    "URI",
    "URI-QUERY",
    "STATUS",
    "WEBSTAR-RESULT",
    "BYTES",
    "TRAN-TIME-SECS",
    "TRAN-TIME-TICKS",
    "TRAN-TIME-MILLI",
    "TRAN-TIME-HMS",
    "REFERER",
    "AGENT",
    "USER",
    "METHOD",
    "PROTOCOL",
    "DOMAIN",
    "MAY-DOMAIN",
    "SERVER",
    "COOKIE",
    "SKIP",
    "IF-EOL",
    "MUST-EOL",
    "EOL",
    "W3SVC",
    "FIXUP",
    "WN",
    "EC",
    "CHAR",
    "TAB-SEP",
    "FORMAT-LINE",
    "CS-HOST",
    "PATH-ARG",
    "DATE-APACHE",
    "CURI",
    "CQUERY",
    "SESSION",
    "REFERRER",
};
static_assert(std::size(kTokenNames) == TOKEN_KIND_COUNT + 1);

// ---- Built-in templates, in rotation order ----------------------------------------------
constexpr uint8_t kCombined[] = {HOST,           SKIP,   USER,    DATE_CLF, FULL_REQUEST, STATUS,
                                 BYTES,          WN,     REFERER, IF_EOL,   AGENT,        EC,
                                 TRAN_TIME_SECS, IF_EOL, COOKIE,  EOL};
constexpr uint8_t kIisService[] = {
    HOST,  USER,    DATE_AUTO, TIME_24, W3SVC,  SKIP, DOMAIN,    TRAN_TIME_MILLI,
    SKIP,  BYTES,   STATUS,    SKIP,    METHOD, URI,  URI_QUERY, IF_EOL,
    AGENT, REFERER, IF_EOL,    COOKIE,  FIXUP,  EOL};
constexpr uint8_t kWebstarCommon[] = {DATE_AUTO, TIME_24,  SKIP, WEBSTAR_RESULT, HOST, URI,
                                      BYTES,     MUST_EOL, EOL};
constexpr uint8_t kHeader[] = {FORMAT_LINE, EOL};
constexpr uint8_t kDateFirst[] = {DATE_AUTO, TIME_24, HOST,  DOMAIN,          SKIP,
                                  USER,      METHOD,  URI,   REFERER,         SKIP,
                                  AGENT,     STATUS,  BYTES, TRAN_TIME_MILLI, EOL};
constexpr uint8_t kDateLine[] = {DATE_CLF, EOL};
constexpr uint8_t kErrorLine[] = {DATE_APACHE, EOL};
constexpr uint8_t kVhostCombined[] = {DOMAIN, HOST,  SKIP,  USER,    DATE_CLF, FULL_REQUEST,
                                      STATUS, BYTES, AGENT, REFERER, COOKIE,   EOL};
constexpr uint8_t kFtpTransfer[] = {SKIP, MONTH_NAME, DAY,    TIME_24, YEAR, SKIP,
                                    HOST, BYTES,      URI,    SKIP,    SKIP, SKIP,
                                    SKIP, USER,       METHOD, SKIP,    SKIP, EOL};

// FIELDS has no constant template: each input translates its own from a header.
constexpr LogFormat kBuiltinFormats[] = {
    kCombined,  kIisService, kWebstarCommon, kHeader,        nullptr,
    kDateFirst, kDateLine,   kErrorLine,     kVhostCombined, kFtpTransfer,
};
static_assert(std::size(kBuiltinFormats) == BUILTIN_FORMAT_COUNT);

// ---- Header translation tables; the first matching row wins ------------------------------
// The double quotes in some Netscape names are part of the name.
constexpr TranslationRow kNetscapeVariables[] = {
    {"%Ses->client.ip%", HOST},
    {"%Req->vars.auth-user%", USER},
    {"[%SYSDATE%]", DATE_CLF},
    {"\"%Req->reqpb.clf-request%\"", FULL_REQUEST},
    {"%Req->srvhdrs.clf-status%", STATUS},
    {"%Req->srvhdrs.content-length%", BYTES},
    {"\"%Req->headers.referer%\"", REFERER},
    {"\"%Req->headers.user-agent%\"", AGENT},
    {"%Req->reqpb.method%", METHOD},
    {"%Req->reqpb.uri%", URI},
    {"%Req->reqpb.query%", URI_QUERY},
    {"\"%Req->reqpb.protocol%\"", SKIP},
    {"%Req->headers.host%", DOMAIN},
    {"\"%Req->headers.host%\"", DOMAIN},
    {"%Req->headers.cookie%", COOKIE},
    {"\"%Req->headers.cookie%\"", COOKIE},
    {"\"%SYSDATE%\"", DATE_CLF},
    {"%Req->vars.pauth-user%", USER},
    {"\"%Req->reqpb.proxy-request%\"", FULL_REQUEST},
    {"%Req->headers.content-length%", BYTES},
    {"%Req->vars.p2c-cl%", BYTES},
    {"%Req->vars.xfer-time%", TRAN_TIME_SECS},
    {"%Req->vars.xfer-time-total%", TRAN_TIME_SECS},
    {"%Req->headers.vars.auth-user%", USER},
    {"\"%Req->headers.cookie.rtnuser%\"", SESSION},
};
static_assert(std::size(kNetscapeVariables) == 25);

constexpr TranslationRow kWebstarFields[] = {
    {"HOSTNAME", HOST},
    {"DATE", DATE_AUTO},
    {"URL", URI},
    {"BYTES_SENT", BYTES},
    {"TIME", TIME_24},
    {"RESULT", WEBSTAR_RESULT},
    {"AGENT", AGENT},
    {"METHOD", METHOD},
    {"PATH_ARGS", PATH_ARG},
    {"REFERER", REFERER},
    {"SEARCH_ARGS", URI_QUERY},
    {"TRANSFER_TIME", TRAN_TIME_TICKS},
    {"USER", USER},
    {"CS-HOST", HOST},
    {"CS-IP", HOST},
    {"CS-METHOD", METHOD},
    {"CS-STATUS", STATUS},
    {"CS-URI", URI},
    {"BYTES", BYTES},
    {"TIME_TAKEN", TRAN_TIME_HMS},
    {"SC-STATUS", STATUS},
    {"C-IP", HOST},
    {"C-DNS", HOST},
    {"CS-URI-STEM", URI},
    {"CS-URI-QUERY", URI_QUERY},
    {"CS(HOST)", DOMAIN},
    {"CS(REFERER)", REFERER},
    {"CS(USER-AGENT)", AGENT},
    {"CS(COOKIE)", COOKIE},
    {"CS(METHOD)", METHOD},
    {"HOST", DOMAIN},
    {"RESULT_CODE", STATUS},
    {"COOKIE", COOKIE},
    {"HOSTFIELD", DOMAIN},
    {"STATUS", STATUS},
    {"AFP_METHOD", METHOD},
};
static_assert(std::size(kWebstarFields) == 36);

constexpr TranslationRow kW3cFields[] = {
    {"DATE", DATE_YMD},
    {"TIME", TIME_24},
    {"BYTES", BYTES},
    {"TIME_TAKEN", TRAN_TIME_HMS},
    {"TIME-TAKEN", TRAN_TIME_MILLI},
    {"C-IP", HOST},
    {"C-DNS", HOST},
    {"CS-IP", HOST},
    {"CS-HOST", CS_HOST},
    {"CS-METHOD", METHOD},
    {"CS-STATUS", STATUS},
    {"CS-URI", URI},
    {"CS-URI-STEM", URI},
    {"CS-URI-QUERY", URI_QUERY},
    {"CS-USERNAME", USER},
    {"CS-VERSION", PROTOCOL},
    {"CS(COOKIE)", COOKIE},
    {"CS(HOST)", DOMAIN},
    {"CS(METHOD)", METHOD},
    {"CS(REFERER)", REFERER},
    {"CS(USER-AGENT)", AGENT},
    {"S-IP", MAY_DOMAIN},
    {"S-DNS", MAY_DOMAIN},
    {"SC-BYTES", BYTES},
    {"SC-STATUS", STATUS},
    {"S-COMPUTERNAME", SERVER},
    {"S-SITENAME", DOMAIN},
    {"C-AGENT", AGENT},
    {"S-OPERATION", METHOD},
};
static_assert(std::size(kW3cFields) == 29);

}  // namespace

// ---- Tables seen by the other modules -----------------------------------------------------
constinit const std::span<const char* const> TOKEN_NAMES{kTokenNames};

constinit const uint8_t WN_ANGLE[] = {SKIP, AGENT, REFERER, COOKIE, IF_EOL, DOMAIN, EOL};
constinit const uint8_t WN_WORD[] = {DOMAIN, IF_EOL, REFERER, AGENT, EOL};

constinit const TranslationTable NETSCAPE_VARIABLES{kNetscapeVariables};
constinit const TranslationTable WEBSTAR_FIELDS{kWebstarFields};
constinit const TranslationTable W3C_FIELDS{kW3cFields};

LogFormat BuiltinFormat(int slot) {
  STITCHER_CHECK("ParseLogs", slot >= 0 && slot < BUILTIN_FORMAT_COUNT);
  return kBuiltinFormats[slot];
}

// ---- Name matching ---------------------------------------------------------------------
bool MatchKeyword(const char* name, const char* text) {
  // A NUL in the text differs from every remaining name character, so the loop never
  // reads past the end of the text.
  for (; *name != '\0'; ++name, ++text) {
    if (ToLowerAscii(*name) != ToLowerAscii(*text)) return false;
  }
  return !IsLetter(*text) && *text != '-' && *text != '_';
}

int MonthFromName(const char* text) {
  const char first = ToUpperAscii(text[0]);
  const char second = first == '\0' ? '\0' : ToUpperAscii(text[1]);
  // The third letter is only looked at when the second is present.
  const char third = second == '\0' ? '\0' : ToUpperAscii(text[2]);
  switch (first) {
    case 'A':
      return second == 'P' ? 4 : second == 'U' ? 8 : -1;
    case 'D':
      return 12;
    case 'F':
      return 2;
    case 'N':
      return 11;
    case 'O':
      return 10;
    case 'S':
      return 9;
    case 'J':
      if (second == 'A') return 1;
      if (second != 'U') return -1;
      return third == 'N' ? 6 : third == 'L' ? 7 : -1;
    case 'M':
      return third == 'R' ? 3 : third == 'Y' ? 5 : -1;
    default:
      return -1;
  }
}

uint8_t LookupToken(const char* word, TranslationTable table) {
  for (const TranslationRow& row : table) {
    if (MatchKeyword(row.name, word)) return row.token;
  }
  return SKIP;
}
