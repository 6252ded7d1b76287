#include "controls/qt_event_pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <atomic>
#include <mutex>

#include "platform/sync.h"

namespace velmar {

namespace {

// "Drain the platform's queue": posted to the pump, delivered by whichever Qt
// loop runs on the main thread.
const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

// What posting threads reach: the pump while it exists, nothing afterwards. One
// drain event is in flight at a time; the flag is cleared before the drain
// starts, so a post during the drain posts a new one.
struct TQtEventPump::TWakeTarget {
  std::mutex Lock;
  QObject* Target = nullptr;
  std::atomic<bool> Posted{false};

  void Wake() {
    if (Posted.exchange(true)) return;
    std::lock_guard<std::mutex> Guard(Lock);
    if (Target) QCoreApplication::postEvent(Target, new QEvent(kDrainEvent));
  }
};

TQtEventPump::TQtEventPump() : FWake(std::make_shared<TWakeTarget>()) {
  FWake->Target = this;
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          [this] { Idle(); });
  Application().SetPump(this);
  Wake();  // messages queued before the pump existed
}

TQtEventPump::~TQtEventPump() {
  if (&Application().Pump() == this) Application().SetPump(nullptr);
  std::lock_guard<std::mutex> Guard(FWake->Lock);
  FWake->Target = nullptr;
}

void TQtEventPump::Wake() {
  FWake->Wake();
}

std::function<void()> TQtEventPump::MakeWaker() {
  return [Target = FWake] { Target->Wake(); };
}

bool TQtEventPump::event(QEvent* Event) {
  if (Event->type() != kDrainEvent) return QObject::event(Event);
  FWake->Posted = false;
  TApplication& App = Application();
  App.DispatchQueued();
  if (App.Terminated()) QCoreApplication::quit();
  return true;
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
