#include "stream/allocator.h"

#include <cstdlib>
#include <new>

namespace velmar {

TMMAllocator::~TMMAllocator() {
  FreeAll();
}

void* TMMAllocator::Allocate(std::uint32_t Flags, std::uint32_t Size) {
  TLockGuard Lock(FLock);
  TEntry* Found = nullptr;
  for (TEntry& e : FBlocks) {
    if (e.UseCount == 0 && e.Size == Size) {
      Found = &e;
      break;
    }
  }
  if (!Found) {
    for (TEntry& e : FBlocks) {
      if (e.UseCount == 0 && e.Size >= Size) {
        Found = &e;
        break;
      }
    }
  }
  if (Found) {
    Found->UseCount = 1;
    return Found->Block;
  }
  void* Block =
      (Flags & GMEM_ZEROINIT) ? std::calloc(1, Size ? Size : 1) : std::malloc(Size ? Size : 1);
  if (!Block) return nullptr;
  try {
    FBlocks.push_back({Block, Size, 1});
  } catch (const std::bad_alloc&) {
    std::free(Block);
    return nullptr;
  }
  return Block;
}

void TMMAllocator::Release(void*& Block) {
  TLockGuard Lock(FLock);
  for (TEntry& e : FBlocks) {
    if (e.Block == Block) {
      if (e.UseCount > 0) --e.UseCount;
      Block = nullptr;
      return;
    }
  }
}

void TMMAllocator::FreeAll() {
  TLockGuard Lock(FLock);
  while (!FBlocks.empty()) {
    std::free(FBlocks.back().Block);
    FBlocks.pop_back();
  }
}

int TMMAllocator::BlockCount() {
  TLockGuard Lock(FLock);
  return static_cast<int>(FBlocks.size());
}

}  // namespace velmar
