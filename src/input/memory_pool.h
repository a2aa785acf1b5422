#pragma once
// The memory pool: an arena for everything that lives exactly as long as one merge
// (input records, decoder working storage). Bump allocation from 256 KB blocks, no
// individual free, everything released at once; released blocks are kept in a
// process-wide spare list for the next pool.

#include <cstdint>
#include <cstdio>

inline constexpr int32_t MP_BLOCK_SIZE = 262144;  // usable bytes of a block; largest request
inline constexpr uint32_t POOL_KEY = 0x3274065C;  // signature of a live pool
// Alignment of MPAllocAligned: enough for pointers and 64-bit integers on this machine.
inline constexpr int32_t MP_ALIGN = 8;

struct MemoryPool;

// ---- The process-wide lock -------------------------------------------------------------
// Create and close the lock that guards the spare-block list; called once by main.
// MPLockFini also returns the spare blocks to the heap (the program is ending).
void MPLockInit();
void MPLockFini();

// ---- Pools -----------------------------------------------------------------------------
// A new, empty pool.
MemoryPool* MPNew();
// `size` bytes rounded up to a multiple of 4, aligned to 4, not cleared. Stops the program
// with an internal-check report when 0 < rounded size <= MP_BLOCK_SIZE does not hold, or
// when no block can be obtained ("Ran out of memory!").
void* MPAlloc(MemoryPool* pool, int32_t size);
// The same, aligned to MP_ALIGN (4 bytes of room may be skipped to get there). Records that
// hold pointers or 64-bit values (input records, decoder state) come from here.
void* MPAllocAligned(MemoryPool* pool, int32_t size);
// Releases the pool and everything taken from it; its blocks become spare. Disposing of
// something that is not a live pool (twice, or a stray pointer) is an internal error.
void MPDispose(MemoryPool* pool);

// ---- Inspection (statistics and tests) --------------------------------------------------
// Free bytes at the end of the current block, and the number of blocks the pool holds.
int32_t MPRoom(const MemoryPool* pool);
int32_t MPBlockCount(const MemoryPool* pool);

// ---- Allocator adapters ----------------------------------------------------------------
// Each adapter is a small cache of blocks ("slots", one or more per size class of the
// decoder's working-storage requests) taken from the pool, so that a decoder that frees
// and allocates the same sizes again reuses the same pool bytes.

// Takes a gzip slot cache from `pool` and installs its callbacks as the allocator of
// every gzip stream opened from now on (SetGzipAllocator), reader or writer.
void MPHookGzip(MemoryPool* pool);

// bzip2's allocation callbacks; all null means libbz2's own (the heap).
struct Bzip2Allocator {
  void* (*bzalloc)(void* opaque, int items, int size) = nullptr;
  void (*bzfree)(void* opaque, void* address) = nullptr;
  void* opaque = nullptr;
};
// Takes a bzip2 slot cache from `pool` and installs it as the allocator of every bzip2
// stream opened from now on.
void MPHookBzip2(MemoryPool* pool);
// The allocator a bzip2 stream opened now takes.
const Bzip2Allocator& CurrentBzip2Allocator();

// An open zip archive: minizip's handle and the slot cache its member decoders take their
// storage from (minizip itself accepts no allocator; its small records come from the heap).
struct ZipArchive {
  void* unz;    // minizip's unzFile
  void* cache;  // zip slot cache: pass to MPZipAlloc / MPZipFree
};
// Takes a zip slot cache from `pool` and opens the zip archive on the already-open stream
// `file`, which stays open when the archive is closed. Null when it is not an archive.
ZipArchive* MPOpenZip(MemoryPool* pool, std::FILE* file);
// Closes an archive opened with MPOpenZip (the stream stays open; the record is pool memory).
void MPCloseZip(ZipArchive* archive);

// The adapters' callbacks, with the cache as context (exposed for tests and the decoders).
void* MPNewGzipCache(MemoryPool* pool);
void* MPGzipAlloc(void* cache, unsigned items, unsigned size);
void MPGzipFree(void* cache, void* address);
void* MPNewZipCache(MemoryPool* pool);
void* MPZipAlloc(void* cache, unsigned items, unsigned size);
void MPZipFree(void* cache, void* address);
void* MPNewBzip2Cache(MemoryPool* pool);
void* MPBzip2Alloc(void* cache, int items, int size);
void MPBzip2Free(void* cache, void* address);
