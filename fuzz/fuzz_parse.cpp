// Feeds arbitrary bytes, as a sequence of lines, through ParseEntry with one parse state,
// the way the merge engine reads an input, and checks the parser's invariants:
// - line_length is positive and at most one byte past the data;
// - a line that fits nothing keeps its text (only its line end may become a NUL);
// - every text field of an entry starts inside its line (or in path_join) and its NUL lies
//   inside the line; nothing behind the line is written;
// - dates and times are in range.
// An input beginning with "U:" carries user formats on its first line.
// The buffer holds exactly size+1 bytes, so AddressSanitizer catches any read past the NUL.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "entries/log_entry.h"
#include "parse/parse_logs.h"
#include "parse/user_formats.h"

namespace {

#define FUZZ_CHECK(cond)                                                \
  do {                                                                  \
    if (!(cond)) {                                                      \
      std::printf("invariant failed: %s (line %d)\n", #cond, __LINE__); \
      std::abort();                                                     \
    }                                                                   \
  } while (0)

constexpr size_t BEHIND_CHECKED = 512;  // bytes behind a line compared with the original

bool IsLineEndByte(char c) {
  return c == '\0' || c == '\n' || c == '\r';
}

void CheckText(const EntryText& field, const char* line, const char* line_end,
               const ParseState& state) {
  const char* const text = field.text;
  if (text == nullptr) {
    FUZZ_CHECK(field.length == 0);
    return;
  }
  FUZZ_CHECK(field.length >= 0 && std::strlen(text) == static_cast<size_t>(field.length));
  const char* join = state.path_join;
  if (text >= join && text < join + sizeof state.path_join) {
    FUZZ_CHECK(std::memchr(text, '\0', static_cast<size_t>(join + sizeof state.path_join - text)) !=
               nullptr);
    return;
  }
  FUZZ_CHECK(text >= line && text <= line_end);
  FUZZ_CHECK(std::memchr(text, '\0', static_cast<size_t>(line_end - text) + 1) != nullptr);
}

void CheckEntry(const LogEntry& e, const char* line, const ParseState& state) {
  const char* line_end = line + e.line_length;
  for (const EntryText& t :
       {e.client_host, e.uri, e.query, e.referer, e.agent, e.user, e.method, e.protocol, e.domain,
        e.server, e.cookie, e.session, e.forwarded_for}) {
    CheckText(t, line, line_end, state);
  }
  FUZZ_CHECK(e.year == 0 || (e.year >= 1970 && e.year <= 2038 && e.year < state.year_limit));
  FUZZ_CHECK(e.month >= 0 && e.month <= 12);
  FUZZ_CHECK(e.day >= 0 && e.day <= 31);
  FUZZ_CHECK(e.hour >= 0 && e.hour <= 23);
  FUZZ_CHECK(e.minute >= 0 && e.minute <= 59);
  FUZZ_CHECK(e.second >= 0 && e.second <= 59);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An input that starts with "U:" declares user formats on its first line; the rest is
  // the log. So user templates, whose tokens may stand in any order, are fuzzed too.
  std::string user_format;
  if (size >= 2 && data[0] == 'U' && data[1] == ':') {
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
    const size_t first_line = end == nullptr ? size : static_cast<size_t>(end - data) + 1;
    user_format.assign(reinterpret_cast<const char*>(data) + 2, first_line - 2);
    for (char& c : user_format) {
      if (c == '\0') c = ' ';
    }
    data += first_line;
    size -= first_line;
  }
  std::vector<char> buffer(size + 1);
  if (size > 0) std::memcpy(buffer.data(), data, size);
  buffer[size] = '\0';
  const char* original = reinterpret_cast<const char*>(data);

  ParseState state;
  InitParseState(state);
  if (!user_format.empty()) LoadUserFormats(state, user_format.c_str());
  size_t offset = 0;
  while (offset < size) {
    char* line = buffer.data() + offset;
    const size_t remaining = size - offset;
    LogEntry entry;
    const ParseResult result = ParseEntry(state, line, entry);
    FUZZ_CHECK(result == PARSE_NO_MATCH || result == PARSE_HEADER || result == PARSE_ENTRY);
    FUZZ_CHECK(entry.line_length > 0);
    const size_t length = static_cast<size_t>(entry.line_length);
    FUZZ_CHECK(length <= remaining + 1);
    const size_t consumed = std::min(length, remaining);

    if (result == PARSE_NO_MATCH) {
      size_t text = 0;
      while (text < remaining && !IsLineEndByte(original[offset + text])) ++text;
      FUZZ_CHECK(std::memcmp(line, original + offset, text) == 0);
    } else {
      FUZZ_CHECK(length <= remaining);
    }
    if (result == PARSE_ENTRY) CheckEntry(entry, line, state);
    const size_t behind = std::min(remaining - consumed, BEHIND_CHECKED);
    FUZZ_CHECK(std::memcmp(line + consumed, original + offset + consumed, behind) == 0);
    offset += consumed;
  }
  return 0;
}
