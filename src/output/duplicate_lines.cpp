#include "output/duplicate_lines.h"

#include <cstring>

#include "base/messages.h"

namespace {

constexpr size_t kFirstTableSize = 64;  // a power of two
// Text remembered for one key at most; later lines of so busy a key are written without
// being compared, so nothing is lost and memory stays bounded.
constexpr size_t kMostRemembered = size_t{256} << 20;

uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return h;
}

}  // namespace

uint64_t LineHash(std::string_view line) {
  // Eight bytes at a step: the hash of every written line must cost little beside its
  // formatting.
  uint64_t h = 0x9E3779B97F4A7C15ull ^ line.size();
  size_t at = 0;
  for (; at + 8 <= line.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, line.data() + at, 8);
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, line.data() + at, line.size() - at);
  return Mix(h ^ tail);
}

void DuplicateLines::Forget(TimeKey key) {
  for (const Seen& seen : seen_) {
    // Clear only the places in use: the table of a busy key stays large.
    size_t place = seen.hash & (table_.size() - 1);
    while (table_[place] != 0) {
      table_[place] = 0;
      place = (place + 1) & (table_.size() - 1);
    }
  }
  seen_.clear();
  text_.clear();
  key_ = key;
}

void DuplicateLines::Grow() {
  table_.assign(table_.empty() ? kFirstTableSize : table_.size() * 2, 0);
  for (size_t i = 0; i < seen_.size(); ++i) {
    size_t place = seen_[i].hash & (table_.size() - 1);
    while (table_[place] != 0) place = (place + 1) & (table_.size() - 1);
    table_[place] = static_cast<uint32_t>(i + 1);
  }
}

bool DuplicateLines::Drop(TimeKey key, int32_t slot, std::string_view line) {
  if (key != key_) Forget(key);
  if ((seen_.size() + 1) * 2 > table_.size()) Grow();
  const uint64_t hash = LineHash(line);
  const size_t mask = table_.size() - 1;
  Seen* own = nullptr;
  int32_t most_elsewhere = 0;
  size_t place = hash & mask;
  for (; table_[place] != 0; place = (place + 1) & mask) {
    Seen& seen = seen_[table_[place] - 1];
    if (seen.hash != hash || TextOf(seen) != line) continue;
    if (seen.slot == slot) {
      own = &seen;
    } else if (seen.count > most_elsewhere) {
      most_elsewhere = seen.count;
    }
  }
  if (own == nullptr) {
    if (text_.size() + line.size() > kMostRemembered) return false;
    // `place` is the free place that ends the probe.
    seen_.push_back(Seen{hash, static_cast<uint32_t>(text_.size()),
                         static_cast<uint32_t>(line.size()), slot, 0});
    text_.append(line);
    table_[place] = static_cast<uint32_t>(seen_.size());
    own = &seen_.back();
  }
  ++own->count;
  if (own->count <= most_elsewhere) {
    ++dropped_;
    return true;
  }
  return false;
}

std::string DroppedText(int64_t dropped) {
  return "Dropped " + Grouped(dropped) +
         (dropped == 1 ? " duplicate entry.\n" : " duplicate entries.\n");
}
