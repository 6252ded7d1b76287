// The buffer pool of a device: blocks are allocated once per buffer size and
// reused across open/close cycles, so that nothing is allocated while streaming.
// Allocate takes the first free block of exactly the size asked for, else the
// first free block that is large enough, else a new block. Release returns a
// block to the pool; FreeAll gives every block back to the system.
// Owned by its device; every operation takes the pool's lock, so any thread may
// call it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/sync.h"

namespace velmar {

// Allocation flag: zero-initialised memory.
inline constexpr std::uint32_t GMEM_ZEROINIT = 64;

class TMMAllocator {
 public:
  TMMAllocator() = default;
  ~TMMAllocator();
  TMMAllocator(const TMMAllocator&) = delete;
  TMMAllocator& operator=(const TMMAllocator&) = delete;

  // A block of at least Size bytes, or null when memory runs out. A reused block
  // keeps its old contents.
  void* Allocate(std::uint32_t Flags, std::uint32_t Size);
  // Gives Block back to the pool and sets it to null; a block that is not from
  // this pool is ignored and keeps its value.
  void Release(void*& Block);
  // Returns every block to the system, last first.
  void FreeAll();

  int BlockCount();

 private:
  struct TEntry {
    void* Block;
    std::uint32_t Size;
    int UseCount;
  };
  TCriticalSection FLock;
  std::vector<TEntry> FBlocks;
};

}  // namespace velmar
