#pragma once
// The plan of a run, decided once at start-up from the settings and the number of inputs:
// how many threads of each kind run, whether the merge goes in passes through spills, how
// entries are put in time order and where temporary files go. The merge follows the plan;
// nothing else decides a thread count.
//
// Threads of a run (ARCHITECTURE.md has the whole map):
//   the merge thread     the program's own: reads, parses and merges what no worker takes
//   compressing threads  `compress_threads` of the gzip sink, when the merged log is gzip
//   decoding workers     `decode_threads`, decompressing inputs a block ahead
//   parsing workers      `parse_threads`, parsing and formatting inputs a batch ahead

#include <cstdint>

#include "driver/sort_window.h"

// How entries of one input are put in time order.
enum class SortMode {
  Window,  // through a bounded sort window per input (span 0: in the input's own order)
  Full,    // every input sorted whole, through sorted runs in temporary files
};

// How a merge is split into passes. In one pass every input is open at once. Otherwise
// groups of `inputs` consecutive slots are merged, each into a spill, and whenever more than
// `spills` spills are open they are merged into one, so that the inputs of a group, the
// spills and the one being written never pass the open-file limit.
struct PassPlan {
  bool one_pass = true;
  int inputs = 0;
  int spills = 0;
};

// Inputs that may decode ahead at once, at the very most.
inline constexpr int kMostReadAheadAtAll = 16;

// What the plan is made from.
struct RunRequest {
  int inputs = 0;               // log files named
  int threads = 0;              // --threads; 0: one per core
  int cores = 1;                // cores this machine reports
  bool compress = true;         // the merged log is gzip
  int max_open = 0;             // --max-open; 0: as the open-file limit allows
  int64_t open_file_limit = 0;  // files this process may open, raised as far as it goes
  SortMode sort = SortMode::Window;
  int64_t window_seconds = 0;  // --sort-window; 0: off
  // Inputs whose decoders fit in the memory budget together (0: all of them; 1: each one
  // alone), and inputs that may decode ahead within it.
  int within_budget = 0;
  int read_ahead_within_budget = kMostReadAheadAtAll;
};

struct RunPlan {
  int compress_threads = 0;  // 0: the merged log is not compressed
  int decode_threads = 0;    // 0: inputs decode on the thread that reads them
  int parse_threads = 0;     // 0: inputs are parsed on the merge thread
  int most_read_ahead = 0;   // inputs that decode ahead at once
  int most_parse_ahead = 0;  // inputs parsed ahead at once
  PassPlan passes;
  SortMode sort = SortMode::Window;
  WindowLimits window;  // of every input; span 0: off
  // Sorted runs of --sort=full go to the system's temporary directory; spills of passes go
  // beside the merged log (the temporary directory when that refuses them).
  bool spills_in_temporary_directory = false;
};

// Compressed inputs decoding ahead at once: each holds two read-ahead blocks, so memory stays
// bounded; further inputs decode on the merge thread.
inline constexpr int kMostReadAhead = kMostReadAheadAtAll;
// Inputs parsed ahead at once; further inputs are parsed on the merge thread: with thousands
// of inputs open at once, batches for every one would cost more memory than they gain.
inline constexpr int kMostParseAhead = 128;
// The memory of all sort windows of a pass, shared out between its inputs, and the most and
// least one input's window gets; each line held takes its text and about 48 bytes.
inline constexpr size_t kWindowMemory = size_t{512} << 20;
inline constexpr size_t kMostWindowBytes = size_t{64} << 20;
inline constexpr size_t kLeastWindowBytes = size_t{1} << 20;
inline constexpr size_t kWindowBytesPerEntry = 128;

RunPlan PlanRun(const RunRequest& request);

// Files a run over `inputs` logs would like to open at once: what the open-file limit is
// raised towards before planning.
int64_t FilesWanted(int inputs);
