// Waiting for a condition in tests that involve threads or timers: the main
// thread keeps handling its messages while it waits, and the time limit is
// generous, because these machines are shared and noisy.
#pragma once

#include <chrono>
#include <functional>

#include "platform/application.h"

namespace velmar::test {

// True as soon as Condition holds; false when Limit passed first.
inline bool WaitUntil(const std::function<bool()>& Condition,
                      std::chrono::milliseconds Limit = std::chrono::seconds(20)) {
  const auto End = std::chrono::steady_clock::now() + Limit;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() >= End) return false;
    Wait(2, true);
  }
  return true;
}

}  // namespace velmar::test
