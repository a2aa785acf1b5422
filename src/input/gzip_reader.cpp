#include "input/gzip_reader.h"

#include <zlib.h>

#include "input/inflate_loop.h"

namespace {

struct GzipReader {
  z_stream z;
  ByteSource source;
  bool ended;   // the last member ended cleanly at the end of the file
  bool failed;  // a data or read error; nothing more is produced
};

// Makes compressed bytes available if there are any; false on a read error.
bool Feed(void* context, z_stream* z) {
  auto* r = static_cast<GzipReader*>(context);
  if (z->avail_in == 0) {
    z->avail_in = RefillByteSource(&r->source);
    z->next_in = r->source.buffer;
  }
  return !r->source.error;
}

// Zero bytes after a member are padding (a file preallocated or written in blocks), which
// gzip itself accepts. Skips them; true when they run to the end of the file, false when
// something else follows them (left in z->next_in) or reading fails.
bool SkipZeroPadding(GzipReader* r) {
  for (;;) {
    while (r->z.avail_in > 0 && *r->z.next_in == 0) {
      ++r->z.next_in;
      --r->z.avail_in;
    }
    if (r->z.avail_in > 0) return false;
    if (!Feed(r, &r->z)) return false;
    if (r->z.avail_in == 0) return true;
  }
}

// A member ended. Another member may follow, or zero padding to the end of the file;
// anything else fails on its header in the next turn of the inflate loop, so trailing
// garbage is reported, not silently dropped.
void NextMember(GzipReader* r) {
  if (!Feed(r, &r->z)) {
    r->failed = true;
  } else if (r->z.avail_in == 0) {
    r->ended = true;
  } else if (*r->z.next_in == 0 && SkipZeroPadding(r)) {
    r->ended = true;
  } else if (r->source.error) {
    r->failed = true;
  } else {
    inflateReset(&r->z);
  }
}

}  // namespace

void* GzipOpen(SourceFile* file, MemoryPool* pool, const ZlibAllocator& allocator) {
  auto* r = static_cast<GzipReader*>(MPAllocAligned(pool, sizeof(GzipReader)));
  *r = GzipReader{};
  InitByteSource(&r->source, file, pool);
  r->z.zalloc = allocator.zalloc;
  r->z.zfree = allocator.zfree;
  r->z.opaque = allocator.opaque;
  // windowBits 15 + 16: gzip members only, with their header and CRC checked.
  if (inflateInit2(&r->z, 15 + 16) != Z_OK) return nullptr;
  return r;
}

DecodeResult GzipRead(void* reader, char* out, int32_t want) {
  auto* r = static_cast<GzipReader*>(reader);
  r->z.next_out = reinterpret_cast<Bytef*>(out);
  r->z.avail_out = static_cast<uInt>(want);
  const InflateFeed feed{Feed, r};
  while (r->z.avail_out > 0 && !r->ended && !r->failed) {
    switch (InflateSome(&r->z, feed)) {
      case InflateStop::kOutputFull:
        break;
      case InflateStop::kStreamEnd:
        NextMember(r);
        break;
      case InflateStop::kFailed:
        r->failed = true;
        break;
    }
  }
  return {want - static_cast<int32_t>(r->z.avail_out), r->failed};
}

void GzipClose(void* reader) {
  auto* r = static_cast<GzipReader*>(reader);
  inflateEnd(&r->z);
}
