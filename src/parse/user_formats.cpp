#include "parse/user_formats.h"

#include <cstdio>

#include "base/messages.h"
#include "base/text.h"
#include "parse/format_tokens.h"
#include "parse/line_ends.h"

namespace {

constexpr int kMaxUserFormats = 4;
constexpr int kPoolSize = static_cast<int>(sizeof(ParseState::user_tokens));
// Token words stop one byte short of the pool, so the EOL of a cut template always fits.
constexpr int kTokenLimit = kPoolSize - 1;

// The token named by the word at `word`: the first of the 53 names that matches (so
// "REFERRER" gives REFERER), anything else SKIP.
uint8_t TokenOfWord(const char* word) {
  for (const TokenRow& row : TOKEN_TABLE) {
    if (MatchKeyword(row.name, word)) return row.token;
  }
  return SKIP;
}

// True when a TAB_SEP stands after the first byte but before the first EOL; the parser
// could not run such a template.
bool HasMisplacedTabSep(const uint8_t* tokens, int length) {
  for (int i = 0; i < length && tokens[i] != EOL; ++i) {
    if (i > 0 && tokens[i] == TAB_SEP) return true;
  }
  return false;
}

void SkipToLineEnd(const char*& text) {
  while (!IsLineEnd(*text)) ++text;
}

// Compiles the words of one line into the pool from `pos`, up to the line end or the
// token limit. Returns the new pool position.
int CompileLine(uint8_t* pool, int pos, const char*& text) {
  while (pos < kTokenLimit && !IsLineEnd(*text)) {
    while (IsBlank(*text)) ++text;
    if (IsLineEnd(*text)) break;
    pool[pos++] = TokenOfWord(text);
    while (!IsBlank(*text) && !IsLineEnd(*text)) ++text;
  }
  return pos;
}

}  // namespace

void LoadUserFormats(ParseState& state, const char* text) {
  for (int& start : state.user_format_start) start = -1;
  if (text == nullptr) return;

  uint8_t* const pool = state.user_tokens;
  int count = 0;
  int pos = 0;
  while (count < kMaxUserFormats && *text != '\0') {
    const int start = pos;
    pos = CompileLine(pool, pos, text);
    if (HasMisplacedTabSep(pool + start, pos - start)) {
      Say("Invalid user log format: TAB-SEP may only come first!\n");
      pos = start;  // nothing of this line is kept
      SkipToLineEnd(text);
    } else if (pos > start) {
      if (pool[pos - 1] != EOL) pool[pos++] = EOL;
      state.user_format_start[count++] = start;
    }
    if (*text == '\r') ++text;
    if (*text == '\n') ++text;
    if (pos >= kTokenLimit && *text != '\0') {
      Say("User log formats exceeded available token count!\n");
      break;  // the rest is not read; four templates with text left still get their warning
    }
  }
  if (count == kMaxUserFormats && *text != '\0') {
    Say("Too many user log formats!\n");
  }
}
