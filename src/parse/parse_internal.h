#pragma once
// Pieces the line parser and format detection share; not for use outside src/parse/.

#include <cstdint>

#include "entries/log_entry.h"
#include "parse/parse_logs.h"

// ---- Character classes -----------------------------------------------------------------
// A line end is NUL, LF or CR; the data in the buffer is always followed by a NUL.
constexpr bool IsLineEnd(char c) {
  return c == '\0' || c == '\n' || c == '\r';
}

// Past the line end at `p` (which stands on the first line-end character): CR LF and LF CR
// count as one line end, a single CR or LF as one, the NUL behind the data as none.
template <typename Char>
constexpr Char* PastLineEnd(Char* p) {
  if (*p == '\r') return p[1] == '\n' ? p + 2 : p + 1;
  if (*p == '\n') return p[1] == '\r' ? p + 2 : p + 1;
  return p;
}

// True when `text` begins with `prefix`, case counting; never reads past a NUL of the text.
constexpr bool StartsWith(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (*text != *prefix) return false;
  }
  return true;
}

// ---- Header lines ----------------------------------------------------------------------
// Bytes a non-entry line occupies: the text up to its first line end, then a CR if one
// follows, then an LF if one follows (so an LF CR pair leaves its CR for the next line).
int32_t HeaderLineLength(const char* line);

// The header recogniser behind the FORMAT_LINE token: reads the header at `cursor` (on the
// line that starts at `line`), updates the state it declares and returns PARSE_HEADER with
// entry.line_length set, or PARSE_NO_MATCH. Never writes into the line.
ParseResult ReadFormatLine(ParseState& state, const char* line, const char* cursor,
                           LogEntry& entry);
