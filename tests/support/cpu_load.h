// Every core kept busy while the object lives: a test's "under load".
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace velmar::test {

class CpuLoad {
 public:
  CpuLoad() {
    for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i)
      FHogs.emplace_back([this] {
        volatile std::uint64_t x = 0;
        while (!FStop.load(std::memory_order_relaxed)) x = x + 1;
      });
  }
  ~CpuLoad() {
    FStop = true;
    for (auto& t : FHogs) t.join();
  }
  CpuLoad(const CpuLoad&) = delete;
  CpuLoad& operator=(const CpuLoad&) = delete;

 private:
  std::atomic<bool> FStop{false};
  std::vector<std::thread> FHogs;
};

}  // namespace velmar::test
