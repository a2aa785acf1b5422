#pragma once
// Input streams: one log file (plain, gzip, bzip2 or zip, recognised by its first bytes)
// read through one sliding window of decoded text that is always NUL-terminated.

#include <cstdint>
#include <cstdio>

#include "input/file_spec.h"
#include "input/memory_pool.h"

struct InputFile;

// Opens the file with spec.Open("rb"), detects its type and reads the first chunk.
// Null when the file cannot be opened (the caller reports it).
InputFile* INOpen(const FileSpec& spec, MemoryPool* pool);

// The same over an already-open stream, which the input then owns. Null for a null stream.
InputFile* INAttach(std::FILE* file, MemoryPool* pool);

// The first unread byte, or null at the end of the input. The unread data is writable and
// NUL-terminated; a line of up to 8192 bytes is always whole in it.
char* INPeek(InputFile* in);

// Releases `len` bytes (0 < len <= unread + 1; one more than is left is accepted for a
// last line without a line end). The bytes of the current line stay in place until then.
void INAdvance(InputFile* in, int32_t len);

// Releases the decoder and closes the file stream.
void INClose(InputFile* in);
