// The plan of a run: the threads of each kind that --threads and the inputs give, passes,
// the sort window's caps and where sorted runs go.

#include "driver/run_plan.h"

#include <gtest/gtest.h>

namespace {

struct ThreadCase {
  const char* name;
  RunRequest request;
  int compress, decode, parse;
};

RunRequest Request(int inputs, int threads, int cores, bool compress = true,
                   SortMode sort = SortMode::Window) {
  RunRequest request;
  request.inputs = inputs;
  request.threads = threads;
  request.cores = cores;
  request.compress = compress;
  request.open_file_limit = 1024;
  request.sort = sort;
  request.window_seconds = 600;
  return request;
}

TEST(RunPlan, ThreadsOfEachKindFollowThreadsAndTheInputs) {
  const ThreadCase cases[] = {
      {"--threads=1: the merge thread and one compressing thread", Request(3, 1, 8), 1, 0, 0},
      {"--threads=1, plain output: the merge thread alone", Request(3, 1, 8, false), 0, 0, 0},
      {"--threads=2", Request(3, 2, 8), 2, 2, 2},
      {"one per core by default", Request(8, 0, 4), 4, 4, 4},
      {"a core that reports none counts as one", Request(8, 0, 0), 1, 0, 0},
      {"no more workers than inputs", Request(2, 8, 8), 8, 2, 2},
      {"decoding workers stop at the inputs decoding ahead", Request(500, 200, 8), 64, 16, 128},
      {"sorted whole: one input at a time, one worker of each",
       Request(5, 4, 8, true, SortMode::Full), 4, 1, 1},
      {"sorted whole on one thread", Request(5, 1, 8, true, SortMode::Full), 1, 0, 0},
  };
  for (const ThreadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RunPlan plan = PlanRun(c.request);
    EXPECT_EQ(plan.compress_threads, c.compress);
    EXPECT_EQ(plan.decode_threads, c.decode);
    EXPECT_EQ(plan.parse_threads, c.parse);
  }
}

TEST(RunPlan, WindowCapsShareAPassMemoryAndFullSortsSpillToTheTemporaryDirectory) {
  const RunPlan one = PlanRun(Request(1, 1, 1));
  EXPECT_EQ(one.window.span_seconds, 600);
  EXPECT_EQ(one.window.most_bytes, kMostWindowBytes);
  EXPECT_EQ(one.window.most_entries, kMostWindowBytes / kWindowBytesPerEntry);
  const RunPlan many = PlanRun(Request(900, 1, 1));
  EXPECT_EQ(many.window.most_bytes, kLeastWindowBytes);
  EXPECT_FALSE(many.spills_in_temporary_directory);

  RunRequest off = Request(3, 1, 1);
  off.window_seconds = 0;
  EXPECT_EQ(PlanRun(off).window.span_seconds, 0);

  const RunPlan full = PlanRun(Request(3000, 1, 1, true, SortMode::Full));
  EXPECT_EQ(full.window.span_seconds, 0) << "a full sort needs no window";
  EXPECT_TRUE(full.spills_in_temporary_directory);
  EXPECT_TRUE(full.passes.one_pass);
  EXPECT_GE(full.passes.spills, 2);
}

TEST(RunPlan, MoreInputsThanMayBeOpenMergeInPasses) {
  RunRequest request = Request(3000, 1, 1);
  const RunPlan plan = PlanRun(request);
  EXPECT_FALSE(plan.passes.one_pass);
  EXPECT_EQ(plan.passes.inputs, 256);
  request.max_open = 10;
  request.inputs = 40;
  EXPECT_EQ(PlanRun(request).passes.inputs, 10);
  request.max_open = 0;
  EXPECT_TRUE(PlanRun(request).passes.one_pass);
}

}  // namespace
