#include "driver/run_plan.h"

#include <algorithm>

#include "output/deflate_sink.h"

namespace {

// Files a pass keeps open beside its inputs and spills: the standard streams, the merged
// log or the spill being written, and a few to spare (a configuration or lock file).
constexpr int64_t kFilesBesideInputs = 8;

// Up to this many inputs are merged in one pass unless --max-open says otherwise; more are
// merged in passes of kInputsPerPass: measured with 10,000 small logs, passes of a few
// hundred inputs take half the time and a tenth of the memory of one pass over all of
// them, whose entries are scattered over thousands of windows.
constexpr int64_t kOnePassMost = 1000;
constexpr int64_t kInputsPerPass = 256;

// From --max-open, the open-file limit and the inputs whose decoders fit in the memory budget
// together (`within_budget`, 0 for all), which may be a single one.
PassPlan PlanPasses(int count, int64_t limit, int64_t max_open, int within_budget) {
  const int64_t files = std::max<int64_t>(3, limit - kFilesBesideInputs);
  if (max_open <= 0) max_open = count > kOnePassMost ? kInputsPerPass : files;
  if (within_budget > 0) max_open = std::min<int64_t>(max_open, within_budget);
  if (count <= files && count <= max_open) return PassPlan{true, count, 0};
  const int64_t fewest = within_budget > 0 ? 1 : 2;
  const int64_t inputs = std::max<int64_t>(fewest, std::min(max_open, files / 2));
  const int64_t spills = std::max<int64_t>(1, files - inputs - 1);
  return PassPlan{false, static_cast<int>(std::min<int64_t>(inputs, count)),
                  static_cast<int>(std::min<int64_t>(spills, count))};
}

}  // namespace

int64_t FilesWanted(int inputs) {
  return int64_t{inputs} + kFilesBesideInputs;
}

RunPlan PlanRun(const RunRequest& request) {
  RunPlan plan;
  plan.sort = request.sort;
  const int threads = request.threads > 0 ? request.threads : std::max(1, request.cores);
  plan.compress_threads = request.compress ? std::min(threads, kMostDeflateThreads) : 0;
  if (request.sort == SortMode::Full) {
    // Inputs are sorted one at a time: one worker decodes it, one parses it, while the merge
    // thread sorts and writes its runs. Passes are not needed: one input is open at a time
    // and the runs are merged as the open-file limit allows.
    const int workers = threads > 1 ? 1 : 0;
    plan.decode_threads = workers;
    plan.parse_threads = workers;
    plan.most_read_ahead = workers;
    plan.most_parse_ahead = workers;
    plan.passes = PlanPasses(1, request.open_file_limit, 0, 0);
    const int64_t files = std::max<int64_t>(3, request.open_file_limit - kFilesBesideInputs);
    plan.passes.spills = static_cast<int>(std::max<int64_t>(2, files - 1));
    plan.spills_in_temporary_directory = true;
    return plan;
  }
  plan.passes =
      PlanPasses(request.inputs, request.open_file_limit, request.max_open, request.within_budget);
  // One worker per thread asked for, but never more than can have work: one pass's inputs,
  // up to the most that decode or parse ahead at once.
  const int open = std::max(1, plan.passes.inputs);
  if (threads > 1) {
    plan.decode_threads = std::min({threads, kMostReadAhead, open});
    plan.parse_threads = std::min({threads, kMostParseAhead, open});
  }
  plan.most_read_ahead =
      plan.decode_threads > 0 ? std::min(kMostReadAhead, request.read_ahead_within_budget) : 0;
  plan.most_parse_ahead = plan.parse_threads > 0 ? kMostParseAhead : 0;
  if (request.window_seconds > 0) {
    const size_t bytes =
        std::clamp(kWindowMemory / static_cast<size_t>(open), kLeastWindowBytes, kMostWindowBytes);
    plan.window = WindowLimits{request.window_seconds, bytes / kWindowBytesPerEntry, bytes};
  }
  return plan;
}
