// The delivery of a wave device's notifications, shared by the input and the
// output device: the hidden window, the worker thread of cmThread mode with its
// ready, close and flush events and the 5000 ms limits, the device lock, and the
// deferred stop for stops that arrive while a buffer handler runs.
//
// The device owns one TMMDeviceNotify and implements TMMDeviceSink. Threads:
// the platform's callback thread calls Callback; the hidden window runs on the
// main thread; the worker thread runs buffer handlers in cmThread mode; Open,
// Close and the other members are called on the main thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>

#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "stream/dsp_thread.h"
#include "stream/mm_types.h"
#include "stream/wave_hdr.h"

namespace velmar {

// The library's posted messages.
inline constexpr UINT MM_WOM_STOP = 32769;  // deferred output stop
inline constexpr UINT MM_WIM_STOP = 32770;  // deferred input stop
// lParam of a deferred-stop message that asks for a close after a handler error.
inline constexpr LPARAM kCloseAfterError = 1;

// What a device supplies to its notification plumbing.
class TMMDeviceSink {
 public:
  virtual ~TMMDeviceSink() = default;
  // The current platform device handle; notifications for another one are ignored.
  virtual std::uintptr_t NotifyHandle() const = 0;
  // The platform reports the device opened or closed.
  virtual void NotifyOpened() = 0;
  virtual void NotifyClosed() = 0;
  // Runs in the platform's callback for every buffer-done notification, before
  // it is delivered: the output device counts returned headers here and drops
  // the notification (false) while it flushes or stops.
  virtual bool AcceptBufferDone() { return true; }
  // The buffer handler: a buffer came back from the driver.
  virtual void BufferDone(PWaveHdr Header) = 0;
  // BufferDone raised, on the handler's thread: the device reports it (OnError)
  // before it closes and the error goes on to the application.
  virtual void HandlerFailed() {}
  // Whether the stream has ended: the handler that ends last then posts the
  // deferred stop even without a stop request (the output device: nothing queued).
  virtual bool StreamEnded() const { return false; }
  // Called on the handler's thread right before the deferred stop is posted.
  virtual void StopPosting() {}
  // The deferred stop, on the main thread.
  virtual void DeferredStop() = 0;
  // A handler raised: close the device (never raises). Called on the delivering
  // thread; a device that can only close on the main thread posts the deferred
  // stop message with kCloseAfterError, which comes back here on the main thread.
  virtual void CloseAfterError() = 0;
  // The output device skips buffer notifications while it stops.
  virtual bool SkipBufferDone() const { return false; }
  virtual TThreadPriority WorkerPriority() const = 0;
};

struct TMMNotifyMessages {
  UINT Opened, Closed, Done, Stop;
};
inline constexpr TMMNotifyMessages kWaveInMessages{958, 959, 960, MM_WIM_STOP};
inline constexpr TMMNotifyMessages kWaveOutMessages{955, 956, 957, MM_WOM_STOP};

class TMMDeviceNotify {
 public:
  // WithFlush: the output device's manual-reset FlushEvent.
  TMMDeviceNotify(TMMCustomSoundComponent& Component, TMMDeviceSink& Sink,
                  TMMNotifyMessages Messages, bool WithFlush);
  ~TMMDeviceNotify();
  TMMDeviceNotify(const TMMDeviceNotify&) = delete;
  TMMDeviceNotify& operator=(const TMMDeviceNotify&) = delete;

  // The hidden window, created on first use; main thread.
  HWND Window();
  bool HasWindow() const { return FWindow != 0; }

  // The platform's callback (any thread): state changes, and buffer-done
  // delivered by Mode: posted to the window, handled at once, or posted to the
  // worker thread.
  void Callback(std::uintptr_t Handle, UINT Message, WPARAM wParam, LPARAM lParam);
  void SetCallBackMode(TMMCBMode Mode) { FMode = Mode; }
  TMMCBMode CallBackMode() const { return FMode; }

  // cmThread: starts the worker thread and waits up to 5000 ms for it to be
  // ready; false when it could not be started (the device raises message 88).
  bool StartThread();
  // Ends the worker thread: CloseEvent, then at most 5000 ms for it to finish.
  void StopThread();
  bool ThreadRunning() const { return FThread != nullptr; }
  bool ThreadFailed() const { return FThreadFailed; }
  // Output device: make the worker drop every queued buffer notification.
  void Flush();
  // True once the worker has dropped the notifications a Flush asked it to.
  bool Flushed() const;

  // The device lock: no-ops until initialised.
  void InitLock() { FLockReady = true; }
  void DoneLock() { FLockReady = false; }
  void Enter() {
    if (FLockReady) FLock.Enter();
  }
  void Leave() {
    if (FLockReady) FLock.Leave();
  }

  // Deferred stop. BeginHandler/EndHandler bracket every buffer handler.
  // RequestStop: a stop asked for from inside a handler (on its thread) must wait
  // for the running handlers: true, and the handler that ends last posts the
  // deferred-stop message (once). A stop asked for from elsewhere waits up to
  // 5000 ms for running handlers to end and then goes on at once (false); only a
  // handler that outlives that is left to the deferred stop.
  void BeginHandler();
  void EndHandler();
  bool RequestStop();
  void ClearStop();
  bool StopRequested() const { return FStopRequest; }
  int InHandler() const { return FInHandler; }
  // Whether the calling thread is inside one of this device's handlers.
  bool InHandlerHere() const;
  // Waits until no handler runs (or Milliseconds passed; INFINITE for no limit),
  // handling the main thread's messages meanwhile when Pump is set, so that a
  // handler waiting in Synchronize can end. True when none runs.
  bool WaitForHandlers(std::uint32_t Milliseconds, bool Pump);
  // Applies a priority to the running worker thread at once.
  void SetWorkerPriority(TThreadPriority Priority);

 private:
  class TWorker;
  friend class TWorker;

  LRESULT WindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam);
  // Runs the buffer handler; an exception is reported to the device
  // (HandlerFailed) and goes on to the caller, which closes the device.
  void HandleBuffer(PWaveHdr Header);

  TMMCustomSoundComponent& FComponent;
  TMMDeviceSink& FSink;
  TMMNotifyMessages FMessages;
  bool FWithFlush;
  std::atomic<TMMCBMode> FMode{TMMCBMode::cmWindow};
  HWND FWindow = 0;
  struct TShared;
  std::shared_ptr<TShared> FShared;  // shared with the worker, which may outlive a hung close
  TWorker* FThread = nullptr;        // frees itself when it ends; never dereferenced after start
  TThreadId FThreadId{};
  std::atomic<bool> FThreadFailed{false};
  TCriticalSection FLock;
  std::atomic<bool> FLockReady{false};
  // Guards the handler count together with the stop flags, so that a stop asked
  // for while the last handler ends is either seen by it or not deferred.
  std::mutex FHandlerLock;
  std::condition_variable FHandlersEnded;
  std::atomic<int> FInHandler{0};
  std::atomic<bool> FStopRequest{false};
  std::atomic<bool> FStopPosted{false};
};

}  // namespace velmar
