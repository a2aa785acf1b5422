#include "input/byte_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/descriptor.h"

// ---- The stored bytes ------------------------------------------------------------------------

void InitSourceFile(SourceFile* file, int fd, int64_t size) {
  file->fd = fd;
  file->size = size;
  file->head = file->own_head;
  file->head_count = 0;
  file->head_at = 0;
  file->taken = 0;
  file->read_so_far.store(0, std::memory_order_relaxed);
  file->refusal[0] = '\0';
}

bool WithinDecoderLimit(SourceFile* file, const char* what, uint64_t need, uint64_t limit) {
  if (need <= limit) return true;
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  std::snprintf(file->refusal, sizeof file->refusal,
                "its %s of %llu MiB needs more memory than the %llu MiB allowed", what,
                static_cast<unsigned long long>((need + kMiB - 1) / kMiB),
                static_cast<unsigned long long>(limit / kMiB));
  return false;
}

int32_t ReadHead(SourceFile* file, unsigned char* space, int32_t capacity) {
  if (space == nullptr) {
    space = file->own_head;
    capacity = SOURCE_HEAD;
  }
  file->head = space;
  // A pipe may give the head in pieces: read until it is whole, the end, or an error.
  while (file->head_count < SOURCE_HEAD) {
    const int64_t n = ReadSome(file->fd, file->head + file->head_count,
                               static_cast<size_t>(capacity - file->head_count));
    if (n <= 0) break;
    file->head_count += static_cast<int32_t>(n);
  }
  file->read_so_far.store(file->head_count + file->taken, std::memory_order_relaxed);
  return file->head_count;
}

int64_t ReadSource(SourceFile* file, void* out, int64_t want) {
  if (want <= 0) return 0;
  int64_t given = 0;
  if (file->head_at < file->head_count) {
    given = std::min<int64_t>(want, file->head_count - file->head_at);
    std::memcpy(out, file->head + file->head_at, static_cast<size_t>(given));
    file->head_at += static_cast<int32_t>(given);
    if (given == want) return given;
  }
  // The rest from the descriptor in the same call, so a small file arrives in one piece.
  const int64_t n =
      ReadSome(file->fd, static_cast<char*>(out) + given, static_cast<size_t>(want - given));
  if (n > 0) {
    file->taken += n;
    file->read_so_far.store(file->head_count + file->taken, std::memory_order_relaxed);
  }
  // An error after head bytes is met again by the next read.
  if (n < 0) return given > 0 ? given : -1;
  return given + n;
}

int64_t SourceBytesRead(const SourceFile* file) {
  return file->read_so_far.load(std::memory_order_relaxed);
}

bool RewindSource(SourceFile* file) {
  file->head_at = 0;
  if (file->taken == 0) return true;
  const int64_t start = SourceStart(file);
  if (start < 0 || !SeekTo(file->fd, start + file->head_count)) return false;
  file->taken = 0;
  file->read_so_far.store(file->head_count, std::memory_order_relaxed);
  return true;
}

bool SourceAtSize(const SourceFile* file) {
  return file->size >= 0 && file->head_at == file->head_count &&
         file->head_count + file->taken == file->size;
}

int64_t SourceStart(const SourceFile* file) {
  const int64_t at = PositionOf(file->fd);
  return at < 0 ? -1 : at - file->taken - file->head_count;
}

// ---- Plain text ------------------------------------------------------------------------------

void* PlainOpen(SourceFile* file, MemoryPool*) {
  return file;
}

DecodeResult PlainRead(void* reader, char* out, int32_t want) {
  const int64_t n = ReadSource(static_cast<SourceFile*>(reader), out, want);
  return {static_cast<int32_t>(n < 0 ? 0 : n), n < 0};
}

void PlainClose(void*) {}

// ---- Compressed input for the decoders --------------------------------------------------------

void InitByteSource(ByteSource* source, SourceFile* file, MemoryPool* pool) {
  // One byte more than a regular file holds lets the first refill find its end at once.
  int32_t capacity = SOURCE_CHUNK;
  if (file->size >= 0 && file->size < SOURCE_CHUNK) capacity = static_cast<int32_t>(file->size) + 1;
  source->file = file;
  source->buffer = static_cast<unsigned char*>(MPAlloc(pool, capacity));
  source->capacity = capacity;
  source->eof = false;
  source->error = false;
}

uint32_t RefillByteSource(ByteSource* source) {
  if (source->eof) return 0;
  const int64_t n = ReadSource(source->file, source->buffer, source->capacity);
  if (n <= 0) {
    source->eof = true;
    source->error = n < 0;
    return 0;
  }
  return static_cast<uint32_t>(n);
}
