// What becomes of each input's lines: the parser's reason for every line that makes no
// entry, the gaps and timeline of an input's entries, and the per-input warning and table a
// run prints.

#include "driver/input_stats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/settings.h"
#include "parse/parse_logs.h"
#include "program_runner.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// ---- The parser's reasons --------------------------------------------------------------------

struct ReasonCase {
  const char* line;
  LineReason reason;
};

TEST(LineReasons, EachLineSaysWhatBecameOfIt) {
  const ReasonCase cases[] = {
      {"10.0.0.1 - - [05/Mar/2001:10:00:00 -0500] \"GET / HTTP/1.0\" 200 100\n", LineReason::ENTRY},
      {"{\"path\":\"/\",\"note\":\"no time\"}\n", LineReason::NO_DIALECT},
      {"*** garbage ***\n", LineReason::NO_DIALECT},
      // A combined line but for its stamp: the 25th hour, and a year far ahead.
      {"10.0.0.1 - - [05/Mar/2001:25:00:00 -0500] \"GET / HTTP/1.0\" 200 100\n",
       LineReason::DATE_OUT_OF_RANGE},
      {"10.0.0.1 - - [05/Mar/2999:10:00:00 -0500] \"GET / HTTP/1.0\" 200 100\n",
       LineReason::DATE_OUT_OF_RANGE},
      {"[Wed Oct 11 14:32:52 2000] [error] [client 127.0.0.1] client denied by server\n",
       LineReason::ERROR_LOG},
      {"#Version: 1.0\n", LineReason::HEADER},
      {"   \n", LineReason::HEADER},
  };
  for (const ReasonCase& c : cases) {
    SCOPED_TRACE(c.line);
    ParseState state;
    InitParseState(state);
    std::string line = c.line;
    LogEntry entry{};
    ParseEntry(state, line.data(), entry);
    EXPECT_EQ(static_cast<int>(state.reason), static_cast<int>(c.reason));
    if (c.reason == LineReason::ENTRY) {
      EXPECT_EQ(state.matched, COMBINED);
    }
  }
}

// ---- Gaps ------------------------------------------------------------------------------------

LogEntry At(int day, int hour, int minute) {
  LogEntry entry{};
  ResetEntry(entry);
  entry.year = 2024;
  entry.month = 3;
  entry.day = day;
  entry.hour = hour;
  entry.minute = minute;
  return entry;
}

struct GapCase {
  const char* what;
  std::vector<LogEntry> entries;
  int64_t gap_after;
  std::vector<int64_t> gap_lengths;  // seconds of each gap, in time order
};

TEST(InputGaps, HolesLongerThanTheThresholdInsideTheSpan) {
  const GapCase cases[] = {
      {"entries every half hour", {At(1, 10, 0), At(1, 10, 30), At(1, 11, 0)}, 3600, {}},
      {"a lost rotation of three hours",
       {At(1, 10, 0), At(1, 13, 0), At(1, 13, 30)},
       3600,
       {3 * 3600}},
      {"exactly the threshold is no gap", {At(1, 10, 0), At(1, 11, 0)}, 3600, {}},
      {"a late entry splits the hole",
       {At(1, 10, 0), At(1, 16, 0), At(1, 13, 0)},
       3600,
       {3 * 3600, 3 * 3600}},
      {"a late entry fills the hole", {At(1, 10, 0), At(1, 12, 0), At(1, 11, 0)}, 3600, {}},
      {"an entry before the first", {At(1, 12, 0), At(1, 12, 10), At(1, 9, 0)}, 3600, {3 * 3600}},
      {"no threshold keeps none", {At(1, 10, 0), At(2, 10, 0)}, 0, {}},
  };
  for (const GapCase& c : cases) {
    SCOPED_TRACE(c.what);
    InputCounts counts;
    StartCounts(counts, c.gap_after, false);
    for (const LogEntry& entry : c.entries) CountEntry(counts, COMBINED, entry);
    std::vector<int64_t> lengths;
    for (const TimeGap& gap : counts.gaps) lengths.push_back(gap.to - gap.from);
    EXPECT_EQ(lengths, c.gap_lengths);
    EXPECT_EQ(counts.entries, static_cast<int64_t>(c.entries.size()));
    EXPECT_EQ(counts.by_template[COMBINED], static_cast<int64_t>(c.entries.size()));
  }
}

// ---- Timelines -------------------------------------------------------------------------------

int64_t Sum(const Timeline& timeline) {
  int64_t sum = 0;
  for (const int64_t count : timeline.counts) sum += count;
  return sum;
}

TEST(Timeline, ASpanLongerThanItsPeriodsWidensThemAndKeepsEveryEntry) {
  InputCounts counts;
  StartCounts(counts, 3600, true);
  // A month of an entry every ten minutes: 4,464 minutes do not fit 2,048 periods.
  for (int day = 1; day <= 31; ++day) {
    for (int minute = 0; minute < 24 * 60; minute += 10) {
      CountEntry(counts, COMBINED, At(day, minute / 60, minute % 60));
    }
  }
  EXPECT_EQ(Sum(counts.timeline), 31 * 144);
  EXPECT_GT(counts.timeline.width, 60);
  EXPECT_EQ(counts.timeline.origin % counts.timeline.width, 0);
  EXPECT_LE(counts.timeline.counts.size(), kTimelineBuckets);
}

TEST(Timeline, TimelinesOfDifferentWidthsAddUpOnTheWiderAxis) {
  InputCounts narrow, wide;
  StartCounts(narrow, 0, true);
  StartCounts(wide, 0, true);
  for (int minute = 0; minute < 30; ++minute) CountEntry(narrow, COMBINED, At(5, 10, minute));
  for (int day = 1; day <= 20; ++day) CountEntry(wide, COMBINED, At(day, 0, 0));
  Timeline merged;
  AddTimeline(merged, narrow.timeline);
  AddTimeline(merged, wide.timeline);
  EXPECT_EQ(Sum(merged), 50);
  EXPECT_EQ(merged.width, wide.timeline.width);
}

TEST(InputCounts, TheFirstLineOfNoKnownDialectIsKeptShortAndEscaped) {
  InputCounts counts;
  StartCounts(counts, 0, false);
  const std::string first = "\x1b[2J" + std::string(100, 'x') + "\n";
  CountLine(counts, LineFate::HEADER, 1, "#Version: 1.0");
  CountLine(counts, LineFate::NO_DIALECT, 2, first.c_str());
  CountLine(counts, LineFate::NO_DIALECT, 3, "second");
  CountLine(counts, LineFate::OVER_LONG, 4, nullptr);
  EXPECT_EQ(counts.first_unknown_number, 2);
  EXPECT_EQ(counts.first_unknown.rfind("\\e[2J", 0), 0u) << counts.first_unknown;
  EXPECT_EQ(counts.first_unknown.substr(counts.first_unknown.size() - 3), "...");
  EXPECT_EQ(counts.Corrupt(), 3);
  EXPECT_EQ(counts.Skipped(), 1);
}

// ---- What a run says -------------------------------------------------------------------------

// Three servers' logs: b.log lost a rotation (no entry from 11:00 to 14:00), c.log holds a
// JSON line and a line dated in the year 2999, and an Apache error log is merged by mistake.
void WriteServerLogs(const fs::path& dir) {
  WriteFile(dir / "a.log",
            "10.0.0.1 - - [05/Mar/2024:10:00:00 +0000] \"GET /a1 HTTP/1.1\" 200 512 \"-\" "
            "\"curl/8.0\"\n"
            "10.0.0.1 - - [05/Mar/2024:12:30:00 +0000] \"GET /a2 HTTP/1.1\" 200 512 \"-\" "
            "\"curl/8.0\"\n"
            "10.0.0.1 - - [05/Mar/2024:15:00:00 +0000] \"GET /a3 HTTP/1.1\" 200 512 \"-\" "
            "\"curl/8.0\"\n");
  WriteFile(dir / "b.log",
            "#Software: Microsoft Internet Information Services 10.0\n"
            "#Version: 1.0\n"
            "#Date: 2024-03-05 10:00:00\n"
            "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n"
            "2024-03-05 10:00:00 10.0.0.2 GET /b1 200\n"
            "2024-03-05 11:00:00 10.0.0.2 GET /b2 200\n"
            "2024-03-05 14:00:00 10.0.0.2 GET /b3 200\n"
            "2024-03-05 15:00:00 10.0.0.2 GET /b4 200\n");
  WriteFile(dir / "c.log",
            "{\"path\":\"/c0\"}\n"
            "10.0.0.3 - - [05/Mar/2024:10:30:00 +0000] \"GET /c1 HTTP/1.1\" 200 64\n"
            "10.0.0.3 - - [05/Mar/2999:10:30:00 +0000] \"GET /c2 HTTP/1.1\" 200 64\n"
            "10.0.0.3 - - [05/Mar/2024:10:45:00 +0000] \"GET /c3 HTTP/1.1\" 200 64\n");
  WriteFile(dir / "error.log",
            "[Tue Mar 05 10:00:00 2024] [error] [client 10.0.0.9] File does not exist: /x\n"
            "[Tue Mar 05 10:00:01 2024] [notice] caught SIGTERM, shutting down\n");
}

TEST(InputSummary, WarningPerCorruptInputAndTheTableWithGaps) {
  const fs::path dir = FreshDirectory("input-summary");
  WriteServerLogs(dir);
  const ProgramRun run = RunStitcher(
      dir, {"--quiet", "--stats", "-p", "a.log", "b.log", "c.log", "error.log", "missing.log"});
  EXPECT_EQ(run.status, 2) << run.console;  // an input was lost
  const std::vector<std::string> lines = SplitLines(run.console);
  const auto has = [&lines](const std::string& text) {
    for (const std::string& line : lines) {
      if (line == text) return true;
    }
    return false;
  };
  EXPECT_TRUE(
      has("'c.log': 2 of 4 lines corrupt (no known dialect 1, first at line 1: "
          "{\"path\":\"/c0\"}; date out of range 1); "
          "--format declares a dialect."))
      << run.console;
  // The table: one row per input, its columns lined up under the heading.
  EXPECT_TRUE(
      has("input          entries  no dialect  bad date  over-long  error log  header  "
          "        first entry           last entry  dialects"))
      << run.console;
  EXPECT_TRUE(
      has("'a.log'              3           0         0          0          0       0  "
          "2024-03-05 10:00:00  2024-03-05 15:00:00  NCSA common/combined"))
      << run.console;
  EXPECT_TRUE(
      has("'b.log'              4           0         0          0          0       4  "
          "2024-03-05 10:00:00  2024-03-05 15:00:00  declared fields (W3C, Netscape, "
          "WebSTAR)"))
      << run.console;
  EXPECT_TRUE(
      has("'error.log'          0           0         0          0          2       0  "
          "                  -                    -  -"))
      << run.console;
  EXPECT_TRUE(
      has("'missing.log'        -           -         -          -          -       -  "
          "                  -                    -  (not read)"))
      << run.console;
  EXPECT_TRUE(has("Gaps (no entry for longer than 1:00:00):")) << run.console;
  EXPECT_TRUE(has("  'a.log': 2024-03-05 10:00:00 to 2024-03-05 12:30:00 (2:30:00)"))
      << run.console;
  EXPECT_TRUE(has("  'a.log': 2024-03-05 12:30:00 to 2024-03-05 15:00:00 (2:30:00)"))
      << run.console;
  EXPECT_TRUE(has("  'b.log': 2024-03-05 11:00:00 to 2024-03-05 14:00:00 (3:00:00)"))
      << run.console;
  // An error log makes no entry but is no damage: no warning for it.
  EXPECT_EQ(run.console.find("'error.log': "), std::string::npos) << run.console;
  fs::remove_all(dir);
}

TEST(InputSummary, TheWarningAloneWithoutStatsPointsAtThem) {
  const fs::path dir = FreshDirectory("input-summary-warning");
  WriteServerLogs(dir);
  const ProgramRun run = RunStitcher(dir, {"--quiet", "-p", "--gap=4h", "a.log", "c.log"});
  EXPECT_EQ(run.status, 0) << run.console;
  EXPECT_EQ(run.console,
            "'c.log': 2 of 4 lines corrupt (no known dialect 1, first at line 1: "
            "{\"path\":\"/c0\"}; date out of range 1); --format "
            "declares a dialect, --stats shows them.\n");
  fs::remove_all(dir);
}

TEST(InputSummary, AnOverLongLineIsCountedAsCorrupt) {
  const fs::path dir = FreshDirectory("input-summary-long");
  WriteServerLogs(dir);
  std::string text = "10.0.0.1 - - [05/Mar/2024:10:00:00 +0000] \"GET /" +
                     std::string(1 << 21, 'x') + " HTTP/1.1\" 200 1\n";
  text += "10.0.0.1 - - [05/Mar/2024:10:00:01 +0000] \"GET /ok HTTP/1.1\" 200 1\n";
  WriteFile(dir / "long.log", text);
  const ProgramRun run = RunStitcher(dir, {"--quiet", "-p", "a.log", "long.log"});
  EXPECT_EQ(run.console, "'long.log': 1 of 2 lines corrupt (over-long 1); --stats shows them.\n");
  fs::remove_all(dir);
}

struct GapSetting {
  const char* text;
  bool valid;
  int64_t seconds;
};

TEST(GapSetting, DurationsWithUnits) {
  const GapSetting cases[] = {
      {"90", true, 90},           {"45s", true, 45},    {"30m", true, 1800},
      {"1h30m", true, 5400},      {"2d", true, 172800}, {"0", true, 0},
      {"1H", true, 3600},         {"", false, 0},       {"h", false, 0},
      {"1h30", false, 0},         {"-1h", false, 0},    {"1w", false, 0},
      {"99999999999d", false, 0},
  };
  for (const GapSetting& c : cases) {
    SCOPED_TRACE(c.text);
    Settings target;
    target.gap_seconds = -7;
    EXPECT_EQ(SetGap(target, c.text), c.valid);
    EXPECT_EQ(target.gap_seconds, c.valid ? c.seconds : -7);
  }
}

}  // namespace
