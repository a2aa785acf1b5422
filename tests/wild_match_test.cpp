#include "entries/wild_match.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "wild_match_reference.h"

namespace {

using testing_support::ReferenceWildMatch;

struct MatchCase {
  const char* pattern;
  const char* text;
  bool match;
};

void ExpectCases(const MatchCase* begin, const MatchCase* end) {
  for (const MatchCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(std::string("pattern '") + c->pattern + "' text '" + c->text + "'");
    EXPECT_EQ(WildMatch(c->pattern, c->text), c->match);
    EXPECT_EQ(ReferenceWildMatch(c->pattern, c->text), c->match);  // the reference agrees
  }
}

TEST(WildMatch, WildcardsAndCase) {
  const MatchCase cases[] = {
      {"*", "", true},
      {"*", "anything at all", true},
      {"", "", true},
      {"", "x", false},
      {"x", "", false},
      {"**", "", false},  // a star that is not the last never matches at the end
      {"**", "x", true},
      {"a**", "a", false},
      {"a**", "ab", true},
      {"a*", "a", true},
      {"a*", "abc", true},
      {"*.gif", "/images/LOGO.GIF", true},
      {"*.GIF", "/images/logo.gif", false},
      {"*.GIF", "/images/logo.GIF", true},
      {"a?c", "abc", true},
      {"a?c", "aXc", true},
      {"a?c", "ac", false},
      {"a?c", "abbc", false},
      {"?", "", false},
      {"host.*", "host", false},
      {"host.*", "host.", true},
      {"host.*", "HOST.example", true},
      {"HOST", "host", false},
      {"*a*b", "xaxb", true},
      {"*a*b", "xaxbc", false},
      {"*ab", "aab", true},  // the star must give back a character it first took
      {"a*b*c", "abbbc", true},
      {"a*?", "a", false},
      {"a*?", "ab", true},
      {"*?", "", false},
      {"ab", "abc", false},
      {"abc", "ab", false},
      {"\xe9*", "\xe9t\xe9", true},  // bytes above 127 are ordinary characters
      {"\xc9", "\xe9", false},       // and have no case
  };
  ExpectCases(std::begin(cases), std::end(cases));
}

TEST(WildMatch, BackslashEscapes) {
  const MatchCase cases[] = {
      {"\\*", "*", true},
      {"\\*", "x", false},
      {"\\*", "", false},
      {"\\?", "?", true},
      {"\\?", "a", false},
      {"\\A", "A", true},
      {"\\A", "a", false},
      {"\\a", "A", false},  // escaped: case counts
      {"a", "A", true},     // plain lower-case letter: either case
      {"\\\\", "\\", true},
      {"a\\*b", "a*b", true},
      {"a\\*b", "axb", false},
      {"*\\*", "abc*", true},
      {"*\\*", "abc", false},
      {"a\\**", "a*", true},  // escaped star, then one real star
      {"a\\**", "a", false},
      // A lone trailing backslash escapes nothing: the pattern matches nothing.
      {"\\", "", false},
      {"\\", "\\", false},
      {"\\", "x", false},
      {"a\\", "a", false},
      {"a\\", "a\\", false},
      {"*\\", "", false},
      {"*\\", "x\\", false},
  };
  ExpectCases(std::begin(cases), std::end(cases));
}

// Random small patterns and texts over an alphabet that exercises every rule: both cases
// of one letter, wildcards, escapes. The matcher must agree with the recursive walk.
TEST(WildMatch, AgreesWithRecursiveWalkOnRandomInputs) {
  std::mt19937 random(20240611u);
  const char pattern_alphabet[] = {'a', 'A', 'b', '?', '*', '*', '\\', '.'};
  const char text_alphabet[] = {'a', 'A', 'b', 'B', '*', '?', '\\', '.'};
  auto pick = [&](const char* alphabet, size_t size) {
    return alphabet[std::uniform_int_distribution<size_t>(0, size - 1)(random)];
  };
  std::uniform_int_distribution<int> pattern_length(0, 9);
  std::uniform_int_distribution<int> text_length(0, 8);
  int mismatches = 0;
  bool seen[2] = {false, false};  // the generator must produce both outcomes
  for (int round = 0; round < 200000 && mismatches < 10; ++round) {
    std::string pattern;
    std::string text;
    for (int i = pattern_length(random); i > 0; --i) pattern += pick(pattern_alphabet, 8);
    for (int i = text_length(random); i > 0; --i) text += pick(text_alphabet, 8);
    const bool expected = ReferenceWildMatch(pattern.c_str(), text.c_str());
    seen[expected] = true;
    if (WildMatch(pattern.c_str(), text.c_str()) != expected) {
      ++mismatches;
      ADD_FAILURE() << "pattern '" << pattern << "' text '" << text << "' reference " << expected;
    }
  }
  EXPECT_TRUE(seen[false] && seen[true]);
}

// Forty stars against a long text would take forever with one recursion level per star.
TEST(WildMatch, ManyStarsAgainstLongTextFinish) {
  std::string stars;
  for (int i = 0; i < 40; ++i) stars += "*a";
  const std::string long_a(10000, 'a');
  const std::string long_a_then_b = long_a + "b";
  EXPECT_TRUE(WildMatch(stars.c_str(), long_a.c_str()));
  EXPECT_FALSE(WildMatch((stars + "c").c_str(), long_a.c_str()));
  EXPECT_FALSE(WildMatch((stars + "**").c_str(), std::string(40, 'a').c_str()));
  EXPECT_TRUE(WildMatch((stars + "**").c_str(), std::string(41, 'a').c_str()));
  EXPECT_TRUE(WildMatch((stars + "b").c_str(), long_a_then_b.c_str()));
  EXPECT_FALSE(WildMatch(std::string(40, '*').append("b").c_str(), long_a.c_str()));

  // The longest pattern a filter holds: 511 characters of stars and letters.
  std::string longest = "a";
  while (longest.size() < 509) longest += "*a";
  longest += "?c";
  ASSERT_EQ(longest.size(), 511u);
  EXPECT_FALSE(WildMatch(longest.c_str(), long_a.c_str()));
}

}  // namespace
