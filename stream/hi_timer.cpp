#include "stream/hi_timer.h"

#include <mutex>

#include "platform/application.h"
#include "platform/mmtime.h"
#include "stream/errors.h"
#include "stream/messages.h"

namespace velmar {

namespace {
constexpr std::uint32_t kThreadLimitMs = 5000;
}

// What the timer and its thread share; Timer is cleared when the timer lets the
// thread go, so that it never calls back afterwards.
struct TMMHiTimer::TShared {
  std::mutex Lock;
  TMMHiTimer* Timer = nullptr;
  std::atomic<bool> Stop{false};
  TEvent Tick{false};
  TEvent Ready{false};
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
      std::unique_lock<std::mutex> Lock(FShared->Lock);
      TMMHiTimer* Timer = FShared->Timer;
      if (!Timer || FShared->Stop || Terminated()) break;
      Lock.unlock();
      try {
        Timer->Dispatch();
      } catch (...) {
        Application().HandleException(std::current_exception());
      }
    }
    std::lock_guard<std::mutex> Lock(FShared->Lock);
    if (FShared->Timer) {
      FShared->Timer = nullptr;
      FShared->Ready.Set();
    }
  }

 private:
  std::shared_ptr<TShared> FShared;
};

TMMHiTimer::TMMHiTimer(TComponent* AOwner) : TMMNonVisualComponent(AOwner) {
  TIMECAPS Caps{};
  if (timeGetDevCaps(&Caps) == TIMERR_NOERROR) FPeriod = Caps.wPeriodMin;
}

TMMHiTimer::~TMMHiTimer() {
  FOnTimer = nullptr;
  FEnabled = false;
  // Nothing may run on a destroyed timer: wait for the thread unless this runs
  // inside its own synchronised OnTimer.
  Disarm(!FInSynchronize);
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
    {
      std::lock_guard<std::mutex> Lock(FShared->Lock);
      FShared->Stop = true;
    }
    FShared->Tick.Set();  // the thread may end (and free itself) from here on
    if (WaitForThread) FShared->Ready.WaitFor(kThreadLimitMs);
    {
      std::lock_guard<std::mutex> Lock(FShared->Lock);
      FShared->Timer = nullptr;
    }
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
        Dispatch();
        break;
      case TMMCBMode::cmThread:
        if (FShared) FShared->Tick.Set();
        break;
    }
  } catch (...) {
    Application().HandleException(std::current_exception());
  }
}

void TMMHiTimer::Dispatch() {
  if (FCallBackMode == TMMCBMode::cmThread && FSynchronize) {
    TThread::Synchronize([this] {
      FInSynchronize = true;
      struct TClear {
        std::atomic<bool>& f;
        ~TClear() { f = false; }
      } Clear{FInSynchronize};
      DoTimer();
    });
  } else {
    DoTimer();
  }
}

LRESULT TMMHiTimer::WindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam) {
  if (Message != MM_TIMER_TICK || wParam != FTimerId)
    return DefWindowProc(Window, Message, wParam, lParam);
  try {
    DoTimer();
  } catch (...) {
    Application().HandleException(std::current_exception());
  }
  if (FPending > 0) --FPending;
  return 0;
}

void TMMHiTimer::DoTimer() {
  if (FOnTimer && FEnabled) FOnTimer(this);
}

}  // namespace velmar
