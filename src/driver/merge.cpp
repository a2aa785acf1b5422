#include "driver/merge.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "base/clock.h"
#include "base/file_spec.h"
#include "base/messages.h"
#include "base/text.h"
#include "driver/settings.h"
#include "entries/normalize.h"
#include "input/input.h"
#include "input/memory_pool.h"
#include "output/gzip_writer.h"
#include "output/writers.h"
#include "parse/parse_logs.h"
#include "parse/user_formats.h"
#include "platform/console.h"
#include "platform/system.h"

namespace {

constexpr int64_t kPollEvery = 256;     // lines read per input / entries merged between polls
constexpr size_t kBatchSize = 1 << 16;  // merged lines handed to the output stream at once
constexpr const char* kPartialSuffix = ".partial";  // the output while it is being written

// The parser state is carved from the run's pool, which hands out 4-byte aligned storage.
static_assert(alignof(ParseState) <= 4);
static_assert(kBatchSize >= LINE_BUFFER_SIZE, "a batch holds at least one line space");

// ---- Choosing the next entry -----------------------------------------------------------
// A binary min-heap of the slots that hold a pending entry, ordered by (time_key, slot
// index): the smallest key first, equal keys to the slot named first. Each slot holds one
// entry at a time, so an input's own entries keep their order. Choosing costs O(log n).
class PendingHeap {
 public:
  explicit PendingHeap(const MergeInput* inputs, int count) {
    heap_.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      if (inputs[i].time_key != NO_ENTRY) heap_.push_back(Rank(inputs[i].time_key, i));
    }
    for (size_t i = heap_.size() / 2; i-- > 0;) SiftDown(i);
  }

  bool Empty() const { return heap_.empty(); }
  // The slot with the smallest (time_key, index).
  int Top() const { return static_cast<int>(heap_.front() & 0xFFFFFFFFu); }

  // The top slot has a new pending entry, or none (NO_ENTRY) when it finished.
  void ReplaceTop(uint32_t time_key) {
    if (time_key == NO_ENTRY) {
      heap_.front() = heap_.back();
      heap_.pop_back();
    } else {
      heap_.front() = Rank(time_key, Top());
    }
    if (!heap_.empty()) SiftDown(0);
  }

 private:
  static uint64_t Rank(uint32_t time_key, int index) {
    return (static_cast<uint64_t>(time_key) << 32) | static_cast<uint32_t>(index);
  }

  void SiftDown(size_t at) {
    const size_t size = heap_.size();
    const uint64_t moving = heap_[at];
    for (;;) {
      size_t child = 2 * at + 1;
      if (child >= size) break;
      if (child + 1 < size && heap_[child + 1] < heap_[child]) ++child;
      if (heap_[child] >= moving) break;
      heap_[at] = heap_[child];
      at = child;
    }
    heap_[at] = moving;
  }

  std::vector<uint64_t> heap_;
};

// ---- Output path ------------------------------------------------------------------------

// The merged log beside the first named file, and the name it is written under until the
// run succeeds.
struct OutputPaths {
  FileSpec final_spec;
  FileSpec partial_spec;
};

OutputPaths MakeOutputPaths(const char* first_name) {
  OutputPaths paths;
  const char* name = settings.compress ? "merged.gz" : "merged.log";
  paths.final_spec.Set(first_name);
  paths.final_spec.Set(name);
  paths.partial_spec = paths.final_spec;
  paths.partial_spec.Set((std::string(name) + kPartialSuffix).c_str());
  return paths;
}

// True when both paths name one existing file (same device and inode), however spelled.
bool SameFile(const char* a, const char* b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

// Reading the merged log while it is rewritten would destroy it: such an input is left out.
bool IsOutputFile(const MergeInput& input, const OutputPaths& paths) {
  FileSpec spec;
  spec.Set(input.name);
  if (!SameFile(spec.Path(), paths.final_spec.Path()) &&
      !SameFile(spec.Path(), paths.partial_spec.Path())) {
    return false;
  }
  char display[FileSpec::kPathSize];
  spec.GetName(display);
  Say("Left out '%s': it is the merged output file.\n", display);
  return true;
}

bool OpenOutput(MergeOutput& out, const FileSpec& spec) {
  if (settings.compress) {
    char mode[] = "wb6";
    mode[2] = static_cast<char>('0' + settings.level);
    out.gzip = spec.OpenGz(mode);
    return out.gzip != nullptr;
  }
  // No stream buffer of our own: the merge hands the stream whole batches of lines.
  out.plain = spec.Open("wb");
  return out.plain != nullptr;
}

// ---- Progress and statistics ----------------------------------------------------------------

// Called every 256 merged entries.
void ReportProgress(ProgressSchedule& clock, int64_t merged) {
  int64_t rate = 0;
  if (ProgressDue(clock, TimeNow(), merged, rate)) {
    Say("Merged %" PRId64 " lines so far, %" PRId64 " lines/sec.\n", merged, rate);
  }
}

void PrintStatistics(const MergeInput* inputs, int count, int64_t merged, int32_t start) {
  int64_t read = 0, skipped = 0, corrupt = 0;
  for (int i = 0; i < count; ++i) {
    read += inputs[i].lines_read;
    skipped += inputs[i].lines_skipped;
    corrupt += inputs[i].lines_corrupt;
  }
  const int64_t elapsed = static_cast<int64_t>(TimeNow()) - start;
  Say("Read %" PRId64 " lines, %" PRId64 " were skipped, %" PRId64 " were corrupt\n", read, skipped,
      corrupt);
  Say("Wrote %" PRId64 " log entries in %" PRId64 ":%02d!\n", merged, elapsed / 60,
      static_cast<int>(elapsed % 60));
}

// Finishes a slot: its parser state goes back with the pool, its stream is closed.
void FinishInput(MergeInput& input) {
  input.parse_state = nullptr;
  if (input.stream != nullptr) INClose(input.stream);
  input.stream = nullptr;
  input.time_key = NO_ENTRY;
}

// Writes every pending entry in order until all inputs are done or a write fails; returns
// the number of entries merged. Lines are formatted straight into a batch, each into a
// space of LINE_BUFFER_SIZE bytes, and the stream gets a whole batch at a time rather than
// one call per line. A batch that fails to write takes its lines off the count.
int64_t MergeEntries(MergeInput* inputs, int count, MergeOutput& out, ProgressSchedule& clock) {
  std::vector<char> batch(kBatchSize);
  size_t used = 0;          // bytes of the batch filled
  int64_t batch_lines = 0;  // entries in the batch
  const LineWriter format = WriterFor(settings.output_format);
  PendingHeap pending(inputs, count);
  int64_t merged = 0;
  const auto write_batch = [&] {
    const bool ok = WriteOutput(out, batch.data(), used);
    if (!ok) merged -= batch_lines;
    used = 0;
    batch_lines = 0;
    return ok;
  };
  while (!pending.Empty()) {
    if (batch.size() - used < LINE_BUFFER_SIZE && !write_batch()) return merged;
    MergeInput& input = inputs[pending.Top()];
    used += format(batch.data() + used, LINE_BUFFER_SIZE, input.entry);
    ++batch_lines;
    NextEntry(input);
    pending.ReplaceTop(input.time_key);
    if (++merged % kPollEvery == 0) {
      PollConsole();
      if (settings.verbose) ReportProgress(clock, merged);
    }
  }
  write_batch();
  return merged;
}

// Replaces the final name with the completed output, or removes an incomplete one so that
// an earlier good merged log stays in place.
bool Publish(bool complete, const OutputPaths& paths) {
  if (!complete) {
    std::remove(paths.partial_spec.Path());
    return false;
  }
  if (std::rename(paths.partial_spec.Path(), paths.final_spec.Path()) != 0) {
    SayFailure("Error renaming output file.\n");
    std::remove(paths.partial_spec.Path());
    return false;
  }
  return true;
}

}  // namespace

// ---- Progress --------------------------------------------------------------------------------

bool ProgressDue(ProgressSchedule& schedule, int32_t now, int64_t merged, int64_t& rate) {
  constexpr int64_t kReportAfter = 10;  // due once the clock is past the schedule + 10 s
  constexpr int32_t kReportStep = 15;   // the schedule advances by exactly this per report
  if (now <= schedule.last_report + kReportAfter) return false;
  schedule.last_report += kReportStep;
  const int64_t seconds = static_cast<int64_t>(schedule.last_report) - schedule.start;
  rate = seconds > 0 ? merged / seconds : merged;
  return true;
}

// ---- The output stream -------------------------------------------------------------------

bool WriteOutput(MergeOutput& out, const char* text) {
  return WriteOutput(out, text, std::strlen(text));
}

bool WriteOutput(MergeOutput& out, const char* text, size_t length) {
  if (out.write_failed) return false;
  if (length == 0) return true;
  bool ok;
  if (out.gzip != nullptr) {
    ok = GzipWrite(out.gzip, text, static_cast<int>(length)) == static_cast<int>(length);
  } else {
    ok = std::fwrite(text, 1, length, out.plain) == length;
  }
  if (!ok) {
    SayFailure("Write error on output file!\n");
    out.write_failed = true;
  }
  return ok;
}

bool CloseOutput(MergeOutput& out) {
  bool closed = true;
  if (out.gzip != nullptr) closed = GzipClose(out.gzip);
  if (out.plain != nullptr) {
    // A flush of all streams elsewhere (fflush(nullptr)) may have met the error already and
    // dropped the data; the stream's error flag remembers it.
    const bool clean = std::ferror(out.plain) == 0;
    closed = (std::fclose(out.plain) == 0) && clean;
  }
  out.gzip = nullptr;
  out.plain = nullptr;
  if (!closed && !out.write_failed) {
    SayFailure("Write error on output file!\n");
    out.write_failed = true;
  }
  return !out.write_failed;
}

// ---- Inputs ----------------------------------------------------------------------------------

void OpenInput(MergeInput& input, MemoryPool* pool) {
  FileSpec spec;
  spec.Set(input.name);
  char display[FileSpec::kPathSize];
  spec.GetName(display);
  const char* not_read = nullptr;
  input.stream = INOpen(spec, pool, &not_read);
  if (input.stream == nullptr) {
    if (not_read != nullptr) {
      Say("Left out '%s': %s files are not read.\n", display, not_read);
    } else {
      Say("Error opening input file '%s'.\n", display);
    }
    input.time_key = NO_ENTRY;
    return;
  }
  input.parse_state = new (MPAlloc(pool, sizeof(ParseState))) ParseState;
  InitParseState(*input.parse_state);
  if (settings.user_format[0] != '\0') LoadUserFormats(*input.parse_state, settings.user_format);
  input.time_key = 0;
  input.entry.line_length = 0;
  input.lines_read = 0;
  input.lines_corrupt = 0;
  input.lines_skipped = 0;
  if (settings.verbose) Say("Opened '%s'.\n", display);
}

void NextEntry(MergeInput& input) {
  if (input.time_key == NO_ENTRY) return;
  for (;;) {
    // The pending entry points into its line, so the line is released only now.
    if (input.entry.line_length > 0) INAdvance(input.stream, input.entry.line_length);
    char* line = INPeek(input.stream);
    if (line == nullptr) {
      FinishInput(input);
      return;
    }
    if (++input.lines_read % kPollEvery == 0) PollConsole();
    const ParseResult result = ParseEntry(*input.parse_state, line, input.entry);
    if (result == PARSE_ENTRY) {
      if (settings.normalize) NormalizeEntry(input.entry);
      if (!PassesFilters(input.entry)) continue;  // counted as read only
      if (settings.trim_first_n_dirs > 0) TrimLeadingDirs(input.entry, settings.trim_first_n_dirs);
      input.time_key = MakeTimeKey(input.entry);
      return;
    }
    if (result == PARSE_HEADER) {
      ++input.lines_skipped;
    } else {
      ++input.lines_corrupt;
    }
  }
}

// ---- The run -----------------------------------------------------------------------------------

bool MergeLogs(int count, MergeInput* inputs) {
  ProgressSchedule clock{TimeNow(), 0};
  clock.last_report = clock.start;
  // Every input stays open until it ends, plus the output and the standard streams.
  RaiseOpenFileLimit(static_cast<int64_t>(count) + 16);
  const OutputPaths paths = MakeOutputPaths(inputs[0].name);
  MemoryPool* pool = MPNew();

  for (int i = 0; i < count; ++i) {
    if (IsOutputFile(inputs[i], paths)) {
      inputs[i].time_key = NO_ENTRY;
      continue;
    }
    OpenInput(inputs[i], pool);
    NextEntry(inputs[i]);
  }

  MergeOutput out;
  if (!OpenOutput(out, paths.partial_spec)) {
    SayFailure("Error opening output file.\n");
    for (int i = 0; i < count; ++i) {
      if (inputs[i].time_key != NO_ENTRY) FinishInput(inputs[i]);
    }
    MPDispose(pool);
    return false;
  }
  Say("Merging . . .\n");

  int64_t merged = 0;
  if (WriteOutput(out, HeaderFor(settings.output_format)))
    merged = MergeEntries(inputs, count, out, clock);
  if (settings.verbose) PrintStatistics(inputs, count, merged, clock.start);

  // Inputs still pending after a write error are closed too: their decoders live in the
  // pool that is about to go.
  for (int i = 0; i < count; ++i) {
    if (inputs[i].time_key != NO_ENTRY) FinishInput(inputs[i]);
  }
  const bool written = CloseOutput(out);
  MPDispose(pool);
  return Publish(written, paths);
}
