// The progress line: its text, drawn and cleared on a terminal (standard error on a
// pseudo-terminal), cleared before any message, and never drawn into a pipe.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/messages.h"
#include "driver/merge.h"
#include "driver/progress.h"
#include "program_runner.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

struct TextCase {
  ProgressFigures figures;
  const char* text;
};

TEST(ProgressText, FilesBytesEntriesRateAndTimeLeft) {
  const TextCase cases[] = {
      {{5, 20, 1'200'000'000, 3'400'000'000, 4'100'000, 6.0},
       "[ 5/20 files]  1.2 of 3.4 GB  35 %  4.1 M entries  200.0 MB/s  0:11 left"},
      {{0, 2, 0, 5'000, 0, 0.0}, "[0/2 files]  0.0 of 5.0 KB  0 %  0 entries"},
      // A pipe has no size: bytes without a total, and no time left.
      {{1, 3, 2'500'000, 0, 512, 2.0}, "[1/3 files]  2.5 MB  512 entries  1.2 MB/s"},
      // Everything read: no time left is shown.
      {{2, 2, 900, 900, 12'345, 1.0}, "[2/2 files]  900 of 900 B  100 %  12.3 k entries  900 B/s"},
      {{1, 1, 1, 3'600'000, 1, 1.0},
       "[1/1 files]  0.0 of 3.6 MB  0 %  1 entries  1 B/s  999:59:59 left"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ProgressText(c.figures), c.text);
  }
}

// The line on standard error, and a message said while it is shown: the message clears it.
TEST(ProgressLine, AMessageClearsTheLineFirst) {
  std::FILE* capture = std::tmpfile();
  ASSERT_NE(capture, nullptr);
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  dup2(fileno(capture), STDERR_FILENO);
  SetMessageStream(stderr);
  std::vector<MergeInput> inputs(1);
  inputs[0].name = "/nonexistent/input.log";
  StartProgressLine(inputs, true);
  ProgressSchedule schedule = StartProgress(false);
  ReportProgress(schedule, 256);
  Say("Something happened.\n");
  EndProgressLine();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  ResetMessages();
  std::rewind(capture);
  std::string text;
  for (int c; (c = std::fgetc(capture)) != EOF;) text += static_cast<char>(c);
  std::fclose(capture);
  EXPECT_EQ(text, "\r[0/1 files]  0 B  256 entries\x1b[K\r\x1b[KSomething happened.\n");
}

// Runs the program with standard error on a fresh pseudo-terminal and standard output into
// a file; `screen` gets everything that reached the terminal.
int RunWithTerminalErrors(const fs::path& dir, const std::vector<std::string>& args,
                          std::string& screen) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return -1;
  RunningProgram running = StartProgram(STITCHER_BINARY, dir, args, dir.string() + ".out", -1,
                                        [slave] { dup2(slave, STDERR_FILENO); });
  close(slave);
  // Read until every holder of the terminal's other side has gone (EIO), so the program
  // never waits on a full terminal buffer.
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, n);
  close(master);
  fs::remove(dir.string() + ".out");
  return WaitProgram(running);
}

// Two inputs of 300 entries each: the first check, after 256 merged entries, draws the line.
fs::path TwoInputs(const std::string& name) {
  const fs::path dir = FreshDirectory(name);
  for (const char* file : {"a.log", "b.log"}) {
    std::string text;
    for (int i = 0; i < 300; ++i) {
      char line[128];
      std::snprintf(line, sizeof line,
                    "10.0.0.1 - - [05/Mar/2024:10:%02d:%02d +0000] \"GET /%s/%d HTTP/1.1\" 200 9\n",
                    i / 60, i % 60, file, i);
      text += line;
    }
    WriteFile(dir / file, text);
  }
  return dir;
}

TEST(ProgressLine, DrawnAndClearedOnATerminal) {
  const fs::path dir = TwoInputs("progress-terminal");
  std::string screen;
  EXPECT_EQ(RunWithTerminalErrors(dir, {"-p", "-o", "merged.log", "a.log", "b.log"}, screen), 0);
  // The terminal holds the messages, the line and its clearing.
  const size_t drawn = screen.find("\r[0/2 files]");
  ASSERT_NE(drawn, std::string::npos) << screen;
  EXPECT_NE(screen.find(" entries", drawn), std::string::npos) << screen;
  const std::string clear = "\r\x1b[K";
  // Cleared at the end: after the last drawing, only the closing line follows the clearing.
  const size_t cleared = screen.rfind(clear);
  ASSERT_NE(cleared, std::string::npos) << screen;
  EXPECT_GT(cleared, screen.rfind("\r[")) << screen;
  EXPECT_TRUE(screen.substr(cleared + clear.size()).starts_with("Wrote 600 entries")) << screen;
  EXPECT_EQ(screen.find('\r', cleared + clear.size()), screen.size() - 2) << screen;
  fs::remove_all(dir);
}

TEST(ProgressLine, NotDrawnWhenTurnedOffOrQuiet) {
  const fs::path dir = TwoInputs("progress-off");
  for (const char* off : {"--no-progress", "--quiet", "--progress=no"}) {
    SCOPED_TRACE(off);
    std::string screen;
    EXPECT_EQ(RunWithTerminalErrors(dir, {off, "-p", "-o", "merged.log", "a.log", "b.log"}, screen),
              0);
    EXPECT_EQ(screen.find("\r["), std::string::npos) << screen;
    EXPECT_EQ(screen.find("\x1b[K"), std::string::npos) << screen;
  }
  fs::remove_all(dir);
}

TEST(ProgressLine, NothingOfItInAPipeUnlessForced) {
  const fs::path dir = TwoInputs("progress-pipe");
  const ProgramRun plain = RunStitcher(dir, {"-p", "-o", "merged.log", "a.log", "b.log"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_TRUE(plain.console.starts_with("Writing webstar lines.\nMerging . . .\nWrote 600 entries"))
      << plain.console;
  EXPECT_EQ(plain.console.find('\r'), std::string::npos) << plain.console;
  const ProgramRun forced =
      RunStitcher(dir, {"--progress", "-p", "-o", "merged.log", "a.log", "b.log"});
  EXPECT_NE(forced.console.find("\r[0/2 files]"), std::string::npos) << forced.console;
  fs::remove_all(dir);
}

}  // namespace
