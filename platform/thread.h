// The platform thread class: a worker thread created suspended, with a body
// (Execute), a terminated flag, optional self-destruction when the body ends, a
// priority, and Synchronize, which runs a function on the main thread and waits.
//
// Ownership: a thread with FreeOnTerminate deletes itself when its body ends;
// otherwise its owner deletes it (which terminates and waits for the body).
// Execute runs on the new thread; everything else is called by the owner, except
// Synchronize and Terminated, which the body calls.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/messages.h"
#include "platform/sync.h"

namespace velmar {

enum class TThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// The platform priority of a TThreadPriority: -15, -2, -1, 0, 1, 2, 15.
int PlatformPriority(TThreadPriority Priority);

// Applies a priority to the calling thread where the system allows it; a process
// that may not raise its priority carries on at the old one. True if applied.
bool ApplyThreadPriority(TThreadPriority Priority);
// The same for a running thread known by its system id (CurrentSystemThreadId).
bool ApplyThreadPriorityTo(int SystemThreadId, TThreadPriority Priority);
int CurrentSystemThreadId();

// Names the calling thread for the system's tools (top -H, debuggers, the
// benchmarks' per-thread figures); at most 15 characters are kept.
void NameCurrentThread(const char* Name);

class TThread {
 public:
  explicit TThread(bool CreateSuspended);
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts a suspended thread (once).
  void Resume();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  // Waits for the body to end (not for a FreeOnTerminate thread).
  void WaitFor();

  bool FreeOnTerminate() const { return FFreeOnTerminate; }
  void SetFreeOnTerminate(bool Value) { FFreeOnTerminate = Value; }
  TThreadPriority Priority() const { return FPriority; }
  // Stored; applied by the thread itself at once when running.
  void SetPriority(TThreadPriority Value);
  TThreadId ThreadID() const { return FId; }
  bool Suspended() const { return !FStarted; }
  bool Finished() const { return FFinished; }

  // Runs Method on the main thread and waits for it (directly when called there).
  // An exception of Method is rethrown here.
  static void Synchronize(const std::function<void()>& Method);

 protected:
  virtual void Execute() = 0;

 private:
  void Run();

  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFreeOnTerminate{false};
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FFinished{false};
  std::atomic<TThreadPriority> FPriority{TThreadPriority::tpNormal};
  std::atomic<bool> FPriorityChanged{false};
  std::atomic<int> FTid{0};  // the system's id of the running thread
  TThreadId FId;
  TEvent FStartEvent{true};
};

}  // namespace velmar
