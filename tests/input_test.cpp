#include "input/input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pool_environment.h"
#include "report_to_stderr.h"

namespace {

// ---- Helpers ----------------------------------------------------------------------------------

// A temporary stream holding `bytes`, positioned at the start.
std::FILE* StreamOf(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

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
    std::FILE* f = StreamOf(bytes);
    EXPECT_NE(f, nullptr);
    return INAttach(f, pool_);
  }

  // Attaches, checks the detected type, drains and closes; returns the text delivered.
  std::string ReadAll(const std::string& bytes, int32_t expected_type) {
    InputFile* in = Attach(bytes);
    EXPECT_EQ(in->type, expected_type);
    const std::string text = Joined(DrainLines(in));
    INClose(in);
    return text;
  }

  MemoryPool* pool_ = nullptr;
};

std::string NumberedLines(int count, const std::string& prefix = "line ") {
  std::string text;
  for (int i = 0; i < count; ++i) text += prefix + std::to_string(i) + "\n";
  return text;
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
  EXPECT_EQ(INAttach(nullptr, pool_), nullptr);
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

TEST_F(InputTest, ALongLineArrivesInTwoPiecesWhenTheWindowEnds) {
  // A 22768-byte line, then a 20000-byte one: after the first, 10000 bytes are unread (no
  // refill, that is more than the look-ahead), so the long line's first piece ends at the NUL
  // behind the valid data and the rest arrives as the next line.
  std::string text = std::string(22767, 's') + "\n" + std::string(19999, 'L') + "\n" + "tail\n";
  InputFile* in = Attach(text);
  const std::vector<std::string> lines = DrainLines(in);
  INClose(in);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], std::string(10000, 'L'));
  EXPECT_EQ(lines[2], std::string(9999, 'L') + "\n");
  EXPECT_EQ(lines[3], "tail\n");
  EXPECT_EQ(Joined(lines), text);
}

TEST_F(InputTest, TheUnreadDataIsWritableAndStaysInPlaceUntilTheNextAdvance) {
  InputFile* in = Attach("abc def\nnext\n");
  char* line = INPeek(in);
  line[3] = '\0';  // the parser cuts fields with NULs
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(INPeek(in), line);
  INAdvance(in, 8);
  EXPECT_STREQ(INPeek(in), "next\n");
  INClose(in);
}

TEST_F(InputTest, EmbeddedNulBytesAreDeliveredAsData) {
  const std::string text("a\0b\nc\n", 6);
  InputFile* in = Attach(text);
  std::string got;
  while (char* p = INPeek(in)) {
    const int32_t len = LineLength(p);
    got.append(p, static_cast<size_t>(std::min(len, in->buff_cnt)));
    INAdvance(in, std::min(len, in->buff_cnt));
  }
  INClose(in);
  EXPECT_EQ(got, text);
}

using InputDeathTest = InputTest;

TEST_F(InputDeathTest, AdvancingOutsideTheUnreadDataIsAnInternalError) {
  for (int32_t len : {0, -1, 7}) {  // 5 bytes unread: 6 is the most that is accepted
    SCOPED_TRACE(len);
    EXPECT_EXIT(
        {
          testing_support::ReportToStderr();
          InputFile* in = Attach("abcde");
          INAdvance(in, len);
        },
        ::testing::ExitedWithCode(1),
        "Assertion \\(len>0 && len<=in->buff_cnt\\+1\\) failed in \"input\" on line [0-9]+");
  }
}

TEST_F(InputTest, AnInvalidTypeReadsNothingAndClosesNothing) {
  InputFile* in = Attach(std::string(20000, 'x'));
  std::FILE* file = in->file;
  in->type = 7;
  ::testing::internal::CaptureStdout();
  INAdvance(in, 15000);  // below the look-ahead: a refill is attempted
  INClose(in);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Invalid file type in fill input buffer (7)!\nInvalid file type in INClose!\n");
  EXPECT_TRUE(in->at_eof);
  EXPECT_EQ(in->buff_cnt, 20000 - 15000);
  std::fclose(file);
}

}  // namespace
