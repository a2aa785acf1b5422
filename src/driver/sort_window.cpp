#include "driver/sort_window.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Chunks of line text: large enough that a chunk is taken once every hundred lines or so,
// small enough that a window holding a few minutes of a quiet log writes and reads back its
// lines within the processor's cache (with chunks of a megabyte, the text of every line went
// out to memory and came back, which cost a window on an ordered log a fifth more time than
// none), and that a merge of hundreds of small logs holds little beyond the lines themselves
// (16 KiB chunks: 45 MB for 200 logs of 2,000 lines, against 59 MB with 64 KiB ones, for the
// same instructions). A longer line gets a chunk of its own size. Spare chunks beyond this
// many are given back.
constexpr size_t kChunkBytes = size_t{16} << 10;
constexpr size_t kSpareChunks = 2;

}  // namespace

SortWindow::SortWindow(const WindowLimits& limits) : limits_(limits) {}

char* SortWindow::NewChunk(size_t room) {
  if (!chunks_.empty()) {
    Chunk& current = chunks_[current_];
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
  const size_t wanted = std::max(room, kChunkBytes);
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

// Full: the lines move, oldest first, to the start of a ring twice as large.
void SortWindow::HeldRing::Grow() {
  std::vector<Held> larger(std::max<size_t>(16, slots_.size() * 2));
  for (size_t i = 0; i < count_; ++i) larger[i] = slots_[(head_ + i) & (slots_.size() - 1)];
  slots_ = std::move(larger);
  head_ = 0;
}

// A chunk none of whose lines is held goes among the spares.
void SortWindow::Release(uint32_t chunk) {
  chunk_bytes_ -= chunks_[chunk].size;
  spare_.push_back(chunk);
}
