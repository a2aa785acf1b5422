#include "driver/input_stats.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "base/messages.h"
#include "base/time_zone.h"
#include "entries/zone_shift.h"
#include "input/input.h"

namespace {

// The first line of no known dialect is shown up to this many bytes.
constexpr size_t kShownLine = 72;

int64_t FloorDivide(int64_t value, int64_t by) {
  const int64_t quotient = value / by;
  return (value % by != 0 && (value < 0) != (by < 0)) ? quotient - 1 : quotient;
}

int64_t FloorTo(int64_t value, int64_t width) {
  return FloorDivide(value, width) * width;
}

// The end of the last period that holds an entry.
int64_t TimelineEnd(const Timeline& timeline) {
  size_t used = timeline.counts.size();
  while (used > 0 && timeline.counts[used - 1] == 0) --used;
  return timeline.origin + static_cast<int64_t>(used) * timeline.width;
}

// Moves the timeline onto the widest of its width and `least` (doubled as needed) whose
// periods from a multiple of it at or before `low` reach `high`. Every origin is a multiple
// of its width, and widths are a minute times a power of two, so each old period falls
// into exactly one new one.
void Rebase(Timeline& timeline, int64_t low, int64_t high, int64_t least) {
  int64_t width = std::max(timeline.width, least);
  const auto buckets = static_cast<int64_t>(kTimelineBuckets);
  while (FloorTo(low, width) + buckets * width < high) width *= 2;
  const int64_t origin = FloorTo(low, width);
  if (width == timeline.width && origin == timeline.origin &&
      timeline.counts.size() == kTimelineBuckets) {
    return;
  }
  std::vector<int64_t> counts(kTimelineBuckets, 0);
  for (size_t i = 0; i < timeline.counts.size(); ++i) {
    if (timeline.counts[i] == 0) continue;
    const int64_t start = timeline.origin + static_cast<int64_t>(i) * timeline.width;
    counts[static_cast<size_t>((start - origin) / width)] += timeline.counts[i];
  }
  timeline.origin = origin;
  timeline.width = width;
  timeline.counts = std::move(counts);
}

void Place(Timeline& timeline, int64_t seconds, int64_t count) {
  if (timeline.counts.empty()) {
    timeline.origin = FloorTo(seconds, timeline.width);
    timeline.counts.assign(kTimelineBuckets, 0);
  }
  int64_t index = FloorDivide(seconds - timeline.origin, timeline.width);
  if (index < 0 || index >= static_cast<int64_t>(kTimelineBuckets)) {
    const int64_t low = std::min(seconds, timeline.origin);
    const int64_t high = std::max(seconds + 1, TimelineEnd(timeline));
    Rebase(timeline, low, high, timeline.width);
    index = FloorDivide(seconds - timeline.origin, timeline.width);
  }
  timeline.counts[static_cast<size_t>(index)] += count;
}

// An entry at `seconds` inside the span: a gap around it is split in two, and each part
// stays a gap only while it is longer than the threshold. Entries mostly come in order, so
// the gaps that may hold it are the last few.
void FillGap(InputCounts& counts, int64_t seconds) {
  std::vector<TimeGap>& gaps = counts.gaps;
  auto at = std::upper_bound(gaps.begin(), gaps.end(), seconds,
                             [](int64_t value, const TimeGap& gap) { return value < gap.to; });
  if (at == gaps.end() || at->from >= seconds) return;
  const TimeGap before{at->from, seconds};
  const TimeGap after{seconds, at->to};
  at = gaps.erase(at);
  if (after.to - after.from > counts.gap_after) at = gaps.insert(at, after);
  if (before.to - before.from > counts.gap_after) gaps.insert(at, before);
}

void NoteTime(InputCounts& counts, int64_t seconds) {
  if (counts.dated++ == 0) {
    counts.first = counts.last = seconds;
    return;
  }
  const bool gaps = counts.gap_after > 0;
  if (seconds > counts.last) {
    if (gaps && seconds - counts.last > counts.gap_after) {
      counts.gaps.push_back(TimeGap{counts.last, seconds});
    }
    counts.last = seconds;
  } else if (seconds < counts.first) {
    if (gaps && counts.first - seconds > counts.gap_after) {
      counts.gaps.insert(counts.gaps.begin(), TimeGap{seconds, counts.first});
    }
    counts.first = seconds;
  } else if (gaps && !counts.gaps.empty()) {
    FillGap(counts, seconds);
  }
}

}  // namespace

LineFate FateOf(LineReason reason) {
  switch (reason) {
    case LineReason::ERROR_LOG:
      return LineFate::ERROR_LOG;
    case LineReason::DATE_OUT_OF_RANGE:
      return LineFate::DATE_OUT_OF_RANGE;
    case LineReason::NO_DIALECT:
      return LineFate::NO_DIALECT;
    case LineReason::ENTRY:
    case LineReason::HEADER:
      break;
  }
  return LineFate::HEADER;
}

int64_t InputCounts::Corrupt() const {
  int64_t sum = 0;
  for (const FateRow& row : kFates) {
    if (row.corrupt) sum += by_fate[static_cast<int>(row.fate)];
  }
  return sum;
}

int64_t InputCounts::Skipped() const {
  int64_t sum = 0;
  for (const FateRow& row : kFates) {
    if (!row.corrupt) sum += by_fate[static_cast<int>(row.fate)];
  }
  return sum;
}

void StartCounts(InputCounts& counts, int64_t gap_after, bool keep_timeline) {
  counts = InputCounts{};
  counts.gap_after = gap_after;
  counts.keep_timeline = keep_timeline;
}

void NoteInputStart(InputCounts& counts, const InputFile& file) {
  counts.opened = true;
  counts.container = file.type;
}

void NoteInputEnd(InputCounts& counts, const InputFile& file) {
  counts.finished = true;
  counts.read_failed = file.read_failed != 0;
  counts.bytes_read = SourceBytesRead(&file.source);
}

void CountLine(InputCounts& counts, LineFate fate, int64_t line_number, const char* line) {
  if (counts.by_fate[static_cast<int>(fate)]++ != 0 || fate != LineFate::NO_DIALECT) return;
  counts.first_unknown_number = line_number;
  if (line == nullptr) return;
  std::string_view text(line);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  const bool cut = text.size() > kShownLine;
  counts.first_unknown = EscapedName(text.substr(0, kShownLine)) + (cut ? "..." : "");
}

void CountEntry(InputCounts& counts, int matched, const LogEntry& entry) {
  const bool dated = EntryHasDate(entry);
  CountEntryAt(counts, matched, dated, dated ? EntryClockSeconds(entry) : 0);
}

void CountEntryAt(InputCounts& counts, int matched, bool dated, int64_t clock_seconds) {
  ++counts.entries;
  if (matched >= 0 && matched < TEMPLATE_COUNT) ++counts.by_template[matched];
  if (!dated) return;
  NoteTime(counts, clock_seconds);
  if (counts.keep_timeline) Place(counts.timeline, clock_seconds, 1);
}

std::string ClockText(int64_t seconds) {
  const int64_t days = FloorDivide(seconds, 86400);
  const int64_t of_day = seconds - days * 86400;
  const CivilDate date = CivilFromDays(days);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02lld:%02lld:%02lld",
                static_cast<long long>(date.year), date.month, date.day,
                static_cast<long long>(of_day / 3600), static_cast<long long>(of_day / 60 % 60),
                static_cast<long long>(of_day % 60));
  return text;
}

std::string SpanClockText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const long long days = seconds / 86400;
  const long long hours = seconds / 3600 % 24;
  const long long minutes = seconds / 60 % 60;
  const long long secs = seconds % 60;
  char text[48];
  if (days > 0) {
    std::snprintf(text, sizeof text, "%lldd %lld:%02lld:%02lld", days, hours, minutes, secs);
  } else if (hours > 0) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, secs);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", minutes, secs);
  }
  return text;
}

std::string DialectList(const InputCounts& counts) {
  std::vector<int> used;
  for (int i = 0; i < TEMPLATE_COUNT; ++i) {
    if (counts.by_template[i] > 0) used.push_back(i);
  }
  std::stable_sort(used.begin(), used.end(), [&counts](int a, int b) {
    return counts.by_template[a] > counts.by_template[b];
  });
  std::string list;
  for (const int i : used) {
    if (!list.empty()) list += ", ";
    list += TemplateName(i);
    if (used.size() > 1) list += " " + Grouped(counts.by_template[i]);
  }
  return list;
}

void AddTimeline(Timeline& into, const Timeline& from) {
  if (from.counts.empty()) return;
  if (into.counts.empty()) {
    into = from;
    return;
  }
  const int64_t low = std::min(into.origin, from.origin);
  const int64_t high = std::max(TimelineEnd(into), TimelineEnd(from));
  Rebase(into, low, high, from.width);
  for (size_t i = 0; i < from.counts.size(); ++i) {
    if (from.counts[i] != 0) {
      Place(into, from.origin + static_cast<int64_t>(i) * from.width, from.counts[i]);
    }
  }
}
