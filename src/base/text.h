#pragma once
// Character classes and small text helpers shared by every folder.
//
// Character classes are ASCII only: letters are A-Z and a-z, digits 0-9. Bytes from 128
// up are neither letters nor digits and have no case. These functions take `char` and
// never pass a negative value to the C library's <cctype> functions.

#include <cstddef>
#include <cstdint>
#include <string_view>

// ---- Character classes -----------------------------------------------------------------
constexpr bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}
constexpr bool IsLower(char c) {
  return c >= 'a' && c <= 'z';
}
constexpr bool IsLetter(char c) {
  return IsUpper(c) || IsLower(c);
}
constexpr bool IsAlnum(char c) {
  return IsLetter(c) || IsDigit(c);
}
constexpr char ToLowerAscii(char c) {
  return IsUpper(c) ? static_cast<char>(c + ('a' - 'A')) : c;
}
constexpr char ToUpperAscii(char c) {
  return IsLower(c) ? static_cast<char>(c - ('a' - 'A')) : c;
}
// A blank separates words: a space or a TAB.
constexpr bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// ---- Text ------------------------------------------------------------------------------

// True when `text` begins with `prefix`, case counting. An empty prefix matches every
// text; a NUL in the text differs from every prefix character, so nothing past it is read.
constexpr bool StartsWith(const char* prefix, const char* text) {
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (*prefix != *text) return false;
  }
  return true;
}

// As StartsWith, letters compared without regard to case.
constexpr bool StartsWithNoCase(const char* prefix, const char* text) {
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (ToLowerAscii(*prefix) != ToLowerAscii(*text)) return false;
  }
  return true;
}

// Whether `a` and `b` hold the same text, letters compared without regard to case.
constexpr bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  }
  return true;
}

// Whether `text` ends with `suffix`, letters compared without regard to case.
constexpr bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// An optional single leading '-', then decimal digits up to the first non-digit. No digits
// gives 0; no blanks or '+' are skipped. Overflow wraps around (two's complement) instead
// of being undefined.
int32_t ParseSignedDecimal(const char* text);

// Replaces every lower-case ASCII letter of the NUL-terminated text by its upper-case form.
void UpperCaseInPlace(char* text);
