// The configuration reader: keys, value checks, messages and the line buffer.

#include "driver/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.h"
#include "driver/options.h"
#include "driver/settings.h"

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings();
    ResetMessages();
  }
  void TearDown() override { ResetSettings(); }

  // The configuration file of this process: ctest runs the tests of this file in parallel
  // processes.
  static std::string ConfigPath() {
    return ::testing::TempDir() + "stitcher_config_test_" + std::to_string(getpid()) + ".cfg";
  }

  // Writes `text` to a file and reads it as the configuration; returns what was printed,
  // with the file's path shown as "cfg".
  static std::string ReadText(const std::string& text, bool* read = nullptr) {
    const std::string path = ConfigPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    ::testing::internal::CaptureStdout();
    const bool was_read = ReadConfigFile(path.c_str(), false);
    std::remove(path.c_str());
    if (read != nullptr) *read = was_read;
    std::string printed = ::testing::internal::GetCapturedStdout();
    for (size_t at; (at = printed.find(path)) != std::string::npos;)
      printed.replace(at, path.size(), "cfg");
    return printed;
  }

  // Applies one line as the whole file and returns what it printed; `valid` tells whether
  // the line was taken.
  static std::string Apply(const std::string& line, bool* valid = nullptr) {
    ResetMessages();
    const std::string printed = ReadText(line);
    if (valid != nullptr) *valid = !FailureReported();
    return printed;
  }

  // The message for an invalid line `number` that reads `shown` (without its line end).
  static std::string Invalid(const std::string& shown, int number = 1) {
    return "cfg:" + std::to_string(number) + ": Invalid configuration line '" + shown + "'!\n";
  }

  // The message for a line whose known key refused its value; `valid` lists what it takes.
  static std::string Refused(const std::string& shown, const std::string& valid, int number = 1) {
    return "cfg:" + std::to_string(number) + ": Invalid configuration line '" + shown + "': give " +
           valid + "!\n";
  }

  // Applies one line through ApplyConfigLine, as the reader does.
  static ConfigLine Line(std::string line) { return ApplyConfigLine(line.data()); }
};

// ---- Booleans: prefixes yes/on/no/off, in either case -------------------------------------

TEST_F(ConfigTest, BooleanValuesByPrefix) {
  struct Case {
    const char* value;
    bool valid;
    bool result;  // compress afterwards (starts at the default true, or false for "yes" rows)
  };
  const Case cases[] = {
      {"yes", true, true},    {"on", true, true},   {"yesterday", true, true}, {"only", true, true},
      {"no", true, false},    {"off", true, false}, {"none", true, false},     {"Yes", true, true},
      {"true", false, false}, {"ON", true, true},   {"Off", true, false},      {"1", false, false},
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
      EXPECT_EQ(printed, Refused(std::string("compress ") + c.value, "yes, no, on or off"));
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

TEST_F(ConfigTest, LevelAndTrimTakeOneDigit) {
  Apply("level 1\n");
  EXPECT_EQ(settings.level, 1);
  Apply("trim-first-n-dirs 7 \t\n");
  EXPECT_EQ(settings.trim_first_n_dirs, 7) << "blanks nobody sees after the digit are no matter";
  EXPECT_FALSE(FailureReported());

  const std::string digit = "a digit from 0 to 9";
  for (const char* line : {"level 12", "level x", "level 5x", "level -1"}) {
    EXPECT_EQ(Apply(std::string(line) + "\n"), Refused(line, digit));
    EXPECT_EQ(settings.level, 1) << "a refused level keeps the earlier value: " << line;
  }
  EXPECT_EQ(Apply("trim-first-n-dirs 7 dirs\n"), Refused("trim-first-n-dirs 7 dirs", digit));
  EXPECT_EQ(settings.trim_first_n_dirs, 7);
  EXPECT_TRUE(FailureReported());
}

TEST_F(ConfigTest, MaxOpenTakesZeroOrANumberFromTwoToAMillion) {
  struct Case {
    const char* line;
    bool valid;
    int max_open;  // after the line; a refused line keeps the earlier value (5)
  };
  const Case cases[] = {
      {"max-open 2\n", true, 2},
      {"max-open 1000000\n", true, 1000000},
      {"max-open 0\n", true, 0},  // back to the open-file limit
      {"max-open 64\r\n", true, 64},
      {"max-open 0008\n", true, 8},
      {"max-open 1\n", false, 5},  // one input open at a time cannot merge
      {"max-open 1000001\n", false, 5},
      {"max-open 99999999999999999999\n", false, 5},  // would overflow an int
      {"max-open -4\n", false, 5},
      {"max-open +4\n", false, 5},
      {"max-open 4 \n", false, 5},
      {"max-open 4k\n", false, 5},
      {"max-open 0x10\n", false, 5},
      {"max-open\n", false, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    settings.max_open = 5;
    bool valid = false;
    Apply(c.line, &valid);
    EXPECT_EQ(valid, c.valid);
    EXPECT_EQ(settings.max_open, c.max_open);
  }
}

TEST_F(ConfigTest, SortWindowTakesASpanOfLogTimeAndSortTakesAMode) {
  struct Case {
    const char* line;
    bool valid;
    int64_t window;  // after the line; a refused line keeps the earlier value (77)
    bool full;       // after the line; a refused line keeps the earlier value (false)
  };
  const Case cases[] = {
      {"sort-window 0\n", true, 0, false},  // off
      {"sort-window 30s\n", true, 30, false},
      {"sort-window 10m\n", true, 600, false},
      {"sort-window 2h\n", true, 7200, false},
      {"sort-window 1d\n", true, 86400, false},
      {"sort-window 1h30m\n", true, 5400, false},
      {"sort-window 45\n", true, 45, false},  // a bare number is seconds
      {"sort-window 366d\n", true, 366 * 86400, false},
      {"sort-window 367d\n", false, 77, false},
      {"sort-window 99999999999999999999h\n", false, 77, false},  // would overflow
      {"sort-window 10x\n", false, 77, false},
      {"sort-window 10M\n", true, 600, false},  // units in either case
      {"sort-window -5m\n", false, 77, false},
      {"sort-window m\n", false, 77, false},
      {"sort-window 10m \n", false, 77, false},
      {"sort full\n", true, 77, true},
      {"sort window\n", true, 77, false},
      {"sort Full\n", true, 77, true},  // words in either case
      {"sort fully\n", false, 77, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    settings.sort_window = 77;
    settings.sort_full = false;
    bool valid = false;
    Apply(c.line, &valid);
    EXPECT_EQ(valid, c.valid);
    EXPECT_EQ(settings.sort_window, c.window);
    EXPECT_EQ(settings.sort_full, c.full);
  }
}

TEST_F(ConfigTest, NewlinesAndOutputFormatTakeTheirWordsInEitherCase) {
  struct Case {
    const char* line;
    bool valid;
  };
  const Case cases[] = {
      {"newlines unix\n", true},     {"newlines dos\r\n", true},
      {"newlines mac", true},        {"newlines Unix\n", true},
      {"newlines unix \n", true},    {"newlines unixx\n", false},
      {"newlines un\n", false},      {"output-format NCSA\n", true},
      {"output-format w3c\n", true}, {"output-format webstar\n", true},
      {"output-format W3C\n", true}, {"output-format xml\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    bool valid = false;
    Apply(c.line, &valid);
    EXPECT_EQ(valid, c.valid);
  }
  // The valid lines, last writer wins.
  EXPECT_EQ(settings.newlines, NewlineStyle::UNIX);
  EXPECT_EQ(settings.output_format, OutputFormat::W3C);
  EXPECT_EQ(Apply("output-format xml\n"),
            Refused("output-format xml", "combined, vhost_combined, json, ncsa, w3c or webstar"));
  Apply("newlines mac\n");
  Apply("output-format ncsa\n");
  EXPECT_EQ(settings.newlines, NewlineStyle::MAC);
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
  EXPECT_EQ(Apply("format " + too_long),
            Refused("format " + too_long, "1 to 511 characters of format tokens"));
  EXPECT_EQ(std::string(settings.user_format), fits) << "nothing is truncated";
  // A key longer than "format" leaves no room in the line for 512 characters; the rule
  // itself still holds.
  EXPECT_FALSE(Line("filter-host " + too_long).valid);
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

// input-timezone-for takes a pattern and a zone; rules keep their file order, and a line
// without both parts is refused whole.
TEST_F(ConfigTest, InputTimezoneForTakesAPatternAndAZone) {
  EXPECT_EQ(ReadText("input-timezone-for haproxy*.log Europe/Berlin\n"
                     "input-timezone-for\t*-ny.log   America/New_York  \n"),
            "");
  ASSERT_EQ(settings.input_zone_rules.size(), 2u);
  EXPECT_EQ(settings.input_zone_rules[0].pattern, "haproxy*.log");
  EXPECT_EQ(settings.input_zone_rules[0].zone, "Europe/Berlin");
  EXPECT_EQ(settings.input_zone_rules[1].pattern, "*-ny.log");
  EXPECT_EQ(settings.input_zone_rules[1].zone, "America/New_York");
  for (const char* line : {"input-timezone-for haproxy*.log", "input-timezone-for a b c"}) {
    SCOPED_TRACE(line);
    bool valid = true;
    Apply(line, &valid);
    EXPECT_FALSE(valid);
  }
}

// format-for takes an optional pattern, the server's name and its format line; a line that
// names no server or cannot be read is refused whole.
TEST_F(ConfigTest, FormatForTakesAnOptionalPatternTheServerAndItsLine) {
  EXPECT_EQ(ReadText("format-for app*.log apache %h %l %u %t \"%r\" %>s %b %D\n"
                     "format-for nginx $remote_addr [$time_local] \"$request\" $status\n"),
            "");
  ASSERT_EQ(settings.format_rules.size(), 2u);
  EXPECT_EQ(settings.format_rules[0].pattern, "app*.log");
  EXPECT_EQ(settings.format_rules[0].names,
            "HOST SKIP USER DATE-CLF FULL-REQUEST STATUS BYTES TRAN-TIME-MICRO");
  EXPECT_EQ(settings.format_rules[1].pattern, "");
  EXPECT_EQ(settings.format_rules[1].names, "HOST DATE-CLF FULL-REQUEST STATUS");
  for (const char* line : {"format-for app*.log %h %t", "format-for app*.log apache %h %Z %t",
                           "format-for nginx $remote_addr $status"}) {
    SCOPED_TRACE(line);
    bool valid = true;
    Apply(line, &valid);
    EXPECT_FALSE(valid);
  }
  EXPECT_EQ(settings.format_rules.size(), 2u);
}

// ---- Line shape and messages -------------------------------------------------------------

TEST_F(ConfigTest, BlankLinesAndCommentsAreSkippedInvalidLinesShownWhole) {
  struct Case {
    const char* line;
    std::string printed;
  };
  const Case cases[] = {
      {"# a comment\n", ""},
      {"#verbose yes\n", ""},
      {"\n", ""},
      {"  \t \r\n", ""},
      {"  # indented comment\n", ""},
      {"\t#verbose yes\n", ""},
      {"verbose\n", Invalid("verbose")},  // no blank between key and value
      {"verbose\r\n", Invalid("verbose")},
      {" verbose yes\n", Invalid(" verbose yes")},  // a key starts in the first column
      {"Compress yes\n", Invalid("Compress yes")},
      {"colour red\n", Invalid("colour red")},
      {"verbose \n", Refused("verbose ", "yes, no, on or off")},  // no value
      {"format \t \r\n", Refused("format \\t ", "1 to 511 characters of format tokens")},
      {"colour \x1b[2J\n", Invalid("colour \\e[2J")},  // control characters escaped
      {"verbose\t\t yes\n", ""},                       // any run of blanks
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Apply(c.line), c.printed);
    EXPECT_EQ(FailureReported(), !c.printed.empty());
  }
}

TEST_F(ConfigTest, MessagesNameTheLineNumberAndReadingGoesOn) {
  EXPECT_EQ(ReadText("# settings\n\nverbose yes\nnewline unix\n  # done\nlevel x\nlevel 4\n"),
            Invalid("newline unix", 4) + Refused("level x", "a digit from 0 to 9", 6));
  EXPECT_TRUE(settings.verbose);
  EXPECT_EQ(settings.level, 4);
  EXPECT_TRUE(FailureReported());
}

TEST_F(ConfigTest, MissingFileIsSilentUnlessChosen) {
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(ReadConfigFile("/nonexistent/Stitcher.cfg", false));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(FailureReported());

  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(ReadConfigFile("/nonexistent/Stitcher.cfg", true));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Error opening configuration file '/nonexistent/Stitcher.cfg': No such file or "
            "directory.\n");
  EXPECT_TRUE(FailureReported());
}

// A FIFO would block the reader forever and a device like /dev/zero never ends: only a
// regular file is read, and neither is waited on.
TEST_F(ConfigTest, OnlyARegularFileIsRead) {
  const std::string fifo = ConfigPath() + ".fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), ::testing::TempDir()}) {
    SCOPED_TRACE(path);
    ResetMessages();
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(ReadConfigFile(path.c_str(), false));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Configuration file '" + path + "' is not a regular file; it is not read.\n");
    EXPECT_TRUE(FailureReported());
  }
  std::remove(fifo.c_str());
}

TEST_F(ConfigTest, AFileLargerThanTheBoundIsRefused) {
  const std::string path = ConfigPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  // A sparse file: its size counts, not what is stored.
  ASSERT_EQ(std::fseek(f, CONFIG_SIZE_MAX, SEEK_SET), 0);
  std::fputc('\n', f);
  std::fclose(f);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(ReadConfigFile(path.c_str(), false));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Configuration file '" + path + "' is larger than " + std::to_string(CONFIG_SIZE_MAX) +
                " bytes; it is not read.\n");
  std::remove(path.c_str());
}

TEST_F(ConfigTest, MessagesStopAfterTheBoundOfInvalidLines) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "junk\n";
  text += "verbose yes\n";
  std::string expected;
  for (int i = 1; i <= CONFIG_INVALID_LINES_MAX; ++i) expected += Invalid("junk", i);
  expected += "Too many invalid lines in 'cfg'; the rest of it is not read.\n";
  EXPECT_EQ(ReadText(text), expected);
  EXPECT_FALSE(settings.verbose) << "nothing after the bound is applied";
}

// A line longer than the buffer is refused whole: its head is never applied as a setting of
// its own (a cut filter pattern would match far more than was meant).
TEST_F(ConfigTest, ALineLongerThanTheBoundIsRefusedWhole) {
  const std::string too_long = "filter-request /" + std::string(600, 'x') + "\n";
  const std::string longest = "format " + std::string(CONFIG_LINE_MAX - 8, 'y') + "\n";
  ASSERT_EQ(longest.size(), static_cast<size_t>(CONFIG_LINE_MAX));
  const std::string printed = ReadText(too_long + longest + "verbose yes\n");
  EXPECT_EQ(printed, "cfg:1: Configuration line longer than 519 characters; it is not read.\n");
  EXPECT_TRUE(settings.filters.request.empty());
  EXPECT_EQ(std::strlen(settings.user_format), static_cast<size_t>(CONFIG_LINE_MAX - 8));
  EXPECT_TRUE(settings.verbose) << "reading goes on after the long line";
  EXPECT_TRUE(FailureReported());

  // One character more than the bound, line end included, is too long as well.
  EXPECT_EQ(ReadText("format " + std::string(CONFIG_LINE_MAX - 7, 'z') + "\n"),
            "cfg:1: Configuration line longer than 519 characters; it is not read.\n");
}

// A NUL inside a line ends no line: the line is refused whole, never applied cut short at the
// NUL, and the line after it is read as it stands.
TEST_F(ConfigTest, ALineHoldingANulIsRefusedAndTheNextLineIsRead) {
  const std::string printed = ReadText(std::string("filter-request /a\0b\nlevel 3\n", 28));
  EXPECT_EQ(printed,
            "cfg:1: Invalid configuration line 'filter-request /a\\x00b': it holds a NUL "
            "character!\n");
  EXPECT_TRUE(settings.filters.request.empty());
  EXPECT_EQ(settings.level, 3);
  EXPECT_TRUE(FailureReported());
}

TEST_F(ConfigTest, FileWithoutFinalLineEnd) {
  EXPECT_EQ(ReadText("# settings\nlevel 3\nnewlines dos"), "");
  EXPECT_EQ(settings.level, 3);
  EXPECT_EQ(settings.newlines, NewlineStyle::DOS);
}

// Appending a pattern costs the same however long its list already is: a file of 200,000
// filter lines is read in one pass, every pattern kept in file order.
TEST_F(ConfigTest, TwoHundredThousandFilterLinesAreAllKeptInOrder) {
  constexpr int kLines = 200000;
  std::string text;
  text.reserve(kLines * 24);
  for (int i = 0; i < kLines; ++i) text += "filter-host 10.0." + std::to_string(i) + ".*\n";
  EXPECT_EQ(ReadText(text), "");
  ASSERT_EQ(settings.filters.host.size(), static_cast<size_t>(kLines));
  EXPECT_EQ(settings.filters.host.front(), "10.0.0.*");
  EXPECT_EQ(settings.filters.host.back(), "10.0.199999.*");
}

// ---- Settings by key (the switches share them) -------------------------------------------

TEST_F(ConfigTest, OnlyKeysOfTheTableAreTakenAndNothingIsSaid) {
  EXPECT_TRUE(Line("newlines dos").valid);
  EXPECT_EQ(settings.newlines, NewlineStyle::DOS);
  const ConfigLine refused = Line("newlines dosx");
  EXPECT_FALSE(refused.valid);
  ASSERT_NE(refused.refused_by, nullptr);
  EXPECT_STREQ(refused.refused_by->valid, "unix, dos or mac");
  EXPECT_EQ(settings.newlines, NewlineStyle::DOS);
  EXPECT_TRUE(Line("filter-agent *bot*").valid);
  EXPECT_EQ(settings.filters.agent, (std::vector<std::string>{"*bot*"}));
  // Unknown keys, and options that only the command line takes.
  for (const char* line : {"colour red", "output x.gz", "config other.cfg", "files-from list",
                           "help yes", "Compress yes"}) {
    const ConfigLine unknown = Line(line);
    EXPECT_FALSE(unknown.valid) << line;
    EXPECT_EQ(unknown.refused_by, nullptr) << line;
  }
  EXPECT_EQ(settings.output_path, "");
  EXPECT_FALSE(FailureReported()) << "ApplyConfigLine says nothing";
}

}  // namespace
