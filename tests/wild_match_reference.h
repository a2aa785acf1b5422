#pragma once
// The wildcard match written as the plain recursive walk, one branch per '*' position.
// Exponential in the number of stars, so only for small inputs: the tests and the fuzz
// target compare the real matcher with it.

#include "base/text.h"

namespace testing_support {

inline bool ReferenceWildMatch(const char* pattern, const char* text) {
  switch (*pattern) {
    case '\0':
      return *text == '\0';
    case '\\':
      // A lone trailing backslash has nothing to escape: no match.
      if (pattern[1] == '\0' || *text == '\0' || pattern[1] != *text) return false;
      return ReferenceWildMatch(pattern + 2, text + 1);
    case '?':
      return *text != '\0' && ReferenceWildMatch(pattern + 1, text + 1);
    case '*':
      if (pattern[1] == '\0') return true;
      for (; *text != '\0'; ++text) {
        if (ReferenceWildMatch(pattern + 1, text)) return true;
      }
      return false;
    default:
      if (*text == '\0') return false;
      if (*pattern != *text && *pattern != ToLowerAscii(*text)) return false;
      return ReferenceWildMatch(pattern + 1, text + 1);
  }
}

}  // namespace testing_support
