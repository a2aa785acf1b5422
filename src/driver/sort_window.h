#pragma once
// The sort window of one input: a bounded reorder stage between the parser and the merge.
// Lines, already in the merged log's dialect, go in in the input's own order with their key
// and their log time in seconds; they come out in key order, equal keys in the input's order,
// once no line of the input within the window can still come before them: once a line at
// least `span_seconds` newer than the oldest held one has been read, or the input ended.
//
// A line whose key is below one already released can no longer be put in its place: it is
// late beyond the window. It comes out next, where it falls, and is counted with how far it
// lies behind the newest line read before it.
//
// Memory stays bounded: the window holds at most `most_entries` lines and `most_bytes` of
// text; when either is reached the oldest line goes early. Inputs in order cost a copy and
// a ring step per line: only lines that arrive out of order take the heap. The text of a
// window that holds little stays in a few small chunks, so what is written in and read back
// out is still in the processor's cache, whatever the caps allow.
//
//   Room / Add      put the next line of the input
//   Ready           the oldest held line may go (Finish: every held line may)
//   FrontKey/Line   the oldest held line, valid until the next Room
//   Pop             it is gone

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "entries/log_entry.h"

// The widest window a run may ask for: a year and a day of log time.
inline constexpr int64_t kMostWindowSpan = int64_t{366} * 86400;

struct WindowLimits {
  int64_t span_seconds = 0;  // 0: no window, lines pass in the input's order
  size_t most_entries = 0;
  size_t most_bytes = 0;
};

class SortWindow {
 public:
  explicit SortWindow(const WindowLimits& limits);

  // Space for the next line, of at most `room` bytes.
  char* Room(size_t room) {
    if (!chunks_.empty()) {
      Chunk& current = chunks_[current_];
      if (current.size - current.used >= room) return current.data.get() + current.used;
    }
    return NewChunk(room);
  }
  // The line written at Room() is `length` bytes long, has `key` and stands `seconds` into
  // log time (any origin: only differences count). A larger key never has fewer seconds.
  void Add(TimeKey key, int64_t seconds, size_t length);
  // No more lines will be added: every held line may go.
  void Finish() { finished_ = true; }
  bool Finished() const { return finished_; }

  bool Empty() const { return in_order_.empty() && arrived_late_.empty(); }
  // The oldest held line may go now.
  bool Ready() const;
  TimeKey FrontKey() const { return Front().key; }
  std::string_view FrontLine() const {
    const Held& front = Front();
    return {chunks_[front.chunk].data.get() + front.offset, front.length};
  }
  void Pop();

  // Lines that came out later than a line with a larger key, and the most seconds one of
  // them lay behind the newest line read before it.
  int64_t LateEntries() const { return late_entries_; }
  int64_t LateMostSeconds() const { return late_most_seconds_; }

 private:
  struct Held {
    TimeKey key;
    int64_t seconds;
    uint64_t order;  // place in the input: ties go to the line read first
    uint32_t chunk;
    uint32_t length;
    size_t offset;
  };
  // Text is kept in chunks; a chunk is reused once none of its lines is held.
  struct Chunk {
    std::unique_ptr<char[]> data;
    size_t size = 0;
    size_t used = 0;
    size_t live = 0;  // held lines in it
  };
  static bool Before(const Held& a, const Held& b) {
    return a.key != b.key ? a.key < b.key : a.order < b.order;
  }
  // The heap keeps its smallest line on top.
  static bool HeapAfter(const Held& a, const Held& b) { return Before(b, a); }
  // The lines that came in order, oldest first: a ring that doubles when full, so that a
  // steady window takes no allocation per line.
  class HeldRing {
   public:
    bool empty() const { return count_ == 0; }
    size_t size() const { return count_; }
    const Held& front() const { return slots_[head_]; }
    const Held& back() const { return slots_[(head_ + count_ - 1) & (slots_.size() - 1)]; }
    void push_back(const Held& held) {
      if (count_ == slots_.size()) Grow();
      slots_[(head_ + count_) & (slots_.size() - 1)] = held;
      ++count_;
    }
    void pop_front() {
      head_ = (head_ + 1) & (slots_.size() - 1);
      --count_;
    }

   private:
    void Grow();
    std::vector<Held> slots_;  // a power of two of them, or none
    size_t head_ = 0;
    size_t count_ = 0;
  };
  // The oldest held line: the heap's top when it comes first, else the ring's front.
  const Held& Front() const {
    if (arrived_late_.empty()) return in_order_.front();
    if (in_order_.empty() || Before(arrived_late_.front(), in_order_.front())) {
      return arrived_late_.front();
    }
    return in_order_.front();
  }
  // Room when the current chunk is full: a spare chunk or a new one.
  char* NewChunk(size_t room);
  void Release(uint32_t chunk);

  WindowLimits limits_;
  HeldRing in_order_;               // lines whose key was at least the last one queued
  std::vector<Held> arrived_late_;  // a heap of the others
  std::vector<Chunk> chunks_;
  std::vector<uint32_t> spare_;  // chunks holding no line, for reuse
  uint32_t current_ = 0;         // the chunk new lines go into
  size_t chunk_bytes_ = 0;       // bytes of chunks that hold lines, the current one included
  uint64_t next_order_ = 0;
  int64_t newest_seconds_ = INT64_MIN;
  TimeKey released_key_ = 0;  // the largest key gone so far
  bool released_any_ = false;
  bool finished_ = false;
  int64_t late_entries_ = 0;
  int64_t late_most_seconds_ = 0;
};

// ---- The per-line path, inline: an ordered input spends a few steps per line here --------

inline void SortWindow::Add(TimeKey key, int64_t seconds, size_t length) {
  Chunk& chunk = chunks_[current_];
  const Held held{key, seconds, next_order_++, current_, static_cast<uint32_t>(length), chunk.used};
  chunk.used += length;
  ++chunk.live;
  if (released_any_ && key < released_key_) {
    ++late_entries_;
    late_most_seconds_ = std::max(late_most_seconds_, newest_seconds_ - seconds);
  }
  newest_seconds_ = std::max(newest_seconds_, seconds);
  if (in_order_.empty() || !Before(held, in_order_.back())) {
    in_order_.push_back(held);
  } else {
    arrived_late_.push_back(held);
    std::push_heap(arrived_late_.begin(), arrived_late_.end(), HeapAfter);
  }
}

inline bool SortWindow::Ready() const {
  if (Empty()) return false;
  if (finished_) return true;
  const Held& front = Front();
  // A line late beyond the window goes where it falls.
  if (released_any_ && front.key < released_key_) return true;
  if (front.seconds <= newest_seconds_ - limits_.span_seconds) return true;
  return in_order_.size() + arrived_late_.size() >= limits_.most_entries ||
         chunk_bytes_ >= limits_.most_bytes;
}

inline void SortWindow::Pop() {
  const bool from_heap = !arrived_late_.empty() &&
                         (in_order_.empty() || Before(arrived_late_.front(), in_order_.front()));
  const Held& front = from_heap ? arrived_late_.front() : in_order_.front();
  const uint32_t chunk = front.chunk;
  released_key_ = released_any_ ? std::max(released_key_, front.key) : front.key;
  released_any_ = true;
  if (from_heap) {
    std::pop_heap(arrived_late_.begin(), arrived_late_.end(), HeapAfter);
    arrived_late_.pop_back();
  } else {
    in_order_.pop_front();
  }
  // The chunk's text stays in place until a later Room reuses it, so the line just popped
  // can still be read.
  Chunk& held = chunks_[chunk];
  if (--held.live == 0 && chunk != current_) Release(chunk);
}
