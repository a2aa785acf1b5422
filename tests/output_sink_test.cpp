// The merged log's sinks (failure reported once, entries counted only when written) and
// its destination (name beside the first input, partial file, same-file guard, publish).

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "base/messages.h"
#include "output/destination.h"
#include "output/sink.h"
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
    auto sink = c.gzip ? MakeGzipSink(full, 9) : MakePlainSink(full);
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
  EXPECT_EQ(MakeGzipSink(nullptr, 9), nullptr);
}

TEST_F(Sinks, ASinkDroppedUnfinishedClosesItsFile) {
  // Under the sanitizers a leaked stream or compressor shows up as a leak report.
  const fs::path dir = FreshDirectory("sink-dropped");
  { auto plain = MakePlainSink(std::fopen((dir / "a.log").c_str(), "wb")); }
  { auto gzip = MakeGzipSink(std::fopen((dir / "a.gz").c_str(), "wb"), 1); }
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

TEST_F(DestinationTest, BesideTheFirstInputWithAPartialNameUntilPublished) {
  for (bool compress : {true, false}) {
    SCOPED_TRACE(compress);
    const Destination d = DestinationBeside(first.c_str(), {compress, 6});
    const fs::path final_path = dir / (compress ? "merged.gz" : "merged.log");
    EXPECT_EQ(fs::path(d.final_spec.Path()), final_path);
    EXPECT_EQ(fs::path(d.partial_spec.Path()), fs::path(final_path.string() + ".partial"));
    auto sink = OpenDestination(d);
    ASSERT_NE(sink, nullptr);
    EXPECT_TRUE(sink->Write("entry\n", 1));
    ASSERT_TRUE(sink->Finish().has_value());
    EXPECT_TRUE(fs::exists(d.partial_spec.Path()));
    EXPECT_FALSE(fs::exists(final_path));
    EXPECT_TRUE(Publish(d, true));
    EXPECT_FALSE(fs::exists(d.partial_spec.Path()));
    EXPECT_TRUE(fs::exists(final_path));
  }
}

TEST_F(DestinationTest, AnIncompleteOutputNeverReplacesTheEarlierOne) {
  WriteFile(dir / "merged.log", "earlier good merge\n");
  const Destination d = DestinationBeside(first.c_str(), {false, 9});
  auto sink = OpenDestination(d);
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(sink->Write("half\n", 1));
  sink->Finish();
  EXPECT_FALSE(Publish(d, false));
  EXPECT_FALSE(fs::exists(d.partial_spec.Path()));
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
    const Destination d = DestinationBeside(first.c_str(), {true, c.level});
    auto sink = OpenDestination(d);
    ASSERT_NE(sink, nullptr);
    ASSERT_TRUE(sink->Write(text, 2));
    ASSERT_TRUE(sink->Finish().has_value());
    const std::string bytes = ReadFile(d.partial_spec.Path());
    ASSERT_GE(bytes.size(), 10u);
    EXPECT_EQ(bytes.substr(0, 3), "\x1f\x8b\x08");
    EXPECT_EQ(static_cast<unsigned char>(bytes[8]), c.extra_flags);
    gzFile gz = gzopen(d.partial_spec.Path(), "rb");
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
    EXPECT_EQ(Said([&] {
                sink = OpenDestination(DestinationBeside(nowhere.c_str(), {compress, 9}));
              }),
              "")
        << "the caller reports it";
    EXPECT_EQ(sink, nullptr);
  }
}

TEST_F(DestinationTest, TheMergedLogAndItsPartialFileAreLeftOutAsInputs) {
  const Destination d = DestinationBeside(first.c_str(), {true, 9});
  WriteFile(dir / "merged.gz", "old");
  WriteFile(dir / "merged.gz.partial", "stale");
  const std::string spelled_otherwise = (dir / "." / "merged.gz").string();
  struct Case {
    std::string name;
    bool left_out;
  };
  const Case cases[] = {
      {spelled_otherwise, true},
      {(dir / "merged.gz.partial").string(), true},
      {first, false},
      {(dir / "missing.log").string(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool left_out = false;
    const std::string said = Said([&] { left_out = IsDestination(d, c.name.c_str()); });
    EXPECT_EQ(left_out, c.left_out);
    const std::string name = fs::path(c.name).filename().string();
    EXPECT_EQ(said, c.left_out ? "Left out '" + name + "': it is the merged output file.\n" : "");
  }
  EXPECT_FALSE(FailureReported()) << "leaving an input out is no failure";
}

}  // namespace
