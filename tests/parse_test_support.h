#pragma once
// Helpers for the parser tests: a writable NUL-terminated line buffer, a readable view of
// a parsed entry, and the in-place invariants every parse must keep.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "entries/log_entry.h"
#include "parse/parse_logs.h"

namespace parse_test {

using Template = std::vector<uint8_t>;
using Fields = std::map<std::string, std::string>;

// Every text field of an entry with its name.
inline std::vector<std::pair<const char*, EntryText>> TextFields(const LogEntry& e) {
  return {
      {"host", e.client_host},
      {"uri", e.uri},
      {"query", e.query},
      {"referer", e.referer},
      {"agent", e.agent},
      {"user", e.user},
      {"method", e.method},
      {"protocol", e.protocol},
      {"domain", e.domain},
      {"server", e.server},
      {"cookie", e.cookie},
      {"session", e.session},
      {"forwarded_for", e.forwarded_for},
  };
}

// The entry as "name -> value" for every text field that is set and every number that
// differs from its reset value; the date and the time are shown as one value each.
inline Fields Describe(const LogEntry& e) {
  Fields f;
  for (const auto& [name, value] : TextFields(e)) {
    if (value.text != nullptr) f[name] = value.text;
  }
  char buffer[64];
  if (e.year != 0 || e.month != 0 || e.day != 0) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", e.year, e.month, e.day);
    f["date"] = buffer;
  }
  if (e.hour != 12 || e.minute != 0 || e.second != 0) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", e.hour, e.minute, e.second);
    f["time"] = buffer;
  }
  // A number the line does not have, and the commonest values (status 200, 1024 bytes) stay
  // out of the tables; a transfer time shows whenever the line has one, zero included, so
  // that an absent time and a time of 0 differ.
  const auto number = [&f](const char* name, int64_t value, int64_t common) {
    if (value >= 0 && value != common) f[name] = std::to_string(value);
  };
  if (e.millisecond != 0) f["ms"] = std::to_string(e.millisecond);
  number("status", e.status, 200);
  number("bytes", e.bytes, 1024);
  number("transfer", e.transfer_time, NO_NUMBER);
  return f;
}

// A copy of some log text in a buffer of exactly size+1 bytes (the NUL behind the data),
// as the input module hands it to the parser.
class Buffer {
 public:
  explicit Buffer(const std::string& text) : original_(text), bytes_(text.begin(), text.end()) {
    bytes_.push_back('\0');
  }
  char* data() { return bytes_.data(); }
  const std::string& original() const { return original_; }
  size_t size() const { return original_.size(); }
  std::string Text() const { return std::string(bytes_.data(), original_.size()); }

 private:
  std::string original_;
  std::vector<char> bytes_;
};

// Checks what every accepted entry must satisfy: each text field starts inside the line
// (or in the state's path_join), its NUL lies inside the line or at the end of the data, and
// the length it carries is the length of its text (0 when absent); nothing behind the line
// was written; the date is in range.
inline void ExpectSoundEntry(Buffer& buffer, size_t offset, const ParseState& state,
                             const LogEntry& e) {
  const char* line = buffer.data() + offset;
  const size_t remaining = buffer.size() - offset;
  ASSERT_GT(e.line_length, 0);
  ASSERT_LE(static_cast<size_t>(e.line_length), remaining);
  for (const auto& [name, field] : TextFields(e)) {
    SCOPED_TRACE(name);
    const char* const t = field.text;
    if (t == nullptr) {
      EXPECT_EQ(field.length, 0);
      continue;
    }
    EXPECT_EQ(static_cast<int64_t>(std::strlen(t)), field.length);
    if (t >= state.path_join && t < state.path_join + sizeof state.path_join) {
      EXPECT_LT(std::strlen(t), sizeof state.path_join);
      continue;
    }
    ASSERT_GE(t, line);
    ASSERT_LE(t, line + e.line_length);
    EXPECT_LE(t + std::strlen(t), line + e.line_length);
  }
  EXPECT_EQ(std::memcmp(line + e.line_length, buffer.original().data() + offset + e.line_length,
                        remaining - static_cast<size_t>(e.line_length)),
            0)
      << "bytes behind the line were changed";
  EXPECT_TRUE(e.year == 0 || (e.year >= 1970 && e.year <= 2038));
  EXPECT_TRUE(e.month >= 0 && e.month <= 12);
  EXPECT_TRUE(e.day >= 0 && e.day <= 31);
  EXPECT_TRUE(e.hour >= 0 && e.hour <= 23);
  EXPECT_TRUE(e.minute >= 0 && e.minute <= 59);
  EXPECT_TRUE(e.second >= 0 && e.second <= 59);
}

// A parse state as the merge engine makes one for a new input.
inline ParseState FreshState() {
  ParseState state;
  InitParseState(state);
  return state;
}

// What ParseEntry made of one line, read right after the call.
struct LineOutcome {
  ParseResult result;
  int slot;  // current_format after the line
  int32_t line_length;
  Fields fields;                   // for PARSE_ENTRY
  int32_t utc_offset = NO_OFFSET;  // for PARSE_ENTRY
};

// Feeds `text` line by line through ParseEntry the way the merge engine does (advance by
// line_length, clamped to the data) and checks the invariants of every result.
inline std::vector<LineOutcome> Walk(ParseState& state, const std::string& text) {
  Buffer buffer(text);
  std::vector<LineOutcome> outcomes;
  size_t offset = 0;
  while (offset < buffer.size()) {
    LogEntry entry;
    char* line = buffer.data() + offset;
    const size_t remaining = buffer.size() - offset;
    const ParseResult result = ParseEntry(state, line, entry);
    outcomes.push_back({result, state.current_format, entry.line_length, {}, entry.utc_offset});
    EXPECT_GT(entry.line_length, 0);
    EXPECT_LE(static_cast<size_t>(entry.line_length), remaining + 1);
    if (entry.line_length <= 0) break;
    if (result == PARSE_ENTRY) {
      outcomes.back().fields = Describe(entry);
      ExpectSoundEntry(buffer, offset, state, entry);
    } else if (result == PARSE_NO_MATCH) {
      // The text of the line is unchanged; only its line end may have become a NUL.
      const std::string& original = buffer.original();
      size_t end = offset;
      while (end < original.size() && original[end] != '\n' && original[end] != '\r' &&
             original[end] != '\0') {
        ++end;
      }
      EXPECT_EQ(std::string(line, end - offset), original.substr(offset, end - offset));
    }
    offset += std::min(static_cast<size_t>(entry.line_length), remaining);
  }
  return outcomes;
}

}  // namespace parse_test
