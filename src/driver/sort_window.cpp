#include "driver/sort_window.h"

#include <algorithm>
#include <cstring>

namespace {

// Chunks of line text: large enough that a chunk is taken rarely, small enough that a few
// lines held long keep little memory. Spare chunks beyond this many are given back.
constexpr size_t kLeastChunk = size_t{64} << 10;
constexpr size_t kMostChunk = size_t{1} << 20;
constexpr size_t kSpareChunks = 2;

}  // namespace

SortWindow::SortWindow(const WindowLimits& limits) : limits_(limits) {}

char* SortWindow::Room(size_t room) {
  if (!chunks_.empty()) {
    Chunk& current = chunks_[current_];
    if (current.size - current.used >= room) return current.data.get() + current.used;
    if (current.live == 0 && current.size >= room) {
      current.used = 0;
      return current.data.get();
    }
    // The current chunk is full: it stays while lines in it are held.
    if (current.live == 0) {
      chunk_bytes_ -= current.size;
      spare_.push_back(current_);
    }
  }
  const size_t wanted =
      std::max(room, std::clamp(limits_.most_bytes / 16, kLeastChunk, kMostChunk));
  // A spare chunk that holds the line, else a new one (in the slot of a spare given back).
  auto fits = std::find_if(spare_.begin(), spare_.end(),
                           [&](uint32_t chunk) { return chunks_[chunk].size >= room; });
  if (fits == spare_.end() && !spare_.empty()) fits = spare_.begin();
  if (fits != spare_.end()) {
    current_ = *fits;
    spare_.erase(fits);
  } else {
    current_ = static_cast<uint32_t>(chunks_.size());
    chunks_.emplace_back();
  }
  Chunk& chunk = chunks_[current_];
  if (chunk.size < room) {
    chunk.data.reset(new char[wanted]);  // left uninitialised: only written bytes are read
    chunk.size = wanted;
  }
  chunk.used = 0;
  chunk_bytes_ += chunk.size;
  // Spare chunks beyond a few give their memory back.
  size_t kept = 0;
  for (uint32_t spare : spare_) {
    if (chunks_[spare].size == 0) continue;
    if (++kept > kSpareChunks) {
      chunks_[spare].data.reset();
      chunks_[spare].size = 0;
    }
  }
  return chunk.data.get();
}

void SortWindow::Add(TimeKey key, int64_t seconds, size_t length) {
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

const SortWindow::Held& SortWindow::Front() const {
  if (arrived_late_.empty()) return in_order_.front();
  if (in_order_.empty()) return arrived_late_.front();
  return Before(arrived_late_.front(), in_order_.front()) ? arrived_late_.front()
                                                          : in_order_.front();
}

bool SortWindow::Ready() const {
  if (Empty()) return false;
  if (finished_) return true;
  const Held& front = Front();
  // A line late beyond the window goes where it falls.
  if (released_any_ && front.key < released_key_) return true;
  if (front.seconds <= newest_seconds_ - limits_.span_seconds) return true;
  return in_order_.size() + arrived_late_.size() >= limits_.most_entries ||
         chunk_bytes_ >= limits_.most_bytes;
}

std::string_view SortWindow::FrontLine() const {
  const Held& front = Front();
  return {chunks_[front.chunk].data.get() + front.offset, front.length};
}

void SortWindow::Pop() {
  uint32_t chunk = 0;
  TimeKey key = 0;
  if (!arrived_late_.empty() &&
      (in_order_.empty() || Before(arrived_late_.front(), in_order_.front()))) {
    chunk = arrived_late_.front().chunk;
    key = arrived_late_.front().key;
    std::pop_heap(arrived_late_.begin(), arrived_late_.end(), HeapAfter);
    arrived_late_.pop_back();
  } else {
    chunk = in_order_.front().chunk;
    key = in_order_.front().key;
    in_order_.pop_front();
  }
  released_key_ = released_any_ ? std::max(released_key_, key) : key;
  released_any_ = true;
  Release(chunk);
}

// The chunk's text stays in place until a later Room reuses it, so the line just popped can
// still be read.
void SortWindow::Release(uint32_t chunk) {
  Chunk& held = chunks_[chunk];
  if (--held.live > 0 || chunk == current_) return;
  chunk_bytes_ -= held.size;
  spare_.push_back(chunk);
}
