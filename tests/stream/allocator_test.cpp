#include "stream/allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace velmar {
namespace {

TEST(Allocator, FirstFitAndReuse) {
  TMMAllocator Pool;
  void* a = Pool.Allocate(GMEM_ZEROINIT, 2108);
  void* b = Pool.Allocate(GMEM_ZEROINIT, 2108);
  ASSERT_TRUE(a && b && a != b);
  EXPECT_EQ(static_cast<char*>(a)[2107], 0);
  std::memset(a, 0x5A, 2108);
  void* KeepA = a;
  void* KeepB = b;
  Pool.Release(a);
  Pool.Release(b);
  EXPECT_EQ(a, nullptr);
  void* Again = Pool.Allocate(GMEM_ZEROINIT, 2108);
  EXPECT_EQ(Again, KeepA);
  EXPECT_EQ(static_cast<unsigned char*>(Again)[0], 0x5A);  // reused blocks are not cleared
  void* Smaller = Pool.Allocate(GMEM_ZEROINIT, 1000);
  EXPECT_EQ(Smaller, KeepB);  // first free block that is large enough
  void* Larger = Pool.Allocate(GMEM_ZEROINIT, 4000);
  EXPECT_NE(Larger, KeepA);
  EXPECT_NE(Larger, KeepB);
  EXPECT_EQ(Pool.BlockCount(), 3);
}

TEST(Allocator, ExactSizeWinsOverAnEarlierLargerBlock) {
  TMMAllocator Pool;
  void* Big = Pool.Allocate(0, 4000);
  void* Exact = Pool.Allocate(0, 1000);
  void* BigKeep = Big;
  void* ExactKeep = Exact;
  Pool.Release(Big);
  Pool.Release(Exact);
  EXPECT_EQ(Pool.Allocate(0, 1000), ExactKeep);
  EXPECT_EQ(Pool.Allocate(0, 1000), BigKeep);
}

TEST(Allocator, ForeignBlocksAreIgnoredAndFreeAllEmptiesThePool) {
  TMMAllocator Pool;
  int Local = 0;
  void* Foreign = &Local;
  Pool.Release(Foreign);
  EXPECT_EQ(Foreign, &Local);
  void* a = Pool.Allocate(GMEM_ZEROINIT, 64);
  Pool.Release(a);
  Pool.FreeAll();
  EXPECT_EQ(Pool.BlockCount(), 0);
  void* Fresh = Pool.Allocate(GMEM_ZEROINIT, 64);
  EXPECT_NE(Fresh, nullptr);
  EXPECT_EQ(Pool.BlockCount(), 1);
}

TEST(Allocator, ThreadsShareAPool) {
  TMMAllocator Pool;
  std::vector<std::thread> Threads;
  for (int t = 0; t < 4; ++t) {
    Threads.emplace_back([&Pool, t] {
      for (int i = 0; i < 2000; ++i) {
        void* b = Pool.Allocate(GMEM_ZEROINIT, static_cast<std::uint32_t>(64 + (i + t) % 5 * 64));
        static_cast<char*>(b)[0] = 1;
        Pool.Release(b);
      }
    });
  }
  for (auto& t : Threads) t.join();
  EXPECT_LE(Pool.BlockCount(), 20);  // reused, not grown per call
}

}  // namespace
}  // namespace velmar
