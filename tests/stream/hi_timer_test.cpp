#include "stream/hi_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/application.h"
#include "platform/mmtime.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::WaitUntil;

TEST(HiTimer, ArmedOnlyWithIntervalEnabledAndHandler) {
  TMMHiTimer t;
  EXPECT_EQ(t.Interval(), 1000);
  EXPECT_TRUE(t.Enabled());
  EXPECT_EQ(t.CallBackMode(), TMMCBMode::cmWindow);
  EXPECT_TRUE(t.Synchronize());
  EXPECT_FALSE(t.Armed());
  t.SetOnTimer([](TObject*) {});
  EXPECT_TRUE(t.Armed());
  t.SetInterval(0);
  EXPECT_FALSE(t.Armed());
  t.SetInterval(50);
  t.SetEnabled(false);
  EXPECT_FALSE(t.Armed());
  t.SetEnabled(true);
  t.SetDesigning(true);
  EXPECT_FALSE(t.Armed());
  t.SetDesigning(false);
  EXPECT_TRUE(t.Armed());
  t.SetOnTimer(nullptr);
  EXPECT_FALSE(t.Armed());
}

TEST(HiTimer, AtMostTenTicksWaitWhileTheMainThreadIsBlocked) {
  TMMHiTimer t;
  int Fired = 0;
  t.SetInterval(100);
  t.SetOnTimer([&](TObject* Sender) {
    EXPECT_EQ(Sender, &t);
    ++Fired;
  });
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the main thread is busy
  EXPECT_EQ(t.Pending(), kMaxPendingTicks);
  Application().ProcessMessages();
  EXPECT_GE(Fired, 10);
  EXPECT_LE(Fired, 11);  // not twenty: the rest were dropped
}

TEST(HiTimer, DisablingDropsQueuedTicks) {
  TMMHiTimer t;
  int Fired = 0;
  t.SetInterval(10);
  t.SetOnTimer([&](TObject*) { ++Fired; });
  const auto Start = timeGetTime();
  while (t.Pending() < 3 && timeGetTime() - Start < 20000)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GE(t.Pending(), 3);
  t.SetEnabled(false);
  EXPECT_EQ(t.Pending(), 0);
  Application().ProcessMessages();
  EXPECT_EQ(Fired, 0);
}

TEST(HiTimer, DeliveryThreads) {
  const auto Main = std::this_thread::get_id();
  for (auto [Mode, Sync, OnMain] :
       {std::tuple{TMMCBMode::cmWindow, true, true}, std::tuple{TMMCBMode::cmThread, true, true},
        std::tuple{TMMCBMode::cmThread, false, false},
        std::tuple{TMMCBMode::cmCallback, true, false}}) {
    TMMHiTimer t;
    std::atomic<int> Fired{0};
    std::atomic<bool> Wrong{false};
    t.SetInterval(10);
    t.SetCallBackMode(Mode);
    t.SetSynchronize(Sync);
    t.SetOnTimer([&, OnMain = OnMain](TObject*) {
      if ((std::this_thread::get_id() == Main) != OnMain) Wrong = true;
      ++Fired;
    });
    EXPECT_TRUE(WaitUntil([&] { return Fired >= 3; })) << Ord(Mode);
    t.SetOnTimer(nullptr);
    EXPECT_FALSE(Wrong) << Ord(Mode) << " " << Sync;
  }
}

TEST(HiTimer, NothingFiresAfterDestructionAndHandlersMayReArm) {
  std::atomic<int> Fired{0};
  {
    TMMHiTimer t;
    t.SetInterval(5);
    t.SetCallBackMode(TMMCBMode::cmThread);
    t.SetSynchronize(false);
    t.SetOnTimer([&](TObject*) { ++Fired; });
    ASSERT_TRUE(WaitUntil([&] { return Fired >= 2; }));
  }
  const int AtEnd = Fired;

  // A synchronised handler that changes the interval re-arms from inside itself.
  TMMHiTimer Self;
  int Calls = 0;
  Self.SetInterval(5);
  Self.SetCallBackMode(TMMCBMode::cmThread);
  Self.SetOnTimer([&](TObject*) {
    ++Calls;
    Self.SetInterval(Calls < 3 ? 6 : 0);
  });
  ASSERT_TRUE(WaitUntil([&] { return Calls >= 3; }));
  EXPECT_FALSE(Self.Armed());
  EXPECT_EQ(Fired, AtEnd);
}

// Destroying a timer while its thread waits for the busy main thread in
// Synchronize neither blocks nor lets the queued call reach the freed timer; a
// timer destroyed from inside its own handler (both main-thread modes) is safe.
TEST(HiTimer, DestructionNeverWaitsForTheMainThreadNorLeavesACallBehind) {
  std::atomic<int> Fired{0};
  auto* t = new TMMHiTimer;
  t->SetInterval(5);
  t->SetCallBackMode(TMMCBMode::cmThread);
  t->SetOnTimer([&](TObject*) { ++Fired; });
  // The main thread is busy: the timer thread's first tick waits in Synchronize.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto Start = std::chrono::steady_clock::now();
  delete t;
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(2));
  Application().ProcessMessages();  // the queued call runs now, and must do nothing
  Wait(50, true);
  EXPECT_EQ(Fired, 0);

  for (TMMCBMode Mode : {TMMCBMode::cmThread, TMMCBMode::cmWindow}) {
    auto* Own = new TMMHiTimer;
    std::atomic<bool> Gone{false};
    Own->SetInterval(5);
    Own->SetCallBackMode(Mode);
    Own->SetOnTimer([&](TObject* Sender) {
      delete static_cast<TMMHiTimer*>(Sender);  // closing a window from a tick
      Gone = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return Gone.load(); }));
    Wait(50, true);
  }
}

}  // namespace
}  // namespace velmar
