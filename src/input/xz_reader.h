#pragma once
// The xz reader: every xz stream of a file, one after the other, with the stream padding xz
// allows between and after them, through liblzma.

#include <cstddef>
#include <cstdint>

#include "input/byte_source.h"
#include "input/memory_pool.h"

// ---- Limits ------------------------------------------------------------------------------------
// The largest dictionary a file may ask for: that of xz -9, the largest preset. A file whose
// first block asks for more is refused at the start, saying what it needs; a later block
// that does fails its read (the decoder's memory limit is this and a little more).
inline constexpr uint64_t XZ_DICTIONARY_LIMIT = uint64_t{64} << 20;
inline constexpr uint64_t XZ_MEMORY_LIMIT = XZ_DICTIONARY_LIMIT + (uint64_t{1} << 20);

// The dictionary the first block of the stream at `data` asks for; 0 when the bytes do not
// show it (an empty stream, a header cut short, a block without LZMA2).
uint64_t XzFirstDictionary(const uint8_t* data, size_t size);

// ---- Container entry points (see byte_source.h) ------------------------------------------------
// Starts the decoder on `file`. Its record and input buffer come from `pool`; the decoder's own
// storage (the dictionary, up to megabytes, beyond a pool block) from the heap, returned by
// XzClose. Null when the decoder cannot start; when the first block's dictionary is over
// XZ_DICTIONARY_LIMIT, the file's `refusal` says so.
void* XzOpen(SourceFile* file, MemoryPool* pool);
// Data that is neither another stream nor padding fails the read, as a cut or damaged stream
// does.
DecodeResult XzRead(void* reader, char* out, int32_t want);
// Ends the decoder; the file stays open for its owner.
void XzClose(void* reader);
