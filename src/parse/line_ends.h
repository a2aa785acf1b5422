#pragma once
// Line ends as the parser sees them; for use inside src/parse/.

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
