#pragma once
// The gzip reader: every gzip member of a file, one after the other (cat a.gz b.gz), through
// the shared inflate loop (ISA-L), with the header, CRC32 and size of each member checked.

#include <cstdint>

#include "input/byte_source.h"
#include "input/memory_pool.h"

// ---- Container entry points (see byte_source.h) ------------------------------------------------
// Starts the decoder on `file`; its record and input buffer come from `pool`, its inflate
// state (about 90 KB) from the heap, given back as soon as the data ends. Null when no memory
// is left for the state; the header is read, and checked, with the first bytes.
void* GzipOpen(SourceFile* file, MemoryPool* pool);
// Data after a member that is not another member fails the read: trailing garbage is reported.
DecodeResult GzipRead(void* reader, char* out, int32_t want);
// Frees the inflate state if the data has not ended; the file stays open for its owner.
void GzipClose(void* reader);

// ---- A small file decoded whole ------------------------------------------------------------
// Decodes a gzip file held whole in memory (`bytes`, `size`: a small file read at once) into
// `out`, with the same checks, the same bytes and the same failure as the reader above. When
// the data ends, or fails, after fewer than `capacity` bytes, `*result` tells how many were
// decoded and whether they end in a failure, and a reader is returned that is at its end (for
// GzipRead, which then gives nothing more, and GzipClose); its inflate state is already given
// back. Null, with nothing taken from `pool`, when the data needs `capacity` bytes or more,
// or no memory is left for the state: the file is then streamed.
void* GzipDecodeWhole(const unsigned char* bytes, int32_t size, char* out, int32_t capacity,
                      MemoryPool* pool, DecodeResult* result);
