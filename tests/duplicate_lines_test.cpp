#include "output/duplicate_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Line {
  TimeKey key;
  int32_t slot;
  const char* text;
  bool dropped;
};

void Expect(DuplicateLines& duplicates, const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    SCOPED_TRACE(std::string(line.text) + " from " + std::to_string(line.slot));
    EXPECT_EQ(duplicates.Drop(line.key, line.slot, line.text), line.dropped);
  }
}

TEST(DuplicateLines, ALineOfAnotherInputAtTheSameKeyIsDropped) {
  DuplicateLines duplicates;
  Expect(duplicates, {
                         {1, 0, "a", false},
                         {1, 1, "a", true},   // the copy in input 1
                         {1, 1, "b", false},  // only input 1 has it
                         {1, 2, "a", true},
                         {2, 1, "a", false},  // another key: not a duplicate
                         {2, 0, "a", true},
                     });
  EXPECT_EQ(duplicates.Dropped(), 3);
}

// Equal lines of one input are real requests: each input's own count is kept, and the line
// is written as often as the input holding it most often has it.
TEST(DuplicateLines, AnInputsOwnRepeatsAreKept) {
  DuplicateLines duplicates;
  Expect(duplicates, {
                         {5, 0, "x", false},
                         {5, 0, "x", false},
                         {5, 1, "x", true},
                         {5, 1, "x", true},
                         {5, 1, "x", false},  // input 1 has it three times
                         {5, 0, "x", true},   // input 0's third is the same one
                     });
  EXPECT_EQ(duplicates.Dropped(), 3);
}

// Many distinct lines at one key make the table grow; every one is still found.
TEST(DuplicateLines, ManyLinesAtOneKey) {
  DuplicateLines duplicates;
  for (int i = 0; i < 5000; ++i) EXPECT_FALSE(duplicates.Drop(7, 0, "line " + std::to_string(i)));
  for (int i = 4999; i >= 0; --i) EXPECT_TRUE(duplicates.Drop(7, 1, "line " + std::to_string(i)));
  EXPECT_FALSE(duplicates.Drop(7, 1, "line 5000"));
  EXPECT_EQ(duplicates.Dropped(), 5000);
  // A new pass remembers nothing of the last one.
  duplicates.StartPass();
  EXPECT_FALSE(duplicates.Drop(7, 1, "line 1"));
}

TEST(DuplicateLines, DroppedText) {
  EXPECT_EQ(DroppedText(0), "Dropped 0 duplicate entries.\n");
  EXPECT_EQ(DroppedText(1), "Dropped 1 duplicate entry.\n");
  EXPECT_EQ(DroppedText(1204), "Dropped 1,204 duplicate entries.\n");
  EXPECT_EQ(DroppedText(123456789), "Dropped 123,456,789 duplicate entries.\n");
}

}  // namespace
