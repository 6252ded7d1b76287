#include "stream/tick_service.h"

#include <atomic>
#include <cassert>
#include <cstdio>
#include <mutex>

#include "platform/mmtime.h"

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

struct TService {
  std::mutex Lock;  // guards the list
  TMMTickClient* First = nullptr;
  std::atomic<int> Users{0};
  std::uint32_t TimerId = 0;
  std::atomic<int> Reentry{0};

  ~TService() {  // the program ends: a still running timer stops
    if (TimerId) timeKillEvent(TimerId);
  }
};

TService& Service() {
  static TService s;
  return s;
}

// Set on the timer thread while it runs the procedures.
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

void Tick(std::uint32_t, std::uintptr_t) {
  TService& s = Service();
  // A tick that arrives while the previous one still runs is skipped.
  if (++s.Reentry == 1) {
    std::lock_guard<std::mutex> Lock(s.Lock);
    GInProcedure = true;
    for (TMMTickClient* c = s.First; c; c = c->Next) {
      if (c->PauseCount != 0) continue;
      if (c->Elapsed.fetch_add(kTickPeriodMs) + kTickPeriodMs >= c->Interval) {
        c->Elapsed = 0;  // before the procedure, which may pause (and so restart) it
        c->Proc(c, c->User);
      }
    }
    GInProcedure = false;
  }
  --s.Reentry;
}

}  // namespace

PTickClient AddTickClient(int Interval, bool StartPaused, TTickProc Proc, void* User) {
  if (ForbiddenInProcedure("adding a client")) return nullptr;
  TService& s = Service();
  if (s.Users == 0) {
    timeBeginPeriod(kTickPeriodMs);
    s.TimerId = timeSetEvent(kTickPeriodMs, 0, Tick, 0, TIME_PERIODIC);
    if (s.TimerId == 0) {
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
  std::lock_guard<std::mutex> Lock(s.Lock);
  TMMTickClient** Link = &s.First;
  while (*Link) Link = &(*Link)->Next;
  *Link = Client;
  return Client;
}

void PauseTickClient(PTickClient Client) {
  if (!Client || Service().Users == 0) return;
  ++Client->PauseCount;
  Client->Elapsed = 0;
}

void ResumeTickClient(PTickClient Client) {
  if (!Client || Service().Users == 0) return;
  int Count = Client->PauseCount;
  while (Count > 0 && !Client->PauseCount.compare_exchange_weak(Count, Count - 1)) {
  }
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
  delete Client;
  if (--s.Users == 0) {
    timeKillEvent(s.TimerId);
    s.TimerId = 0;
    timeEndPeriod(kTickPeriodMs);
    std::lock_guard<std::mutex> Lock(s.Lock);
    while (s.First) {
      TMMTickClient* c = s.First;
      s.First = c->Next;
      delete c;
    }
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
