#include "driver/merge.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/file_spec.h"
#include "base/messages.h"
#include "driver/parse_ahead.h"
#include "driver/progress.h"
#include "driver/settings.h"
#include "entries/filters.h"
#include "entries/normalize.h"
#include "entries/wild_match.h"
#include "input/input.h"
#include "input/memory_pool.h"
#include "output/destination.h"
#include "output/sink.h"
#include "output/spill_file.h"
#include "output/writers.h"
#include "parse/parse_logs.h"
#include "parse/user_formats.h"
#include "platform/console.h"
#include "platform/descriptor.h"
#include "platform/signals.h"
#include "platform/system.h"

namespace {

constexpr int64_t kPollEvery = 256;     // lines read per input / entries merged between polls
constexpr size_t kBatchSize = 1 << 16;  // merged lines handed to the output stream at once
// Compressed inputs that decode ahead on worker threads: each holds two blocks of
// READ_AHEAD_BLOCK bytes, so memory stays bounded; further inputs decode on the merge thread.
constexpr int kMaxReadAhead = 16;

// The parser state is carved from the run's pool (MPAllocAligned: it holds a pointer).
static_assert(alignof(ParseState) <= MP_ALIGN);
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

// Finishes a slot: its parser state goes back with the pool, its stream is closed. An input
// whose decoder failed lost the rest of its entries, and the run says so in its status.
void FinishInput(MergeInput& input) {
  if (input.ahead != nullptr) StopParseAhead(input.ahead);
  input.ahead = nullptr;
  input.parse_state = nullptr;
  if (input.stream != nullptr && input.stream->read_failed) {
    SayInputLost("Error reading input file '%s': it could not be read to its end.\n",
                 EscapedName(input.name).c_str());
  }
  if (input.stream != nullptr) INClose(input.stream);
  input.stream = nullptr;
  input.time_key = NO_ENTRY;
}

// ---- Time zones --------------------------------------------------------------------------

bool InInstantWindow(int64_t instant, const RunZones& zones) {
  return (!zones.since || instant >= *zones.since) && (!zones.until || instant < *zones.until);
}

// Without real-time order, an entry whose input gave no offset gets the offset of the zone
// named for inputs, so that its stamp is written with it.
void GiveInputOffset(MergeInput& input) {
  const RunZones* zones = input.zones;
  LogEntry& entry = input.entry;
  if (zones == nullptr || input.input_zone == nullptr || entry.utc_offset != NO_OFFSET) return;
  if (!EntryHasDate(entry)) return;
  entry.utc_offset =
      LocalOffsetMinutes(*input.input_zone, EntryClockSeconds(entry), input.input_offsets);
}

// Whether a per-input rule's pattern matches an input's name as given or its base name.
bool NameMatches(const std::string& pattern, const char* name) {
  const char* const slash = std::strrchr(name, '/');
  return WildMatch(pattern.c_str(), name) ||
         (slash != nullptr && WildMatch(pattern.c_str(), slash + 1));
}

// The zone of an input's offsetless stamps: the first input-timezone-for rule whose pattern
// matches its name, else the run's; null when there is none.
const TimeZone* InputZoneOf(const RunZones* zones, const char* name) {
  if (zones == nullptr) return nullptr;
  for (const RunZones::InputZoneRule& rule : zones->input_rules) {
    if (NameMatches(rule.pattern, name)) return &rule.zone;
  }
  return zones->has_input_zone ? &zones->input : nullptr;
}

// The user formats of an input: the program-wide ones and the format-for lines whose pattern
// matches its name (or base name), tried first; then the format-for lines without a pattern,
// tried after the built-in dialects.
void LoadInputFormats(ParseState& state, const char* name) {
  std::string first = AllUserFormats(settings);
  std::string fallback;
  for (const Settings::FormatRule& rule : settings.format_rules) {
    std::string& list = rule.pattern.empty() ? fallback : first;
    if (!rule.pattern.empty() && !NameMatches(rule.pattern, name)) continue;
    list += (list.empty() ? "" : "\n") + rule.names;
  }
  if (first.empty() && fallback.empty()) return;
  LoadUserFormats(state, first.c_str());
  if (fallback.empty()) return;
  state.fallback_from = 0;
  while (state.fallback_from < 4 && state.user_format_start[state.fallback_from] >= 0) {
    ++state.fallback_from;
  }
  LoadUserFormats(state, (first.empty() ? fallback : first + "\n" + fallback).c_str());
}

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
    const int32_t offset = inputs[i].entry.utc_offset;
    if (inputs[i].time_key == NO_ENTRY || offset == NO_OFFSET) continue;
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

// Puts every pending entry in order until all inputs are done or a write fails; false on a
// write failure. Each entry is formatted straight into the space the output gives for it,
// which holds its whole line (LineSizeBound), or copied there from the input's batch parsed
// ahead.
bool MergeEntries(MergeInput* inputs, int count, LineOut& out, ProgressSchedule* schedule,
                  LineWriter format, const WriterOptions& options) {
  PendingHeap pending(count, [inputs](int i) { return inputs[i].time_key; });
  while (!pending.Empty()) {
    MergeInput& input = inputs[pending.Top()];
    const TimeKey key = input.time_key;
    if (input.ahead != nullptr) {
      if (!out.PutLine(key, AheadLine(input.ahead))) return false;
      input.time_key = AdvanceAhead(input.ahead);
      if (input.time_key == NO_ENTRY) FinishInput(input);
    } else {
      const size_t size = LineSizeBound(input.entry);
      char* room = out.Room(size);
      if (room == nullptr || !out.Put(key, format(room, size, input.entry, options))) return false;
      NextEntry(input);
    }
    pending.ReplaceTop(input.time_key);
    PollNow(out, schedule);
  }
  return out.Flush();
}

// One spill of an earlier pass, read back: its pending line and that line's key.
struct SpillInput {
  SpillInput(SpillReader spill, uint64_t records) : reader(std::move(spill)), left(records) {}

  SpillReader reader;
  uint64_t left;  // records still to come: a spill that ends before them failed
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
bool MergeSpills(std::span<SpillInput> spills, LineOut& out, ProgressSchedule* schedule) {
  for (SpillInput& spill : spills) {
    if (!spill.Next()) return false;
  }
  PendingHeap pending(static_cast<int>(spills.size()),
                      [spills](int i) { return spills[static_cast<size_t>(i)].key; });
  while (!pending.Empty()) {
    SpillInput& spill = spills[static_cast<size_t>(pending.Top())];
    if (!out.PutLine(spill.key, spill.line) || !spill.Next()) return false;
    pending.ReplaceTop(spill.key);
    PollNow(out, schedule);
  }
  return out.Flush();
}

// Inputs parsed ahead at once, and the text of their batches, shared out evenly so that
// memory stays bounded; each batch holds from 16 KiB to 64 KiB. Further inputs are parsed on
// the merge thread: with thousands of inputs open at once, batches for every one would cost
// more memory than their parsing gains.
constexpr int kMaxParseAhead = 128;
constexpr size_t kParseAheadMemory = 4 << 20;
constexpr size_t kSmallestParseBatch = 16 << 10;
constexpr size_t kLargestParseBatch = 64 << 10;

// Hands the first inputs that are regular files with an entry pending to the parse crew. A
// pipe stays on the merge thread: a worker blocked on a pipe whose writer never ends would
// hold up closing that input after a write error.
void StartParsingAhead(MergeInput* inputs, int count, WorkCrew& crew, LineWriter format,
                       const WriterOptions& options) {
  const auto takes_part = [](const MergeInput& input) {
    return input.time_key != NO_ENTRY && input.stream->facts.regular;
  };
  const auto parts =
      std::min<std::ptrdiff_t>(std::count_if(inputs, inputs + count, takes_part), kMaxParseAhead);
  if (parts == 0) return;
  const size_t batch_bytes = std::clamp(kParseAheadMemory / 2 / static_cast<size_t>(parts),
                                        kSmallestParseBatch, kLargestParseBatch);
  int started = 0;
  for (int i = 0; i < count && started < parts; ++i) {
    if (!takes_part(inputs[i])) continue;
    inputs[i].ahead = StartParseAhead(crew, inputs[i], format, options, batch_bytes);
    ++started;
  }
}

}  // namespace

// ---- Inputs ----------------------------------------------------------------------------------

bool OpenInput(MergeInput& input, MemoryPool* pool, const RunZones* zones,
               const Destination* destination) {
  input.zones = zones;
  input.input_zone = InputZoneOf(zones, input.name);
  input.input_offsets = OffsetMemo{};
  input.written_offsets = OffsetMemo{};
  FileSpec spec;
  spec.Set(input.name);
  // Messages show the path as given, so two inputs that share a base name stay apart.
  const std::string display = EscapedName(input.name);
  input.time_key = NO_ENTRY;
  errno = 0;
  FileDescriptor file = spec.OpenForReading();
  const int reason = errno;
  // One fstat of the open file serves the same-file guard and the input's window.
  const FileFacts facts = FactsOf(file.Get());
  if (destination != nullptr) {
    const bool left_out = file.IsOpen() ? IsDestination(*destination, input.name, facts)
                                        : IsDestination(*destination, input.name);
    if (left_out) return false;
  }
  const char* not_read = nullptr;
  const char* damaged = nullptr;
  input.stream = INAttach(std::move(file), facts, pool, &not_read, &damaged);
  if (input.stream == nullptr) {
    if (damaged != nullptr) {
      SayInputLost("Error reading input file '%s': %s.\n", display.c_str(), damaged);
    } else if (not_read != nullptr) {
      SayInputLost("Left out '%s': %s files are not read.\n", display.c_str(), not_read);
    } else if (reason == EMFILE) {
      SayInputLost("Error opening input file '%s': too many open files; limit %lld.\n",
                   display.c_str(), static_cast<long long>(RaiseOpenFileLimit(0)));
    } else {
      SayInputLost("Error opening input file '%s': %s.\n", display.c_str(),
                   reason != 0 ? std::strerror(reason) : "its name is too long");
    }
    return false;
  }
  input.parse_state = new (MPAllocAligned(pool, sizeof(ParseState))) ParseState;
  InitParseState(*input.parse_state);
  LoadInputFormats(*input.parse_state, input.name);
  input.parse_state->json_fields = settings.json_fields.get();
  input.time_key = 0;
  input.entry.line_length = 0;
  input.lines_read = 0;
  input.lines_corrupt = 0;
  input.lines_skipped = 0;
  if (settings.verbose) SayInfo("Opened '%s'.\n", display.c_str());
  return true;
}

TimeKey ReadEntry(MergeInput& input, bool merge_thread) {
  for (;;) {
    // The pending entry points into its line, so the line is released only now.
    if (input.entry.line_length > 0) INAdvance(input.stream, input.entry.line_length);
    input.entry.line_length = 0;
    char* line = INPeek(input.stream);
    // Lines too long to be read were passed over whole: read, and corrupt.
    if (input.stream->lines_dropped > 0) {
      input.lines_read += input.stream->lines_dropped;
      input.lines_corrupt += input.stream->lines_dropped;
      input.stream->lines_dropped = 0;
    }
    if (line == nullptr) return NO_ENTRY;
    if (++input.lines_read % kPollEvery == 0 && merge_thread) PollConsole();
    const ParseResult result = ParseEntry(*input.parse_state, line, input.entry);
    if (result == PARSE_ENTRY) {
      // Filtered entries, by time or by pattern, are counted as read only. Normalising
      // leaves the date and time alone, so the window is checked before that work.
      const bool real_time = input.zones != nullptr && input.zones->real_time;
      int64_t instant = 0;
      if (real_time) {
        instant = EntryInstant(input.entry, *input.input_zone, input.input_offsets);
        if (!InInstantWindow(instant, *input.zones)) continue;
      } else if (!InTimeWindow(input.entry, settings.window)) {
        continue;
      }
      if (settings.normalize) NormalizeEntry(input.entry, settings.lowercase);
      if (!PassesFilters(input.entry, settings.filters)) continue;
      if (settings.trim_first_n_dirs > 0) TrimLeadingDirs(input.entry, settings.trim_first_n_dirs);
      if (real_time) {
        RestampEntry(input.entry, instant, input.zones->written, input.written_offsets);
        return InstantTimeKey(instant, input.entry.millisecond);
      }
      GiveInputOffset(input);
      return MakeTimeKey(input.entry);
    }
    if (result == PARSE_HEADER) {
      ++input.lines_skipped;
    } else {
      ++input.lines_corrupt;
    }
  }
}

void NextEntry(MergeInput& input) {
  if (input.time_key == NO_ENTRY) return;
  const TimeKey key = ReadEntry(input, true);
  if (key == NO_ENTRY) {
    FinishInput(input);
  } else {
    input.time_key = key;
  }
}

// ---- The run -----------------------------------------------------------------------------------

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

// The threads that decode inputs ahead: --threads, or one per core. None on one core, or
// when one thread was asked for: the merge thread then decodes as it reads.
int DecodeThreads() {
  if (settings.threads > 0) return settings.threads;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

// Files a pass keeps open beside its inputs and spills: the standard streams, the merged
// log or the spill being written, and a few to spare (a configuration or lock file).
constexpr int64_t kFilesBesideInputs = 8;

// How a merge is split into passes. In one pass every input is open at once. Otherwise
// groups of `inputs` consecutive slots are merged, each into a spill, and whenever more than
// `spills` spills are open they are merged into one, so that the inputs of a group, the
// spills and the one being written never pass the open-file limit.
struct PassPlan {
  bool one_pass = true;
  int inputs = 0;
  int spills = 0;
};

// Up to this many inputs are merged in one pass unless --max-open says otherwise; more are
// merged in passes of kInputsPerPass: measured with 10,000 small logs, passes of a few
// hundred inputs take half the time and a tenth of the memory of one pass over all of
// them, whose entries are scattered over thousands of windows.
constexpr int64_t kOnePassMost = 1000;
constexpr int64_t kInputsPerPass = 256;

// From --max-open (or the max-open key), which bounds the inputs open at once, and the
// open-file limit, raised as far as it goes.
PassPlan PlanPasses(int count) {
  const int64_t limit = RaiseOpenFileLimit(int64_t{count} + kFilesBesideInputs);
  const int64_t files = std::max<int64_t>(3, limit - kFilesBesideInputs);
  int64_t max_open = settings.max_open;
  if (max_open <= 0) max_open = count > kOnePassMost ? kInputsPerPass : files;
  if (count <= files && count <= max_open) return PassPlan{true, count, 0};
  const int64_t inputs = std::max<int64_t>(2, std::min(max_open, files / 2));
  const int64_t spills = std::max<int64_t>(1, files - inputs - 1);
  return PassPlan{false, static_cast<int>(std::min<int64_t>(inputs, count)),
                  static_cast<int>(std::min<int64_t>(spills, count))};
}

// What the passes of one run share.
struct RunContext {
  const RunZones& zones;
  Destination& destination;
  WorkCrew* decode_crew;  // null: inputs decode on the thread that reads them
  WorkCrew* parse_crew;   // null: inputs are parsed on the merge thread
  LineWriter format;
  WriterOptions writer_options;
  std::vector<int32_t> offsets;  // the UTC offsets the inputs' first entries carry
};

// Opens the slots, reads each one's first entry and starts the workers on them.
void OpenInputs(MergeInput* inputs, int count, MemoryPool* pool, RunContext& run) {
  int reading_ahead = 0;
  for (int i = 0; i < count; ++i) {
    if (!OpenInput(inputs[i], pool, &run.zones, &run.destination)) continue;
    if (run.decode_crew != nullptr && reading_ahead < kMaxReadAhead &&
        INReadAhead(inputs[i].stream, *run.decode_crew)) {
      ++reading_ahead;
    }
    NextEntry(inputs[i]);
  }
  CollectOffsets(inputs, count, run.offsets);
  if (run.parse_crew != nullptr) {
    StartParsingAhead(inputs, count, *run.parse_crew, run.format, run.writer_options);
  }
}

// Closes what is still open, after a failure; workers stop before the counters are read.
void FinishInputs(MergeInput* inputs, int count) {
  for (int i = 0; i < count; ++i) {
    if (inputs[i].time_key != NO_ENTRY) FinishInput(inputs[i]);
  }
}

// A new spill beside the merged log; null, with the reason said, when none can be made.
std::unique_ptr<SpillWriter> NewSpill(const Destination& destination) {
  auto spill = std::make_unique<SpillWriter>();
  const char* beside =
      destination.standard_output ? STANDARD_OUTPUT_PATH : destination.final_spec.Path();
  if (spill->Create(beside)) return spill;
  SayFailure("Error creating a temporary file of the merge: %s.\n",
             EscapedName(spill->Error()).c_str());
  return nullptr;
}

// Finishes a written spill for reading; false, with the reason said, when it failed.
bool FinishSpill(SpillWriter& spill, bool written, std::vector<SpillInput>& spills) {
  if (written && spill.Finish()) {
    spills.emplace_back(SpillReader(spill.TakeFile()), spill.Records());
    return true;
  }
  SayFailure("Error writing a temporary file of the merge: %s.\n",
             EscapedName(spill.Error()).c_str());
  return false;
}

// Merges the spills, in their order, into one new spill; false, with the reason said, on a
// failure.
bool CombineSpills(std::vector<SpillInput>& spills, const Destination& destination) {
  std::unique_ptr<SpillWriter> spill = NewSpill(destination);
  if (spill == nullptr) return false;
  SpillOut out(*spill);
  const bool written = MergeSpills(spills, out, nullptr);
  spills.clear();
  return FinishSpill(*spill, written, spills);
}

// Merges the inputs group by group into spills, as `plan` says. False, with the reason said,
// on a failure. The spills' files have no names: they are gone with their descriptors,
// whatever ends the run.
bool MergeIntoSpills(MergeInput* inputs, int count, const PassPlan& plan, RunContext& run,
                     std::vector<SpillInput>& spills) {
  for (int first = 0; first < count; first += plan.inputs) {
    const int group = std::min(plan.inputs, count - first);
    std::unique_ptr<SpillWriter> spill = NewSpill(run.destination);
    if (spill == nullptr) return false;
    MemoryPool* pool = MPNew();
    OpenInputs(inputs + first, group, pool, run);
    SpillOut out(*spill);
    const bool written =
        MergeEntries(inputs + first, group, out, nullptr, run.format, run.writer_options);
    FinishInputs(inputs + first, group);
    MPDispose(pool);
    if (!FinishSpill(*spill, written, spills)) return false;
    if (spills.size() > static_cast<size_t>(plan.spills) &&
        !CombineSpills(spills, run.destination)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool MergeLogs(int count, MergeInput* inputs, const RunZones& zones) {
  // From here on an ending signal removes the partial output, and a file-size limit is a
  // write error rather than a silent kill.
  InstallSignalHandlers();
  ProgressSchedule schedule = StartProgress();
  const PassPlan plan = PlanPasses(count);
  const DestinationOptions options{
      settings.compress, settings.level,
      settings.output_path.empty() ? nullptr : settings.output_path.c_str(), settings.threads};
  Destination destination = DestinationBeside(OutputAnchor(inputs, count), options);
  if (!DestinationUsable(destination)) return false;
  // Declared before the pool: the workers stop after every input is closed. The parse crew
  // is a crew of its own: its workers wait for the decoding ones, never the other way round.
  const int threads = DecodeThreads();
  const auto decode_crew = MakeWorkCrew(threads > 1 ? threads : 0);
  const auto parse_crew = MakeWorkCrew(threads > 1 ? threads : 0);
  RunContext run{zones,
                 destination,
                 decode_crew.get(),
                 parse_crew.get(),
                 WriterFor(settings.output_format),
                 WriterOptions{settings.vhost, settings.newlines, &zones.offsetless},
                 {}};

  // More inputs than may be open at once are merged in passes through spills; the last pass
  // merges the spills (or, in one pass, the inputs themselves) into the merged log.
  std::vector<SpillInput> spills;
  MemoryPool* pool = MPNew();
  const bool in_passes = !plan.one_pass;
  if (in_passes) {
    if (!MergeIntoSpills(inputs, count, plan, run, spills)) {
      MPDispose(pool);
      return Publish(destination, false);
    }
  } else {
    OpenInputs(inputs, count, pool, run);
  }
  if (!zones.real_time) NoteMixedOffsets(run.offsets);

  std::unique_ptr<OutputSink> sink = OpenDestination(destination);
  if (sink == nullptr) {
    SayFailure("Error opening output file.\n");
    FinishInputs(inputs, count);
    MPDispose(pool);
    return false;
  }
  SayInfo("Merging . . .\n");

  SinkOut out(*sink);
  ProgressSchedule* progress = settings.verbose ? &schedule : nullptr;
  // Without its header the merged log can follow another slice of the same merge.
  // A spill that cannot be read back fails the run, as a write error does.
  bool complete = false;
  if (sink->Write(settings.header ? HeaderFor(settings.output_format) : "", 0)) {
    complete = in_passes
                   ? MergeSpills(spills, out, progress)
                   : MergeEntries(inputs, count, out, progress, run.format, run.writer_options);
  }
  FinishInputs(inputs, count);
  spills.clear();
  const int64_t merged = sink->Written();
  if (settings.verbose)
    PrintStatistics(std::span(inputs, static_cast<size_t>(count)), merged, schedule);
  const bool written = sink->Finish().has_value() && complete;
  MPDispose(pool);
  return Publish(destination, written);
}
