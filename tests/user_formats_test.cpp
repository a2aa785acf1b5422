#include "parse/user_formats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parse/format_tokens.h"
#include "parse/parse_logs.h"

namespace {

using Bytes = std::basic_string<uint8_t>;

constexpr const char kTooMany[] = "Too many user log formats!\n";
constexpr const char kTokenCount[] = "User log formats exceeded available token count!\n";
constexpr const char kTabSep[] = "Invalid user log format: TAB-SEP may only come first!\n";

struct Compiled {
  ParseState state;
  std::string output;
};

Compiled Compile(const std::string& text) {
  Compiled result;
  testing::internal::CaptureStdout();
  LoadUserFormats(result.state, text.c_str());
  result.output = testing::internal::GetCapturedStdout();
  return result;
}

// The templates lie one after another from byte 0; the list ends at the first -1 (or
// after four).
void ExpectTemplates(const ParseState& state, const std::vector<Bytes>& expected) {
  ASSERT_LE(expected.size(), 4u);
  int offset = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(state.user_format_start[i], offset);
    ASSERT_LE(offset + expected[i].size(), sizeof state.user_tokens);
    EXPECT_EQ(Bytes(state.user_tokens + offset, expected[i].size()), expected[i]);
    offset += static_cast<int>(expected[i].size());
  }
  if (expected.size() < 4) {
    EXPECT_EQ(state.user_format_start[expected.size()], -1);
  }
}

std::string Words(const char* word, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += std::string(i ? " " : "") + word;
  return text;
}

// `count` times `token`, then EOL.
Bytes Repeated(size_t count, uint8_t token) {
  Bytes bytes(count, token);
  bytes.push_back(EOL);
  return bytes;
}

struct Case {
  const char* label;
  std::string text;
  std::vector<Bytes> templates;
  std::string output;
};

TEST(LoadUserFormats, CompilesTemplates) {
  const Bytes common = {HOST, SKIP, USER, DATE_CLF, FULL_REQUEST, STATUS, BYTES, EOL};
  const std::string two_tab_seps = std::string(kTabSep) + kTabSep;
  const Case cases[] = {
      {"names", "HOST SKIP USER DATE-CLF FULL-REQUEST STATUS BYTES", {common}, ""},
      {"case and '-'", "host - user date-clf full-request status bytes", {common}, ""},
      {"tabs and outer blanks",
       "\t HOST\tSKIP  USER DATE-CLF FULL-REQUEST STATUS BYTES \t",
       {common},
       ""},
      {"no second EOL", "HOST EOL", {{HOST, EOL}}, ""},
      {"early EOL", "HOST EOL USER", {{HOST, EOL, USER, EOL}}, ""},
      {"word boundary", "HOSTS HOST, Host2 cs-host", {{SKIP, HOST, HOST, CS_HOST, EOL}}, ""},
      {"REFERRER", "referrer REFERER", {{REFERER, REFERER, EOL}}, ""},
      {"control names",
       "TAB-SEP HOST IF-EOL AGENT MUST-EOL",
       {{TAB_SEP, HOST, IF_EOL, AGENT, MUST_EOL, EOL}},
       ""},
      {"last names",
       "date-apache curi cquery session format-line",
       {{DATE_APACHE, CURI, CQUERY, SESSION, FORMAT_LINE, EOL}},
       ""},
      {"blank lines only", "\n  \r\n\t\r\r", {}, ""},
      {"line ends and blank lines",
       "\r\nHOST\r\n\r\nUSER\rDOMAIN\n\n",
       {{HOST, EOL}, {USER, EOL}, {DOMAIN, EOL}},
       ""},
      {"four lines",
       "HOST\nUSER\nDOMAIN\nAGENT\n",
       {{HOST, EOL}, {USER, EOL}, {DOMAIN, EOL}, {AGENT, EOL}},
       ""},
      {"five lines",
       "HOST\nUSER\nDOMAIN\nAGENT\nCOOKIE",
       {{HOST, EOL}, {USER, EOL}, {DOMAIN, EOL}, {AGENT, EOL}},
       kTooMany},
      // A TAB-SEP the parser could not run rejects its line; the next line takes its place.
      {"misplaced TAB-SEP", "HOST TAB-SEP USER\nAGENT", {{AGENT, EOL}}, kTabSep},
      {"TAB-SEP after EOL is never read", "HOST EOL TAB-SEP", {{HOST, EOL, TAB_SEP, EOL}}, ""},
      {"two rejected lines",
       "USER\nHOST TAB-SEP\nTAB-SEP TAB-SEP\nAGENT",
       {{USER, EOL}, {AGENT, EOL}},
       two_tab_seps},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Compiled compiled = Compile(c.text);
    ExpectTemplates(compiled.state, c.templates);
    EXPECT_EQ(compiled.output, c.output);
  }
}

// 149 token bytes at most; the EOL of a template cut at the limit takes byte 150.
TEST(LoadUserFormats, TokenLimit) {
  const Bytes hosts149 = Repeated(149, HOST);
  const Case cases[] = {
      {"exactly 149 words", Words("HOST", 149), {hosts149}, ""},
      {"149 words and a line end", Words("HOST", 149) + "\r\n", {hosts149}, ""},
      {"cut in the line", Words("HOST", 160), {hosts149}, kTokenCount},
      {"limit at a line end, more lines", Words("HOST", 149) + "\nUSER", {hosts149}, kTokenCount},
      {"second line cut",
       Words("USER", 100) + "\n" + Words("HOST", 60) + "\nAGENT",
       {Repeated(100, USER), Repeated(48, HOST)},
       kTokenCount},
      {"ends in EOL at the limit",
       Words("HOST", 148) + " EOL\nUSER",
       {Repeated(148, HOST)},
       kTokenCount},
      // Four templates with text left over: both warnings.
      {"fourth line cut, fifth line",
       Words("USER", 40) + "\n" + Words("HOST", 40) + "\n" + Words("AGENT", 40) + "\n" +
           Words("DOMAIN", 40) + "\nCOOKIE",
       {Repeated(40, USER), Repeated(40, HOST), Repeated(40, AGENT), Repeated(26, DOMAIN)},
       std::string(kTokenCount) + kTooMany},
      {"limit at the end of the fourth line, fifth line",
       Words("USER", 40) + "\n" + Words("HOST", 40) + "\n" + Words("AGENT", 40) + "\n" +
           Words("DOMAIN", 26) + "\nCOOKIE",
       {Repeated(40, USER), Repeated(40, HOST), Repeated(40, AGENT), Repeated(26, DOMAIN)},
       std::string(kTokenCount) + kTooMany},
      // A line rejected at the limit frees its bytes; the next line starts afresh.
      {"rejected line at the limit",
       Words("HOST", 148) + " TAB-SEP HOST HOST\nUSER",
       {{USER, EOL}},
       kTabSep},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Compiled compiled = Compile(c.text);
    ExpectTemplates(compiled.state, c.templates);
    EXPECT_EQ(compiled.output, c.output);
  }
}

// Whatever the text, every listed template ends in EOL inside the pool.
TEST(LoadUserFormats, EveryTemplateEndsInsideThePool) {
  const std::string texts[] = {
      Words("HOST", 400),
      Words("HOST", 40) + "\n" + Words("USER", 40) + "\n" + Words("AGENT", 40) + "\n" +
          Words("DOMAIN", 40),
      Words("HOST", 148) + " TAB-SEP",
  };
  for (const std::string& text : texts) {
    const Compiled compiled = Compile(text);
    for (int start : compiled.state.user_format_start) {
      if (start < 0) break;
      int i = start;
      while (i < 150 && compiled.state.user_tokens[i] != EOL) ++i;
      EXPECT_LT(i, 150) << "template at " << start;
    }
  }
}

TEST(LoadUserFormats, RecompilingReplacesTheList) {
  Compiled compiled = Compile("HOST\nUSER\nAGENT\nDOMAIN");
  testing::internal::CaptureStdout();
  LoadUserFormats(compiled.state, "COOKIE");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ExpectTemplates(compiled.state, {{COOKIE, EOL}});
}

}  // namespace
