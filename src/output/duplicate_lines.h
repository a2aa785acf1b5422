#pragma once
// Dropping duplicate entries that overlapping inputs bring twice: a line byte-identical to a
// line of another input at the same time key is written once.
//
// Each input's own lines are never dropped: two equal requests in one second of one log are
// two requests. So a line is written as often as the input that holds it most often at its
// key holds it. Memory is bounded by the lines of one time key: what is remembered is
// forgotten when the key moves on.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "entries/log_entry.h"

class DuplicateLines {
 public:
  // True when `line`, with `key`, from input `slot` duplicates lines of other inputs and is
  // to be dropped (and counted); false when it is to be written. Keys arrive in order.
  bool Drop(TimeKey key, int32_t slot, std::string_view line);

  // A pass over other slots begins: what was remembered belongs to slots of the last one.
  void StartPass() { Forget(NO_ENTRY); }

  // Lines dropped so far.
  int64_t Dropped() const { return dropped_; }

 private:
  // One distinct line at the current key as one input gave it, and how often.
  struct Seen {
    uint64_t hash;
    uint32_t offset;  // in text_
    uint32_t length;
    int32_t slot;
    int32_t count;
  };

  void Forget(TimeKey key);
  void Grow();
  std::string_view TextOf(const Seen& seen) const {
    return std::string_view(text_).substr(seen.offset, seen.length);
  }

  TimeKey key_ = NO_ENTRY;
  std::string text_;             // the lines of the current key, back to back
  std::vector<Seen> seen_;       // in arrival order
  std::vector<uint32_t> table_;  // open addressing: index into seen_ + 1, 0 for free
  int64_t dropped_ = 0;
};

// "Dropped 1,204 duplicate entries.\n"
std::string DroppedText(int64_t dropped);

// The hash the table is keyed by; exposed for tests.
uint64_t LineHash(std::string_view line);
