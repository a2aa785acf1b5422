// What ships beside the program describes the program: every switch of the usage text and
// every configuration key is in the manual page, the example configuration shows every key
// with a value the program takes, and bash completion offers the switches and the values.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/config.h"
#include "driver/options.h"
#include "driver/settings.h"
#include "program_runner.h"

namespace {

using namespace testing_support;

const std::string kSource = STITCHER_SOURCE_DIR;

std::string UsageText() {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&buffer, &size);
  PrintUsage(stream);
  std::fclose(stream);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

// The switches a usage line names: "-Word" and "--word" at its start and after ", ".
std::vector<std::string> UsageSwitches() {
  std::vector<std::string> names;
  const std::regex option(R"(^(-[-A-Za-z?][-A-Za-z0-9]*)[^,]*(, +)?(.*)$)");
  std::istringstream lines(UsageText());
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("  -")) continue;
    std::string rest = line.substr(2);
    std::smatch m;
    while (std::regex_match(rest, m, option)) {
      names.push_back(m[1]);
      if (!m[2].matched) break;
      rest = m[3];
    }
  }
  return names;
}

TEST(ManualPage, NamesEverySwitchOfTheUsageText) {
  const std::string page = ReadFile(STITCHER_MAN_PAGE);
  ASSERT_NE(page.find(".TH \"stitcher\" \"1\""), std::string::npos) << "not a section 1 page";
  const std::vector<std::string> switches = UsageSwitches();
  // The usage text's first and last switches, so a parse that finds nothing fails here.
  ASSERT_GE(switches.size(), 30u);
  EXPECT_EQ(switches.front(), "-Help");
  EXPECT_EQ(switches.back(), "--");
  for (const std::string& name : switches) {
    // In bold, and not only as the start of a longer name (--output in --output-format).
    const std::regex in_bold("\\\\fB" + std::regex_replace(name, std::regex(R"([?*])"), "\\$&") +
                             "([^-A-Za-z0-9]|$)");
    EXPECT_TRUE(std::regex_search(page, in_bold)) << name << " is not in the manual page";
  }
}

TEST(ManualPage, NamesEveryConfigurationKey) {
  const std::string page = ReadFile(STITCHER_MAN_PAGE);
  const std::vector<std::string_view> keys = ConfigKeyNames();
  ASSERT_FALSE(keys.empty());
  for (std::string_view key : keys) {
    EXPECT_NE(page.find("\\fB" + std::string(key) + "\\fR"), std::string::npos)
        << key << " is not in the manual page";
  }
}

TEST(ExampleConfiguration, ShowsEveryKeyWithAValueTheProgramTakes) {
  const std::string example = ReadFile(kSource + "/doc/Stitcher.cfg.example");
  ASSERT_FALSE(example.empty());
  const std::vector<std::string_view> keys = ConfigKeyNames();
  const std::set<std::string_view> known(keys.begin(), keys.end());
  std::set<std::string> shown;
  std::istringstream lines(example);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    // A commented-out setting is "#key value"; prose comments have a blank after the '#'.
    if (line.size() < 2 || line[0] != '#' || line[1] == ' ' || line[1] == '-') continue;
    const std::string setting = line.substr(1);
    const std::string key = setting.substr(0, setting.find(' '));
    if (known.count(key) == 0) continue;
    shown.insert(key);
    ResetSettings();
    std::string buffer = setting + "\n";
    EXPECT_TRUE(ApplyConfigLine(buffer.data()).valid) << "line " << number << ": " << line;
  }
  ResetSettings();
  for (std::string_view key : keys) {
    EXPECT_EQ(shown.count(std::string(key)), 1u) << key << " is not in the example";
  }
}

// What bash completion offers for the word being typed, as bash would show it.
std::string Complete(const std::string& typed) {
  const auto dir = FreshDirectory("completion");
  const std::string script =
      "export LC_ALL=C\nsource " + ShellQuote(kSource + "/doc/stitcher.bash-completion") +
      "\nCOMP_LINE=" + ShellQuote("stitcher " + typed) +
      "\nCOMP_POINT=${#COMP_LINE}\nCOMP_WORDS=(" + ShellQuote(STITCHER_BINARY) + " " +
      ShellQuote(typed) + ")\nCOMP_CWORD=1\n_stitcher\nprintf '%s\\n' \"${COMPREPLY[@]}\" | sort";
  const ProgramRun run = RunProgram("/bin/bash", dir, {"-c", script});
  EXPECT_EQ(run.status, 0) << run.console;
  std::string words;
  for (const std::string& word : SplitLines(run.console)) {
    if (word.empty()) continue;
    if (!words.empty()) words += ' ';
    words += word;
  }
  return words;
}

TEST(BashCompletion, OffersSwitchesAndTheValuesOfKeys) {
  struct Case {
    const char* typed;
    const char* offered;
  };
  const Case cases[] = {
      {"--output-format=", "combined json ncsa vhost_combined w3c webstar"},
      {"--output-format=w", "w3c webstar"},
      {"--anonymize-ip=", "1 2 3 hash no"},
      {"--client=", "remote xff"},
      {"--source=", "file host name none"},
      {"--dedupe=", "no yes"},
      {"--newlines=d", "dos"},
      {"--compress=n", "no"},
      {"--vhost=", "no yes"},
      {"--level=", "0 1 2 3 4 5 6 7 8 9"},
      {"--trim-first-n-dirs=9", "9"},
      {"--timezone=Europe/Berl", "Europe/Berlin"},
      {"--input-timezone=UT", "UTC"},
      {"--filter-host=", ""},
      {"--no-h", "--no-header"},
      {"--out", "--output-format= --output="},
      {"--comp", "--compress"},
      {"-V", "-Verbose"},
      {"--colour", ""},
      // The value as the next word, as the program takes it.
      {"--newlines d", "dos"},
      {"--output-format W", ""},
      {"--output-format ", "combined json ncsa vhost_combined w3c webstar"},
      {"-q", "-q"},
  };
  for (const Case& c : cases) EXPECT_EQ(Complete(c.typed), c.offered) << c.typed;
}

TEST(BashCompletion, OffersEveryLongOptionOfTheUsageText) {
  const std::string offered = " " + Complete("--") + " ";
  for (const std::string& name : UsageSwitches()) {
    if (!name.starts_with("--")) continue;
    EXPECT_TRUE(offered.find(" " + name + " ") != std::string::npos ||
                offered.find(" " + name + "= ") != std::string::npos)
        << name << " is not offered: " << offered;
  }
}

}  // namespace
