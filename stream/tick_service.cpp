#include "stream/tick_service.h"

#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/mmtime.h"
#include "platform/thread.h"

namespace velmar {

// The counters are atomic so that pausing and resuming need no lock: a procedure
// may pause or resume clients while the service runs it under its lock.
struct TMMTickClient {
  int Interval;
  void* User;
  TTickProc Proc;
  std::atomic<int> PauseCount;
  std::atomic<int> Elapsed;
  TMMTickClient* Next;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPeriod = std::chrono::milliseconds(kTickPeriodMs);

// The service's own periodic thread, which sleeps while every client is paused:
// a tick then does nothing, and a window whose bars show silence should not
// wake forty times a second for it. The first tick after a resume comes one
// period later, as a paused client counts its interval from the resume anyway.
struct TService {
  std::mutex Lock;  // guards the list
  TMMTickClient* First = nullptr;
  std::atomic<int> Users{0};
  std::atomic<int> Running{0};  // clients whose pause count is 0
  std::atomic<int> Reentry{0};
  std::thread Thread;
  std::mutex WaitLock;  // guards Stopping; never held while procedures run
  std::condition_variable WaitEnd;
  bool Stopping = false;

  ~TService() { Stop(); }  // the program ends: a still running service stops

  void Start() {
    Stopping = false;
    Thread = std::thread([this] { Run(); });
  }
  void Stop() {
    if (!Thread.joinable()) return;
    {
      std::lock_guard<std::mutex> L(WaitLock);
      Stopping = true;
    }
    WaitEnd.notify_all();
    Thread.join();
  }
  // A client began to run: a sleeping service wakes. Taken under WaitLock so
  // that the wake cannot fall between the thread's look and its wait.
  void ClientRuns() {
    if (Running.fetch_add(1) != 0) return;
    std::lock_guard<std::mutex> L(WaitLock);
    WaitEnd.notify_all();
  }
  void ClientPaused() { Running.fetch_sub(1); }

  void Run();
  void Tick();
};

TService& Service() {
  static TService s;
  return s;
}

// Set on the service's thread while it runs the procedures.
thread_local bool GInProcedure = false;

// Adding and removing clients from a procedure would change the list that the
// tick walks under its lock: forbidden. A debug build stops with a message; a
// release build ignores the call rather than hang.
bool ForbiddenInProcedure(const char* What) {
  if (!GInProcedure) return false;
  std::fprintf(stderr, "tick service: %s from a tick procedure is not allowed\n", What);
  assert(!"tick clients added or removed from a tick procedure");
  return true;
}

void TService::Run() {
  NameCurrentThread("velmar-ticks");
  auto Next = Clock::now() + kPeriod;
  std::unique_lock<std::mutex> L(WaitLock);
  while (!Stopping) {
    if (Running == 0) {
      WaitEnd.wait(L, [&] { return Stopping || Running != 0; });
      Next = Clock::now() + kPeriod;
      continue;
    }
    if (WaitEnd.wait_until(L, Next, [&] { return Stopping; })) break;
    L.unlock();
    Tick();
    L.lock();
    // Keep the phase; ticks that an overlong tick made us miss are skipped.
    Next += kPeriod;
    if (const auto Now = Clock::now(); Next < Now)
      Next += (Now - Next) / kPeriod * kPeriod + kPeriod;
  }
}

void TService::Tick() {
  // A tick that arrives while the previous one still runs is skipped.
  if (++Reentry == 1) {
    std::lock_guard<std::mutex> L(Lock);
    GInProcedure = true;
    for (TMMTickClient* c = First; c; c = c->Next) {
      if (c->PauseCount != 0) continue;
      if (c->Elapsed.fetch_add(kTickPeriodMs) + kTickPeriodMs >= c->Interval) {
        c->Elapsed = 0;  // before the procedure, which may pause (and so restart) it
        c->Proc(c, c->User);
      }
    }
    GInProcedure = false;
  }
  --Reentry;
}

}  // namespace

PTickClient AddTickClient(int Interval, bool StartPaused, TTickProc Proc, void* User) {
  if (ForbiddenInProcedure("adding a client")) return nullptr;
  TService& s = Service();
  if (s.Users == 0) {
    timeBeginPeriod(kTickPeriodMs);
    try {
      s.Start();
    } catch (const std::system_error&) {
      timeEndPeriod(kTickPeriodMs);
      return nullptr;
    }
  }
  ++s.Users;
  auto* Client = new TMMTickClient{Interval < kTickPeriodMs ? kTickPeriodMs : Interval,
                                   User,
                                   std::move(Proc),
                                   StartPaused ? 1 : 0,
                                   0,
                                   nullptr};
  {
    std::lock_guard<std::mutex> Lock(s.Lock);
    TMMTickClient** Link = &s.First;
    while (*Link) Link = &(*Link)->Next;
    *Link = Client;
  }
  if (!StartPaused) s.ClientRuns();
  return Client;
}

void PauseTickClient(PTickClient Client) {
  if (!Client || Service().Users == 0) return;
  if (Client->PauseCount++ == 0) Service().ClientPaused();
  Client->Elapsed = 0;
}

void ResumeTickClient(PTickClient Client) {
  if (!Client || Service().Users == 0) return;
  int Count = Client->PauseCount;
  while (Count > 0 && !Client->PauseCount.compare_exchange_weak(Count, Count - 1)) {
  }
  if (Count == 1) Service().ClientRuns();
}

void RemoveTickClient(PTickClient Client) {
  if (ForbiddenInProcedure("removing a client")) return;
  TService& s = Service();
  if (!Client) return;
  {
    std::lock_guard<std::mutex> Lock(s.Lock);
    TMMTickClient** Link = &s.First;
    while (*Link && *Link != Client) Link = &(*Link)->Next;
    if (!*Link) return;  // not a client of ours
    *Link = Client->Next;
  }
  if (Client->PauseCount == 0) s.ClientPaused();
  delete Client;
  if (--s.Users == 0) {
    s.Stop();
    timeEndPeriod(kTickPeriodMs);
    std::lock_guard<std::mutex> Lock(s.Lock);
    while (s.First) {
      TMMTickClient* c = s.First;
      s.First = c->Next;
      delete c;
    }
    s.Running = 0;
  }
}

int TickClientCount() {
  TService& s = Service();
  std::lock_guard<std::mutex> Lock(s.Lock);
  int n = 0;
  for (TMMTickClient* c = s.First; c; c = c->Next) ++n;
  return n;
}

}  // namespace velmar
