#include "input/memory_pool.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>

#include "input/gzip_stream.h"
#include "output/gzip_writer.h"
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
      ::testing::ExitedWithCode(1), "Assertion \\(Ran out of memory!\\) failed in \"MemoryPool\"");
}

// ---- Adapters -------------------------------------------------------------------------------

TEST(GzipAdapter, TwoCopiesThenTheOverflowClassThenUncached) {
  MemoryPool* pool = MPNew();
  void* cache = MPNewGzipCache(pool);
  void* held[5];
  for (void*& p : held) p = MPGzipAlloc(cache, 65536, 1);
  // The first four come from slots: given back and asked for again, the same bytes return.
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    MPGzipFree(cache, held[i]);
    EXPECT_EQ(MPGzipAlloc(cache, 1, 65536), held[i]);
  }
  // The fifth is not cached: freeing it changes nothing, and asking again takes new bytes.
  const int32_t room = MPRoom(pool);
  MPGzipFree(cache, held[4]);
  void* again = MPGzipAlloc(cache, 65536, 1);
  EXPECT_NE(again, held[4]);
  EXPECT_LT(MPRoom(pool), room);
  MPDispose(pool);
}

TEST(GzipAdapter, ClassesServeTheirBlockSizeAndUnknownSizesAreUncached) {
  MemoryPool* pool = MPNew();
  void* cache = MPNewGzipCache(pool);
  const struct {
    unsigned size;
    bool cached;
  } cases[] = {{1, true},     {16, true},    {200, true},   {700, true},   {2048, true},
               {5952, true},  {7160, true},  {16384, true}, {32768, true}, {300, false},
               {3000, false}, {7161, false}, {40000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    void* p = MPGzipAlloc(cache, 1, c.size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % MP_ALIGN, 0u);
    static_cast<char*>(p)[c.size - 1] = 1;  // the whole request is usable
    MPGzipFree(cache, p);
    EXPECT_EQ(MPGzipAlloc(cache, c.size, 1) == p, c.cached);
    MPGzipFree(cache, p);
  }
  // Requests a pool block cannot hold are refused, not fatal.
  EXPECT_EQ(MPGzipAlloc(cache, 65536, 8), nullptr);
  MPDispose(pool);
}

TEST(ZipAdapter, OneCopyPerClassWithOverflowForTheWindow) {
  MemoryPool* pool = MPNew();
  void* cache = MPNewZipCache(pool);
  void* a = MPZipAlloc(cache, 1, 32768);
  void* b = MPZipAlloc(cache, 32768, 1);  // overflow class
  void* c = MPZipAlloc(cache, 32768, 1);  // uncached
  MPZipFree(cache, a);
  MPZipFree(cache, b);
  MPZipFree(cache, c);
  EXPECT_EQ(MPZipAlloc(cache, 32768, 1), a);
  EXPECT_EQ(MPZipAlloc(cache, 32768, 1), b);
  EXPECT_NE(MPZipAlloc(cache, 32768, 1), c);
  // The inflate state has one slot: a second one while it is held is uncached.
  void* s1 = MPZipAlloc(cache, 1, 7160);
  void* s2 = MPZipAlloc(cache, 1, 7160);
  MPZipFree(cache, s2);
  MPZipFree(cache, s1);
  EXPECT_EQ(MPZipAlloc(cache, 1, 7160), s1);
  MPDispose(pool);
}

TEST(Bzip2Adapter, FourStatesFromThePoolEverythingElseFromTheHeap) {
  MemoryPool* pool = MPNew();
  void* cache = MPNewBzip2Cache(pool);
  void* state[5];
  for (void*& p : state) p = MPBzip2Alloc(cache, 1, 64144);
  const int32_t room = MPRoom(pool);
  MPBzip2Free(cache, state[0]);
  EXPECT_EQ(MPBzip2Alloc(cache, 64144, 1), state[0]);
  // The fifth and the large arrays come from the heap and go back there (LeakSanitizer
  // would report them otherwise); the pool does not move.
  MPBzip2Free(cache, state[4]);
  void* big = MPBzip2Alloc(cache, 4, 900000);
  ASSERT_NE(big, nullptr);
  MPBzip2Free(cache, big);
  MPBzip2Free(cache, nullptr);
  EXPECT_EQ(MPRoom(pool), room);
  MPDispose(pool);
}

TEST(Adapters, DisposingThePoolPutsTheHeapAllocatorsBack) {
  MemoryPool* pool = MPNew();
  MPHookGzip(pool);
  MPHookBzip2(pool);
  EXPECT_NE(GzipAllocator().zalloc, nullptr);
  EXPECT_NE(CurrentBzip2Allocator().bzalloc, nullptr);
  MPDispose(pool);
  EXPECT_EQ(GzipAllocator().zalloc, nullptr);
  EXPECT_EQ(CurrentBzip2Allocator().bzalloc, nullptr);
}

TEST(Adapters, TheMergedLogWriterTakesNoPoolMemoryWhileAGzipInputIsHooked) {
  MemoryPool* pool = MPNew();
  MPHookGzip(pool);
  const int32_t room = MPRoom(pool);
  const int32_t blocks = MPBlockCount(pool);
  GzipWriter* w = GzipOpenWrite(std::tmpfile(), 6);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(GzipWrite(w, "x\n", 2), 2);
  EXPECT_EQ(MPRoom(pool), room);
  EXPECT_EQ(MPBlockCount(pool), blocks);
  MPDispose(pool);  // the writer outlives the pool it was opened beside
  EXPECT_TRUE(GzipClose(w));
}

TEST(Adapters, DisposingAnotherPoolLeavesTheAllocatorsInstalled) {
  MemoryPool* hooked = MPNew();
  MemoryPool* other = MPNew();
  MPHookGzip(hooked);
  MPHookBzip2(hooked);
  MPDispose(other);
  EXPECT_EQ(GzipAllocator().zalloc, MPGzipAlloc);
  EXPECT_EQ(CurrentBzip2Allocator().bzalloc, MPBzip2Alloc);
  MPDispose(hooked);
}

// ---- Measured class tables: open and close again and again without growing the pool ------

TEST(GzipAdapter, RepeatedInflateStreamsAndTheMergedLogWriterLeaveThePoolAlone) {
  MemoryPool* pool = MPNew();
  MPHookGzip(pool);
  const ZlibAllocator& allocator = GzipAllocator();
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

    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    GzipWriter* w = GzipOpenWrite(sink, 6);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(GzipWrite(w, "line\n", 5), 5);
    ASSERT_TRUE(GzipClose(w));
    // The merged log's writer is on the heap, so only the inflaters touch the pool.
    if (round == 0) {
      room_after_first = MPRoom(pool);
      blocks_after_first = MPBlockCount(pool);
    }
  }
  EXPECT_EQ(MPRoom(pool), room_after_first);
  EXPECT_EQ(MPBlockCount(pool), blocks_after_first);
  SetGzipAllocator(ZlibAllocator{});
  MPDispose(pool);
}

}  // namespace
