#pragma once
// gzip streams: the allocator that newly opened gzip streams take their storage from, and
// the gzip writer of the merged log.

#include <cstdio>

// Allocation callbacks with zlib's signatures. All null means zlib's own (the heap).
struct ZlibAllocator {
  void* (*zalloc)(void* opaque, unsigned items, unsigned size) = nullptr;
  void (*zfree)(void* opaque, void* address) = nullptr;
  void* opaque = nullptr;
};

// Installs the allocator that every gzip stream opened from now on (reader or writer)
// takes for all of its storage; an open stream keeps the one it was opened with.
void SetGzipAllocator(const ZlibAllocator& allocator);
const ZlibAllocator& GzipAllocator();

// ---- The gzip writer ---------------------------------------------------------------------
struct GzipWriter;

// Starts a gzip stream at compression `level` (0..9) over `file`, which the writer then
// owns. Null (and the file closed) when the compressor cannot be set up.
GzipWriter* GzipOpenWrite(std::FILE* file, int level);

// Compresses `length` bytes; returns the number accepted, which is less than `length`
// only when writing to the file failed.
int GzipWrite(GzipWriter* writer, const void* data, int length);

// Finishes the stream, flushes and closes the file and frees the writer. False when any
// write, the flush or the close failed: only then is the file known to be complete.
bool GzipClose(GzipWriter* writer);
