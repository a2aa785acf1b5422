// The configuration reader: keys, value checks, messages and the line buffer.

#include "driver/config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.h"
#include "driver/settings.h"

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings();
    ResetMessages();
  }
  void TearDown() override { ResetSettings(); }

  // Applies one line and returns what it printed.
  static std::string Apply(const std::string& line, bool* valid = nullptr) {
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    ::testing::internal::CaptureStdout();
    const bool ok = ApplyConfigLine(buffer.data());
    const std::string printed = ::testing::internal::GetCapturedStdout();
    if (valid != nullptr) *valid = ok;
    return printed;
  }

  // Writes `text` to a file and reads it as the configuration; returns what was printed.
  static std::string ReadText(const std::string& text) {
    // One file per process: ctest runs the tests of this file in parallel processes.
    const std::string path =
        ::testing::TempDir() + "stitcher_config_test_" + std::to_string(getpid()) + ".cfg";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    ::testing::internal::CaptureStdout();
    ReadConfigFile(path.c_str());
    std::remove(path.c_str());
    return ::testing::internal::GetCapturedStdout();
  }
};

// ---- Booleans: prefixes yes/on/no/off, case included ------------------------------------

TEST_F(ConfigTest, BooleanValuesByPrefix) {
  struct Case {
    const char* value;
    bool valid;
    bool result;  // compress afterwards (starts at the default true, or false for "yes" rows)
  };
  const Case cases[] = {
      {"yes", true, true},   {"on", true, true},    {"yesterday", true, true},
      {"only", true, true},  {"no", true, false},   {"off", true, false},
      {"none", true, false}, {"Yes", false, false}, {"true", false, false},
      {"ON", false, false},  {"1", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    // Start from the opposite value so a valid line visibly changes it.
    settings.compress = !c.result;
    ResetMessages();
    bool valid = false;
    const std::string printed = Apply(std::string("compress ") + c.value + "\n", &valid);
    EXPECT_EQ(valid, c.valid);
    EXPECT_EQ(FailureReported(), !c.valid);
    if (c.valid) {
      EXPECT_EQ(settings.compress, c.result);
      EXPECT_EQ(printed, "");
    } else {
      EXPECT_EQ(settings.compress, !c.result) << "an invalid line must not change the setting";
      EXPECT_EQ(printed, "Invalid configuration line 'compress'!\n");
    }
  }
}

TEST_F(ConfigTest, EveryBooleanKeyReachesItsSetting) {
  struct Case {
    const char* key;
    bool Settings::*field;
  };
  const Case cases[] = {{"compress", &Settings::compress},
                        {"verbose", &Settings::verbose},
                        {"vhost", &Settings::vhost},
                        {"lowercase", &Settings::lowercase},
                        {"normalize", &Settings::normalize}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    ResetSettings();
    const bool before = settings.*c.field;
    Apply(std::string(c.key) + (before ? " off\n" : " on\n"));
    EXPECT_EQ(settings.*c.field, !before);
    EXPECT_FALSE(FailureReported());
  }
}

// ---- Digits, exact words ---------------------------------------------------------------

TEST_F(ConfigTest, LevelAndTrimTakeTheLeadingDigitOnly) {
  Apply("level 12\n");
  EXPECT_EQ(settings.level, 1);
  Apply("trim-first-n-dirs 7 dirs\n");
  EXPECT_EQ(settings.trim_first_n_dirs, 7);
  EXPECT_FALSE(FailureReported());

  EXPECT_EQ(Apply("level x\n"), "Invalid configuration line 'level'!\n");
  EXPECT_EQ(settings.level, 1) << "an invalid level keeps the earlier value";
  EXPECT_EQ(Apply("trim-first-n-dirs -1\n"), "Invalid configuration line 'trim-first-n-dirs'!\n");
  EXPECT_EQ(settings.trim_first_n_dirs, 7);
  EXPECT_TRUE(FailureReported());
}

TEST_F(ConfigTest, NewlinesAndOutputFormatNeedExactWords) {
  struct Case {
    const char* line;
    bool valid;
  };
  const Case cases[] = {
      {"newlines unix\n", true},
      {"newlines dos\r\n", true},
      {"newlines mac", true},
      {"newlines Unix\n", false},
      {"newlines unix \n", false},
      {"newlines unixx\n", false},
      {"output-format ncsa\n", true},
      {"output-format w3c\n", true},
      {"output-format webstar\n", true},
      {"output-format W3C\n", false},
      {"output-format xml\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    bool valid = false;
    Apply(c.line, &valid);
    EXPECT_EQ(valid, c.valid);
  }
  // The valid lines, last writer wins.
  EXPECT_EQ(settings.newlines, NewlineStyle::MAC);
  EXPECT_EQ(settings.output_format, OutputFormat::WEBSTAR);
  Apply("newlines unix\n");
  Apply("output-format ncsa\n");
  EXPECT_EQ(settings.newlines, NewlineStyle::UNIX);
  EXPECT_EQ(settings.output_format, OutputFormat::NCSA);
}

// ---- Texts and filters -----------------------------------------------------------------

TEST_F(ConfigTest, FormatTakesTheWholeValueAndTheLastLineWins) {
  Apply("format HOST SKIP USER DATE-CLF FULL-REQUEST STATUS BYTES\n");
  EXPECT_STREQ(settings.user_format, "HOST SKIP USER DATE-CLF FULL-REQUEST STATUS BYTES");
  Apply("format\tA  B \t\r\n");
  EXPECT_STREQ(settings.user_format, "A  B \t") << "trailing blanks stay part of the value";
  EXPECT_FALSE(FailureReported());
}

TEST_F(ConfigTest, TextValuesLongerThan511AreRefusedWhole) {
  const std::string fits(511, 'a');
  const std::string too_long(512, 'b');
  Apply("format " + fits + "\n");
  EXPECT_EQ(std::strlen(settings.user_format), 511u);
  EXPECT_FALSE(FailureReported());
  EXPECT_EQ(Apply("format " + too_long), "Invalid configuration line 'format'!\n");
  EXPECT_EQ(std::string(settings.user_format), fits) << "nothing is truncated";
  EXPECT_EQ(Apply("filter-host " + too_long), "Invalid configuration line 'filter-host'!\n");
  EXPECT_TRUE(settings.filters.host.empty());
}

TEST_F(ConfigTest, FiltersAppendInFileOrderPerList) {
  EXPECT_EQ(ReadText("filter-host +*.example.com\n"
                     "filter-request /images/*\n"
                     "filter-host *\n"
                     "filter-agent *bot*\n"
                     "filter-server www.*\n"
                     "filter-user bob\n"
                     "filter-request *.gif\n"),
            "");
  EXPECT_EQ(settings.filters.host, (std::vector<std::string>{"+*.example.com", "*"}));
  EXPECT_EQ(settings.filters.request, (std::vector<std::string>{"/images/*", "*.gif"}));
  EXPECT_EQ(settings.filters.agent, (std::vector<std::string>{"*bot*"}));
  EXPECT_EQ(settings.filters.server, (std::vector<std::string>{"www.*"}));
  EXPECT_EQ(settings.filters.user, (std::vector<std::string>{"bob"}));
}

// ---- Line shape and messages -------------------------------------------------------------

TEST_F(ConfigTest, MessagesShowTheBufferUpToItsFirstNul) {
  struct Case {
    const char* line;
    const char* printed;
  };
  const Case cases[] = {
      {"# a comment\n", ""},
      {"#verbose yes\n", ""},
      {"\n", "Invalid configuration line '\n'!\n"},                // blank line: its line end
      {"verbose\n", "Invalid configuration line 'verbose\n'!\n"},  // no blank: whole line
      {"verbose\r\n", "Invalid configuration line 'verbose\r\n'!\n"},
      {" verbose yes\n", "Invalid configuration line ''!\n"},  // leading blank: empty key
      {"  # indented comment\n", "Invalid configuration line ''!\n"},
      {"Compress yes\n", "Invalid configuration line 'Compress'!\n"},
      {"colour red\n", "Invalid configuration line 'colour'!\n"},
      {"verbose \n", "Invalid configuration line 'verbose'!\n"},  // empty value
      {"format \t \r\n", "Invalid configuration line 'format'!\n"},
      {"verbose\t\t yes\n", ""},  // any run of blanks
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ResetMessages();
    EXPECT_EQ(Apply(c.line), c.printed);
    EXPECT_EQ(FailureReported(), c.printed[0] != '\0');
  }
}

TEST_F(ConfigTest, MissingFileIsSilent) {
  ::testing::internal::CaptureStdout();
  ReadConfigFile("/nonexistent/Stitcher.cfg");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(FailureReported());
}

TEST_F(ConfigTest, ALineLongerThanTheBufferContinuesAsFurtherLines) {
  // "format " + 512 characters + LF is 520 characters: the first 519 are read as one line
  // (a 512-character value, too long), the LF alone as the next (no blank).
  const std::string printed = ReadText("format " + std::string(512, 'x') + "\nverbose yes\n");
  EXPECT_EQ(printed, "Invalid configuration line 'format'!\nInvalid configuration line '\n'!\n");
  EXPECT_EQ(settings.user_format[0], '\0');
  EXPECT_TRUE(settings.verbose) << "reading goes on after invalid lines";
  EXPECT_TRUE(FailureReported());
}

TEST_F(ConfigTest, FileWithoutFinalLineEnd) {
  EXPECT_EQ(ReadText("# settings\nlevel 3\nnewlines dos"), "");
  EXPECT_EQ(settings.level, 3);
  EXPECT_EQ(settings.newlines, NewlineStyle::DOS);
}

}  // namespace
