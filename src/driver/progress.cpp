#include "driver/progress.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "base/clock.h"
#include "base/messages.h"
#include "driver/merge.h"
#include "input/input.h"
#include "platform/system.h"

namespace {

using Clock = std::chrono::steady_clock;

// The line is redrawn at most this often.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// The one progress line of the process. The merge thread draws it; a message from any
// thread clears it, so the mutex guards the terminal as well as `shown`.
struct LineState {
  std::mutex mutex;
  bool on = false;
  bool shown = false;
  std::span<const MergeInput> inputs;
  int64_t total_bytes = 0;
  Clock::time_point start;
  Clock::time_point last_draw;
};
LineState line_state;

// Erases the line (under the mutex).
void EraseLine() {
  if (!line_state.shown) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  line_state.shown = false;
}

void ClearBeforeMessage() {
  const std::lock_guard lock(line_state.mutex);
  EraseLine();
}

// "1.2" in `unit`s of `size` bytes; whole numbers for bytes.
std::string Scaled(double value, double unit) {
  char text[32];
  if (unit == 1) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else {
    std::snprintf(text, sizeof text, "%.1f", value / unit);
  }
  return text;
}

struct Unit {
  double size;
  const char* name;
};
constexpr Unit kByteUnits[] = {{1e12, "TB"}, {1e9, "GB"}, {1e6, "MB"}, {1e3, "KB"}, {1, "B"}};
constexpr Unit kCountUnits[] = {{1e9, "G "}, {1e6, "M "}, {1e3, "k "}, {1, ""}};

template <size_t N>
const Unit& UnitFor(double value, const Unit (&units)[N]) {
  for (const Unit& unit : units) {
    if (value >= unit.size) return unit;
  }
  return units[N - 1];
}

ProgressFigures Figures(int64_t entries) {
  ProgressFigures figures;
  figures.inputs = static_cast<int64_t>(line_state.inputs.size());
  for (const MergeInput& input : line_state.inputs) {
    if (input.counts.finished) {
      ++figures.inputs_done;
      figures.bytes += input.counts.bytes_read;
    } else if (input.stream != nullptr) {
      figures.bytes += SourceBytesRead(&input.stream->source);
    }
  }
  figures.total_bytes = line_state.total_bytes;
  figures.entries = entries;
  figures.seconds = std::chrono::duration<double>(Clock::now() - line_state.start).count();
  return figures;
}

void DrawLine(int64_t entries) {
  const Clock::time_point now = Clock::now();
  const std::lock_guard lock(line_state.mutex);
  if (!line_state.on) return;
  if (line_state.last_draw != Clock::time_point{} && now - line_state.last_draw < kRedrawEvery) {
    return;
  }
  line_state.last_draw = now;
  const std::string text = ProgressText(Figures(entries));
  std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
  std::fflush(stderr);
  line_state.shown = true;
}

}  // namespace

ProgressSchedule StartProgress(bool verbose) {
  const int32_t now = TimeNow();
  return ProgressSchedule{now, now, verbose};
}

bool ProgressDue(ProgressSchedule& schedule, int32_t now, int64_t merged, int64_t& rate) {
  constexpr int64_t kReportAfter = 10;  // due once the clock is past the schedule + 10 s
  constexpr int32_t kReportStep = 15;   // the schedule advances by exactly this per report
  if (now <= schedule.last_report + kReportAfter) return false;
  schedule.last_report += kReportStep;
  const int64_t seconds = static_cast<int64_t>(schedule.last_report) - schedule.start;
  rate = seconds > 0 ? merged / seconds : merged;
  return true;
}

void ReportProgress(ProgressSchedule& schedule, int64_t merged) {
  int64_t rate = 0;
  if (schedule.verbose && ProgressDue(schedule, TimeNow(), merged, rate)) {
    SayInfo("Merged %" PRId64 " lines so far, %" PRId64 " lines/sec.\n", merged, rate);
  }
  DrawLine(merged);
}

std::string ProgressText(const ProgressFigures& f) {
  const int width = std::snprintf(nullptr, 0, "%" PRId64, f.inputs);
  char files[64];
  std::snprintf(files, sizeof files, "[%*" PRId64 "/%" PRId64 " files]", width, f.inputs_done,
                f.inputs);
  std::string text = files;
  const double bytes = static_cast<double>(f.bytes);
  const double total = static_cast<double>(f.total_bytes);
  if (f.total_bytes > 0) {
    const Unit& unit = UnitFor(total, kByteUnits);
    const int64_t percent = f.bytes >= f.total_bytes ? 100 : f.bytes * 100 / f.total_bytes;
    text += "  " + Scaled(bytes, unit.size) + " of " + Scaled(total, unit.size) + " " + unit.name +
            "  " + std::to_string(percent) + " %";
  } else {
    const Unit& unit = UnitFor(bytes, kByteUnits);
    text += "  " + Scaled(bytes, unit.size) + " " + unit.name;
  }
  const Unit& count = UnitFor(static_cast<double>(f.entries), kCountUnits);
  text += "  " + Scaled(static_cast<double>(f.entries), count.size) + " " + count.name + "entries";
  if (f.seconds > 0 && f.bytes > 0) {
    const double rate = bytes / f.seconds;
    const Unit& unit = UnitFor(rate, kByteUnits);
    text += "  " + Scaled(rate, unit.size) + " " + unit.name + "/s";
    if (f.total_bytes > f.bytes) {
      const auto left = static_cast<int64_t>((total - bytes) / rate + 0.5);
      char time[32];
      if (left >= 3600) {
        std::snprintf(time, sizeof time, "%" PRId64 ":%02d:%02d left", left / 3600,
                      static_cast<int>(left / 60 % 60), static_cast<int>(left % 60));
      } else {
        std::snprintf(time, sizeof time, "%" PRId64 ":%02d left", left / 60,
                      static_cast<int>(left % 60));
      }
      text += "  ";
      text += time;
    }
  }
  return text;
}

bool ProgressLineWanted(ProgressMode mode, bool quiet) {
  if (mode != ProgressMode::AUTO) return mode == ProgressMode::ON;
  return !quiet && StandardErrorIsTerminal();
}

void StartProgressLine(std::span<const MergeInput> inputs, bool draw) {
  const std::lock_guard lock(line_state.mutex);
  line_state.on = draw;
  line_state.shown = false;
  line_state.inputs = inputs;
  line_state.total_bytes = 0;
  line_state.start = Clock::now();
  line_state.last_draw = Clock::time_point{};
  if (!draw) return;
  for (const MergeInput& input : inputs) {
    std::error_code error;
    const auto size = std::filesystem::file_size(input.name, error);
    if (!error) line_state.total_bytes += static_cast<int64_t>(size);
  }
  SetBeforeMessage(ClearBeforeMessage);
}

bool ProgressLineOn() {
  const std::lock_guard lock(line_state.mutex);
  return line_state.on;
}

void EndProgressLine() {
  const std::lock_guard lock(line_state.mutex);
  EraseLine();
  line_state.on = false;
  line_state.inputs = {};
}

void PrintStatistics(std::span<const MergeInput> inputs, int64_t merged,
                     const ProgressSchedule& schedule) {
  int64_t read = 0, skipped = 0, corrupt = 0;
  for (const MergeInput& input : inputs) {
    read += input.lines_read;
    skipped += input.lines_skipped;
    corrupt += input.lines_corrupt;
  }
  const int64_t elapsed = static_cast<int64_t>(TimeNow()) - schedule.start;
  SayInfo("Read %" PRId64 " lines, %" PRId64 " were skipped, %" PRId64 " were corrupt\n", read,
          skipped, corrupt);
  SayInfo("Wrote %" PRId64 " log entries in %" PRId64 ":%02d!\n", merged, elapsed / 60,
          static_cast<int>(elapsed % 60));
}
