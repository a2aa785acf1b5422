// The merged log's path among hostile neighbours and interruptions, with the real program:
// objects others planted at its names are never opened, followed or waited on; two runs
// into one directory each publish a whole file; an ending signal leaves no partial file.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "program_runner.h"

#ifdef STITCHER_BINARY

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// What a run says that published merged.gz in `dir`: the merge, then where it went.
bool SaysPublished(const std::string& console, const fs::path& dir) {
  return console.starts_with("Writing webstar lines.\nMerging . . .\nWrote ") &&
         console.ends_with(" (WebSTAR, gzip) to '" + (fs::canonical(dir) / "merged.gz").string() +
                           "'.\n");
}

// The merged text the program makes of `logs` (name, content) in a directory of its own.
std::string ReferenceMerge(const std::vector<std::pair<std::string, std::string>>& logs) {
  const fs::path dir = FreshDirectory("safety-reference");
  std::vector<std::string> args;
  for (const auto& [name, text] : logs) {
    WriteFile(dir / name, text);
    args.push_back(name);
  }
  const ProgramRun run = RunStitcher(dir, args);
  EXPECT_EQ(run.status, 0);
  const std::string merged = Gunzip(ReadFile(dir / "merged.gz"));
  fs::remove_all(dir);
  return merged;
}

std::string FileType(const fs::path& path) {
  const fs::file_status status = fs::symlink_status(path);
  std::string type = "other";
  if (fs::is_symlink(status)) {
    type = "symlink to ";
    type += fs::read_symlink(path).string();
  } else if (fs::is_fifo(status)) {
    type = "fifo";
  } else if (fs::is_regular_file(status)) {
    type = "file: ";
    type += ReadFile(path);
  }
  return type;
}

class OutputAmongNeighbours : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);  // a program that ends early leaves a FIFO unread
    dir = FreshDirectory("output-safety");
    console = FreshDirectory("output-safety-console") / "console";
  }
  void TearDown() override {
    fs::remove_all(dir);
    fs::remove_all(console.parent_path());
  }

  // Starts the program on `args` in `dir`.
  RunningProgram Start(const std::vector<std::string>& args) {
    return StartProgram(STITCHER_BINARY, dir, args, console, -1, [] {});
  }

  fs::path dir;
  fs::path console;
};

// Whatever another user planted at the merged log's names (the fixed partial name earlier
// versions wrote through, or the final name), the run opens none of it: a symlink's target
// (here one of the very logs being merged, or a file of root's) is untouched, a FIFO is
// never waited on, and the published merged log is a new regular file of the user's,
// complete, with the mode from the umask.
TEST_F(OutputAmongNeighbours, PlantedObjectsAreNeverOpened) {
  const std::string a = AccessLines(1, 300, 0);
  const std::string b = AccessLines(2, 300, 1);
  const std::string expected = ReferenceMerge({{"a.log", a}, {"b.log", b}});
  ASSERT_NE(expected.find("/h2/299"), std::string::npos);

  enum class Plant { LinkToLog, LinkToVictim, ForeignFile, Fifo };
  struct Case {
    const char* label;
    const char* name;  // planted at
    Plant plant;
  };
  const Case cases[] = {
      {"partial name: symlink to a log being merged", "merged.gz.partial", Plant::LinkToLog},
      {"partial name: symlink to root's file", "merged.gz.partial", Plant::LinkToVictim},
      {"partial name: another user's file, mode 666", "merged.gz.partial", Plant::ForeignFile},
      {"partial name: FIFO", "merged.gz.partial", Plant::Fifo},
      {"final name: symlink to root's file", "merged.gz", Plant::LinkToVictim},
      {"final name: another user's file, mode 666", "merged.gz", Plant::ForeignFile},
      {"final name: FIFO", "merged.gz", Plant::Fifo},
  };
  const mode_t umask_now = umask(022);
  umask(umask_now);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path victims = FreshDirectory("output-safety-victims");
    WriteFile(dir / "a.log", a);
    WriteFile(dir / "b.log", b);
    WriteFile(victims / "root-only", "root's own file\n");
    const fs::path planted = dir / c.name;
    switch (c.plant) {
      case Plant::LinkToLog:
        fs::create_symlink(dir / "b.log", planted);
        break;
      case Plant::LinkToVictim:
        fs::create_symlink(victims / "root-only", planted);
        break;
      case Plant::ForeignFile:
        WriteFile(planted, "planted\n");
        ASSERT_EQ(chmod(planted.c_str(), 0666), 0);
        if (geteuid() == 0) {
          ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
        }
        break;
      case Plant::Fifo:
        ASSERT_EQ(mkfifo(planted.c_str(), 0666), 0);
        break;
    }
    const std::string planted_before = FileType(planted);

    RunningProgram run = Start({"a.log", "b.log"});
    const int status = WaitProgramFor(run, 60);
    ASSERT_NE(status, kProgramHung);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(SaysPublished(ReadFile(console), dir)) << ReadFile(console);

    EXPECT_EQ(ReadFile(dir / "b.log"), b);
    EXPECT_EQ(ReadFile(victims / "root-only"), "root's own file\n");
    if (std::string(c.name) != "merged.gz") {
      EXPECT_EQ(FileType(planted), planted_before) << "the planted object stays as it was";
    }
    struct stat published {};
    ASSERT_EQ(lstat((dir / "merged.gz").c_str(), &published), 0);
    EXPECT_TRUE(S_ISREG(published.st_mode));
    EXPECT_EQ(published.st_uid, geteuid());
    EXPECT_EQ(published.st_mode & 07777, 0666 & ~umask_now);
    EXPECT_EQ(Gunzip(ReadFile(dir / "merged.gz")), expected);
    const std::vector<std::string> partial_files = PartialFilesIn(dir);
    if (std::string(c.name) == "merged.gz") {
      EXPECT_TRUE(partial_files.empty());
    } else {
      EXPECT_EQ(partial_files, std::vector<std::string>{c.name}) << "the run's own is gone";
    }
    fs::remove_all(victims);
  }
}

// Two runs into one directory at once: each writes a file of its own, each publishes a
// complete merged log, and the one that finishes last is what stays. The first run is held
// in the middle of its merge (its second log is a FIFO the test feeds) while the second
// runs from start to end.
TEST_F(OutputAmongNeighbours, TwoRunsIntoOneDirectoryEachPublishAWholeFile) {
  const std::string a = AccessLines(1, 2000, 0);
  const std::string head = AccessLines(2, 20000, 1);  // far more than one read of the FIFO
  const std::string tail = AccessLines(3, 500, 30000);
  const std::string c = AccessLines(4, 1000, 2);
  const std::string first_run = ReferenceMerge({{"a.log", a}, {"b.log", head + tail}});
  const std::string second_run = ReferenceMerge({{"a.log", a}, {"c.log", c}});
  ASSERT_NE(first_run, second_run);

  WriteFile(dir / "a.log", a);
  WriteFile(dir / "c.log", c);
  FifoFeeder feeder(dir / "b.fifo", head, tail);
  ASSERT_TRUE(feeder.Opened());
  RunningProgram first = Start({"a.log", "b.fifo"});
  ASSERT_TRUE(WaitUntil([&] { return !PartialFilesIn(dir).empty(); }))
      << "the first run never started writing";

  const ProgramRun second = RunStitcher(dir, {"a.log", "c.log"});
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(SaysPublished(second.console, dir)) << second.console;
  EXPECT_EQ(Gunzip(ReadFile(dir / "merged.gz")), second_run);
  EXPECT_EQ(PartialFilesIn(dir).size(), 1u) << "the first run's file is its own";

  feeder.Release();
  EXPECT_EQ(WaitProgram(first), 0);
  EXPECT_TRUE(SaysPublished(ReadFile(console), dir)) << ReadFile(console);
  EXPECT_EQ(Gunzip(ReadFile(dir / "merged.gz")), first_run) << "the last rename wins";
  EXPECT_TRUE(PartialFilesIn(dir).empty());
}

// SIGINT, SIGTERM and SIGHUP in the middle of a merge: the partial file is removed, the
// earlier merged log stays, and the exit status is 128 + the signal's number.
TEST_F(OutputAmongNeighbours, EndingSignalsRemoveThePartialFile) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    fs::remove_all(dir);
    fs::create_directories(dir);
    WriteFile(dir / "a.log", AccessLines(1, 2000, 0));
    WriteFile(dir / "merged.gz", "the merged log of an earlier run\n");
    FifoFeeder feeder(dir / "b.fifo", AccessLines(2, 20000, 1), AccessLines(3, 10, 30000));
    ASSERT_TRUE(feeder.Opened());
    RunningProgram run = Start({"a.log", "b.fifo"});
    ASSERT_TRUE(WaitUntil([&] { return !PartialFilesIn(dir).empty(); }))
        << "the run never started writing";

    ASSERT_EQ(kill(run.pid, signal_number), 0);
    EXPECT_EQ(WaitProgram(run), 128 + signal_number);
    EXPECT_TRUE(PartialFilesIn(dir).empty());
    EXPECT_EQ(ReadFile(dir / "merged.gz"), "the merged log of an earlier run\n");
  }
}

}  // namespace

#endif  // STITCHER_BINARY
