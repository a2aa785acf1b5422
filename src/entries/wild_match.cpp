#include "entries/wild_match.h"

#include <cstddef>

#include "base/text.h"

// The matcher reads the pattern as a sequence of elements: '*', or a single-character test
// ('?', an escaped character, a plain character). The results are those of the plain
// recursive walk (try every run length for each '*'), but computed by greedy backtracking
// to the most recent '*', which needs O(pattern x text) steps and no memory:
//
// - Between two stars the pattern is a fixed-length run of character tests, so placing
//   every run at its earliest position never loses a match (the classic glob argument;
//   it holds for any per-character test, including the one-sided case rule here).
// - The recursive walk's extra rule, that a '*' which is not the last pattern character
//   never matches at the very end of the text, can only bite when nothing but stars
//   follows that '*': any later character test needs a character anyway. So it reduces to
//   the pattern's tail of stars: one trailing '*' accepts any rest of the text, the empty
//   rest included; two or more trailing stars accept only a non-empty rest.
// - A backslash that is the last pattern character has nothing to escape: it is a test
//   that no character passes, so such a pattern matches nothing.

namespace {

constexpr size_t NO_STAR = static_cast<size_t>(-1);

// Length of the character test at `pattern` (not a '*', not the end): 2 for an escape,
// 1 otherwise, also for a lone trailing backslash.
size_t TestLength(const char* pattern) {
  return pattern[0] == '\\' && pattern[1] != '\0' ? 2 : 1;
}

// True when the text character `c` (not NUL) passes the test at `pattern`.
bool PassesTest(const char* pattern, char c) {
  switch (pattern[0]) {
    case '?':
      return true;
    case '\\':
      return pattern[1] != '\0' && pattern[1] == c;  // a lone backslash passes nothing
    default:
      return pattern[0] == c || pattern[0] == ToLowerAscii(c);
  }
}

// Where the pattern's trailing run of unescaped stars begins (the pattern's length when
// it does not end in a star).
size_t TailStart(const char* pattern, size_t& length) {
  size_t tail = 0;
  size_t i = 0;
  while (pattern[i] != '\0') {
    if (pattern[i] == '*') {
      ++i;
    } else {
      i += TestLength(pattern + i);
      tail = i;
    }
  }
  length = i;
  return tail;
}

// The verdict on what is left of the text once the pattern has reached its tail of stars.
bool TailAccepts(size_t stars, const char* rest) {
  if (stars == 0) return *rest == '\0';
  if (stars == 1) return true;
  return *rest != '\0';
}

}  // namespace

bool WildMatch(const char* pattern, const char* text) {
  size_t length = 0;
  const size_t tail = TailStart(pattern, length);
  const size_t tail_stars = length - tail;

  size_t p = 0;
  size_t t = 0;
  size_t star_p = NO_STAR;  // pattern position after the most recent '*'
  size_t star_t = 0;        // text position where that star's run currently ends
  for (;;) {
    bool failed = false;
    if (p == tail) {
      if (TailAccepts(tail_stars, text + t)) return true;
      failed = true;
    } else if (pattern[p] == '*') {
      star_p = p + 1;
      star_t = t;
      ++p;
      continue;
    } else if (text[t] == '\0') {
      return false;  // a longer star run leaves even less text for this test
    } else if (PassesTest(pattern + p, text[t])) {
      p += TestLength(pattern + p);
      ++t;
      continue;
    } else {
      failed = true;
    }
    if (failed) {
      // Let the most recent star take one more character and retry what follows it.
      if (star_p == NO_STAR || text[star_t] == '\0') return false;
      ++star_t;
      p = star_p;
      t = star_t;
    }
  }
}
