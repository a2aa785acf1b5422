#include "input/zstd_reader.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>

#include "base/resource_limits.h"

namespace {

// Bytes decoded per step. When libzstd fails part-way through a call, the bytes it wrote in
// that call are not counted, so how much arrives before a failure depends on how much each
// call was offered. The decoder is therefore always offered the same steps, and a read hands
// out from the last one: a damaged file gives the same bytes whatever the caller asks for
// (a window's chunk, or a block decoded ahead on another thread).
constexpr int32_t kStep = 32768;

struct ZstdReader {
  ZSTD_DStream* zstd;
  ByteSource source;
  ZSTD_inBuffer in;   // the compressed bytes in source.buffer not yet decoded
  bool frame_ended;   // the last frame is complete: the file may end here
  bool ended;         // the last frame ended cleanly at the end of the file
  bool failed;        // a data or read error; nothing more is produced
  DecodeStage stage;  // over `staged`
  char staged[kStep];
};

// Decodes up to `want` bytes at `out`; returns how many were produced. Sets `ended` or
// `failed` when the file has no more to give.
int32_t Decode(ZstdReader* r, char* out, int32_t want) {
  ZSTD_outBuffer output{out, static_cast<size_t>(want), 0};
  while (output.pos < output.size && !r->ended && !r->failed) {
    if (r->in.pos == r->in.size && !r->source.eof) {
      r->in.size = RefillByteSource(&r->source);
      r->in.pos = 0;
      if (r->source.error) {
        r->failed = true;
        break;
      }
    }
    const bool drained = r->in.pos == r->in.size && r->source.eof;
    if (drained && r->frame_ended) {
      r->ended = true;
      break;
    }
    const size_t before = output.pos;
    const size_t rc = ZSTD_decompressStream(r->zstd, &output, &r->in);
    if (ZSTD_isError(rc) && ZSTD_getErrorCode(rc) == ZSTD_error_memory_allocation) {
      EndOutOfMemory("the zstd decoder could not have its window");
    } else if (ZSTD_isError(rc)) {
      r->failed = true;  // corrupt data, or a frame asking for more than the window limit
    } else {
      r->frame_ended = rc == 0;  // everything the frame holds is in `output`
      // With no input left, a frame still open may only flush what it holds.
      if (drained && !r->frame_ended && output.pos == before) r->failed = true;  // cut short
    }
  }
  return static_cast<int32_t>(output.pos);
}

}  // namespace

uint64_t ZstdFrameWindow(const unsigned char* data, int32_t size) {
  constexpr unsigned char kMagic[] = {0x28, 0xB5, 0x2F, 0xFD};
  if (size < 6 || std::memcmp(data, kMagic, sizeof kMagic) != 0) return 0;
  const unsigned descriptor = data[4];
  if ((descriptor & 0x20) == 0) {
    const unsigned window = data[5];
    const uint64_t base = uint64_t{1} << (10 + (window >> 3));
    return base + (base / 8) * (window & 7);
  }
  constexpr int kDictionaryIdBytes[] = {0, 1, 2, 4};
  constexpr int kContentSizeBytes[] = {1, 2, 4, 8};
  const int at = 5 + kDictionaryIdBytes[descriptor & 3];
  const int bytes = kContentSizeBytes[descriptor >> 6];
  if (size < at + bytes) return 0;
  uint64_t content = 0;
  for (int i = bytes - 1; i >= 0; --i) content = content << 8 | data[at + i];
  return bytes == 2 ? content + 256 : content;
}

void* ZstdOpen(SourceFile* file, MemoryPool* pool) {
  const uint64_t window = ZstdFrameWindow(file->head, file->head_count);
  if (!WithinDecoderLimit(file, "zstd window", window, ZSTD_WINDOW_LIMIT)) return nullptr;
  auto* r = static_cast<ZstdReader*>(MPAllocAligned(pool, sizeof(ZstdReader)));
  *r = ZstdReader{};
  InitByteSource(&r->source, file, pool);
  r->in = ZSTD_inBuffer{r->source.buffer, 0, 0};
  r->stage = DecodeStage{r->staged, kStep, 0, 0};
  r->zstd = ZSTD_createDStream();
  if (r->zstd == nullptr) return nullptr;
  if (ZSTD_isError(ZSTD_initDStream(r->zstd))) {
    ZSTD_freeDStream(r->zstd);
    return nullptr;
  }
  return r;
}

DecodeResult ZstdRead(void* reader, char* out, int32_t want) {
  auto* r = static_cast<ZstdReader*>(reader);
  const int32_t count = TakeStaged(
      r->stage, out, want, [r](char* step, int32_t size) { return Decode(r, step, size); },
      [r] { return r->ended || r->failed; });
  return {count, r->failed && StageEmpty(r->stage)};
}

void ZstdClose(void* reader) {
  auto* r = static_cast<ZstdReader*>(reader);
  ZSTD_freeDStream(r->zstd);
}
