#include "input/memory_pool.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#include "base/check.h"
#include "base/resource_limits.h"
#include "platform/lock.h"

namespace {

constexpr const char* kModule = "MemoryPool";

// A block: the link word, then MP_BLOCK_SIZE bytes of storage handed out from the start up.
struct Block {
  Block* next;
  alignas(MP_ALIGN) unsigned char storage[MP_BLOCK_SIZE];
};
static_assert(alignof(Block) >= MP_ALIGN);

}  // namespace

struct MemoryPool {
  int32_t room = 0;                 // free bytes at the end of the current block; 0 without one
  Block* blocks = nullptr;          // current block first
  uint32_t key = POOL_KEY;          // POOL_KEY while alive
  MemoryPool* next_live = nullptr;  // the list of live pools, so a stale pointer is caught safely
  // Decoders that read ahead on worker threads take their working storage from the pool
  // too, so allocation is serialised. Allocations are rare (per input and per decoder, never
  // per line), so the lock costs nothing that shows.
  std::mutex allocating;
};

namespace {

Lock* pool_lock = nullptr;
Block* spare_blocks = nullptr;  // released by disposed pools, most recent first
// Every live pool. MPDispose checks membership before touching the record, so disposing
// twice or disposing a stray pointer is reported instead of reading freed memory.
MemoryPool* live_pools = nullptr;

bool IsLive(const MemoryPool* pool) {
  for (const MemoryPool* p = live_pools; p != nullptr; p = p->next_live) {
    if (p == pool) return true;
  }
  return false;
}

void Unlink(MemoryPool* pool) {
  for (MemoryPool** p = &live_pools; *p != nullptr; p = &(*p)->next_live) {
    if (*p == pool) {
      *p = pool->next_live;
      return;
    }
  }
}

// A spare block, or a new one from the heap; null when neither can be had.
Block* ObtainBlock() {
  if (!LockWait(pool_lock)) return nullptr;
  Block* block = spare_blocks;
  if (block != nullptr) {
    spare_blocks = block->next;
  } else {
    block = static_cast<Block*>(std::malloc(sizeof(Block)));
  }
  LockRelease(pool_lock);
  return block;
}

void CheckLivePool(const MemoryPool* pool) {
  if (pool == nullptr) STITCHER_FAIL(kModule, "pool!=nil");
}

}  // namespace

// ---- Lock -------------------------------------------------------------------------------

void MPLockInit() {
  if (pool_lock == nullptr) pool_lock = LockCreate();
}

void MPLockFini() {
  while (spare_blocks != nullptr) {
    Block* next = spare_blocks->next;
    std::free(spare_blocks);
    spare_blocks = next;
  }
  LockClose(pool_lock);
  pool_lock = nullptr;
}

// ---- Pools ------------------------------------------------------------------------------

MemoryPool* MPNew() {
  auto* pool = new (std::nothrow) MemoryPool;
  if (pool == nullptr) STITCHER_FAIL(kModule, "pool!=nil");
  pool->next_live = live_pools;
  live_pools = pool;
  return pool;
}

namespace {

// MPAlloc with the pool's lock held.
void* AllocLocked(MemoryPool* pool, int32_t size) {
  // The rounded size exceeds MP_BLOCK_SIZE exactly when size does (the limit is a multiple
  // of 4), so checking the size as given is the same check.
  // The report quotes the condition as written.
  // clang-format off
  STITCHER_CHECK(kModule, size>0 && size<=MP_BLOCK_SIZE);
  // clang-format on
  const int32_t n = (size + 3) & ~int32_t{3};
  if (n > pool->room) {
    Block* block = ObtainBlock();
    if (block == nullptr) EndOutOfMemory();
    if (MP_BLOCK_SIZE - n < pool->room) {
      // The current block keeps more room than the new one would: the new block serves
      // this request alone and goes behind the current one.
      block->next = pool->blocks->next;
      pool->blocks->next = block;
      return block->storage;
    }
    block->next = pool->blocks;
    pool->blocks = block;
    pool->room = MP_BLOCK_SIZE;
  }
  void* result = pool->blocks->storage + (MP_BLOCK_SIZE - pool->room);
  pool->room -= n;
  return result;
}

}  // namespace

void* MPAlloc(MemoryPool* pool, int32_t size) {
  CheckLivePool(pool);
  const std::lock_guard hold(pool->allocating);
  return AllocLocked(pool, size);
}

void* MPAllocAligned(MemoryPool* pool, int32_t size) {
  CheckLivePool(pool);
  const std::lock_guard hold(pool->allocating);
  // Blocks start aligned and room is a multiple of 4, so at most 4 bytes are skipped.
  const int32_t misalign = (MP_BLOCK_SIZE - pool->room) % MP_ALIGN;
  if (misalign != 0 && pool->room >= MP_ALIGN - misalign) pool->room -= MP_ALIGN - misalign;
  return AllocLocked(pool, size);
}

void MPDispose(MemoryPool* pool) {
  if (!IsLive(pool)) STITCHER_FAIL(kModule, "pool->key==POOL_KEY");
  // The report quotes the condition as written.
  // clang-format off
  STITCHER_CHECK(kModule, pool->key==POOL_KEY);
  // clang-format on
  pool->key = 0;
  Unlink(pool);
  Block* block = pool->blocks;
  while (block != nullptr) {
    Block* next = block->next;
    if (!LockWait(pool_lock)) STITCHER_FAIL(kModule, "Ran out of memory!");
    block->next = spare_blocks;
    spare_blocks = block;
    LockRelease(pool_lock);
    block = next;
  }
  delete pool;
}

int32_t MPRoom(const MemoryPool* pool) {
  return pool->room;
}

int32_t MPBlockCount(const MemoryPool* pool) {
  int32_t count = 0;
  for (const Block* b = pool->blocks; b != nullptr; b = b->next) ++count;
  return count;
}

// ---- Slot caches ------------------------------------------------------------------------

namespace {

enum SlotState : int32_t { SLOT_FREE = 0, SLOT_BUSY = 1, SLOT_EMPTY = 2 };

// One size class: requests of low..high bytes take a block of `block` bytes. `overflow` is
// the class tried when every copy of this one is busy (-1: none). A class with low > high is
// reached only as an overflow.
struct SizeClass {
  uint32_t low;
  uint32_t high;
  int32_t block;
  int32_t overflow;
};

// The request sizes come from this machine's build of libbz2 1.0.8 (64-bit), measured by
// logging the callbacks.
//
// bzip2 adapter: the decompressor state; its block-sorting arrays (up to 3.6 MB) exceed a
// pool block and come from the heap.
constexpr SizeClass kBzip2Classes[] = {
    {64144, 64144, 64144, -1},  // 0: decompressor state
};
constexpr int kBzip2Copies = 4;

struct Adapter {
  const SizeClass* classes;
  int class_count;
  int copies;
  bool heap_fallback;  // uncached requests (and frees of them) go to the heap, not the pool
  constexpr int Slots() const { return class_count * copies; }
};

template <size_t N>
constexpr Adapter MakeAdapter(const SizeClass (&classes)[N], int copies, bool heap) {
  return Adapter{classes, static_cast<int>(N), copies, heap};
}

constexpr Adapter kBzip2Adapter = MakeAdapter(kBzip2Classes, kBzip2Copies, true);

// The record behind an adapter: the pool, N block pointers, N slot states.
template <int N>
struct SlotCache {
  MemoryPool* pool;
  void* block[N];
  int32_t state[N];
};

using Bzip2Cache = SlotCache<kBzip2Adapter.Slots()>;

template <typename Cache>
Cache* NewCache(MemoryPool* pool) {
  auto* cache = static_cast<Cache*>(MPAllocAligned(pool, sizeof(Cache)));
  cache->pool = pool;
  for (void*& b : cache->block) b = nullptr;
  for (int32_t& s : cache->state) s = SLOT_EMPTY;
  return cache;
}

int FindClass(const Adapter& a, uint64_t n) {
  for (int c = 0; c < a.class_count; ++c) {
    if (a.classes[c].low <= n && n <= a.classes[c].high) return c;
  }
  return -1;
}

// Hands out a slot of class `c` (or of its overflow class); null when all are busy.
template <typename Cache>
void* TakeSlot(const Adapter& a, Cache* cache, int c) {
  for (; c >= 0; c = a.classes[c].overflow) {
    for (int copy = 0; copy < a.copies; ++copy) {
      const int slot = copy * a.class_count + c;
      if (cache->state[slot] == SLOT_BUSY) continue;
      if (cache->state[slot] == SLOT_EMPTY) {
        cache->block[slot] = MPAllocAligned(cache->pool, a.classes[c].block);
      }
      cache->state[slot] = SLOT_BUSY;
      return cache->block[slot];
    }
  }
  return nullptr;
}

template <typename Cache>
void* CacheAlloc(const Adapter& a, void* context, uint64_t n) {
  auto* cache = static_cast<Cache*>(context);
  const int c = FindClass(a, n);
  void* p = c >= 0 ? TakeSlot(a, cache, c) : nullptr;
  if (p != nullptr) return p;
  if (a.heap_fallback) return std::malloc(n == 0 ? 1 : n);
  // The pool cannot serve a request it cannot hold; the decoder then reports a memory error.
  if (n == 0 || n > static_cast<uint64_t>(MP_BLOCK_SIZE)) return nullptr;
  return MPAllocAligned(cache->pool, static_cast<int32_t>(n));
}

template <typename Cache>
void CacheFree(const Adapter& a, void* context, void* address) {
  if (address == nullptr) return;
  auto* cache = static_cast<Cache*>(context);
  for (int slot = 0; slot < a.Slots(); ++slot) {
    if (cache->state[slot] != SLOT_EMPTY && cache->block[slot] == address) {
      cache->state[slot] = SLOT_FREE;
      return;
    }
  }
  // Not ours: heap memory goes back to the heap; pool memory stays until disposal.
  if (a.heap_fallback) std::free(address);
}

uint64_t RequestSize(uint64_t items, uint64_t size) {
  return items * size;  // both below 2^32: no overflow in 64 bits
}

void* Bzip2Alloc(void* cache, int items, int size) {
  if (items < 0 || size < 0) return nullptr;
  return CacheAlloc<Bzip2Cache>(
      kBzip2Adapter, cache, RequestSize(static_cast<uint64_t>(items), static_cast<uint64_t>(size)));
}

void Bzip2Free(void* cache, void* address) {
  CacheFree<Bzip2Cache>(kBzip2Adapter, cache, address);
}

}  // namespace

// ---- Adapters ---------------------------------------------------------------------------

Bzip2Allocator MPBzip2Allocator(MemoryPool* pool) {
  return Bzip2Allocator{Bzip2Alloc, Bzip2Free, NewCache<Bzip2Cache>(pool)};
}
