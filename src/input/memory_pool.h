#pragma once
// The memory pool: an arena for everything that lives exactly as long as one merge
// (input records, decoder working storage). Bump allocation from 256 KB blocks, no
// individual free, everything released at once; released blocks are kept in a
// process-wide spare list for the next pool.

#include <cstdint>

inline constexpr int32_t MP_BLOCK_SIZE = 262144;    // usable bytes of a block; largest request
inline constexpr uint32_t POOL_KEY = 0x3274065C;    // signature of a live pool

struct MemoryPool;

// ---- The process-wide lock -------------------------------------------------------------
// Create and close the lock that guards the spare-block list; called once by main.
void MPLockInit();
void MPLockFini();

// ---- Pools -----------------------------------------------------------------------------
// A new, empty pool.
MemoryPool* MPNew();
// `size` bytes rounded up to a multiple of 4, aligned to 4, not cleared. Stops the program
// with an internal-check report when 0 < rounded size <= MP_BLOCK_SIZE does not hold, or
// when no block can be obtained ("Ran out of memory!").
void* MPAlloc(MemoryPool* pool, int32_t size);
// Releases the pool and everything taken from it; its blocks become spare.
void MPDispose(MemoryPool* pool);
