#include "driver/progress.h"

#include <cinttypes>

#include "base/clock.h"
#include "base/messages.h"
#include "driver/merge.h"

ProgressSchedule StartProgress() {
  const int32_t now = TimeNow();
  return ProgressSchedule{now, now};
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
  if (ProgressDue(schedule, TimeNow(), merged, rate)) {
    SayInfo("Merged %" PRId64 " lines so far, %" PRId64 " lines/sec.\n", merged, rate);
  }
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
