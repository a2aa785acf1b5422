#pragma once
// Wildcard pattern matching for the entry filters.

// True when the whole `text` matches the whole `pattern`: '*' any run, '?' one character,
// '\' makes the next pattern character literal (case counts), a lower-case pattern letter
// matches either case while an upper-case one matches only itself. A '*' that is not the
// last pattern character never matches at the very end of the text. A backslash that is
// the last pattern character has nothing to escape and makes the pattern match nothing.
// Runs in O(pattern x text) time without allocating; never reads past either NUL.
bool WildMatch(const char* pattern, const char* text);
