#include "input/gzip_reader.h"

#include "input/inflate_loop.h"

namespace {

struct GzipReader {
  inflate_state* state;  // ISA-L, started for gzip members; from the heap, freed at the end
  ByteSource source;
  bool ended;   // the last member ended cleanly at the end of the file
  bool failed;  // a data or read error; nothing more is produced
};

// Makes compressed bytes available if there are any; false on a read error.
bool Feed(void* context, inflate_state* state) {
  auto* r = static_cast<GzipReader*>(context);
  if (state->avail_in == 0) {
    state->avail_in = RefillByteSource(&r->source);
    state->next_in = r->source.buffer;
  }
  return !r->source.error;
}

// Zero bytes after a member are padding (a file preallocated or written in blocks), which
// gzip itself accepts. Skips them; true when they run to the end of the file, false when
// something else follows them (left in next_in) or reading fails.
bool SkipZeroPadding(GzipReader* r) {
  inflate_state* s = r->state;
  for (;;) {
    while (s->avail_in > 0 && *s->next_in == 0) {
      ++s->next_in;
      --s->avail_in;
    }
    if (s->avail_in > 0) return false;
    if (!Feed(r, s)) return false;
    if (s->avail_in == 0) return true;
  }
}

// A member ended. Another member may follow, or zero padding to the end of the file;
// anything else fails on its header in the next turn of the inflate loop, so trailing
// garbage is reported, not silently dropped.
void NextMember(GzipReader* r) {
  inflate_state* s = r->state;
  if (!Feed(r, s)) {
    r->failed = true;
  } else if (s->avail_in == 0) {
    r->ended = true;
  } else if (*s->next_in == 0 && SkipZeroPadding(r)) {
    r->ended = true;
  } else if (r->source.error) {
    r->failed = true;
  } else {
    RestartInflate(s, InflateWrapper::kGzip);
  }
}

}  // namespace

void* GzipOpen(SourceFile* file, MemoryPool* pool) {
  auto* r = static_cast<GzipReader*>(MPAllocAligned(pool, sizeof(GzipReader)));
  *r = GzipReader{};
  InitByteSource(&r->source, file, pool);
  r->state = NewHeapInflateState(InflateWrapper::kGzip);
  return r->state != nullptr ? r : nullptr;
}

DecodeResult GzipRead(void* reader, char* out, int32_t want) {
  auto* r = static_cast<GzipReader*>(reader);
  if (r->state == nullptr) return {0, r->failed};  // the data ended, or failed, earlier
  inflate_state* s = r->state;
  s->next_out = reinterpret_cast<uint8_t*>(out);
  s->avail_out = static_cast<uint32_t>(want);
  const InflateFeed feed{Feed, r};
  while (s->avail_out > 0 && !r->ended && !r->failed) {
    switch (InflateSome(s, feed)) {
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
  const int32_t count = want - static_cast<int32_t>(s->avail_out);
  // Once the data has ended, or failed, the state is never used again: give it back now
  // rather than at the close, so the next file to start can have the same memory.
  if (r->ended || r->failed) {
    FreeInflateState(r->state);
    r->state = nullptr;
  }
  return {count, r->failed};
}

void* GzipDecodeWhole(const unsigned char* bytes, int32_t size, char* out, int32_t capacity,
                      MemoryPool* pool, DecodeResult* result) {
  // The compressed bytes are all given at once; the source is at its end from the start, so
  // a member that ends is followed by the next one, zero padding or garbage in those bytes.
  GzipReader whole{};
  whole.source.eof = true;
  whole.state = NewHeapInflateState(InflateWrapper::kGzip);
  if (whole.state == nullptr) return nullptr;
  whole.state->next_in = const_cast<unsigned char*>(bytes);
  whole.state->avail_in = static_cast<uint32_t>(size);
  *result = GzipRead(&whole, out, capacity);
  // The output space ran out (to the last byte, with or without the end of the data).
  if (result->count == capacity) {
    GzipClose(&whole);
    return nullptr;
  }
  auto* r = static_cast<GzipReader*>(MPAllocAligned(pool, sizeof(GzipReader)));
  *r = whole;  // the state is null: GzipRead gave it back at the end
  return r;
}

void GzipClose(void* reader) {
  auto* r = static_cast<GzipReader*>(reader);
  FreeInflateState(r->state);
  r->state = nullptr;
}
