// TMMHiTimer: fires OnTimer every Interval milliseconds with the multimedia
// timer's precision, delivered by CallBackMode:
//   cmWindow   on the main thread, through a hidden window; at most 10 ticks wait
//              there, further ticks are dropped while the main thread is busy;
//   cmCallback on the platform's timer thread;
//   cmThread   on a timer thread of its own, or on the main thread through
//              Synchronize (the default).
// The timer runs exactly while Interval <> 0, Enabled and OnTimer are all given;
// every write of those (and of CallBackMode) re-arms it. Properties are set on
// the main thread.
// Destroying the timer (on the main thread, or from its own OnTimer in any mode)
// waits only for an OnTimer that its thread runs unsynchronised; a synchronised
// tick already queued for the main thread then calls nothing. WaitForTerminate
// also waits (up to 5 s) for the timer thread to end.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/messages.h"
#include "platform/thread.h"
#include "stream/dsp_component.h"
#include "stream/mm_types.h"

namespace velmar {

// The hidden window's tick message.
inline constexpr UINT MM_TIMER_TICK = 32778;
// At most this many ticks wait for the main thread in cmWindow mode.
inline constexpr int kMaxPendingTicks = 10;

class TMMHiTimer : public TMMNonVisualComponent {
 public:
  explicit TMMHiTimer(TComponent* AOwner = nullptr);
  ~TMMHiTimer() override;

  int Interval() const { return FInterval; }
  void SetInterval(int Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  void SetOnTimer(TNotifyEvent Value);
  TMMCBMode CallBackMode() const { return FCallBackMode.load(); }
  void SetCallBackMode(TMMCBMode Value);
  bool Synchronize() const { return FSynchronize; }
  void SetSynchronize(bool Value) { FSynchronize = Value; }
  TThreadPriority Priority() const { return FPriority; }
  void SetPriority(TThreadPriority Value);
  bool WaitForTerminate() const { return FWaitForTerminate; }
  void SetWaitForTerminate(bool Value) { FWaitForTerminate = Value; }

  void SetDesigning(bool Value) override;

  // Ticks posted to the hidden window and not yet handled (cmWindow).
  int Pending() const { return FPending; }
  bool Armed() const { return FTimerId != 0; }

 protected:
  // Fires OnTimer(this) when assigned and Enabled.
  virtual void DoTimer();

 private:
  class TTimerThread;
  struct TShared;

  // Re-arming: the running timer stops before a property changes (its threads
  // read them), and starts again afterwards when everything it needs is given.
  template <typename F>
  void Change(F&& Assign) {
    Disarm(FWaitForTerminate);
    Assign();
    Arm();
  }
  void Arm();
  void Disarm(bool WaitForThread);
  void Tick(std::uint32_t TimerId);
  LRESULT WindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam);

  int FInterval = 1000;
  std::atomic<bool> FEnabled{true};
  TNotifyEvent FOnTimer;
  std::atomic<TMMCBMode> FCallBackMode{TMMCBMode::cmWindow};
  std::atomic<bool> FSynchronize{true};
  TThreadPriority FPriority = TThreadPriority::tpNormal;
  bool FWaitForTerminate = false;

  std::shared_ptr<TShared> FShared;  // the timer thread's view, while it runs
  TTimerThread* FThread = nullptr;   // frees itself when it ends
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);  // false once destroyed
  std::atomic<int> FPending{0};
  std::atomic<HWND> FWindow{0};
  std::atomic<std::uint32_t> FTimerId{0};
  std::uint32_t FPeriod = 1;
};

}  // namespace velmar
