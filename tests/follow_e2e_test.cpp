// Following growing logs: writers append to logs (and rotate them) while the program
// follows; the merged log must hold exactly the entries written, in time order except for
// the entries the program counts as late. Nothing here depends on how fast the machine is:
// the test waits for what the program writes or says, never for a fixed time.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driver/settings.h"
#include "program_runner.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

constexpr int64_t kBase = 1728568800;  // 2024-10-10T14:00:00Z

// One NCSA combined line as nginx writes it, for the instant `utc` written in a zone
// `offset_minutes` east of UTC, with a request path that names it.
std::string NcsaLine(int64_t utc, int offset_minutes, const std::string& path) {
  const time_t local = static_cast<time_t>(utc + offset_minutes * 60);
  std::tm t{};
  gmtime_r(&local, &t);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S", &t);
  const int size = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  char line[256];
  std::snprintf(line, sizeof line,
                "203.0.113.7 - - [%s %c%02d%02d] \"GET %s HTTP/1.1\" 200 512 \"-\" "
                "\"Mozilla/5.0\"\n",
                stamp, offset_minutes < 0 ? '-' : '+', size / 60, size % 60, path.c_str());
  return line;
}

void Append(const fs::path& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
}

// Waits until `done` holds; the bound only stops a broken follower from hanging the suite.
bool WaitUntil(const std::function<bool()>& done) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The complete lines of a text (a last line without its LF is not complete yet).
std::vector<std::string> CompleteLines(const std::string& text) {
  std::vector<std::string> lines = SplitLines(text);
  if (!text.empty() && text.back() != '\n') lines.pop_back();
  return lines;
}

// The request path of an NCSA line ("/w1/17").
std::string PathOf(const std::string& line) {
  const size_t get = line.find("\"GET ");
  if (get == std::string::npos) return "";
  return line.substr(get + 5, line.find(' ', get + 5) - (get + 5));
}

// The UTC stamp of an NCSA line written with --timezone=UTC, as seconds.
int64_t SecondsOf(const std::string& line) {
  std::tm t{};
  const size_t open_bracket = line.find('[');
  if (open_bracket == std::string::npos) return -1;
  strptime(line.c_str() + open_bracket + 1, "%d/%b/%Y:%H:%M:%S", &t);
  return static_cast<int64_t>(timegm(&t));
}

// Entries written after an entry of a later time: what the program counts as late.
int64_t CountOutOfOrder(const std::vector<std::string>& lines) {
  int64_t late = 0, latest = -1;
  for (const std::string& line : lines) {
    const int64_t at = SecondsOf(line);
    if (at < latest) ++late;
    latest = std::max(latest, at);
  }
  return late;
}

// The late count of the program's last line.
int64_t LateSaid(const std::string& console) {
  const size_t at = console.rfind(" of them late");
  if (at == std::string::npos) return -1;
  const size_t start = console.rfind(", ", at);
  return std::stoll(console.substr(start + 2, at - start - 2));
}

// A follower run: the program started in `dir`, its console in `dir`/../console.
struct Follower {
  fs::path dir;
  fs::path console;
  RunningProgram program;

  Follower(const fs::path& directory, const std::vector<std::string>& args, int stdin_fd = -1)
      : dir(directory), console(directory.string() + ".console") {
    // A console left by an earlier run in the same directory (a repeated test) must not
    // answer for this one.
    fs::remove(console);
    program = StartProgram(STITCHER_BINARY, dir, args, console, stdin_fd, [] {});
  }
  ~Follower() {
    if (program.pid > 0) {
      kill(program.pid, SIGKILL);
      WaitProgram(program);
    }
  }
  std::string Console() const { return ReadFile(console); }
  std::vector<std::string> Lines(const std::string& name = "merged.log") const {
    return CompleteLines(ReadFile(dir / name));
  }
  bool WaitForLines(size_t count, const std::string& name = "merged.log") const {
    return WaitUntil([&] { return Lines(name).size() >= count; });
  }
  bool WaitForSaying(const std::string& text) const {
    return WaitUntil([&] { return Console().find(text) != std::string::npos; });
  }
  // Ends the run with `signal`; its exit status.
  int End(int signal_number) {
    kill(program.pid, signal_number);
    return WaitProgramFor(program, 60);
  }
};

const std::vector<std::string> kPlainUtc = {
    "--follow",  "--lateness=200ms",     "--timezone=UTC", "--verbose",
    "-p",        "--output-format=ncsa", "--no-header",    "-o",
    "merged.log"};

std::vector<std::string> Args(std::vector<std::string> inputs) {
  std::vector<std::string> args = kPlainUtc;
  args.insert(args.end(), inputs.begin(), inputs.end());
  return args;
}

// Three servers in three zones write at their own random paces, a few entries out of order;
// one log is rotated by rename and create, another by copy and truncate, midway. Every
// entry written comes out once, and every entry out of time order is one the program
// counted as late.
TEST(Follow, ThreeWritersWithRotationsGiveEveryEntryOnceInOrderOrCountedLate) {
  const fs::path dir = FreshDirectory("follow-three");
  // Existing content, merged first as a batch merge would.
  Append(dir / "a.log", NcsaLine(kBase - 30, 0, "/w0/old"));
  Append(dir / "b.log", NcsaLine(kBase - 20, 120, "/w1/old"));
  Append(dir / "c.log", NcsaLine(kBase - 10, -300, "/w2/old"));
  Follower follower(dir, Args({"a.log", "b.log", "c.log"}));
  ASSERT_TRUE(follower.WaitForSaying("Caught up")) << follower.Console();

  constexpr int kEach = 150;
  const int offsets[3] = {0, 120, -300};
  std::vector<std::thread> writers;
  for (int w = 0; w < 3; ++w) {
    writers.emplace_back([&, w] {
      std::mt19937 random(static_cast<unsigned>(w + 1));
      const fs::path log = dir / (std::string(1, static_cast<char>('a' + w)) + ".log");
      int64_t at = kBase;
      for (int i = 0; i < kEach; ++i) {
        if (i == kEach / 2 && w == 0) {
          // logrotate "create": the server writes on into the renamed file until it
          // reopens its log, then into the new one.
          fs::rename(log, dir / "a.log.1");
          Append(dir / "a.log.1", NcsaLine(at, offsets[w], "/w0/after-rename"));
          Append(log, "");
        }
        if (i == kEach / 2 && w == 1) {
          // logrotate "copytruncate": what was read is copied away, the log emptied.
          ASSERT_TRUE(WaitUntil([&] {
            int seen = 0;
            for (const std::string& line : follower.Lines())
              seen += PathOf(line).rfind("/w1/", 0) == 0;
            return seen == i + 1;
          }));
          fs::copy_file(log, dir / "b.log.1");
          fs::resize_file(log, 0);
          ASSERT_TRUE(follower.WaitForSaying("'b.log' was truncated"));
        }
        at += static_cast<int64_t>(random() % 3);
        // Now and then an entry a few seconds back, as a server writes a slow request
        // when it ends: within the sort window.
        const int64_t stamp = random() % 8 == 0 ? at - 4 : at;
        Append(log,
               NcsaLine(stamp, offsets[w], "/w" + std::to_string(w) + "/" + std::to_string(i)));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
      }
    });
  }
  for (std::thread& t : writers) t.join();
  const size_t total = 3 + 3 * kEach + 1;
  ASSERT_TRUE(follower.WaitForLines(total)) << follower.Console();
  EXPECT_EQ(follower.End(SIGTERM), 0) << follower.Console();

  const std::vector<std::string> lines = follower.Lines();
  const std::string text = ReadFile(dir / "merged.log");
  ASSERT_EQ(text.back(), '\n');
  std::map<std::string, int> seen;
  for (const std::string& line : lines) ++seen[PathOf(line)];
  EXPECT_EQ(lines.size(), total);
  for (int w = 0; w < 3; ++w) {
    const std::string prefix = "/w" + std::to_string(w) + "/";
    EXPECT_EQ(seen[prefix + "old"], 1);
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(seen[prefix + std::to_string(i)], 1) << prefix << i;
  }
  EXPECT_EQ(seen["/w0/after-rename"], 1);
  const std::string console = follower.Console();
  EXPECT_EQ(LateSaid(console), CountOutOfOrder(lines)) << console;
  // The existing content came first, in time order.
  EXPECT_EQ(PathOf(lines[0]), "/w0/old");
  EXPECT_EQ(PathOf(lines[1]), "/w1/old");
  EXPECT_EQ(PathOf(lines[2]), "/w2/old");
}

// An entry for a time already written is written at once and counted, also with --quiet.
TEST(Follow, AnEntryArrivingAfterALaterOneIsWrittenAndCountedLate) {
  const fs::path dir = FreshDirectory("follow-late");
  Append(dir / "a.log", "");
  Append(dir / "b.log", "");
  std::vector<std::string> args = Args({"a.log", "b.log"});
  args.push_back("--quiet");
  Follower follower(dir, args);
  // b.log shows nothing, so a.log's entry waits for the lateness alone.
  Append(dir / "a.log", NcsaLine(kBase + 10, 0, "/a/10"));
  ASSERT_TRUE(follower.WaitForLines(1));
  Append(dir / "b.log", NcsaLine(kBase + 5, 0, "/b/5"));
  ASSERT_TRUE(follower.WaitForLines(2));
  EXPECT_EQ(follower.End(SIGINT), 0);
  const std::vector<std::string> lines = follower.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(PathOf(lines[0]), "/a/10");
  EXPECT_EQ(PathOf(lines[1]), "/b/5");
  EXPECT_EQ(LateSaid(follower.Console()), 1) << follower.Console();
}

// Entries of both inputs wait until the other input has shown a later time, so they come
// out in order however their writes interleave. Without a sort window an input's own
// entries keep their order, so what an input has shown is all it holds back.
TEST(Follow, EntriesWaitForTheOtherInputToShowALaterTime) {
  const fs::path dir = FreshDirectory("follow-order");
  Append(dir / "a.log", "");
  Append(dir / "b.log", "");
  std::vector<std::string> args = Args({"a.log", "b.log", "--sort-window=0"});
  args[1] = "--lateness=1h";  // only what the inputs show releases an entry
  Follower follower(dir, args);
  ASSERT_TRUE(follower.WaitForSaying("Caught up"));
  Append(dir / "a.log", NcsaLine(kBase + 3, 0, "/a/3"));
  Append(dir / "a.log", NcsaLine(kBase + 6, 0, "/a/6"));
  Append(dir / "b.log", NcsaLine(kBase + 1, 0, "/b/1"));
  Append(dir / "b.log", NcsaLine(kBase + 4, 0, "/b/4"));
  // b has shown 4: everything up to 4 goes out, a's 6 waits for b.
  ASSERT_TRUE(follower.WaitForLines(3));
  Append(dir / "b.log", NcsaLine(kBase + 9, 0, "/b/9"));
  ASSERT_TRUE(follower.WaitForLines(4));
  // b's 9 waits for a to show 9 or later (it came in the batch of a's 6 if it did not).
  EXPECT_EQ(follower.Lines().size(), 4u);
  EXPECT_EQ(follower.End(SIGHUP), 0);
  std::vector<std::string> paths;
  for (const std::string& line : follower.Lines()) paths.push_back(PathOf(line));
  // A signal writes everything read.
  EXPECT_EQ(paths, (std::vector<std::string>{"/b/1", "/a/3", "/b/4", "/a/6", "/b/9"}));
  EXPECT_EQ(LateSaid(follower.Console()), 0);
}

// Each input's sort window applies while following: an input's entries that arrive out of
// order within the window come out in time order once every input has shown a time a
// window later; one that arrives after a later entry of its input was written is written
// at once and counted, in the last line and for its input.
TEST(Follow, EachInputsSortWindowPutsItsEntriesInOrder) {
  // Just before midnight: the window's reach crosses into the next day. In real time the
  // entries are merged by instant, else by their clock time as written.
  constexpr int64_t kNight = kBase + 10 * 3600 - 15;  // 23:59:45
  for (const bool real_time : {true, false}) {
    SCOPED_TRACE(real_time ? "real time" : "clock time");
    const fs::path dir = FreshDirectory(real_time ? "follow-window-real" : "follow-window-clock");
    Append(dir / "a.log", "");
    Append(dir / "b.log", "");
    std::vector<std::string> args = Args({"a.log", "b.log", "--sort-window=10s"});
    args[1] = "--lateness=1h";  // only what the inputs show releases an entry
    if (!real_time) args.erase(std::find(args.begin(), args.end(), "--timezone=UTC"));
    Follower follower(dir, args);
    ASSERT_TRUE(follower.WaitForSaying("Caught up"));
    for (const int at : {10, 7, 9})
      Append(dir / "a.log", NcsaLine(kNight + at, 0, "/a/" + std::to_string(at)));
    Append(dir / "b.log", NcsaLine(kNight + 30, 0, "/b/30"));
    // a has shown 25 and b 30: everything up to 15 (25 less the window) may go.
    Append(dir / "a.log", NcsaLine(kNight + 25, 0, "/a/25"));
    ASSERT_TRUE(follower.WaitForLines(3)) << follower.Console();
    // An entry of a for a time before a's written 10: late beyond the window.
    Append(dir / "a.log", NcsaLine(kNight + 8, 0, "/a/8"));
    ASSERT_TRUE(follower.WaitForLines(4)) << follower.Console();
    EXPECT_EQ(follower.Lines().size(), 4u);
    EXPECT_EQ(follower.End(SIGTERM), 0);
    std::vector<std::string> paths;
    for (const std::string& line : follower.Lines()) paths.push_back(PathOf(line));
    EXPECT_EQ(paths, (std::vector<std::string>{"/a/7", "/a/9", "/a/10", "/a/8", "/a/25", "/b/30"}));
    const std::string console = follower.Console();
    EXPECT_EQ(LateSaid(console), 1) << console;
    EXPECT_NE(console.find("'a.log': 1 entry came up to 17s behind a later entry of the same log"),
              std::string::npos)
        << console;
    EXPECT_EQ(console.find("'b.log':"), std::string::npos) << console;
  }
}

// The lateness bounds the wait of an entry held in a sort window as well: a log alone,
// whose window spans hours, still has its entries written, in time order when they were
// read together.
TEST(Follow, TheLatenessLetsEntriesOutOfTheSortWindow) {
  const fs::path dir = FreshDirectory("follow-window-lateness");
  Append(dir / "a.log", "");
  Follower follower(dir, Args({"a.log", "--sort-window=6h"}));
  ASSERT_TRUE(follower.WaitForSaying("Caught up"));
  Append(dir / "a.log", NcsaLine(kBase + 60, 0, "/60") + NcsaLine(kBase, 0, "/0"));
  ASSERT_TRUE(follower.WaitForLines(2)) << follower.Console();
  EXPECT_EQ(follower.End(SIGINT), 0);
  std::vector<std::string> paths;
  for (const std::string& line : follower.Lines()) paths.push_back(PathOf(line));
  EXPECT_EQ(paths, (std::vector<std::string>{"/0", "/60"}));
  EXPECT_EQ(LateSaid(follower.Console()), 0) << follower.Console();
}

// A FIFO and standard input are followed as their writers write; an ended pipe ends that
// input only, and when every input has ended the run ends by itself.
TEST(Follow, PipesAreReadAsTheyComeAndEndOnlyTheirInput) {
  const fs::path dir = FreshDirectory("follow-pipes");
  ASSERT_EQ(mkfifo((dir / "web.fifo").c_str(), 0600), 0);
  int pipe_fds[2];
  // Close-on-exec: the program must hold no write end of its own standard input.
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  Append(dir / "a.log", "");
  Follower follower(dir, Args({"a.log", "web.fifo", "/dev/stdin"}), pipe_fds[0]);
  close(pipe_fds[0]);
  std::thread fifo_writer([&] {
    const int fd = open((dir / "web.fifo").c_str(), O_WRONLY);
    for (int i = 0; i < 50; ++i) {
      const std::string line = NcsaLine(kBase + i, 60, "/fifo/" + std::to_string(i));
      ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    close(fd);
  });
  for (int i = 0; i < 50; ++i) {
    const std::string line = NcsaLine(kBase + i, -60, "/stdin/" + std::to_string(i));
    // Written in two pieces: a line cut across reads is still one entry.
    ASSERT_EQ(write(pipe_fds[1], line.data(), 10), 10);
    ASSERT_EQ(write(pipe_fds[1], line.data() + 10, line.size() - 10),
              static_cast<ssize_t>(line.size() - 10));
  }
  close(pipe_fds[1]);
  fifo_writer.join();
  ASSERT_TRUE(follower.WaitForSaying("Input 'web.fifo' ended"));
  ASSERT_TRUE(follower.WaitForSaying("Input '/dev/stdin' ended"));
  // The file is still followed after both pipes ended.
  Append(dir / "a.log", NcsaLine(kBase + 100, 0, "/file/100"));
  ASSERT_TRUE(follower.WaitForLines(101)) << follower.Console();
  EXPECT_EQ(follower.End(SIGTERM), 0);
  std::map<std::string, int> seen;
  for (const std::string& line : follower.Lines()) ++seen[PathOf(line)];
  EXPECT_EQ(seen.size(), 101u);
  for (const auto& [path, count] : seen) EXPECT_EQ(count, 1) << path;
  EXPECT_EQ(LateSaid(follower.Console()), CountOutOfOrder(follower.Lines()));
}

TEST(Follow, StandardInputAloneEndsTheRunWhenItEnds) {
  const fs::path dir = FreshDirectory("follow-stdin");
  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  Follower follower(dir, Args({"/dev/stdin"}), pipe_fds[0]);
  close(pipe_fds[0]);
  const std::string text = NcsaLine(kBase, 0, "/1") + NcsaLine(kBase + 1, 0, "/2") +
                           "203.0.113.7 - - [10/Oct/2024:14:00:02 +0000] \"GET /3 HTTP/1.1\" 200 1";
  ASSERT_EQ(write(pipe_fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(pipe_fds[1]);
  EXPECT_EQ(WaitProgramFor(follower.program, 60), 0) << follower.Console();
  std::vector<std::string> paths;
  for (const std::string& line : follower.Lines()) paths.push_back(PathOf(line));
  // The last line had no line end: at the end of the pipe it is an entry all the same.
  EXPECT_EQ(paths, (std::vector<std::string>{"/1", "/2", "/3"}));
}

// Ending by a signal while a writer appends fast: the merged log (gzip, one member per
// batch) is whole and ends with a complete line; every flushed batch could be read before.
TEST(Follow, ASignalEndsGzipOutputAtACompleteLine) {
  const fs::path dir = FreshDirectory("follow-signal");
  Append(dir / "a.log", "");
  std::vector<std::string> args = {"--follow", "--lateness=0", "--output-format=ncsa",
                                   "-o",       "merged.gz",    "a.log"};
  Follower follower(dir, args);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i)
      Append(dir / "a.log", NcsaLine(kBase + i, 0, "/" + std::to_string(i)));
  });
  ASSERT_TRUE(WaitUntil([&] {
    const std::string text = Gunzip(ReadFile(dir / "merged.gz"));
    return text.find("<damaged") == std::string::npos && SplitLines(text).size() >= 200;
  }));
  EXPECT_EQ(follower.End(SIGINT), 0);
  stop = true;
  writer.join();
  const std::string text = Gunzip(ReadFile(dir / "merged.gz"));
  ASSERT_EQ(text.find("<damaged"), std::string::npos);
  ASSERT_EQ(text.back(), '\n');
  const std::vector<std::string> lines = SplitLines(text);
  for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(PathOf(lines[i]), "/" + std::to_string(i));
}

// A second run appends to the merged log of the first instead of replacing it, and writes
// no second header into the middle of it.
TEST(Follow, TheMergedLogIsAppendedTo) {
  const fs::path dir = FreshDirectory("follow-append");
  Append(dir / "a.log", NcsaLine(kBase, 0, "/first"));
  const std::vector<std::string> args = {"--follow", "--follow-until=2000-01-01", "-p", "a.log"};
  ASSERT_EQ(RunStitcher(dir, args).status, 0);
  WriteFile(dir / "a.log", NcsaLine(kBase + 1, 0, "/second"));
  ProgramRun run = RunStitcher(dir, args);
  ASSERT_EQ(run.status, 0) << run.console;
  const std::vector<std::string> lines = SplitLines(ReadFile(dir / "merged.log"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("!!LOG_FORMAT", 0), 0u);
  EXPECT_NE(lines[1].find("/first"), std::string::npos);
  EXPECT_NE(lines[2].find("/second"), std::string::npos);
}

// The number of entries the console says came late in `input` ("'log0': 3 entries ..."),
// or 0 when it says nothing of it.
int64_t LateInInput(const std::string& console, const std::string& input) {
  const std::string head = "'" + input + "': ";
  const size_t at = console.find(head);
  return at == std::string::npos ? 0 : std::stoll(console.substr(at + head.size()));
}

// The existing content is merged exactly as a batch merge merges it, also where many
// entries of several logs share a second across the follower's reads, and where entries of
// a log are out of order within its sort window (put in their place) and beyond it (late).
TEST(Follow, TheExistingContentIsMergedAsABatchMergeDoes) {
  const fs::path dir = FreshDirectory("follow-catch-up");
  const int offsets[3] = {0, 60, -60};
  for (int w = 0; w < 3; ++w) {
    std::string text;
    for (int i = 0; i < 3000; ++i) {
      const int64_t back = i % 7 == 3 ? 20 : i % 1000 == 999 ? 1200 : 0;
      text += NcsaLine(kBase + i * (w + 1) / 3 - back, offsets[w],
                       "/w" + std::to_string(w) + "/" + std::to_string(i));
    }
    WriteFile(dir / ("log" + std::to_string(w)), text);
  }
  const std::vector<std::string> common = {"-p",   "--timezone=UTC", "--output-format=ncsa",
                                           "log0", "log1",           "log2"};
  std::vector<std::string> batch = common;
  batch.insert(batch.end(), {"-o", "batch.log"});
  std::vector<std::string> follow = common;
  follow.insert(follow.end(), {"-o", "follow.log", "--follow", "--follow-until=2000-01-01"});
  const ProgramRun batch_run = RunStitcher(dir, batch);
  ASSERT_EQ(batch_run.status, 0) << batch_run.console;
  const ProgramRun run = RunStitcher(dir, follow);
  ASSERT_EQ(run.status, 0) << run.console;
  EXPECT_EQ(ReadFile(dir / "follow.log"), ReadFile(dir / "batch.log"));
  for (const char* input : {"log0", "log1", "log2"}) {
    SCOPED_TRACE(input);
    EXPECT_GT(LateInInput(batch_run.console, input), 0) << batch_run.console;
    EXPECT_EQ(LateInInput(run.console, input), LateInInput(batch_run.console, input))
        << run.console;
  }
  EXPECT_EQ(LateSaid(run.console), CountOutOfOrder(SplitLines(ReadFile(dir / "follow.log"))));
}

// A log that does not exist yet is followed from its first line once it appears; a
// compressed log cannot be followed and is left out with the reason.
TEST(Follow, ALogAppearingLaterIsReadWholeAndACompressedOneIsLeftOut) {
  const fs::path dir = FreshDirectory("follow-later");
  WriteFile(dir / "old.gz", std::string("\x1f\x8b\x08\x00", 4));
  Follower follower(dir, Args({"new.log", "old.gz"}));
  ASSERT_TRUE(follower.WaitForSaying("Waiting for 'new.log' to appear"));
  ASSERT_TRUE(follower.WaitForSaying("Left out 'old.gz': gzip files cannot be followed"));
  Append(dir / "new.log", NcsaLine(kBase, 0, "/1") + NcsaLine(kBase + 1, 0, "/2"));
  ASSERT_TRUE(follower.WaitForLines(2));
  // The left-out input was lost: the status says so.
  EXPECT_EQ(follower.End(SIGTERM), 2);
}

// A log in a directory that does not exist yet cannot be watched: its name is looked at on
// a timer instead, and it is followed all the same, through a rotation too.
TEST(Follow, ALogWhoseDirectoryCannotBeWatchedIsPolled) {
  const fs::path dir = FreshDirectory("follow-polled");
  Follower follower(dir, Args({"later/web.log"}));
  ASSERT_TRUE(follower.WaitForSaying("Waiting for 'later/web.log' to appear"));
  fs::create_directory(dir / "later");
  Append(dir / "later/web.log", NcsaLine(kBase, 0, "/1"));
  ASSERT_TRUE(follower.WaitForLines(1)) << follower.Console();
  fs::rename(dir / "later/web.log", dir / "later/web.log.1");
  Append(dir / "later/web.log.1", NcsaLine(kBase + 1, 0, "/2"));
  Append(dir / "later/web.log", NcsaLine(kBase + 2, 0, "/3"));
  ASSERT_TRUE(follower.WaitForLines(3)) << follower.Console();
  EXPECT_EQ(follower.End(SIGTERM), 0);
  std::vector<std::string> paths;
  for (const std::string& line : follower.Lines()) paths.push_back(PathOf(line));
  EXPECT_EQ(paths, (std::vector<std::string>{"/1", "/2", "/3"}));
}

// A file whose content ends before the size it had at the start (a log cut and partly
// rewritten while it was being caught up; here a kernel file, whose size is a page whatever
// it holds) ends its catch-up where its content ends: the run goes live and new entries of
// the other inputs are written.
TEST(Follow, AFileEndingShortOfItsSizeEndsItsCatchUp) {
  std::string short_file;
  for (const char* path : {"/sys/devices/system/cpu/online", "/sys/kernel/uevent_seqnum",
                           "/sys/kernel/mm/transparent_hugepage/enabled"}) {
    struct stat facts {};
    if (stat(path, &facts) == 0 && S_ISREG(facts.st_mode) &&
        static_cast<size_t>(facts.st_size) > ReadFile(path).size()) {
      short_file = path;
      break;
    }
  }
  if (short_file.empty()) GTEST_SKIP() << "no file here reads shorter than its size";
  const fs::path dir = FreshDirectory("follow-short");
  Append(dir / "a.log", NcsaLine(kBase, 0, "/1"));
  Follower follower(dir, Args({"a.log", short_file}));
  ASSERT_TRUE(follower.WaitForSaying("Caught up")) << follower.Console();
  Append(dir / "a.log", NcsaLine(kBase + 1, 0, "/2"));
  ASSERT_TRUE(follower.WaitForLines(2)) << follower.Console();
  follower.End(SIGTERM);
  std::vector<std::string> paths;
  for (const std::string& line : follower.Lines()) paths.push_back(PathOf(line));
  EXPECT_EQ(paths, (std::vector<std::string>{"/1", "/2"}));
}

// A log renamed away while its entries wait for another input (more of them than the
// follower holds, so the rest stays in the file) is read to its end before the new file
// under its name: none of its entries is lost.
TEST(Follow, ALogReplacedWhileItsEntriesWaitIsReadToItsEnd) {
  const fs::path dir = FreshDirectory("follow-replaced-waiting");
  Append(dir / "a.log", "");
  Append(dir / "b.log", "");
  std::vector<std::string> args = Args({"a.log", "b.log", "--sort-window=0"});
  args[1] = "--lateness=1h";  // only what b shows releases a's entries
  Follower follower(dir, args);
  ASSERT_TRUE(follower.WaitForSaying("Caught up"));
  // Some megabytes of entries: more than wait in memory for one input.
  constexpr int kOld = 80000;
  std::string old_lines;
  for (int i = 0; i < kOld; ++i)
    old_lines += NcsaLine(kBase + i / 100, 0, "/a/" + std::to_string(i));
  Append(dir / "a.log", old_lines);
  fs::rename(dir / "a.log", dir / "a.log.1");
  Append(dir / "a.log", NcsaLine(kBase + 5000, 0, "/a/new"));
  Append(dir / "b.log", NcsaLine(kBase + 4000, 0, "/b/1"));
  ASSERT_TRUE(follower.WaitForLines(kOld + 1)) << follower.Console();
  EXPECT_EQ(follower.End(SIGTERM), 0);
  const std::vector<std::string> lines = follower.Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kOld + 2));
  for (int i = 0; i < kOld; ++i)
    ASSERT_EQ(PathOf(lines[static_cast<size_t>(i)]), "/a/" + std::to_string(i));
  EXPECT_EQ(PathOf(lines[kOld]), "/b/1");
  EXPECT_EQ(PathOf(lines[kOld + 1]), "/a/new");
}

TEST(Follow, LatenessTakesADurationWithAUnit) {
  struct Case {
    const char* text;
    bool valid;
    int64_t ms;
  };
  const Case cases[] = {
      {"2s", true, 2000},  {"2", true, 2000},   {"500ms", true, 500},  {"1.5", true, 1500},
      {"0.001s", true, 1}, {"1m", true, 60000}, {"1h", true, 3600000}, {"0", true, 0},
      {"", false, 0},      {"s", false, 0},     {"2x", false, 0},      {"-1s", false, 0},
      {"1.s", false, 0},   {"2h", false, 0},    {"1e3", false, 0},     {"2 s", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Settings target;
    target.lateness_ms = -7;
    EXPECT_EQ(SetLateness(target, c.text), c.valid);
    EXPECT_EQ(target.lateness_ms, c.valid ? c.ms : -7);
  }
}

}  // namespace
