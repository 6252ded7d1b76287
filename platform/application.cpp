#include "platform/application.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/messages.h"
#include "platform/sync.h"

namespace velmar {

namespace {

// The plain pump: the main thread sleeps on its own queue.
class TPlainPump : public TEventPump {
 public:
  void WaitForWork(std::uint32_t Milliseconds) override {
    MsgWaitForMultipleObjects({}, true, Milliseconds);
  }
  void Wake() override {}  // posting already wakes the queue's waiters
};

TPlainPump& PlainPump() {
  static TPlainPump Pump;
  return Pump;
}

std::string DescribeError(std::exception_ptr Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace

TApplication::TApplication() = default;
TApplication::~TApplication() = default;

TApplication& Application() {
  static TApplication App;
  return App;
}

void TApplication::SetPump(TEventPump* Pump) {
  FPump = Pump;
  if (Pump)
    SetMainQueueWaker(Pump->MakeWaker());
  else
    SetMainQueueWaker(nullptr);
}

TEventPump& TApplication::Pump() {
  return FPump ? *FPump : PlainPump();
}

bool TApplication::ProcessMessage() {
  TMsg Msg;
  if (!PeekMessage(Msg, PM_REMOVE)) return false;
  if (Msg.message == WM_QUIT && Msg.hwnd == 0) {
    FTerminated = true;
    return true;
  }
  try {
    DispatchMessage(Msg);
  } catch (...) {
    HandleException(std::current_exception());
  }
  return true;
}

void TApplication::DispatchQueued() {
  while (ProcessMessage()) {
  }
}

void TApplication::ProcessMessages() {
  Pump().ProcessPendingEvents();
  DispatchQueued();
}

bool TApplication::DoIdle() {
  bool Done = true;
  if (OnIdle) {
    try {
      OnIdle(this, Done);
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
  return Done;
}

void TApplication::HandleMessage() {
  if (ProcessMessage()) return;
  if (DoIdle() && !FTerminated) Pump().WaitForWork(INFINITE);
}

void TApplication::Run() {
  while (!FTerminated) HandleMessage();
}

void TApplication::Terminate() {
  FTerminated = true;
  PostThreadMessage(MainThreadId(), WM_QUIT, 0, 0);
  Pump().Wake();
}

void TApplication::HandleException(std::exception_ptr Error) {
  ShowException(DescribeError(Error));
}

void TApplication::ShowException(const std::string& Message) {
  if (OnException) {
    OnException(this, Message);
    return;
  }
  std::fprintf(stderr, "%s\n", Message.c_str());
}

void TApplication::ShowMessage(const std::string& Text) {
  if (OnShowMessage) {
    OnShowMessage(this, Text);
    return;
  }
  std::fprintf(stderr, "%s\n", Text.c_str());
}

void WaitForMessage(std::uint32_t Milliseconds) {
  TApplication& App = Application();
  App.ProcessMessages();
  if (App.Terminated()) return;
  App.Pump().WaitForWork(Milliseconds);
  App.ProcessMessages();
}

void Wait(std::uint32_t Milliseconds, bool PumpMessages) {
  if (Milliseconds == 0) return;
  if (!PumpMessages) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
    return;
  }
  using Clock = std::chrono::steady_clock;
  const auto End = Clock::now() + std::chrono::milliseconds(Milliseconds);
  TApplication& App = Application();
  while (!App.Terminated()) {
    App.ProcessMessages();
    const auto Now = Clock::now();
    if (Now >= End) break;
    // Rounded up: a wait cut short by the rounding would cost a wake-up more.
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(End - Now).count();
    App.Pump().WaitForWork(static_cast<std::uint32_t>(Left > 0 ? Left : 1));
  }
}

}  // namespace velmar
