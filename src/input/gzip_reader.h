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
