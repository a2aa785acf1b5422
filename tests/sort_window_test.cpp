// The sort window of one input: lines come out in key order, equal keys in the order they
// came, as soon as nothing within the window can precede them; a line later than the window
// comes out where it falls and is counted; the caps bound what is held.

#include "driver/sort_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.h"
#include "driver/input_slot.h"

namespace {

struct In {
  int64_t seconds;  // the key is the seconds too
  const char* text;
};

// Puts the lines one by one, taking out what is ready after each, then finishes; the texts
// in the order they came out.
std::vector<std::string> PassThrough(SortWindow& window, const std::vector<In>& lines) {
  std::vector<std::string> out;
  const auto take_ready = [&] {
    while (window.Ready()) {
      out.emplace_back(window.FrontLine());
      window.Pop();
    }
  };
  for (const In& line : lines) {
    const size_t length = std::strlen(line.text);
    std::memcpy(window.Room(length), line.text, length);
    window.Add(static_cast<TimeKey>(line.seconds), line.seconds, length);
    take_ready();
  }
  window.Finish();
  take_ready();
  EXPECT_TRUE(window.Empty());
  return out;
}

struct WindowCase {
  const char* name;
  WindowLimits limits;
  std::vector<In> lines;
  std::vector<std::string> expected;
  int64_t late;
  int64_t late_most;
};

constexpr WindowLimits kTenMinutes{600, 1000, 1 << 20};

TEST(SortWindow, OrdersWhatTheWindowHoldsAndPassesTheRestWhereItFalls) {
  const WindowCase cases[] = {
      {"in order", kTenMinutes, {{0, "a"}, {10, "b"}, {700, "c"}}, {"a", "b", "c"}, 0, 0},
      {"a slow request written after later ones",
       kTenMinutes,
       {{100, "b"}, {130, "c"}, {60, "slow"}, {800, "d"}},
       {"slow", "b", "c", "d"},
       0,
       0},
      {"equal keys keep the order they came in",
       kTenMinutes,
       {{5, "x1"}, {9, "y"}, {5, "x2"}, {5, "x3"}, {2, "w"}},
       {"w", "x1", "x2", "x3", "y"},
       0,
       0},
      {"a line behind the window comes out where it falls, counted",
       kTenMinutes,
       {{0, "a"}, {1000, "b"}, {1700, "c"}, {100, "late"}, {2000, "d"}},
       {"a", "b", "late", "c", "d"},
       1,
       1600},
      {"every late line counts, the most behind is kept",
       kTenMinutes,
       {{0, "a"}, {5000, "b"}, {6000, "c"}, {10, "l1"}, {7000, "d"}, {4000, "l2"}, {8000, "e"}},
       {"a", "b", "l1", "c", "l2", "d", "e"},
       2,
       5990},
      {"the entry cap releases the oldest early",
       WindowLimits{600, 2, 1 << 20},
       {{30, "a"}, {20, "b"}, {10, "c"}, {40, "d"}},
       {"b", "c", "a", "d"},
       1,
       20},
      {"the byte cap releases the oldest early",
       WindowLimits{600, 1000, 1},
       {{30, "a"}, {20, "b"}, {40, "c"}},
       {"a", "b", "c"},
       1,
       10},
  };
  for (const WindowCase& c : cases) {
    SCOPED_TRACE(c.name);
    SortWindow window(c.limits);
    EXPECT_EQ(PassThrough(window, c.lines), c.expected);
    EXPECT_EQ(window.LateEntries(), c.late);
    EXPECT_EQ(window.LateMostSeconds(), c.late_most);
  }
}

// Lines larger than a chunk, and many more lines than one chunk holds while a few stay held
// long: every text comes out whole and unchanged.
TEST(SortWindow, TextsSurviveChunkReuseAndLongLines) {
  SortWindow window(WindowLimits{50, 100000, size_t{64} << 20});
  std::vector<In> lines;
  std::vector<std::string> texts;
  for (int i = 0; i < 20000; ++i) {
    // Every 100th line is 40 seconds late; every 5000th is longer than a chunk.
    std::string text =
        "line-" + std::to_string(i) + (i % 5000 == 7 ? std::string(size_t{2} << 20, 'x') : "");
    texts.push_back(text);
  }
  for (int i = 0; i < 20000; ++i) {
    lines.push_back(In{i % 100 == 99 ? i - 40 : i, texts[static_cast<size_t>(i)].c_str()});
  }
  const std::vector<std::string> out = PassThrough(window, lines);
  ASSERT_EQ(out.size(), lines.size());
  std::vector<std::pair<int64_t, int>> keyed;
  for (int i = 0; i < 20000; ++i) keyed.emplace_back(lines[static_cast<size_t>(i)].seconds, i);
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < keyed.size(); ++i) {
    ASSERT_EQ(out[i], texts[static_cast<size_t>(keyed[i].second)]) << i;
  }
  EXPECT_EQ(window.LateEntries(), 0);
}

// The end-of-run line of an input with late entries: how many, how late, and what orders
// them; said even when quiet, and the exit status stays 0.
TEST(SortWindow, LateEntriesAreSaidWithWhatOrdersThem) {
  struct Case {
    int64_t late;
    int64_t most_seconds;
    int64_t window;
    const char* said;
  };
  const Case cases[] = {
      {37, 11520, 600,
       "'logs/a b.log': 37 entries were up to 3h12m out of order beyond the sort window (10m); "
       "--sort-window=4h or --sort=full orders them.\n"},
      {1, 95, 30,
       "'logs/a b.log': 1 entry was up to 1m35s out of order beyond the sort window (30s); "
       "--sort-window=2m or --sort=full orders them.\n"},
      {4, 200, 600,
       "'logs/a b.log': 4 entries were up to 3m20s out of order as the sort window (10m) was "
       "full; --sort=full orders them.\n"},
      {2, 400 * 86400, 3600,
       "'logs/a b.log': 2 entries were up to 400d out of order beyond the sort window (1h); "
       "--sort=full orders them.\n"},
      {0, 0, 600, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    ResetMessages();
    SetQuiet(true);
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    SetMessageStream(stream);
    MergeInput input;
    input.name = "logs/a b.log";
    input.lines_late = c.late;
    input.late_most_seconds = c.most_seconds;
    SayLateEntries(input, c.window);
    std::fflush(stream);
    std::rewind(stream);
    std::string said(4096, '\0');
    said.resize(std::fread(said.data(), 1, said.size(), stream));
    std::fclose(stream);
    const int status = ExitStatus();
    ResetMessages();
    EXPECT_EQ(said, c.said);
    EXPECT_EQ(status, 0) << "late entries are not lost: the run still succeeds";
  }
}

}  // namespace
