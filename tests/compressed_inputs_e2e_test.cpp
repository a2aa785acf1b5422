// The program merges logs stored plain, gzip, bzip2, as a three-member zip, xz and zstd as if
// they were all plain text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "compressed_fixtures.h"
#include "program_runner.h"

namespace {

using namespace testing_support;

constexpr int kFiles = 6;
constexpr int kLinesPerFile = 30;

// Entry number k = line * kFiles + file: its time is k seconds after the start and its path
// names k, so the merged log must list the paths in the order 0, 1, 2, ...
std::string EntryLine(int file, int line) {
  const int k = line * kFiles + file;
  char text[160];
  std::snprintf(
      text, sizeof text,
      "192.0.2.%d - - [10/Oct/2000:13:%02d:%02d -0700] \"GET /e%04d.html HTTP/1.0\" 200 %d\n",
      file + 1, k / 60, k % 60, k, 1000 + k);
  return text;
}

std::string LinesOf(int file, int from, int to) {
  std::string text;
  for (int line = from; line < to; ++line) text += EntryLine(file, line);
  return text;
}

TEST(CompressedInputs, PlainGzipBzip2ZipXzAndZstdLogsMergeLikePlainOnes) {
  const auto dir = FreshDirectory("compressed-inputs");
  WriteFile(dir / "plain.log", LinesOf(0, 0, kLinesPerFile));
  WriteFile(dir / "logs.gz", GzipBytes(LinesOf(1, 0, kLinesPerFile)));
  WriteFile(dir / "logs.bz2", Bzip2Bytes(LinesOf(2, 0, kLinesPerFile)));
  WriteFile(dir / "logs.zip", ZipBytes({{"part1.log", LinesOf(3, 0, 10)},
                                        {"part2.log", LinesOf(3, 10, 20), 0},
                                        {"part3.log", LinesOf(3, 20, kLinesPerFile)}}));
  WriteFile(dir / "logs.xz", XzBytes(LinesOf(4, 0, kLinesPerFile)));
  WriteFile(dir / "logs.zst", ZstdBytes(LinesOf(5, 0, kLinesPerFile)));
  const ProgramRun run = RunStitcher(dir, {"-Plain", "-Unix", "plain.log", "logs.gz", "logs.bz2",
                                           "logs.zip", "logs.xz", "logs.zst"});
  ASSERT_EQ(run.status, 0) << run.console;
  EXPECT_EQ(run.console.find("Read error"), std::string::npos) << run.console;

  const std::vector<std::string> merged = SplitLines(ReadFile(dir / "merged.log"));
  // The header line, then every entry in time order.
  ASSERT_EQ(merged.size(), static_cast<size_t>(1 + kFiles * kLinesPerFile)) << run.console;
  for (int k = 0; k < kFiles * kLinesPerFile; ++k) {
    char path[32];
    std::snprintf(path, sizeof path, "/e%04d.html", k);
    EXPECT_NE(merged[static_cast<size_t>(k) + 1].find(path), std::string::npos)
        << "line " << k + 1 << ": " << merged[static_cast<size_t>(k) + 1];
    const std::string host = "192.0.2." + std::to_string(k % kFiles + 1);
    EXPECT_NE(merged[static_cast<size_t>(k) + 1].find(host), std::string::npos)
        << merged[static_cast<size_t>(k) + 1];
  }
}

// A rotated log and its gzip twins are merged once, whichever is named first; a gzip file
// that only looks like a twin (its trailer states the same decoded size) is merged beside
// the log, as is one whose twin cannot be told from its trailer: nothing is ever lost.
TEST(CompressedInputs, GzipTwinOfALogIsMergedOnceAndNothingElseIsLeftOut) {
  const std::string log = LinesOf(0, 0, kLinesPerFile);
  std::string damaged = GzipBytes(log, 1);
  damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x55);
  std::string last_line_differs = log;
  last_line_differs[last_line_differs.size() - 2] = '9';  // the last entry's byte count
  const std::string halves =
      GzipBytes(log.substr(0, log.size() / 2)) + GzipBytes(log.substr(log.size() / 2));
  struct Case {
    const char* what;
    std::string twin_bytes;  // written to twin.gz; the log is access.log.1
    bool twin_first;         // twin.gz named before access.log.1
    bool merged_once;
  };
  const Case cases[] = {
      {"gzip twin", GzipBytes(log, 9), false, true},
      {"gzip twin named first", GzipBytes(log, 1), true, true},
      {"same size, last line differs", GzipBytes(last_line_differs), false, false},
      {"damaged twin", damaged, false, false},
      {"two gzip members", halves, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto dir = FreshDirectory("gzip-twin");
    WriteFile(dir / "access.log.1", log);
    WriteFile(dir / "twin.gz", c.twin_bytes);
    const std::vector<std::string> names =
        c.twin_first ? std::vector<std::string>{"twin.gz", "access.log.1"}
                     : std::vector<std::string>{"access.log.1", "twin.gz"};
    const ProgramRun run =
        RunStitcher(dir, {"-Plain", "-Unix", "--output-format=combined", names[0], names[1]});
    const std::string said =
        "'" + names[1] + "' has the same content as '" + names[0] + "'; merged once.";
    EXPECT_EQ(run.console.find(said) != std::string::npos, c.merged_once) << run.console;
    const size_t entries = SplitLines(ReadFile(dir / "merged.log")).size();
    if (c.merged_once) {
      EXPECT_EQ(run.status, 0) << run.console;
      EXPECT_EQ(entries, static_cast<size_t>(kLinesPerFile));
    } else {
      // Every entry of the log, and what the other file gives (a damaged one part of its own).
      EXPECT_GT(entries, static_cast<size_t>(kLinesPerFile)) << run.console;
    }
  }
}

}  // namespace
