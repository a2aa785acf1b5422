// Fuzzes the entry normalisers, the filters and the wildcard matcher with arbitrary bytes.
// Input layout: pattern '\n' text '\n' field (missing parts are empty). Every normaliser
// runs on exact-size NUL-terminated copies, so a read or write past the end is caught by
// the sanitizers; the invariants below are checked explicitly.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/wild_match_reference.h"
#include "entries/filters.h"
#include "entries/log_entry.h"
#include "entries/normalize.h"
#include "entries/wild_match.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::printf("fuzz_normalize: %s\n", what);
  std::abort();
}

// A NUL-terminated copy of exactly the given bytes (inner NULs end the text early).
std::vector<char> Copy(const std::string& bytes) {
  std::vector<char> buffer(bytes.begin(), bytes.end());
  buffer.push_back('\0');
  return buffer;
}

// Runs `normalise` on a copy of `bytes` and checks that the text did not grow and that the
// length it returns is the length of the result.
template <typename Normaliser>
void CheckNormaliser(const std::string& bytes, Normaliser normalise) {
  std::vector<char> buffer = Copy(bytes);
  const size_t before = std::strlen(buffer.data());
  const int32_t length = normalise(buffer.data());
  Require(std::memchr(buffer.data(), '\0', buffer.size()) != nullptr, "text lost its NUL");
  Require(std::strlen(buffer.data()) <= before, "a normaliser made a text longer");
  Require(length >= 0 && static_cast<size_t>(length) == std::strlen(buffer.data()),
          "a normaliser returned a wrong length");
}

// True when the field is absent with the length 0, or carries the length of its text.
bool LengthIsRight(const EntryText& field) {
  if (field.text == nullptr) return field.length == 0;
  return field.length >= 0 && static_cast<size_t>(field.length) == std::strlen(field.text);
}

void CheckNormalisers(const std::string& field) {
  CheckNormaliser(field, NormalizeHost);
  CheckNormaliser(field, [](char* t) { return NormalizeUriPath(t, false); });
  CheckNormaliser(field, [](char* t) { return NormalizeUriPath(t, true); });
  CheckNormaliser(field, NormalizeAgent);
  CheckNormaliser(field, NormalizeDomain);
  CheckNormaliser(field, DecodeQuery);
  CheckNormaliser(field, NormalizeReferer);

  std::vector<char> buffer = Copy(field);
  const size_t before = std::strlen(buffer.data());
  EntryText uri = TextOf(buffer.data());
  EntryText path{};
  if (SplitAbsoluteUri(uri, path)) {
    const size_t host = std::strlen(buffer.data());
    Require(host < before, "the host is not shorter than the URL");
    Require(uri.text == buffer.data() && LengthIsRight(uri), "the host has a wrong length");
    Require(LengthIsRight(path), "the path has a wrong length");
    const bool inside =
        path.text > buffer.data() + host && path.text < buffer.data() + buffer.size();
    Require(inside || std::strcmp(path.text, "/") == 0, "the path is neither inside nor \"/\"");
    Require(path.text[0] == '/', "the path does not begin with '/'");
  } else {
    Require(path.text == nullptr, "a relative uri got a path");
    Require(std::strlen(buffer.data()) == before, "a relative uri was rewritten");
  }
}

// Normalises, filters and trims a whole entry whose every text field is a copy of `field`.
void CheckEntry(const std::string& field, const std::string& pattern) {
  std::vector<std::vector<char>> copies(8, Copy(field));
  LogEntry entry;
  ResetEntry(entry);
  EntryText* fields[] = {&entry.client_host, &entry.uri,   &entry.agent,   &entry.method,
                         &entry.domain,      &entry.query, &entry.referer, &entry.user};
  for (size_t i = 0; i < copies.size(); ++i) *fields[i] = TextOf(copies[i].data());
  if (!field.empty() && (field[0] & 1) != 0) entry.domain = EntryText{};  // let the URL set it
  NormalizeEntry(entry, (field.size() & 2) != 0);
  for (const EntryText* text : fields) {
    Require(LengthIsRight(*text), "normalising left a field with a wrong length");
    if (text->text == nullptr) continue;
    Require(std::strlen(text->text) <= field.size(), "an entry field grew");
  }

  FilterLists filters;
  AppendFilter(filters.host, pattern.substr(0, MAX_FILTER_LENGTH));
  const char* pattern_text = filters.host.front().c_str();
  const bool accepting = pattern_text[0] == '+';
  const bool matches = WildMatch(pattern_text + (accepting ? 1 : 0), entry.client_host.text);
  Require(PassesFilters(entry, filters) == (accepting || !matches), "one-pattern filter verdict");

  TrimLeadingDirs(entry, static_cast<int>(field.size() % 11));
  Require(LengthIsRight(entry.uri), "trimming left the uri with a wrong length");
  Require(entry.uri.text == nullptr || std::strlen(entry.uri.text) <= field.size(),
          "trimming grew the uri");
}

bool HasSpecials(const char* pattern) {
  return std::strpbrk(pattern, "*?\\") != nullptr;
}

// The recursive walk is exponential in the stars; compare only where it stays small.
bool SmallEnoughForReference(const char* pattern, const char* text) {
  double work = 1;
  const double base = static_cast<double>(std::strlen(text)) + 1;
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p == '*') work *= base;
  }
  return work <= 20000 && std::strlen(pattern) <= 64;
}

void CheckMatcher(const std::string& pattern_bytes, const std::string& text_bytes) {
  const std::vector<char> pattern = Copy(pattern_bytes);
  const std::vector<char> text = Copy(text_bytes);
  const bool result = WildMatch(pattern.data(), text.data());
  Require(WildMatch("*", text.data()), "\"*\" did not match");
  if (SmallEnoughForReference(pattern.data(), text.data())) {
    Require(result == testing_support::ReferenceWildMatch(pattern.data(), text.data()),
            "the matcher disagrees with the recursive walk");
  }
  if (!HasSpecials(pattern.data())) {
    Require(WildMatch(pattern.data(), pattern.data()), "a plain pattern did not match itself");
    if (result) {
      // A plain pattern matches only texts of its length that equal it, letters of the
      // text lowered where the pattern has a lower-case letter.
      const size_t n = std::strlen(pattern.data());
      Require(std::strlen(text.data()) == n, "a plain pattern matched another length");
      for (size_t i = 0; i < n; ++i) {
        const char p = pattern[i];
        const char t = text[i];
        Require(p == t || p == ToLowerAscii(t), "a plain pattern matched another text");
      }
    }
  }
  // Escaping every character gives a pattern that matches exactly that text.
  std::string escaped;
  for (const char* t = text.data(); *t != '\0'; ++t) escaped.append({'\\', *t});
  Require(WildMatch(escaped.c_str(), text.data()), "the escaped text did not match itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t first = input.find('\n');
  const size_t second = first == std::string::npos ? first : input.find('\n', first + 1);
  const std::string pattern = input.substr(0, first);
  const std::string text =
      first == std::string::npos ? "" : input.substr(first + 1, second - first - 1);
  const std::string field = second == std::string::npos ? text : input.substr(second + 1);

  CheckNormalisers(field);
  CheckNormalisers(text);
  CheckEntry(field, pattern);
  CheckMatcher(pattern, text);
  return 0;
}
