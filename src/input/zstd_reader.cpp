#include "input/zstd_reader.h"

#include <zstd.h>

namespace {

struct ZstdReader {
  ZSTD_DStream* zstd;
  ByteSource source;
  ZSTD_inBuffer in;  // the compressed bytes in source.buffer not yet decoded
  bool frame_ended;  // the last frame is complete: the file may end here
  bool ended;        // the last frame ended cleanly at the end of the file
  bool failed;       // a data or read error; nothing more is produced
};

}  // namespace

void* ZstdOpen(SourceFile* file, MemoryPool* pool) {
  auto* r = static_cast<ZstdReader*>(MPAllocAligned(pool, sizeof(ZstdReader)));
  *r = ZstdReader{};
  InitByteSource(&r->source, file, pool);
  r->in = ZSTD_inBuffer{r->source.buffer, 0, 0};
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
    if (ZSTD_isError(rc)) {
      r->failed = true;  // corrupt data, or a frame asking for more than the window limit
    } else {
      r->frame_ended = rc == 0;  // everything the frame holds is in `output`
      // With no input left, a frame still open may only flush what it holds.
      if (drained && !r->frame_ended && output.pos == before) r->failed = true;  // cut short
    }
  }
  return {static_cast<int32_t>(output.pos), r->failed};
}

void ZstdClose(void* reader) {
  auto* r = static_cast<ZstdReader*>(reader);
  ZSTD_freeDStream(r->zstd);
}
