#include "parse/format_tokens.h"

#include <iterator>

#include "base/check.h"
#include "base/text.h"

namespace {

// ---- Token table: one row per name, kinds in byte order, then the second name of REFERER --
constexpr TokenRow kTokens[] = {
    {DATE_CLF, "DATE-CLF",
     "'[' or '\"', optional weekday, dd/Mon/yy[yy]:HH:MM:SS, to the closer (zone ignored)"},
    {DATE_AUTO, "DATE-AUTO", "a month-first date, exactly as DATE-MDY"},
    {DATE_DMY, "DATE-DMY", "day, month (number or name), year; separators ':' '/' '-' '.'"},
    {DATE_MDY, "DATE-MDY", "month, day, year"},
    {DATE_YMD, "DATE-YMD", "year, month, day"},
    {UNIX_TIME, "UNIX-TIME", "decimal seconds since 1970, broken down into local date and time"},
    {TIME_24, "TIME-24", "hour, minute, second; separators ':' '/' '-' '.'"},
    {TIME_12, "TIME-12", "as TIME-24, then am or pm in either case"},
    {YEAR, "YEAR", "two or four digits"},
    {MONTH, "MONTH", "one or two digits"},
    {MONTH_NAME, "MONTH-NAME", "a three-letter month name"},
    {DAY, "DAY", "one or two digits, or a space and one digit"},
    {HOUR, "HOUR", "one or two digits"},
    {MINUTE, "MINUTE", "one or two digits"},
    {SECOND, "SECOND", "one or two digits"},
    {FULL_REQUEST, "FULL-REQUEST",
     "the quoted request line: method, uri with optional query, optional protocol"},
    {HOST, "HOST", "the client host, plain or in double quotes"},
    {URI, "URI", "one field, split at '?' into uri and query"},
    {URI_QUERY, "URI-QUERY", "the query, one field"},
    {STATUS, "STATUS", "the status code, decimal; '-' means none"},
    {WEBSTAR_RESULT, "WEBSTAR-RESULT",
     "a result word: OK 200, ERR! 404, PRIV 401, anything else 200"},
    {BYTES, "BYTES", "the bytes sent, decimal; '-' means 0"},
    {TRAN_TIME_SECS, "TRAN-TIME-SECS", "the transfer time in decimal seconds"},
    {TRAN_TIME_TICKS, "TRAN-TIME-TICKS", "the transfer time in decimal sixtieths of a second"},
    {TRAN_TIME_MILLI, "TRAN-TIME-MILLI",
     "the transfer time in decimal milliseconds, or in seconds when written with a fraction"},
    {TRAN_TIME_HMS, "TRAN-TIME-HMS",
     "the transfer time as HH:MM:SS, or else in sixtieths of a second"},
    {REFERER, "REFERER", "the referer, plain or quoted by '\"', '<', an apostrophe or a backquote"},
    {AGENT, "AGENT", "the user agent, quoted as REFERER"},
    {USER, "USER",
     "the user name, plain or quoted by '\"' or '<'; before DATE-CLF it runs to the \" [\""},
    {METHOD, "METHOD", "the request method, quoted as USER"},
    {PROTOCOL, "PROTOCOL", "the protocol, one plain field"},
    {DOMAIN, "DOMAIN", "the virtual host, quoted as USER"},
    {MAY_DOMAIN, "MAY-DOMAIN", "as DOMAIN, but keeps a virtual host already read on this line"},
    {SERVER, "SERVER", "the server name, quoted as USER"},
    {COOKIE, "COOKIE", "the cookie, quoted as USER"},
    {SKIP, "SKIP", "one field, plain or quoted by '\"' or '<', ignored"},
    {IF_EOL, "IF-EOL", "nothing; at the line end the rest of the template is dropped"},
    {MUST_EOL, "MUST-EOL", "nothing; the line must end here"},
    {EOL, "EOL", "nothing; ends every template (the byte '&')"},
    {W3SVC, "W3SVC",
     "a service field beginning \"W3SVC\"; \"MSFTPSVC\" makes the line a non-entry line"},
    {FIXUP, "FIXUP", "nothing; rotates query, cookie, referer and agent"},
    {WN, "WN", "nothing; branches into a sub-template by the next character"},
    {EC, "EC",
     "nothing; drops the rest unless a number follows; the entry ends here if the rest fails"},
    {CHAR, "CHAR", "any one character"},
    {TAB_SEP, "TAB-SEP", "only as the first byte: the template is tab-separated (the byte ',')"},
    {FORMAT_LINE, "FORMAT-LINE", "a header or comment line, which may change the parse state"},
    {CS_HOST, "CS-HOST",
     "HOST while the input is in WebSTAR mode, otherwise the virtual host, as DOMAIN"},
    {PATH_ARG, "PATH-ARG", "one field, appended to the uri after a '$'"},
    {DATE_APACHE, "DATE-APACHE", "'[', optional weekday, Mon dd HH:MM:SS yy[yy], ']'"},
    {CURI, "CURI", "the uri up to the next comma, not split at '?'"},
    {CQUERY, "CQUERY", "the query up to the next comma"},
    {SESSION, "SESSION", "the session, quoted as USER"},
    {FORWARDED_FOR, "FORWARDED-FOR",
     "the X-Forwarded-For list, plain or in double quotes: addresses only, '-' means none"},
    {TRAN_TIME_MICRO, "TRAN-TIME-MICRO", "the transfer time in decimal microseconds"},
    {DATE_ISO8601, "DATE-ISO8601",
     "plain, or in '[' or '\"': 2024-03-05T10:00:00+01:00, fraction of the second and zone kept"},
    {UNIX_TIME_UTC, "UNIX-TIME-UTC",
     "plain, or in '[' or '\"': seconds since 1970, a fraction allowed; the UTC date and time"},
    {REFERER, "REFERRER", "the second name of REFERER"},
};

constexpr bool RowsAreInByteOrder() {
  for (int i = 0; i < TOKEN_KIND_COUNT; ++i) {
    if (kTokens[i].token != i) return false;
  }
  return true;
}
static_assert(std::size(kTokens) == TOKEN_KIND_COUNT + 1);
static_assert(RowsAreInByteOrder(), "row i of the token table must describe the byte i");

// ---- Built-in templates, in rotation order ----------------------------------------------
// A quoted address list after the agent is nginx's packaged default ("$http_x_forwarded_for");
// anything else there (a request counter, a time in an undeclared unit) is passed over.
constexpr uint8_t kCombined[] = {HOST,    SKIP,   USER,  DATE_CLF, FULL_REQUEST,  STATUS, BYTES, WN,
                                 REFERER, IF_EOL, AGENT, EC,       FORWARDED_FOR, EOL};
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
// Apache's vhost_combined and its nginx equivalents write the referer before the agent.
constexpr uint8_t kVhostCombined[] = {DOMAIN, HOST,  SKIP,    USER,  DATE_CLF, FULL_REQUEST,
                                      STATUS, BYTES, REFERER, AGENT, COOKIE,   EOL};
// xferlog: weekday, date, the transfer time in whole seconds, host, bytes, file, ...
constexpr uint8_t kFtpTransfer[] = {SKIP, MONTH_NAME, DAY,    TIME_24, YEAR, TRAN_TIME_SECS,
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
    {"CS(REFERRER)", REFERER},
    {"CS(USER-AGENT)", AGENT},
    {"C-AUTH-ID", USER},
    {"CS(X-FORWARDED-FOR)", FORWARDED_FOR},
    {"X-FORWARDED-FOR", FORWARDED_FOR},
    {"S-IP", MAY_DOMAIN},
    {"S-DNS", MAY_DOMAIN},
    {"SC-BYTES", BYTES},
    {"SC-STATUS", STATUS},
    {"S-COMPUTERNAME", SERVER},
    {"S-SITENAME", DOMAIN},
    {"C-AGENT", AGENT},
    {"S-OPERATION", METHOD},
    // IIS Advanced Logging. Where a list has a UTC date or time (date, date-utc; time,
    // time-utc) beside the local one, the UTC field wins (header_lines).
    {"DATE-LOCAL", DATE_YMD},
    {"TIME-LOCAL", TIME_24},
    {"DATE-UTC", DATE_YMD},
    {"TIME-UTC", TIME_24},
};
static_assert(std::size(kW3cFields) == 37);

}  // namespace

// ---- Tables seen by the other modules -----------------------------------------------------
constinit const std::span<const TokenRow> TOKEN_TABLE{kTokens};

constinit const uint8_t WN_ANGLE[] = {SKIP, AGENT, REFERER, COOKIE, IF_EOL, DOMAIN, EOL};
constinit const uint8_t WN_WORD[] = {DOMAIN, IF_EOL, REFERER, AGENT, EOL};

constinit const TranslationTable NETSCAPE_VARIABLES{kNetscapeVariables};
constinit const TranslationTable WEBSTAR_FIELDS{kWebstarFields};
constinit const TranslationTable W3C_FIELDS{kW3cFields};

const char* TokenName(uint8_t token) {
  return token < TOKEN_KIND_COUNT ? kTokens[token].name : "?";
}

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
