#include "input/memory_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "input/input.h"
#include "pool_environment.h"
#include "report_to_stderr.h"

namespace {

using testing_support::ReportToStderr;

uintptr_t Address(const void* p) {
  return reinterpret_cast<uintptr_t>(p);
}

// ---- Bump allocation ------------------------------------------------------------------------

TEST(MemoryPool, RequestsAreRoundedToFourBytes) {
  MemoryPool* pool = MPNew();
  EXPECT_EQ(MPRoom(pool), 0);
  const struct {
    int32_t size;
    int32_t taken;
  } cases[] = {{1, 4}, {3, 4}, {4, 4}, {5, 8}, {41000, 41000}, {41001, 41004}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    MPAlloc(pool, 4);  // make sure a block exists
    const int32_t before = MPRoom(pool);
    char* p = static_cast<char*>(MPAlloc(pool, c.size));
    EXPECT_EQ(before - MPRoom(pool), c.taken);
    EXPECT_EQ(Address(p) % 4, 0u);
    char* q = static_cast<char*>(MPAlloc(pool, 4));
    EXPECT_EQ(q - p, c.taken);
  }
  MPDispose(pool);
}

TEST(MemoryPool, AWholeBlockRequestTakesOneBlock) {
  MemoryPool* pool = MPNew();
  void* p = MPAlloc(pool, MP_BLOCK_SIZE);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(MPRoom(pool), 0);
  EXPECT_EQ(MPBlockCount(pool), 1);
  MPAlloc(pool, 1);
  EXPECT_EQ(MPBlockCount(pool), 2);
  EXPECT_EQ(MPRoom(pool), MP_BLOCK_SIZE - 4);
  MPDispose(pool);
}

TEST(MemoryPool, SixInputRecordsShareABlockAndTheSeventhStartsANewOne) {
  MemoryPool* pool = MPNew();
  char* first = static_cast<char*>(MPAlloc(pool, 41000));
  for (int i = 1; i < 6; ++i) {
    EXPECT_EQ(static_cast<char*>(MPAlloc(pool, 41000)), first + 41000 * i);
  }
  EXPECT_EQ(MPRoom(pool), MP_BLOCK_SIZE - 246000);
  char* seventh = static_cast<char*>(MPAlloc(pool, 41000));
  EXPECT_EQ(MPBlockCount(pool), 2);
  EXPECT_EQ(MPRoom(pool), MP_BLOCK_SIZE - 41000);
  // The new block is the current one: the next record follows the seventh.
  EXPECT_EQ(static_cast<char*>(MPAlloc(pool, 41000)), seventh + 41000);
  MPDispose(pool);
}

TEST(MemoryPool, ALargeRequestGetsItsOwnBlockWhenTheCurrentOneHasMoreRoom) {
  MemoryPool* pool = MPNew();
  char* start = static_cast<char*>(MPAlloc(pool, MP_BLOCK_SIZE - 20000));
  ASSERT_EQ(MPRoom(pool), 20000);
  char* large = static_cast<char*>(MPAlloc(pool, 250000));
  EXPECT_EQ(MPRoom(pool), 20000);
  EXPECT_EQ(MPBlockCount(pool), 2);
  // The old block stays current.
  EXPECT_EQ(static_cast<char*>(MPAlloc(pool, 100)), start + (MP_BLOCK_SIZE - 20000));
  EXPECT_NE(large, nullptr);
  MPDispose(pool);
}

TEST(MemoryPool, AnEqualSplitMakesTheNewBlockCurrent) {
  MemoryPool* pool = MPNew();
  MPAlloc(pool, MP_BLOCK_SIZE - 12000);  // room 12000
  char* p =
      static_cast<char*>(MPAlloc(pool, MP_BLOCK_SIZE - 12000));  // leaves 12000 in the new block
  EXPECT_EQ(MPRoom(pool), 12000);
  EXPECT_EQ(static_cast<char*>(MPAlloc(pool, 4)), p + (MP_BLOCK_SIZE - 12000));
  MPDispose(pool);
}

TEST(MemoryPool, SpareBlocksAreReusedBeforeTheHeap) {
  MemoryPool* first = MPNew();
  void* a = MPAlloc(first, MP_BLOCK_SIZE);
  void* b = MPAlloc(first, MP_BLOCK_SIZE);
  MPDispose(first);
  MemoryPool* second = MPNew();
  void* c = MPAlloc(second, MP_BLOCK_SIZE);
  void* d = MPAlloc(second, MP_BLOCK_SIZE);
  EXPECT_TRUE((c == a && d == b) || (c == b && d == a));
  MPDispose(second);
}

TEST(MemoryPool, AlignedRequestsSkipToPointerAlignment) {
  MemoryPool* pool = MPNew();
  char* odd = static_cast<char*>(MPAlloc(pool, 4));
  void* aligned = MPAllocAligned(pool, 16);
  EXPECT_EQ(Address(aligned) % MP_ALIGN, 0u);
  EXPECT_EQ(static_cast<char*>(aligned), odd + 8);
  // Already aligned: nothing is skipped.
  EXPECT_EQ(static_cast<char*>(MPAllocAligned(pool, 8)), static_cast<char*>(aligned) + 16);
  MPDispose(pool);
}

// ---- Internal checks ------------------------------------------------------------------------

using MemoryPoolDeathTest = ::testing::Test;

TEST(MemoryPoolDeathTest, BadSizesAreInternalErrors) {
  for (int32_t size : {0, -4, MP_BLOCK_SIZE + 1, INT32_MAX}) {
    SCOPED_TRACE(size);
    EXPECT_EXIT(
        {
          ReportToStderr();
          MemoryPool* pool = MPNew();
          MPAlloc(pool, size);
        },
        ::testing::ExitedWithCode(1),
        "Assertion \\(size>0 && size<=MP_BLOCK_SIZE\\) failed in \"MemoryPool\" on line [0-9]+");
  }
}

TEST(MemoryPoolDeathTest, DisposingTwiceIsAnInternalError) {
  EXPECT_EXIT(
      {
        ReportToStderr();
        MemoryPool* pool = MPNew();
        MPDispose(pool);
        MPDispose(pool);
      },
      ::testing::ExitedWithCode(1), "Assertion \\(pool->key==POOL_KEY\\) failed in \"MemoryPool\"");
}

TEST(MemoryPoolDeathTest, DisposingAStrayPointerIsAnInternalError) {
  EXPECT_EXIT(
      {
        ReportToStderr();
        alignas(8) static char not_a_pool[64] = {};
        MPDispose(reinterpret_cast<MemoryPool*>(not_a_pool));
      },
      ::testing::ExitedWithCode(1), "Assertion \\(pool->key==POOL_KEY\\) failed in \"MemoryPool\"");
}

TEST(MemoryPoolDeathTest, ANullPoolIsAnInternalError) {
  EXPECT_EXIT(
      {
        ReportToStderr();
        MPAlloc(nullptr, 4);
      },
      ::testing::ExitedWithCode(1), "Assertion \\(pool!=nil\\) failed in \"MemoryPool\"");
}

TEST(MemoryPoolDeathTest, NoBlockWithoutTheLockIsOutOfMemory) {
  EXPECT_EXIT(
      {
        ReportToStderr();
        MPLockFini();  // in the child only: the lock is gone, so no block can be obtained
        MemoryPool* pool = MPNew();
        MPAlloc(pool, 4);
      },
      ::testing::ExitedWithCode(1), "^Out of memory\\.\n$");
}

// ---- Adapters -------------------------------------------------------------------------------

TEST(Bzip2Adapter, FourStatesFromThePoolEverythingElseFromTheHeap) {
  MemoryPool* pool = MPNew();
  const Bzip2Allocator a = MPBzip2Allocator(pool);
  void* state[5];
  for (void*& p : state) p = a.bzalloc(a.opaque, 1, 64144);
  const int32_t room = MPRoom(pool);
  a.bzfree(a.opaque, state[0]);
  EXPECT_EQ(a.bzalloc(a.opaque, 64144, 1), state[0]);
  // The fifth and the large arrays come from the heap and go back there (LeakSanitizer
  // would report them otherwise); the pool does not move.
  a.bzfree(a.opaque, state[4]);
  void* big = a.bzalloc(a.opaque, 4, 900000);
  ASSERT_NE(big, nullptr);
  a.bzfree(a.opaque, big);
  a.bzfree(a.opaque, nullptr);
  EXPECT_EQ(MPRoom(pool), room);
  MPDispose(pool);
}

TEST(Adapters, EachAllocatorHasACacheOfItsOwnInThePoolItCameFrom) {
  MemoryPool* first = MPNew();
  MemoryPool* second = MPNew();
  const Bzip2Allocator a = MPBzip2Allocator(first);
  const Bzip2Allocator b = MPBzip2Allocator(first);
  const Bzip2Allocator c = MPBzip2Allocator(second);
  EXPECT_NE(a.opaque, b.opaque);
  void* from_a = a.bzalloc(a.opaque, 1, 64144);
  // Another cache of the same pool does not hand out a's slot, even once a gave it back.
  a.bzfree(a.opaque, from_a);
  EXPECT_NE(b.bzalloc(b.opaque, 1, 64144), from_a);
  // An allocator takes its bytes from its own pool only.
  const int32_t first_room = MPRoom(first);
  const int32_t second_room = MPRoom(second);
  c.bzalloc(c.opaque, 1, 64144);
  EXPECT_EQ(MPRoom(first), first_room);
  EXPECT_LT(MPRoom(second), second_room);
  MPDispose(first);
  // Disposing one pool leaves another pool's allocator working.
  EXPECT_NE(c.bzalloc(c.opaque, 64144, 1), nullptr);
  MPDispose(second);
}

}  // namespace
