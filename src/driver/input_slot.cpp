#include "driver/input_slot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "base/file_spec.h"
#include "base/messages.h"
#include "driver/parse_ahead.h"
#include "entries/normalize.h"
#include "entries/wild_match.h"
#include "input/input.h"
#include "input/memory_pool.h"
#include "output/destination.h"
#include "parse/parse_logs.h"
#include "parse/user_formats.h"
#include "platform/console.h"
#include "platform/descriptor.h"
#include "platform/system.h"

namespace {

constexpr int64_t kPollEvery = 256;  // lines read per input between polls of the console

// The parser state is carved from the run's pool (MPAllocAligned: it holds a pointer).
static_assert(alignof(ParseState) <= MP_ALIGN);

bool InInstantWindow(int64_t instant, const RunZones& zones) {
  return (!zones.since || instant >= *zones.since) && (!zones.until || instant < *zones.until);
}

// Without real-time order, an entry whose input gave no offset gets the offset of the zone
// named for inputs, so that its stamp is written with it.
void GiveInputOffset(MergeInput& input) {
  const RunZones* zones = input.options->zones;
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

// The user formats of an input: the run's own and the format-for lines whose pattern
// matches its name (or base name), tried first; then the format-for lines without a
// pattern, tried after the built-in dialects.
void LoadInputFormats(ParseState& state, const char* name, const SlotOptions& options) {
  std::string first = options.user_format;
  std::string fallback;
  for (const InputFormatRule& rule : options.format_rules) {
    if (!rule.pattern.empty() && !NameMatches(rule.pattern, name)) continue;
    std::string& list = rule.pattern.empty() ? fallback : first;
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

// Reads the slot's next accepted entry into its entry: its key, or NO_ENTRY at the end of
// the input. With a sort window, entry_seconds gets the entry's log time.
TimeKey ReadEntry(MergeInput& input, bool merge_thread) {
  for (;;) {
    // The entry points into its line, so the line is released only now.
    if (input.entry.line_length > 0) INAdvance(input.stream, input.entry.line_length);
    input.entry.line_length = 0;
    char* line = INPeek(input.stream);
    // Lines too long to be read were passed over whole: read, and corrupt.
    if (input.stream->lines_dropped > 0) {
      input.lines_read += input.stream->lines_dropped;
      input.lines_corrupt += input.stream->lines_dropped;
      for (int64_t n = input.stream->lines_dropped; n > 0; --n) {
        CountLine(input.counts, LineFate::OVER_LONG, input.lines_read - n + 1, nullptr);
      }
      input.stream->lines_dropped = 0;
    }
    if (line == nullptr) return NO_ENTRY;
    if (++input.lines_read % kPollEvery == 0 && merge_thread) PollConsole();
    const TimeKey key = AcceptLine(input, line);
    if (key != NO_ENTRY) return key;
  }
}

}  // namespace

TimeKey AcceptLine(MergeInput& input, char* line) {
  const SlotOptions& options = *input.options;
  const ParseResult result = ParseEntry(*input.parse_state, line, input.entry);
  if (result == PARSE_ENTRY) {
    // Filtered entries, by time or by pattern, are counted as read only. Normalising
    // leaves the date and time alone, so the window is checked before that work.
    const RunZones* zones = options.zones;
    const bool real_time = zones != nullptr && zones->real_time;
    int64_t instant = 0;
    if (real_time) {
      instant = EntryInstant(input.entry, *input.input_zone, input.input_offsets);
      if (!InInstantWindow(instant, *zones)) return NO_ENTRY;
    } else if (!InTimeWindow(input.entry, options.window)) {
      return NO_ENTRY;
    }
    if (options.normalize) NormalizeEntry(input.entry, options.lowercase);
    if (!PassesFilters(input.entry, options.filters)) return NO_ENTRY;
    if (options.trim_first_n_dirs > 0) TrimLeadingDirs(input.entry, options.trim_first_n_dirs);
    if (input.rules != nullptr) RewriteEntry(input.entry, *input.rules, input.rewrite);
    if (real_time) {
      RestampEntry(input.entry, instant, zones->written, input.written_offsets);
      input.entry_seconds = instant;
      CountEntry(input.counts, input.parse_state->matched, input.entry);
      return InstantTimeKey(instant, input.entry.millisecond);
    }
    GiveInputOffset(input);
    if (!input.first_read) input.first_offset = input.entry.utc_offset;
    input.first_read = true;
    // One reading of the clock serves the sort window and the counts.
    const int64_t clock_seconds = EntryClockSeconds(input.entry);
    input.entry_seconds = clock_seconds;
    CountEntryAt(input.counts, input.parse_state->matched, EntryHasDate(input.entry),
                 clock_seconds);
    return MakeTimeKey(input.entry);
  }
  if (result == PARSE_HEADER) {
    ++input.lines_skipped;
  } else {
    ++input.lines_corrupt;
  }
  CountLine(input.counts, FateOf(input.parse_state->reason), input.lines_read, line);
  return NO_ENTRY;
}

namespace {

// Fills the window until its oldest line may go; that line's key, or NO_ENTRY when the
// input and the window are both done.
TimeKey ReadThroughWindow(MergeInput& input, bool merge_thread) {
  SortWindow& window = *input.window;
  if (input.window_pending) window.Pop();
  input.window_pending = false;
  while (!window.Ready()) {
    if (window.Finished()) return NO_ENTRY;
    const TimeKey key = ReadEntry(input, merge_thread);
    if (key == NO_ENTRY) {
      window.Finish();
      continue;
    }
    const SlotOptions& options = *input.options;
    const size_t room = LineSizeBound(input.entry);
    const size_t length = options.format(window.Room(room), room, input.entry, options.writer);
    window.Add(key, input.entry_seconds, length);
  }
  input.window_pending = true;
  return window.FrontKey();
}

}  // namespace

void StartParsing(MergeInput& input, MemoryPool* pool) {
  const SlotOptions& options = *input.options;
  input.input_zone = InputZoneOf(options.zones, input.name);
  input.parse_state = new (MPAllocAligned(pool, sizeof(ParseState))) ParseState;
  InitParseState(*input.parse_state);
  LoadInputFormats(*input.parse_state, input.name, options);
  input.parse_state->json_fields = options.json_fields;
}

bool OpenInput(MergeInput& input, MemoryPool* pool, const SlotOptions& options,
               const Destination* destination) {
  input.options = &options;
  input.input_offsets = OffsetMemo{};
  input.written_offsets = OffsetMemo{};
  input.window.reset();
  input.window_pending = false;
  input.first_offset = NO_OFFSET;
  input.first_read = false;
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
  StartParsing(input, pool);
  if (options.sort_window.span_seconds > 0) {
    input.window = std::make_unique<SortWindow>(options.sort_window);
  }
  input.time_key = 0;
  input.entry.line_length = 0;
  input.lines_read = 0;
  input.lines_corrupt = 0;
  input.lines_skipped = 0;
  input.lines_late = 0;
  input.late_most_seconds = 0;
  StartCounts(input.counts, options.gap_seconds, options.timelines);
  if (input.rules != nullptr) StartInputRewrite(input.rewrite, input.name, *input.rules);
  NoteInputStart(input.counts, *input.stream);
  if (options.verbose) SayInfo("Opened '%s'.\n", display.c_str());
  return true;
}

TimeKey ReadPending(MergeInput& input, bool merge_thread) {
  if (input.window != nullptr) return ReadThroughWindow(input, merge_thread);
  return ReadEntry(input, merge_thread);
}

size_t PendingLineBound(const MergeInput& input) {
  if (input.window != nullptr) return input.window->FrontLine().size();
  return LineSizeBound(input.entry);
}

size_t WritePendingLine(const MergeInput& input, char* room) {
  if (input.window != nullptr) {
    const std::string_view line = input.window->FrontLine();
    std::memcpy(room, line.data(), line.size());
    return line.size();
  }
  const SlotOptions& options = *input.options;
  return options.format(room, LineSizeBound(input.entry), input.entry, options.writer);
}

void NextEntry(MergeInput& input) {
  if (input.time_key == NO_ENTRY) return;
  const TimeKey key = ReadPending(input, true);
  if (key == NO_ENTRY) {
    FinishInput(input);
  } else {
    input.time_key = key;
  }
}

void FinishInput(MergeInput& input) {
  if (input.ahead != nullptr) StopParseAhead(input.ahead);
  input.ahead = nullptr;
  input.parse_state = nullptr;
  if (input.window != nullptr) {
    input.lines_late = input.window->LateEntries();
    input.late_most_seconds = input.window->LateMostSeconds();
    input.counts.out_of_order = input.lines_late;
    input.window.reset();
  }
  input.window_pending = false;
  if (input.stream != nullptr && input.stream->read_failed) {
    SayInputLost("Error reading input file '%s': it could not be read to its end.\n",
                 EscapedName(input.name).c_str());
  }
  if (input.stream != nullptr) {
    NoteInputEnd(input.counts, *input.stream);
    INClose(input.stream);
  }
  input.stream = nullptr;
  input.time_key = NO_ENTRY;
}

std::string DurationText(int64_t seconds) {
  struct Unit {
    int64_t seconds;
    char letter;
  };
  constexpr Unit kUnits[] = {{86400, 'd'}, {3600, 'h'}, {60, 'm'}, {1, 's'}};
  if (seconds <= 0) return "0s";
  std::string text;
  for (const Unit& unit : kUnits) {
    if (seconds < unit.seconds) continue;
    text += std::to_string(seconds / unit.seconds) + unit.letter;
    seconds %= unit.seconds;
  }
  return text;
}

namespace {

// The smallest round window that would have held every late entry: whole days, hours,
// minutes or seconds, by the size of the span, and always more than it.
int64_t WindowThatOrders(int64_t behind) {
  constexpr int64_t kSteps[] = {86400, 3600, 60, 1};
  for (int64_t step : kSteps) {
    if (behind >= step) return (behind / step + 1) * step;
  }
  return 1;
}

}  // namespace

void SayLateEntries(const MergeInput& input, int64_t window_seconds) {
  if (input.lines_late == 0) return;
  // Entries less late than the span were released early by the window's cap: a wider
  // window would not help, nor one wider than any window may be.
  const bool full = input.late_most_seconds < window_seconds;
  const int64_t wider = WindowThatOrders(input.late_most_seconds);
  const std::string remedy =
      full || wider > kMostWindowSpan ? "" : "--sort-window=" + DurationText(wider) + " or ";
  Say("'%s': %lld %s up to %s out of order %s the sort window (%s)%s; %s--sort=full orders "
      "them.\n",
      EscapedName(input.name).c_str(), static_cast<long long>(input.lines_late),
      input.lines_late == 1 ? "entry was" : "entries were",
      DurationText(input.late_most_seconds).c_str(), full ? "as" : "beyond",
      DurationText(window_seconds).c_str(), full ? " was full" : "", remedy.c_str());
}
