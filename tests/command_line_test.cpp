// The command line: the switch table, long options, values, the early switches, names from
// a list, and the usage text the table prints.

#include "driver/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/messages.h"
#include "driver/settings.h"
#include "program_runner.h"

using namespace testing_support;

namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings();
    ResetMessages();
  }
  void TearDown() override {
    ResetSettings();
    ResetMessages();
  }

  // argv for `args` behind a program name; the strings live as long as `storage`.
  static std::vector<char*> Argv(std::vector<std::string>& storage) {
    storage.insert(storage.begin(), "stitcher");
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
  }

  // Walks `args` as the late walk does; returns the result and what was said.
  static CommandLine Walk(std::vector<std::string> args, std::string* said = nullptr) {
    std::vector<char*> argv = Argv(args);
    ::testing::internal::CaptureStdout();
    CommandLine line = WalkArguments(static_cast<int>(argv.size()) - 1, argv.data());
    const std::string printed = ::testing::internal::GetCapturedStdout();
    if (said != nullptr) *said = printed;
    return line;
  }
};

using Names = std::vector<std::string>;

// ---- Outcomes and names --------------------------------------------------------------------

TEST_F(CommandLineTest, OutcomesNamesAndMessages) {
  struct Case {
    std::vector<std::string> args;
    CommandOutcome outcome;
    Names names;
    std::string said;
  };
  const std::string digit = "a digit from 0 to 9";
  const std::string threads = "a number from 0 (one per core) to 256";
  const std::string max_open = "0 (as the open-file limit allows) or a number from 2 to 1000000";
  const auto invalid = [](const std::string& option, const std::string& value,
                          const std::string& valid) {
    return "Invalid " + option + " value '" + value + "': give " + valid + "!\n";
  };
  const Case cases[] = {
      {{"-v", "a.log", "-Unix", "b.log"}, CommandOutcome::Merge, {"a.log", "b.log"}, ""},
      {{"a.log"}, CommandOutcome::Merge, {"a.log"}, ""},  // one input is a normal use
      {{}, CommandOutcome::Usage, {}, ""},
      {{"a.log", "-"}, CommandOutcome::Usage, {}, ""},
      {{"-Help", "a.log"}, CommandOutcome::Usage, {}, ""},
      {{"-?", "a.log"}, CommandOutcome::Usage, {}, ""},
      {{"--", "-x.log", "--help", "-v"}, CommandOutcome::Merge, {"-x.log", "--help", "-v"}, ""},
      {{"a.log", "--help"}, CommandOutcome::Help, {}, ""},
      {{"--version", "a.log"}, CommandOutcome::Version, {}, ""},
      // Usage errors: one line, nothing else read.
      {{"a.log", "-x", "b.log"},
       CommandOutcome::Stop,
       {},
       "stitcher: unknown switch '-x'; try --help\n"},
      {{"--outptu", "a.log"},
       CommandOutcome::Stop,
       {},
       "stitcher: unknown option '--outptu'; try --help\n"},
      {{"--colour=red", "a.log"},
       CommandOutcome::Stop,
       {},
       "stitcher: unknown option '--colour=red'; try --help\n"},
      {{"--quiet=yes", "a.log"},
       CommandOutcome::Stop,
       {},
       "stitcher: option '--quiet' takes no value; try --help\n"},
      {{"--no-header=no", "a.log"},
       CommandOutcome::Stop,
       {},
       "stitcher: option '--no-header' takes no value; try --help\n"},
      {{"a.log", "--output"},
       CommandOutcome::Stop,
       {},
       "stitcher: option '--output' needs a value; try --help\n"},
      {{"a.log", "-Output"},
       CommandOutcome::Stop,
       {},
       "stitcher: switch '-Output' needs a value; try --help\n"},
      {{"-f"}, CommandOutcome::Stop, {}, "stitcher: switch '-f' needs a value; try --help\n"},
      // A value as the next argument, as well as after '='.
      {{"--output", "x.gz", "a.log"}, CommandOutcome::Merge, {"a.log"}, ""},
      {{"--max-open", "8", "a.log"}, CommandOutcome::Merge, {"a.log"}, ""},
      {{"-q", "a.log"}, CommandOutcome::Merge, {"a.log"}, ""},
      // Values checked, the valid ones named.
      {{"--output=", "a.log"},
       CommandOutcome::Stop,
       {},
       invalid("--output", "", "a file name, or - for standard output")},
      {{"--config=", "a.log"}, CommandOutcome::Stop, {}, invalid("--config", "", "a file name")},
      {{"--newlines=Dosx", "a.log"},
       CommandOutcome::Stop,
       {},
       invalid("--newlines", "Dosx", "unix, dos or mac")},
      {{"--output-format=xml", "a.log"},
       CommandOutcome::Stop,
       {},
       invalid("--output-format", "xml", "combined, vhost_combined, json, ncsa, w3c or webstar")},
      {{"--level=x", "a.log"}, CommandOutcome::Stop, {}, invalid("--level", "x", digit)},
      {{"--level=12", "a.log"}, CommandOutcome::Stop, {}, invalid("--level", "12", digit)},
      {{"-L12", "a.log"}, CommandOutcome::Stop, {}, invalid("-L", "12", digit)},
      {{"-L", "a.log"}, CommandOutcome::Stop, {}, invalid("-L", "", digit)},
      {{"--compress=maybe", "a.log"},
       CommandOutcome::Stop,
       {},
       invalid("--compress", "maybe", "yes, no, on or off")},
      {{"--threads=257", "a.log"}, CommandOutcome::Stop, {}, invalid("--threads", "257", threads)},
      {{"--threads=2x", "a.log"}, CommandOutcome::Stop, {}, invalid("--threads", "2x", threads)},
      {{"--threads=", "a.log"}, CommandOutcome::Stop, {}, invalid("--threads", "", threads)},
      {{"--max-open=1", "a.log"}, CommandOutcome::Stop, {}, invalid("--max-open", "1", max_open)},
      {{"--max-open=1000001", "a.log"},
       CommandOutcome::Stop,
       {},
       invalid("--max-open", "1000001", max_open)},
      {{"--max-open=many", "a.log"},
       CommandOutcome::Stop,
       {},
       invalid("--max-open", "many", max_open)},
      {{"--since=yesterday", "a.log"},
       CommandOutcome::Stop,
       {},
       invalid("--since", "yesterday", "a time as 2024-03-01T06:00:00 or 2024-03-01")},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const auto& a : c.args) label += a + " ";
    SCOPED_TRACE(label);
    ResetSettings();
    ResetMessages();
    std::string said;
    const CommandLine line = Walk(c.args, &said);
    EXPECT_EQ(line.outcome, c.outcome);
    EXPECT_EQ(line.names, c.names);
    EXPECT_EQ(said, c.said);
    EXPECT_EQ(FailureReported(), !c.said.empty());
  }
}

// ---- What the switches set -----------------------------------------------------------------

TEST_F(CommandLineTest, LettersInEitherCaseAndLongOptionsSetTheSettings) {
  Walk({"-VERY", "-p", "-l5", "-n", "-DOS"});
  EXPECT_TRUE(settings.verbose);
  EXPECT_FALSE(settings.compress);
  EXPECT_EQ(settings.level, 5);
  EXPECT_FALSE(settings.vhost);
  EXPECT_EQ(settings.newlines, NewlineStyle::DOS);

  ResetSettings();
  Walk({"--output-format=NCSA", "--newlines=Mac", "--level", "3", "--normalize", "--lowercase",
        "--trim-first-n-dirs=2", "--vhost=no", "--compress=off", "--format=HOST DATE"});
  EXPECT_EQ(settings.output_format, OutputFormat::NCSA);
  EXPECT_EQ(settings.newlines, NewlineStyle::MAC);
  EXPECT_EQ(settings.level, 3);
  EXPECT_TRUE(settings.normalize);
  EXPECT_TRUE(settings.lowercase);
  EXPECT_EQ(settings.trim_first_n_dirs, 2);
  EXPECT_FALSE(settings.vhost);
  EXPECT_FALSE(settings.compress);
  EXPECT_STREQ(settings.user_format, "HOST DATE");
  EXPECT_FALSE(FailureReported());

  ResetSettings();
  Walk({"--normalize", "--normalize=no", "-Output", "week.gz", "--output=-", "--threads=4",
        "--max-open=300"});
  EXPECT_FALSE(settings.normalize) << "a later switch wins";
  EXPECT_EQ(settings.threads, 4);
  EXPECT_EQ(settings.max_open, 300);
  EXPECT_EQ(settings.output_path, "-");
}

TEST_F(CommandLineTest, QuietAndVerboseTheLaterWins) {
  Walk({"-v", "--quiet"});
  EXPECT_TRUE(settings.quiet);
  EXPECT_FALSE(settings.verbose);
  Walk({"--quiet", "-Verbose"});
  EXPECT_FALSE(settings.quiet);
  EXPECT_TRUE(settings.verbose);
  Walk({"--quiet", "--verbose"});
  EXPECT_FALSE(settings.quiet);
}

TEST_F(CommandLineTest, NoHeaderTakesNoValue) {
  EXPECT_TRUE(settings.header);
  Walk({"--no-header", "a.log"});
  EXPECT_FALSE(settings.header);
}

TEST_F(CommandLineTest, TheTimeWindowTakesIsoTimes) {
  Walk({"--since=2024-03-01", "--until=2024-03-01T06:30", "a.log"});
  ClockTime since = 0, until = 0;
  ASSERT_TRUE(ParseIsoTime("2024-03-01T00:00:00", since));
  ASSERT_TRUE(ParseIsoTime("2024-03-01T06:30:00", until));
  EXPECT_EQ(settings.window.since, since);
  EXPECT_EQ(settings.window.until, until);
}

// The first filter switch of a list replaces what the configuration file gave it; later
// ones append; a refused pattern changes nothing.
TEST_F(CommandLineTest, AFilterSwitchReplacesTheFilesListThenAppends) {
  settings.filters.host = {"10.*", "+*"};
  settings.filters.agent = {"*bot*"};
  std::string said;
  Walk({"--filter-host=192.0.2.*", "--filter-host=+*", "a.log"}, &said);
  EXPECT_EQ(settings.filters.host, (Names{"192.0.2.*", "+*"}));
  EXPECT_EQ(settings.filters.agent, (Names{"*bot*"})) << "other lists keep the file's patterns";

  settings.filters.request = {"/private/*"};
  const CommandLine line = Walk({"--filter-request=" + std::string(512, 'x'), "a.log"}, &said);
  EXPECT_EQ(line.outcome, CommandOutcome::Stop);
  EXPECT_EQ(settings.filters.request, (Names{"/private/*"}));
}

// -Format that names an existing file: a log file that lost its way, refused.
TEST_F(CommandLineTest, FormatNamingAFileIsRefused) {
  const std::string path =
      ::testing::TempDir() + "stitcher_cli_format_" + std::to_string(getpid()) + ".log";
  WriteFile(path, "10.0.0.1 - - [05/Mar/2001:10:00:00 -0500] \"GET / HTTP/1.0\" 200 1\n");
  std::string said;
  const CommandLine line = Walk({"-f", path, "b.log", "c.log"}, &said);
  EXPECT_EQ(line.outcome, CommandOutcome::Stop);
  EXPECT_EQ(said, "Invalid -format command: '" + path +
                      "' is a file, and -Format takes a list of format tokens!\n");
  EXPECT_EQ(settings.user_format[0], '\0');
  std::remove(path.c_str());
}

// ---- Early switches ------------------------------------------------------------------------

TEST_F(CommandLineTest, EarlySwitchesActAloneAndKeepTheValuesOfOthers) {
  std::vector<std::string> args = {
      "-Unix", "-f",   "--config=taken-as-format", "--config=b.cfg", "--newlines=dos", "-Output",
      "-",     "a.log"};
  std::vector<char*> argv = Argv(args);
  CommandLine line = ReadCommandLine(static_cast<int>(argv.size()) - 1, argv.data());
  ApplyEarlySwitches(line);
  EXPECT_EQ(settings.config_path, "b.cfg") << "-f consumed the first --config as its value";
  EXPECT_EQ(settings.output_path, "-");
  EXPECT_EQ(settings.newlines, NewlineStyle::UNIX) << "the default: late switches wait";
  EXPECT_EQ(settings.user_format[0], '\0');

  // Nothing after "--" is a switch.
  ResetSettings();
  std::vector<std::string> ended = {"--", "--config=x.cfg"};
  std::vector<char*> ended_argv = Argv(ended);
  CommandLine ended_line =
      ReadCommandLine(static_cast<int>(ended_argv.size()) - 1, ended_argv.data());
  ApplyEarlySwitches(ended_line);
  EXPECT_EQ(settings.config_path, "");
}

// ---- The output switch ------------------------------------------------------------------------

// -Output counts only as a start of its own word: any other argument with its letter is
// refused, naming the nearest option, and sets nothing, so a slip never turns the first log
// into the output.
TEST_F(CommandLineTest, OutputSwitchOnlyAsItsOwnWord) {
  struct Case {
    std::vector<std::string> args;
    std::string said;  // empty: taken, the output is "x.gz"
  };
  const Case cases[] = {
      {{"-o", "x.gz", "a.log"}, ""},
      {{"-OUT", "x.gz", "a.log"}, ""},
      {{"-Output", "x.gz", "a.log"}, ""},
      {{"--output", "x.gz", "a.log"}, ""},
      {{"--output=x.gz", "a.log"}, ""},
      {{"-ox.gz", "a.log", "b.log"},
       "stitcher: unknown switch '-ox.gz'; did you mean -Output <file> or --output=<file>?\n"},
      {{"-Output=week.gz", "a.log", "b.log"},
       "stitcher: unknown switch '-Output=week.gz'; did you mean -Output week.gz or "
       "--output=week.gz?\n"},
      {{"-outputs", "a.log", "b.log"},
       "stitcher: unknown switch '-outputs'; did you mean -Output <file> or --output=<file>?\n"},
      {{"-output-format=ncsa", "a.log", "b.log"},
       "stitcher: unknown switch '-output-format=ncsa'; did you mean --output-format=ncsa?\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    ResetSettings();
    ResetMessages();
    std::string said;
    const CommandLine line = Walk(c.args, &said);
    EXPECT_EQ(said, c.said);
    if (c.said.empty()) {
      EXPECT_EQ(line.outcome, CommandOutcome::Merge);
      EXPECT_EQ(settings.output_path, "x.gz");
    } else {
      EXPECT_EQ(line.outcome, CommandOutcome::Stop);
      EXPECT_TRUE(line.names.empty());
      EXPECT_EQ(settings.output_path, "");
      EXPECT_EQ(settings.output_format, Settings{}.output_format);
    }
  }
}

// Who asked for compression is remembered, so that the output's name can be checked
// against it; nobody asking leaves it to the name.
TEST_F(CommandLineTest, CompressionAskedForIsRemembered) {
  Walk({"a.log"});
  EXPECT_EQ(settings.compress_asked_by, "");
  Walk({"-plain", "a.log"});
  EXPECT_EQ(settings.compress_asked_by, "-Plain");
  Walk({"--compress", "a.log"});
  EXPECT_EQ(settings.compress_asked_by, "--compress=yes");
  EXPECT_TRUE(settings.compress);
}

// ---- Names from a list ---------------------------------------------------------------------

TEST_F(CommandLineTest, FilesFromJoinsTheNamesAtItsPlace) {
  const std::string list =
      ::testing::TempDir() + "stitcher_cli_list_" + std::to_string(getpid()) + ".txt";
  WriteFile(list, "web1/access.log.1\r\n\nweb1/access.log.2.gz\n -odd name.log\nlast.log");
  const CommandLine line = Walk({"first.log", "--files-from=" + list, "z.log"});
  EXPECT_EQ(line.outcome, CommandOutcome::Merge);
  EXPECT_EQ(line.names, (Names{"first.log", "web1/access.log.1", "web1/access.log.2.gz",
                               " -odd name.log", "last.log", "z.log"}));
  std::remove(list.c_str());

  std::string said;
  const CommandLine missing = Walk({"a.log", "--files-from=" + list}, &said);
  EXPECT_EQ(missing.outcome, CommandOutcome::Stop);
  EXPECT_TRUE(missing.names.empty());
  EXPECT_EQ(said,
            "Error opening the list of log files '" + list + "': No such file or directory.\n");
}

// Lists of NUL-separated names (find -print0), and lists that cannot be taken whole: a NUL in
// a list of lines, a name longer than the path limit, a list larger than the bound. A list
// refused adds no name and stops the run.
TEST_F(CommandLineTest, FileListsSeparatedByNulOrRefusedWithTheirLine) {
  const std::string list =
      ::testing::TempDir() + "stitcher_cli_nul_" + std::to_string(getpid()) + ".txt";
  const char nul_raw[] = "web1/access.log\0with\nnewline.log\0\0last.log\0";
  const std::string nul_list(nul_raw, sizeof nul_raw - 1);
  const std::string too_long(4096, 'x');
  struct Case {
    const char* label;
    std::string content;
    std::vector<std::string> args;  // "LIST" stands for the list's path
    CommandOutcome outcome;
    Names names;
    std::string said;  // "LIST" stands for the list's path
  };
  const Names from_nul_list = {"a.log", "web1/access.log", "with\nnewline.log", "last.log"};
  const Case cases[] = {
      {"--files-from0",
       nul_list,
       {"a.log", "--files-from0=LIST"},
       CommandOutcome::Merge,
       from_nul_list,
       ""},
      {"-0 before --files-from",
       nul_list,
       {"-0", "a.log", "--files-from=LIST"},
       CommandOutcome::Merge,
       from_nul_list,
       ""},
      {"--null after --files-from",
       nul_list,
       {"a.log", "--files-from=LIST", "--null"},
       CommandOutcome::Merge,
       from_nul_list,
       ""},
      {"NUL in a list of lines",
       "one.log\ntwo.log\nthree" + std::string(1, '\0') + "x.log\n",
       {"a.log", "--files-from=LIST"},
       CommandOutcome::Stop,
       {},
       "Error reading the list of log files 'LIST': line 3 holds a NUL character; a list of "
       "NUL-separated names needs --files-from0 or -0.\n"},
      {"name over the path limit",
       "one.log\n" + too_long + "\n",
       {"a.log", "--files-from=LIST"},
       CommandOutcome::Stop,
       {},
       "Error reading the list of log files 'LIST': line 2 is longer than the system's "
       "path limit of 4095 bytes.\n"},
      {"NUL-separated name over the path limit",
       too_long + std::string(1, '\0'),
       {"a.log", "--files-from0=LIST"},
       CommandOutcome::Stop,
       {},
       "Error reading the list of log files 'LIST': name 1 is longer than the system's "
       "path limit of 4095 bytes.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ResetSettings();
    WriteFile(list, c.content);
    std::vector<std::string> args;
    for (const std::string& a : c.args) {
      const size_t at = a.find("LIST");
      args.push_back(at == std::string::npos ? a : a.substr(0, at) + list);
    }
    // -0 acts early, before any list is read, wherever it stands.
    std::string said;
    const CommandLine line = Walk(args, &said);
    EXPECT_EQ(line.outcome, c.outcome);
    EXPECT_EQ(line.names, c.names);
    std::string expected_said = c.said;
    if (const size_t at = expected_said.find("LIST"); at != std::string::npos) {
      expected_said.replace(at, 4, list);
    }
    EXPECT_EQ(said, expected_said);
  }

  // A list without end (here 64 MiB and one byte of NULs, a hole in a sparse file) is
  // refused once it passes the bound, without holding it all.
  {
    std::FILE* out = std::fopen(list.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(ftruncate(fileno(out), (int64_t{64} << 20) + 1), 0);
    std::fclose(out);
    std::string said;
    const CommandLine line = Walk({"a.log", "--files-from0=" + list}, &said);
    EXPECT_EQ(line.outcome, CommandOutcome::Stop);
    EXPECT_TRUE(line.names.empty());
    EXPECT_EQ(said,
              "Error reading the list of log files '" + list + "': it is larger than 64 MiB.\n");
  }
  std::remove(list.c_str());
}

// A time window that keeps nothing is refused before anything is read.
TEST_F(CommandLineTest, ATimeWindowThatKeepsNothingIsRefused) {
  const std::string refused =
      "Invalid time window: --since must be before --until, or no entry is kept!\n";
  struct Case {
    const char* since;
    const char* until;
    CommandOutcome outcome;
    const char* said;
  };
  const Case cases[] = {
      {"2024-03-02", "2024-03-01", CommandOutcome::Stop, refused.c_str()},
      {"2024-03-01T06:00", "2024-03-01T06:00:00", CommandOutcome::Stop, refused.c_str()},
      {"2024-03-01T06:00", "2024-03-01T06:00:01", CommandOutcome::Merge, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.since) + " .. " + c.until);
    ResetSettings();
    std::string said;
    const CommandLine line = Walk(
        {std::string("--until=") + c.until, "a.log", std::string("--since=") + c.since, "b.log"},
        &said);
    EXPECT_EQ(line.outcome, c.outcome);
    EXPECT_EQ(said, c.said);
    EXPECT_EQ(line.names.empty(), c.outcome != CommandOutcome::Merge);
  }
}

// ---- The usage text ------------------------------------------------------------------------

TEST_F(CommandLineTest, UsageListsTheOriginalSwitchesFirstThenEveryLongOption) {
  ::testing::internal::CaptureStdout();
  PrintUsage(stdout);
  const std::string usage = ::testing::internal::GetCapturedStdout();
  const std::string head = std::string(VersionText()) +
                           "\n"
                           "Usage 'Stitcher <options> <log-file-list>'\n"
                           "where <options> may include:\n"
                           "  -Help display this message\n"
                           "  -Verbose display verbose progress messages\n"
                           "  -Novhost suppress virtual host in field two\n"
                           "  -Format <log format>\n"
                           "  -Mac newlines\n"
                           "  -Unix newlines\n"
                           "  -Dos/Windows newlines\n"
                           "  -Plain - disable compression\n"
                           "  -L<digit> - set compression level\n";
  EXPECT_EQ(usage.substr(0, head.size()), head);
  EXPECT_TRUE(usage.ends_with("and <log-file-list> is a set of text files to merge.\n"));
  for (const char* option : {"-Output <file>",   "--output=",        "--config=",
                             "-q, --quiet",      "--files-from=",    "--files-from0=",
                             "-0, --null",       "--since=",         "--until=",
                             "--quiet",          "--threads=",       "--max-open=",
                             "--output-format=", "--newlines=",      "--level=",
                             "--normalize",      "--lowercase",      "--trim-first-n-dirs=",
                             "--format=",        "--filter-host=",   "--filter-request=",
                             "--filter-agent=",  "--filter-server=", "--filter-user=",
                             "--help",           "--version",        "  -- "}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  EXPECT_TRUE(std::string(VersionText()).starts_with("Stitcher Version "));
}

}  // namespace
