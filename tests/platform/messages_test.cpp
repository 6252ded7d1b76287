#include "platform/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::WaitUntil;

struct Received {
  UINT Message;
  WPARAM w;
  LPARAM l;
  bool operator==(const Received&) const = default;
};

TEST(HiddenWindows, MessagesArriveInOrderOnTheMainThread) {
  std::vector<Received> Got;
  std::thread::id RanOn;
  HWND w = AllocateHWnd([&](HWND, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    Got.push_back({m, wp, lp});
    RanOn = std::this_thread::get_id();
    return 0;
  });
  std::thread Poster([w] {
    for (int i = 0; i < 5; ++i) PostMessage(w, WM_USER + 1, static_cast<WPARAM>(i), -i);
  });
  Poster.join();
  Application().ProcessMessages();
  ASSERT_EQ(Got.size(), 5u);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(Got[i], (Received{WM_USER + 1, static_cast<WPARAM>(i), -i}));
  EXPECT_EQ(RanOn, std::this_thread::get_id());
  DeallocateHWnd(w);
}

TEST(HiddenWindows, RemovingAndReleasing) {
  std::vector<UINT> Got;
  HWND a = AllocateHWnd([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    Got.push_back(m);
    return 0;
  });
  HWND b = AllocateHWnd([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    Got.push_back(m + 100);
    return 0;
  });
  PostMessage(a, 1, 0, 0);
  PostMessage(a, 2, 0, 0);
  PostMessage(b, 1, 0, 0);
  PostMessage(a, 1, 0, 0);
  EXPECT_EQ(RemoveMessages(a, 1), 2);  // only a's messages number 1
  Application().ProcessMessages();
  EXPECT_EQ(Got, (std::vector<UINT>{2, 101}));

  Got.clear();
  PostMessage(b, 3, 0, 0);
  DeallocateHWnd(b);  // queued messages go with the window
  EXPECT_FALSE(PostMessage(b, 4, 0, 0));
  Application().ProcessMessages();
  EXPECT_TRUE(Got.empty());
  DeallocateHWnd(a);
}

TEST(ThreadQueues, ExistAfterAPeekAndWakeTheirThread) {
  std::atomic<bool> HasQueue{false};
  std::atomic<int> Count{0};
  TEvent Stop(false);
  std::vector<WPARAM> Got;  // the worker's; read after join
  std::thread Worker([&] {
    TMsg Msg;
    PeekMessage(Msg, PM_NOREMOVE);
    HasQueue = true;
    for (;;) {
      while (PeekMessage(Msg, PM_REMOVE)) {
        Got.push_back(Msg.wParam);
        ++Count;
      }
      if (MsgWaitForMultipleObjects({&Stop}, true, INFINITE) == WAIT_OBJECT_0) break;
    }
    ReleaseThreadQueue();
  });
  const TThreadId Id = Worker.get_id();
  ASSERT_TRUE(WaitUntil([&] { return HasQueue.load(); }));
  for (WPARAM i = 1; i <= 3; ++i) EXPECT_TRUE(PostThreadMessage(Id, WM_USER, i, 0));
  ASSERT_TRUE(WaitUntil([&] { return Count == 3; }));
  Stop.Set();
  Worker.join();
  EXPECT_EQ(Got, (std::vector<WPARAM>{1, 2, 3}));
  EXPECT_FALSE(PostThreadMessage(Id, WM_USER, 9, 0));  // the queue went with the thread
  std::thread NeverPeeked([] {});
  const TThreadId Other = NeverPeeked.get_id();
  EXPECT_FALSE(PostThreadMessage(Other, WM_USER, 1, 0));
  NeverPeeked.join();
}

TEST(Events, AutoResetReleasesOneWaiterManualResetStays) {
  TEvent Auto(false), Manual(true);
  EXPECT_EQ(Auto.WaitFor(0), WAIT_TIMEOUT);
  Auto.Set();
  EXPECT_EQ(Auto.WaitFor(0), WAIT_OBJECT_0);
  EXPECT_EQ(Auto.WaitFor(0), WAIT_TIMEOUT);  // consumed
  Manual.Set();
  EXPECT_EQ(Manual.WaitFor(0), WAIT_OBJECT_0);
  EXPECT_EQ(Manual.WaitFor(0), WAIT_OBJECT_0);
  Manual.Reset();
  EXPECT_EQ(Manual.WaitFor(10), WAIT_TIMEOUT);

  // Of two waiters on an auto-reset event, one Set releases exactly one.
  std::atomic<int> Released{0};
  std::vector<std::thread> Waiters;
  for (int i = 0; i < 2; ++i)
    Waiters.emplace_back([&] {
      if (Auto.WaitFor(INFINITE) == WAIT_OBJECT_0) ++Released;
    });
  Auto.Set();
  ASSERT_TRUE(WaitUntil([&] { return Released == 1; }));
  Auto.Set();
  for (auto& t : Waiters) t.join();
  EXPECT_EQ(Released, 2);
}

TEST(Events, WaitForAnyReportsTheFirstSetOne) {
  TEvent a(false), b(true);
  b.Set();
  EXPECT_EQ(MsgWaitForMultipleObjects({&a, &b}, false, 0), WAIT_OBJECT_0 + 1);
  a.Set();
  EXPECT_EQ(MsgWaitForMultipleObjects({&a, &b}, false, 0), WAIT_OBJECT_0);
  b.Reset();
  EXPECT_EQ(MsgWaitForMultipleObjects({&a, &b}, false, 5), WAIT_TIMEOUT);
}

class TCountingThread : public TThread {
 public:
  explicit TCountingThread(std::function<void()> Body) : TThread(true), FBody(std::move(Body)) {}

 protected:
  void Execute() override { FBody(); }

 private:
  std::function<void()> FBody;
};

TEST(Threads, SynchronizeRunsOnTheMainThreadAndCarriesErrors) {
  std::thread::id Ran;
  bool Rethrown = false;
  std::atomic<bool> Done{false};
  TCountingThread t([&] {
    TThread::Synchronize([&] { Ran = std::this_thread::get_id(); });
    try {
      TThread::Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error&) {
      Rethrown = true;
    }
    Done = true;
  });
  EXPECT_TRUE(t.Suspended());
  t.Resume();
  ASSERT_TRUE(WaitUntil([&] { return Done.load(); }));
  t.WaitFor();
  EXPECT_EQ(Ran, std::this_thread::get_id());
  EXPECT_TRUE(Rethrown);
}

TEST(Threads, FreeOnTerminateDeletesItselfAndSuspendedOnesNeverRun) {
  std::atomic<bool> Ran{false};
  auto* Self = new TCountingThread([&] { Ran = true; });
  Self->SetFreeOnTerminate(true);
  Self->Resume();
  ASSERT_TRUE(WaitUntil([&] { return Ran.load(); }));

  bool Never = false;
  {
    TCountingThread Suspended([&] { Never = true; });
  }
  EXPECT_FALSE(Never);
}

TEST(Threads, PriorityMapping) {
  EXPECT_EQ(PlatformPriority(TThreadPriority::tpIdle), -15);
  EXPECT_EQ(PlatformPriority(TThreadPriority::tpLowest), -2);
  EXPECT_EQ(PlatformPriority(TThreadPriority::tpNormal), 0);
  EXPECT_EQ(PlatformPriority(TThreadPriority::tpHigher), 1);
  EXPECT_EQ(PlatformPriority(TThreadPriority::tpTimeCritical), 15);
  EXPECT_TRUE(ApplyThreadPriority(TThreadPriority::tpNormal));
  ApplyThreadPriority(TThreadPriority::tpTimeCritical);  // may be refused; must not fail
  ApplyThreadPriority(TThreadPriority::tpNormal);
}

TEST(Application, ErrorsAreReportedAndTheLoopGoesOn) {
  std::vector<std::string> Shown;
  Application().OnException = [&](TObject*, const std::string& Text) { Shown.push_back(Text); };
  int After = 0;
  HWND w = AllocateHWnd([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == 1) throw std::runtime_error("Invalid wave format");
    ++After;
    return 0;
  });
  PostMessage(w, 1, 0, 0);
  PostMessage(w, 2, 0, 0);
  Application().ProcessMessages();
  EXPECT_EQ(Shown, std::vector<std::string>{"Invalid wave format"});
  EXPECT_EQ(After, 1);
  Application().OnException = nullptr;
  DeallocateHWnd(w);
}

TEST(Application, WaitWithPumpingHandlesMessages) {
  int Got = 0;
  HWND w = AllocateHWnd([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    ++Got;
    return 0;
  });
  std::thread Later([w] { PostMessage(w, 1, 0, 0); });
  Later.join();
  Wait(30, true);
  EXPECT_EQ(Got, 1);
  PostMessage(w, 1, 0, 0);
  Wait(1, false);  // sleeping does not dispatch
  EXPECT_EQ(Got, 1);
  Application().ProcessMessages();
  EXPECT_EQ(Got, 2);
  DeallocateHWnd(w);
}

// Four senders post a million messages in all to two hidden windows and two
// worker threads while the main thread dispatches and keeps removing one kind of
// message: every other message arrives exactly once and in its sender's order.
TEST(MessageStress, NothingLostDuplicatedOrReordered) {
#if defined(__SANITIZE_THREAD__)
  constexpr int kTotal = 100000;
#else
  constexpr int kTotal = 1000000;
#endif
  constexpr int kSenders = 4, kPerSender = kTotal / kSenders;
  constexpr UINT kKeep = WM_USER + 1, kDrop = WM_USER + 2, kEnd = WM_USER + 3;
  // Per target and sender: the last sequence number seen, and how many arrived.
  struct Track {
    std::vector<long> Last = std::vector<long>(kSenders, -1);
    std::vector<long> Count = std::vector<long>(kSenders, 0);
    bool InOrder = true;
    void See(WPARAM Sender, LPARAM Seq) {
      if (Seq <= Last[Sender]) InOrder = false;
      Last[Sender] = Seq;
      ++Count[Sender];
    }
  };
  Track WindowTrack[2], WorkerTrack[2];
  long DroppedSeen = 0;
  HWND Windows[2];
  for (int i = 0; i < 2; ++i) {
    Windows[i] = AllocateHWnd([&, i](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == kKeep) WindowTrack[i].See(w, l);
      if (m == kDrop) ++DroppedSeen;
      return 0;
    });
  }
  std::atomic<int> WorkersReady{0};
  std::vector<std::thread> Workers;
  for (int i = 0; i < 2; ++i) {
    Workers.emplace_back([&, i] {
      TMsg Msg;
      PeekMessage(Msg, PM_NOREMOVE);
      ++WorkersReady;
      for (bool Running = true; Running;) {
        while (PeekMessage(Msg, PM_REMOVE)) {
          if (Msg.message == kEnd) Running = false;
          if (Msg.message == kKeep) WorkerTrack[i].See(Msg.wParam, Msg.lParam);
        }
        if (Running) MsgWaitForMultipleObjects({}, true, INFINITE);
      }
      ReleaseThreadQueue();
    });
  }
  ASSERT_TRUE(WaitUntil([&] { return WorkersReady == 2; }));
  const TThreadId WorkerIds[2] = {Workers[0].get_id(), Workers[1].get_id()};
  std::atomic<int> SendersDone{0};
  std::vector<std::thread> Senders;
  for (int s = 0; s < kSenders; ++s) {
    Senders.emplace_back([&, s] {
      for (int n = 0; n < kPerSender; ++n) {
        const int Target = n % 4;
        const UINT Kind = (n % 7 == 3) ? kDrop : kKeep;
        const auto Seq = static_cast<LPARAM>(n);
        if (Target < 2)
          PostMessage(Windows[Target], Kind, static_cast<WPARAM>(s), Seq);
        else
          PostThreadMessage(WorkerIds[Target - 2], Kind, static_cast<WPARAM>(s), Seq);
      }
      ++SendersDone;
    });
  }
  while (SendersDone < kSenders) {
    RemoveMessages(Windows[0], kDrop);
    RemoveMessages(Windows[1], kDrop);
    Application().ProcessMessages();
  }
  for (auto& t : Senders) t.join();
  Application().ProcessMessages();
  for (int i = 0; i < 2; ++i) PostThreadMessage(WorkerIds[i], kEnd, 0, 0);
  for (auto& t : Workers) t.join();

  // What each sender posted of the kept kind to each target.
  long KeptPerTarget[4][kSenders] = {};
  for (int s = 0; s < kSenders; ++s)
    for (int n = 0; n < kPerSender; ++n)
      if (n % 7 != 3) ++KeptPerTarget[n % 4][s];
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(WindowTrack[i].InOrder);
    EXPECT_TRUE(WorkerTrack[i].InOrder);
    for (int s = 0; s < kSenders; ++s) {
      EXPECT_EQ(WindowTrack[i].Count[s], KeptPerTarget[i][s]);
      EXPECT_EQ(WorkerTrack[i].Count[s], KeptPerTarget[2 + i][s]);
    }
  }
  long DropPosted = 0;
  for (int s = 0; s < kSenders; ++s)
    for (int n = 0; n < kPerSender; ++n) DropPosted += (n % 7 == 3 && n % 4 < 2);
  EXPECT_LE(DroppedSeen, DropPosted);
  for (HWND w : Windows) DeallocateHWnd(w);
}

}  // namespace
}  // namespace velmar
