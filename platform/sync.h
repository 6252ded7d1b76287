// Synchronisation primitives: events (auto- and manual-reset), critical sections,
// and waiting for any of several events or for a thread's message.
//
// Events and message queues share one signal lock and one condition variable, so
// that a thread can wait for "a message or one of these events" without polling.
// The lock is held only to change or test a flag or a queue, never while user
// code runs. All functions may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace velmar {

inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 258;

class TEvent {
 public:
  // Auto-reset events release one waiter and reset themselves; manual-reset events
  // stay set until Reset.
  explicit TEvent(bool ManualReset, bool InitialState = false);
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  // WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT otherwise.
  std::uint32_t WaitFor(std::uint32_t Milliseconds);
  bool ManualReset() const { return FManualReset; }

 private:
  friend struct TSignal;
  bool FManualReset;
  bool FSignalled;
};

// A recursive lock, entered and left explicitly.
class TCriticalSection {
 public:
  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }
  bool TryEnter() { return FMutex.try_lock(); }

 private:
  std::recursive_mutex FMutex;
};

// Holds a critical section for a scope.
class TLockGuard {
 public:
  explicit TLockGuard(TCriticalSection& Section) : FSection(Section) { FSection.Enter(); }
  ~TLockGuard() { FSection.Leave(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  TCriticalSection& FSection;
};

// The shared signal lock and condition variable behind events and queues.
struct TSignal {
  static std::mutex& Mutex();
  static std::condition_variable& Changed();
  // Under the lock: whether Event is set, consuming it when it is auto-reset.
  static bool TakeLocked(TEvent& Event);
};

// Waits until one of Events is set (WAIT_OBJECT_0 + its index, the first set one
// wins), or with WakeOnMessage until the calling thread's message queue holds a
// message (WAIT_OBJECT_0 + Events.size()), or until the time runs out
// (WAIT_TIMEOUT).
std::uint32_t MsgWaitForMultipleObjects(const std::vector<TEvent*>& Events, bool WakeOnMessage,
                                        std::uint32_t Milliseconds);

}  // namespace velmar
