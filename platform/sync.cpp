#include "platform/sync.h"

#include "platform/message_queues.h"

namespace velmar {

// The signal lock and its condition variable are never destroyed: threads that
// are still ending when the program exits may use them.
std::mutex& TSignal::Mutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

std::condition_variable& TSignal::Changed() {
  static std::condition_variable* c = new std::condition_variable;
  return *c;
}

bool TSignal::TakeLocked(TEvent& Event) {
  if (!Event.FSignalled) return false;
  if (!Event.FManualReset) Event.FSignalled = false;
  return true;
}

TEvent::TEvent(bool ManualReset, bool InitialState)
    : FManualReset(ManualReset), FSignalled(InitialState) {}

void TEvent::Set() {
  {
    std::lock_guard<std::mutex> Lock(TSignal::Mutex());
    FSignalled = true;
  }
  TSignal::Changed().notify_all();
}

void TEvent::Reset() {
  std::lock_guard<std::mutex> Lock(TSignal::Mutex());
  FSignalled = false;
}

std::uint32_t TEvent::WaitFor(std::uint32_t Milliseconds) {
  return MsgWaitForMultipleObjects({this}, false, Milliseconds);
}

std::uint32_t MsgWaitForMultipleObjects(const std::vector<TEvent*>& Events, bool WakeOnMessage,
                                        std::uint32_t Milliseconds) {
  std::uint32_t Result = WAIT_TIMEOUT;
  auto Ready = [&] {
    for (std::size_t i = 0; i < Events.size(); ++i) {
      if (Events[i] && TSignal::TakeLocked(*Events[i])) {
        Result = WAIT_OBJECT_0 + static_cast<std::uint32_t>(i);
        return true;
      }
    }
    if (WakeOnMessage && TMessageQueues::HasMessageLocked(std::this_thread::get_id())) {
      Result = WAIT_OBJECT_0 + static_cast<std::uint32_t>(Events.size());
      return true;
    }
    return false;
  };
  std::unique_lock<std::mutex> Lock(TSignal::Mutex());
  if (Milliseconds == INFINITE)
    TSignal::Changed().wait(Lock, Ready);
  else
    TSignal::Changed().wait_for(Lock, std::chrono::milliseconds(Milliseconds), Ready);
  return Result;
}

}  // namespace velmar
