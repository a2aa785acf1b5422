#pragma once
// The byte source: a log file's bytes as they are stored, read from its descriptor. The
// first few bytes are read ahead to recognise the container and handed out again before the
// rest, so a pipe is read the same way as a file. A plain-text file is read from it directly;
// every decoder takes its compressed input from it through a buffer.
//
// Every container reader (this one for plain text, and one per compressed container) has the
// same three entry points, so one table can list them all:
//   open  (file, pool) -> the reader's state, or null when the container cannot be read
//   read  (state, out, want) -> up to `want` decoded bytes at `out`
//   close (state) -> releases the reader; the descriptor stays with the input that owns it
// A read reports how many bytes it produced and whether it failed; bytes produced before a
// failure are counted, so the caller still delivers them. 0 bytes without failing is the end.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "input/memory_pool.h"

struct DecodeResult {
  int32_t count;  // bytes produced
  bool failed;    // a read or data error happened after those bytes
};

// ---- The stored bytes ------------------------------------------------------------------------
inline constexpr int32_t SOURCE_HEAD = 16;  // bytes read ahead to recognise the container

struct SourceFile {
  int fd;               // the open file; owned by the input, not by the source
  int64_t size;         // bytes of a regular file when opened; -1 for a pipe or device
  unsigned char* head;  // the bytes read ahead: `own_head`, or the caller's space
  int32_t head_count;   // bytes read ahead
  int32_t head_at;      // bytes of the head already handed out again
  int64_t taken;        // bytes read from the descriptor after the head
  unsigned char own_head[SOURCE_HEAD];
  // Why a decoder refused to start on the file (the memory its data asks for); empty when
  // none did.
  char refusal[120];
  // The head and `taken` together, published for a progress report on another thread.
  std::atomic<int64_t> read_so_far;
};

// Starts a source on `fd`; `size` as above. Nothing is read yet.
void InitSourceFile(SourceFile* file, int fd, int64_t size);
// Reads at least the first SOURCE_HEAD bytes (fewer when the file is shorter, or on a read
// error, which the next read meets again) and returns how many there are. With `space` (of
// `capacity` bytes, at least SOURCE_HEAD) they are read there, as many as fit, so a small
// file arrives whole in one read; without, into the source's own SOURCE_HEAD bytes.
int32_t ReadHead(SourceFile* file, unsigned char* space = nullptr, int32_t capacity = 0);
// Up to `want` bytes at `out`: the head first, then the descriptor. The number of bytes,
// 0 at the end, -1 on a read error.
int64_t ReadSource(SourceFile* file, void* out, int64_t want);
// Stored bytes read so far (head included); safe on any thread while another one reads.
int64_t SourceBytesRead(const SourceFile* file);
// Hands the head out again from its first byte. False when bytes after it were read and the
// descriptor cannot go back to them.
bool RewindSource(SourceFile* file);
// True when a regular file has given exactly the bytes it held when opened. A read that then
// gives fewer bytes than asked has met the end: no further read is needed to find it. (A file
// that has grown gives more than its size, and is read on to its new end.)
bool SourceAtSize(const SourceFile* file);
// The offset of the source's first byte in the file, for readers that read at offsets of
// their own (a zip archive's directory); -1 when the descriptor cannot seek (a pipe).
int64_t SourceStart(const SourceFile* file);

// True when a decoder's `what` ("zstd window") of `need` bytes is within `limit`; otherwise
// says so in the file's `refusal` ("its zstd window of 256 MiB needs more memory than the
// 128 MiB allowed") and gives false.
bool WithinDecoderLimit(SourceFile* file, const char* what, uint64_t need, uint64_t limit);

// ---- Plain text ------------------------------------------------------------------------------
// The reader's state is the source itself; opening never fails.
void* PlainOpen(SourceFile* file, MemoryPool* pool);
// One read of up to `want` bytes from the source.
DecodeResult PlainRead(void* reader, char* out, int32_t want);
// Nothing to release.
void PlainClose(void* reader);

// ---- Compressed input for the decoders --------------------------------------------------------
inline constexpr int32_t SOURCE_CHUNK = 16384;  // compressed bytes read from the file at a time

struct ByteSource {
  SourceFile* file;
  unsigned char* buffer;  // `capacity` bytes of pool memory
  int32_t capacity;       // SOURCE_CHUNK, or less for a smaller regular file
  bool eof;               // the file has no more bytes
  bool error;             // reading the file failed
};

// Takes the buffer from `pool`, no larger than a small regular file needs; nothing is read yet.
void InitByteSource(ByteSource* source, SourceFile* file, MemoryPool* pool);
// Reads the next piece of the file into the buffer; returns the number of bytes now there,
// 0 at the end of the file or on a read error (which sets `error`). Once at the end it reads
// no more.
uint32_t RefillByteSource(ByteSource* source);

// ---- Decoding in fixed steps ------------------------------------------------------------------
// A decoder that decodes a fixed step at a time into a stage of its own and hands reads out
// from there: bzip2 (long turns, so alternating decoders keep their tables in the cache) and
// zstd (the same steps whatever a read asks for, so a damaged file gives the same bytes
// before its failure).
struct DecodeStage {
  char* data = nullptr;  // `step` bytes
  int32_t step = 0;
  int32_t begin = 0;  // bytes already handed out
  int32_t end = 0;    // bytes decoded
};

// Copies up to `want` staged bytes to `out`, decoding the next step with `decode(data, step)`
// (the bytes produced; 0 only when the decoder has nothing more) whenever the stage is used
// up and `done()` is false. Returns the bytes copied.
template <typename Decode, typename Done>
int32_t TakeStaged(DecodeStage& stage, char* out, int32_t want, Decode decode, Done done) {
  int32_t count = 0;
  while (count < want) {
    if (stage.begin == stage.end) {
      if (done()) break;
      stage.begin = 0;
      stage.end = decode(stage.data, stage.step);
      if (stage.end == 0) break;
    }
    const int32_t n = std::min(want - count, stage.end - stage.begin);
    std::memcpy(out + count, stage.data + stage.begin, static_cast<size_t>(n));
    stage.begin += n;
    count += n;
  }
  return count;
}

// Whether every staged byte has been handed out: a failure is reported with the last bytes
// decoded before it, never ahead of them.
inline bool StageEmpty(const DecodeStage& stage) {
  return stage.begin == stage.end;
}
