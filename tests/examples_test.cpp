// The examples of the README and the manual page run as shown.
//
// A README section whose code shows a shell session ("$ command" lines, each followed by
// what it prints) is replayed in a directory of its own: "$ cat FILE" and "$ zcat FILE"
// create the file they show, and every other command must print what is shown (a shown line
// ending in "..." is compared up to there; a command that prints nothing on standard output
// is compared by its messages). Sections that show no files run nothing. Every
// stitcher command line of either document, in a session or in a recipe, must be one the
// program accepts: its switches are known and their values valid.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "compressed_fixtures.h"
#include "program_runner.h"

#if defined(STITCHER_BINARY) && defined(STITCHER_SOURCE_DIR)

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const std::string kSource = STITCHER_SOURCE_DIR;

// A shell that finds the program under test as "stitcher".
std::string Shell(const std::string& command) {
  // The variables the recipes set before their stitcher line, as a job would have them.
  return "PATH=" + ShellQuote(fs::path(STITCHER_BINARY).parent_path().string()) +
         ":$PATH; export PATH; week=2024-03-04; day=2024-03-04; SLURM_ARRAY_TASK_ID=0; "
         "JOB_COMPLETION_INDEX=0; header=; cd \"$1\" && " +
         command;
}

ProgramRun RunShell(const fs::path& dir, const std::string& command) {
  RunOptions options;
  options.separate_output = true;
  return RunProgram("/bin/sh", dir, {"-c", Shell(command), "sh", dir.string()}, options);
}

// One "$ command" of a session and the lines it shows.
struct Step {
  std::string command;
  std::vector<std::string> shown;
};

// The README's sessions, by section title.
std::vector<std::pair<std::string, std::vector<Step>>> Sessions() {
  std::vector<std::pair<std::string, std::vector<Step>>> sessions;
  std::vector<Step>* steps = nullptr;
  bool in_output = false;
  for (const std::string& line : SplitLines(ReadFile(kSource + "/README.md"))) {
    if (line.starts_with("## ") || line.starts_with("### ")) {
      sessions.emplace_back(line, std::vector<Step>{});
      steps = &sessions.back().second;
      in_output = false;
    } else if (steps != nullptr && line.starts_with("    $ ")) {
      steps->push_back(Step{line.substr(6), {}});
      in_output = true;
    } else if (steps != nullptr && in_output && line.starts_with("    ")) {
      steps->back().shown.push_back(line.substr(4));
    } else {
      in_output = false;
    }
  }
  return sessions;
}

// Whether the printed lines are the shown ones; "..." at the end of a shown line stands for
// the rest of that line.
bool PrintsAsShown(const std::string& printed, const std::vector<std::string>& shown) {
  const std::vector<std::string> lines = SplitLines(printed);
  if (lines.size() != shown.size()) return false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (shown[i].ends_with("...")) {
      if (!lines[i].starts_with(shown[i].substr(0, shown[i].size() - 3))) return false;
    } else if (lines[i] != shown[i]) {
      return false;
    }
  }
  return true;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(Examples, ReadmeSessionsPrintWhatTheyShow) {
  int replayed = 0;
  for (const auto& [title, steps] : Sessions()) {
    bool shows_files = false;
    for (const Step& step : steps) {
      shows_files |= step.command.starts_with("cat ") || step.command.starts_with("zcat ");
    }
    if (!shows_files) continue;
    SCOPED_TRACE(title);
    const fs::path dir = FreshDirectory("examples");
    for (const Step& step : steps) {
      SCOPED_TRACE(step.command);
      const bool cat = step.command.starts_with("cat ");
      const bool zcat = step.command.starts_with("zcat ");
      const fs::path file = dir / step.command.substr(cat ? 4 : 5);
      if ((cat || zcat) && !fs::exists(file)) {
        fs::create_directories(file.parent_path());
        WriteFile(file, cat ? Joined(step.shown) : GzipBytes(Joined(step.shown)));
        continue;
      }
      const ProgramRun run = RunShell(dir, step.command);
      EXPECT_EQ(run.status, 0) << run.console;
      // A command that writes a file shows its messages (standard error) instead.
      const std::string& printed = run.output.empty() ? run.console : run.output;
      EXPECT_TRUE(PrintsAsShown(printed, step.shown)) << "printed:\n"
                                                      << printed << "shown:\n"
                                                      << Joined(step.shown);
    }
    fs::remove_all(dir);
    ++replayed;
  }
  EXPECT_GT(replayed, 0) << "the README shows no session with its files";
}

// Every code block of both documents: the README's indented blocks and the manual's fenced
// ones, with backslash continuations joined.
std::vector<std::string> CodeLines() {
  std::vector<std::string> lines;
  std::string pending;
  const auto take = [&](std::string line) {
    if (line.starts_with("$ ")) line = line.substr(2);
    // The manual page escapes its backslashes for scdoc.
    for (size_t at; (at = line.find("\\\\")) != std::string::npos;) line.replace(at, 2, "\\");
    if (line.ends_with("\\")) {
      pending += line.substr(0, line.size() - 1) + " ";
      return;
    }
    lines.push_back(pending + line);
    pending.clear();
  };
  for (const std::string& line : SplitLines(ReadFile(kSource + "/README.md"))) {
    if (line.starts_with("    ")) take(line.substr(4));
  }
  bool fenced = false;
  for (const std::string& line : SplitLines(ReadFile(kSource + "/doc/stitcher.1.scd"))) {
    if (line.starts_with("```")) {
      fenced = !fenced;
    } else if (fenced) {
      take(line);
    }
  }
  return lines;
}

// Each stitcher command of the examples, as far as it goes on its line: up to a pipe, a
// ";", an "&" (a command sent to the background) or the closing quote of the command around it
// ("||" inside "$(...)" is no pipe, and a value quoted whole, '...', is one word), with parallel's
// placeholders given a day and process substitutions a file name.
std::vector<std::string> StitcherCommands() {
  static const std::regex kCommand(R"((^|[\s('=]|exec )(stitcher\s(?:[^|;'&]|\|\||'[^']*')*))");
  std::vector<std::string> commands;
  for (std::string line : CodeLines()) {
    for (size_t at; (at = line.find("{#}")) != std::string::npos;) line.replace(at, 3, "1");
    for (size_t at; (at = line.find("{}")) != std::string::npos;) line.replace(at, 2, "2024-03-04");
    for (std::sregex_iterator m(line.begin(), line.end(), kCommand), end; m != end; ++m) {
      // A process substitution (bash's "<(ssh web1 tail -F ...)") stands for a file: here
      // it is one, so that nothing is run on another host and sh reads the command.
      static const std::regex kSubstitution(R"(<\([^)]*\))");
      commands.push_back(std::regex_replace((*m)[2].str(), kSubstitution, "substituted.log"));
    }
  }
  return commands;
}

TEST(Examples, EveryStitcherCommandIsOneTheProgramAccepts) {
  const std::vector<std::string> commands = StitcherCommands();
  EXPECT_GT(commands.size(), 10u) << "the examples were not found";
  const fs::path dir = FreshDirectory("example-commands");
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    // --help after every argument: the program reads them all, checks every value, then
    // prints the usage text instead of merging.
    const ProgramRun run = RunShell(dir, command + " --help");
    EXPECT_EQ(run.status, 0) << run.console;
    EXPECT_EQ(run.console, "");
  }
  fs::remove_all(dir);
}

}  // namespace

#endif
