#pragma once
// The xz reader: every xz stream of a file, one after the other, with the stream padding xz
// allows between and after them, through liblzma.

#include <cstdint>

#include "input/byte_source.h"
#include "input/memory_pool.h"

// ---- Limits ------------------------------------------------------------------------------------
// Memory the decoder may use. xz's own presets need at most 65 MiB to decode; a file that
// asks for more than this fails its first read.
inline constexpr uint64_t XZ_MEMORY_LIMIT = uint64_t{256} << 20;

// ---- Container entry points (see byte_source.h) ------------------------------------------------
// Starts the decoder on `file`. Its record and input buffer come from `pool`; the decoder's own
// storage (the dictionary, up to megabytes, beyond a pool block) from the heap, returned by
// XzClose. Null when the decoder cannot start.
void* XzOpen(SourceFile* file, MemoryPool* pool);
// Data that is neither another stream nor padding fails the read, as a cut or damaged stream
// does.
DecodeResult XzRead(void* reader, char* out, int32_t want);
// Ends the decoder; the file stays open for its owner.
void XzClose(void* reader);
