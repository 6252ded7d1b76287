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
  std::atomic<int> Elapsed;  // ms of ticks counted since it last ran or was resumed
  TMMTickClient* Next;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPeriod = std::chrono::milliseconds(kTickPeriodMs);

// The service's own thread. It wakes only for the ticks at which a client
// runs: between them the ticks are counted, not waited for one by one (two
// level bars that run every 100 ms wake it ten times a second, not forty),
// and while every client is paused it sleeps. A client resumed meanwhile
// wakes it to plan again; the ticks counted from then on are the client's.
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
  bool Replan = false;  // a client was resumed: the planned wake may be too late
  // When the last counted tick fell (ns of the steady clock): a client resumed
  // between two wakes owes the ticks that fell since, counted at the next.
  // kAsleep while none runs: nothing is counted until the thread wakes and
  // counts afresh from then.
  static constexpr std::int64_t kAsleep = 0;
  std::atomic<std::int64_t> LastTick{kAsleep};

  ~TService() { Stop(); }  // the program ends: a still running service stops

  void Start() {
    Stopping = false;
    LastTick = Clock::now().time_since_epoch().count();
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
  // A client began to run: the service plans its wake again. Taken under
  // WaitLock so that the wake cannot fall between the thread's look and its wait.
  void ClientRuns() {
    Running.fetch_add(1);
    std::lock_guard<std::mutex> L(WaitLock);
    Replan = true;
    WaitEnd.notify_all();
  }
  void ClientPaused() { Running.fetch_sub(1); }
  // A client starts to run: its interval counts from now. Other clients
  // running, the service counts the ticks that fell since its last count at
  // its next wake: those are not the new client's. (With none running, the
  // service plans afresh from its wake; from a procedure, the ticks being
  // counted are the present one's.)
  void StartInterval(TMMTickClient& c);

  void Run();
  // Counts Ticks ticks for every running client and runs those whose interval
  // is full; how many ticks until the next runs (none running: 1).
  int Tick(int Ticks);
};

TService& Service() {
  static TService s;
  return s;
}

// Set on the service's thread while it runs the procedures.
thread_local bool GInProcedure = false;

void TService::StartInterval(TMMTickClient& c) {
  // Also when another client was resumed just before this one and the thread
  // has not woken for it yet: the time since the last count is the sleep's,
  // and nothing will count it.
  const std::int64_t Last = LastTick.load();
  if (Running == 0 || GInProcedure || Last == kAsleep) {
    c.Elapsed = 0;
    return;
  }
  const auto Since = Clock::now().time_since_epoch() - Clock::duration(Last);
  c.Elapsed = -static_cast<int>(std::max<std::int64_t>(0, Since / kPeriod)) * kTickPeriodMs;
}

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
  auto Last = Clock::now();
  LastTick = Last.time_since_epoch().count();
  int Planned = Tick(0);
  std::unique_lock<std::mutex> L(WaitLock);
  while (!Stopping) {
    if (Running == 0) {
      LastTick = kAsleep;
      WaitEnd.wait(L, [&] { return Stopping || Running != 0; });
      Replan = false;
      Last = Clock::now();
      LastTick = Last.time_since_epoch().count();
      L.unlock();
      Planned = Tick(0);
      L.lock();
      continue;
    }
    const bool Woken =
        WaitEnd.wait_until(L, Last + Planned * kPeriod, [&] { return Stopping || Replan; });
    if (Stopping) break;
    // Woken early to plan again: the ticks that fell so far are counted (a
    // client resumed since owes them: it counts from its resume).
    int Ticks = Planned;
    if (Woken) {
      Replan = false;
      Ticks = std::min(Planned, static_cast<int>((Clock::now() - Last) / kPeriod));
    }
    L.unlock();
    Planned = Tick(Ticks);
    L.lock();
    // Keep the phase; ticks that an overlong tick made us miss are skipped.
    Last += Ticks * kPeriod;
    if (const auto Now = Clock::now(); Last + kPeriod < Now)
      Last += (Now - Last) / kPeriod * kPeriod;
    LastTick = Last.time_since_epoch().count();
  }
}

int TService::Tick(int Ticks) {
  int Next = 0;
  // A tick that arrives while the previous one still runs is skipped.
  if (++Reentry == 1) {
    std::lock_guard<std::mutex> L(Lock);
    GInProcedure = true;
    for (TMMTickClient* c = First; c; c = c->Next) {
      if (c->PauseCount != 0) continue;
      if (Ticks > 0 &&
          c->Elapsed.fetch_add(Ticks * kTickPeriodMs) + Ticks * kTickPeriodMs >= c->Interval) {
        c->Elapsed = 0;  // before the procedure, which may pause (and so restart) it
        c->Proc(c, c->User);
      }
    }
    // The next wake: when the first running client's interval is full.
    for (TMMTickClient* c = First; c; c = c->Next) {
      if (c->PauseCount != 0) continue;
      const int Left = std::max(1, (c->Interval - c->Elapsed + kTickPeriodMs - 1) / kTickPeriodMs);
      Next = Next == 0 ? Left : std::min(Next, Left);
    }
    GInProcedure = false;
  }
  --Reentry;
  return Next == 0 ? 1 : Next;
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
  if (!StartPaused) s.StartInterval(*Client);
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
  if (Count != 1) return;
  Service().StartInterval(*Client);
  Service().ClientRuns();
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
