// The merge engine: the progress schedule, and runs
// of the program that folders cannot express (thousands of inputs, an output that fails
// part-way, standard output as a gzip stream or a terminal, the open-file limit).

#include "driver/merge.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "base/file_spec.h"
#include "driver/progress.h"
#include "program_runner.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// ---- Progress schedule -----------------------------------------------------------------

TEST(ProgressSchedule, FirstReportAfterElevenSecondsThenStepsOfFifteen) {
  ProgressSchedule schedule{1000, 1000};
  int64_t rate = -1;
  EXPECT_FALSE(ProgressDue(schedule, 1010, 256, rate));
  EXPECT_EQ(schedule.last_report, 1000);
  ASSERT_TRUE(ProgressDue(schedule, 1011, 3000, rate));
  EXPECT_EQ(schedule.last_report, 1015);
  EXPECT_EQ(rate, 200);  // 3000 lines / 15 seconds of schedule
  EXPECT_FALSE(ProgressDue(schedule, 1025, 3256, rate));
  EXPECT_TRUE(ProgressDue(schedule, 1026, 3512, rate));
  EXPECT_EQ(schedule.last_report, 1030);
}

TEST(ProgressSchedule, AfterAStallReportsFollowUntilTheScheduleCatchesUp) {
  ProgressSchedule schedule{0, 0};
  int64_t rate = 0;
  std::vector<int64_t> rates;
  for (int64_t merged = 256; ProgressDue(schedule, 100, merged, rate); merged += 256) {
    rates.push_back(rate);
  }
  // Schedule points 15, 30, ... 90 are each more than 10 seconds behind 100; 105 is not.
  EXPECT_EQ(rates,
            (std::vector<int64_t>{256 / 15, 512 / 30, 768 / 45, 1024 / 60, 1280 / 75, 1536 / 90}));
  EXPECT_EQ(schedule.last_report, 90);
}

TEST(ProgressSchedule, AClockBeforeTheStartNeverReportsNorDividesByZero) {
  ProgressSchedule schedule{500, 500};
  int64_t rate = 0;
  EXPECT_FALSE(ProgressDue(schedule, 0, 256, rate));
  EXPECT_FALSE(ProgressDue(schedule, 510, 256, rate));
}

// ---- Whole runs ------------------------------------------------------------------------

std::string ClfLine(int input, int line, int second) {
  char text[160];
  std::snprintf(
      text, sizeof text,
      "10.0.%d.%d - - [05/Mar/2001:10:%02d:%02d -0500] \"GET /f%d/l%d HTTP/1.0\" 200 %d\n",
      input / 250, input % 250, second / 60, second % 60, input, line, line);
  return text;
}

// Thousands of inputs: every one stays open, nothing is written past a table, and the order
// is by time, ties to the input named first, each input's own lines in their order.
TEST(MergeRun, FiveThousandInputsMergeInOrder) {
  constexpr int kInputs = 5000;
  const fs::path dir = FreshDirectory("merge-5000");
  WriteFile(dir / "Stitcher.cfg", "output-format ncsa\nnewlines unix\ncompress no\n");
  // Times repeat across inputs so that many keys tie; each input's third line goes back
  // in time and, with the sort window off, must still follow its second line.
  auto second_of = [](int i, int l) {
    const int seconds[3] = {(i * 7) % 600, (i * 7) % 600 + (i % 3), (i * 11) % 300};
    return seconds[l];
  };
  std::vector<std::string> args = {"--sort-window=0"};
  for (int i = 0; i < kInputs; ++i) {
    const std::string name = "in" + std::to_string(i) + ".log";
    args.push_back(name);
    std::string text;
    for (int l = 0; l < 3; ++l) text += ClfLine(i, l, second_of(i, l));
    WriteFile(dir / name, text);
  }
  // The expected order: one pending line per input, repeatedly the smallest
  // (pending time, input index).
  std::vector<int> next(kInputs, 0);
  std::vector<std::tuple<int, int>> heap;  // (time, input), min-heap via greater<>
  for (int i = 0; i < kInputs; ++i) heap.emplace_back(second_of(i, 0), i);
  std::make_heap(heap.begin(), heap.end(), std::greater<>());
  std::string expected_text;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), std::greater<>());
    const auto [second, input] = heap.back();
    heap.pop_back();
    expected_text += "/f" + std::to_string(input) + "/l" + std::to_string(next[input]) + "\n";
    if (++next[input] < 3) {
      heap.emplace_back(second_of(input, next[input]), input);
      std::push_heap(heap.begin(), heap.end(), std::greater<>());
    }
  }

  const ProgramRun run = RunStitcher(dir, args);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(
      run.console,
      "Writing ncsa lines.\nMerging . . .\nWrote 15,000 entries (NCSA combined, plain text) to '" +
          (fs::canonical(dir) / "merged.log").string() + "'.\n");
  // Reduce every merged line to its path, which names input and line.
  std::string produced;
  const std::string merged = ReadFile(dir / "merged.log");
  size_t at = 0;
  int lines = 0;
  while (at < merged.size()) {
    const size_t end = merged.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = merged.substr(at, end - at);
    const size_t get = line.find("\"GET ");
    ASSERT_NE(get, std::string::npos) << line;
    produced += line.substr(get + 5, line.find(' ', get + 5) - (get + 5)) + "\n";
    at = end + 1;
    ++lines;
  }
  EXPECT_EQ(lines, 3 * kInputs);
  EXPECT_TRUE(produced == expected_text) << "merged order differs from (time, input) order";
  fs::remove_all(dir);
}

// The output's container follows -Plain and -L: the folder cases compare decompressed
// text, so whether the file really is gzip, and at which level, is checked here.
TEST(MergeRun, OutputContainerFollowsPlainAndLevel) {
  struct Case {
    std::vector<std::string> switches;
    std::string file;
    bool gzip;
    bool text_visible;  // the line bytes appear verbatim in the file (plain, or stored at L0)
    std::string line_end;
  };
  const Case cases[] = {
      {{"-L0"}, "merged.gz", true, true, "\n"},  // native line ends by default
      {{"-L9", "-Mac"}, "merged.gz", true, false, "\r"},
      {{}, "merged.gz", true, false, "\n"},
      {{"-Plain", "-L5", "-Dos"}, "merged.log", false, true, "\r\n"},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const auto& s : c.switches) label += s + " ";
    SCOPED_TRACE(label);
    const fs::path dir = FreshDirectory("merge-container");
    // Enough repetition that level 9 visibly compresses it.
    std::string a, b;
    for (int i = 0; i < 50; ++i) {
      a += ClfLine(1, i, 2 * i);
      b += ClfLine(2, i, 2 * i + 1);
    }
    WriteFile(dir / "a.log", a);
    WriteFile(dir / "b.log", b);
    std::vector<std::string> args = c.switches;
    args.push_back("a.log");
    args.push_back("b.log");
    const ProgramRun run = RunStitcher(dir, args);
    EXPECT_EQ(run.status, 0);
    const std::string bytes = ReadFile(dir / c.file);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0] == '\x1f' && bytes[1] == '\x8b', c.gzip);
    const std::string entry_line = "\t/f1/l0\t-\t200\t0\t-\t-\t-\t\"-\"\t-" + c.line_end;
    EXPECT_EQ(bytes.find(entry_line) != std::string::npos, c.text_visible);
    fs::remove_all(dir);
  }
}

// A run whose output fails part-way ends with status 1, and the merged log of an earlier
// run stays as it was: the new one is written beside it and only renamed over it when
// complete. Here a file-size limit stops the output: the write fails (the program is not
// killed by SIGXFSZ) and says so.
TEST(MergeRun, FailedOutputKeepsTheEarlierMergedLog) {
  for (const char* plain : {"-Plain", "-Unix"}) {
    SCOPED_TRACE(plain);
    const bool compress = std::string(plain) != "-Plain";
    const std::string final_name = compress ? "merged.gz" : "merged.log";
    const fs::path dir = FreshDirectory("merge-file-size-limit");
    std::string a, b;
    for (int i = 0; i < 3000; ++i) {  // far beyond the limit, even compressed
      a += ClfLine(1, i * 7919 % 3000, i);
      b += ClfLine(2, i * 104729 % 3000, i);
    }
    WriteFile(dir / "a.log", a);
    WriteFile(dir / "b.log", b);
    WriteFile(dir / final_name, "the good merged log of an earlier run\n");

    // The limit is set in the shell that then becomes the program (blocks of 512 or 1024
    // bytes, by shell).
    const ProgramRun run = RunProgram(
        "/bin/sh", dir,
        {"-c", "ulimit -f 4 && exec \"$0\" \"$@\"", STITCHER_BINARY, plain, "a.log", "b.log"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.console, "Writing webstar lines.\nMerging . . .\nWrite error on output file!\n");
    EXPECT_EQ(ReadFile(dir / final_name), "the good merged log of an earlier run\n");
    for (const auto& entry : fs::directory_iterator(dir)) {
      EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos)
          << "the incomplete output is removed: " << entry.path();
    }
    fs::remove_all(dir);
  }
}

// Paths go to the system's limit, far beyond the 256 characters of old platforms: logs in
// a deep directory merge beside themselves.
TEST(MergeRun, LogsInADeepDirectoryMergeBesideThemselves) {
  const fs::path dir = FreshDirectory("merge-deep-directory");
  const std::string sub = std::string(200, 'd') + "/" + std::string(200, 'e');
  fs::create_directories(dir / sub);
  WriteFile(dir / sub / "a.log", ClfLine(1, 0, 10));
  WriteFile(dir / sub / "b.log", ClfLine(2, 0, 5));
  const ProgramRun run = RunStitcher(dir, {"-Plain", "-Unix", sub + "/a.log", sub + "/b.log"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.console,
            "Writing webstar lines.\nMerging . . .\nWrote 2 entries (WebSTAR, plain text) to '" +
                (fs::canonical(dir) / sub / "merged.log").string() + "'.\n");
  const std::string merged = ReadFile(dir / sub / "merged.log");
  EXPECT_NE(merged.find("/f2/l0"), std::string::npos);
  EXPECT_NE(merged.find("/f1/l0"), std::string::npos);
  EXPECT_LT(merged.find("/f2/l0"), merged.find("/f1/l0"));
  fs::remove_all(dir);
}

// Creates the directory chain `components` under `base` one step at a time (the whole path
// may be too long for a single call) and writes `files` in its last directory.
void MakeDeepFiles(const fs::path& base, const std::vector<std::string>& components,
                   const std::vector<std::pair<std::string, std::string>>& files) {
  int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (const std::string& name : components) {
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0) << name.size();
    const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  for (const auto& [name, bytes] : files) {
    const int file = openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(file);
  }
  close(fd);
}

// Reads `name` in the directory chain `components` under `base`.
std::string ReadDeepFile(const fs::path& base, const std::vector<std::string>& components,
                         const std::string& name) {
  std::string path;
  for (const std::string& c : components) path += c + "/";
  const int fd =
      openat(open(base.c_str(), O_RDONLY | O_DIRECTORY), (path + name).c_str(), O_RDONLY);
  std::string bytes;
  char buffer[256];
  for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  if (fd >= 0) close(fd);
  return bytes;
}

// A first log file so deep that the output's name would be cut at the system's limit: the
// output is not opened under the cut name (nor over a file that happens to have it).
TEST(MergeRun, OutputNameTooLongIsAnOutputError) {
  const fs::path dir = FreshDirectory("merge-long-output-name");
  // "./" + sub + "/" is 4087 characters: "sub/a.log" fits the limit of 4095, and
  // "merged.gz" beside it would be cut to "merged.g".
  constexpr size_t kSubLength = 4084;
  static_assert(kSubLength + 3 + 8 == FileSpec::kPathSize - 1);
  std::vector<std::string> components;
  std::string sub;
  while (sub.size() < kSubLength) {
    const size_t room = kSubLength - sub.size() - (sub.empty() ? 0 : 1);
    components.push_back(std::string(std::min<size_t>(room, 200), 'd'));
    sub += (sub.empty() ? "" : "/") + components.back();
  }
  ASSERT_EQ(sub.size(), kSubLength);
  MakeDeepFiles(dir, components,
                {{"a.log", ClfLine(1, 0, 10)},
                 {"b.log", ClfLine(2, 0, 5)},
                 {"merged.g", "an unrelated file\n"}});

  const ProgramRun run = RunStitcher(dir, {"-v", sub + "/a.log", sub + "/b.log"});
  EXPECT_EQ(run.status, 1);
  // The message names the path as far as it could be kept, and the reason.
  EXPECT_TRUE(run.console.starts_with("Opened '" + sub + "/a.log'.\nOpened '" + sub +
                                      "/b.log'.\nError opening output file '" + sub))
      << run.console;
  EXPECT_TRUE(run.console.ends_with("': File name too long.\nComplete.\n")) << run.console;
  EXPECT_EQ(ReadDeepFile(dir, components, "merged.g"), "an unrelated file\n");
  fs::remove_all(dir);
}

// ---- Standard output -------------------------------------------------------------------

// -Output - with compression asked for: standard output carries the gzip stream and nothing
// else; the messages go to standard error and no file is created.
TEST(MergeRun, StandardOutputCarriesOnlyTheGzipStream) {
  const fs::path dir = FreshDirectory("merge-stdout-gzip");
  WriteFile(dir / "a.log", ClfLine(1, 0, 10));
  WriteFile(dir / "b.log", ClfLine(2, 0, 5));
  RunOptions options;
  options.separate_output = true;
  const ProgramRun run =
      RunStitcher(dir, {"-v", "--compress", "-Output", "-", "a.log", "b.log"}, options);
  EXPECT_EQ(run.status, 0);
  ASSERT_GE(run.output.size(), 2u);
  EXPECT_EQ(run.output.substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(run.console.substr(0, 17), "Opened 'a.log'.\nO");
  EXPECT_EQ(run.output.find("Merging"), std::string::npos);
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) files += entry.is_regular_file();
  EXPECT_EQ(files, 2u) << "only the two inputs";
  fs::remove_all(dir);
}

// Runs the program with standard output on a fresh pseudo-terminal and standard error on a
// pipe. Returns the exit status; `screen` gets what reached the terminal, `errors` what
// reached standard error.
int RunOnTerminal(const fs::path& dir, const std::vector<std::string>& args, std::string& screen,
                  std::string& errors) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return -1;
  int error_pipe[2];
  if (pipe(error_pipe) != 0) return -1;
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(99);
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    dup2(error_pipe[1], STDERR_FILENO);
    std::vector<char*> argv;
    std::string program = STITCHER_BINARY;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(98);
  }
  close(slave);
  close(error_pipe[1]);
  int status = -1;
  waitpid(child, &status, 0);
  char buffer[4096];
  for (ssize_t n; (n = read(error_pipe[0], buffer, sizeof buffer)) > 0;) errors.append(buffer, n);
  for (pollfd p{master, POLLIN, 0}; poll(&p, 1, 100) == 1 && (p.revents & POLLIN);) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    screen.append(buffer, n);
  }
  close(master);
  close(error_pipe[0]);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Like gzip, compressed data is never sent to a terminal; plain text is.
TEST(MergeRun, CompressedDataIsNotWrittenToATerminal) {
  const fs::path dir = FreshDirectory("merge-stdout-terminal");
  WriteFile(dir / "a.log", ClfLine(1, 0, 10));
  std::string screen, errors;
  EXPECT_EQ(RunOnTerminal(dir, {"--output=-", "--compress", "a.log"}, screen, errors), 1);
  EXPECT_EQ(screen, "");
  EXPECT_EQ(errors,
            "Compressed data is not written to a terminal: add -Plain, or redirect standard "
            "output.\n");

  screen.clear();
  errors.clear();
  EXPECT_EQ(
      RunOnTerminal(dir, {"--output=-", "-Plain", "--output-format=ncsa", "a.log"}, screen, errors),
      0);
  EXPECT_NE(screen.find("\"GET /f1/l0 HTTP/1.0\" 200 0"), std::string::npos) << screen;
  EXPECT_EQ(errors,
            "Writing ncsa lines.\nMerging . . .\nWrote 1 entry (NCSA combined, plain text) to "
            "standard output.\n");
  fs::remove_all(dir);
}

// A temporary file of a merge in passes that cannot be written (here the file-size limit)
// fails the run as a failed output does: status 1, the reason said, the earlier merged log
// kept and nothing left behind.
TEST(MergeRun, AFailedTemporaryFileOfAPassFailsTheRun) {
  const fs::path dir = FreshDirectory("merge-pass-file-size-limit");
  std::string names;
  for (int input = 0; input < 3; ++input) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += ClfLine(input, i, i);
    const std::string name = "in" + std::to_string(input) + ".log";
    WriteFile(dir / name, text);
    names += name + " ";
  }
  WriteFile(dir / "merged.log", "the good merged log of an earlier run\n");
  const ProgramRun run = RunProgram("/bin/sh", dir,
                                    {"-c", "ulimit -f 4 && exec \"$0\" \"$@\"", STITCHER_BINARY,
                                     "-Plain", "--max-open=2", "in0.log", "in1.log", "in2.log"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.console,
            "Error writing a temporary file of the merge: cannot write the temporary file in "
            "'.': File too large.\n");
  EXPECT_EQ(ReadFile(dir / "merged.log"), "the good merged log of an earlier run\n");
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 4u) << "the inputs and the earlier merged log, nothing else";
  fs::remove_all(dir);
}

// ---- The open-file limit ---------------------------------------------------------------

// Runs the program under `ulimit -n <limit>` in `dir` with `args`; the console and the status.
std::pair<std::string, int> RunWithOpenFileLimit(const fs::path& dir, int limit,
                                                 const std::string& args) {
  // The shell joins the streams before the limit: a redirection of one command would need a
  // descriptor above the limit to save the old one in.
  const std::string command = "cd " + ShellQuote(dir.string()) + " && exec 2>&1 && ulimit -n " +
                              std::to_string(limit) + " && exec " + ShellQuote(STITCHER_BINARY) +
                              " " + args;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {"", -1};
  std::string console;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) console.append(buffer, n);
  const int raw = pclose(pipe);
  return {console, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}

// More inputs than the hard limit on open files lets the program hold open are merged in
// passes through temporary files: the merged log is the one a run without the limit writes,
// and no temporary file is left behind.
TEST(MergeRun, MoreInputsThanTheOpenFileLimitAreMergedInPasses) {
  const fs::path dir = FreshDirectory("merge-open-file-limit");
  std::string names;
  for (int i = 0; i < 20; ++i) {
    const std::string name = "in" + std::to_string(i) + ".log";
    // Every input has entries of the same seconds, so ties decide much of the order.
    WriteFile(dir / name, ClfLine(i, 0, 5) + ClfLine(i, 1, 5 + i % 3) + ClfLine(i, 2, 9));
    names += " " + name;
  }
  const auto [console, status] = RunWithOpenFileLimit(dir, 12, "-Plain -o limited.log" + names);
  EXPECT_EQ(status, 0) << console;
  EXPECT_EQ(console,
            "Writing webstar lines.\nMerging . . .\nWrote 60 entries (WebSTAR, plain text) to '" +
                (fs::canonical(dir) / "limited.log").string() + "'.\n");
  const auto unlimited = RunWithOpenFileLimit(dir, 4096, "-Plain -o unlimited.log" + names);
  EXPECT_EQ(unlimited.second, 0) << unlimited.first;
  const std::string merged = ReadFile(dir / "unlimited.log");
  EXPECT_GT(std::count(merged.begin(), merged.end(), '\n'), 60);
  EXPECT_TRUE(ReadFile(dir / "limited.log") == merged);
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 22u) << "the inputs and the two merged logs, nothing else";
  fs::remove_all(dir);
}

// With --dedupe, a line another input repeats at the same time is written once also when the
// temporary files of a run must be combined to stay within the open-file limit, in passes
// and with --sort=full; an input's own repeats are its lines and are all kept.
TEST(MergeRun, DedupeDropsOtherInputsRepeatsWhenTemporaryFilesAreCombined) {
  const fs::path dir = FreshDirectory("merge-open-file-limit-dedupe");
  const std::string shared =
      "192.0.2.1 - - [05/Mar/2001:10:00:00 -0500] \"GET /shared HTTP/1.0\" 200 1\n";
  std::string names;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "in" + std::to_string(i) + ".log";
    std::string lines = shared + ClfLine(i, 1, 1 + i % 7);
    if (i == 0) lines = shared + lines;  // the first input repeats the line itself
    WriteFile(dir / name, lines);
    names += " " + name;
  }
  for (const std::string mode : {"", " --sort=full"}) {
    SCOPED_TRACE(mode);
    const auto [console, status] =
        RunWithOpenFileLimit(dir, 16, "-Plain --dedupe -o limited.log" + mode + names);
    EXPECT_EQ(status, 0) << console;
    const std::string merged = ReadFile(dir / "limited.log");
    size_t repeats = 0;
    for (size_t at = merged.find("/shared"); at != std::string::npos;
         at = merged.find("/shared", at + 1)) {
      ++repeats;
    }
    EXPECT_EQ(repeats, 2u) << merged;  // both of the first input's, none of the others'
    EXPECT_NE(console.find("Dropped 39 duplicate entries."), std::string::npos) << console;
    EXPECT_EQ(std::count(merged.begin(), merged.end(), '\n'), 1 + 2 + 40) << merged;
  }
  fs::remove_all(dir);
}

// When the limit leaves no room even for a pass of two inputs, the message says so and
// gives the limit, and the run's status says input was lost.
TEST(MergeRun, TooManyOpenFilesIsSaidWithTheLimit) {
#ifdef __SANITIZE_ADDRESS__
  // The sanitizers' runtime checks a virtual call through a pipe of its own, which a process
  // with every descriptor taken cannot make: it would report the call itself as invalid.
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
  const fs::path dir = FreshDirectory("merge-open-file-limit-tiny");
  std::string names;
  for (int i = 0; i < 5; ++i) {
    const std::string name = "in" + std::to_string(i) + ".log";
    WriteFile(dir / name, ClfLine(i, 0, i));
    names += " " + name;
  }
  const auto [console, status] = RunWithOpenFileLimit(dir, 5, "-Plain" + names);
  EXPECT_NE(status, 0) << console;
  EXPECT_NE(console.find("Error opening input file 'in1.log': too many open files; limit 5.\n"),
            std::string::npos)
      << console;
  fs::remove_all(dir);
}

}  // namespace
