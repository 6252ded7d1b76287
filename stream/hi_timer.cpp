#include "stream/hi_timer.h"

#include <condition_variable>
#include <mutex>

#include "platform/application.h"
#include "platform/mmtime.h"
#include "stream/errors.h"
#include "stream/messages.h"

namespace velmar {

namespace {
constexpr std::uint32_t kThreadLimitMs = 5000;
}

// What the timer and its thread share. Timer is cleared (on the main thread,
// under the lock) when the timer lets the thread go: from then on nothing calls
// back, not even a synchronised call already queued for the main thread, which
// holds only this record. InCall: the thread runs OnTimer itself (not
// synchronised), which the timer waits for before it changes or goes; InSync:
// the thread waits for the main thread in Synchronize.
struct TMMHiTimer::TShared {
  std::mutex Lock;
  std::condition_variable CallEnded;
  TMMHiTimer* Timer = nullptr;
  bool InCall = false;
  bool InSync = false;
  std::thread::id CallThread;
  std::atomic<bool> Stop{false};
  TEvent Tick{false};
  TEvent Ready{false};
  TEvent Ended{true};
};

class TMMHiTimer::TTimerThread : public TThread {
 public:
  explicit TTimerThread(std::shared_ptr<TShared> Shared)
      : TThread(true), FShared(std::move(Shared)) {}

 protected:
  void Execute() override {
    FShared->Ready.Set();
    while (!Terminated() && !FShared->Stop) {
      FShared->Tick.WaitFor(INFINITE);
      if (!RunTick()) break;
    }
    FShared->Ended.Set();
  }

 private:
  // One tick; false when the timer has let the thread go.
  bool RunTick() {
    TShared& s = *FShared;
    TMMHiTimer* Timer;
    bool Synchronised;
    {
      std::lock_guard<std::mutex> Lock(s.Lock);
      Timer = s.Timer;
      if (!Timer || s.Stop || Terminated()) return false;
      Synchronised = Timer->FSynchronize;
      (Synchronised ? s.InSync : s.InCall) = true;
      s.CallThread = std::this_thread::get_id();
    }
    try {
      if (Synchronised)
        TThread::Synchronize([Shared = FShared] { RunSynchronised(*Shared); });
      else
        Timer->DoTimer();
    } catch (...) {
      Application().HandleException(std::current_exception());
    }
    {
      std::lock_guard<std::mutex> Lock(s.Lock);
      s.InSync = s.InCall = false;
    }
    s.CallEnded.notify_all();
    return true;
  }

  // On the main thread: the timer, if it still wants ticks.
  static void RunSynchronised(TShared& s) {
    TMMHiTimer* Timer;
    {
      std::lock_guard<std::mutex> Lock(s.Lock);
      Timer = s.Timer;
    }
    if (Timer) Timer->DoTimer();  // may destroy the timer: nothing of it is used after
  }

  std::shared_ptr<TShared> FShared;
};

TMMHiTimer::TMMHiTimer(TComponent* AOwner) : TMMNonVisualComponent(AOwner) {
  TIMECAPS Caps{};
  if (timeGetDevCaps(&Caps) == TIMERR_NOERROR) FPeriod = Caps.wPeriodMin;
}

TMMHiTimer::~TMMHiTimer() {
  *FAlive = false;
  // Disarm waits for an OnTimer that the timer thread runs itself; a call queued
  // for the main thread finds nothing to call.
  Disarm(FWaitForTerminate);
  FOnTimer = nullptr;
}

void TMMHiTimer::SetInterval(int Value) {
  Change([&] { FInterval = Value < 0 ? 0 : Value; });
}

void TMMHiTimer::SetEnabled(bool Value) {
  Change([&] { FEnabled = Value; });
}

void TMMHiTimer::SetOnTimer(TNotifyEvent Value) {
  Change([&] { FOnTimer = std::move(Value); });
}

void TMMHiTimer::SetCallBackMode(TMMCBMode Value) {
  if (Value == FCallBackMode) return;
  Change([&] { FCallBackMode = Value; });
}

void TMMHiTimer::SetPriority(TThreadPriority Value) {
  FPriority = Value;
  if (FThread) FThread->SetPriority(Value);
}

void TMMHiTimer::SetDesigning(bool Value) {
  Change([&] { TMMNonVisualComponent::SetDesigning(Value); });
}

void TMMHiTimer::Disarm(bool WaitForThread) {
  // The platform timer goes first: once it is killed no tick reads what follows.
  if (const std::uint32_t Id = FTimerId.exchange(0)) {
    timeKillEvent(Id);
    timeEndPeriod(FPeriod);
  }
  if (const HWND Window = FWindow.exchange(0)) {
    RemoveMessages(Window, MM_TIMER_TICK);
    DeallocateHWnd(Window);
  }
  FPending = 0;
  if (FThread) {
    TShared& Shared = *FShared;
    bool WaitForEnd;
    {
      std::unique_lock<std::mutex> Lock(Shared.Lock);
      Shared.Timer = nullptr;
      Shared.Stop = true;
      // OnTimer running on the timer thread reads what is about to change or go;
      // it cannot be waited for from inside itself.
      Shared.CallEnded.wait(
          Lock, [&] { return !Shared.InCall || Shared.CallThread == std::this_thread::get_id(); });
      // A thread waiting in Synchronize waits for this very thread.
      WaitForEnd = WaitForThread && !(Shared.InSync && InMainThread()) &&
                   Shared.CallThread != std::this_thread::get_id();
    }
    Shared.Tick.Set();  // the thread may end (and free itself) from here on
    if (WaitForEnd) Shared.Ended.WaitFor(kThreadLimitMs);
    FShared.reset();
    FThread = nullptr;
  }
}

void TMMHiTimer::Arm() {
  if (HasState(csDesigning) || FInterval == 0 || !FEnabled || !FOnTimer) return;

  if (FCallBackMode == TMMCBMode::cmWindow) {
    FWindow =
        AllocateHWnd([this](HWND h, UINT m, WPARAM w, LPARAM l) { return WindowProc(h, m, w, l); });
  } else if (FCallBackMode == TMMCBMode::cmThread) {
    FShared = std::make_shared<TShared>();
    FShared->Timer = this;
    auto* Thread = new TTimerThread(FShared);
    Thread->SetFreeOnTerminate(true);
    Thread->SetPriority(FPriority);
    FThread = Thread;
    Thread->Resume();
    if (FShared->Ready.WaitFor(kThreadLimitMs) != WAIT_OBJECT_0) {
      Disarm(false);
      throw EMMHiTimerError("HiTimer:\n\r" + LibMessage(88));
    }
  }
  timeBeginPeriod(FPeriod);
  const std::uint32_t Id = timeSetEvent(
      static_cast<std::uint32_t>(FInterval), 0,
      [this](std::uint32_t TimerId, std::uintptr_t) { Tick(TimerId); }, 0, TIME_PERIODIC);
  if (Id == 0) {
    timeEndPeriod(FPeriod);
    Disarm(false);
    throw EOutOfResources("Not enough timers available");
  }
  FTimerId = Id;
}

void TMMHiTimer::Tick(std::uint32_t TimerId) {
  try {
    switch (FCallBackMode.load()) {
      case TMMCBMode::cmWindow:
        if (FPending < kMaxPendingTicks) {
          ++FPending;
          if (!PostMessage(FWindow, MM_TIMER_TICK, TimerId, 0)) --FPending;
        }
        break;
      case TMMCBMode::cmCallback:
        DoTimer();
        break;
      case TMMCBMode::cmThread:
        if (FShared) FShared->Tick.Set();
        break;
    }
  } catch (...) {
    Application().HandleException(std::current_exception());
  }
}

LRESULT TMMHiTimer::WindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam) {
  if (Message != MM_TIMER_TICK || wParam != FTimerId)
    return DefWindowProc(Window, Message, wParam, lParam);
  const std::shared_ptr<bool> Alive = FAlive;
  try {
    DoTimer();  // may destroy the timer (a window closed from a tick)
  } catch (...) {
    Application().HandleException(std::current_exception());
  }
  if (*Alive && FPending > 0) --FPending;
  return 0;
}

void TMMHiTimer::DoTimer() {
  if (!FOnTimer || !FEnabled) return;
  // A handler may destroy its timer: it runs from a copy, not from the timer.
  const TNotifyEvent Handler = FOnTimer;
  Handler(this);
}

}  // namespace velmar
