#include "input/input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "compressed_fixtures.h"
#include "input/bzip2_reader.h"
#include "input/gzip_reader.h"
#include "input/inflate_loop.h"
#include "input/read_ahead.h"
#include "input/xz_reader.h"
#include "input/zip_reader.h"
#include "input/zstd_reader.h"
#include "input_fixtures.h"
#include "pool_environment.h"
#include "report_to_stderr.h"

namespace {

using namespace testing_support;

// ---- Helpers ----------------------------------------------------------------------------------

// Length of the line at `p` as the parser reports it: up to and including the line end, or
// one more than the text when the data ends (or holds a NUL) without one.
int32_t LineLength(const char* p) {
  const char* end = std::strchr(p, '\n');
  if (end != nullptr) return static_cast<int32_t>(end - p + 1);
  return static_cast<int32_t>(std::strlen(p) + 1);
}

// Reads the input to its end as the merge engine does and checks the NUL invariant at every
// step. Returns the lines as delivered (the terminating NUL of a last line not counted).
std::vector<std::string> DrainLines(InputFile* in) {
  std::vector<std::string> lines;
  while (char* p = INPeek(in)) {
    EXPECT_EQ(in->buff[in->buff_pos + in->buff_cnt], '\0');
    const int32_t len = LineLength(p);
    lines.emplace_back(p, static_cast<size_t>(std::min(len, in->buff_cnt)));
    INAdvance(in, len);
  }
  EXPECT_EQ(in->buff_cnt, 0);
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l;
  return all;
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override { pool_ = MPNew(); }
  void TearDown() override { MPDispose(pool_); }

  InputFile* Attach(const std::string& bytes) {
    FileDescriptor f = StreamOf(bytes);
    EXPECT_TRUE(f.IsOpen());
    return INAttach(std::move(f), pool_);
  }

  // Attaches, checks the detected type, drains and closes; returns the text delivered.
  std::string ReadAll(const std::string& bytes, int32_t expected_type) {
    InputFile* in = Attach(bytes);
    EXPECT_EQ(in->type, expected_type);
    const std::string text = Joined(DrainLines(in));
    INClose(in);
    return text;
  }

  // ReadAll, also returning what was printed.
  std::string ReadAllPrinting(const std::string& bytes, int32_t expected_type,
                              std::string* console) {
    ::testing::internal::CaptureStdout();
    const std::string text = ReadAll(bytes, expected_type);
    *console = ::testing::internal::GetCapturedStdout();
    return text;
  }

  MemoryPool* pool_ = nullptr;
};

constexpr const char* kReadError = "Read error on input!\n";

// ---- Windows sized to the file --------------------------------------------------------------

// A plain regular file smaller than a window is read whole into a window of its own size, and
// its end is known from that one read; a larger one gets the full window.
TEST_F(InputTest, APlainFileGetsAWindowNoLargerThanItself) {
  const struct {
    const char* name;
    std::string bytes;
    int32_t window;
  } cases[] = {
      {"empty", "", 2},
      {"one line", "one line\n", 9 + 2},
      {"just under a window", NumberedLines(5000).substr(0, IN_BUFF_SIZE - 3), IN_BUFF_SIZE - 1},
      {"a window and more", NumberedLines(5000), IN_BUFF_SIZE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InputFile* in = Attach(c.bytes);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->first_buff_size, c.window);
    const bool small = c.window < IN_BUFF_SIZE;
    EXPECT_EQ(in->at_eof != 0, small) << "a small file's end is known at once";
    EXPECT_EQ(Joined(DrainLines(in)), c.bytes);
    EXPECT_EQ(in->buff, in->first_buff) << "no larger window was needed";
    INClose(in);
  }
}

// The size fstat gave may be short of the bytes there: a file that grew since (or a kernel
// file that states no size). Its window grows and every byte is read.
TEST_F(InputTest, AFileLargerThanItsStatedSizeIsReadToItsEnd) {
  const std::string text = NumberedLines(9000);
  const std::string first = NumberedLines(300, "first ");
  const std::string first_gz = GzipBytes(first);
  const struct {
    std::string bytes;
    int64_t stated;
    std::string text;
  } cases[] = {
      {text, 0, text},
      {text, 10, text},
      {text, 5000, text},
      // A small gzip file with a member appended since: streamed to its end.
      {first_gz + GzipBytes(text), static_cast<int64_t>(first_gz.size()), first + text},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stated);
    FileDescriptor file = StreamOf(c.bytes);
    FileFacts facts = FactsOf(file.Get());
    ASSERT_TRUE(facts.regular);
    facts.size = c.stated;
    InputFile* in = INAttach(std::move(file), facts, pool_);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(Joined(DrainLines(in)), c.text);
    INClose(in);
  }
}

TEST_F(InputTest, AKernelFileWithoutASizeIsReadWhole) {
  const FileDescriptor probe = OpenForReading("/proc/self/limits");
  if (!probe.IsOpen()) GTEST_SKIP() << "no /proc here";
  ASSERT_EQ(FactsOf(probe.Get()).size, 0);  // what makes it a test of the stated size
  InputFile* in = INAttach(OpenForReading("/proc/self/limits"), pool_);
  ASSERT_NE(in, nullptr);
  const std::vector<std::string> lines = DrainLines(in);
  INClose(in);
  ASSERT_GT(lines.size(), 5u);
  EXPECT_EQ(lines.front().rfind("Limit", 0), 0u);
  EXPECT_EQ(lines.back().rfind("Max realtime timeout", 0), 0u);
}

// A file that is not read from its first byte (a descriptor handed over part way) keeps its
// offsets: a zip archive's directory is found from where the input starts.
TEST_F(InputTest, AnArchiveIsReadFromWhereTheDescriptorStands) {
  const std::string prefix = "not part of the archive\n";
  FileDescriptor file = StreamOf(prefix + ZipBytes({{"a.log", "first\n"}, {"b.log", "second\n"}}));
  ASSERT_TRUE(file.IsOpen());
  lseek(file.Get(), static_cast<off_t>(prefix.size()), SEEK_SET);
  InputFile* in = INAttach(std::move(file), pool_);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->type, IN_ZIP);
  EXPECT_EQ(Joined(DrainLines(in)), "first\nsecond\n");
  INClose(in);
}

// A gzip input gives its inflate state back as soon as its data ends, and the next one to
// start may get the same memory: many small inputs open at once, read in turns, each still
// delivers its own lines, and a read after the end gives nothing.
TEST_F(InputTest, ManySmallGzipInputsOpenAtOnceEachDeliverTheirOwnLines) {
  constexpr int kInputs = 40;
  std::vector<InputFile*> inputs;
  std::vector<std::string> expected, got(kInputs);
  for (int i = 0; i < kInputs; ++i) {
    // Every fifth one larger than a read, so some are still decoding while others have ended.
    const int lines = i % 5 == 0 ? 4000 : 3;
    expected.push_back(NumberedLines(lines, "input " + std::to_string(i) + " line "));
    inputs.push_back(Attach(GzipBytes(expected.back())));
    ASSERT_NE(inputs.back(), nullptr);
    ASSERT_EQ(inputs.back()->type, IN_GZIP);
  }
  for (bool any = true; any;) {
    any = false;
    for (int i = 0; i < kInputs; ++i) {
      char* p = INPeek(inputs[i]);
      if (p == nullptr) continue;
      any = true;
      const int32_t len = LineLength(p);
      got[i].append(p, static_cast<size_t>(std::min(len, inputs[i]->buff_cnt)));
      INAdvance(inputs[i], len);
    }
  }
  for (int i = 0; i < kInputs; ++i) {
    EXPECT_EQ(got[i], expected[i]) << "input " << i;
    EXPECT_EQ(INPeek(inputs[i]), nullptr);
    EXPECT_FALSE(inputs[i]->read_failed);
    INClose(inputs[i]);
  }
}

// ---- Small gzip files decoded whole --------------------------------------------------------

// What the gzip reader gives when it streams `bytes` from a source of unknown size (as from a
// pipe), read a chunk at a time as the window reads: the bytes, and whether a failure follows.
struct Streamed {
  std::string text;
  bool failed = false;
};

Streamed StreamGzip(const std::string& bytes, MemoryPool* pool) {
  Streamed s;
  const FileDescriptor file = StreamOf(bytes);
  SourceFile source;
  InitSourceFile(&source, file.Get(), -1);
  void* reader = GzipOpen(&source, pool);
  EXPECT_NE(reader, nullptr);
  std::vector<char> chunk(IN_CHUNK);
  while (reader != nullptr) {
    const DecodeResult r = GzipRead(reader, chunk.data(), IN_CHUNK);
    s.text.append(chunk.data(), static_cast<size_t>(r.count));
    s.failed = r.failed;
    if (r.failed || r.count == 0) break;
  }
  if (reader != nullptr) GzipClose(reader);
  return s;
}

// A gzip file that arrives whole in the first read and decodes to at most IN_GZIP_WHOLE_MAX
// bytes is decoded when it is opened, into a window of its decoded size (with the NUL and
// the spare byte), and ends there: it is not read ahead, and a failure is known at once.
// Whatever path it takes, it delivers exactly what the streaming reader gives, the bytes
// before a failure once, then the failure.
TEST_F(InputTest, ASmallGzipFileIsDecodedWholeWhenOpened) {
  const std::string a = NumberedLines(300, "first ");
  const std::string b = NumberedLines(300, "second ");
  const std::string lines = NumberedLines(20000);
  const std::string at_max = lines.substr(0, IN_GZIP_WHOLE_MAX);
  const std::string over_max = lines.substr(0, IN_GZIP_WHOLE_MAX + 1);
  const std::string big = lines.substr(0, IN_GZIP_WHOLE_MAX - 1000);
  std::string bad_crc = GzipBytes(a);
  bad_crc[bad_crc.size() - 8] ^= 0x55;
  std::string damaged_middle = GzipBytes(big);
  damaged_middle.replace(damaged_middle.size() / 2, 4, "\xde\xad\xbe\xef");
  // As `gzip access.log` writes it: the FNAME flag and the name, then no data at all.
  const std::string header_only =
      std::string("\x1f\x8b\x08\x08\x5c\x2b\x0e\x3a\x00\x03", 10) + "access.log" + '\0';
  // `text` is what a sound file decodes to; a damaged one decodes to what the streaming
  // reader gives, then fails.
  const struct {
    const char* name;
    std::string bytes;
    bool whole;
    bool damaged;
    std::string text;
  } cases[] = {
      {"one member", GzipBytes(a), true, false, a},
      {"members, an empty one among them, the last without a line end",
       GzipBytes(a) + GzipBytes("") + GzipBytes(b) + GzipBytes("no line end"), true, false,
       a + b + "no line end"},
      {"an empty member", GzipBytes(""), true, false, ""},
      {"zero padding after the member", GzipBytes(a) + std::string(3000, '\0'), true, false, a},
      {"stored blocks, larger than the text", GzipBytes(a, 0), true, false, a},
      {"decoding to the bound", GzipBytes(at_max), true, false, at_max},
      {"decoding to a byte more than the bound", GzipBytes(over_max), false, false, over_max},
      // The last member states a small size: the file is tried, found too large, streamed.
      {"members decoding to more than the bound, the last a small one",
       GzipBytes(big) + GzipBytes(a) + GzipBytes(b), false, false, big + a + b},
      {"zero padding after members decoding to more than the bound",
       GzipBytes(big) + GzipBytes(a) + std::string(100, '\0'), false, false, big + a},
      {"compressed data larger than a window", GzipBytes(lines.substr(0, 45000), 0), false, false,
       lines.substr(0, 45000)},
      {"a wrong checksum", bad_crc, true, true, ""},
      {"damaged in the middle", damaged_middle, true, true, ""},
      {"a header and nothing after it", header_only, true, true, ""},
      {"garbage after a member", GzipBytes(a) + "garbage after the member", true, true, ""},
      {"a member cut short after a good one", GzipBytes(a) + GzipBytes(b).substr(0, 40), true, true,
       ""},
  };
  const WorkCrewPtr crew = MakeWorkCrew(1);
  ASSERT_NE(crew, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Streamed expected = StreamGzip(c.bytes, pool_);
    EXPECT_EQ(expected.failed, c.damaged);
    if (!c.damaged) {
      EXPECT_TRUE(expected.text == c.text);
    }
    ::testing::internal::CaptureStdout();
    InputFile* in = Attach(c.bytes);
    const std::string console_at_open = ::testing::internal::GetCapturedStdout();
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->type, IN_GZIP);
    if (c.whole) {
      EXPECT_EQ(in->first_buff_size, static_cast<int32_t>(expected.text.size()) + 2);
      EXPECT_EQ(in->at_eof, 1);
      EXPECT_EQ(in->read_failed != 0, expected.failed);
      EXPECT_EQ(console_at_open, expected.failed ? kReadError : "");
      EXPECT_FALSE(INReadAhead(in, *crew));
    } else {
      EXPECT_EQ(in->first_buff_size, IN_BUFF_SIZE);
      EXPECT_EQ(in->at_eof, 0);
      EXPECT_TRUE(INReadAhead(in, *crew));
    }
    ::testing::internal::CaptureStdout();
    const std::string got = Joined(DrainLines(in));
    const std::string console = console_at_open + ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, expected.failed ? kReadError : "");
    EXPECT_EQ(in->read_failed != 0, expected.failed);
    EXPECT_EQ(got.size(), expected.text.size());
    EXPECT_TRUE(got == expected.text);
    INClose(in);
  }
}

// ISA-L may hand out bytes of its own staging buffer with the last bytes before it reports
// damage. A state on memory that held other bytes (a pool block used before) gives the same
// bytes as one on cleared memory, so what a damaged file delivers never varies from run to run.
TEST_F(InputTest, DamagedGzipDecodesAlikeWhateverMemoryTheStateIsGiven) {
  std::string bytes = GzipBytes(NumberedLines(2000, "small entry "));
  bytes.replace(bytes.size() / 3, 4, "\xde\xad\xbe\xef");
  const auto decode = [&bytes](unsigned char fill) {
    MemoryPool* used = MPNew();
    std::memset(MPAlloc(used, MP_BLOCK_SIZE), fill, MP_BLOCK_SIZE);
    MPDispose(used);  // its block is the next one a pool is given
    MemoryPool* pool = MPNew();
    inflate_state* state = NewInflateState(pool, InflateWrapper::kGzip);
    std::string in = bytes;
    std::string out(IN_CHUNK, '\0');
    state->next_in = reinterpret_cast<uint8_t*>(in.data());
    state->avail_in = static_cast<uint32_t>(in.size());
    state->next_out = reinterpret_cast<uint8_t*>(out.data());
    state->avail_out = IN_CHUNK;
    const InflateFeed all_given{[](void*, inflate_state*) { return true; }, nullptr};
    EXPECT_EQ(InflateSome(state, all_given), InflateStop::kFailed);
    out.resize(IN_CHUNK - state->avail_out);
    MPDispose(pool);
    return out;
  };
  const std::string cleared = decode(0);
  EXPECT_GT(cleared.size(), 1000u);
  EXPECT_TRUE(decode(0x41) == cleared);
}

// ---- Plain window ----------------------------------------------------------------------------

TEST_F(InputTest, AnEmptyFileEndsAtOnce) {
  InputFile* in = Attach("");
  EXPECT_EQ(in->type, IN_PLAIN);
  EXPECT_EQ(INPeek(in), nullptr);
  EXPECT_TRUE(in->at_eof);
  INClose(in);
}

TEST_F(InputTest, ANullStreamGivesNoInput) {
  EXPECT_EQ(INAttach(FileDescriptor(), pool_), nullptr);
}

TEST_F(InputTest, PlainLinesArriveWholeAndInOrder) {
  const std::string text = NumberedLines(50000);  // many refills
  InputFile* in = Attach(text);
  const std::vector<std::string> lines = DrainLines(in);
  INClose(in);
  ASSERT_EQ(lines.size(), 50000u);
  EXPECT_EQ(lines[0], "line 0\n");
  EXPECT_EQ(lines[49999], "line 49999\n");
  EXPECT_EQ(Joined(lines), text);
}

TEST_F(InputTest, TheFirstRefillReadsOneChunk) {
  InputFile* in = Attach(std::string(100000, 'x'));
  EXPECT_EQ(in->buff_cnt, IN_CHUNK);
  EXPECT_EQ(in->buff_pos, 0);
  EXPECT_EQ(in->buff[IN_CHUNK], '\0');
  INClose(in);
}

TEST_F(InputTest, RefillsHappenOnlyBelowTheMinimumLookAhead) {
  InputFile* in = Attach(std::string(100000, 'x'));
  INAdvance(in, IN_CHUNK - IN_MIN_AHEAD);  // exactly IN_MIN_AHEAD left: no refill
  EXPECT_EQ(in->buff_cnt, IN_MIN_AHEAD);
  EXPECT_EQ(in->buff_pos, IN_CHUNK - IN_MIN_AHEAD);
  INAdvance(in, 1);  // one fewer: the rest moves to the front and a chunk follows it
  EXPECT_EQ(in->buff_pos, 0);
  EXPECT_EQ(in->buff_cnt, IN_MIN_AHEAD - 1 + IN_CHUNK);
  EXPECT_EQ(in->buff[in->buff_cnt], '\0');
  INClose(in);
}

TEST_F(InputTest, TheLastLineWithoutALineEndIsAcceptedWithItsNul) {
  InputFile* in = Attach("first\nlast");
  INAdvance(in, 6);
  ASSERT_STREQ(INPeek(in), "last");
  INAdvance(in, 5);  // one more than is left
  EXPECT_EQ(in->buff_cnt, 0);
  EXPECT_EQ(INPeek(in), nullptr);
  INClose(in);
}

TEST_F(InputTest, LinesUpToTheLookAheadAreAlwaysWhole) {
  // Lines of 8192 bytes (line end included) at every offset against the refill boundary.
  std::string text;
  for (int i = 0; i < 12; ++i) text += std::string(8191 - i * 7, static_cast<char>('a' + i)) + "\n";
  InputFile* in = Attach(text);
  const std::vector<std::string> lines = DrainLines(in);
  INClose(in);
  ASSERT_EQ(lines.size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(lines[i].size(), static_cast<size_t>(8192 - i * 7));
}

// A NUL ends a line as a line end does, and a crash often leaves a run of them in a log:
// each is a line of its own, and the window knows them whole from one scan instead of
// scanning back over the rest of the run for every one of them.
TEST_F(InputTest, ARunOfNulBytesIsReadInOnePass) {
  const std::string text = "first\n" + std::string(3 * IN_CHUNK, '\0') + "last\n";
  InputFile* in = Attach(text);
  INAdvance(in, 6);
  ASSERT_NE(INPeek(in), nullptr);
  EXPECT_GT(in->whole_before, in->buff_pos + IN_CHUNK / 2);
  INClose(in);
  EXPECT_EQ(ReadAll(text, IN_PLAIN), text);
}

TEST_F(InputTest, ALongLineArrivesWholeWhenTheWindowEnds) {
  // A 22768-byte line, then a 20000-byte one: after the first, 10000 bytes are unread (no
  // refill, that is more than the look-ahead), so the long line runs past the data read: the
  // input reads on until its line end is in.
  std::string text = std::string(22767, 's') + "\n" + std::string(19999, 'L') + "\n" + "tail\n";
  InputFile* in = Attach(text);
  const std::vector<std::string> lines = DrainLines(in);
  INClose(in);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], std::string(19999, 'L') + "\n");
  EXPECT_EQ(lines[2], "tail\n");
  EXPECT_EQ(Joined(lines), text);
}

// A line is delivered whole up to IN_LINE_MAX whatever the window's first size; a longer
// one is passed over whole, to its line end, and counted. The lines around it are intact.
TEST_F(InputTest, LongLinesArriveWholeAndOverLongOnesArePassedOverWhole) {
  struct Case {
    const char* what;
    int32_t text;     // bytes of the long line before its line end
    const char* end;  // its line end
    int64_t dropped;  // lines passed over
  };
  const Case cases[] = {
      {"just past the first chunk", IN_CHUNK + 5, "\n", 0},
      {"several windows long", 5 * IN_BUFF_SIZE, "\n", 0},
      {"a CR LF pair split by a refill", IN_CHUNK - 1, "\r\n", 0},
      {"the longest line read", IN_LINE_MAX, "\n", 0},
      {"one byte too long", IN_LINE_MAX + 1, "\n", 1},
      {"twice the limit, CR LF", 2 * IN_LINE_MAX, "\r\n", 1},
      {"too long, LF CR", IN_LINE_MAX + IN_CHUNK, "\n\r", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string long_line = std::string(static_cast<size_t>(c.text), 'a') + c.end;
    InputFile* in = Attach("before\n" + long_line + "after\n");
    std::vector<std::string> lines;
    while (char* p = INPeek(in)) {
      // The whole line, line end included, is in the unread data.
      const int32_t len = static_cast<int32_t>(std::strcspn(p, "\r\n"));
      int32_t with_end = len < in->buff_cnt ? len + 1 : len;
      if (len + 1 < in->buff_cnt && p[len] == '\r' && p[len + 1] == '\n') ++with_end;
      if (len + 1 < in->buff_cnt && p[len] == '\n' && p[len + 1] == '\r') ++with_end;
      lines.emplace_back(p, static_cast<size_t>(with_end));
      INAdvance(in, with_end);
    }
    EXPECT_EQ(in->lines_dropped, c.dropped);
    INClose(in);
    if (c.dropped == 0) {
      EXPECT_EQ(lines, (std::vector<std::string>{"before\n", long_line, "after\n"}));
    } else {
      EXPECT_EQ(lines, (std::vector<std::string>{"before\n", "after\n"}));
    }
  }
}

TEST_F(InputTest, AnOverLongLastLineWithoutALineEndIsPassedOver) {
  InputFile* in = Attach("first\n" + std::string(IN_LINE_MAX + 10, 'z'));
  ASSERT_NE(INPeek(in), nullptr);
  EXPECT_EQ(std::string(INPeek(in), 6), "first\n");
  INAdvance(in, 6);
  EXPECT_EQ(INPeek(in), nullptr);
  EXPECT_EQ(in->lines_dropped, 1);
  INClose(in);
}

TEST_F(InputTest, AnInvalidTypeReadsNothingAndClosesOnlyTheFile) {
  InputFile* in = Attach(std::string(3 * IN_CHUNK, 'x'));  // more than the first window holds
  in->type = 7;
  ::testing::internal::CaptureStdout();
  INAdvance(in, IN_CHUNK - 1000);  // below the look-ahead: a refill is attempted
  INClose(in);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Invalid file type in fill input buffer (7)!\nInvalid file type in INClose!\n");
  EXPECT_TRUE(in->at_eof);
  EXPECT_EQ(in->buff_cnt, 1000);
  EXPECT_FALSE(in->descriptor.IsOpen());
}

// ---- Containers --------------------------------------------------------------------------

TEST_F(InputTest, EveryContainerDeliversTheSameText) {
  const std::string text =
      NumberedLines(30000, "192.0.2.1 - - [10/Oct/2000:13:55:36 -0700] \"GET /a");
  const struct {
    const char* name;
    std::string bytes;
    int32_t type;
  } cases[] = {
      {"plain", text, IN_PLAIN},
      {"gzip", GzipBytes(text), IN_GZIP},
      {"gzip level 0 (stored blocks)", GzipBytes(text, 0), IN_GZIP},
      {"bzip2", Bzip2Bytes(text), IN_BZIP2},
      {"bzip2 small blocks (several blocks)", Bzip2Bytes(text, 1), IN_BZIP2},
      {"zip deflated", ZipBytes({{"a.log", text}}), IN_ZIP},
      {"zip stored", ZipBytes({{"a.log", text, 0}}), IN_ZIP},
      {"xz", XzBytes(text), IN_XZ},
      {"xz, strongest preset", XzBytes(text, 9), IN_XZ},
      {"zstd", ZstdBytes(text), IN_ZSTD},
      {"zstd, level 19", ZstdBytes(text, 19), IN_ZSTD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string console;
    EXPECT_EQ(ReadAllPrinting(c.bytes, c.type, &console), text);
    EXPECT_EQ(console, "");
  }
}

TEST_F(InputTest, DetectionLooksAtTheFirstSixteenBytes) {
  const std::string pad(16, 'x');
  const std::string gz = GzipBytes("hello\n");
  const std::string bz = Bzip2Bytes("hello\n");
  const struct {
    const char* name;
    std::string bytes;
    int32_t type;
  } cases[] = {
      {"gzip magic in a file of fewer than 16 bytes", gz.substr(0, 15), IN_PLAIN},
      {"1F 8B with a method other than deflate", "\x1f\x8b\x07" + pad, IN_PLAIN},
      {"BZh followed by a non-digit", "BZhx1AY&SY" + pad, IN_PLAIN},
      {"a bzip2 stream without any block", Bzip2Bytes(""), IN_PLAIN},
      // Long enough to be looked at: bytes 4 to 9 must be the magic of a first block.
      {"two bzip2 streams without any block", Bzip2Bytes("") + Bzip2Bytes(""), IN_PLAIN},
      {"BZh and a digit, then one wrong block-magic byte", "BZh91AY&SX" + pad, IN_PLAIN},
      {"the letters of a zip mark later in the text", "xPK\x03\x04" + pad, IN_PLAIN},
      {"xz magic in a file of fewer than 16 bytes", XzBytes("hello\n").substr(0, 15), IN_PLAIN},
      {"xz magic without its final zero byte",
       "\xfd"
       "7zXZx" +
           pad,
       IN_PLAIN},
      {"zstd magic with one byte wrong", "\x28\xb5\x2f\xfe" + pad, IN_PLAIN},
      {"gzip", gz, IN_GZIP},
      {"bzip2", bz, IN_BZIP2},
      {"zip", ZipBytes({{"a", "hello\n"}}), IN_ZIP},
      {"xz", XzBytes("hello\n"), IN_XZ},
      {"zstd", ZstdBytes("192.0.2.1 - - [10/Oct/2000:13:55:36 -0700]\n"), IN_ZSTD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InputFile* in = Attach(c.bytes);
    EXPECT_EQ(in->type, c.type);
    if (c.type == IN_PLAIN) {
      // Plain from the first byte, whatever the failed detection read.
      ASSERT_NE(INPeek(in), nullptr);
      EXPECT_EQ(std::string(INPeek(in), static_cast<size_t>(in->buff_cnt)), c.bytes);
    }
    INClose(in);
  }
}

// A zip archive's directory is at its end, so an archive cut anywhere has lost it: the file
// is left out with the reason, never read as text.
TEST_F(InputTest, AZipCutShortIsLeftOutAsDamaged) {
  const std::string zip = ZipBytes({{"a.log", NumberedLines(200)}, {"b.log", "more\n"}});
  std::vector<std::string> cut = {std::string("PK\x03\x04", 4) + std::string(100, 'x')};
  // Up to the 22-byte record that ends the directory.
  constexpr size_t kEndRecord = 22;
  for (size_t at = 16; at < zip.size() - kEndRecord; at += 37) cut.push_back(zip.substr(0, at));
  cut.push_back(zip.substr(0, zip.size() - kEndRecord));
  for (const std::string& bytes : cut) {
    SCOPED_TRACE(bytes.size());
    const char* not_read = nullptr;
    const char* damaged = nullptr;
    EXPECT_EQ(INAttach(StreamOf(bytes), pool_, &not_read, &damaged), nullptr);
    EXPECT_EQ(not_read, nullptr);
    EXPECT_STREQ(damaged, "the zip archive is damaged (no central directory)");
  }
}

// A stream that cannot seek is detected like a file: the bytes read for detection reach the
// decoder. A zip archive, read through its directory at the end, cannot be read so.
TEST_F(InputTest, CompressedDataThroughAPipeIsDecoded) {
  const std::string text = NumberedLines(20000);
  const struct {
    const char* name;
    std::string bytes;
    int32_t type;
  } cases[] = {
      {"plain", text, IN_PLAIN},
      {"gzip", GzipBytes(text), IN_GZIP},
      {"bzip2", Bzip2Bytes(text), IN_BZIP2},
      {"xz", XzBytes(text), IN_XZ},
      {"zstd", ZstdBytes(text), IN_ZSTD},
      {"shorter than a magic", "a\nb\n", IN_PLAIN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileDescriptor pipe = PipeOf(c.bytes);
    ASSERT_TRUE(pipe.IsOpen());
    InputFile* in = INAttach(std::move(pipe), pool_);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->type, c.type);
    const std::string got = Joined(DrainLines(in));
    INClose(in);
    EXPECT_EQ(got, c.type == IN_PLAIN ? c.bytes : text);
  }
  const char* damaged = nullptr;
  // Small enough to sit in the pipe whole, so the writer never meets a closed end.
  EXPECT_EQ(INAttach(PipeOf(ZipBytes({{"a", "hello\n"}})), pool_, nullptr, &damaged), nullptr);
  EXPECT_STREQ(damaged, "a zip archive cannot be read from a pipe");
}

// A file that starts with a zip member's header is an archive: when its first member cannot
// be read it is left out with the reason, never merged as text.
TEST_F(InputTest, AZipWhoseFirstMemberCannotBeReadIsLeftOut) {
  std::string encrypted = ZipBytes({{"a.log", "hello\n", 0}});
  encrypted[6] |= 1;                                 // the local header's flag: encrypted
  encrypted[encrypted.find("PK\x01\x02") + 8] |= 1;  // and the directory's
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"unsupported method", ZipBytes({{"a.log", "hello\n", 99}, {"b.log", "more\n"}})},
      {"bzip2 method", ZipBytes({{"a.log", "hello\n", 12}})},
      {"encrypted", encrypted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const char* not_read = nullptr;
    const char* damaged = nullptr;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(INAttach(StreamOf(c.bytes), pool_, &not_read, &damaged), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(not_read, nullptr);
    EXPECT_STREQ(damaged,
                 "the zip archive's first member cannot be read (encrypted, or neither stored nor "
                 "deflated)");
  }
}

TEST_F(InputTest, ZipMembersAreJoinedInArchiveOrder) {
  const std::string bytes = ZipBytes({{"one.log", "a1\na2\n"},
                                      {"dir/", ""},  // a directory entry adds nothing
                                      {"two.log", "b1\nb2 no line end", 0},
                                      {"three.log", " joined\nc2\n"}});
  InputFile* in = Attach(bytes);
  ASSERT_EQ(in->type, IN_ZIP);
  EXPECT_EQ(DrainLines(in),
            (std::vector<std::string>{"a1\n", "a2\n", "b1\n", "b2 no line end joined\n", "c2\n"}));
  EXPECT_TRUE(ZipMembersDone(in->reader));
  INClose(in);  // the member sequence has ended: no member is closed twice
}

TEST_F(InputTest, ZipArchivesWithZip64FieldsAreReadWhole) {
  // Sizes only in zip64 fields, as `zip -fz` writes them and as every member of 4 GiB or
  // more has them: all members arrive, stored ones ending exactly at their size.
  const std::string a = NumberedLines(3000, "first member ");
  const std::string b = NumberedLines(10, "stored member ");
  const std::string c = NumberedLines(3000, "third member ");
  const struct {
    const char* name;
    std::vector<ZipMember> members;
    std::string text;
  } cases[] = {
      {"deflated, stored, deflated", {{"a.log", a}, {"b.log", b, 0}, {"c.log", c}}, a + b + c},
      {"stored, then deflated", {{"b.log", b, 0}, {"a.log", a}}, b + a},
      {"one deflated member", {{"a.log", a}}, a},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string console;
    EXPECT_EQ(ReadAllPrinting(Zip64Bytes(c.members), IN_ZIP, &console), c.text);
    EXPECT_EQ(console, "");
  }
}

TEST_F(InputTest, AManyMemberZipDoesNotGrowThePoolPerMember) {
  std::vector<ZipMember> members;
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    // Named, not a temporary: GCC 12 at -O3 reports a false -Wrestrict overlap for
    // "literal" + <temporary std::string>.
    const std::string number = std::to_string(i);
    const std::string text = NumberedLines(20, "member " + number + " line ");
    members.push_back({"m" + number + ".log", text});
    expected += text;
  }
  InputFile* in = Attach(ZipBytes(members));
  ASSERT_EQ(in->type, IN_ZIP);
  // The first member's decoder is set up at open, so its slots exist now.
  const int32_t room = MPRoom(pool_);
  const int32_t blocks = MPBlockCount(pool_);
  EXPECT_EQ(Joined(DrainLines(in)), expected);
  EXPECT_EQ(MPRoom(pool_), room);
  EXPECT_EQ(MPBlockCount(pool_), blocks);
  INClose(in);
}

TEST_F(InputTest, SeveralGzipMembersAndBzip2StreamsAreReadWhole) {
  const std::string a = NumberedLines(5000, "first ");
  const std::string b = "no line end at the end of a member";
  const std::string c = NumberedLines(5000, " second ");
  const struct {
    const char* name;
    std::string bytes;
    int32_t type;
  } cases[] = {
      {"gzip members", GzipBytes(a) + GzipBytes(b) + GzipBytes("") + GzipBytes(c), IN_GZIP},
      {"bzip2 streams", Bzip2Bytes(a) + Bzip2Bytes(b) + Bzip2Bytes(c), IN_BZIP2},
      // Zero padding after the members, as gzip accepts it: more than one read of the file.
      {"gzip members, then zero padding",
       GzipBytes(a) + GzipBytes(b) + GzipBytes(c) + std::string(40000, '\0'), IN_GZIP},
      {"xz streams", XzBytes(a) + XzBytes(b) + XzBytes(c), IN_XZ},
      {"xz streams with stream padding between and after",
       XzBytes(a) + std::string(8, '\0') + XzBytes(b + c) + std::string(4, '\0'), IN_XZ},
      {"zstd frames", ZstdBytes(a) + ZstdBytes(b) + ZstdBytes(c), IN_ZSTD},
      {"zstd frames with a skippable frame between",
       ZstdBytes(a) + ZstdSkippableFrame(100) + ZstdBytes(b + c), IN_ZSTD},
      {"gzip member, zero padding, another member",
       GzipBytes(a) + std::string(100, '\0') + GzipBytes(b + c), IN_GZIP},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    std::string console;
    EXPECT_EQ(ReadAllPrinting(cs.bytes, cs.type, &console), a + b + c);
    EXPECT_EQ(console, "");
  }
}

TEST_F(InputTest, ManyBzip2StreamsReuseTheDecoderState) {
  std::string bytes;
  std::string expected;
  for (int i = 0; i < 30; ++i) {
    const std::string text = NumberedLines(10, "stream " + std::to_string(i) + " ");
    bytes += Bzip2Bytes(text);
    expected += text;
  }
  InputFile* in = Attach(bytes);
  const int32_t room = MPRoom(pool_);
  EXPECT_EQ(Joined(DrainLines(in)), expected);
  EXPECT_EQ(MPRoom(pool_), room);
  INClose(in);
}

// Damaged files: the bytes decoded before the damage are delivered, then the input ends with
// "Read error on input!". `intact` is the text that must arrive in full; where the damage is
// a cut or a tail, what arrives is a prefix of `limit` (corrupt compressed data may decode to
// wrong bytes before its checksum fails, so it has no limit).
TEST_F(InputTest, DamagedFilesDeliverWhatDecodedThenEnd) {
  const std::string text = NumberedLines(40000, "entry ");
  const std::string first = NumberedLines(100, "first ");
  const std::string gz = GzipBytes(text);
  const std::string bz = Bzip2Bytes(text, 1);
  // Several of the bzip2 reader's 1 MiB turns, cut two thirds in: the turns before the cut
  // and the part of the last one decoded before it all arrive, then the error.
  const std::string long_text = NumberedLines(150000, "long entry ");
  const std::string long_bz = Bzip2Bytes(long_text, 1);
  const std::string xz = XzBytes(text);
  const std::string zst = ZstdBytes(text);
  std::string gz_bad_crc = GzipBytes(first);
  gz_bad_crc[gz_bad_crc.size() - 8] ^= 0x55;
  std::string gz_bad_size = GzipBytes(first);  // ISIZE, the last four bytes
  gz_bad_size[gz_bad_size.size() - 1] ^= 0x01;
  const std::string first_gz = GzipBytes(first);
  std::string zip_corrupt = ZipBytes({{"a.log", first}, {"b.log", text}});
  // Damage the second member's data (it starts after the first member's header and data).
  const size_t second_data = zip_corrupt.find("b.log") + 5;
  for (size_t i = second_data + 200; i < second_data + 260; ++i) zip_corrupt[i] = 'Z';
  const struct {
    const char* name;
    std::string bytes;
    int32_t type;
    std::string intact;  // must be delivered whole
    std::string limit;   // what is delivered is a prefix of this
  } cases[] = {
      {"truncated gzip", gz.substr(0, gz.size() / 2), IN_GZIP, "", text},
      {"gzip magic then garbage", "\x1f\x8b\x08" + std::string(40, 'g'), IN_GZIP, "", "-"},
      {"gzip with a wrong checksum", gz_bad_crc, IN_GZIP, "", first},
      {"gzip with a wrong size", gz_bad_size, IN_GZIP, "", first},
      {"gzip cut inside its trailer", first_gz.substr(0, first_gz.size() - 3), IN_GZIP, "", first},
      {"a gzip header cut short by blanks", first_gz.substr(0, 6) + std::string(10, ' '), IN_GZIP,
       "", "-"},
      {"a good gzip member, then one with a wrong checksum", GzipBytes(text) + gz_bad_crc, IN_GZIP,
       text, text + first},
      {"gzip followed by garbage", GzipBytes(first) + "garbage after the member", IN_GZIP, first,
       first},
      {"gzip followed by zero padding, then garbage",
       GzipBytes(first) + std::string(20000, '\0') + "garbage", IN_GZIP, first, first},
      {"gzip followed by a cut member", GzipBytes(first) + gz.substr(0, 100), IN_GZIP, first,
       first + text},
      {"truncated bzip2", bz.substr(0, bz.size() / 2), IN_BZIP2, "", text},
      {"bzip2 cut after several turns", long_bz.substr(0, long_bz.size() * 2 / 3), IN_BZIP2,
       long_text.substr(0, long_text.size() / 3), long_text},
      {"bzip2 magic then garbage", "BZh91AY&SY" + std::string(40, 'g'), IN_BZIP2, "", "-"},
      {"bzip2 followed by garbage", Bzip2Bytes(first) + "garbage", IN_BZIP2, first, first},
      {"zip with a corrupt second member", zip_corrupt, IN_ZIP, first, ""},
      {"truncated xz", xz.substr(0, xz.size() / 2), IN_XZ, "", text},
      {"xz magic then garbage",
       "\xfd"
       "7zXZ" +
           std::string(1, '\0') + std::string(40, 'g'),
       IN_XZ, "", "-"},
      {"xz followed by garbage", XzBytes(first) + "garbage", IN_XZ, first, first},
      {"truncated zstd", zst.substr(0, zst.size() / 2), IN_ZSTD, "", text},
      {"zstd magic then garbage", "\x28\xb5\x2f\xfd" + std::string(40, 'g'), IN_ZSTD, "", "-"},
      {"zstd followed by garbage", ZstdBytes(first) + "garbage after the frame", IN_ZSTD, first,
       first},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string console;
    const std::string got = ReadAllPrinting(c.bytes, c.type, &console);
    EXPECT_EQ(console, kReadError);
    EXPECT_EQ(got.substr(0, c.intact.size()), c.intact);
    if (!c.limit.empty()) {
      EXPECT_EQ(c.limit.substr(0, got.size()), got);
    }
  }
}

// Four bytes overwritten in the middle of each kind of compressed file. The decoder may give
// wrong bytes before it notices (gzip and zip check a member only at its end), but whatever it
// gives, the window hands out exactly that, each byte once, and then the input ends: a read
// that returns bytes together with its failure is neither repeated nor retried. Lines of up
// to 300 KiB make the window grow across refills on the way.
TEST_F(InputTest, ADecoderFailureEndsTheInputAfterItsBytesEachDeliveredOnce) {
  std::string text;
  for (int i = 0; i < 30000; ++i) {
    text += "entry " + std::to_string(i);
    if (i % 3000 == 1500) text += std::string(static_cast<size_t>(100000 * (i % 4 + 1)), 'a');
    text += "\n";
  }
  // Small enough to be decoded whole when it is opened.
  const std::string small = NumberedLines(2000, "small entry ");
  using Open = void* (*)(SourceFile*, MemoryPool*);
  const struct {
    const char* name;
    std::string bytes;
    int32_t type;
    Open open;
    DecodeResult (*read)(void*, char*, int32_t);
    void (*close)(void*);
    // The least read the decoder gives the same bytes for. Damage early in a gzip member
    // can make ISA-L drop what it decoded ahead into its own buffer when a read of under
    // 16 KiB meets it; the window never asks for less than IN_CHUNK.
    int32_t least_read;
  } cases[] = {
      {"gzip", GzipBytes(text), IN_GZIP, GzipOpen, GzipRead, GzipClose, 1000},
      {"gzip decoded whole", GzipBytes(small), IN_GZIP, GzipOpen, GzipRead, GzipClose, IN_CHUNK},
      {"bzip2", Bzip2Bytes(text, 1), IN_BZIP2,
       [](SourceFile* f, MemoryPool* p) { return Bzip2Open(f, p, MPBzip2Allocator(p)); }, Bzip2Read,
       Bzip2Close, 1000},
      {"xz", XzBytes(text), IN_XZ, XzOpen, XzRead, XzClose, 1000},
      {"zstd", ZstdCheckedBytes(text), IN_ZSTD, ZstdOpen, ZstdRead, ZstdClose, 1000},
      {"zip", ZipBytes({{"a.log", text.substr(0, 5000)}, {"b.log", text}}), IN_ZIP, ZipOpen,
       ZipRead, ZipClose, 1000},
  };
  for (const auto& c : cases) {
    for (const size_t at : {c.bytes.size() / 3, c.bytes.size() / 2, c.bytes.size() * 4 / 5}) {
      SCOPED_TRACE(std::string(c.name) + " damaged at " + std::to_string(at));
      std::string bytes = c.bytes;
      bytes.replace(at, 4, "\xde\xad\xbe\xef");
      // What the decoder itself gives, asked a chunk at a time as the window asks; asked for
      // more at a time (a block decoded ahead on a worker) or less, it gives the same bytes
      // and the same failure after them.
      std::string decoded;
      for (const int32_t step : {IN_CHUNK, READ_AHEAD_BLOCK, c.least_read}) {
        SCOPED_TRACE(step);
        std::string got;
        bool failed = false;
        const FileDescriptor file = StreamOf(bytes);
        SourceFile source;
        InitSourceFile(&source, file.Get(), -1);
        void* reader = c.open(&source, pool_);
        ASSERT_NE(reader, nullptr);
        std::vector<char> chunk(static_cast<size_t>(step));
        for (;;) {
          const DecodeResult r = c.read(reader, chunk.data(), step);
          got.append(chunk.data(), static_cast<size_t>(r.count));
          failed = r.failed;
          if (r.failed || r.count == 0) break;
        }
        c.close(reader);
        ASSERT_TRUE(failed);
        if (step == IN_CHUNK) decoded = got;
        EXPECT_EQ(got.size(), decoded.size());
        EXPECT_TRUE(got == decoded);  // (not printed: megabytes)
      }
      ASSERT_LT(decoded.size(), text.size() + (1u << 20));

      // A small gzip file is decoded, and its failure met and reported, when it is opened.
      ::testing::internal::CaptureStdout();
      InputFile* in = Attach(bytes);
      ASSERT_EQ(in->type, c.type);
      if (c.type == IN_GZIP && bytes.size() + 2 < IN_BUFF_SIZE) {
        EXPECT_EQ(in->at_eof, 1) << "decoded whole when opened";
      }
      const std::string got = Joined(DrainLines(in));
      EXPECT_EQ(::testing::internal::GetCapturedStdout(), kReadError);
      EXPECT_EQ(in->read_failed, 1);
      EXPECT_EQ(INPeek(in), nullptr);  // ended: nothing more after the failure
      INClose(in);
      EXPECT_EQ(got.size(), decoded.size());
      EXPECT_TRUE(got == decoded);  // (not printed: megabytes)
    }
  }
}

TEST_F(InputTest, ABadZipMemberStillDeliversTheBytesCollectedBeforeIt) {
  // Both members fit one refill: the first member's bytes must not be dropped with the
  // failing second one.
  std::string bytes = ZipBytes({{"a.log", "kept line\n", 0}, {"b.log", "lost line\n", 0}});
  bytes[bytes.find("lost line")] = 'X';  // the stored data no longer matches its checksum
  std::string console;
  const std::string got = ReadAllPrinting(bytes, IN_ZIP, &console);
  EXPECT_EQ(got.substr(0, 10), "kept line\n");
  EXPECT_EQ(console, kReadError);
}

TEST_F(InputTest, AZipMemberThatCannotBeOpenedEndsTheDataWithAMessage) {
  const std::string bytes = ZipBytes({{"a.log", "a\n"}, {"b.log", "b\n", 99}, {"c.log", "c\n"}});
  std::string console;
  EXPECT_EQ(ReadAllPrinting(bytes, IN_ZIP, &console), "a\n");
  EXPECT_EQ(console, kReadError);
}

TEST_F(InputTest, EveryTypeClosesPartWayThrough) {
  // Closing before the end releases the decoder and the stream (LeakSanitizer checks).
  const std::string text = NumberedLines(30000);
  for (const std::string& bytes :
       {text, GzipBytes(text), Bzip2Bytes(text), ZipBytes({{"a", text}, {"b", text}}),
        XzBytes(text), ZstdBytes(text)}) {
    InputFile* in = Attach(bytes);
    ASSERT_NE(INPeek(in), nullptr);
    INAdvance(in, LineLength(INPeek(in)));
    EXPECT_FALSE(in->at_eof);
    INClose(in);
  }
}

// ---- Containers that are not read -----------------------------------------------------------

TEST_F(InputTest, ContainersThatAreNotReadAreLeftOutByName) {
  const std::string pad(600, 'x');
  const std::string tar = TarBytes("access.log", NumberedLines(20));
  // "ustar" where a tar header has it, in text whose checksum field says nothing.
  std::string ustar_in_text = NumberedLines(100);
  ustar_in_text.replace(257, 5, "ustar");
  const struct {
    const char* name;
    std::string bytes;
    const char* container;  // null: read, as plain text
  } cases[] = {
      {"7z", std::string("7z\xbc\xaf\x27\x1c", 6) + pad, "7z"},
      {"lz4 frame", std::string("\x04\x22\x4d\x18", 4) + pad, "lz4"},
      {"tar", tar, "tar"},
      {"tar in gzip", GzipBytes(tar), "tar"},
      {"tar in xz", XzBytes(tar), "tar"},
      {"rar", std::string("Rar!\x1a\x07\x01", 7) + pad, "rar"},
      {"lzip", std::string("LZIP\x01", 5) + pad, "lzip"},
      {"Unix compress", std::string("\x1f\x9d\x90", 3) + pad, "compress (.Z)"},
      {"7z mark in a file of fewer than 16 bytes", std::string("7z\xbc\xaf\x27\x1c", 6), nullptr},
      {"ustar at 257 without a tar checksum", ustar_in_text, nullptr},
      {"a tar header cut short", tar.substr(0, 400), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const char* not_read = "unset";
    ::testing::internal::CaptureStdout();
    InputFile* in = INAttach(StreamOf(c.bytes), pool_, &not_read);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");  // the caller gives the message
    if (c.container != nullptr) {
      EXPECT_EQ(in, nullptr);  // and the stream is closed (LeakSanitizer checks)
      EXPECT_STREQ(not_read, c.container);
    } else {
      ASSERT_NE(in, nullptr);
      EXPECT_EQ(not_read, nullptr);
      EXPECT_EQ(in->type, IN_PLAIN);
      EXPECT_EQ(Joined(DrainLines(in)), c.bytes);
      INClose(in);
    }
  }
}

TEST_F(InputTest, NoNameIsNeededToLeaveAContainerOut) {
  EXPECT_EQ(INAttach(StreamOf(TarBytes("a.log", "a\n")), pool_), nullptr);
  const char* not_read = "unset";
  EXPECT_EQ(INAttach(FileDescriptor(), pool_, &not_read), nullptr);
  EXPECT_EQ(not_read, nullptr);  // a null stream is no container
}

}  // namespace
