// Decoding ahead on worker threads: every container delivers exactly the bytes, the failure
// and the end it delivers without read-ahead, an input can be closed part-way, and the merged
// log is the same whatever the number of threads. These tests also run under
// ThreadSanitizer (the tsan preset).

#include "input/read_ahead.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "compressed_fixtures.h"
#include "input/input.h"
#include "input/memory_pool.h"
#include "input_fixtures.h"
#include "pool_environment.h"
#include "program_runner.h"

namespace {

using namespace testing_support;

// What an input delivers, read to its end line by line as the merge does, and whether it
// ended with a read failure.
struct Delivered {
  std::string text;
  bool failed = false;
  std::string console;
};

class ReadAheadTest : public ::testing::Test {
 protected:
  void SetUp() override { pool_ = MPNew(); }
  void TearDown() override { MPDispose(pool_); }

  // Reads `bytes` to the end, through `crew` when given.
  Delivered Read(const std::string& bytes, WorkCrew* crew) {
    Delivered d;
    ::testing::internal::CaptureStdout();
    InputFile* in = INAttach(StreamOf(bytes), pool_);
    if (in == nullptr) {
      d.console = ::testing::internal::GetCapturedStdout();
      ADD_FAILURE() << "the input did not open";
      return d;
    }
    if (crew != nullptr) {
      EXPECT_EQ(INReadAhead(in, *crew), in->type != IN_PLAIN && !in->at_eof);
    }
    while (char* p = INPeek(in)) {
      const char* end = std::strchr(p, '\n');
      const int32_t len = end != nullptr ? static_cast<int32_t>(end - p + 1)
                                         : static_cast<int32_t>(std::strlen(p) + 1);
      d.text.append(p, static_cast<size_t>(std::min(len, in->buff_cnt)));
      INAdvance(in, len);
    }
    d.failed = in->read_failed != 0;
    INClose(in);
    d.console = ::testing::internal::GetCapturedStdout();
    return d;
  }

  MemoryPool* pool_ = nullptr;
};

// Sound and damaged inputs of every container, several blocks long where it matters: with two
// workers and with one, the same text, the same failure and the same messages as without.
TEST_F(ReadAheadTest, EveryContainerDeliversWhatItDeliversWithout) {
  // About 3.5 blocks of text, so blocks are filled, used up and reused.
  const std::string text =
      NumberedLines(120000, "192.0.2.1 - - [10/Oct/2000:13:55:36 -0700] \"GET /");
  const std::string first = NumberedLines(500, "first ");
  const std::string gz = GzipBytes(text);
  const std::string bz = Bzip2Bytes(text, 1);
  const std::string xz = XzBytes(text);
  const std::string zst = ZstdBytes(text);
  std::string gz_bad_crc = GzipBytes(first);
  gz_bad_crc[gz_bad_crc.size() - 8] ^= 0x55;
  std::string gz_damaged_middle = gz;
  for (size_t i = gz.size() / 2; i < gz.size() / 2 + 4; ++i) gz_damaged_middle[i] ^= 0x5A;
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"plain", text},
      {"gzip", gz},
      {"several gzip members", GzipBytes(first) + gz + GzipBytes(first)},
      {"bzip2, several streams", bz + Bzip2Bytes(first)},
      {"xz", xz},
      {"zstd", zst},
      {"zip, deflated and stored", ZipBytes({{"a.log", text}, {"b.log", first, 0}})},
      {"empty gzip", GzipBytes("")},
      {"truncated gzip", gz.substr(0, gz.size() / 2)},
      {"gzip damaged in the middle", gz_damaged_middle},
      {"gzip with a wrong checksum", gz_bad_crc},
      {"gzip followed by garbage", GzipBytes(first) + "garbage after the member"},
      {"truncated bzip2", bz.substr(0, bz.size() * 2 / 3)},
      {"truncated xz", xz.substr(0, 5000)},
      {"truncated zstd", zst.substr(0, 5000)},
  };
  const WorkCrewPtr two = MakeWorkCrew(2);
  const WorkCrewPtr one = MakeWorkCrew(1);
  ASSERT_NE(two, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Delivered expected = Read(c.bytes, nullptr);
    for (WorkCrew* crew : {two.get(), one.get()}) {
      const Delivered got = Read(c.bytes, crew);
      EXPECT_EQ(got.text.size(), expected.text.size());
      EXPECT_TRUE(got.text == expected.text);
      EXPECT_EQ(got.failed, expected.failed);
      EXPECT_EQ(got.console, expected.console);
    }
  }
}

TEST_F(ReadAheadTest, NoCrewWithoutThreads) {
  EXPECT_EQ(MakeWorkCrew(0), nullptr);
}

// A compressed log in a pipe is decoded by the merge thread itself: a worker blocked on a
// pipe whose writer never ends would hold up closing the input.
TEST_F(ReadAheadTest, APipeIsNotReadAhead) {
  const std::string text = NumberedLines(1000, "piped ");
  const WorkCrewPtr crew = MakeWorkCrew(2);
  InputFile* in = INAttach(PipeOf(GzipBytes(text)), pool_);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->type, IN_GZIP);
  EXPECT_FALSE(INReadAhead(in, *crew));
  std::string got;
  while (char* p = INPeek(in)) {
    const int32_t len = static_cast<int32_t>(std::strchr(p, '\n') - p + 1);
    got.append(p, static_cast<size_t>(len));
    INAdvance(in, len);
  }
  EXPECT_TRUE(got == text);
  INClose(in);
}

// Inputs closed after one line, or after several blocks, while a fill may be running: the
// close waits for the worker and releases everything (LeakSanitizer and ThreadSanitizer
// check).
TEST_F(ReadAheadTest, InputsCloseWhileTheirDecoderRunsAhead) {
  const std::string text = NumberedLines(200000, "entry ");
  const WorkCrewPtr crew = MakeWorkCrew(2);
  for (const std::string& bytes : {GzipBytes(text), Bzip2Bytes(text, 1), XzBytes(text, 0),
                                   ZstdBytes(text), ZipBytes({{"a", text}, {"b", text}})}) {
    for (const int lines : {1, 150000}) {
      InputFile* in = INAttach(StreamOf(bytes), pool_);
      ASSERT_NE(in, nullptr);
      ASSERT_TRUE(INReadAhead(in, *crew));
      for (int i = 0; i < lines; ++i) {
        char* p = INPeek(in);
        ASSERT_NE(p, nullptr);
        INAdvance(in, static_cast<int32_t>(std::strchr(p, '\n') - p + 1));
      }
      EXPECT_FALSE(in->at_eof);
      INClose(in);
    }
  }
}

// Many inputs decoding ahead on one crew at once, read in turns as the merge reads them.
TEST_F(ReadAheadTest, InputsReadInTurnsKeepTheirOwnOrder) {
  const WorkCrewPtr crew = MakeWorkCrew(2);
  std::vector<InputFile*> inputs;
  std::vector<std::string> texts;
  for (int i = 0; i < 6; ++i) {
    texts.push_back(NumberedLines(60000, "input " + std::to_string(i) + " line "));
    const std::string bytes = i % 2 == 0 ? GzipBytes(texts.back()) : ZstdBytes(texts.back());
    inputs.push_back(INAttach(StreamOf(bytes), pool_));
    ASSERT_NE(inputs.back(), nullptr);
    ASSERT_TRUE(INReadAhead(inputs.back(), *crew));
  }
  std::vector<std::string> got(inputs.size());
  bool any = true;
  while (any) {
    any = false;
    for (size_t i = 0; i < inputs.size(); ++i) {
      char* p = INPeek(inputs[i]);
      if (p == nullptr) continue;
      any = true;
      const int32_t len = static_cast<int32_t>(std::strchr(p, '\n') - p + 1);
      got[i].append(p, static_cast<size_t>(len));
      INAdvance(inputs[i], len);
    }
  }
  for (size_t i = 0; i < inputs.size(); ++i) {
    EXPECT_TRUE(got[i] == texts[i]) << "input " << i;
    INClose(inputs[i]);
  }
}

// The program: compressed inputs merged with one thread (no read-ahead) and with four give
// the same merged log, byte for byte, and the same messages.
TEST_F(ReadAheadTest, TheMergedLogIsTheSameWhateverTheThreads) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("stitcher-read-ahead-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::string a, b;
  for (int i = 0; i < 40000; ++i) {
    const std::string stamp = "[10/Oct/2000:" + std::to_string(10 + i / 3600 % 10) + ":" +
                              std::to_string(10 + i / 60 % 50) + ":" + std::to_string(10 + i % 50) +
                              " -0700]";
    a += "192.0.2." + std::to_string(i % 250) + " - - " + stamp + " \"GET /a/" + std::to_string(i) +
         " HTTP/1.1\" 200 " + std::to_string(i) + "\n";
    b += "198.51.100.7 - - " + stamp + " \"GET /b/" + std::to_string(i) + " HTTP/1.1\" 404 -\n";
  }
  std::string damaged = GzipBytes(b);
  for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 4; ++i) damaged[i] ^= 0x5A;
  WriteFile(dir / "a.log.gz", GzipBytes(a));
  WriteFile(dir / "b.log.bz2", Bzip2Bytes(b, 1));
  WriteFile(dir / "c.log.xz", XzBytes(a));
  WriteFile(dir / "d.log.gz", damaged);
  std::string outputs[2];
  ProgramRun runs[2];
  const char* threads[2] = {"--threads=1", "--threads=4"};
  for (int i = 0; i < 2; ++i) {
    runs[i] = RunProgram(STITCHER_BINARY, dir,
                         {"-Plain", threads[i], "-o", "merged.log", "a.log.gz", "b.log.bz2",
                          "c.log.xz", "d.log.gz"});
    outputs[i] = ReadFile(dir / "merged.log");
  }
  EXPECT_EQ(runs[0].status, runs[1].status);
  EXPECT_EQ(runs[0].console, runs[1].console);
  EXPECT_GT(outputs[0].size(), a.size() * 2);
  EXPECT_TRUE(outputs[0] == outputs[1]);
  std::filesystem::remove_all(dir);
}

}  // namespace
