#include "driver/input_summary.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/messages.h"
#include "driver/input_stats.h"
#include "driver/merge.h"

namespace {

// The table is information when only verbose asked for it, and printed whatever quiet says
// when --stats did.
void SayTableLine(bool asked, const std::string& line) {
  if (asked) {
    Say("%s\n", line.c_str());
  } else {
    SayInfo("%s\n", line.c_str());
  }
}

// Cells of one row; the first and the last are left-aligned, the rest right-aligned.
using Row = std::vector<std::string>;

Row RowOf(const MergeInput& input) {
  const InputCounts& counts = input.counts;
  Row row{"'" + EscapedName(input.name) + "'"};
  if (!counts.opened) {
    row.insert(row.end(), 1 + kFateCount + 2, "-");
    row.emplace_back("(not read)");
    return row;
  }
  row.push_back(Grouped(counts.entries));
  for (const FateRow& fate : kFates) {
    row.push_back(Grouped(counts.by_fate[static_cast<int>(fate.fate)]));
  }
  row.push_back(counts.dated > 0 ? ClockText(counts.first) : "-");
  row.push_back(counts.dated > 0 ? ClockText(counts.last) : "-");
  const std::string dialects = DialectList(counts);
  row.push_back(dialects.empty() ? "-" : dialects);
  return row;
}

void PrintTable(std::span<const MergeInput> inputs, bool asked) {
  std::vector<Row> rows;
  Row heading{"input", "entries"};
  for (const FateRow& fate : kFates) heading.emplace_back(fate.column);
  heading.insert(heading.end(), {"first entry", "last entry", "dialects"});
  rows.push_back(heading);
  for (const MergeInput& input : inputs) rows.push_back(RowOf(input));
  std::vector<size_t> widths(heading.size(), 0);
  for (const Row& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const Row& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      const std::string padding(widths[i] - row[i].size(), ' ');
      if (i > 0) line += "  ";
      const bool left = i == 0 || i + 1 == row.size();
      line += left ? row[i] + (i + 1 == row.size() ? "" : padding) : padding + row[i];
    }
    SayTableLine(asked, line);
  }
  int64_t gap_after = 0;
  for (const MergeInput& input : inputs) gap_after = std::max(gap_after, input.counts.gap_after);
  if (gap_after <= 0) return;
  bool any = false;
  for (const MergeInput& input : inputs) {
    for (const TimeGap& gap : input.counts.gaps) {
      if (!any)
        SayTableLine(asked, "Gaps (no entry for longer than " + SpanClockText(gap_after) + "):");
      any = true;
      SayTableLine(asked, "  '" + EscapedName(input.name) + "': " + ClockText(gap.from) + " to " +
                              ClockText(gap.to) + " (" + SpanClockText(gap.to - gap.from) + ")");
    }
  }
  if (!any) SayTableLine(asked, "No gaps longer than " + SpanClockText(gap_after) + ".");
}

}  // namespace

void WarnCorruptInputs(std::span<const MergeInput> inputs, bool table_follows) {
  // The report carries the counts themselves; these lines are not kept among its problems.
  const bool keeping = KeepingProblems();
  KeepProblems(false);
  for (const MergeInput& input : inputs) {
    const InputCounts& counts = input.counts;
    const int64_t corrupt = counts.Corrupt();
    if (corrupt == 0) continue;
    std::string reasons;
    for (const FateRow& fate : kFates) {
      const int64_t lines = counts.by_fate[static_cast<int>(fate.fate)];
      if (!fate.corrupt || lines == 0) continue;
      if (!reasons.empty()) reasons += "; ";
      reasons += std::string(fate.label) + " " + Grouped(lines);
      if (fate.fate == LineFate::NO_DIALECT && counts.first_unknown_number > 0) {
        reasons +=
            ", first at line " + Grouped(counts.first_unknown_number) + ": " + counts.first_unknown;
      }
    }
    const bool unknown = counts.by_fate[static_cast<int>(LineFate::NO_DIALECT)] > 0;
    std::string advice = unknown ? "--format declares a dialect" : "";
    if (!table_follows) advice += advice.empty() ? "--stats shows them" : ", --stats shows them";
    Say("'%s': %s of %s lines corrupt (%s)%s%s.\n", EscapedName(input.name).c_str(),
        Grouped(corrupt).c_str(), Grouped(input.lines_read).c_str(), reasons.c_str(),
        advice.empty() ? "" : "; ", advice.c_str());
  }
  KeepProblems(keeping);
}

void PrintInputTable(std::span<const MergeInput> inputs, bool asked) {
  // Not problems: the report carries the same figures.
  const bool keeping = KeepingProblems();
  KeepProblems(false);
  PrintTable(inputs, asked);
  KeepProblems(keeping);
}
