// The run report as one self-contained HTML page: the timelines are inline SVG, the style is
// inline, and a content security policy forbids every fetch, so the page opens offline in
// any browser, prints, and never calls out.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/messages.h"
#include "driver/command_line.h"
#include "driver/input_stats.h"
#include "driver/merge.h"
#include "driver/run_report.h"

namespace {

// Geometry of the picture, in SVG units.
constexpr int kLabelWidth = 240;  // the names on the left
constexpr int kPlotWidth = 740;   // the time axis
constexpr int kRight = 20;
constexpr int kMergedHeight = 64;  // the merged log's row
constexpr int kInputHeight = 40;   // each input's row
constexpr int kRowSpace = 10;
constexpr int kAxisHeight = 40;
constexpr int kTicks = 4;  // stamps under the axis, beside the first one

std::string Html(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A name as messages show it, made safe for the page.
std::string HtmlName(const char* name) {
  return Html(EscapedName(name));
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// "minute", "4 minutes", "2 hours": the length of a period of the timelines.
std::string PeriodText(int64_t seconds) {
  if (seconds == 60) return "minute";
  if (seconds % 86400 == 0) return std::to_string(seconds / 86400) + " days";
  if (seconds % 3600 == 0) return std::to_string(seconds / 3600) + " hours";
  if (seconds % 60 == 0) return std::to_string(seconds / 60) + " minutes";
  return std::to_string(seconds) + " seconds";
}

// The shared time axis: the periods of the merged timeline that hold entries.
struct Axis {
  Timeline merged;
  size_t low = 0;   // first period with an entry
  size_t high = 0;  // one past the last; low == high: no dated entry at all
  int64_t Start() const { return merged.origin + static_cast<int64_t>(low) * merged.width; }
  int64_t End() const { return merged.origin + static_cast<int64_t>(high) * merged.width; }
  double X(int64_t seconds) const {
    const double span = static_cast<double>(End() - Start());
    const double at = span > 0 ? static_cast<double>(seconds - Start()) / span : 0;
    return kLabelWidth + std::clamp(at, 0.0, 1.0) * kPlotWidth;
  }
};

Axis MakeAxis(std::span<const MergeInput> inputs) {
  Axis axis;
  for (const MergeInput& input : inputs) AddTimeline(axis.merged, input.counts.timeline);
  const std::vector<int64_t>& counts = axis.merged.counts;
  while (axis.low < counts.size() && counts[axis.low] == 0) ++axis.low;
  axis.high = counts.size();
  while (axis.high > axis.low && counts[axis.high - 1] == 0) --axis.high;
  return axis;
}

// One input's timeline moved onto the axis's periods.
std::vector<int64_t> OnAxis(const Axis& axis, const Timeline& timeline) {
  Timeline placed{axis.merged.origin, axis.merged.width,
                  std::vector<int64_t>(axis.merged.counts.size(), 0)};
  AddTimeline(placed, timeline);
  return placed.counts;
}

// A row: the label, the entries per period as bars scaled to the row's busiest period, and
// the gaps over them.
void Row(std::string& svg, const Axis& axis, int top, int height, const std::string& label,
         const std::string& note, const std::vector<int64_t>& counts,
         const std::vector<TimeGap>& gaps, const char* css_class, const std::string& name) {
  svg += "<g class=\"" + std::string(css_class) + "\" data-input=\"" + name + "\">\n";
  svg += "<rect class=\"lane\" x=\"" + std::to_string(kLabelWidth) + "\" y=\"" +
         std::to_string(top) + "\" width=\"" + std::to_string(kPlotWidth) + "\" height=\"" +
         std::to_string(height) + "\"/>\n";
  svg += "<text class=\"label\" x=\"4\" y=\"" + std::to_string(top + height / 2) + "\">" + label +
         "</text>\n";
  svg += "<text class=\"note\" x=\"4\" y=\"" + std::to_string(top + height / 2 + 13) + "\">" +
         note + "</text>\n";
  int64_t peak = 0;
  for (size_t i = axis.low; i < axis.high; ++i) peak = std::max(peak, counts[i]);
  if (peak > 0) {
    const double step = static_cast<double>(kPlotWidth) / static_cast<double>(axis.high - axis.low);
    const double bottom = top + height;
    std::string path;
    for (size_t i = axis.low; i < axis.high; ++i) {
      if (counts[i] == 0) continue;
      const double bar = static_cast<double>(counts[i]) / static_cast<double>(peak) * (height - 4);
      const double x = kLabelWidth + static_cast<double>(i - axis.low) * step;
      path += "M" + Number(x) + "," + Number(bottom) + "v-" + Number(std::max(bar, 1.0)) + "h" +
              Number(std::max(step, 0.6)) + "V" + Number(bottom) + "z";
    }
    svg += "<path class=\"bars\" d=\"" + path + "\"><title>busiest period: " + Grouped(peak) +
           " entries</title></path>\n";
  }
  for (const TimeGap& gap : gaps) {
    const double from = axis.X(gap.from);
    const double to = axis.X(gap.to);
    svg += "<rect class=\"gap\" x=\"" + Number(from) + "\" y=\"" + std::to_string(top) +
           "\" width=\"" + Number(std::max(to - from, 1.0)) + "\" height=\"" +
           std::to_string(height) + "\"><title>gap: no entry from " + ClockText(gap.from) + " to " +
           ClockText(gap.to) + " (" + SpanClockText(gap.to - gap.from) + ")</title></rect>\n";
  }
  svg += "</g>\n";
}

std::string Picture(std::span<const MergeInput> inputs, const Axis& axis, int64_t entries) {
  const int rows_height =
      kMergedHeight + kRowSpace + static_cast<int>(inputs.size()) * (kInputHeight + kRowSpace);
  const int height = rows_height + kAxisHeight;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                    std::to_string(kLabelWidth + kPlotWidth + kRight) + " " +
                    std::to_string(height) + "\" role=\"img\" aria-label=\"entries over time\">\n";
  int top = 0;
  Row(svg, axis, top, kMergedHeight, "merged log", Grouped(entries) + " entries",
      axis.merged.counts, {}, "merged", "");
  top += kMergedHeight + kRowSpace;
  for (const MergeInput& input : inputs) {
    const InputCounts& c = input.counts;
    std::string note = c.opened ? Grouped(c.entries) + " entries" : "not read";
    if (!c.gaps.empty()) note += ", " + Grouped(static_cast<int64_t>(c.gaps.size())) + " gap(s)";
    if (c.Corrupt() > 0) note += ", " + Grouped(c.Corrupt()) + " corrupt";
    if (c.out_of_order > 0) note += ", " + Grouped(c.out_of_order) + " out of order";
    std::string label = HtmlName(input.name);
    if (label.size() > 34) label = "&#8230;" + label.substr(label.size() - 33);
    Row(svg, axis, top, kInputHeight, label, Html(note), OnAxis(axis, c.timeline), c.gaps,
        "timeline", HtmlName(input.name));
    top += kInputHeight + kRowSpace;
  }
  // The axis: evenly spaced stamps under the rows.
  svg += "<g class=\"axis\">\n";
  for (int tick = 0; tick <= kTicks && axis.high > axis.low; ++tick) {
    const int64_t at = axis.Start() + (axis.End() - axis.Start()) * tick / kTicks;
    const double x = axis.X(at);
    const char* anchor = tick == 0 ? "start" : tick == kTicks ? "end" : "middle";
    svg += "<line x1=\"" + Number(x) + "\" y1=\"0\" x2=\"" + Number(x) + "\" y2=\"" +
           std::to_string(rows_height) + "\"/>\n";
    svg += "<text x=\"" + Number(x) + "\" y=\"" + std::to_string(rows_height + 16) +
           "\" text-anchor=\"" + anchor + "\">" + ClockText(at) + "</text>\n";
  }
  if (axis.high == axis.low) {
    svg += "<text x=\"" + std::to_string(kLabelWidth) + "\" y=\"" +
           std::to_string(rows_height + 16) + "\">no dated entries</text>\n";
  }
  svg += "</g>\n</svg>\n";
  return svg;
}

std::string Table(std::span<const MergeInput> inputs) {
  std::string html = "<table>\n<thead><tr><th>input</th><th>dialects</th><th>entries</th>";
  for (const FateRow& row : kFates) html += "<th>" + Html(row.column) + "</th>";
  html += "<th>first entry</th><th>last entry</th><th>gaps</th><th>problems</th></tr></thead>\n";
  html += "<tbody>\n";
  for (const MergeInput& input : inputs) {
    const InputCounts& c = input.counts;
    html += "<tr><td>" + HtmlName(input.name) + "</td>";
    if (!c.opened) {
      html += "<td colspan=\"" + std::to_string(kFateCount + 5) + "\">not read</td>";
    } else {
      html += "<td>" + Html(DialectList(c)) + "</td><td>" + Grouped(c.entries) + "</td>";
      for (const FateRow& row : kFates) {
        html += "<td>" + Grouped(c.by_fate[static_cast<int>(row.fate)]) + "</td>";
      }
      html += "<td>" + (c.dated > 0 ? ClockText(c.first) : "-") + "</td><td>" +
              (c.dated > 0 ? ClockText(c.last) : "-") + "</td><td>";
      for (const TimeGap& gap : c.gaps) {
        html += ClockText(gap.from) + " &#8211; " + ClockText(gap.to) + " (" +
                SpanClockText(gap.to - gap.from) + ")<br>";
      }
      html += "</td>";
    }
    html += "<td>";
    for (const std::string& problem : ProblemsNaming(input)) html += Html(problem) + "<br>";
    html += "</td></tr>\n";
  }
  html += "</tbody>\n</table>\n";
  return html;
}

constexpr const char* kStyle = R"(body{font-family:sans-serif;margin:1.5em;color:#222}
h1{font-size:1.3em}
svg{width:100%;max-width:1000px;height:auto;display:block}
svg text{font-size:11px;fill:#222}
svg .label{font-weight:bold}
svg .note{fill:#666;font-size:10px}
svg .lane{fill:#f4f4f4}
svg .merged .bars{fill:#2b5d8a}
svg .timeline .bars{fill:#4a8bc2}
svg .gap{fill:#d62728;fill-opacity:.3}
svg .axis line{stroke:#ccc;stroke-width:.5}
table{border-collapse:collapse;margin-top:1.5em;font-size:.85em}
th,td{border:1px solid #ccc;padding:.2em .5em;text-align:right;vertical-align:top}
td:first-child,td:nth-child(2),th{text-align:left}
.legend span{display:inline-block;width:1em;height:.8em;margin:0 .3em 0 1em}
)";

}  // namespace

std::string RunReportHtml(std::span<const MergeInput> inputs, const RunRecord& record,
                          int exit_status) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'\">\n<title>Stitcher run report</title>\n<style>";
  html += kStyle;
  html += "</style>\n</head>\n<body>\n<h1>Stitcher run report</h1>\n<p>";
  html += Html(VersionText());
  html += " &#183; merged log " + Html(EscapedName(record.output_path)) + ": " +
          Grouped(record.entries) + " entries" + (record.output_complete ? "" : " (incomplete)") +
          " &#183; " + Grouped(static_cast<int64_t>(inputs.size())) +
          " inputs &#183; exit status " + std::to_string(exit_status) + "</p>\n";
  const Axis axis = MakeAxis(inputs);
  html += "<p class=\"legend\">Entries per " + PeriodText(axis.merged.width) +
          " (each row scaled to its busiest period)<span style=\"background:#4a8bc2\"></span>"
          "entries<span style=\"background:#d62728;opacity:.5\"></span>gap</p>\n";
  html += Picture(inputs, axis, record.entries);
  html += Table(inputs);
  html += "</body>\n</html>\n";
  return html;
}
