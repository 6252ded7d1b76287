// The application object: the main thread's message loop, its idle hook and
// terminated flag, and the general error handler.
//
// The pump is pluggable: by default the main thread waits on its own queue (the
// command line and the tests); the windowed recorder installs a pump that lets
// its toolkit's event loop wait and drain the same queue.
// All members are for the main thread, except Terminate and HandleException.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "platform/component.h"

namespace velmar {

// How the main thread waits for work. WaitForWork returns when a message is
// queued for the main thread, when the toolkit has handled events of its own, or
// when Milliseconds have passed; Wake is called from any thread after a post.
// ProcessPendingEvents lets the toolkit handle what it has queued, without
// waiting. MakeWaker gives the function that posting threads call; it must stay
// safe to call after the pump is gone (posts may race the program's end).
class TEventPump {
 public:
  virtual ~TEventPump() = default;
  virtual void WaitForWork(std::uint32_t Milliseconds) = 0;
  virtual void Wake() = 0;
  virtual void ProcessPendingEvents() {}
  virtual std::function<void()> MakeWaker() {
    return [this] { Wake(); };
  }
};

using TIdleEvent = std::function<void(TObject* Sender, bool& Done)>;
using TExceptionEvent = std::function<void(TObject* Sender, const std::string& Message)>;
using TMessageEvent = std::function<void(TObject* Sender, const std::string& Text)>;

class TApplication : public TObject {
 public:
  TApplication();
  ~TApplication() override;

  // Lets the pump's toolkit handle its pending events, then dispatches every
  // queued message.
  void ProcessMessages();
  // Dispatches the queued platform messages only (what a toolkit pump calls
  // when woken).
  void DispatchQueued();
  // Runs the idle hook; true when it has nothing more to do.
  bool DoIdle();
  // Dispatches one message, or runs the idle hook and waits for work when none is
  // queued (unless the hook says it has more to do).
  void HandleMessage();
  // Handles messages until terminated.
  void Run();

  bool Terminated() const { return FTerminated; }
  void Terminate();

  // Reports an error and keeps going: OnException when assigned, otherwise the
  // error text on the standard error stream. Any thread.
  void HandleException(std::exception_ptr Error);
  void ShowException(const std::string& Message);
  // Shows an information message with an OK button: OnShowMessage when
  // assigned (the window's message box), otherwise the text on the standard
  // error stream. Main thread.
  void ShowMessage(const std::string& Text);

  // Installs a pump (not owned; null restores the plain one).
  void SetPump(TEventPump* Pump);
  TEventPump& Pump();

  TIdleEvent OnIdle;
  TExceptionEvent OnException;
  TMessageEvent OnShowMessage;

 private:
  bool ProcessMessage();

  std::atomic<bool> FTerminated{false};
  TEventPump* FPump = nullptr;
};

// The process's application object.
TApplication& Application();

// Waits Milliseconds (returns at once for 0). Without pumping it sleeps; with
// pumping it handles the main thread's messages meanwhile and returns early when
// the application is terminating.
void Wait(std::uint32_t Milliseconds, bool PumpMessages);

// Main thread: handles the queued messages, then waits until a message comes or
// Milliseconds pass and handles what came: a loop that must look at something
// now and then, and at once when told, wakes only then.
void WaitForMessage(std::uint32_t Milliseconds);

}  // namespace velmar
