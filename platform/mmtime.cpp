#include "platform/mmtime.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/thread.h"

namespace velmar {

namespace {

using Clock = std::chrono::steady_clock;

const Clock::time_point& StartTime() {
  static const Clock::time_point Start = Clock::now();
  return Start;
}

struct TTimer {
  std::uint32_t Id = 0;
  std::chrono::milliseconds Period{0};
  bool Periodic = false;
  TTimerCallback Callback;
  std::uintptr_t User = 0;
  std::mutex Lock;
  std::condition_variable Stop;
  bool Stopping = false;
  std::thread Thread;
};

struct TTimers {
  std::mutex Lock;
  std::map<std::uint32_t, std::shared_ptr<TTimer>> All;
  std::uint32_t NextId = 1;
  std::map<std::uint32_t, int> Periods;
};

// Never destroyed: timers still running when the program ends must not find
// their registry gone.
TTimers& Timers() {
  static TTimers* t = new TTimers;
  return *t;
}

void RunTimer(std::shared_ptr<TTimer> t) {
  NameCurrentThread("velmar-timer");
  auto Next = Clock::now() + t->Period;
  std::unique_lock<std::mutex> Lock(t->Lock);
  for (;;) {
    if (t->Stop.wait_until(Lock, Next, [&] { return t->Stopping; })) return;
    Lock.unlock();
    t->Callback(t->Id, t->User);
    if (!t->Periodic) {
      // A one-shot timer is done: it leaves the registry unless it was killed.
      std::lock_guard<std::mutex> Registry(Timers().Lock);
      if (Timers().All.erase(t->Id)) t->Thread.detach();
      return;
    }
    Lock.lock();
    // Keep the phase: the next tick is one period after the last due one; ticks
    // that an overlong callback made us miss are skipped.
    Next += t->Period;
    const auto Now = Clock::now();
    if (Next < Now) Next += (Now - Next) / t->Period * t->Period + t->Period;
  }
}

}  // namespace

std::uint32_t timeGetTime() {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - StartTime()).count());
}

std::int64_t QueryPerformanceCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - StartTime()).count();
}

std::int64_t QueryPerformanceFrequency() {
  return 1000000000;
}

MMRESULT timeGetDevCaps(TIMECAPS* Caps) {
  if (!Caps) return TIMERR_NOCANDO;
  Caps->wPeriodMin = 1;
  Caps->wPeriodMax = 1000000;
  return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(std::uint32_t Period) {
  if (Period == 0) return TIMERR_NOCANDO;
  std::lock_guard<std::mutex> Lock(Timers().Lock);
  ++Timers().Periods[Period];
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(std::uint32_t Period) {
  std::lock_guard<std::mutex> Lock(Timers().Lock);
  auto It = Timers().Periods.find(Period);
  if (It == Timers().Periods.end()) return TIMERR_NOCANDO;
  if (--It->second == 0) Timers().Periods.erase(It);
  return TIMERR_NOERROR;
}

int TimePeriodRequests() {
  std::lock_guard<std::mutex> Lock(Timers().Lock);
  int Count = 0;
  for (const auto& [Period, n] : Timers().Periods) Count += n;
  return Count;
}

std::uint32_t timeSetEvent(std::uint32_t Delay, std::uint32_t, TTimerCallback Callback,
                           std::uintptr_t User, std::uint32_t Flags) {
  if (Delay == 0 || !Callback) return 0;
  auto t = std::make_shared<TTimer>();
  t->Period = std::chrono::milliseconds(Delay);
  t->Periodic = (Flags & TIME_PERIODIC) != 0;
  t->Callback = std::move(Callback);
  t->User = User;
  {
    std::lock_guard<std::mutex> Lock(Timers().Lock);
    t->Id = Timers().NextId++;
    if (Timers().NextId == 0) Timers().NextId = 1;
    Timers().All.emplace(t->Id, t);
  }
  // The id is known before the first tick can run.
  std::lock_guard<std::mutex> Lock(t->Lock);
  t->Thread = std::thread(RunTimer, t);
  return t->Id;
}

MMRESULT timeKillEvent(std::uint32_t TimerId) {
  std::shared_ptr<TTimer> t;
  {
    std::lock_guard<std::mutex> Lock(Timers().Lock);
    auto It = Timers().All.find(TimerId);
    if (It == Timers().All.end()) return TIMERR_NOCANDO;
    t = It->second;
    Timers().All.erase(It);
  }
  {
    std::lock_guard<std::mutex> Lock(t->Lock);
    t->Stopping = true;
  }
  t->Stop.notify_all();
  if (t->Thread.get_id() == std::this_thread::get_id())
    t->Thread.detach();  // killed from its own callback: it ends after the callback
  else
    t->Thread.join();
  return TIMERR_NOERROR;
}

}  // namespace velmar
