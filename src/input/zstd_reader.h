#pragma once
// The zstd reader: every zstd frame of a file, one after the other (skippable frames passed
// over), through libzstd's streaming decoder.

#include <cstdint>

#include "input/byte_source.h"
#include "input/memory_pool.h"

// ---- Container entry points (see byte_source.h) ------------------------------------------------
// Starts the decoder on `file`. Its record and input buffer come from `pool`; the decoder's own
// storage (its window, up to libzstd's default limit of 128 MiB, beyond a pool block) from the
// heap, returned by ZstdClose. Null when the decoder cannot start.
void* ZstdOpen(SourceFile* file, MemoryPool* pool);
// Data after a frame that is not another frame fails the read, as a cut or damaged frame does.
DecodeResult ZstdRead(void* reader, char* out, int32_t want);
// Frees the decoder; the file stays open for its owner.
void ZstdClose(void* reader);
