#include "input/bzip2_reader.h"

#include <bzlib.h>

namespace {

struct Bzip2Reader {
  bz_stream bz;
  Bzip2Allocator allocator;  // the one the reader was opened with, for later streams too
  ByteSource source;
  bool ended;
  bool failed;
};

bool Start(Bzip2Reader* r) {
  r->bz.bzalloc = r->allocator.bzalloc;
  r->bz.bzfree = r->allocator.bzfree;
  r->bz.opaque = r->allocator.opaque;
  return BZ2_bzDecompressInit(&r->bz, 0, 0) == BZ_OK;
}

bool Feed(Bzip2Reader* r) {
  if (r->bz.avail_in == 0) {
    r->bz.avail_in = RefillByteSource(&r->source);
    r->bz.next_in = reinterpret_cast<char*>(r->source.buffer);
  }
  return !r->source.error;
}

// A stream ended: starts the next one when more bytes follow.
void NextStream(Bzip2Reader* r) {
  if (!Feed(r)) {
    r->failed = true;
    return;
  }
  if (r->bz.avail_in == 0) {
    r->ended = true;
    return;
  }
  char* next_in = r->bz.next_in;
  const unsigned avail_in = r->bz.avail_in;
  BZ2_bzDecompressEnd(&r->bz);
  if (!Start(r)) {
    r->failed = true;
    return;
  }
  r->bz.next_in = next_in;
  r->bz.avail_in = avail_in;
}

}  // namespace

void* Bzip2Open(std::FILE* file, MemoryPool* pool, const Bzip2Allocator& allocator) {
  auto* r = static_cast<Bzip2Reader*>(MPAllocAligned(pool, sizeof(Bzip2Reader)));
  *r = Bzip2Reader{};
  r->allocator = allocator;
  InitByteSource(&r->source, file, pool);
  if (!Start(r)) return nullptr;
  return r;
}

DecodeResult Bzip2Read(void* reader, char* out, int32_t want) {
  auto* r = static_cast<Bzip2Reader*>(reader);
  r->bz.next_out = out;
  r->bz.avail_out = static_cast<unsigned>(want);
  while (r->bz.avail_out > 0 && !r->ended && !r->failed) {
    if (!Feed(r)) {
      r->failed = true;
      break;
    }
    const unsigned out_before = r->bz.avail_out;
    const int rc = BZ2_bzDecompress(&r->bz);
    if (rc == BZ_STREAM_END) {
      NextStream(r);
    } else if (rc != BZ_OK) {
      r->failed = true;
    } else if (r->bz.avail_in == 0 && r->source.eof && r->bz.avail_out == out_before) {
      r->failed = true;  // the stream is cut short: no input left and no progress
    }
  }
  return {want - static_cast<int32_t>(r->bz.avail_out), r->failed};
}

void Bzip2Close(void* reader) {
  auto* r = static_cast<Bzip2Reader*>(reader);
  BZ2_bzDecompressEnd(&r->bz);
  std::fclose(r->source.file);
}
