// Inputs a client or a damaged disk can shape: over-long lines with a log line planted in
// them, damaged compressed data, compressed data through a pipe. No forged or repeated entry
// reaches the merged log, and a lost input shows in the exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "compressed_fixtures.h"
#include "input/input.h"
#include "program_runner.h"

namespace {

using namespace testing_support;

// A combined-format line as Apache writes it; entry k is k seconds after 13:00:00.
std::string Line(int k, const std::string& agent = "Mozilla/5.0 (X11; Linux x86_64)") {
  char head[160];
  std::snprintf(head, sizeof head,
                "192.0.2.1 - - [10/Oct/2000:13:%02d:%02d -0700] \"GET /e%05d.html HTTP/1.0\" 200 "
                "%d \"-\" \"",
                k / 60 % 60, k % 60, k, 1000 + k);
  return head + agent + "\"\n";
}

std::string Lines(int from, int to) {
  std::string text;
  for (int k = from; k < to; ++k) text += Line(k);
  return text;
}

// The merged log's entries (its header line left out).
std::vector<std::string> MergedEntries(const std::filesystem::path& dir) {
  std::vector<std::string> lines = SplitLines(ReadFile(dir / "merged.log"));
  if (!lines.empty()) lines.erase(lines.begin());
  return lines;
}

constexpr const char* kForged =
    "10.6.6.6 - - [10/Oct/2000:13:30:00 -0700] \"GET /forged HTTP/1.0\" 200 1 \"-\" \"-\"";

// A client's agent long enough that the complete line planted in it starts `at` bytes into
// the log line (the first line of the file): where the input's first window ends, or near
// the longest line read.
TEST(DamagedInputs, ALogLinePlantedInAnOverLongAgentNeverBecomesAnEntry) {
  const std::string prefix = Line(1, "");
  const size_t agent_at = prefix.size() - 2;  // the agent starts before its closing quote
  for (const size_t at : {size_t{IN_CHUNK}, size_t{IN_CHUNK} + 1, size_t{IN_CHUNK} - 1,
                          size_t{IN_BUFF_SIZE}, size_t{IN_LINE_MAX}, size_t{IN_LINE_MAX} + 1}) {
    SCOPED_TRACE(at);
    const auto dir = FreshDirectory("planted-line");
    const std::string agent = std::string(at - agent_at, 'A') + kForged;
    WriteFile(dir / "access.log", Line(1, agent) + Lines(2, 5));
    const ProgramRun run = RunStitcher(dir, {"-Plain", "access.log"});
    EXPECT_EQ(run.status, 0) << run.console;
    const std::vector<std::string> merged = MergedEntries(dir);
    for (const std::string& entry : merged) EXPECT_NE(entry.rfind("10.6.6.6", 0), 0u) << entry;
    // The lines around it are intact; the long one is an entry only when it fits the cap.
    ASSERT_GE(merged.size(), 3u);
    EXPECT_NE(merged[merged.size() - 3].find("/e00002.html"), std::string::npos);
    EXPECT_NE(merged.back().find("/e00004.html"), std::string::npos);
  }
}

// Four bytes overwritten in the middle of a gzip member, at several places: the input ends
// at the damage and the run says, by name, that it was lost.
TEST(DamagedInputs, ADamagedGzipMemberEndsItsInputAndIsReported) {
  const std::string gz = GzipBytes(Lines(0, 20000));
  for (const size_t at : {gz.size() / 3, gz.size() / 2, gz.size() * 3 / 4}) {
    SCOPED_TRACE(at);
    const auto dir = FreshDirectory("damaged-gzip");
    std::string damaged = gz;
    damaged.replace(at, 4, "\xde\xad\xbe\xef");
    WriteFile(dir / "access.log.gz", damaged);
    WriteFile(dir / "other.log", Lines(20000, 20010));
    const ProgramRun run = RunStitcher(dir, {"-Plain", "other.log", "access.log.gz"});
    EXPECT_EQ(run.status, 2) << run.console;
    EXPECT_NE(run.console.find("Error reading input file 'access.log.gz'"), std::string::npos)
        << run.console;
    // Fewer entries than the whole file, and the other input's all there.
    const std::vector<std::string> merged = MergedEntries(dir);
    EXPECT_LT(merged.size(), 20010u);
    const std::string all = ReadFile(dir / "merged.log");
    for (int k = 20000; k < 20010; ++k) {
      EXPECT_NE(all.find("/e" + std::to_string(k) + ".html"), std::string::npos) << k;
    }
  }
}

// gzip -c access.log | stitcher /dev/stdin: decoded like the file itself.
TEST(DamagedInputs, GzipThroughAPipeIsDecoded) {
  const auto dir = FreshDirectory("gzip-pipe");
  WriteFile(dir / "access.log.gz", GzipBytes(Lines(0, 2000)));
  WriteFile(dir / "other.log", Lines(2000, 2010));
  const ProgramRun run = RunProgram("/bin/sh", dir,
                                    {"-c", std::string("cat access.log.gz | ") + STITCHER_BINARY +
                                               " -Plain other.log /dev/stdin"});
  ASSERT_EQ(run.status, 0) << run.console;
  const std::vector<std::string> merged = MergedEntries(dir);
  ASSERT_EQ(merged.size(), 2010u) << run.console;
  EXPECT_NE(merged.front().find("/e00000.html"), std::string::npos);
  EXPECT_NE(merged.back().find("/e02009.html"), std::string::npos);
}

// A zip archive cut short (a copy interrupted, a full disk) is reported, never read as text.
TEST(DamagedInputs, ATruncatedZipIsReportedAsLost) {
  const auto dir = FreshDirectory("truncated-zip");
  const std::string zip = ZipBytes({{"a.log", Lines(0, 100)}, {"b.log", Lines(100, 200)}});
  WriteFile(dir / "logs.zip", zip.substr(0, zip.size() / 2));
  WriteFile(dir / "other.log", Lines(200, 210));
  const ProgramRun run = RunStitcher(dir, {"-Plain", "other.log", "logs.zip"});
  EXPECT_EQ(run.status, 2) << run.console;
  EXPECT_NE(run.console.find("Error reading input file 'logs.zip': the zip archive is damaged"),
            std::string::npos)
      << run.console;
  EXPECT_EQ(MergedEntries(dir).size(), 10u);
}

}  // namespace
