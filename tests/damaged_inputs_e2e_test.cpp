// Inputs a client or a damaged disk can shape: over-long lines with a log line planted in
// them, damaged compressed data, compressed data through a pipe. No forged or repeated entry
// reaches the merged log, and a lost input shows in the exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "compressed_fixtures.h"
#include "input/bzip2_reader.h"
#include "input/gzip_reader.h"
#include "input/input.h"
#include "input/memory_pool.h"
#include "input/xz_reader.h"
#include "input/zip_reader.h"
#include "input/zstd_reader.h"
#include "pool_environment.h"
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

// How often each entry's page ("/e00042.html") occurs in `text`.
std::map<std::string, int> PageCounts(const std::string& text) {
  std::map<std::string, int> counts;
  for (size_t at = text.find("/e"); at != std::string::npos; at = text.find("/e", at + 1)) {
    const size_t end = text.find(".html", at);
    if (end != std::string::npos && end - at == 7) ++counts[text.substr(at, 7)];
  }
  return counts;
}

// A container reader's entry points, called directly: what the decoder itself gives.
struct Decoder {
  void* (*open)(SourceFile* file, MemoryPool* pool);
  DecodeResult (*read)(void* reader, char* out, int32_t want);
  void (*close)(void* reader);
};

// Everything the decoder gives for `file` up to its end or failure.
std::string DecodedText(const std::filesystem::path& file, const Decoder& decoder) {
  MemoryPool* pool = MPNew();
  std::string text;
  const FileDescriptor descriptor = OpenForReading(file.c_str());
  SourceFile source;
  InitSourceFile(&source, descriptor.Get(), -1);
  void* reader = decoder.open(&source, pool);
  EXPECT_NE(reader, nullptr);
  std::vector<char> chunk(IN_CHUNK);
  while (reader != nullptr) {
    const DecodeResult r = decoder.read(reader, chunk.data(), IN_CHUNK);
    text.append(chunk.data(), static_cast<size_t>(r.count));
    if (r.failed || r.count == 0) break;
  }
  if (reader != nullptr) decoder.close(reader);
  MPDispose(pool);
  return text;
}

// Four bytes overwritten in the middle of a compressed log, at several places, for every
// container read: the input ends where its decoder finds the damage, the run says by name
// that it was lost and exits 2, the other input arrives whole, and no entry is written more
// often than the decoder gave it (the merge never hands a line out twice).
TEST(DamagedInputs, ADamagedCompressedLogEndsItsInputAndIsReported) {
  const std::string text = Lines(0, 20000);
  const struct {
    const char* name;
    std::string bytes;
    Decoder decoder;
  } cases[] = {
      {"access.log.gz", GzipBytes(text), {GzipOpen, GzipRead, GzipClose}},
      // Small enough to be decoded whole when it is opened.
      {"small.log.gz", GzipBytes(Lines(0, 300)), {GzipOpen, GzipRead, GzipClose}},
      {"access.log.bz2",
       Bzip2Bytes(text),
       {[](SourceFile* f, MemoryPool* p) { return Bzip2Open(f, p, MPBzip2Allocator(p)); },
        Bzip2Read, Bzip2Close}},
      {"access.log.xz", XzBytes(text), {XzOpen, XzRead, XzClose}},
      {"access.log.zst", ZstdCheckedBytes(text), {ZstdOpen, ZstdRead, ZstdClose}},
      {"access.zip", ZipBytes({{"access.log", text}}), {ZipOpen, ZipRead, ZipClose}},
  };
  for (const auto& c : cases) {
    for (const size_t at : {c.bytes.size() / 3, c.bytes.size() / 2, c.bytes.size() * 3 / 4}) {
      SCOPED_TRACE(std::string(c.name) + " damaged at " + std::to_string(at));
      const auto dir = FreshDirectory("damaged-input");
      std::string damaged = c.bytes;
      damaged.replace(at, 4, "\xde\xad\xbe\xef");
      WriteFile(dir / c.name, damaged);
      WriteFile(dir / "other.log", Lines(20000, 20010));
      const ProgramRun run = RunStitcher(dir, {"-Plain", "other.log", c.name});
      EXPECT_EQ(run.status, 2) << run.console;
      EXPECT_NE(run.console.find(std::string("Error reading input file '") + c.name +
                                 "': it could not be read to its end."),
                std::string::npos)
          << run.console;
      const std::vector<std::string> merged = MergedEntries(dir);
      EXPECT_LT(merged.size(), 20010u);
      const std::map<std::string, int> written = PageCounts(ReadFile(dir / "merged.log"));
      const std::map<std::string, int> decoded = PageCounts(DecodedText(dir / c.name, c.decoder));
      for (int k = 20000; k < 20010; ++k) {
        EXPECT_EQ(written.count("/e" + std::to_string(k)), 1u) << k;
      }
      for (const auto& [page, count] : written) {
        if (page >= "/e20000") continue;
        const auto it = decoded.find(page);
        EXPECT_LE(count, it == decoded.end() ? 0 : it->second) << page;
      }
      // Decoded ahead on worker threads or not, the same bytes arrive before the damage.
      const std::string with_workers = ReadFile(dir / "merged.log");
      const ProgramRun alone = RunStitcher(dir, {"-Plain", "--threads=1", "other.log", c.name});
      EXPECT_EQ(alone.status, 2) << alone.console;
      EXPECT_TRUE(ReadFile(dir / "merged.log") == with_workers);
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

// A zip archive cut short (a copy interrupted, a full disk), or one whose first member is
// compressed by a method not read, is reported, never read as text.
TEST(DamagedInputs, AZipThatCannotBeReadIsReportedAsLost) {
  const std::string zip = ZipBytes({{"a.log", Lines(0, 100)}, {"b.log", Lines(100, 200)}});
  const struct {
    const char* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"cut in half", zip.substr(0, zip.size() / 2), "the zip archive is damaged"},
      {"first member bzip2", ZipBytes({{"a.log", Lines(0, 100), 12}, {"b.log", Lines(100, 200)}}),
       "the zip archive's first member cannot be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dir = FreshDirectory("unreadable-zip");
    WriteFile(dir / "logs.zip", c.bytes);
    WriteFile(dir / "other.log", Lines(200, 210));
    const ProgramRun run = RunStitcher(dir, {"-Plain", "other.log", "logs.zip"});
    EXPECT_EQ(run.status, 2) << run.console;
    EXPECT_NE(run.console.find(std::string("Error reading input file 'logs.zip': ") + c.reason),
              std::string::npos)
        << run.console;
    EXPECT_EQ(MergedEntries(dir).size(), 10u);
  }
}

}  // namespace
