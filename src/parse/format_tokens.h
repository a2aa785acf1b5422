#pragma once
// The token language in which every log dialect is written.
//
// A template (LogFormat) is a byte string of token kinds 0..55 ended by the byte EOL (38).
// A first byte TAB_SEP (44) makes the template tab-separated; it is invalid anywhere else.
// The byte values are fixed: user formats and translated headers are stored as bytes.

#include <cstdint>
#include <span>

// ---- Token kinds -------------------------------------------------------------------------
enum FormatToken : uint8_t {
  DATE_CLF = 0,
  DATE_AUTO = 1,
  DATE_DMY = 2,
  DATE_MDY = 3,
  DATE_YMD = 4,
  UNIX_TIME = 5,
  TIME_24 = 6,
  TIME_12 = 7,
  YEAR = 8,
  MONTH = 9,
  MONTH_NAME = 10,
  DAY = 11,
  HOUR = 12,
  MINUTE = 13,
  SECOND = 14,
  FULL_REQUEST = 15,
  HOST = 16,
  URI = 17,
  URI_QUERY = 18,
  STATUS = 19,
  WEBSTAR_RESULT = 20,
  BYTES = 21,
  TRAN_TIME_SECS = 22,
  TRAN_TIME_TICKS = 23,
  TRAN_TIME_MILLI = 24,
  TRAN_TIME_HMS = 25,
  REFERER = 26,
  AGENT = 27,
  USER = 28,
  METHOD = 29,
  PROTOCOL = 30,
  DOMAIN = 31,
  MAY_DOMAIN = 32,
  SERVER = 33,
  COOKIE = 34,
  SKIP = 35,
  IF_EOL = 36,
  MUST_EOL = 37,
  EOL = 38,
  W3SVC = 39,
  FIXUP = 40,
  WN = 41,
  EC = 42,
  CHAR = 43,
  TAB_SEP = 44,
  FORMAT_LINE = 45,
  CS_HOST = 46,
  PATH_ARG = 47,
  DATE_APACHE = 48,
  CURI = 49,
  CQUERY = 50,
  SESSION = 51,
  FORWARDED_FOR = 52,
  TRAN_TIME_MICRO = 53,
  DATE_ISO8601 = 54,
  UNIX_TIME_UTC = 55,
};
inline constexpr int TOKEN_KIND_COUNT = 56;  // bytes above 55 are invalid in a template

// A template: token bytes ended by EOL.
using LogFormat = const uint8_t*;

// ---- Token table -----------------------------------------------------------------------
// One row per token name: the byte a template holds, the name a user format writes, and
// what the token reads.
struct TokenRow {
  FormatToken token;
  const char* name;
  const char* reads;
};

// 57 rows: the kinds 0..55 in byte order ("DATE-CLF" .. "UNIX-TIME-UTC"), then
// "REFERRER", a second name for REFERER that user formats accept.
extern const std::span<const TokenRow> TOKEN_TABLE;

// The name of token kind `token` (0..55), e.g. "DATE-CLF"; "?" for a byte that is no kind.
const char* TokenName(uint8_t token);

// ---- Built-in formats ----------------------------------------------------------------------
// Slots of the built-in rotation (the value of ParseState::current_format).
enum FormatSlot : int {
  COMBINED = 0,
  IIS_SERVICE = 1,
  WEBSTAR_COMMON = 2,
  HEADER = 3,
  FIELDS = 4,
  DATE_FIRST = 5,
  DATE_LINE = 6,
  ERROR_LINE = 7,
  VHOST_COMBINED = 8,
  FTP_TRANSFER = 9,
};
inline constexpr int BUILTIN_FORMAT_COUNT = 10;

// The template of a built-in slot; null for FIELDS, whose template is the input's own.
LogFormat BuiltinFormat(int slot);

// The sub-templates WN branches into: at '<' and at a letter.
extern const uint8_t WN_ANGLE[];
extern const uint8_t WN_WORD[];

// ---- Header translation tables ---------------------------------------------------------
struct TranslationRow {
  const char* name;
  uint8_t token;
};
using TranslationTable = std::span<const TranslationRow>;

extern const TranslationTable NETSCAPE_VARIABLES;  // words of a "format=" line
extern const TranslationTable WEBSTAR_FIELDS;      // words of a "!!LOG_FORMAT" line
extern const TranslationTable W3C_FIELDS;          // words of a "#Fields:" line

// ---- Name matching ---------------------------------------------------------------------
// True when `name` matches at the start of `text` (letters folded to lower case) and the
// text character after it is neither a letter, '-' nor '_'.
bool MatchKeyword(const char* name, const char* text);

// The month 1..12 named by the first letters of `text`, or -1. Reads at most three
// characters and never past a NUL.
int MonthFromName(const char* text);

// The token of the first row whose name matches `word` (MatchKeyword), or SKIP.
uint8_t LookupToken(const char* word, TranslationTable table);
