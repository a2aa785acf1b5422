#pragma once
// The memory pool: an arena for everything that lives exactly as long as one merge
// (input records, decoder working storage). Bump allocation from 256 KB blocks, no
// individual free, everything released at once; released blocks are kept in a
// process-wide spare list for the next pool.

#include <cstdint>

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
// with an internal-check report when 0 < rounded size <= MP_BLOCK_SIZE does not hold; ends
// the run with "Out of memory." when no block can be obtained.
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

// ---- Decoder allocators ------------------------------------------------------------------
// Allocation callbacks with the libraries' signatures and the context they are called with.
// A decoder is handed one when it is opened and keeps it for its whole life; all null means
// the library's own (the heap).
struct Bzip2Allocator {
  void* (*bzalloc)(void* opaque, int items, int size) = nullptr;
  void (*bzfree)(void* opaque, void* address) = nullptr;
  void* opaque = nullptr;
};

// ---- Allocator adapters ----------------------------------------------------------------
// Each call takes a new slot cache from `pool`: a small set of blocks ("slots", one or more
// per size class of the decoder's working-storage requests), so that a decoder that frees and
// allocates the same sizes again reuses the same pool bytes. The allocator it returns is
// valid until the pool is disposed; requests no slot serves are taken from the pool uncached.

// For a bzip2 reader: the decompressor state, stream after stream. Its block-sorting arrays
// (up to 3.6 MB) exceed a pool block and come from the heap, and go back there when freed.
Bzip2Allocator MPBzip2Allocator(MemoryPool* pool);
