#pragma once
// The decoders behind the input streams, each over an already-open file stream, with their
// working storage from the memory pool: gzip (zlib inflate), bzip2 (libbz2) and zip
// (minizip for the archive, zlib raw inflate for the members).
//
// A read fills up to `want` bytes and reports how many it produced and whether the decoder
// failed; bytes produced before a failure are counted, so the caller can still deliver them.
// A read that produces 0 bytes without failing is the end of the data.

#include <cstdint>
#include <cstdio>

#include "input/input.h"
#include "input/memory_pool.h"

struct DecodeResult {
  int32_t count;  // bytes produced
  bool failed;    // a read or data error happened after those bytes
};

// ---- gzip: every member of the file, one after the other ---------------------------------
// Takes the gzip allocator installed now (MPHookGzip). Null when the decoder cannot start.
GzipReader* GzipOpenRead(std::FILE* file, MemoryPool* pool);
DecodeResult GzipRead(GzipReader* reader, char* out, int32_t want);
// Ends the decoder and closes the file stream.
void GzipCloseRead(GzipReader* reader);

// ---- bzip2: every stream of the file, one after the other --------------------------------
// Takes the bzip2 allocator installed now (MPHookBzip2). Null when the decoder cannot start.
Bzip2Reader* Bzip2OpenRead(std::FILE* file, MemoryPool* pool);
DecodeResult Bzip2Read(Bzip2Reader* reader, char* out, int32_t want);
// Ends the decoder and closes the file stream.
void Bzip2CloseRead(Bzip2Reader* reader);

// ---- zip: one member at a time -----------------------------------------------------------
// Opens the archive on `file` and its first member. Null (archive closed, stream left open)
// when either fails.
ZipReader* ZipOpenRead(std::FILE* file, MemoryPool* pool);
// Reads the open member; count 0 without failure is the member's end.
DecodeResult ZipReadMember(ZipReader* reader, char* out, int32_t want);
// Closes the open member.
void ZipCloseMember(ZipReader* reader);
// Moves to the next member and opens it. `at_end` is set when there was none; false
// with `at_end` clear means the next member exists but cannot be read.
bool ZipNextMember(ZipReader* reader, bool* at_end);
// Closes the archive; the stream stays open.
void ZipCloseArchive(ZipReader* reader);
