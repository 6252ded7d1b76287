#include "stream/device_notify.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/application.h"

namespace velmar {

namespace {
constexpr std::uint32_t kThreadLimitMs = 5000;

// The handlers running on this thread, innermost last.
thread_local std::vector<const TMMDeviceNotify*> GHandlers;
}  // namespace

// What the device and its worker thread share. Owner is cleared when the device
// gives up on a worker that did not end in time, so that it never calls back.
struct TMMDeviceNotify::TShared {
  std::atomic<TMMDeviceNotify*> Owner{nullptr};
  std::atomic<int> Tid{0};  // the worker's system thread id once it runs
  TEvent Ready{false};
  TEvent Close{false};
  TEvent Flush{true};
};

class TMMDeviceNotify::TWorker : public TMMDSPThread {
 public:
  TWorker(TMMCustomSoundComponent& Component, std::shared_ptr<TShared> Shared, UINT DoneMessage,
          bool WithFlush)
      : TMMDSPThread(&Component),
        FShared(std::move(Shared)),
        FDone(DoneMessage),
        FWithFlush(WithFlush) {}

 protected:
  void Execute() override {
    TMsg Msg;
    PeekMessage(Msg, PM_NOREMOVE);  // the queue exists from here on
    FShared->Tid = CurrentSystemThreadId();
    FShared->Ready.Set();
    bool Failed = false;
    try {
      Loop();
    } catch (...) {
      Failed = true;
      if (TMMDeviceNotify* Owner = FShared->Owner) {
        Owner->FThreadFailed = true;
        Owner->FSink.CloseAfterError();
      }
      Application().HandleException(std::current_exception());
    }
    if (!(Failed && FWithFlush)) FShared->Ready.Set();
  }

 private:
  void Loop() {
    std::vector<TEvent*> Events{&FShared->Close};
    if (FWithFlush) Events.push_back(&FShared->Flush);
    while (!Terminated()) {
      TMsg Msg;
      if (PeekMessage(Msg, PM_REMOVE)) {
        TMMDeviceNotify* Owner = FShared->Owner;
        if (Owner && Msg.message == FDone && Msg.wParam == Owner->FSink.NotifyHandle() &&
            !Owner->FSink.SkipBufferDone()) {
          Owner->HandleBuffer(reinterpret_cast<PWaveHdr>(Msg.lParam));
        } else {
          DispatchMessage(Msg);
        }
        continue;
      }
      const std::uint32_t Signal = MsgWaitForMultipleObjects(Events, true, INFINITE);
      if (Signal == WAIT_OBJECT_0) break;  // CloseEvent
      if (FWithFlush && Signal == WAIT_OBJECT_0 + 1) {
        RemoveThreadMessages(FDone);
        FShared->Flush.Reset();
      }
    }
  }

  std::shared_ptr<TShared> FShared;
  UINT FDone;
  bool FWithFlush;
};

TMMDeviceNotify::TMMDeviceNotify(TMMCustomSoundComponent& Component, TMMDeviceSink& Sink,
                                 TMMNotifyMessages Messages, bool WithFlush)
    : FComponent(Component), FSink(Sink), FMessages(Messages), FWithFlush(WithFlush) {}

TMMDeviceNotify::~TMMDeviceNotify() {
  StopThread();
  if (FWindow) DeallocateHWnd(FWindow);
}

HWND TMMDeviceNotify::Window() {
  if (!FWindow)
    FWindow =
        AllocateHWnd([this](HWND h, UINT m, WPARAM w, LPARAM l) { return WindowProc(h, m, w, l); });
  return FWindow;
}

LRESULT TMMDeviceNotify::WindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam) {
  if (wParam != FSink.NotifyHandle()) return DefWindowProc(Window, Message, wParam, lParam);
  try {
    if (Message == FMessages.Opened)
      FSink.NotifyOpened();
    else if (Message == FMessages.Closed)
      FSink.NotifyClosed();
    else if (Message == FMessages.Done)
      HandleBuffer(reinterpret_cast<PWaveHdr>(lParam));
    else if (Message == FMessages.Stop && lParam == kCloseAfterError)
      FSink.CloseAfterError();
    else if (Message == FMessages.Stop)
      FSink.DeferredStop();
    else
      return DefWindowProc(Window, Message, wParam, lParam);
  } catch (...) {
    FSink.CloseAfterError();
    Application().HandleException(std::current_exception());
  }
  return 0;
}

void TMMDeviceNotify::HandleBuffer(PWaveHdr Header) {
  BeginHandler();
  try {
    FSink.BufferDone(Header);
  } catch (...) {
    EndHandler();
    FSink.HandlerFailed();
    throw;
  }
  EndHandler();
}

void TMMDeviceNotify::Callback(std::uintptr_t Handle, UINT Message, WPARAM, LPARAM lParam) {
  if (Message == FMessages.Opened) {
    FSink.NotifyOpened();
  } else if (Message == FMessages.Closed) {
    FSink.NotifyClosed();
  } else if (Message == FMessages.Done) {
    if (!FSink.AcceptBufferDone()) return;
    switch (FMode.load()) {
      case TMMCBMode::cmWindow:
        if (FWindow) PostMessage(FWindow, Message, Handle, lParam);
        break;
      case TMMCBMode::cmThread:
        PostThreadMessage(FThreadId, Message, Handle, lParam);
        break;
      case TMMCBMode::cmCallback:
        if (Handle != FSink.NotifyHandle()) break;
        try {
          HandleBuffer(reinterpret_cast<PWaveHdr>(lParam));
        } catch (...) {
          FSink.CloseAfterError();
          Application().HandleException(std::current_exception());
        }
        break;
    }
  }
}

bool TMMDeviceNotify::StartThread() {
  Enter();
  struct TLeave {
    TMMDeviceNotify* n;
    ~TLeave() { n->Leave(); }
  } LeaveAtEnd{this};
  FThreadFailed = false;
  FShared = std::make_shared<TShared>();
  FShared->Owner = this;
  TWorker* Worker = nullptr;
  try {
    Worker = new TWorker(FComponent, FShared, FMessages.Done, FWithFlush);
  } catch (...) {
    return false;
  }
  Worker->SetFreeOnTerminate(true);
  Worker->SetPriority(FSink.WorkerPriority());
  FThreadId = Worker->ThreadID();
  FThread = Worker;
  Worker->Resume();
  return FShared->Ready.WaitFor(kThreadLimitMs) == WAIT_OBJECT_0;
}

void TMMDeviceNotify::StopThread() {
  if (!FThread) return;
  FThread = nullptr;
  if (!FThreadFailed) {
    FShared->Close.Set();
    if (FShared->Ready.WaitFor(kThreadLimitMs) != WAIT_OBJECT_0) {
      // The worker hangs in a handler: it is left to end on its own, without us.
    }
  }
  FShared->Owner = nullptr;
  FShared.reset();
  DoneLock();
}

void TMMDeviceNotify::Flush() {
  if (FShared) FShared->Flush.Set();
}

bool TMMDeviceNotify::Flushed() const {
  return !FShared || FShared->Flush.WaitFor(0) != WAIT_OBJECT_0;
}

void TMMDeviceNotify::BeginHandler() {
  {
    std::lock_guard<std::mutex> Lock(FHandlerLock);
    ++FInHandler;
  }
  GHandlers.push_back(this);
}

void TMMDeviceNotify::EndHandler() {
  GHandlers.erase(std::find(GHandlers.rbegin(), GHandlers.rend(), this).base() - 1);
  const bool Ended = FSink.StreamEnded();
  bool Post = false;
  {
    std::lock_guard<std::mutex> Lock(FHandlerLock);
    if (--FInHandler == 0) Post = (FStopRequest || Ended) && !FStopPosted.exchange(true);
  }
  FHandlersEnded.notify_all();
  if (Post) {
    FSink.StopPosting();
    PostMessage(Window(), FMessages.Stop, FSink.NotifyHandle(), 0);
  }
}

bool TMMDeviceNotify::InHandlerHere() const {
  return std::find(GHandlers.begin(), GHandlers.end(), this) != GHandlers.end();
}

bool TMMDeviceNotify::WaitForHandlers(std::uint32_t Milliseconds, bool Pump) {
  using Clock = std::chrono::steady_clock;
  const auto End = Milliseconds == INFINITE
                       ? Clock::time_point::max()
                       : Clock::now() + std::chrono::milliseconds(Milliseconds);
  std::unique_lock<std::mutex> Lock(FHandlerLock);
  while (FInHandler > 0 && Clock::now() < End) {
    if (!Pump) {
      FHandlersEnded.wait_until(Lock, std::min(End, Clock::now() + std::chrono::seconds(1)));
      continue;
    }
    Lock.unlock();
    Wait(1, true);
    Lock.lock();
  }
  return FInHandler == 0;
}

bool TMMDeviceNotify::RequestStop() {
  // From outside the handlers: let them end first, then stop at once.
  if (!InHandlerHere()) WaitForHandlers(kThreadLimitMs, false);
  std::lock_guard<std::mutex> Lock(FHandlerLock);
  if (FInHandler <= 0) return false;
  FStopRequest = true;
  return true;
}

void TMMDeviceNotify::SetWorkerPriority(TThreadPriority Priority) {
  if (FShared && FShared->Tid != 0) ApplyThreadPriorityTo(FShared->Tid, Priority);
}

void TMMDeviceNotify::ClearStop() {
  FStopRequest = false;
  FStopPosted = false;
}

}  // namespace velmar
