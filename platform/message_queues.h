// Internal to platform/: the queues behind messages.h, kept under the signal
// lock of sync.h so that waits can watch queues and events together.
#pragma once

#include <thread>

namespace velmar {

struct TMessageQueues {
  // With the signal lock held: whether Thread's queue holds a message.
  static bool HasMessageLocked(std::thread::id Thread);
};

}  // namespace velmar
