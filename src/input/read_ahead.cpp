#include "input/read_ahead.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/fill_ahead.h"

namespace {

// One block of decoded bytes. Between fills it belongs to the merge thread or is free;
// while a fill runs it belongs to that worker alone.
struct Block {
  std::unique_ptr<char[]> data;
  int32_t count = 0;    // bytes decoded into it
  int32_t pos = 0;      // bytes already copied out
  bool failed = false;  // the decoder failed after these bytes
  bool last = false;    // nothing follows: the end of the input, or its failure
};

}  // namespace

struct ReadAhead {
  FillAhead* fill = nullptr;
  DecoderHandle decoder{};
  Block blocks[2];
  bool done = false;  // the merge has been given the end or the failure
};

namespace {

// Decodes into a block until it is full or the decoder ends or fails; true when it ended.
bool FillBlock(void* context, int slot) {
  auto* ahead = static_cast<ReadAhead*>(context);
  const DecoderHandle& decoder = ahead->decoder;
  Block& block = ahead->blocks[slot];
  block.count = 0;
  block.pos = 0;
  block.failed = false;
  block.last = false;
  while (block.count < READ_AHEAD_BLOCK) {
    const DecodeResult r = decoder.read(decoder.reader, block.data.get() + block.count,
                                        READ_AHEAD_BLOCK - block.count);
    block.count += r.count;
    if (r.failed || r.count == 0) {
      block.failed = r.failed;
      block.last = true;
      break;
    }
  }
  return block.last;
}

}  // namespace

ReadAhead* StartReadAhead(WorkCrew& crew, DecoderHandle decoder) {
  auto* ahead = new (std::nothrow) ReadAhead;
  if (ahead == nullptr) return nullptr;
  for (Block& block : ahead->blocks) {
    block.data.reset(new (std::nothrow) char[READ_AHEAD_BLOCK]);
    if (block.data == nullptr) {
      delete ahead;
      return nullptr;
    }
  }
  ahead->decoder = decoder;
  ahead->fill = StartFillAhead(crew, FillBlock, ahead);
  if (ahead->fill == nullptr) {
    delete ahead;
    return nullptr;
  }
  return ahead;
}

DecodeResult ReadAheadRead(ReadAhead* ahead, char* out, int32_t want) {
  for (;;) {
    if (ahead->done || want <= 0) return DecodeResult{0, false};
    Block& block = ahead->blocks[AwaitFront(ahead->fill)];
    if (block.pos < block.count) {
      const int32_t n = std::min(want, block.count - block.pos);
      std::memcpy(out, block.data.get() + block.pos, static_cast<size_t>(n));
      block.pos += n;
      const bool last_bytes = block.pos == block.count && block.last;
      ahead->done = last_bytes;
      return DecodeResult{n, last_bytes && block.failed};
    }
    if (block.last) {
      ahead->done = true;
      return DecodeResult{0, block.failed};
    }
    // Used up: the block is free for the next fill, and the other one is read next.
    ReleaseFront(ahead->fill);
  }
}

void StopReadAhead(ReadAhead* ahead) {
  StopFillAhead(ahead->fill);
  delete ahead;
}
