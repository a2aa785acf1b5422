#include "parse/record_fields.h"

#include <cstring>

#include "base/text.h"
#include "entries/zone_shift.h"
#include "parse/format_tokens.h"

// Digits of a fixed count at `p`; -1 when one is no digit.
int32_t Digits(std::string_view text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  int32_t v = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!IsDigit(text[i])) return -1;
    v = v * 10 + (text[i] - '0');
  }
  return v;
}

// ".123456" -> 123 at `*at`, moving past every digit of the fraction.
int32_t FractionMilliseconds(std::string_view text, size_t* at) {
  if (*at >= text.size() || (text[*at] != '.' && text[*at] != ',')) return 0;
  int32_t ms = 0;
  int digits = 0;
  for (++*at; *at < text.size() && IsDigit(text[*at]); ++*at) {
    if (digits++ < 3) ms = ms * 10 + (text[*at] - '0');
  }
  for (; digits < 3; ++digits) ms *= 10;
  return ms;
}

// "Z", "+02:00", "+0200" or nothing (NO_OFFSET); false for anything else behind the time.
bool ReadOffset(std::string_view text, size_t at, int32_t* offset) {
  if (at == text.size()) {
    *offset = NO_OFFSET;
    return true;
  }
  if (text[at] == 'Z' || text[at] == 'z') {
    *offset = 0;
    return at + 1 == text.size();
  }
  if (text[at] != '+' && text[at] != '-') return false;
  const int32_t hours = Digits(text, at + 1, 2);
  size_t m = at + 3;
  if (m < text.size() && text[m] == ':') ++m;
  const int32_t minutes = Digits(text, m, 2);
  if (hours < 0 || minutes < 0 || m + 2 != text.size() || hours > 23 || minutes > 59) {
    return false;
  }
  *offset = (text[at] == '-' ? -1 : 1) * (hours * 60 + minutes);
  return true;
}

// ISO 8601: "2024-03-31T03:00:05.123+02:00", a space for the 'T' too.
bool ReadIsoTime(std::string_view text, LogEntry& e) {
  if (text.size() < 19 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':') {
    return false;
  }
  e.year = Digits(text, 0, 4);
  e.month = Digits(text, 5, 2);
  e.day = Digits(text, 8, 2);
  e.hour = Digits(text, 11, 2);
  e.minute = Digits(text, 14, 2);
  e.second = Digits(text, 17, 2);
  size_t at = 19;
  e.millisecond = FractionMilliseconds(text, &at);
  return ReadOffset(text, at, &e.utc_offset);
}

// Common log format: "10/Oct/2000:13:55:36 -0700" (nginx's $time_local).
bool ReadClfTime(std::string_view text, LogEntry& e) {
  if (text.size() < 20 || text[2] != '/' || text[6] != '/' || text[11] != ':') return false;
  const char month_name[4] = {text[3], text[4], text[5], '\0'};
  e.day = Digits(text, 0, 2);
  e.month = MonthFromName(month_name);
  e.year = Digits(text, 7, 4);
  e.hour = Digits(text, 12, 2);
  e.minute = Digits(text, 15, 2);
  e.second = Digits(text, 18, 2);
  size_t at = 20;
  e.millisecond = FractionMilliseconds(text, &at);
  if (at < text.size() && text[at] == ' ') ++at;
  return ReadOffset(text, at, &e.utc_offset);
}

// Seconds since 1970 with an optional fraction ("1700000000.123", Caddy's ts, nginx's
// $msec): the UTC date and time.
bool ReadEpochTime(std::string_view text, LogEntry& e) {
  size_t i = 0;
  int64_t seconds = 0;
  for (; i < text.size() && IsDigit(text[i]) && i < 12; ++i)
    seconds = seconds * 10 + (text[i] - '0');
  if (i == 0) return false;
  e.millisecond = FractionMilliseconds(text, &i);
  if (i != text.size()) return false;
  SetEntryClock(e, seconds);
  e.utc_offset = 0;
  return true;
}

bool DateIsValid(const LogEntry& e, int32_t year_limit) {
  return e.year >= 1970 && e.year <= 9999 && e.year < year_limit && e.month >= 1 && e.month <= 12 &&
         e.day >= 1 && e.day <= 31 && e.hour >= 0 && e.hour <= 23 && e.minute >= 0 &&
         e.minute <= 59 && e.second >= 0 && e.second <= 59 && e.millisecond >= 0 &&
         e.millisecond <= 999;
}

EntryText TextAt(char* text, size_t length) {
  return EntryText{text, static_cast<int32_t>(length)};
}

// Splits "uri?query" in place; the query is set unless an explicit one was given.
void SplitUri(EntryText text, LogEntry& e, bool query_given) {
  if (text.text == nullptr) return;
  char* const mark =
      static_cast<char*>(std::memchr(text.text, '?', static_cast<size_t>(text.length)));
  if (mark == nullptr) {
    e.uri = text;
    return;
  }
  *mark = '\0';
  e.uri = TextAt(text.text, static_cast<size_t>(mark - text.text));
  if (!query_given) {
    const auto rest = static_cast<size_t>(text.length) - e.uri.length - 1;
    e.query = rest > 0 ? TextAt(mark + 1, rest) : EntryText{};
  }
}

// "METHOD uri PROTOCOL" in place: the first word is the method, a last word starting
// "HTTP/" the protocol, everything between the uri.
void SplitRequest(EntryText request, LogEntry& e, bool query_given) {
  if (request.text == nullptr) return;
  char* const begin = request.text;
  char* const end = begin + request.length;
  char* const space =
      static_cast<char*>(std::memchr(begin, ' ', static_cast<size_t>(request.length)));
  if (space == nullptr) {
    SplitUri(request, e, query_given);
    return;
  }
  if (e.method.text == nullptr) {
    *space = '\0';
    e.method = TextAt(begin, static_cast<size_t>(space - begin));
  }
  char* uri = space + 1;
  char* uri_end = end;
  char* last_space = end;
  while (last_space > uri && last_space[-1] != ' ') --last_space;
  if (last_space > uri && StartsWith("HTTP/", last_space)) {
    uri_end = last_space - 1;
    if (e.protocol.text == nullptr)
      e.protocol = TextAt(last_space, static_cast<size_t>(end - last_space));
  }
  *uri_end = '\0';
  if (e.uri.text == nullptr && uri_end > uri) {
    SplitUri(TextAt(uri, static_cast<size_t>(uri_end - uri)), e, query_given);
  }
}

// Drops the ":port" of an IPv4 address or a bracketed IPv6 address.
EntryText WithoutPort(EntryText text) {
  if (text.text == nullptr) return text;
  if (text.text[0] == '[') {
    char* const close =
        static_cast<char*>(std::memchr(text.text, ']', static_cast<size_t>(text.length)));
    if (close == nullptr) return text;
    *close = '\0';
    return TextAt(text.text + 1, static_cast<size_t>(close - text.text - 1));
  }
  char* const colon =
      static_cast<char*>(std::memchr(text.text, ':', static_cast<size_t>(text.length)));
  if (colon == nullptr ||
      std::memchr(colon + 1, ':', static_cast<size_t>(text.text + text.length - colon - 1)) !=
          nullptr) {
    return text;  // no port, or an IPv6 address without brackets
  }
  *colon = '\0';
  return TextAt(text.text, static_cast<size_t>(colon - text.text));
}
