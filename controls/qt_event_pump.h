// Qt's event loop as the main thread's message loop: installed on the
// application object (platform/application.h), it makes a post to the main
// thread's queue from any thread wake Qt's loop at once (a posted Qt event, no
// polling: an event counter that Qt's loop watches), and lets every Qt loop,
// nested ones of modal dialogs and message boxes included, dispatch the
// platform's queued messages in their order. The
// application's idle hook runs when Qt's loop is about to wait.
//
// One per program, created on the main thread after the QApplication and
// destroyed before it; it installs itself on creation and uninstalls itself on
// destruction. Wake may be called from any thread, even while the pump goes away.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

#include "platform/application.h"

namespace velmar {

class TQtEventPump : public QObject, public TEventPump {
 public:
  TQtEventPump();
  ~TQtEventPump() override;
  TQtEventPump(const TQtEventPump&) = delete;
  TQtEventPump& operator=(const TQtEventPump&) = delete;

  // Main thread: handles Qt's events (and so the platform's messages) until
  // something was handled or Milliseconds passed.
  void WaitForWork(std::uint32_t Milliseconds) override;
  // Main thread: handles what Qt has pending, without waiting.
  void ProcessPendingEvents() override;
  // Any thread.
  void Wake() override;
  std::function<void()> MakeWaker() override;

 private:
  struct TWakeTarget;
  void Drain();
  void Idle();

  std::shared_ptr<TWakeTarget> FWake;
  QSocketNotifier* FNotifier = nullptr;
  bool FInIdle = false;
};

}  // namespace velmar
