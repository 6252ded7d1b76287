#include "stream/tick_service.h"

#include <atomic>
#include <mutex>

#include "platform/mmtime.h"

namespace velmar {

struct TMMTickClient {
  int Interval;
  void* User;
  TTickProc Proc;
  int PauseCount;
  int Elapsed;
  TMMTickClient* Next;
};

namespace {

struct TService {
  std::mutex Lock;  // guards the list and the clients' counters
  TMMTickClient* First = nullptr;
  int Users = 0;
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

void Tick(std::uint32_t, std::uintptr_t) {
  TService& s = Service();
  // A tick that arrives while the previous one still runs is skipped.
  if (++s.Reentry == 1) {
    std::lock_guard<std::mutex> Lock(s.Lock);
    for (TMMTickClient* c = s.First; c; c = c->Next) {
      if (c->PauseCount != 0) continue;
      c->Elapsed += kTickPeriodMs;
      if (c->Elapsed >= c->Interval) {
        c->Proc(c, c->User);
        c->Elapsed = 0;
      }
    }
  }
  --s.Reentry;
}

}  // namespace

PTickClient AddTickClient(int Interval, bool StartPaused, TTickProc Proc, void* User) {
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
  TService& s = Service();
  if (!Client || s.Users == 0) return;
  std::lock_guard<std::mutex> Lock(s.Lock);
  ++Client->PauseCount;
  Client->Elapsed = 0;
}

void ResumeTickClient(PTickClient Client) {
  TService& s = Service();
  if (!Client || s.Users == 0) return;
  std::lock_guard<std::mutex> Lock(s.Lock);
  if (Client->PauseCount > 0) --Client->PauseCount;
}

void RemoveTickClient(PTickClient Client) {
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
