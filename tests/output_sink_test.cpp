// The merged log's sinks (failure reported once, entries counted only when written) and
// its destination (name beside the first input, a partial file of its own, mode and group
// kept, same-file guard, publish).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "base/messages.h"
#include "output/deflate_sink.h"
#include "output/destination.h"
#include "output/sink.h"
#include "platform/descriptor.h"
#include "program_runner.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// Runs `action` with the message channel captured; returns what it said.
template <typename Action>
std::string Said(Action action) {
  ::testing::internal::CaptureStdout();
  action();
  return ::testing::internal::GetCapturedStdout();
}

class Sinks : public ::testing::Test {
 protected:
  void SetUp() override { ResetMessages(); }
  void TearDown() override { ResetMessages(); }
};

// ---- Failures --------------------------------------------------------------------------

TEST_F(Sinks, UnbufferedWriteToAFullDeviceFailsOnceAndStaysFailed) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  auto sink = MakePlainSink(full);
  bool ok = true;
  EXPECT_EQ(Said([&] { ok = sink->Write("line\n", 1); }), "Write error on output file!\n");
  EXPECT_FALSE(ok);
  EXPECT_TRUE(FailureReported());
  // Later writes and the finish do not repeat the message, and count nothing.
  EXPECT_EQ(Said([&] { ok = sink->Write("more\n", 1); }), "");
  EXPECT_FALSE(ok);
  std::optional<int64_t> written;
  EXPECT_EQ(Said([&] { written = sink->Finish(); }), "");
  EXPECT_FALSE(written.has_value());
  EXPECT_EQ(sink->Written(), 0);
}

TEST_F(Sinks, AFailedFinalFlushOrGzipCloseIsAWriteFailure) {
  // A buffered stream and the compressor both accept the batch; the device refuses it only
  // when the sink finishes.
  struct Case {
    const char* name;
    bool gzip;
  };
  for (const Case& c : {Case{"plain", false}, Case{"gzip", true}}) {
    SCOPED_TRACE(c.name);
    ResetMessages();
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    auto sink = c.gzip ? MakeDeflateSink(full, 9, 1) : MakePlainSink(full);
    ASSERT_NE(sink, nullptr);
    bool ok = false;
    EXPECT_EQ(Said([&] { ok = sink->Write("line\n", 1); }), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(sink->Written(), 1);
    std::optional<int64_t> written;
    EXPECT_EQ(Said([&] { written = sink->Finish(); }), "Write error on output file!\n");
    EXPECT_FALSE(written.has_value());
    // A second finish changes nothing and says nothing.
    EXPECT_EQ(Said([&] { written = sink->Finish(); }), "");
    EXPECT_FALSE(written.has_value());
  }
}

// ---- Bytes and counts --------------------------------------------------------------------

TEST_F(Sinks, PlainSinkWritesTheBatchesAndCountsTheirEntries) {
  const fs::path path = FreshDirectory("sink-plain") / "out.log";
  auto sink = MakePlainSink(std::fopen(path.c_str(), "wb"));
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(sink->Write("!!HEADER\n", 0));
  EXPECT_TRUE(sink->Write("", 0));  // nothing, and no error
  EXPECT_TRUE(sink->Write("a\rb\r", 2));
  EXPECT_EQ(sink->Finish(), std::optional<int64_t>(2));
  EXPECT_EQ(ReadFile(path), "!!HEADER\na\rb\r");
  EXPECT_FALSE(sink->Write("late\n", 1)) << "a finished sink takes nothing more";
  EXPECT_FALSE(FailureReported());
}

TEST_F(Sinks, NoFileNoSink) {
  EXPECT_EQ(MakePlainSink(nullptr), nullptr);
  EXPECT_EQ(MakeDeflateSink(nullptr, 9, 1), nullptr);
}

TEST_F(Sinks, ASinkDroppedUnfinishedClosesItsFile) {
  // Under the sanitizers a leaked stream or compressor shows up as a leak report.
  const fs::path dir = FreshDirectory("sink-dropped");
  { auto plain = MakePlainSink(std::fopen((dir / "a.log").c_str(), "wb")); }
  { auto gzip = MakeDeflateSink(std::fopen((dir / "a.gz").c_str(), "wb"), 1, 2); }
  EXPECT_TRUE(fs::exists(dir / "a.log"));
  EXPECT_FALSE(FailureReported());
}

// ---- The destination ---------------------------------------------------------------------

class DestinationTest : public Sinks {
 protected:
  void SetUp() override {
    Sinks::SetUp();
    dir = FreshDirectory("destination");
    first = (dir / "access.log").string();
    WriteFile(first, "x\n");
  }
  fs::path dir;
  std::string first;
};

// The partial files in `dir`: "<final>.<12 letters and digits>.partial".
std::vector<std::string> PartialFiles(const fs::path& dir) {
  static const std::regex kPartial(R"(merged\.(gz|log)\.[A-Za-z0-9]{12}\.partial)");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.find("partial") != std::string::npos) {
      EXPECT_TRUE(std::regex_match(name, kPartial)) << name;
      names.push_back(name);
    }
  }
  return names;
}

TEST_F(DestinationTest, BesideTheFirstInputWithAPartialNameUntilPublished) {
  for (bool compress : {true, false}) {
    SCOPED_TRACE(compress);
    Destination d = DestinationBeside(first.c_str(), {compress, 6});
    const fs::path final_path = dir / (compress ? "merged.gz" : "merged.log");
    EXPECT_EQ(fs::path(d.final_spec.Path()), final_path);
    EXPECT_TRUE(PartialFiles(dir).empty()) << "nothing is created before the open";
    auto sink = OpenDestination(d);
    ASSERT_NE(sink, nullptr);
    const fs::path partial = d.partial_path;
    EXPECT_EQ(partial.parent_path(), final_path.parent_path());
    EXPECT_EQ(PartialFiles(dir), std::vector<std::string>{partial.filename().string()});
    EXPECT_TRUE(sink->Write("entry\n", 1));
    ASSERT_TRUE(sink->Finish().has_value());
    EXPECT_FALSE(fs::exists(final_path));
    EXPECT_TRUE(Publish(d, true));
    EXPECT_TRUE(PartialFiles(dir).empty());
    EXPECT_TRUE(d.partial_path.empty());
    EXPECT_TRUE(fs::exists(final_path));
  }
}

// Each open makes a file of its own: runs side by side never share a partial file.
TEST_F(DestinationTest, EveryOpenHasAPartialFileOfItsOwn) {
  std::vector<Destination> opened(20, DestinationBeside(first.c_str(), {false, 9}));
  std::vector<std::unique_ptr<OutputSink>> sinks;
  std::set<std::string> paths;
  for (Destination& d : opened) {
    sinks.push_back(OpenDestination(d));
    ASSERT_NE(sinks.back(), nullptr);
    paths.insert(d.partial_path);
  }
  EXPECT_EQ(paths.size(), opened.size());
  EXPECT_EQ(PartialFiles(dir).size(), opened.size());
  for (size_t i = 0; i < opened.size(); ++i) {
    sinks[i]->Finish();
    EXPECT_FALSE(Publish(opened[i], false));
  }
  EXPECT_TRUE(PartialFiles(dir).empty());
}

// A chosen path wins over the default name, whatever the first input; its partial file sits
// beside it, in its own directory, so the rename never crosses file systems.
TEST_F(DestinationTest, AChosenPathWithItsPartialFileBesideIt) {
  fs::create_directories(dir / "out");
  struct Case {
    std::string path;
    bool compress;
  };
  const Case cases[] = {
      {(dir / "out" / "week10.log.gz").string(), true},
      {(dir / "out" / "week10.txt").string(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Destination d = DestinationBeside(first.c_str(), {c.compress, 6, c.path.c_str()});
    EXPECT_FALSE(d.standard_output);
    EXPECT_EQ(std::string(d.final_spec.Path()), c.path);
    auto sink = OpenDestination(d);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(fs::path(d.partial_path).parent_path(), fs::path(c.path).parent_path());
    EXPECT_TRUE(sink->Write("entry\n", 1));
    ASSERT_TRUE(sink->Finish().has_value());
    EXPECT_TRUE(Publish(d, true));
    EXPECT_TRUE(fs::exists(c.path));
    EXPECT_TRUE(PartialFiles(dir / "out").empty());
    EXPECT_FALSE(fs::exists(dir / "merged.gz")) << "nothing is written beside the first input";
  }
}

// A chosen path that is a directory is refused before anything is read; the default name
// and plain standard output pass.
TEST_F(DestinationTest, AChosenDirectoryIsRefusedUpFront) {
  fs::create_directories(dir / "out");
  const std::string out = (dir / "out").string();
  struct Case {
    const char* path;
    bool usable;
    std::string said;
  };
  const Case cases[] = {
      {out.c_str(), false, "Error opening output file '" + out + "': it is a directory.\n"},
      {nullptr, true, ""},
      {STANDARD_OUTPUT_PATH, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path == nullptr ? "default" : c.path);
    ResetMessages();
    bool usable = false;
    const Destination d = DestinationBeside(first.c_str(), {false, 9, c.path});
    EXPECT_EQ(Said([&] { usable = DestinationUsable(d); }), c.said);
    EXPECT_EQ(usable, c.usable);
    EXPECT_EQ(FailureReported(), !c.usable);
  }
}

// "-" is standard output: no file, nothing to rename, and never the same file as an input.
TEST_F(DestinationTest, StandardOutputHasNoFileToPublish) {
  Destination d = DestinationBeside(first.c_str(), {false, 9, STANDARD_OUTPUT_PATH});
  EXPECT_TRUE(d.standard_output);
  EXPECT_FALSE(IsDestination(d, "-"));
  EXPECT_TRUE(Publish(d, true));
  EXPECT_FALSE(Publish(d, false));
  EXPECT_FALSE(fs::exists(dir / "-"));
}

TEST_F(DestinationTest, AnIncompleteOutputNeverReplacesTheEarlierOne) {
  WriteFile(dir / "merged.log", "earlier good merge\n");
  Destination d = DestinationBeside(first.c_str(), {false, 9});
  auto sink = OpenDestination(d);
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(sink->Write("half\n", 1));
  sink->Finish();
  EXPECT_FALSE(Publish(d, false));
  EXPECT_TRUE(PartialFiles(dir).empty());
  EXPECT_EQ(ReadFile(dir / "merged.log"), "earlier good merge\n");
}

TEST_F(DestinationTest, GzipOutputIsWrittenAtTheChosenLevel) {
  // zlib marks the header's extra-flags byte 2 for level 9, 4 for level 1 and 0 otherwise.
  struct Case {
    int level;
    unsigned char extra_flags;
  };
  const std::string text = "merged line\nanother merged line\n";
  for (const Case& c : {Case{9, 2}, Case{1, 4}, Case{6, 0}}) {
    SCOPED_TRACE(c.level);
    Destination d = DestinationBeside(first.c_str(), {true, c.level});
    auto sink = OpenDestination(d);
    ASSERT_NE(sink, nullptr);
    ASSERT_TRUE(sink->Write(text, 2));
    ASSERT_TRUE(sink->Finish().has_value());
    ASSERT_TRUE(Publish(d, true));
    const std::string bytes = ReadFile(dir / "merged.gz");
    ASSERT_GE(bytes.size(), 10u);
    EXPECT_EQ(bytes.substr(0, 3), "\x1f\x8b\x08");
    EXPECT_EQ(static_cast<unsigned char>(bytes[8]), c.extra_flags);
    gzFile gz = gzopen((dir / "merged.gz").c_str(), "rb");
    ASSERT_NE(gz, nullptr);
    char back[128] = {};
    EXPECT_EQ(gzread(gz, back, sizeof back), static_cast<int>(text.size()));
    gzclose(gz);
    EXPECT_EQ(std::string(back), text);
  }
}

TEST_F(DestinationTest, NoSinkWhereNoFileCanBeCreated) {
  const std::string nowhere = (dir / "no-such-dir" / "access.log").string();
  for (bool compress : {true, false}) {
    SCOPED_TRACE(compress);
    std::unique_ptr<OutputSink> sink;
    Destination d = DestinationBeside(nowhere.c_str(), {compress, 9});
    EXPECT_EQ(Said([&] { sink = OpenDestination(d); }), "") << "the caller reports it";
    EXPECT_EQ(sink, nullptr);
    EXPECT_FALSE(Publish(d, true)) << "nothing to publish";
  }
}

// A new merged log takes the permission bits and group of the one it replaces (access logs
// hold addresses and cookies); without an earlier one, the mode comes from the umask. A
// symlink at the final name lends nothing: it is replaced, its target left alone.
TEST_F(DestinationTest, AReplacedMergedLogKeepsItsModeAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "giving files other owners and groups needs root";
  const fs::path final_path = dir / "merged.log";
  const fs::path victim = dir / "victim";
  const mode_t old_umask = umask(022);
  // What is at the final name before the run.
  enum class Earlier { None, OwnLog, ForeignLog, LinkToVictim };
  struct Case {
    const char* name;
    Earlier earlier;
    mode_t mode;  // of the earlier log
    gid_t group;
    mode_t expected_mode;
    gid_t expected_group;
  };
  const Case cases[] = {
      {"no earlier log: the umask", Earlier::None, 0, 0, 0644, getegid()},
      {"owner only, group 4", Earlier::OwnLog, 0600, 4, 0600, 4},
      {"group readable, group 65534", Earlier::OwnLog, 0640, 65534, 0640, 65534},
      {"wider than the umask", Earlier::OwnLog, 0666, 0, 0666, 0},
      {"a symlink lends nothing", Earlier::LinkToVictim, 0, 0, 0644, getegid()},
      {"another user's file lends nothing", Earlier::ForeignLog, 0666, 65534, 0644, getegid()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(final_path);
    WriteFile(victim, "the victim\n");
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    ASSERT_EQ(chown(victim.c_str(), static_cast<uid_t>(-1), 4), 0);
    if (c.earlier == Earlier::OwnLog || c.earlier == Earlier::ForeignLog) {
      WriteFile(final_path, "earlier\n");
      ASSERT_EQ(chmod(final_path.c_str(), c.mode), 0);
      const uid_t owner = c.earlier == Earlier::ForeignLog ? 65534 : static_cast<uid_t>(-1);
      ASSERT_EQ(chown(final_path.c_str(), owner, c.group), 0);
    }
    if (c.earlier == Earlier::LinkToVictim) fs::create_symlink(victim, final_path);
    Destination d = DestinationBeside(first.c_str(), {false, 9});
    auto sink = OpenDestination(d);
    ASSERT_NE(sink, nullptr);
    struct stat partial {};
    ASSERT_EQ(stat(d.partial_path.c_str(), &partial), 0);
    EXPECT_EQ(partial.st_mode & 07777, c.expected_mode) << "restricted while it is written";
    ASSERT_TRUE(sink->Write("new\n", 1));
    ASSERT_TRUE(sink->Finish().has_value());
    ASSERT_TRUE(Publish(d, true));
    struct stat published {};
    ASSERT_EQ(lstat(final_path.c_str(), &published), 0);
    EXPECT_TRUE(S_ISREG(published.st_mode));
    EXPECT_EQ(published.st_mode & 07777, c.expected_mode);
    EXPECT_EQ(published.st_gid, c.expected_group);
    EXPECT_EQ(ReadFile(final_path), "new\n");
    EXPECT_EQ(ReadFile(victim), "the victim\n");
  }
  umask(old_umask);
}

TEST_F(DestinationTest, TheMergedLogAndItsPartialFilesAreLeftOutAsInputs) {
  const Destination d = DestinationBeside(first.c_str(), {true, 9});
  WriteFile(dir / "merged.gz", "old");
  const std::string stale = "merged.gz.Ab3dE6gH9kLm.partial";  // left by an interrupted run
  WriteFile(dir / stale, "stale");
  fs::create_directories(dir / "elsewhere");
  WriteFile(dir / "elsewhere" / stale, "another merge's");
  WriteFile(dir / "merged.gz.short.partial", "an ordinary log");
  const std::string spelled_otherwise = (dir / "." / "merged.gz").string();
  struct Case {
    std::string name;
    bool left_out;
  };
  const Case cases[] = {
      {spelled_otherwise, true},
      {(dir / stale).string(), true},
      {(dir / "." / stale).string(), true},
      {(dir / "elsewhere" / stale).string(), false},
      {(dir / "merged.gz.short.partial").string(), false},
      {first, false},
      {(dir / "missing.log").string(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool left_out = false;
    const std::string said = Said([&] { left_out = IsDestination(d, c.name.c_str()); });
    EXPECT_EQ(left_out, c.left_out);
    // The name as given, so that inputs sharing a base name stay apart.
    EXPECT_EQ(said, c.left_out ? "Left out '" + c.name + "': it is the merged output file.\n" : "");
  }
  EXPECT_FALSE(FailureReported()) << "leaving an input out is no failure";
}

// The merge checks each input from the fstat of its open descriptor against the merged log as
// it stood when the destination was chosen: a hard link is the same file under another name.
TEST_F(DestinationTest, AnOpenInputIsLeftOutByItsIdentityNotItsName) {
  WriteFile(dir / "merged.gz", "old");
  fs::create_hard_link(dir / "merged.gz", dir / "linked.gz");
  const Destination d = DestinationBeside(first.c_str(), {true, 9});
  const struct {
    std::string name;
    bool left_out;
  } cases[] = {
      {(dir / "linked.gz").string(), true},
      {(dir / "merged.gz").string(), true},
      {first, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FileDescriptor file = OpenForReading(c.name.c_str());
    ASSERT_TRUE(file.IsOpen());
    bool left_out = false;
    const std::string said =
        Said([&] { left_out = IsDestination(d, c.name.c_str(), FactsOf(file.Get())); });
    EXPECT_EQ(left_out, c.left_out);
    EXPECT_EQ(said, c.left_out ? "Left out '" + c.name + "': it is the merged output file.\n" : "");
  }
  // Facts of nothing (a file that could not be examined) never match a missing merged log.
  const Destination fresh = DestinationBeside((dir / "elsewhere.log").c_str(), {false, 9});
  EXPECT_FALSE(IsDestination(fresh, first.c_str(), FileFacts{}));
}

}  // namespace
