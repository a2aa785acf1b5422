// The program under the system's limits, run as a child with setrlimit: threads that cannot
// start leave the work to fewer (the merge is complete and the same), memory that cannot be
// had ends the run with "Out of memory" and status 1 (no partial file, the earlier merged
// log kept), never an abort; a compressed input that asks for a larger window or dictionary
// than is allowed is refused, saying what it needs.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "compressed_fixtures.h"
#include "program_runner.h"

#ifdef STITCHER_BINARY

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// Sanitizers reserve terabytes of address space for their shadow memory: an address-space
// limit stops such a build before main.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A zstd frame of `text` whose header asks for a window of 2^`window_log` bytes whatever the
// text's size: streamed, so the size is not known when the header is written.
std::string ZstdWithWindow(const std::string& text, int window_log) {
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, window_log > 27 ? 27 : window_log);
  std::string out(ZSTD_compressBound(text.size()) + 64, '\0');
  ZSTD_outBuffer output{out.data(), out.size(), 0};
  ZSTD_inBuffer input{text.data(), text.size(), 0};
  ZSTD_compressStream2(cctx, &output, &input, ZSTD_e_continue);
  ZSTD_inBuffer none{nullptr, 0, 0};
  while (ZSTD_compressStream2(cctx, &output, &none, ZSTD_e_end) != 0) {
  }
  ZSTD_freeCCtx(cctx);
  out.resize(output.pos);
  // Past libzstd's own limit the window descriptor (the byte after the frame header
  // descriptor) is written by hand: exponent window_log - 10, no mantissa.
  if (window_log > 27) out[5] = static_cast<char>((window_log - 10) << 3);
  return out;
}

// An xz stream of `text` whose first block asks for a dictionary of 96 MiB: written with a
// small one, then the block header's LZMA2 property byte and its CRC32 changed.
std::string XzWith96MiBDictionary(const std::string& text) {
  std::string out = XzBytes(text, 1);
  const size_t header = LZMA_STREAM_HEADER_SIZE;
  const size_t size = (static_cast<unsigned char>(out[header]) + 1) * 4;
  // The block flags, the sizes they announce (variable-length integers), then the filter.
  const unsigned flags = static_cast<unsigned char>(out[header + 1]);
  size_t at = header + 2;
  const int sizes = ((flags & 0x40) != 0) + ((flags & 0x80) != 0);
  for (int i = 0; i < sizes; ++i) {
    while ((static_cast<unsigned char>(out[at]) & 0x80) != 0) ++at;
    ++at;
  }
  EXPECT_EQ(out[at], 0x21) << "the LZMA2 filter";
  EXPECT_EQ(out[at + 1], 1) << "one property byte";
  out[at + 2] = 29;  // (2 | 1) << (29 / 2 + 11): 96 MiB
  const uint32_t crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(out.data() + header), static_cast<uInt>(size - 4)));
  for (int i = 0; i < 4; ++i) out[header + size - 4 + i] = static_cast<char>(crc >> (8 * i));
  return out;
}

class ResourceLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = FreshDirectory("resource-limits");
    console = FreshDirectory("resource-limits-console") / "console";
  }
  void TearDown() override {
    fs::remove_all(dir);
    fs::remove_all(console.parent_path());
  }

  // Runs the program on `args` in `dir` with `resource` limited to `limit`.
  int RunLimited(const std::vector<std::string>& args, int resource, rlim_t limit) {
    RunningProgram run = StartProgram(STITCHER_BINARY, dir, args, console, -1, [=] {
      const rlimit lowered{limit, limit};
      setrlimit(resource, &lowered);
    });
    return WaitProgramFor(run, 120);
  }

  fs::path dir;
  fs::path console;
};

// Far more threads than the limit lets start. Each thread's stack counts against an
// address-space limit: with plain output the merge runs with the threads that fit (or on the
// main thread alone), gives the same merged log and says so once; with 64 gzip threads on top,
// whose chunks need hundreds of megabytes, the run may also end cleanly for want of memory,
// never with an abort. As root the process-count limit does not bind, so only the
// address-space limit is certain to be met there.
TEST_F(ResourceLimits, ThreadsThatCannotStartLeaveTheWorkToFewer) {
  const std::string a = AccessLines(1, 20000, 0);
  const std::string b = AccessLines(2, 20000, 1);
  WriteFile(dir / "a.log.gz", GzipBytes(a));
  WriteFile(dir / "b.log.zst", ZstdBytes(b));
  const ProgramRun reference = RunStitcher(
      dir, {"--threads=1", "-Plain", "-Output", "reference.log", "a.log.gz", "b.log.zst"});
  ASSERT_EQ(reference.status, 0);
  const std::string expected = ReadFile(dir / "reference.log");
  ASSERT_NE(expected.find("/h2/19999"), std::string::npos);

  struct Case {
    const char* label;
    int resource;
    rlim_t limit;
    bool gzip;
    bool binds;  // false: the limit does not hold for this user
  };
  const Case cases[] = {
      {"address space of 200 MB, 64 threads, plain", RLIMIT_AS, rlim_t{200} << 20, false, true},
      {"address space of 300 MB, 64 threads, gzip", RLIMIT_AS, rlim_t{300} << 20, true, true},
      {"one process for this user, 64 threads", RLIMIT_NPROC, 1, false, geteuid() != 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.resource == RLIMIT_AS && kSanitized) {
      std::printf("[ NOTE ] %s: not under a sanitizer\n", c.label);
      continue;
    }
    if (!c.binds) std::printf("[ NOTE ] %s: does not bind for root\n", c.label);
    const char* output = c.gzip ? "merged.gz" : "merged.log";
    // An earlier merged log (its header line and nothing more), which the run may replace.
    const std::string earlier = expected.substr(0, expected.find('\n') + 1);
    WriteFile(dir / output, c.gzip ? GzipBytes(earlier) : earlier);
    std::vector<std::string> args = {"--threads=64", "-Output", output, "a.log.gz", "b.log.zst"};
    if (!c.gzip) args.insert(args.begin(), "-Plain");
    const int status = RunLimited(args, c.resource, c.limit);
    const std::string said = ReadFile(console);
    const std::string written = ReadFile(dir / output);
    if (c.gzip && status == 1) {
      EXPECT_NE(said.find("Out of memory.\n"), std::string::npos) << said;
      EXPECT_EQ(Gunzip(written), earlier);
    } else {
      EXPECT_EQ(status, 0) << said;
      EXPECT_EQ(c.gzip ? Gunzip(written) : written, expected);
    }
    // The run plans a worker only where one can have work (here two inputs), so the limit
    // may or may not refuse a thread; when it does, the run says so once (below).
    EXPECT_EQ(said.find("Note:"), said.rfind("Note:")) << "at most one note: " << said;
    EXPECT_EQ(said.find("terminate"), std::string::npos) << said;
    EXPECT_TRUE(PartialFilesIn(dir).empty());
  }
}

// An input whose decoder needs more memory than the address space has left (a zstd frame
// with a 128 MiB window, allowed, under a limit of 100 MB): the run ends with the reason and
// status 1, removes its partial file and keeps the earlier merged log. With one thread the
// failure meets the merge thread; with several, a worker.
TEST_F(ResourceLimits, MemoryThatCannotBeHadEndsTheRunCleanly) {
  if (kSanitized) GTEST_SKIP() << "an address-space limit stops a sanitizer build before main";
  WriteFile(dir / "a.log.zst", ZstdWithWindow(AccessLines(1, 3000, 0), 27));
  WriteFile(dir / "b.log", AccessLines(2, 3000, 1));
  for (const char* threads : {"--threads=1", "--threads=8"}) {
    SCOPED_TRACE(threads);
    WriteFile(dir / "merged.gz", "the merged log of an earlier run\n");
    const int status = RunLimited({threads, "a.log.zst", "b.log"}, RLIMIT_AS, rlim_t{100} << 20);
    EXPECT_EQ(status, 1) << "never an abort (1006)";
    const std::string said = ReadFile(console);
    EXPECT_NE(said.find("Out of memory"), std::string::npos) << said;
    EXPECT_EQ(said.find("terminate"), std::string::npos) << said;
    EXPECT_EQ(ReadFile(dir / "merged.gz"), "the merged log of an earlier run\n");
    EXPECT_TRUE(PartialFilesIn(dir).empty());
  }
}

// Inputs asking for more than the decoders allow (as `zstd -d` and `xz -d` refuse them
// without --memory) are left out, saying which and what they need; the others are merged.
TEST_F(ResourceLimits, OversizedWindowsAndDictionariesAreRefusedWithTheirNeed) {
  const std::string kept = AccessLines(3, 50, 0);
  WriteFile(dir / "kept.log", kept);
  WriteFile(dir / "wide.log.zst", ZstdWithWindow(AccessLines(1, 50, 0), 28));
  WriteFile(dir / "deep.log.xz", XzWith96MiBDictionary(AccessLines(2, 50, 0)));
  WriteFile(dir / "fine.log.zst", ZstdWithWindow(AccessLines(4, 50, 0), 27));
  const ProgramRun run =
      RunStitcher(dir, {"-Plain", "-Output", "merged.log", "--output-format=ncsa", "wide.log.zst",
                        "deep.log.xz", "fine.log.zst", "kept.log"});
  EXPECT_EQ(run.status, 2) << "inputs were lost";
  EXPECT_EQ(run.console,
            "Error reading input file 'wide.log.zst': its zstd window of 256 MiB needs more "
            "memory than the 128 MiB allowed.\n"
            "Error reading input file 'deep.log.xz': its xz dictionary of 96 MiB needs more "
            "memory than the 64 MiB allowed.\n"
            "Writing ncsa lines.\n"
            "Merging . . .\n"
            "Wrote 100 entries (NCSA combined, plain text) to '" +
                (dir / "merged.log").string() + "'.\n");
  const std::string merged = ReadFile(dir / "merged.log");
  EXPECT_NE(merged.find("/h3/49"), std::string::npos);
  EXPECT_NE(merged.find("/h4/49"), std::string::npos) << "a 128 MiB window is allowed";
  EXPECT_EQ(merged.find("/h1/"), std::string::npos);
  EXPECT_EQ(merged.find("/h2/"), std::string::npos);
}

// Inputs whose decoders together pass the budget are merged in passes, as many at a time as
// fit (here windows of 8 MiB in a budget of 16 MiB: two at a time; of 32 MiB: each alone),
// and give the same merged log as one pass does.
TEST_F(ResourceLimits, InputsPastTheMemoryBudgetMergeInPassesToTheSameLog) {
  std::vector<std::string> args = {"-Plain", "-Output", "merged.log"};
  for (int host = 1; host <= 5; ++host) {
    const std::string name = "w" + std::to_string(host) + ".log.zst";
    WriteFile(dir / name, ZstdWithWindow(AccessLines(host, 400, host), host == 5 ? 25 : 23));
    args.push_back(name);
  }
  args.push_back("plain.log");
  WriteFile(dir / "plain.log", AccessLines(9, 400, 0));
  std::vector<std::string> one_pass = args;
  one_pass.insert(one_pass.begin(), "--memory=1G");
  ASSERT_EQ(RunStitcher(dir, one_pass).status, 0);
  const std::string expected = ReadFile(dir / "merged.log");
  ASSERT_NE(expected.find("/h5/399"), std::string::npos);
  for (const char* budget : {"--memory=16M", "--memory=16384K"}) {
    SCOPED_TRACE(budget);
    fs::remove(dir / "merged.log");
    std::vector<std::string> in_passes = args;
    in_passes.insert(in_passes.begin(), budget);
    const ProgramRun run = RunStitcher(dir, in_passes);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.console,
        "Writing webstar lines.\nMerging . . .\nWrote 2,400 entries (WebSTAR, plain text) to '" +
            (dir / "merged.log").string() + "'.\n");
    EXPECT_EQ(ReadFile(dir / "merged.log"), expected);
  }
}

// Budgets as the option takes them, and those it refuses.
TEST_F(ResourceLimits, MemoryBudgetValues) {
  struct Case {
    const char* value;
    bool taken;
  };
  const Case cases[] = {{"64M", true},  {"1g", true},     {"16777216", true},
                        {"15M", false}, {"", false},      {"64MB", false},
                        {"-1G", false}, {"1025G", false}, {"99999999999999999999", false}};
  WriteFile(dir / "a.log", AccessLines(1, 3, 0));
  WriteFile(dir / "b.log", AccessLines(2, 3, 0));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const ProgramRun run =
        RunStitcher(dir, {std::string("--memory=") + c.value, "-Plain", "a.log", "b.log"});
    EXPECT_EQ(run.status, c.taken ? 0 : 1) << run.console;
    if (!c.taken) {
      EXPECT_EQ(run.console, "Invalid --memory value '" + std::string(c.value) +
                                 "': give a size from 16M to 1024G, such as 64M or 1G!\n");
    }
  }
}

}  // namespace

#endif  // STITCHER_BINARY
