#pragma once
// The bzip2 reader: every bzip2 stream of a file, one after the other (as parallel bzip2
// tools write them), through libbz2.

#include <cstdint>

#include "input/byte_source.h"
#include "input/memory_pool.h"

// ---- Container entry points (see byte_source.h) ------------------------------------------------
// Starts the decoder on `file`; its working storage comes through `allocator` (kept for the
// later streams too), its record and input buffer from `pool`. Null when it cannot start.
void* Bzip2Open(SourceFile* file, MemoryPool* pool, const Bzip2Allocator& allocator);
DecodeResult Bzip2Read(void* reader, char* out, int32_t want);
// Ends the decoder; the file stays open for its owner.
void Bzip2Close(void* reader);
