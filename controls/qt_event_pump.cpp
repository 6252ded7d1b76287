#include "controls/qt_event_pump.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <mutex>

#include "platform/sync.h"

namespace velmar {

// What posting threads reach: an event counter (eventfd) that Qt's loop watches
// while the pump exists, nothing afterwards. Any number of posts before the loop
// looks make one wake-up; nothing is allocated or handed over per post, and the
// messages themselves travel in the platform's own queue.
struct TQtEventPump::TWakeTarget {
  std::mutex Lock;
  int Fd = -1;

  void Wake() {
    std::lock_guard<std::mutex> Guard(Lock);
    if (Fd < 0) return;
    const std::uint64_t One = 1;
    [[maybe_unused]] const auto Written = ::write(Fd, &One, sizeof One);
  }
};

TQtEventPump::TQtEventPump() : FWake(std::make_shared<TWakeTarget>()) {
  FWake->Fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  FNotifier = new QSocketNotifier(FWake->Fd, QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] { Drain(); });
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          [this] { Idle(); });
  Application().SetPump(this);
  Wake();  // messages queued before the pump existed
}

TQtEventPump::~TQtEventPump() {
  if (&Application().Pump() == this) Application().SetPump(nullptr);
  delete FNotifier;
  std::lock_guard<std::mutex> Guard(FWake->Lock);
  ::close(FWake->Fd);
  FWake->Fd = -1;
}

void TQtEventPump::Wake() {
  FWake->Wake();
}

std::function<void()> TQtEventPump::MakeWaker() {
  return [Target = FWake] { Target->Wake(); };
}

void TQtEventPump::Drain() {
  std::uint64_t Count;
  [[maybe_unused]] const auto Read = ::read(FWake->Fd, &Count, sizeof Count);
  TApplication& App = Application();
  App.DispatchQueued();
  if (App.Terminated()) QCoreApplication::quit();
}

void TQtEventPump::Idle() {
  if (FInIdle) return;  // the hook itself may run a loop
  FInIdle = true;
  const bool Done = Application().DoIdle();
  FInIdle = false;
  if (!Done) Wake();  // more to do: do not let the loop sleep
}

void TQtEventPump::WaitForWork(std::uint32_t Milliseconds) {
  if (Milliseconds == 0) {
    ProcessPendingEvents();
    return;
  }
  QTimer Limit;
  if (Milliseconds != INFINITE) {
    Limit.setSingleShot(true);
    Limit.start(static_cast<int>(std::min<std::uint32_t>(Milliseconds, 0x7fffffff)));
  }
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TQtEventPump::ProcessPendingEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace velmar
