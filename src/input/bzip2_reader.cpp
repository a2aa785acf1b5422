#include "input/bzip2_reader.h"

#include <bzlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Bytes decoded per turn. The merge asks each input for a small piece at a time; several
// bzip2 decoders working in such small alternating steps evict each other's large tables
// from the cache, so each one decodes a long run at once and hands it out from there.
constexpr int32_t kTurn = 1 << 20;

struct Bzip2Reader {
  bz_stream bz;
  Bzip2Allocator allocator;  // the one the reader was opened with, for later streams too
  ByteSource source;
  bool ended;
  bool failed;
  std::unique_ptr<char[]> staged;  // the stage's kTurn bytes, taken at the first read
  DecodeStage stage;
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

// Decodes up to `want` bytes at `out`; returns how many were produced. Sets `ended` or
// `failed` when the file has no more to give.
int32_t Decode(Bzip2Reader* r, char* out, int32_t want) {
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
  return want - static_cast<int32_t>(r->bz.avail_out);
}

}  // namespace

void* Bzip2Open(SourceFile* file, MemoryPool* pool, const Bzip2Allocator& allocator) {
  auto* r = new (MPAllocAligned(pool, sizeof(Bzip2Reader))) Bzip2Reader{};
  r->allocator = allocator;
  InitByteSource(&r->source, file, pool);
  if (!Start(r)) {
    r->~Bzip2Reader();
    return nullptr;
  }
  return r;
}

DecodeResult Bzip2Read(void* reader, char* out, int32_t want) {
  auto* r = static_cast<Bzip2Reader*>(reader);
  if (!r->staged && !r->ended && !r->failed) {
    r->staged = std::make_unique_for_overwrite<char[]>(kTurn);
    r->stage = DecodeStage{r->staged.get(), kTurn, 0, 0};
  }
  const int32_t count = TakeStaged(
      r->stage, out, want, [r](char* step, int32_t size) { return Decode(r, step, size); },
      [r] { return r->ended || r->failed; });
  return {count, r->failed && StageEmpty(r->stage)};
}

void Bzip2Close(void* reader) {
  auto* r = static_cast<Bzip2Reader*>(reader);
  BZ2_bzDecompressEnd(&r->bz);
  r->~Bzip2Reader();
}
