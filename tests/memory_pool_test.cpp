#include "input/memory_pool.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "compressed_fixtures.h"
#include "input/input.h"
#include "pool_environment.h"
#include "report_to_stderr.h"

namespace {

using testing_support::GzipBytes;
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

TEST(GzipAdapter, TwoCopiesThenTheOverflowClassThenUncached) {
  MemoryPool* pool = MPNew();
  const ZlibAllocator a = MPGzipAllocator(pool);
  void* held[5];
  for (void*& p : held) p = a.zalloc(a.opaque, 65536, 1);
  // The first four come from slots: given back and asked for again, the same bytes return.
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    a.zfree(a.opaque, held[i]);
    EXPECT_EQ(a.zalloc(a.opaque, 1, 65536), held[i]);
  }
  // The fifth is not cached: freeing it changes nothing, and asking again takes new bytes.
  const int32_t room = MPRoom(pool);
  a.zfree(a.opaque, held[4]);
  void* again = a.zalloc(a.opaque, 65536, 1);
  EXPECT_NE(again, held[4]);
  EXPECT_LT(MPRoom(pool), room);
  MPDispose(pool);
}

TEST(GzipAdapter, ClassesServeTheirBlockSizeAndUnknownSizesAreUncached) {
  MemoryPool* pool = MPNew();
  const ZlibAllocator a = MPGzipAllocator(pool);
  const struct {
    unsigned size;
    bool cached;
  } cases[] = {{1, true},     {16, true},    {200, true},   {700, true},   {2048, true},
               {5952, true},  {7160, true},  {16384, true}, {32768, true}, {300, false},
               {3000, false}, {7161, false}, {40000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    void* p = a.zalloc(a.opaque, 1, c.size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % MP_ALIGN, 0u);
    static_cast<char*>(p)[c.size - 1] = 1;  // the whole request is usable
    a.zfree(a.opaque, p);
    EXPECT_EQ(a.zalloc(a.opaque, c.size, 1) == p, c.cached);
    a.zfree(a.opaque, p);
  }
  // Requests a pool block cannot hold are refused, not fatal.
  EXPECT_EQ(a.zalloc(a.opaque, 65536, 8), nullptr);
  MPDispose(pool);
}

TEST(ZipAdapter, OneCopyPerClassWithOverflowForTheWindow) {
  MemoryPool* pool = MPNew();
  const ZlibAllocator z = MPZipAllocator(pool);
  void* a = z.zalloc(z.opaque, 1, 32768);
  void* b = z.zalloc(z.opaque, 32768, 1);  // overflow class
  void* c = z.zalloc(z.opaque, 32768, 1);  // uncached
  z.zfree(z.opaque, a);
  z.zfree(z.opaque, b);
  z.zfree(z.opaque, c);
  EXPECT_EQ(z.zalloc(z.opaque, 32768, 1), a);
  EXPECT_EQ(z.zalloc(z.opaque, 32768, 1), b);
  EXPECT_NE(z.zalloc(z.opaque, 32768, 1), c);
  // The inflate state has one slot: a second one while it is held is uncached.
  void* s1 = z.zalloc(z.opaque, 1, 7160);
  void* s2 = z.zalloc(z.opaque, 1, 7160);
  z.zfree(z.opaque, s2);
  z.zfree(z.opaque, s1);
  EXPECT_EQ(z.zalloc(z.opaque, 1, 7160), s1);
  MPDispose(pool);
}

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
  const ZlibAllocator a = MPGzipAllocator(first);
  const ZlibAllocator b = MPGzipAllocator(first);
  const ZlibAllocator c = MPGzipAllocator(second);
  EXPECT_NE(a.opaque, b.opaque);
  void* from_a = a.zalloc(a.opaque, 1, 32768);
  // Another cache of the same pool does not hand out a's slot, even once a gave it back.
  a.zfree(a.opaque, from_a);
  EXPECT_NE(b.zalloc(b.opaque, 1, 32768), from_a);
  // An allocator takes its bytes from its own pool only.
  const int32_t first_room = MPRoom(first);
  const int32_t second_room = MPRoom(second);
  c.zalloc(c.opaque, 1, 32768);
  EXPECT_EQ(MPRoom(first), first_room);
  EXPECT_LT(MPRoom(second), second_room);
  MPDispose(first);
  // Disposing one pool leaves another pool's allocator working.
  EXPECT_NE(c.zalloc(c.opaque, 1, 7160), nullptr);
  MPDispose(second);
}

// ---- Measured class tables: open and close again and again without growing the pool ------

TEST(GzipAdapter, RepeatedInflateStreamsLeaveThePoolAlone) {
  MemoryPool* pool = MPNew();
  const ZlibAllocator allocator = MPGzipAllocator(pool);
  int32_t room_after_first = 0;
  int32_t blocks_after_first = 0;
  for (int round = 0; round < 50; ++round) {
    z_stream inflater{};
    inflater.zalloc = allocator.zalloc;
    inflater.zfree = allocator.zfree;
    inflater.opaque = allocator.opaque;
    ASSERT_EQ(inflateInit2(&inflater, 15 + 16), Z_OK);
    // Decode a little so that the window is allocated too.
    unsigned char packed[256];
    uLongf packed_len = sizeof packed;
    ASSERT_EQ(compress(packed, &packed_len, reinterpret_cast<const Bytef*>("abc\n"), 4), Z_OK);
    inflateEnd(&inflater);
    ASSERT_EQ(inflateInit2(&inflater, 15), Z_OK);
    unsigned char out[8];
    inflater.next_in = packed;
    inflater.avail_in = static_cast<uInt>(packed_len);
    inflater.next_out = out;
    inflater.avail_out = 2;  // partial output makes inflate keep a window
    ASSERT_EQ(inflate(&inflater, Z_NO_FLUSH), Z_OK);
    inflateEnd(&inflater);

    if (round == 0) {
      room_after_first = MPRoom(pool);
      blocks_after_first = MPBlockCount(pool);
    }
  }
  EXPECT_EQ(MPRoom(pool), room_after_first);
  EXPECT_EQ(MPBlockCount(pool), blocks_after_first);
  MPDispose(pool);
}

}  // namespace
