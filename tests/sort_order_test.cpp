// The order of the merged log, whatever the inputs' own order: for inputs sorted, nearly
// sorted (delays within the sort window and beyond it) and shuffled, in every container and
// on 1, 2 and 4 threads, the merged log holds exactly the input entries and, where the
// window or a full sort can order them, equals a stable sort of all entries by time (ties by
// input, then by place in the input). An interrupted full sort leaves no temporary file.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "compressed_fixtures.h"
#include "program_runner.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

enum class Kind { Sorted, NearlySorted, BeyondWindow, Shuffled };

struct Entry {
  int64_t seconds;  // since 2024-03-30 00:00:00
  std::string id;   // unique: "<input>-<place>"
};

// One input's entries in the order it holds them. Stamps tie often (two entries a second on
// average), so the order of equal keys is tested everywhere.
std::vector<Entry> MakeEntries(Kind kind, int input, int count, std::mt19937& random) {
  std::vector<Entry> entries;
  int64_t clock = 3600;
  for (int i = 0; i < count; ++i) {
    clock += static_cast<int64_t>(random() % 4);
    int64_t stamp = clock;
    // Apache stamps a request when it arrives and writes it when it ends: a few slow ones
    // come up to 9 minutes late (within the 10-minute window) or, beyond it, up to 3 hours.
    if (kind == Kind::NearlySorted && random() % 10 == 0) stamp -= random() % 540;
    if (kind == Kind::BeyondWindow && random() % 50 == 0) stamp -= 900 + random() % 10000;
    entries.push_back(
        Entry{std::max<int64_t>(stamp, 0), std::to_string(input) + "-" + std::to_string(i)});
  }
  if (kind == Kind::Shuffled) std::shuffle(entries.begin(), entries.end(), random);
  return entries;
}

std::string Stamp(int64_t seconds) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d/Mar/2024:%02d:%02d:%02d +0000",
                static_cast<int>(30 + seconds / 86400), static_cast<int>(seconds / 3600 % 24),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

std::string LogText(const std::vector<Entry>& entries) {
  std::string text;
  for (const Entry& e : entries) {
    text += "192.0.2.7 - - [" + Stamp(e.seconds) + "] \"GET /r/" + e.id +
            " HTTP/1.1\" 200 512 \"-\" \"Mozilla/5.0\"\n";
  }
  return text;
}

// Every container, one input each.
struct Container {
  const char* suffix;
  std::string (*bytes)(const std::string& text);
};
const Container kContainers[] = {
    {".log", [](const std::string& t) { return t; }},
    {".log.gz", [](const std::string& t) { return GzipBytes(t); }},
    {".log.bz2", [](const std::string& t) { return Bzip2Bytes(t); }},
    {".log.xz", [](const std::string& t) { return XzBytes(t); }},
    {".log.zst", [](const std::string& t) { return ZstdBytes(t); }},
    {".zip",
     [](const std::string& t) {
       return ZipBytes({{"access.log", t}});
     }},
};

// The ids of the merged log, in order, and their stamps back as seconds.
std::vector<Entry> ReadMerged(const std::string& merged) {
  std::vector<Entry> entries;
  for (const std::string& line : SplitLines(merged)) {
    const size_t open = line.find('[');
    const size_t path = line.find("/r/");
    if (open == std::string::npos || path == std::string::npos) continue;
    int day = 0, hour = 0, minute = 0, second = 0;
    std::sscanf(line.c_str() + open + 1, "%d/Mar/2024:%d:%d:%d", &day, &hour, &minute, &second);
    const size_t end = line.find(' ', path);
    entries.push_back(Entry{(day - 30) * 86400 + hour * 3600 + minute * 60 + second,
                            line.substr(path + 3, end - path - 3)});
  }
  return entries;
}

std::vector<std::string> Ids(const std::vector<Entry>& entries) {
  std::vector<std::string> ids;
  for (const Entry& e : entries) ids.push_back(e.id);
  return ids;
}

struct KindCase {
  const char* name;
  Kind kind;
  bool window_orders;  // the default sort window orders it; else only --sort=full does
};

TEST(SortOrder, MergedLogIsTheStableSortOfAllEntriesWhateverTheInputsOrder) {
  const KindCase kinds[] = {
      {"sorted", Kind::Sorted, true},
      {"nearly sorted within the window", Kind::NearlySorted, true},
      {"late beyond the window", Kind::BeyondWindow, false},
      {"shuffled", Kind::Shuffled, false},
  };
  std::mt19937 random(20240330);
  for (const KindCase& k : kinds) {
    SCOPED_TRACE(k.name);
    const fs::path dir = FreshDirectory("sort-order");
    std::vector<std::string> names;
    std::vector<Entry> all;  // in input order, then place: a stable sort gives the reference
    int input = 0;
    for (const Container& container : kContainers) {
      const std::vector<Entry> entries = MakeEntries(k.kind, input, 700, random);
      const std::string name = "in" + std::to_string(input) + container.suffix;
      WriteFile(dir / name, container.bytes(LogText(entries)));
      names.push_back(name);
      all.insert(all.end(), entries.begin(), entries.end());
      ++input;
    }
    std::vector<Entry> reference = all;
    std::stable_sort(reference.begin(), reference.end(),
                     [](const Entry& a, const Entry& b) { return a.seconds < b.seconds; });
    std::vector<std::string> as_multiset = Ids(all);
    std::sort(as_multiset.begin(), as_multiset.end());

    for (const char* mode : {"--sort=window", "--sort=full"}) {
      for (const char* threads : {"--threads=1", "--threads=2", "--threads=4"}) {
        SCOPED_TRACE(std::string(mode) + " " + threads);
        std::vector<std::string> args = {"-Plain",    "--output-format=ncsa", threads, mode, "-o",
                                         "merged.log"};
        args.insert(args.end(), names.begin(), names.end());
        const ProgramRun run = RunStitcher(dir, args);
        ASSERT_EQ(run.status, 0) << run.console;
        const std::vector<Entry> merged = ReadMerged(ReadFile(dir / "merged.log"));
        std::vector<std::string> ids = Ids(merged);
        std::sort(ids.begin(), ids.end());
        EXPECT_TRUE(ids == as_multiset) << "an entry was lost or doubled";
        const bool ordered = k.window_orders || std::string(mode) == "--sort=full";
        const bool late_said =
            run.console.find("out of order beyond the sort window") != std::string::npos;
        if (ordered) {
          EXPECT_TRUE(
              std::is_sorted(merged.begin(), merged.end(),
                             [](const Entry& a, const Entry& b) { return a.seconds < b.seconds; }));
          EXPECT_TRUE(Ids(merged) == Ids(reference)) << "not the stable order of ties";
          EXPECT_FALSE(late_said) << run.console;
        } else {
          EXPECT_TRUE(late_said) << run.console;
        }
      }
    }
    fs::remove_all(dir);
  }
}

// Names of the temporary files the process holds open (a scratch file shows as
// "<path> (deleted)").
std::vector<std::string> OpenFilesIn(pid_t pid, const fs::path& directory) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    const fs::path target = fs::read_symlink(fd.path(), error);
    if (!error && target.string().rfind(directory.string(), 0) == 0) {
      found.push_back(target.string());
    }
  }
  return found;
}

// A signal while --sort=full holds sorted runs of its inputs in the temporary directory:
// the run ends by the signal and leaves nothing there, nor a partial merged log.
TEST(SortOrder, ASignalDuringAFullSortLeavesNothingInTheTemporaryDirectory) {
  const fs::path dir = FreshDirectory("sort-full-signal");
  const fs::path temporary = dir / "tmp";
  fs::create_directories(temporary);
  std::mt19937 random(7);
  WriteFile(dir / "first.log", LogText(MakeEntries(Kind::Shuffled, 0, 2000, random)));
  // The pipe holds the program in its second input, after the first was sorted into a run.
  std::mt19937 second_random(8);
  FifoFeeder feeder(dir / "second.log", LogText(MakeEntries(Kind::Shuffled, 1, 500, second_random)),
                    "");
  ASSERT_TRUE(feeder.Opened());
  const fs::path console = dir.string() + ".console";
  RunningProgram running =
      StartProgram("/usr/bin/env", dir,
                   {"TMPDIR=" + temporary.string(), STITCHER_BINARY, "-Plain", "--sort=full", "-o",
                    "merged.log", "first.log", "second.log"},
                   console, -1, [] {});
  EXPECT_TRUE(WaitUntil([&] { return !OpenFilesIn(running.pid, temporary).empty(); }))
      << "no sorted run was made in TMPDIR";
  kill(running.pid, SIGTERM);
  const int status = WaitProgram(running);
  EXPECT_NE(status, 0);
  EXPECT_TRUE(fs::is_empty(temporary));
  EXPECT_EQ(PartialFilesIn(dir), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(dir / "merged.log"));
  fs::remove(console);
  fs::remove_all(dir);
}

}  // namespace
