#pragma once
// The inflate loop that gzip members and zip members share: ISA-L inflate from compressed
// bytes that a feed supplies into the caller's output space (next_out, avail_out of the
// state). Each decoder has a state of its own, taken from its pool; nothing is shared.

#include <isa-l/igzip_lib.h>

#include <cstdint>

#include "input/memory_pool.h"

// ---- The decoder state -----------------------------------------------------------------------
// A state from `pool` (about 90 KB: ISA-L keeps the 32 KB history and its staging space in it),
// started for gzip members (header, CRC32 and size checked) or raw deflate data (zip members).
enum class InflateWrapper { kGzip, kRawDeflate };
inflate_state* NewInflateState(MemoryPool* pool, InflateWrapper wrapper);
// The same from the heap, for a decoder that gives it back as soon as its data ends
// (FreeInflateState): thousands of small files read one after the other then hold one state
// at a time instead of one each. Null when no memory is left.
inflate_state* NewHeapInflateState(InflateWrapper wrapper);
void FreeInflateState(inflate_state* state);
// Starts the state afresh for the next member; the compressed bytes it was given stay given.
void RestartInflate(inflate_state* state, InflateWrapper wrapper);

// ---- Where the compressed bytes come from ------------------------------------------------------
struct InflateFeed {
  // Called whenever avail_in is 0: points next_in and avail_in at the next compressed bytes,
  // none at the end of the data. False on a read error.
  bool (*refill)(void* context, inflate_state* state);
  void* context;
};

// ---- The loop --------------------------------------------------------------------------------
enum class InflateStop {
  kOutputFull,  // avail_out is 0; call again with more space
  kStreamEnd,   // the member ended (and its checks held); bytes after it stay in next_in
  kFailed,      // corrupt data, a failed check, data cut short at the end, or a read error
};

// Inflates until one of the stops above.
InflateStop InflateSome(inflate_state* state, const InflateFeed& feed);
