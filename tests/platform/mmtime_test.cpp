#include "platform/mmtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::WaitUntil;
using Clock = std::chrono::steady_clock;

TEST(MMTime, ClocksAdvance) {
  const std::uint32_t t0 = timeGetTime();
  const std::int64_t c0 = QueryPerformanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(timeGetTime() - t0, 19u);
  EXPECT_GE((QueryPerformanceCounter() - c0) * 1000 / QueryPerformanceFrequency(), 19);
  TIMECAPS Caps{};
  EXPECT_EQ(timeGetDevCaps(&Caps), TIMERR_NOERROR);
  EXPECT_EQ(Caps.wPeriodMin, 1u);
}

TEST(MMTime, PeriodBookkeeping) {
  const int Before = TimePeriodRequests();
  EXPECT_EQ(timeBeginPeriod(25), TIMERR_NOERROR);
  EXPECT_EQ(timeBeginPeriod(25), TIMERR_NOERROR);
  EXPECT_EQ(TimePeriodRequests(), Before + 2);
  EXPECT_EQ(timeEndPeriod(25), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(25), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(25), TIMERR_NOCANDO);
  EXPECT_EQ(TimePeriodRequests(), Before);
}

TEST(MMTime, PeriodicTicksAreNeverEarly) {
  std::atomic<int> Ticks{0};
  std::atomic<std::uintptr_t> SeenUser{0};
  const auto Start = Clock::now();
  std::atomic<Clock::rep> TenthAt{0};
  const std::uint32_t Id = timeSetEvent(
      20, 0,
      [&](std::uint32_t, std::uintptr_t User) {
        SeenUser = User;
        if (++Ticks == 10) TenthAt = (Clock::now() - Start).count();
      },
      77, TIME_PERIODIC);
  ASSERT_NE(Id, 0u);
  ASSERT_TRUE(WaitUntil([&] { return Ticks >= 10; }));
  EXPECT_EQ(timeKillEvent(Id), TIMERR_NOERROR);
  EXPECT_EQ(SeenUser, 77u);
  // Ten ticks of a drift-free 20 ms timer take at least 200 ms.
  EXPECT_GE(Clock::duration(TenthAt.load()), std::chrono::milliseconds(200));
  EXPECT_EQ(timeKillEvent(Id), TIMERR_NOCANDO);
  EXPECT_EQ(timeSetEvent(
                0, 0, [](std::uint32_t, std::uintptr_t) {}, 0, TIME_PERIODIC),
            0u);
}

TEST(MMTime, NothingRunsAfterKillAndAKillFromTheCallbackReturns) {
  std::atomic<int> Ticks{0};
  const std::uint32_t Id = timeSetEvent(
      5, 0, [&](std::uint32_t, std::uintptr_t) { ++Ticks; }, 0, TIME_PERIODIC);
  ASSERT_TRUE(WaitUntil([&] { return Ticks >= 2; }));
  timeKillEvent(Id);
  const int AtKill = Ticks;

  std::atomic<int> Own{0};
  std::atomic<bool> Killed{false};
  std::atomic<std::uint32_t> OwnId{0};
  OwnId = timeSetEvent(
      5, 0,
      [&](std::uint32_t Self, std::uintptr_t) {
        if (++Own == 3) {
          timeKillEvent(Self);
          Killed = true;
        }
      },
      0, TIME_PERIODIC);
  // The second timer serves as the clock: three of its periods later, the first
  // one has still not ticked again. (Waiting for the kill itself, not only for
  // the third tick, which comes just before it.)
  ASSERT_TRUE(WaitUntil([&] { return Killed.load(); }));
  EXPECT_EQ(Ticks, AtKill);
  EXPECT_EQ(timeKillEvent(OwnId), TIMERR_NOCANDO);  // it killed itself
  EXPECT_EQ(Own, 3);

  std::atomic<int> Once{0};
  timeSetEvent(
      5, 0, [&](std::uint32_t, std::uintptr_t) { ++Once; }, 0, TIME_ONESHOT);
  ASSERT_TRUE(WaitUntil([&] { return Once == 1; }));
}

}  // namespace
}  // namespace velmar
