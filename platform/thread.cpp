#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <exception>
#include <mutex>

namespace velmar {

namespace {

pid_t CurrentTid() {
  return static_cast<pid_t>(::syscall(SYS_gettid));
}

bool ApplyTo(pid_t Tid, TThreadPriority Priority) {
  // A higher platform priority is a lower nice value.
  const int Nice = -PlatformPriority(Priority);
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(Tid), Nice < -20 ? -20 : Nice) == 0;
}

// The window through which worker threads hand functions to the main thread.
struct TSyncCall {
  const std::function<void()>* Method;
  std::exception_ptr Error;
  TEvent Done{true};
};

constexpr UINT kSyncMessage = WM_USER + 0x7F00;

HWND SyncWindow() {
  static HWND Window = AllocateHWnd([](HWND, UINT Message, WPARAM, LPARAM lParam) -> LRESULT {
    if (Message != kSyncMessage) return 0;
    auto* Call = reinterpret_cast<TSyncCall*>(lParam);
    try {
      (*Call->Method)();
    } catch (...) {
      Call->Error = std::current_exception();
    }
    Call->Done.Set();
    return 0;
  });
  return Window;
}

}  // namespace

int PlatformPriority(TThreadPriority Priority) {
  switch (Priority) {
    case TThreadPriority::tpIdle:
      return -15;
    case TThreadPriority::tpLowest:
      return -2;
    case TThreadPriority::tpLower:
      return -1;
    case TThreadPriority::tpNormal:
      return 0;
    case TThreadPriority::tpHigher:
      return 1;
    case TThreadPriority::tpHighest:
      return 2;
    case TThreadPriority::tpTimeCritical:
      return 15;
  }
  return 0;
}

bool ApplyThreadPriority(TThreadPriority Priority) {
  return ApplyTo(CurrentTid(), Priority);
}

bool ApplyThreadPriorityTo(int SystemThreadId, TThreadPriority Priority) {
  return ApplyTo(static_cast<pid_t>(SystemThreadId), Priority);
}

int CurrentSystemThreadId() {
  return static_cast<int>(CurrentTid());
}

void NameCurrentThread(const char* Name) {
  char Short[16] = {};
  std::strncpy(Short, Name, sizeof Short - 1);
  pthread_setname_np(pthread_self(), Short);
}

TThread::TThread(bool CreateSuspended) {
  SyncWindow();  // made while the creating (usually the main) thread runs
  FThread = std::thread([this] { Run(); });
  FId = FThread.get_id();
  if (!CreateSuspended) Resume();
}

TThread::~TThread() {
  if (FThread.joinable()) {
    Terminate();
    FStartEvent.Set();
    if (FThread.get_id() == std::this_thread::get_id())
      FThread.detach();
    else
      FThread.join();
  }
}

void TThread::Resume() {
  FStarted = true;
  FStartEvent.Set();
}

void TThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TThread::SetPriority(TThreadPriority Value) {
  FPriority = Value;
  const pid_t Tid = FTid.load();
  if (Tid != 0 && !FFinished) ApplyTo(Tid, Value);
}

void TThread::Run() {
  FStartEvent.WaitFor(INFINITE);
  FTid = CurrentTid();
  NameCurrentThread("velmar-worker");
  if (FStarted) {  // not when destroyed before it was ever resumed
    ApplyTo(FTid, FPriority);
    try {
      Execute();
    } catch (...) {
      // A body must handle its own errors; nothing may escape the thread.
    }
  }
  ReleaseThreadQueue();
  FFinished = true;
  if (FFreeOnTerminate) {
    FThread.detach();
    delete this;
  }
}

void TThread::Synchronize(const std::function<void()>& Method) {
  if (InMainThread()) {
    Method();
    return;
  }
  TSyncCall Call{&Method, nullptr};
  if (!PostMessage(SyncWindow(), kSyncMessage, 0, reinterpret_cast<LPARAM>(&Call))) return;
  Call.Done.WaitFor(INFINITE);
  if (Call.Error) std::rethrow_exception(Call.Error);
}

}  // namespace velmar
