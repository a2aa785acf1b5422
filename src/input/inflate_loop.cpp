#include "input/inflate_loop.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// ISA-L's vector code works on the state's tables and buffers; a cache line keeps them aligned
// whatever the pool's own alignment.
constexpr size_t kStateAlign = 64;

uint32_t FlagOf(InflateWrapper wrapper) {
  return wrapper == InflateWrapper::kGzip ? ISAL_GZIP : ISAL_DEFLATE;
}

// Starts a new state. On damaged data ISA-L may hand out bytes of its output staging buffer
// that no data wrote before it reports the error; cleared, they are the same bytes on every
// run and whatever memory the state was given (a pool block or heap memory used before).
void StartState(inflate_state* state, InflateWrapper wrapper) {
  std::memset(state->tmp_out_buffer, 0, sizeof state->tmp_out_buffer);
  isal_inflate_init(state);
  state->crc_flag = FlagOf(wrapper);
}

}  // namespace

inflate_state* NewInflateState(MemoryPool* pool, InflateWrapper wrapper) {
  size_t room = sizeof(inflate_state) + kStateAlign;
  void* at = MPAlloc(pool, static_cast<int32_t>(room));
  at = std::align(kStateAlign, sizeof(inflate_state), at, room);
  auto* state = static_cast<inflate_state*>(at);
  StartState(state, wrapper);
  return state;
}

inflate_state* NewHeapInflateState(InflateWrapper wrapper) {
  // aligned_alloc wants a multiple of the alignment.
  const size_t size = (sizeof(inflate_state) + kStateAlign - 1) / kStateAlign * kStateAlign;
  auto* state = static_cast<inflate_state*>(std::aligned_alloc(kStateAlign, size));
  if (state == nullptr) return nullptr;
  StartState(state, wrapper);
  return state;
}

void FreeInflateState(inflate_state* state) {
  std::free(state);
}

void RestartInflate(inflate_state* state, InflateWrapper wrapper) {
  uint8_t* const next_in = state->next_in;
  const uint32_t avail_in = state->avail_in;
  uint8_t* const next_out = state->next_out;
  const uint32_t avail_out = state->avail_out;
  isal_inflate_reset(state);
  state->crc_flag = FlagOf(wrapper);
  state->next_in = next_in;
  state->avail_in = avail_in;
  state->next_out = next_out;
  state->avail_out = avail_out;
}

InflateStop InflateSome(inflate_state* state, const InflateFeed& feed) {
  bool drained = false;  // the feed had no more bytes to give
  while (state->avail_out > 0) {
    if (state->avail_in == 0) {
      if (!feed.refill(feed.context, state)) return InflateStop::kFailed;
      drained = state->avail_in == 0;
    }
    const uint32_t in_before = state->avail_in;
    const uint32_t out_before = state->avail_out;
    if (isal_inflate(state) != ISAL_DECOMP_OK) return InflateStop::kFailed;
    if (state->block_state == ISAL_BLOCK_FINISH) return InflateStop::kStreamEnd;
    // Neither input taken nor output given: with no input left the member is cut short;
    // with input left the decoder cannot go on. Either way it would never end.
    if (state->avail_in == in_before && state->avail_out == out_before &&
        (drained || state->avail_in > 0)) {
      return InflateStop::kFailed;
    }
  }
  return InflateStop::kOutputFull;
}
