#pragma once
// The zip reader: every member of a zip archive, in the order of its directory, joined
// without a separator. minizip reads the archive and hands over each member's stored bytes;
// deflated members go through the shared inflate loop. Stored and deflated members are read.

#include <cstdint>

#include "input/byte_source.h"
#include "input/memory_pool.h"

// ---- Container entry points (see byte_source.h) ------------------------------------------------
// Opens the archive on `file` and its first member; one inflate state from `pool` serves
// member after member. The archive is read at offsets from the
// source's start, so the file must be able to seek. Null (archive closed) when `file` holds
// no archive, cannot seek, or its first member cannot be read.
void* ZipOpen(SourceFile* file, MemoryPool* pool);
// Collects up to `want` bytes from the members, one after the other. A member that ends moves
// the reader to the next one; bytes collected before a failing member are kept. A member that
// exists but cannot be opened (an unsupported method, say) fails the read: its data is lost.
DecodeResult ZipRead(void* reader, char* out, int32_t want);
// Closes the open member, if any, and the archive; the file stays open for its owner.
void ZipClose(void* reader);

// ---- Detection -------------------------------------------------------------------------------
// Whether the file, from the source's start, holds a zip directory minizip can find (a zip
// cut short has none). The descriptor's position does not move.
bool ZipHasDirectory(const SourceFile* file);

// ---- State -------------------------------------------------------------------------------------
// True once no member is open any more: the last one ended, or one failed.
bool ZipMembersDone(const void* reader);
