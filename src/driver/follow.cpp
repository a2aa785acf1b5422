#include "driver/follow.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "base/time_zone.h"
#include "driver/progress.h"
#include "driver/run_plan.h"
#include "driver/settings.h"
#include "driver/sort_window.h"
#include "entries/zone_shift.h"
#include "input/input.h"
#include "input/memory_pool.h"
#include "output/append_sink.h"
#include "output/destination.h"
#include "output/writers.h"
#include "parse/parse_logs.h"
#include "parse/user_formats.h"
#include "platform/descriptor.h"
#include "platform/file_watch.h"
#include "platform/system.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 64 * 1024;  // bytes read from one input per round
// An input whose waiting entries take more than this is not read until they are written:
// its writer waits (a pipe) or its file keeps the data, so memory stays bounded.
constexpr size_t kQueueMostBytes = 4 << 20;
// With watches, every followed name is still looked at now and then: a network file system
// or a renamed directory sends no events. Without watches this is how changes are found.
constexpr int kRecheckWatchedMs = 1000;
constexpr int kRecheckPolledMs = 200;

// The containers a file can be recognised as by its first bytes: following reads plain
// text only, as it arrives, so these are left out with a message.
struct CompressedMark {
  const char* name;
  std::string_view magic;
};
constexpr CompressedMark kCompressedMarks[] = {
    {"gzip", std::string_view("\x1f\x8b", 2)},
    {"bzip2", "BZh"},
    {"zip", std::string_view("PK\x03\x04", 4)},
    {"xz", std::string_view("\xfd"
                            "7zXZ\0",
                            6)},
    {"zstd", std::string_view("\x28\xb5\x2f\xfd", 4)},
};

// One formatted entry waiting to be written; its line is text[at, at + length) of its input.
struct Waiting {
  TimeKey key;
  size_t at;
  size_t length;
};

// When an entry was read, for its lateness.
struct ReadTime {
  Clock::time_point when;
  TimeKey key;
};

// One followed input.
struct Followed {
  MergeInput* slot = nullptr;  // the parser state, the entry being read and the counters
  std::string display;         // the name for messages
  std::string base;            // the name's last part, as directory events name it
  int directory = -1;          // the watched directory; -1 when the name is looked at on a timer
  bool by_name = true;         // a file followed by name (a pipe or a device is not)

  FileDescriptor file;        // the file read now; none while the name does not exist
  FileFacts facts;            // of `file`
  int64_t offset = 0;         // bytes of `file` read
  int64_t catch_up_end = 0;   // the size at the start: up to here the content is existing
  bool ended = false;         // a pipe that ended, or an input that cannot be read
  bool look = true;           // worth a look at its name and a read in this round
  bool stream_ready = false;  // a pipe that Wait found readable
  bool behind = false;        // the last read filled its chunk: more is there at once

  std::vector<char> carry;  // bytes read, the last line possibly incomplete
  size_t carry_used = 0;
  bool skipping = false;  // passing over the rest of a line too long to read

  // The input's sort window, null when off: entries go in as read and come out in time
  // order into `waiting`, as the window of a batch merge lets them go, or earlier when the
  // lateness of an entry forces them out.
  std::unique_ptr<SortWindow> window;
  bool existing = false;  // the window holds existing content not yet let go at its end

  std::deque<Waiting> waiting;  // formatted entries, in the order they may be written
  std::string text;             // their lines; text_head bytes before the first are written
  size_t text_head = 0;
  std::deque<ReadTime> reads;  // entries not yet known written, in the order read
  bool shown_any = false;      // an entry was read
  TimeKey shown = 0;           // the latest time read
  int64_t newest_seconds = 0;  // and its log time in seconds, for the window

  bool CatchingUp() const { return !ended && file.IsOpen() && offset < catch_up_end; }
  bool Live() const { return !ended; }
  size_t WaitingBytes() const { return text.size() - text_head; }
};

// What one run of the follower shares.
struct Run {
  std::vector<Followed> inputs;
  LineWriter format;
  WriterOptions writer_options;
  std::chrono::milliseconds lateness;
  WindowLimits window;  // of every input; span 0: off
  bool real_time = false;
  OutputSink* sink = nullptr;
  std::string batch;  // lines of this round, written at its end
  int64_t batch_lines = 0;
  bool released_any = false;
  TimeKey released = 0;  // everything up to this time may be written
  bool wrote_any = false;
  TimeKey latest_written = 0;
  int64_t late = 0;  // entries written after an entry of a later time
  bool write_failed = false;
};

// The part of a path after its last slash.
std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string DirectoryName(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The compressed container a regular file starts with, or null.
const char* CompressedKind(int fd) {
  char head[8] = {};
  const int64_t got = ReadAt(fd, head, sizeof head, 0);
  for (const CompressedMark& mark : kCompressedMarks) {
    if (got >= static_cast<int64_t>(mark.magic.size()) &&
        std::string_view(head, mark.magic.size()) == mark.magic) {
      return mark.name;
    }
  }
  return nullptr;
}

// ---- Lines to entries ------------------------------------------------------------------------

// Puts a formatted line at the end of the input's waiting lines.
void AddWaiting(Followed& f, TimeKey key, std::string_view line) {
  const size_t at = f.text.size();
  f.text.append(line);
  f.waiting.push_back(Waiting{key, at, line.size()});
}

// Moves the window's oldest line to the waiting lines.
void PassOn(Followed& f) {
  AddWaiting(f, f.window->FrontKey(), f.window->FrontLine());
  f.window->Pop();
}

// Lets every line of the window go: the input (or its existing content) ended, as at the
// end of a batch merge's input.
void EmptyWindow(Followed& f) {
  if (f.window == nullptr) return;
  while (!f.window->Empty()) PassOn(f);
}

// Formats the slot's entry, just accepted with `key`, onto the input's waiting lines, through
// its sort window when there is one.
void Enqueue(Run& run, Followed& f, TimeKey key, Clock::time_point now) {
  const LogEntry& entry = f.slot->entry;
  const size_t bound = LineSizeBound(entry);
  f.reads.push_back(ReadTime{now, key});
  if (!f.shown_any || key > f.shown) {
    f.shown = key;
    f.newest_seconds = f.slot->entry_seconds;
  }
  f.shown_any = true;
  if (f.window != nullptr) {
    char* room = f.window->Room(bound);
    f.window->Add(key, f.slot->entry_seconds, run.format(room, bound, entry, run.writer_options));
    while (f.window->Ready()) PassOn(f);
    return;
  }
  const size_t at = f.text.size();
  f.text.resize(at + bound);
  const size_t length = run.format(f.text.data() + at, bound, entry, run.writer_options);
  f.text.resize(at + length);
  f.waiting.push_back(Waiting{key, at, length});
}

// Where the complete lines of `data` end: after the last LF or CR, except a CR that is the
// last byte while more may come (its LF may follow). Everything at the end of the input.
size_t CompleteEnd(const char* data, size_t size, bool at_end) {
  if (at_end) return size;
  for (size_t i = size; i-- > 0;) {
    if (data[i] == '\n') return i + 1;
    if (data[i] == '\r' && i + 1 < size) return i + 1;
  }
  return 0;
}

// Parses the complete lines gathered for `f` into waiting entries; with `at_end` also a last
// line without a line end. A line longer than IN_LINE_MAX is passed over whole and counted
// as read and corrupt, as a batch merge does.
void TakeLines(Run& run, Followed& f, bool at_end, Clock::time_point now) {
  char* data = f.carry.data();
  size_t start = 0;
  if (f.skipping) {
    const size_t end = CompleteEnd(data, f.carry_used, false);
    const void* stop = std::memchr(data, '\n', f.carry_used);
    if (stop == nullptr) stop = std::memchr(data, '\r', end);
    if (stop == nullptr) {
      f.carry_used = 0;
      return;
    }
    start = static_cast<size_t>(static_cast<const char*>(stop) - data) + 1;
    f.skipping = false;
  }
  const size_t end = start + CompleteEnd(data + start, f.carry_used - start, at_end);
  if (end == start) {
    if (f.carry_used - start > static_cast<size_t>(IN_LINE_MAX)) {
      ++f.slot->lines_read;
      ++f.slot->lines_corrupt;
      f.skipping = true;
      f.carry_used = 0;
    } else if (start > 0) {
      std::memmove(data, data + start, f.carry_used - start);
      f.carry_used -= start;
    }
    return;
  }
  // The parser reads NUL-terminated data: the byte after the complete lines is kept aside.
  const char kept = data[end];
  data[end] = '\0';
  size_t at = start;
  while (at < end) {
    ++f.slot->lines_read;
    const TimeKey key = AcceptLine(*f.slot, data + at);
    if (key != NO_ENTRY) Enqueue(run, f, key, now);
    at += static_cast<size_t>(f.slot->entry.line_length);
  }
  f.slot->entry.line_length = 0;
  data[end] = kept;
  const size_t used = std::min(at, end);
  std::memmove(data, data + used, f.carry_used - used);
  f.carry_used -= used;
}

// ---- Reading -----------------------------------------------------------------------------------

// Reads what `f` has now, up to one chunk; an ended pipe gives its last line and ends.
void ReadInput(Run& run, Followed& f, Clock::time_point now) {
  f.behind = false;
  if (f.ended || !f.file.IsOpen()) return;
  if (f.WaitingBytes() > kQueueMostBytes) {
    f.look = true;  // its data waits: looked at again once entries were written
    return;
  }
  if (!f.by_name && !f.stream_ready) return;  // a pipe is read only when it has data
  f.stream_ready = false;
  if (f.carry.size() < f.carry_used + kReadChunk + 1) f.carry.resize(f.carry_used + kReadChunk + 1);
  size_t got = 0;
  switch (ReadAvailable(f.file.Get(), f.by_name, f.carry.data() + f.carry_used, kReadChunk, got)) {
    case ReadNow::Data:
      f.carry_used += got;
      f.offset += static_cast<int64_t>(got);
      f.behind = got == kReadChunk;
      TakeLines(run, f, false, now);
      return;
    case ReadNow::Nothing:
      // A file that ends short of the size it had at the start (cut and partly rewritten
      // since, or one whose size does not tell its content) has no more existing content:
      // waiting for the rest would keep the catch-up, and the other inputs, from ever ending.
      f.catch_up_end = std::min(f.catch_up_end, f.offset);
      return;
    case ReadNow::End:
      TakeLines(run, f, true, now);
      EmptyWindow(f);
      f.ended = true;
      f.file.Reset();
      SayInfo("Input '%s' ended.\n", f.display.c_str());
      return;
    case ReadNow::Failed:
      SayInputLost("Error reading input file '%s': %s.\n", f.display.c_str(), std::strerror(errno));
      EmptyWindow(f);
      f.ended = true;
      f.file.Reset();
      return;
  }
}

// Reads `f`'s current file to its end, and its last line even without a line end: the name
// now stands for another file. False when the input's waiting entries fill its queue first:
// the rest stays in the file, to be read once they are written.
bool DrainInput(Run& run, Followed& f, Clock::time_point now) {
  do {
    if (f.WaitingBytes() > kQueueMostBytes) {
      f.look = true;
      return false;
    }
    ReadInput(run, f, now);
  } while (f.behind);
  if (f.carry_used > 0) TakeLines(run, f, true, now);
  return true;
}

// Opens the file the name stands for now; false when there is none (yet). A file whose
// content is compressed, or that is the merged log itself, is left out for good.
bool OpenByName(Followed& f, const Destination& destination, bool at_start) {
  errno = 0;
  FileDescriptor file = OpenForFollowing(f.slot->name);
  if (!file.IsOpen()) {
    if (errno == ENOENT) {
      if (at_start) SayInfo("Waiting for '%s' to appear.\n", f.display.c_str());
      return false;
    }
    SayInputLost("Error opening input file '%s': %s.\n", f.display.c_str(), std::strerror(errno));
    f.ended = true;
    return false;
  }
  const FileFacts facts = FactsOf(file.Get());
  if (IsDestination(destination, f.slot->name, facts)) {
    f.ended = true;
    return false;
  }
  if (facts.regular) {
    if (const char* kind = CompressedKind(file.Get())) {
      SayInputLost("Left out '%s': %s files cannot be followed; merge them without --follow.\n",
                   f.display.c_str(), kind);
      f.ended = true;
      return false;
    }
  }
  f.by_name = facts.regular;
  f.file = std::move(file);
  f.facts = facts;
  f.offset = 0;
  f.catch_up_end = at_start && facts.regular ? facts.size : 0;
  f.existing = f.catch_up_end > 0;
  f.carry_used = 0;
  f.skipping = false;
  if (settings.verbose) SayInfo("Opened '%s'.\n", f.display.c_str());
  return true;
}

// Looks at what the name of `f` stands for now, as `tail -F` does: a file truncated in place
// is read again from its start; another file under the name (renamed and replaced, deleted
// and recreated) is taken once it has data, after the rest of the old one; a name that
// appeared is opened.
void LookAtName(Run& run, Followed& f, const Destination& destination, Clock::time_point now) {
  if (f.ended) return;
  if (!f.file.IsOpen()) {
    OpenByName(f, destination, false);
    return;
  }
  if (!f.by_name) return;
  const FileFacts named = FactsOfPath(f.slot->name);
  if (!named.known) return;  // gone for now: the old file is read to its end meanwhile
  if (IsSameFile(named, f.facts)) {
    if (named.size < f.offset) {
      // Truncated: the start of an incomplete line was copied away with the old content.
      SayInfo("'%s' was truncated; reading it from its start.\n", f.display.c_str());
      SeekTo(f.file.Get(), 0);
      f.offset = 0;
      f.catch_up_end = 0;
      f.carry_used = 0;
      f.skipping = false;
    }
    return;
  }
  // The server may still write to the renamed file until it reopens its log: the new one is
  // taken once something was written to it, and the old one was read to its end.
  if (named.size == 0) return;
  if (!DrainInput(run, f, now)) return;
  SayInfo("'%s' was replaced; following the new file.\n", f.display.c_str());
  f.file.Reset();
  OpenByName(f, destination, false);
}

// ---- Writing in order --------------------------------------------------------------------------

// How Release decides what may be written.
enum class Gate {
  Everything,  // all that was read: the end of the run, or of the existing content
  CatchUp,     // as a batch merge would, from what the inputs being caught up have shown
  Live,        // up to run.released
};

// The key of a log time in seconds (clock seconds, or an instant with real-time order), as
// the parser would give an entry stamped with it; 0 before the year 0.
TimeKey KeyAtSeconds(int64_t seconds, bool real_time) {
  if (real_time) return InstantTimeKey(seconds);
  constexpr int64_t kDay = 86400;
  const int64_t days = seconds >= 0 ? seconds / kDay : -((-seconds + kDay - 1) / kDay);
  const int64_t in_day = seconds - days * kDay;
  const CivilDate date = CivilFromDays(days);
  if (date.year < 0) return 0;
  return ClockTimeKey(
      PackDateTime(date.year, date.month, date.day, in_day / 3600, in_day / 60 % 60, in_day % 60));
}

// The least key `f` may still give, late entries aside: without a window, the latest time it
// has shown; with one, a window's span before the latest time, as lines up to that far back
// are still put in their place.
TimeKey FloorOf(const Run& run, const Followed& f) {
  if (f.window == nullptr) return f.shown;
  const TimeKey floor = KeyAtSeconds(f.newest_seconds - run.window.span_seconds, run.real_time);
  // Stamps without a date, or before the year 0 less a window, have no key of their own.
  return floor <= f.shown ? floor : 0;
}

// The time up to which live entries may be written, from what every input that can still
// grow has shown; false when one of them has shown nothing yet.
bool ShownBound(const Run& run, TimeKey& bound) {
  bound = NO_ENTRY;
  for (const Followed& f : run.inputs) {
    if (!f.Live()) continue;
    if (!f.shown_any) return false;
    bound = std::min(bound, FloorOf(run, f));
  }
  return true;
}

// While the existing content is caught up, the earliest waiting entry, of input `slot`, may
// be written once no input being caught up can still give an entry before it in a batch
// merge's order: every one of them has an entry waiting (its next in that order, so not
// earlier, and at the same time named after `slot`, as equal times go to the input named
// first). Inputs at the end of what they had hold nothing back, as inputs at their end do
// in a batch merge.
bool CaughtUpTo(const Run& run, size_t slot) {
  for (size_t i = 0; i < run.inputs.size(); ++i) {
    const Followed& f = run.inputs[i];
    if (i != slot && f.CatchingUp() && f.waiting.empty()) return false;
  }
  return true;
}

// Writes waiting entries into the batch as `gate` allows, earliest first (ties to the
// input named first); each input's own entries keep their order.
void WriteReleased(Run& run, Gate gate) {
  for (;;) {
    size_t slot = run.inputs.size();
    for (size_t i = 0; i < run.inputs.size(); ++i) {
      const Followed& f = run.inputs[i];
      if (f.waiting.empty()) continue;
      if (slot == run.inputs.size() ||
          f.waiting.front().key < run.inputs[slot].waiting.front().key) {
        slot = i;
      }
    }
    if (slot == run.inputs.size()) break;
    Followed& next = run.inputs[slot];
    const Waiting w = next.waiting.front();
    const bool may = gate == Gate::Everything || (gate == Gate::CatchUp && CaughtUpTo(run, slot)) ||
                     (run.released_any && w.key <= run.released);
    if (!may) break;
    next.waiting.pop_front();
    run.batch.append(next.text, w.at, w.length);
    ++run.batch_lines;
    if (run.wrote_any && w.key < run.latest_written) ++run.late;
    if (!run.wrote_any || w.key > run.latest_written) run.latest_written = w.key;
    run.wrote_any = true;
    next.text_head = w.at + w.length;
    if (next.waiting.empty()) {
      next.text.clear();
      next.text_head = 0;
    } else if (next.text_head > (1u << 20) && next.text_head > next.text.size() / 2) {
      // Written lines are dropped from the front now and then, not one by one.
      const size_t drop = next.text_head;
      next.text.erase(0, drop);
      for (Waiting& rest : next.waiting) rest.at -= drop;
      next.text_head = 0;
    }
  }
  // Whatever was written bounds what live entries may follow without waiting.
  if (run.wrote_any && (!run.released_any || run.latest_written > run.released)) {
    run.released = run.latest_written;
    run.released_any = true;
  }
}

// Decides what may be written now, writes it as one flushed batch, and returns when the
// next unwritten entry's lateness runs out (Clock::time_point::max() when none waits).
Clock::time_point Release(Run& run, Clock::time_point now, Gate gate, bool behind) {
  if (gate == Gate::Everything) {
    for (Followed& f : run.inputs) EmptyWindow(f);
  }
  if (gate == Gate::Live) {
    TimeKey bound = NO_ENTRY;
    bool any = ShownBound(run, bound);
    // The lateness counts only while every input was read to its current end: data not
    // yet read is not late, it is merely unread.
    if (!behind) {
      for (const Followed& f : run.inputs) {
        for (const ReadTime& read : f.reads) {
          if (read.when + run.lateness > now) break;
          bound = any ? std::max(bound, read.key) : read.key;
          any = true;
        }
      }
    }
    if (any && (!run.released_any || bound > run.released)) {
      run.released = bound;
      run.released_any = true;
    }
    // What may be written leaves the windows too: the lateness bounds the wait of every
    // entry, held in a window or not.
    if (run.released_any) {
      for (Followed& f : run.inputs) {
        while (f.window != nullptr && !f.window->Empty() && f.window->FrontKey() <= run.released)
          PassOn(f);
      }
    }
  }
  WriteReleased(run, gate);
  // Entries up to the released time are written (or, held in a window while the existing
  // content is caught up, are let go with it): their lateness no longer counts.
  for (Followed& f : run.inputs) {
    while (!f.reads.empty() && run.released_any && f.reads.front().key <= run.released)
      f.reads.pop_front();
  }
  if (run.batch_lines > 0 && !run.write_failed) {
    run.write_failed = !run.sink->Write(run.batch, run.batch_lines);
  }
  run.batch.clear();
  run.batch_lines = 0;
  Clock::time_point due = Clock::time_point::max();
  if (gate == Gate::Live) {
    for (const Followed& f : run.inputs) {
      if (!f.reads.empty()) due = std::min(due, f.reads.front().when + run.lateness);
    }
  }
  return due;
}

// ---- Setting up --------------------------------------------------------------------------------

// The merged log goes beside the first input that is a regular file, as in a batch merge.
const char* FollowAnchor(const MergeInput* inputs, int count) {
  for (int i = 0; i < count; ++i) {
    if (FactsOfPath(inputs[i].name).regular) return inputs[i].name;
  }
  return "";
}

// The steady-clock moment at which --follow-until's local time comes; max() without one.
Clock::time_point FollowDeadline() {
  if (!settings.follow_until) return Clock::time_point::max();
  TimeZone local;
  std::string error;
  if (!LoadTimeZone("local", local, error)) LoadTimeZone("UTC", local, error);
  OffsetMemo memo;
  const int64_t clock = ClockTimeSeconds(*settings.follow_until);
  const int64_t instant = clock - int64_t{LocalOffsetMinutes(local, clock, memo)} * 60;
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  // A time centuries ahead is as good as none, and must not overflow the clock.
  constexpr int64_t kFarAhead = int64_t{50} * 366 * 86400;
  if (instant - now > kFarAhead) return Clock::time_point::max();
  return Clock::now() + std::chrono::seconds(std::max<int64_t>(0, instant - now));
}

// Keeps the window's count of the input's entries that came too late to be put in their
// place, and says it, as a batch merge does; said even when quiet.
void SayLateInInput(const Run& run, Followed& f) {
  MergeInput& slot = *f.slot;
  slot.lines_late = f.window->LateEntries();
  slot.late_most_seconds = f.window->LateMostSeconds();
  slot.counts.out_of_order = slot.lines_late;
  if (slot.lines_late == 0) return;
  const int64_t ms = run.lateness.count();
  const std::string lateness =
      ms % 1000 == 0 && ms > 0 ? DurationText(ms / 1000) : std::to_string(ms) + "ms";
  Say("'%s': %lld %s up to %s behind a later entry of the same log, too late for its sort "
      "window (%s) and the lateness (%s).\n",
      f.display.c_str(), static_cast<long long>(slot.lines_late),
      slot.lines_late == 1 ? "entry came" : "entries came",
      DurationText(slot.late_most_seconds).c_str(), DurationText(run.window.span_seconds).c_str(),
      lateness.c_str());
}

// Each input's sort window while following: the span asked for, and the memory a batch
// merge of as many inputs gives each window.
WindowLimits FollowWindow(int count) {
  RunRequest request;
  request.inputs = count;
  request.max_open = count;
  request.open_file_limit = FilesWanted(count);
  request.compress = false;
  request.window_seconds = settings.sort_window;
  return PlanRun(request).window;
}

// Milliseconds from `now` to `then`, rounded up, at most `most`.
int WaitMilliseconds(Clock::time_point now, Clock::time_point then, int most) {
  if (then == Clock::time_point::max()) return most;
  if (then <= now) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(then - now).count();
  return static_cast<int>(std::min<int64_t>(ms, most));
}

}  // namespace

bool FollowLogs(int count, MergeInput* inputs, const RunZones& zones) {
  CatchEndingSignals();
  ProgressSchedule schedule = StartProgress(settings.verbose);
  const DestinationOptions options{
      settings.compress, settings.level,
      settings.output_path.empty() ? nullptr : settings.output_path.c_str(), settings.threads,
      settings.header ? HeaderFor(settings.output_format) : ""};
  Destination destination = DestinationBeside(FollowAnchor(inputs, count), options);
  if (!DestinationUsable(destination)) return false;
  const char* path = destination.standard_output ? nullptr : destination.final_spec.Path();

  Run run;
  run.format = WriterFor(settings.output_format);
  run.writer_options = WriterOptions{settings.vhost, settings.newlines, &zones.offsetless};
  run.lateness = std::chrono::milliseconds(settings.lateness_ms);
  run.window = FollowWindow(count);
  run.real_time = zones.real_time;
  if (settings.sort_full) {
    // A followed log never ends, so it cannot be sorted whole.
    const std::string order = run.window.span_seconds > 0
                                  ? "each log goes through its sort window (" +
                                        DurationText(run.window.span_seconds) + ")"
                                  : "each log keeps its own order";
    SayInfo("--sort=full does not apply while following: %s.\n", order.c_str());
  }
  RaiseOpenFileLimit(int64_t{count} + 8);
  ChangeWatch watch;
  MemoryPool* pool = MPNew();
  run.inputs.resize(static_cast<size_t>(count));
  // The follower keeps each input's sort window itself, beside the entries waiting for the
  // other inputs. Timelines are for the run report, which following does not write.
  SlotOptions slot_options = SlotOptionsOf(zones, WindowLimits{});
  slot_options.timelines = false;
  bool polled = false;  // some name is looked at on a timer only
  for (int i = 0; i < count; ++i) {
    MergeInput& slot = inputs[i];
    Followed& f = run.inputs[static_cast<size_t>(i)];
    f.slot = &slot;
    slot.options = &slot_options;
    StartCounts(slot.counts, slot_options.gap_seconds, false);
    StartParsing(slot, pool);
    f.display = EscapedName(slot.name);
    f.base = BaseName(slot.name);
    if (run.window.span_seconds > 0) f.window = std::make_unique<SortWindow>(run.window);
    OpenByName(f, destination, true);
    if (f.ended || (f.file.IsOpen() && !f.by_name)) continue;
    f.directory = watch.WatchDirectory(DirectoryName(slot.name));
    if (f.directory < 0) polled = true;
  }
  if (polled && settings.verbose) {
    SayInfo("Some inputs are looked at every %d ms: their directories cannot be watched.\n",
            kRecheckPolledMs);
  }
  const int recheck_ms = polled ? kRecheckPolledMs : kRecheckWatchedMs;

  bool empty = true;
  errno = 0;
  std::unique_ptr<OutputSink> sink =
      OpenAppendingSink(path, settings.compress, settings.level, empty);
  if (sink == nullptr) {
    SayFailure("Error opening output file '%s': %s.\n",
               EscapedName(path != nullptr ? path : "standard output").c_str(),
               errno != 0 ? std::strerror(errno) : "the compressor cannot start");
    MPDispose(pool);
    return false;
  }
  run.sink = sink.get();
  // A header line only opens a new log: appended, it would land between entries.
  if (empty && settings.header) sink->Write(HeaderFor(settings.output_format), 0);
  SayInfo("Following %d inputs . . .\n", count);

  const Clock::time_point deadline = FollowDeadline();
  Clock::time_point next_recheck = Clock::now() + std::chrono::milliseconds(recheck_ms);
  std::vector<StreamWait> streams;
  std::vector<Followed*> stream_owners;
  std::vector<DirectoryChange> changes;
  bool caught_up_said = false;
  bool was_catching_up = true;
  for (;;) {
    Clock::time_point now = Clock::now();
    const bool recheck = now >= next_recheck;
    if (recheck) next_recheck = now + std::chrono::milliseconds(recheck_ms);
    for (Followed& f : run.inputs) {
      const bool look = f.look || recheck || f.directory < 0 || f.CatchingUp() || f.behind;
      f.look = false;
      if (!look && f.by_name) continue;
      if (f.by_name || !f.file.IsOpen()) LookAtName(run, f, destination, now);
      ReadInput(run, f, now);
      // The end of an input's existing content ends its window, as the end of an input
      // does in a batch merge.
      if (f.existing && !f.CatchingUp()) {
        EmptyWindow(f);
        f.existing = false;
      }
    }
    const bool all_ended = std::all_of(run.inputs.begin(), run.inputs.end(),
                                       [](const Followed& f) { return f.ended; });
    const bool catching_up = std::any_of(run.inputs.begin(), run.inputs.end(),
                                         [](const Followed& f) { return f.CatchingUp(); });
    const bool behind = catching_up || std::any_of(run.inputs.begin(), run.inputs.end(),
                                                   [](const Followed& f) { return f.behind; });
    // A signal ends the run at once; the --follow-until time once what is there was read.
    const bool ending = EndingSignalReceived() != 0 || run.write_failed ||
                        (now >= deadline && !behind) || all_ended;
    // When the existing content has been read, all of it is written, as a batch merge
    // would; at the end, everything read.
    const bool end_of_catch_up = was_catching_up && !catching_up;
    was_catching_up = catching_up;
    const Gate gate = ending || end_of_catch_up ? Gate::Everything
                      : catching_up             ? Gate::CatchUp
                                                : Gate::Live;
    const Clock::time_point due = Release(run, now, gate, behind);
    if (ending) break;
    if (!behind && !caught_up_said) {
      caught_up_said = true;
      if (settings.verbose) SayInfo("Caught up; waiting for new entries.\n");
    }

    streams.clear();
    stream_owners.clear();
    for (Followed& f : run.inputs) {
      if (f.by_name || f.ended || !f.file.IsOpen() || f.WaitingBytes() > kQueueMostBytes) continue;
      streams.push_back(StreamWait{f.file.Get()});
      stream_owners.push_back(&f);
    }
    int timeout = 0;
    if (!behind) {
      now = Clock::now();
      timeout = WaitMilliseconds(now, std::min({due, deadline, next_recheck}), recheck_ms);
    }
    // What was said reaches a console that is a file or pipe before the wait, not at exit.
    std::fflush(MessageStream());
    changes.clear();
    watch.Wait(streams, timeout, changes);
    for (size_t i = 0; i < streams.size(); ++i) stream_owners[i]->stream_ready = streams[i].ready;
    for (const DirectoryChange& change : changes) {
      for (Followed& f : run.inputs) {
        const bool all = change.directory < 0 || change.name.empty();
        if (all || (change.directory == f.directory && change.name == f.base)) f.look = true;
      }
    }
  }

  const int64_t merged = sink->Written();
  const bool written = sink->Finish().has_value() && !run.write_failed;
  for (Followed& f : run.inputs) {
    if (f.window != nullptr) SayLateInInput(run, f);
  }
  PrintStatistics(std::span(inputs, static_cast<size_t>(count)), merged, schedule);
  // Said even with --quiet: late entries are the one way the followed log is out of order.
  Say("Followed %d inputs: wrote %" PRId64 " entries, %" PRId64
      " of them late (after an entry of a later time).\n",
      count, merged, run.late);
  for (Followed& f : run.inputs) f.file.Reset();
  MPDispose(pool);
  return written;
}
