#include "input/xz_reader.h"

#include <lzma.h>

namespace {

struct XzReader {
  lzma_stream xz;
  ByteSource source;
  bool ended;   // the last stream ended cleanly at the end of the file
  bool failed;  // a data or read error; nothing more is produced
};

}  // namespace

void* XzOpen(SourceFile* file, MemoryPool* pool) {
  auto* r = static_cast<XzReader*>(MPAllocAligned(pool, sizeof(XzReader)));
  *r = XzReader{};
  r->xz = LZMA_STREAM_INIT;
  InitByteSource(&r->source, file, pool);
  // Concatenated: streams one after the other are one run of data, as `xz -d` reads them.
  if (lzma_stream_decoder(&r->xz, XZ_MEMORY_LIMIT, LZMA_CONCATENATED) != LZMA_OK) {
    lzma_end(&r->xz);
    return nullptr;
  }
  return r;
}

DecodeResult XzRead(void* reader, char* out, int32_t want) {
  auto* r = static_cast<XzReader*>(reader);
  r->xz.next_out = reinterpret_cast<uint8_t*>(out);
  r->xz.avail_out = static_cast<size_t>(want);
  while (r->xz.avail_out > 0 && !r->ended && !r->failed) {
    if (r->xz.avail_in == 0) {
      r->xz.avail_in = RefillByteSource(&r->source);
      r->xz.next_in = r->source.buffer;
      if (r->source.error) {
        r->failed = true;
        break;
      }
    }
    // At the end of the file the decoder is told so: a stream cut short then fails.
    const lzma_action action = r->xz.avail_in == 0 ? LZMA_FINISH : LZMA_RUN;
    const lzma_ret rc = lzma_code(&r->xz, action);
    if (rc == LZMA_STREAM_END) {
      r->ended = true;
    } else if (rc != LZMA_OK) {
      r->failed = true;  // corrupt or cut short, or more memory than the limit
    }
  }
  return {want - static_cast<int32_t>(r->xz.avail_out), r->failed};
}

void XzClose(void* reader) {
  auto* r = static_cast<XzReader*>(reader);
  lzma_end(&r->xz);
}
