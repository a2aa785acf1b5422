#pragma once
// The gzip reader: every gzip member of a file, one after the other (cat a.gz b.gz), through
// the shared inflate loop, with the header and CRC of each member checked.

#include <cstdint>

#include "input/byte_source.h"
#include "input/memory_pool.h"

// ---- Container entry points (see byte_source.h) ------------------------------------------------
// Starts the decoder on `file`; its working storage comes through `allocator`, its record and
// input buffer from `pool`. Null when the decoder cannot start.
void* GzipOpen(SourceFile* file, MemoryPool* pool, const ZlibAllocator& allocator);
// Data after a member that is not another member fails the read: trailing garbage is reported.
DecodeResult GzipRead(void* reader, char* out, int32_t want);
// Ends the decoder; the file stays open for its owner.
void GzipClose(void* reader);
