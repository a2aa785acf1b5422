#pragma once
// The byte source: a log file's bytes as they are stored. A plain-text file is read from it
// directly; every decoder takes its compressed input from it through a buffer.
//
// Every container reader (this one for plain text, and one per compressed container) has the
// same three entry points, so one table can list them all:
//   open  (stream, pool) -> the reader's state, or null when the container cannot be read
//   read  (state, out, want) -> up to `want` decoded bytes at `out`
//   close (state) -> releases the reader and closes the stream
// A read reports how many bytes it produced and whether it failed; bytes produced before a
// failure are counted, so the caller still delivers them. 0 bytes without failing is the end.

#include <cstdint>
#include <cstdio>

#include "input/memory_pool.h"

struct DecodeResult {
  int32_t count;  // bytes produced
  bool failed;    // a read or data error happened after those bytes
};

// ---- Plain text ------------------------------------------------------------------------------
// The reader's state is the stream itself; opening never fails.
void* PlainOpen(std::FILE* file, MemoryPool* pool);
// One read of up to `want` bytes from the stream.
DecodeResult PlainRead(void* reader, char* out, int32_t want);
// Closes the stream.
void PlainClose(void* reader);

// ---- Compressed input for the decoders --------------------------------------------------------
inline constexpr int32_t SOURCE_CHUNK = 16384;  // compressed bytes read from the file at a time

struct ByteSource {
  std::FILE* file;
  unsigned char* buffer;  // SOURCE_CHUNK bytes of pool memory
  bool eof;               // the file has no more bytes
  bool error;             // reading the file failed
};

// Takes the buffer from `pool`; nothing is read yet.
void InitByteSource(ByteSource* source, std::FILE* file, MemoryPool* pool);
// Reads the next piece of the file into the buffer; returns the number of bytes now there,
// 0 at the end of the file or on a read error (which sets `error`). Once at the end it reads
// no more.
uint32_t RefillByteSource(ByteSource* source);
