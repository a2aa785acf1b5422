#include "entries/normalize.h"

#include <cstddef>

#include "base/text.h"

// Every normaliser reads at `in` and writes at `out` in the same text with out <= in, so a
// text never grows and the unread part is never overwritten before it is read.

namespace {

// The path an absolute URL without a path gets. Parsing threads share it, so it is constant
// data: entries point at it through a `char*`, but nothing writes to an entry's uri after the
// split (the path was cleaned before it), and a write would fault rather than race.
constexpr char kRootPath[] = "/";

// ---- Hex escapes -------------------------------------------------------------------------

// Value of one escape digit: its low four bits, plus 9 for a letter (0-9, A-F and a-f get
// their usual values; other letters are not rejected).
int EscapeDigit(char c) {
  return (static_cast<unsigned char>(c) & 0x0F) + (IsLetter(c) ? 9 : 0);
}

// The byte an escape ('%' and two alphanumerics) stands for; values above 255 keep their
// low eight bits.
char DecodeEscape(const char* text) {
  const int value = 16 * EscapeDigit(text[1]) + EscapeDigit(text[2]);
  return static_cast<char>(static_cast<unsigned char>(value & 0xFF));
}

// Decodes the escape at text[in] ('%' and two alphanumerics) into `c` and moves `in` past
// it; false (nothing moved) when no escape stands there. An escape of a line end (CR or
// LF) stays as written, like a '%' without two alphanumerics: decoded, it would split the
// entry's line in the merged log.
bool TakeEscape(const char* text, size_t& in, char& c) {
  const char* at = text + in;
  if (at[0] != '%' || !IsAlnum(at[1]) || !IsAlnum(at[2])) return false;
  const char decoded = DecodeEscape(at);
  if (decoded == '\r' || decoded == '\n') return false;
  c = decoded;
  in += 3;
  return true;
}

// ---- Small pieces ------------------------------------------------------------------------

// Drops the characters `c` at the end of the `end` bytes of `text`; returns the length left.
size_t DropTrailing(char* text, size_t end, char c) {
  while (end > 0 && text[end - 1] == c) text[--end] = '\0';
  return end;
}

int32_t LengthOf(size_t length) {
  return static_cast<int32_t>(length);
}

// True when `text` begins with ":80" directly followed by `follower` ('\0' = the end).
bool IsPort80(const char* text, char follower) {
  return text[0] == ':' && text[1] == '8' && text[2] == '0' && text[3] == follower;
}

bool IsHostCharacter(char c) {
  return IsAlnum(c) || c == '-' || c == '.';
}

// ---- Request path --------------------------------------------------------------------------

// True when the output slash at out[at] belongs to the "://" after a scheme name: going up
// from the host's first directory must stop there, never eat the host. Other doubled
// slashes (left by a dropped "./" or written by an escape) are ordinary directory ends.
bool IsSchemeSlash(const char* out, size_t at, size_t out_end) {
  const bool second = at >= 2 && out[at - 1] == '/' && out[at - 2] == ':';
  const bool first = at >= 1 && at + 1 < out_end && out[at + 1] == '/' && out[at - 1] == ':';
  return second || first;
}

// Removes the last directory written: `out_end` follows a '/'; moves it back to just after
// the '/' before that. At the root (no earlier '/', or the slashes after a scheme name)
// nothing is removed.
size_t UpOneDirectory(const char* out, size_t out_end) {
  if (out_end < 2) return out_end;
  for (size_t at = out_end - 1; at-- > 0;) {
    if (out[at] != '/') continue;
    return IsSchemeSlash(out, at, out_end) ? out_end : at + 1;
  }
  return out_end;
}

// ---- Absolute URLs -------------------------------------------------------------------------

bool HasAbsoluteScheme(const char* text) {
  if (text[0] == '/') return false;
  if (!StartsWithNoCase("http", text) && !StartsWithNoCase("ftp", text)) return false;
  size_t at = 0;
  while (text[at] != '\0' && text[at] != ':' && text[at] != '/') ++at;
  return text[at] == ':' && text[at + 1] == '/' && text[at + 2] == '/';
}

// ---- Referer -------------------------------------------------------------------------------

// The default port of the referer's scheme, 0 when it has none.
int DefaultPort(const char* text) {
  if (StartsWithNoCase("http:", text)) return 80;
  if (StartsWithNoCase("https:", text)) return 443;
  if (StartsWithNoCase("ftp:", text)) return 21;
  if (StartsWithNoCase("gopher:", text)) return 70;
  return 0;
}

// Reads the decimal port at `digits` (at least one digit); sets `length` to the number of
// digits. Values beyond 99999 are reported as 99999, so no run of digits overflows.
int ReadPort(const char* digits, size_t& length) {
  int value = 0;
  length = 0;
  while (IsDigit(digits[length])) {
    value = value > 9999 ? 99999 : value * 10 + (digits[length] - '0');
    ++length;
  }
  return value;
}

// A scheme that is not followed by a host ("javascript:", "mailto:", "file:///"): true
// when the ':' at `colon` is not followed by a digit, and either not by '/' or by "///".
bool IsBareScheme(const char* colon) {
  if (IsDigit(colon[1])) return false;
  if (colon[1] != '/') return true;
  return colon[2] == '/' && colon[3] == '/';
}

// Copies the referer's rest from `in` to `out`: escapes decoded, the fragment dropped, and
// '+' turned into a blank once a '?' or ';' has begun the query part. Returns the length of
// the result.
size_t CopyRefererRest(char* text, size_t in, size_t out) {
  bool in_query = false;
  while (text[in] != '\0' && text[in] != '#') {
    char c = text[in];
    if (TakeEscape(text, in, c)) {
      if (c == '\0') break;
    } else {
      ++in;
      if (c == '?' || c == ';') in_query = true;
      if (c == '+' && in_query) c = ' ';
    }
    text[out++] = c;
  }
  text[out] = '\0';
  return out;
}

// Rewrites "scheme://host[:port]" at the start of the referer: scheme and host lower-cased,
// one trailing dot of the host and a default port dropped. Sets where reading and writing
// go on.
void NormalizeRefererHost(char* text, size_t colon, size_t& in, size_t& out) {
  size_t host_end = colon + 3;
  while (text[host_end] != '\0' && text[host_end] != ':' && text[host_end] != '/') ++host_end;
  for (size_t i = 0; i < host_end; ++i) text[i] = ToLowerAscii(text[i]);
  in = host_end;
  out = host_end;
  if (host_end > colon + 3 && text[host_end - 1] == '.') --out;
  if (text[in] == ':' && IsDigit(text[in + 1])) {
    size_t digits = 0;
    const int port = ReadPort(text + in + 1, digits);
    if (port == DefaultPort(text)) in += 1 + digits;
  }
}

}  // namespace

// ---- Field normalisers -----------------------------------------------------------------------

int32_t NormalizeHost(char* text) {
  size_t out = 0;
  for (size_t in = 0; text[in] != '\0' && text[in] != ':'; ++in) {
    const char c = text[in];
    if (IsHostCharacter(c))
      text[out++] = ToLowerAscii(c);
    else if (c == '@' || c == '/')
      text[out++] = c;
  }
  text[out] = '\0';
  return LengthOf(DropTrailing(text, out, '.'));
}

int32_t NormalizeUriPath(char* text, bool lower_case) {
  size_t in = 0;
  size_t out = 0;
  while (text[in] != '\0') {
    const char c = text[in];
    char decoded = '\0';
    if (TakeEscape(text, in, decoded)) {
      if (decoded == '\0') break;
      text[out++] = lower_case ? ToLowerAscii(decoded) : decoded;
    } else if (c == '.' && in > 0 && text[in - 1] == '/') {
      const char next = text[in + 1];
      if (next == '\0') {
        ++in;  // "/." at the end keeps only the slash
      } else if (next == '/') {
        in += 2;  // "/./" becomes "/"
      } else if (next == '.' && (text[in + 2] == '/' || text[in + 2] == '\0')) {
        in += text[in + 2] == '/' ? 3 : 2;
        out = UpOneDirectory(text, out);
      } else {
        text[out++] = '.';
        ++in;
      }
    } else if (c == '/' && text[in + 1] == '/' && !(in > 0 && text[in - 1] == ':')) {
      ++in;  // the first of two slashes goes, except after a scheme name
    } else {
      text[out++] = lower_case ? ToLowerAscii(c) : c;
      ++in;
    }
  }
  text[out] = '\0';
  return LengthOf(out);
}

bool SplitAbsoluteUri(EntryText& uri, EntryText& path) {
  char* const text = uri.text;
  if (!HasAbsoluteScheme(text)) return false;
  size_t host_start = 0;
  while (text[host_start] != ':') ++host_start;
  host_start += 3;  // past "://"
  size_t host_end = host_start;
  while (text[host_end] != '\0' && text[host_end] != '/' && !IsPort80(text + host_end, '/')) {
    if (text[host_end] == '@') host_start = host_end + 1;  // user and password go
    ++host_end;
  }
  size_t slash = host_end;
  while (text[slash] != '\0' && text[slash] != '/') ++slash;
  size_t kept_end = host_end;
  while (kept_end > host_start && text[kept_end - 1] == '.') --kept_end;

  // The host goes to the front; it ends at least three bytes before host_end, so the path
  // behind it stays intact.
  size_t out = 0;
  for (size_t in = host_start; in < kept_end; ++in) text[out++] = ToLowerAscii(text[in]);
  text[out] = '\0';
  if (text[slash] == '/') {
    path = EntryText{text + slash, uri.length - LengthOf(slash)};
  } else {
    path = EntryText{const_cast<char*>(kRootPath), 1};
  }
  uri.length = LengthOf(out);
  return true;
}

int32_t NormalizeAgent(char* text) {
  size_t end = 0;
  for (; text[end] != '\0'; ++end) {
    if (text[end] == ' ' && text[end + 1] == 'v' && text[end + 2] == 'i' && text[end + 3] == 'a' &&
        text[end + 4] == ' ') {
      text[end] = '\0';
      break;
    }
    if (text[end] == '+') text[end] = ' ';
  }
  return LengthOf(DropTrailing(text, end, ' '));
}

int32_t NormalizeDomain(char* text) {
  size_t out = 0;
  for (size_t in = 0; text[in] != '\0' && !IsPort80(text + in, '\0'); ++in) {
    const char c = text[in];
    if (IsHostCharacter(c) || c == ':') {
      text[out++] = ToLowerAscii(c);
    } else if (c == '@' && text[in + 1] != '\0') {
      out = 0;  // a user prefix goes
    }
  }
  text[out] = '\0';
  return LengthOf(DropTrailing(text, out, '.'));
}

int32_t DecodeQuery(char* text) {
  size_t in = 0;
  size_t out = 0;
  while (text[in] != '\0') {
    char c = text[in];
    if (TakeEscape(text, in, c)) {
      if (c == '\0') break;
    } else {
      if (c == '+') c = ' ';
      ++in;
    }
    text[out++] = c;
  }
  text[out] = '\0';
  return LengthOf(out);
}

int32_t NormalizeReferer(char* text) {
  size_t mark = 0;
  while (text[mark] != '\0' && text[mark] != ':' && text[mark] != '/') ++mark;
  if (text[mark] == ':' && IsBareScheme(text + mark)) {
    text[mark] = '\0';
    text[0] = ToUpperAscii(text[0]);
    return LengthOf(mark);
  }
  size_t in = mark;
  size_t out = mark;
  if (text[mark] == ':' && text[mark + 1] == '/' && text[mark + 2] == '/') {
    NormalizeRefererHost(text, mark, in, out);
  }
  const size_t length = CopyRefererRest(text, in, out);
  if (StartsWithNoCase("bookmark", text)) text[0] = 'B';
  return LengthOf(length);
}

// ---- Entry -----------------------------------------------------------------------------------

void NormalizeEntry(LogEntry& entry, bool lowercase_path) {
  if (entry.client_host.text != nullptr) {
    entry.client_host.length = NormalizeHost(entry.client_host.text);
  }
  if (entry.uri.text != nullptr) {
    entry.uri.length = NormalizeUriPath(entry.uri.text, lowercase_path);
    EntryText host = entry.uri;
    EntryText path{};
    if (SplitAbsoluteUri(host, path)) {
      // An empty host (as in "http:///x") names no virtual host.
      if (entry.domain.text == nullptr && host.length > 0) entry.domain = host;
      entry.uri = path;
    }
  }
  if (entry.agent.text != nullptr) entry.agent.length = NormalizeAgent(entry.agent.text);
  if (entry.method.text != nullptr) UpperCaseInPlace(entry.method.text);  // same length
  if (entry.domain.text != nullptr) entry.domain.length = NormalizeDomain(entry.domain.text);
  if (entry.query.text != nullptr) entry.query.length = DecodeQuery(entry.query.text);
  if (entry.referer.text != nullptr) entry.referer.length = NormalizeReferer(entry.referer.text);
}

void TrimLeadingDirs(LogEntry& entry, int n) {
  EntryText& uri = entry.uri;
  if (uri.text == nullptr || uri.text[0] != '/') return;
  for (int i = 0; i < n; ++i) {
    char* next = uri.text + 1;
    while (*next != '\0' && *next != '/') ++next;
    if (*next != '/') return;  // the last component stays
    uri.length -= static_cast<int32_t>(next - uri.text);
    uri.text = next;
  }
}
