#include "driver/merge.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/resource_limits.h"
#include "driver/input_summary.h"
#include "driver/memory_budget.h"
#include "driver/options.h"
#include "driver/parse_ahead.h"
#include "driver/progress.h"
#include "driver/run_plan.h"
#include "driver/run_report.h"
#include "driver/settings.h"
#include "input/input.h"
#include "input/memory_pool.h"
#include "output/destination.h"
#include "output/duplicate_lines.h"
#include "output/sink.h"
#include "output/spill_file.h"
#include "output/writers.h"
#include "platform/console.h"
#include "platform/signals.h"
#include "platform/system.h"

namespace {

constexpr int64_t kPollEvery = 256;     // entries merged between polls
constexpr size_t kBatchSize = 1 << 16;  // merged lines handed to the output stream at once

static_assert(kBatchSize >= LINE_BUFFER_SIZE, "a batch holds at least one line space");

// ---- Choosing the next entry -----------------------------------------------------------
// The order of pending entries: the smaller key first, equal keys to the slot named first.
struct Rank {
  TimeKey key;
  int32_t slot;
  friend auto operator<=>(const Rank&, const Rank&) = default;
};

// A binary min-heap of the slots that hold a pending entry, ordered by Rank. Each slot holds
// one entry at a time, so an input's own entries keep their order. Choosing costs O(log n).
class PendingHeap {
 public:
  // The slots 0..count-1 whose key_of(slot) is not NO_ENTRY.
  template <typename KeyOf>
  PendingHeap(int count, KeyOf key_of) {
    heap_.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      const TimeKey key = key_of(i);
      if (key != NO_ENTRY) heap_.push_back(Rank{key, i});
    }
    for (size_t i = heap_.size() / 2; i-- > 0;) SiftDown(i);
  }

  bool Empty() const { return heap_.empty(); }
  // The slot with the smallest rank.
  int Top() const { return heap_.front().slot; }

  // The top slot has a new pending entry, or none (NO_ENTRY) when it finished.
  void ReplaceTop(TimeKey time_key) {
    if (time_key == NO_ENTRY) {
      heap_.front() = heap_.back();
      heap_.pop_back();
    } else {
      heap_.front().key = time_key;
    }
    if (!heap_.empty()) SiftDown(0);
  }

 private:
  void SiftDown(size_t at) {
    const size_t size = heap_.size();
    const Rank moving = heap_[at];
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

  std::vector<Rank> heap_;
};

// The log file the merged log goes beside: the first named one that is a regular file, or
// "" (the working directory) when none is. A pipe or a device such as /dev/stdin has no
// directory of logs to write into.
const char* OutputAnchor(const MergeInput* inputs, int count) {
  for (int i = 0; i < count; ++i) {
    std::error_code error;
    if (std::filesystem::is_regular_file(inputs[i].name, error)) return inputs[i].name;
  }
  return "";
}

// ---- Time zones --------------------------------------------------------------------------

// "+0100"
std::string OffsetText(int32_t minutes) {
  char text[8];
  const int32_t size = minutes < 0 ? -minutes : minutes;
  std::snprintf(text, sizeof text, "%c%02d%02d", minutes < 0 ? '-' : '+', size / 60 % 100,
                size % 60);
  return text;
}

// Merged by clock time, inputs whose stamps carry different offsets interleave out of real
// order: said once (it is information, so --quiet leaves it out), with the offsets their
// first entries carry.
void CollectOffsets(const MergeInput* inputs, int count, std::vector<int32_t>& seen) {
  for (int i = 0; i < count; ++i) {
    const int32_t offset = inputs[i].first_offset;
    if (!inputs[i].first_read || offset == NO_OFFSET) continue;
    if (std::find(seen.begin(), seen.end(), offset) == seen.end()) seen.push_back(offset);
  }
}

void NoteMixedOffsets(const std::vector<int32_t>& seen) {
  if (seen.size() < 2) return;
  std::string list;
  for (int32_t offset : seen) list += (list.empty() ? "" : ", ") + OffsetText(offset);
  SayInfo(
      "Note: the inputs carry different UTC offsets (%s); entries are merged by their clock "
      "time as written, not in real time order. --timezone=<zone> (or the timezone key) "
      "merges them in real time.\n",
      list.c_str());
}

// ---- Where merged lines go ----------------------------------------------------------------
// The merged log itself, or a spill file that a later pass merges again.
class LineOut {
 public:
  virtual ~LineOut() = default;
  // Space for a line of at most `room` bytes; null when a write failed.
  virtual char* Room(size_t room) = 0;
  // The line written at Room() is `length` bytes long and has `key`; false when a write
  // failed.
  virtual bool Put(TimeKey key, size_t length) = 0;
  // Puts a line already formatted elsewhere; false when a write failed.
  virtual bool PutLine(TimeKey key, std::string_view line) {
    char* room = Room(line.size());
    if (room == nullptr) return false;
    std::memcpy(room, line.data(), line.size());
    return Put(key, line.size());
  }
  // Hands on what is gathered; false when a write failed.
  virtual bool Flush() = 0;
  // Lines put.
  int64_t Lines() const { return lines_; }

 protected:
  int64_t lines_ = 0;
};

// Gathers lines into a batch and hands the output sink a whole batch at a time rather than
// one call per line.
class SinkOut final : public LineOut {
 public:
  explicit SinkOut(OutputSink& sink) : sink_(sink), batch_(kBatchSize) {}

  char* Room(size_t room) override {
    if (batch_.size() - used_ < room) {
      if (!Flush()) return nullptr;
      // A line longer than the usual space gets a batch of its own size, so it is written
      // whole instead of losing fields or the whole line.
      if (batch_.size() < room) batch_.resize(room);
    }
    return batch_.data() + used_;
  }

  bool Put(TimeKey, size_t length) override {
    used_ += length;
    ++batch_lines_;
    ++lines_;
    return true;
  }

  bool Flush() override {
    const bool ok = sink_.Write(std::string_view(batch_.data(), used_), batch_lines_);
    used_ = 0;
    batch_lines_ = 0;
    return ok;
  }

 private:
  OutputSink& sink_;
  std::vector<char> batch_;
  size_t used_ = 0;          // bytes of the batch filled
  int64_t batch_lines_ = 0;  // lines in the batch
};

// Appends every line with its key to a spill file.
class SpillOut final : public LineOut {
 public:
  explicit SpillOut(SpillWriter& spill) : spill_(spill), line_(LINE_BUFFER_SIZE) {}

  char* Room(size_t room) override {
    if (line_.size() < room) line_.resize(room);
    return line_.data();
  }

  bool Put(TimeKey key, size_t length) override {
    return PutLine(key, std::string_view(line_.data(), length));
  }

  // A line formatted elsewhere goes to the spill's buffer without a stop in line_.
  bool PutLine(TimeKey key, std::string_view line) override {
    ++lines_;
    return spill_.Append(key, line);
  }

  bool Flush() override { return true; }

 private:
  SpillWriter& spill_;
  std::vector<char> line_;
};

// ---- Merging ---------------------------------------------------------------------------------
// Every kPollEvery lines: the console, and the progress report where one is kept.
void PollNow(const LineOut& out, ProgressSchedule* schedule) {
  if (out.Lines() % kPollEvery != 0) return;
  PollConsole();
  if (schedule != nullptr) ReportProgress(*schedule, out.Lines());
}

// Puts every pending line in order until all inputs are done or a write fails; false on a
// write failure. Each line is written straight into the space the output gives for it,
// which holds it whole (PendingLineBound), or copied there from the input's batch parsed
// ahead.
bool MergeEntries(MergeInput* inputs, int count, LineOut& out, ProgressSchedule* schedule,
                  DuplicateLines* duplicates) {
  PendingHeap pending(count, [inputs](int i) { return inputs[i].time_key; });
  if (duplicates != nullptr) duplicates->StartPass();
  while (!pending.Empty()) {
    const int slot = pending.Top();
    MergeInput& input = inputs[slot];
    const TimeKey key = input.time_key;
    if (input.ahead != nullptr) {
      const std::string_view line = AheadLine(input.ahead);
      if ((duplicates == nullptr || !duplicates->Drop(key, slot, line)) &&
          !out.PutLine(key, line)) {
        return false;
      }
      input.time_key = AdvanceAhead(input.ahead);
      if (input.time_key == NO_ENTRY) FinishInput(input);
    } else {
      char* room = out.Room(PendingLineBound(input));
      if (room == nullptr) return false;
      const size_t length = WritePendingLine(input, room);
      if ((duplicates == nullptr || !duplicates->Drop(key, slot, std::string_view(room, length))) &&
          !out.Put(key, length)) {
        return false;
      }
      NextEntry(input);
    }
    pending.ReplaceTop(input.time_key);
    PollNow(out, schedule);
  }
  return out.Flush();
}

// One spill of an earlier pass, read back: its pending line and that line's key.
struct SpillInput {
  SpillInput(SpillReader spill, uint64_t records, int32_t owner_of)
      : reader(std::move(spill)), left(records), owner(owner_of) {}

  SpillReader reader;
  uint64_t left;  // records still to come: a spill that ends before them failed
  // Whose lines it holds: an input, or inputs merged into it with their duplicates already
  // dropped. --dedupe drops a line only against another owner's, so an input's own repeats
  // (in runs of its own with --sort=full) are all kept.
  int32_t owner;
  TimeKey key = NO_ENTRY;
  std::string_view line;

  // Takes the next line, or NO_ENTRY after the last record written; false on a read failure
  // (said).
  bool Next() {
    if (left == 0) {
      key = NO_ENTRY;
      return true;
    }
    --left;
    if (reader.Next(key, line)) return true;
    key = NO_ENTRY;
    SayFailure("Error reading a temporary file of the merge: %s.\n",
               reader.Failed() ? EscapedName(reader.Error()).c_str()
                               : "it ends before the records written to it");
    return false;
  }
};

// Puts every line of the spills in order, equal keys to the spill made first; false on a read
// or write failure. Spills hold consecutive slots, so this is the order one pass over every
// input gives.
bool MergeSpills(std::span<SpillInput> spills, LineOut& out, ProgressSchedule* schedule,
                 DuplicateLines* duplicates) {
  for (SpillInput& spill : spills) {
    if (!spill.Next()) return false;
  }
  PendingHeap pending(static_cast<int>(spills.size()),
                      [spills](int i) { return spills[static_cast<size_t>(i)].key; });
  if (duplicates != nullptr) duplicates->StartPass();
  while (!pending.Empty()) {
    const int slot = pending.Top();
    SpillInput& spill = spills[static_cast<size_t>(slot)];
    const bool dropped =
        duplicates != nullptr && duplicates->Drop(spill.key, spill.owner, spill.line);
    if ((!dropped && !out.PutLine(spill.key, spill.line)) || !spill.Next()) return false;
    pending.ReplaceTop(spill.key);
    PollNow(out, schedule);
  }
  return out.Flush();
}

}  // namespace

bool LoadRunZones(RunZones& zones) {
  zones = RunZones{};
  std::string error;
  const auto load = [&error](const std::string& name, const char* key, TimeZone& zone) {
    if (LoadTimeZone(name, zone, error)) return true;
    SayFailure(
        "Time zone '%s' (%s) refused: %s; give a name such as UTC, local or "
        "Europe/Berlin.\n",
        EscapedName(name).c_str(), key, EscapedName(error).c_str());
    return false;
  };
  if (!settings.input_timezone.empty()) {
    if (!load(settings.input_timezone, "input-timezone", zones.input)) return false;
    zones.has_input_zone = true;
    zones.offsetless = zones.input;
  } else if (!LoadTimeZone("local", zones.offsetless, error)) {
    LoadTimeZone("UTC", zones.offsetless, error);
  }
  for (const Settings::InputZoneRule& rule : settings.input_zone_rules) {
    zones.input_rules.push_back({rule.pattern, TimeZone{}});
    if (!load(rule.zone, "input-timezone-for", zones.input_rules.back().zone)) return false;
  }
  if (settings.timezone.empty()) return true;
  if (!load(settings.timezone, "timezone", zones.named)) return false;
  if (!zones.has_input_zone) {
    if (!load("local", "this machine's zone", zones.input)) return false;
    zones.has_input_zone = true;
  }
  zones.real_time = true;
  // W3C extended stamps are UTC by that format's definition.
  if (settings.output_format == OutputFormat::W3C) {
    LoadTimeZone("UTC", zones.written, error);
  } else {
    zones.written = zones.named;
  }
  // The time window is read as clock times of the named zone.
  const auto instant_of = [&zones](ClockTime bound) {
    OffsetMemo memo;
    const int64_t local = ClockTimeSeconds(bound);
    return local - int64_t{LocalOffsetMinutes(zones.named, local, memo)} * 60;
  };
  if (settings.window.since) zones.since = instant_of(*settings.window.since);
  if (settings.window.until) zones.until = instant_of(*settings.window.until);
  return true;
}

namespace {

// Hands the first inputs that are regular files with a line pending to the parse crew, at
// most `most`. A pipe stays on the merge thread: a worker blocked on a pipe whose writer
// never ends would hold up closing that input after a write error. The text of their batches
// is shared out evenly, so that memory stays bounded; each batch holds from 16 KiB to 64 KiB.
constexpr size_t kParseAheadMemory = 4 << 20;
constexpr size_t kSmallestParseBatch = 16 << 10;
constexpr size_t kLargestParseBatch = 64 << 10;

void StartParsingAhead(MergeInput* inputs, int count, WorkCrew& crew, int most) {
  const auto takes_part = [](const MergeInput& input) {
    return input.time_key != NO_ENTRY && input.stream->facts.regular;
  };
  const auto parts = std::min<std::ptrdiff_t>(std::count_if(inputs, inputs + count, takes_part),
                                              std::max(most, 1));
  if (parts == 0) return;
  const size_t batch_bytes = std::clamp(kParseAheadMemory / 2 / static_cast<size_t>(parts),
                                        kSmallestParseBatch, kLargestParseBatch);
  int started = 0;
  for (int i = 0; i < count && started < parts; ++i) {
    if (!takes_part(inputs[i])) continue;
    inputs[i].ahead = StartParseAhead(crew, inputs[i], batch_bytes);
    ++started;
  }
}

// What the passes of one run share.
struct RunContext {
  const RunPlan& plan;
  const SlotOptions& slot;
  Destination& destination;
  WorkCrew* decode_crew;         // null: inputs decode on the thread that reads them
  WorkCrew* parse_crew;          // null: inputs are parsed on the merge thread
  DuplicateLines* duplicates;    // --dedupe; null: every line is written
  std::vector<int32_t> offsets;  // the UTC offsets the inputs' first entries carry
  int opened = 0;                // inputs opened so far; none: nothing is published
  std::vector<SpillInput> spills;
  int32_t next_owner = 0;  // the owner of the next spill that combines several owners' lines
};

// Opens the slots, reads each one's first line and starts the workers on them.
void OpenInputs(MergeInput* inputs, int count, MemoryPool* pool, RunContext& run) {
  int reading_ahead = 0;
  for (int i = 0; i < count; ++i) {
    if (!OpenInput(inputs[i], pool, run.slot, &run.destination)) continue;
    ++run.opened;
    if (run.decode_crew != nullptr && reading_ahead < run.plan.most_read_ahead &&
        INReadAhead(inputs[i].stream, *run.decode_crew)) {
      ++reading_ahead;
    }
    NextEntry(inputs[i]);
  }
  CollectOffsets(inputs, count, run.offsets);
  if (run.parse_crew != nullptr) {
    StartParsingAhead(inputs, count, *run.parse_crew, run.plan.most_parse_ahead);
  }
}

// Closes what is still open, after a failure; workers stop before the counters are read.
void FinishInputs(MergeInput* inputs, int count) {
  for (int i = 0; i < count; ++i) {
    if (inputs[i].time_key != NO_ENTRY) FinishInput(inputs[i]);
  }
}

// A new spill where the plan puts them; null, with the reason said, when none can be made.
std::unique_ptr<SpillWriter> NewSpill(const RunContext& run) {
  auto spill = std::make_unique<SpillWriter>();
  const Destination& destination = run.destination;
  const char* beside = run.plan.spills_in_temporary_directory || destination.standard_output
                           ? STANDARD_OUTPUT_PATH
                           : destination.final_spec.Path();
  if (spill->Create(beside)) return spill;
  SayFailure("Error creating a temporary file of the merge: %s.\n",
             EscapedName(spill->Error()).c_str());
  return nullptr;
}

// Finishes a written spill of `owner`'s lines for reading; false, with the reason said, when
// it failed.
bool FinishSpill(SpillWriter& spill, bool written, std::vector<SpillInput>& spills, int32_t owner) {
  if (written && spill.Finish()) {
    spills.emplace_back(SpillReader(spill.TakeFile()), spill.Records(), owner);
    return true;
  }
  SayFailure("Error writing a temporary file of the merge: %s.\n",
             EscapedName(spill.Error()).c_str());
  return false;
}

// Merges spills into one new spill when more are open than the plan allows, dropping
// duplicates between owners as the last pass would; false, with the reason said, on a
// failure. While `current` (an input sorted into runs of its own) is being read, its runs are
// never combined with other inputs' spills: a later run of it must not meet its own lines
// under another owner. The spills combined stand together, so the order of ties is kept.
bool CombineSpillsIfMany(RunContext& run, std::optional<int32_t> current = std::nullopt) {
  std::vector<SpillInput>& spills = run.spills;
  if (spills.size() <= static_cast<size_t>(run.plan.passes.spills)) return true;
  size_t first = 0;
  size_t end = spills.size();
  if (current) {
    size_t own = end;
    while (own > 0 && spills[own - 1].owner == *current) --own;
    if (own >= 2) {
      end = own;  // the earlier inputs' spills
    } else {
      first = own;  // the current input's runs
    }
  }
  std::unique_ptr<SpillWriter> spill = NewSpill(run);
  if (spill == nullptr) return false;
  SpillOut out(*spill);
  const auto combined = std::span(spills).subspan(first, end - first);
  const bool written = MergeSpills(combined, out, nullptr, run.duplicates);
  const bool one_owner = std::all_of(combined.begin(), combined.end(), [&](const SpillInput& s) {
    return s.owner == combined.front().owner;
  });
  const int32_t owner = one_owner ? combined.front().owner : run.next_owner++;
  std::vector<SpillInput> made;
  if (!FinishSpill(*spill, written, made, owner)) return false;
  spills.erase(spills.begin() + static_cast<std::ptrdiff_t>(first),
               spills.begin() + static_cast<std::ptrdiff_t>(end));
  spills.insert(spills.begin() + static_cast<std::ptrdiff_t>(first), std::move(made.front()));
  return true;
}

// Merges the inputs group by group into spills, as the plan says. False, with the reason
// said, on a failure. The spills' files have no names: they are gone with their
// descriptors, whatever ends the run.
bool MergeIntoSpills(MergeInput* inputs, int count, RunContext& run) {
  const PassPlan& plan = run.plan.passes;
  for (int first = 0; first < count; first += plan.inputs) {
    const int group = std::min(plan.inputs, count - first);
    std::unique_ptr<SpillWriter> spill = NewSpill(run);
    if (spill == nullptr) return false;
    MemoryPool* pool = MPNew();
    OpenInputs(inputs + first, group, pool, run);
    SpillOut out(*spill);
    const bool written = MergeEntries(inputs + first, group, out, nullptr, run.duplicates);
    FinishInputs(inputs + first, group);
    MPDispose(pool);
    if (!FinishSpill(*spill, written, run.spills, first) || !CombineSpillsIfMany(run)) {
      return false;
    }
  }
  return true;
}

// ---- Sorting inputs whole ----------------------------------------------------------------------
// Line text a sorted run gathers in memory before it is sorted and written out.
constexpr size_t kRunBytes = size_t{128} << 20;
constexpr size_t kLeastRunText = size_t{1} << 20;

// Gathers the lines of one input in memory; each time the memory is full, and at the end,
// sorts them by key (equal keys in the order they came) into a new spill of its own. The
// runs of every input, in input order, merged together give the whole merged log.
class SortedRunsOut final : public LineOut {
 public:
  explicit SortedRunsOut(RunContext& run) : run_(run) {}

  // The input whose lines come next: its runs are its own, so --dedupe keeps its repeats.
  void StartInput(int32_t input) { owner_ = input; }

  // The text grows as lines come, so that a small input takes little memory; a run is
  // written once it would pass kRunBytes.
  char* Room(size_t room) override {
    if (used_ + room > kRunBytes && !lines_held_.empty() && !Flush()) return nullptr;
    if (text_.size() < used_ + room) {
      const size_t doubled = std::min(kRunBytes, std::max(text_.size() * 2, kLeastRunText));
      text_.resize(std::max(used_ + room, doubled));
    }
    return text_.data() + used_;
  }

  bool Put(TimeKey key, size_t length) override {
    lines_held_.push_back(HeldLine{key, used_, length});
    used_ += length;
    ++lines_;
    return true;
  }

  // Writes what is gathered as one sorted run.
  bool Flush() override {
    if (lines_held_.empty()) return true;
    // Offsets grow with arrival, so ordering by key then offset is a stable sort by key.
    std::sort(lines_held_.begin(), lines_held_.end(), [](const HeldLine& a, const HeldLine& b) {
      return a.key != b.key ? a.key < b.key : a.offset < b.offset;
    });
    std::unique_ptr<SpillWriter> spill = NewSpill(run_);
    if (spill == nullptr) return false;
    bool written = true;
    for (const HeldLine& line : lines_held_) {
      written = written &&
                spill->Append(line.key, std::string_view(text_.data() + line.offset, line.length));
    }
    lines_held_.clear();
    used_ = 0;
    return FinishSpill(*spill, written, run_.spills, owner_) && CombineSpillsIfMany(run_, owner_);
  }

 private:
  struct HeldLine {
    TimeKey key;
    size_t offset;
    size_t length;
  };
  RunContext& run_;
  int32_t owner_ = 0;
  std::vector<char> text_;
  size_t used_ = 0;
  std::vector<HeldLine> lines_held_;
};

// Sorts every input, one after another, into sorted runs. False, with the reason said, on a
// failure.
bool SortIntoRuns(MergeInput* inputs, int count, RunContext& run) {
  SortedRunsOut out(run);
  for (int i = 0; i < count; ++i) {
    MemoryPool* pool = MPNew();
    OpenInputs(inputs + i, 1, pool, run);
    out.StartInput(i);
    // Runs never hold two inputs: their order of ties is the inputs' order.
    const bool written = MergeEntries(inputs + i, 1, out, nullptr, nullptr);
    FinishInputs(inputs + i, 1);
    MPDispose(pool);
    if (!written) return false;
  }
  return true;
}

RunPlan PlanThisRun(int count, const MergeInput* inputs) {
  RunRequest request;
  request.inputs = count;
  request.threads = settings.threads;
  const unsigned cores = std::thread::hardware_concurrency();
  request.cores = cores == 0 ? 1 : static_cast<int>(cores);
  request.compress = settings.compress;
  request.max_open = settings.max_open;
  request.open_file_limit = RaiseOpenFileLimit(FilesWanted(count));
  request.sort = settings.sort_full ? SortMode::Full : SortMode::Window;
  request.window_seconds = settings.sort_window;
  request.within_budget = InputsWithinBudget(inputs, count, settings.memory_budget);
  request.read_ahead_within_budget = ReadAheadWithinBudget(settings.memory_budget, kMostReadAhead);
  return PlanRun(request);
}

}  // namespace

SlotOptions SlotOptionsOf(const RunZones& zones, const WindowLimits& sort_window) {
  SlotOptions slot;
  slot.zones = &zones;
  slot.window = settings.window;
  slot.filters = settings.filters;
  slot.normalize = settings.normalize;
  slot.lowercase = settings.lowercase;
  slot.trim_first_n_dirs = settings.trim_first_n_dirs;
  slot.user_format = AllUserFormats(settings);
  for (const Settings::FormatRule& rule : settings.format_rules) {
    slot.format_rules.push_back({rule.pattern, rule.names});
  }
  slot.json_fields = settings.json_fields.get();
  slot.verbose = settings.verbose;
  slot.format = WriterFor(settings.output_format);
  slot.writer = WriterOptions{settings.vhost, settings.newlines, &zones.offsetless};
  slot.sort_window = sort_window;
  slot.gap_seconds = settings.gap_seconds;
  slot.timelines = !settings.report_path.empty();
  return slot;
}

bool MergeLogs(int count, MergeInput* inputs, const RunZones& zones, RunRecord* record) {
  // From here on an ending signal removes the partial output, and a file-size limit is a
  // write error rather than a silent kill.
  InstallSignalHandlers();
  ProgressSchedule schedule = StartProgress(settings.verbose);
  const RunPlan plan = PlanThisRun(count, inputs);
  const DestinationOptions options{
      settings.compress, settings.level,
      settings.output_path.empty() ? nullptr : settings.output_path.c_str(),
      std::max(plan.compress_threads, 1), settings.header ? HeaderFor(settings.output_format) : ""};
  Destination destination = DestinationBeside(OutputAnchor(inputs, count), options);
  // The merged log never replaces one of its inputs, however it is spelled.
  for (int i = 0; i < count; ++i) {
    if (!KeepsInput(destination, inputs[i].name)) return false;
  }
  if (!DestinationUsable(destination)) return false;
  const SlotOptions slot = SlotOptionsOf(zones, plan.window);
  // Declared before the pool: the workers stop after every input is closed. The parse crew
  // is a crew of its own: its workers wait for the decoding ones, never the other way round.
  const auto decode_crew = MakeWorkCrew(plan.decode_threads);
  const auto parse_crew = MakeWorkCrew(plan.parse_threads);
  NoteThreadsStarted(plan.decode_threads + plan.parse_threads,
                     CrewThreads(decode_crew.get()) + CrewThreads(parse_crew.get()));
  DuplicateLines duplicates;
  RunContext run{plan,
                 slot,
                 destination,
                 decode_crew.get(),
                 parse_crew.get(),
                 settings.dedupe ? &duplicates : nullptr,
                 {},
                 0,
                 {},
                 count};  // owners past the inputs' own numbers

  // Sorted whole, every input goes through sorted runs; more inputs than may be open at once
  // are merged in passes through spills. The last pass merges the spills (or, in one pass,
  // the inputs themselves) into the merged log.
  MemoryPool* pool = MPNew();
  const bool from_spills = plan.sort == SortMode::Full || !plan.passes.one_pass;
  if (from_spills) {
    const bool spilled = plan.sort == SortMode::Full ? SortIntoRuns(inputs, count, run)
                                                     : MergeIntoSpills(inputs, count, run);
    if (!spilled) {
      MPDispose(pool);
      return Publish(destination, false);
    }
  } else {
    OpenInputs(inputs, count, pool, run);
  }
  if (!zones.real_time) NoteMixedOffsets(run.offsets);
  // With no input read, a merged log would hold nothing: the earlier one stays. The lost
  // inputs were reported and already make the run fail.
  if (run.opened == 0) {
    run.spills.clear();
    MPDispose(pool);
    PublishNothing(destination);
    return ExitStatus() != 0;
  }

  std::unique_ptr<OutputSink> sink = OpenDestination(destination);
  if (sink == nullptr) {
    SayOpenFailure(destination);
    FinishInputs(inputs, count);
    MPDispose(pool);
    return false;
  }
  SayInfo("Writing %s lines.\n", OutputFormatName(settings.output_format));
  SayInfo("Merging . . .\n");

  SinkOut out(*sink);
  const std::span all(inputs, static_cast<size_t>(count));
  StartProgressLine(all, ProgressLineWanted(settings.progress, settings.quiet));
  ProgressSchedule* progress = settings.verbose || ProgressLineOn() ? &schedule : nullptr;
  if (record != nullptr) record->merge_started = std::chrono::steady_clock::now();
  // Without its header the merged log can follow another slice of the same merge.
  // A spill that cannot be read back fails the run, as a write error does.
  bool complete = false;
  if (sink->Write(settings.header ? HeaderFor(settings.output_format) : "", 0)) {
    complete = from_spills ? MergeSpills(run.spills, out, progress, run.duplicates)
                           : MergeEntries(inputs, count, out, progress, run.duplicates);
  }
  FinishInputs(inputs, count);
  run.spills.clear();
  for (int i = 0; i < count; ++i) SayLateEntries(inputs[i], plan.window.span_seconds);
  const int64_t merged = sink->Written();
  // What became of each input, once every worker has stopped.
  EndProgressLine();
  const bool table = settings.verbose || settings.stats;
  WarnCorruptInputs(all, table);
  if (table) PrintInputTable(all, settings.stats);
  if (settings.verbose) PrintStatistics(all, merged, schedule);
  if (run.duplicates != nullptr) SayInfo("%s", DroppedText(run.duplicates->Dropped()).c_str());
  const bool written = sink->Finish().has_value() && complete;
  MPDispose(pool);
  const bool published = Publish(destination, written);
  if (record != nullptr) NoteOutput(*record, destination, merged, published);
  if (!published) return false;
  WrittenCounts counts{merged};
  for (int i = 0; i < count; ++i) {
    counts.read += inputs[i].lines_read;
    counts.headers += inputs[i].lines_skipped;
    counts.corrupt += inputs[i].lines_corrupt;
  }
  SayWritten(destination, OutputFormatTitle(settings.output_format), counts);
  return true;
}
