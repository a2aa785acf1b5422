#pragma once
// The zstd reader: every zstd frame of a file, one after the other (skippable frames passed
// over), through libzstd's streaming decoder.

#include <cstdint>

#include "input/byte_source.h"
#include "input/memory_pool.h"

// ---- Container entry points (see byte_source.h) ------------------------------------------------
// The largest window a frame may ask for: libzstd's default limit, as `zstd -d` has it without
// --memory. A file whose first frame asks for more is refused at the start, saying what it
// needs; a later frame that does fails its read.
inline constexpr uint64_t ZSTD_WINDOW_LIMIT = uint64_t{128} << 20;

// The window the zstd frame at `data` asks for, from its header; 0 when the bytes do not show
// it (a skippable frame, a header cut short). A single-segment frame's window is its content.
uint64_t ZstdFrameWindow(const unsigned char* data, int32_t size);

// Starts the decoder on `file`. Its record and input buffer come from `pool`; the decoder's own
// storage (its window, up to ZSTD_WINDOW_LIMIT, beyond a pool block) from the heap, returned by
// ZstdClose. Null when the decoder cannot start; when the first frame's window is over the
// limit, the file's `refusal` says so.
void* ZstdOpen(SourceFile* file, MemoryPool* pool);
// Data after a frame that is not another frame fails the read, as a cut or damaged frame does.
DecodeResult ZstdRead(void* reader, char* out, int32_t want);
// Frees the decoder; the file stays open for its owner.
void ZstdClose(void* reader);
