// The threaded gzip sink: the same bytes whatever the thread count, a file every gzip reader
// (and the program itself) reads whole, a refused write reported once with no thread left
// behind, and levels that are never larger than gzip's own. The suite names start with
// DeflateSink so the ThreadSanitizer build (the tsan preset) picks them all.

#include "output/deflate_sink.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include "base/messages.h"
#include "output/chunk_compressor.h"
#include "program_runner.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// ---- Fixtures ------------------------------------------------------------------------------

// A small deterministic generator, so every run compresses the same text.
struct Lcg {
  uint32_t state;
  uint32_t Next(uint32_t below) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % below;
  }
};

constexpr const char* kPaths[] = {
    "/",       "/index.html",     "/images/logo.gif", "/css/site.css", "/products/list.php",
    "/search", "/about/team.html"};
constexpr const char* kAgents[] = {"Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)",
                                   "Mozilla/5.0 (X11; U; Linux i686; en-US; rv:0.9.4) Gecko",
                                   "Googlebot/2.1 (+http://www.googlebot.com/bot.html)"};
constexpr const char* kReferers[] = {"-", "http://www.example.com/",
                                     "http://search.example.org/q?x=logs+merge"};

// About `bytes` of merged log as the program writes it, one entry every second or two.
enum class Dialect { kNcsa, kWebstar };
std::string MergedLog(Dialect dialect, size_t bytes) {
  Lcg rng{7};
  std::string text;
  if (dialect == Dialect::kWebstar) {
    text +=
        "!!LOG_FORMAT DATE TIME HOSTNAME USER METHOD URL SEARCH_ARGS SC-STATUS BYTES "
        "TRANSFER_TIME CS(HOST) AGENT CS(COOKIE) REFERER\n";
  }
  char line[512];
  for (int seconds = 0; text.size() < bytes; seconds += 1 + static_cast<int>(rng.Next(2))) {
    const int h = seconds / 3600 % 24, m = seconds / 60 % 60, s = seconds % 60;
    const unsigned host = rng.Next(254) + 1, bytes_sent = rng.Next(60000);
    const char* path = kPaths[rng.Next(std::size(kPaths))];
    const char* agent = kAgents[rng.Next(std::size(kAgents))];
    const char* referer = kReferers[rng.Next(std::size(kReferers))];
    const int status = rng.Next(5) == 0 ? 404 : 200;
    if (dialect == Dialect::kNcsa) {
      std::snprintf(line, sizeof line,
                    "10.0.%u.%u - - [05/Mar/01:%02d:%02d:%02d -0500] \"GET %s HTTP/1.0\" %d %u "
                    "\"%s\" \"%s\"\n",
                    host % 4, host, h, m, s, path, status, bytes_sent, referer, agent);
    } else {
      std::snprintf(
          line, sizeof line,
          "03/05/2001\t%02d:%02d:%02d\t10.0.%u.%u\t-\tGET\t%s\t-\t%d\t%u\t%u\t-\t%s\t\"-\"\t%s\n",
          h, m, s, host % 4, host, path, status, bytes_sent, rng.Next(30), agent, referer);
    }
    text += line;
  }
  return text;
}

// A multi-member log: two full chunks and part of a third.
const std::string& LargeLog() {
  static const std::string text = MergedLog(Dialect::kNcsa, 2 * kDeflateChunkSize + 12345);
  return text;
}

// Writes `text` through a sink at `level` on `threads` threads in batches of `batch` bytes;
// true when every write and the finish succeeded.
bool WriteThroughSink(const fs::path& path, std::string_view text, int level, int threads,
                      size_t batch) {
  auto sink = MakeDeflateSink(std::fopen(path.c_str(), "wb"), level, threads);
  if (sink == nullptr) return false;
  for (size_t at = 0; at < text.size(); at += batch) {
    if (!sink->Write(text.substr(at, batch), 1)) return false;
  }
  return sink->Finish().has_value();
}

std::string GzRead(const fs::path& path) {
  std::string text;
  gzFile in = gzopen(path.c_str(), "rb");
  if (in == nullptr) return "<cannot open>";
  char buffer[65536];
  int n;
  while ((n = gzread(in, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  if (n < 0) text += "<read error>";
  gzclose(in);
  return text;
}

// Threads of this process now (Linux: one entry each under /proc/self/task).
int ThreadCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task")) ++count;
  return count;
}

// The thread count before a test starts its sink. ThreadSanitizer starts a thread of its own
// when the process first starts one, so one thread is started and joined first.
int ThreadCountBefore() {
  std::thread([] {}).join();
  return ThreadCount();
}

template <typename Action>
std::string Said(Action action) {
  ::testing::internal::CaptureStdout();
  action();
  return ::testing::internal::GetCapturedStdout();
}

class DeflateSink : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMessages();
    dir = FreshDirectory("deflate-sink");
  }
  void TearDown() override {
    ResetMessages();
    fs::remove_all(dir);
  }
  fs::path dir;
};

// ---- The same bytes whatever the threads ----------------------------------------------------

TEST_F(DeflateSink, OneAndFourThreadsWriteTheSameBytes) {
  // Batch sizes differ too: chunk boundaries follow the byte count alone.
  ASSERT_TRUE(WriteThroughSink(dir / "one.gz", LargeLog(), 9, 1, 65536));
  ASSERT_TRUE(WriteThroughSink(dir / "four.gz", LargeLog(), 9, 4, 7777));
  const std::string one = ReadFile(dir / "one.gz");
  EXPECT_EQ(one, ReadFile(dir / "four.gz"));
  EXPECT_EQ(GzRead(dir / "one.gz"), LargeLog());
}

// ---- Readers ---------------------------------------------------------------------------------

TEST_F(DeflateSink, EveryGzipReaderReadsTheFileWhole) {
  struct Case {
    const char* name;
    size_t bytes;  // of the log
    int level;
  };
  const Case cases[] = {
      {"three members at the default level", LargeLog().size(), 9},
      {"two stored members", kDeflateChunkSize + 100, 0},
      {"exactly one chunk", kDeflateChunkSize, 1},
      {"an empty log", 0, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = LargeLog().substr(0, c.bytes);
    const fs::path gz = dir / "merged.gz";
    ASSERT_TRUE(WriteThroughSink(gz, text, c.level, 2, 65536));
    EXPECT_EQ(GzRead(gz), text) << "zlib's gzread";
    EXPECT_EQ(std::system(("gzip -t " + ShellQuote(gz.string())).c_str()), 0) << "gzip -t";
    const std::string python =
        "python3 -c 'import gzip, sys; sys.stdout.buffer.write("
        "gzip.open(sys.argv[1]).read())' " +
        ShellQuote(gz.string()) + " > " + ShellQuote((dir / "python.out").string());
    ASSERT_EQ(std::system(python.c_str()), 0) << "Python's gzip module";
    EXPECT_EQ(ReadFile(dir / "python.out"), text) << "Python's gzip module";
  }
}

TEST_F(DeflateSink, TheProgramMergesItsOwnMergedLogAgain) {
  // Two interleaving NCSA logs whose merged log spans several members.
  std::string first, second;
  for (int k = 0; k < 48000; ++k) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "192.0.2.%d - - [10/Oct/2000:%02d:%02d:%02d -0700] \"GET /page%05d.html "
                  "HTTP/1.0\" 200 %d\n",
                  k % 2 + 1, k / 3600 % 24, k / 60 % 60, k % 60, k, 1000 + k);
    (k % 2 == 0 ? first : second) += line;
  }
  WriteFile(dir / "a.log", first);
  WriteFile(dir / "b.log", second);
  const ProgramRun run = RunStitcher(dir, {"a.log", "b.log"});
  ASSERT_EQ(run.status, 0) << run.console;
  const std::string merged = GzRead(dir / "merged.gz");
  ASSERT_GT(merged.size(), kDeflateChunkSize) << "the merged log has several members";

  const fs::path again = dir / "again";
  fs::create_directories(again);
  fs::copy_file(dir / "merged.gz", again / "earlier.gz");
  WriteFile(again / "empty.log", "");  // the program wants two inputs at least
  const ProgramRun rerun = RunStitcher(again, {"earlier.gz", "empty.log"});
  ASSERT_EQ(rerun.status, 0) << rerun.console;
  EXPECT_EQ(GzRead(again / "merged.gz"), merged) << "every entry read back, in order";
}

// ---- Failures --------------------------------------------------------------------------------

TEST_F(DeflateSink, ARefusedWriteIsReportedOnceAndLeavesNoThreadBehind) {
  // The device refuses the first member while later chunks are still being compressed; the
  // writes fail once every place in the ring of chunks is taken, long before 64 copies.
  const int threads_before = ThreadCountBefore();
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  auto sink = MakeDeflateSink(full, 9, 4);
  ASSERT_NE(sink, nullptr);
  EXPECT_GT(ThreadCount(), threads_before);
  int copies = 0;
  bool later = true;
  std::optional<int64_t> written;
  const std::string said = Said([&] {
    while (copies < 64 && sink->Write(LargeLog(), 1)) ++copies;
    later = sink->Write("later\n", 1);
    written = sink->Finish();
  });
  EXPECT_EQ(said, "Write error on output file!\n");
  EXPECT_TRUE(FailureReported());
  EXPECT_LT(copies, 64) << "the refusal showed while writing, not only at the finish";
  EXPECT_FALSE(later);
  EXPECT_FALSE(written.has_value());
  EXPECT_EQ(sink->Written(), copies);
  EXPECT_EQ(ThreadCount(), threads_before);
}

TEST_F(DeflateSink, ASinkDroppedMidRunJoinsItsThreads) {
  // Chunks in flight when the sink goes away unfinished: no hang, no thread left, and under
  // the sanitizers no leak.
  const int threads_before = ThreadCountBefore();
  {
    auto sink = MakeDeflateSink(std::fopen((dir / "dropped.gz").c_str(), "wb"), 9, 3);
    ASSERT_NE(sink, nullptr);
    ASSERT_TRUE(sink->Write(LargeLog(), 1));
  }
  EXPECT_EQ(ThreadCount(), threads_before);
  EXPECT_FALSE(FailureReported());
}

TEST_F(DeflateSink, NoFileNoSink) {
  EXPECT_EQ(MakeDeflateSink(nullptr, 9, 2), nullptr);
}

// ---- Levels ----------------------------------------------------------------------------------

TEST_F(DeflateSink, NoLevelIsLargerThanGzipAtThatLevel) {
  const fs::path sample = dir / "sample.log";
  for (Dialect dialect : {Dialect::kNcsa, Dialect::kWebstar}) {
    SCOPED_TRACE(dialect == Dialect::kNcsa ? "NCSA" : "WebSTAR");
    const std::string text = MergedLog(dialect, 1536 * 1024);
    WriteFile(sample, text);
    for (int level = 1; level <= 9; ++level) {
      SCOPED_TRACE(level);
      const fs::path ours = dir / "ours.gz", theirs = dir / "theirs.gz";
      ASSERT_TRUE(WriteThroughSink(ours, text, level, 2, 65536));
      const std::string gzip = "gzip -" + std::to_string(level) + " -c " +
                               ShellQuote(sample.string()) + " > " + ShellQuote(theirs.string());
      ASSERT_EQ(std::system(gzip.c_str()), 0);
      EXPECT_LE(fs::file_size(ours), fs::file_size(theirs));
      EXPECT_EQ(GzRead(ours), text);
    }
  }
}

TEST_F(DeflateSink, LevelZeroStoresAndHigherLevelsNeverGrow) {
  // Stored: the text itself plus framing. Each level at least as small as the one below.
  const std::string text = MergedLog(Dialect::kWebstar, 300 * 1024);
  uintmax_t previous = 0;
  for (int level = 0; level <= 9; ++level) {
    SCOPED_TRACE(level);
    const fs::path gz = dir / "level.gz";
    ASSERT_TRUE(WriteThroughSink(gz, text, level, 1, 65536));
    const uintmax_t size = fs::file_size(gz);
    if (level == 0) {
      EXPECT_GE(size, text.size());
      EXPECT_LT(size, text.size() + 1024);
    } else {
      EXPECT_LE(size, previous);
    }
    previous = size;
  }
}

TEST(DeflateSinkLevels, TheTableHasOneRowPerGzipLevelAndClampsOutsideIt) {
  for (size_t i = 0; i < kMemberLevels.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(kMemberLevels[i].gzip_level, static_cast<int>(i));
    EXPECT_GE(kMemberLevels[i].deflate_level, 0);
    EXPECT_LE(kMemberLevels[i].deflate_level, 12);
  }
  EXPECT_EQ(&MemberLevelFor(-1), &kMemberLevels[0]);
  EXPECT_EQ(&MemberLevelFor(12), &kMemberLevels[9]);
}

}  // namespace
