#include "stream/tick_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/mmtime.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::WaitUntil;

TEST(TickService, IntervalsCountInWholeTicks) {
  const int Periods = TimePeriodRequests();
  std::atomic<int> Every{0};
  std::mutex Lock;
  std::vector<int> EveryAtFourth;  // the every-tick count whenever the 100 ms client runs
  PTickClient Fast = AddTickClient(
      10, false, [&](PTickClient, void*) { ++Every; }, nullptr);
  int Tag = 0;
  PTickClient Slow = AddTickClient(
      100, false,
      [&](PTickClient, void* User) {
        EXPECT_EQ(User, &Tag);
        std::lock_guard<std::mutex> l(Lock);
        EveryAtFourth.push_back(Every);
      },
      &Tag);
  ASSERT_TRUE(Fast && Slow);
  EXPECT_EQ(TickClientCount(), 2);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> l(Lock);
    return EveryAtFourth.size() >= 4;
  }));
  RemoveTickClient(Slow);
  RemoveTickClient(Fast);
  // Between two runs of the 100 ms client the 25 ms one ran exactly four times.
  for (size_t i = 1; i < EveryAtFourth.size(); ++i)
    EXPECT_EQ(EveryAtFourth[i] - EveryAtFourth[i - 1], 4);
  EXPECT_EQ(TickClientCount(), 0);
  EXPECT_EQ(TimePeriodRequests(), Periods);  // the last removal stopped the service
}

TEST(TickService, PauseAndResumeWaitAFullInterval) {
  std::atomic<int> Clock{0};
  std::atomic<int> Fired{0};
  std::atomic<int> ClockAtFire{0};
  PTickClient Ref = AddTickClient(
      25, false, [&](PTickClient, void*) { ++Clock; }, nullptr);
  PTickClient c = AddTickClient(
      100, true,
      [&](PTickClient, void*) {
        ClockAtFire = Clock.load();
        ++Fired;
      },
      nullptr);
  ASSERT_TRUE(WaitUntil([&] { return Clock >= 8; }));
  EXPECT_EQ(Fired, 0);  // added paused
  PauseTickClient(c);   // two pauses need two resumes
  ResumeTickClient(c);
  const int ClockAtResume = Clock;
  ResumeTickClient(c);
  ASSERT_TRUE(WaitUntil([&] { return Fired >= 1; }));
  // The ticks counted after the resume: four, or five when one fell between
  // reading the clock and resuming.
  const int Waited = ClockAtFire - ClockAtResume;
  EXPECT_GE(Waited, 4);
  EXPECT_LE(Waited, 5);
  RemoveTickClient(c);
  RemoveTickClient(Ref);
  PauseTickClient(nullptr);
  ResumeTickClient(nullptr);
  RemoveTickClient(nullptr);
}

// Level bars and the connector pause and resume clients (themselves or each
// other) from their procedures: nothing deadlocks.
TEST(TickService, ProceduresMayPauseAndResumeClients) {
  std::atomic<int> A{0}, B{0};
  std::atomic<PTickClient> Other{nullptr};
  PTickClient First = AddTickClient(
      25, false,
      [&](PTickClient Self, void*) {
        ++A;
        PauseTickClient(Self);
        ResumeTickClient(Self);
        if (A % 2)
          PauseTickClient(Other);
        else
          ResumeTickClient(Other);
      },
      nullptr);
  Other = AddTickClient(
      25, false, [&](PTickClient, void*) { ++B; }, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return A >= 10 && B >= 1; }));
  RemoveTickClient(Other);
  RemoveTickClient(First);
  EXPECT_EQ(TickClientCount(), 0);
}

// How often the service's thread has woken so far (its voluntary switches), or
// -1 when it is not found.
long ServiceWakeUps() {
  for (const auto& Task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string Name, Line;
    std::ifstream(Task.path() / "comm") >> Name;
    if (Name != "velmar-ticks") continue;
    std::ifstream Status(Task.path() / "status");
    while (std::getline(Status, Line))
      if (Line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(Line.substr(24));
  }
  return -1;
}

// With every client paused a tick has nothing to do, and the service's thread
// does not wake for it; a resume brings the ticks back, the first a full
// interval after it.
TEST(TickService, SleepsWhileEveryClientIsPaused) {
  std::atomic<int> Runs{0};
  PTickClient c = AddTickClient(
      25, false, [&](PTickClient, void*) { ++Runs; }, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return Runs >= 2; }));
  PauseTickClient(c);
  const int RunsPaused = Runs;
  const long Before = ServiceWakeUps();
  ASSERT_GE(Before, 0);
  // Running, the thread would wake twelve times meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LE(ServiceWakeUps() - Before, 1);  // the tick that found none running
  EXPECT_LE(Runs - RunsPaused, 1);          // a tick under way when paused
  ResumeTickClient(c);
  const int RunsResumed = Runs;
  ASSERT_TRUE(WaitUntil([&] { return Runs >= RunsResumed + 3; }));
  RemoveTickClient(c);
  EXPECT_EQ(ServiceWakeUps(), -1);  // the last removal ended the thread
}

// The thread wakes for the ticks at which a client runs, not for every tick
// between; a client resumed while it sleeps longer is not kept waiting.
TEST(TickService, WakesOnlyWhenAClientRuns) {
  std::atomic<int> Runs{0};
  PTickClient Slow = AddTickClient(
      100, false, [&](PTickClient, void*) { ++Runs; }, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return Runs >= 1; }));
  const long Before = ServiceWakeUps();
  const int RunsBefore = Runs;
  ASSERT_TRUE(WaitUntil([&] { return Runs >= RunsBefore + 8; }));
  // Ticking every 25 ms, it would have woken four times for each run.
  EXPECT_LE(ServiceWakeUps() - Before, Runs - RunsBefore + 2);
  RemoveTickClient(Slow);

  std::atomic<int> Rare{0}, Fast{0};
  PTickClient Sleeper = AddTickClient(
      3000, false, [&](PTickClient, void*) { ++Rare; }, nullptr);
  PTickClient Quick = AddTickClient(
      25, true, [&](PTickClient, void*) { ++Fast; }, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the service sleeps for 3 s
  const auto Resumed = std::chrono::steady_clock::now();
  ResumeTickClient(Quick);
  ASSERT_TRUE(WaitUntil([&] { return Fast >= 1; }));
  EXPECT_LT(std::chrono::steady_clock::now() - Resumed, std::chrono::milliseconds(1000));
  EXPECT_EQ(Rare, 0);
  RemoveTickClient(Quick);
  RemoveTickClient(Sleeper);
}

// Two level bars woken by the same click, one right after the other, after the
// service slept a while: the second is not charged the ticks of the sleep (its
// marker would hold for that time longer), both run a full interval later.
TEST(TickService, ClientsResumedTogetherAfterASleepBothRunAnIntervalLater) {
  using Clock = std::chrono::steady_clock;
  std::atomic<std::int64_t> FirstRunA{0}, FirstRunB{0};
  auto Stamp = [](std::atomic<std::int64_t>& At) {
    std::int64_t None = 0;
    At.compare_exchange_strong(None, Clock::now().time_since_epoch().count());
  };
  PTickClient A = AddTickClient(
      100, false,
      [&](PTickClient c, void*) {
        Stamp(FirstRunA);
        PauseTickClient(c);
      },
      nullptr);
  PTickClient B = AddTickClient(
      100, false,
      [&](PTickClient c, void*) {
        Stamp(FirstRunB);
        PauseTickClient(c);
      },
      nullptr);
  ASSERT_TRUE(WaitUntil([&] { return FirstRunA != 0 && FirstRunB != 0; }));
  for (int Round = 0; Round < 3; ++Round) {
    // Asleep long enough for a stale count to show.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    FirstRunA = FirstRunB = 0;
    const auto Resumed = Clock::now();
    ResumeTickClient(A);
    ResumeTickClient(B);
    ASSERT_TRUE(WaitUntil([&] { return FirstRunA != 0 && FirstRunB != 0; }));
    for (const std::int64_t At : {FirstRunA.load(), FirstRunB.load()})
      EXPECT_LT(Clock::duration(At) - Resumed.time_since_epoch(), std::chrono::milliseconds(800))
          << "round " << Round;
  }
  RemoveTickClient(B);
  RemoveTickClient(A);
}

#ifndef NDEBUG
// Adding or removing clients from a procedure is forbidden: a debug build says so
// and stops rather than hang.
TEST(TickServiceDeathTest, AddingFromAProcedureFailsLoudly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        std::atomic<bool> Done{false};
        PTickClient c = AddTickClient(
            25, false,
            [&](PTickClient, void*) {
              AddTickClient(
                  25, false, [](PTickClient, void*) {}, nullptr);
              Done = true;
            },
            nullptr);
        WaitUntil([&] { return Done.load(); });
        RemoveTickClient(c);
      },
      "from a tick procedure");
}
#endif

}  // namespace
}  // namespace velmar
