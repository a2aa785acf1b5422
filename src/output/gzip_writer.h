#pragma once
// The gzip writer of the merged log: deflate over a file stream, on memory of its own.

#include <cstdio>

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
