#include "stream/device_notify.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::WaitUntil;

// A device as its plumbing sees it: it records where and what it handled.
struct FakeDevice : TMMDeviceSink {
  test::TDevice Component;
  TMMDeviceNotify Notify;
  std::uintptr_t Handle = 7;
  std::mutex Lock;
  std::vector<PWaveHdr> Handled;
  std::vector<std::thread::id> HandledOn;
  std::atomic<int> Opened{0}, Closed{0}, Stops{0}, ClosedAfterError{0};
  std::function<void(PWaveHdr)> OnBuffer;

  explicit FakeDevice(bool Output = false)
      : Notify(Component, *this, Output ? kWaveOutMessages : kWaveInMessages, Output) {}

  std::uintptr_t NotifyHandle() const override { return Handle; }
  void NotifyOpened() override { ++Opened; }
  void NotifyClosed() override { ++Closed; }
  void BufferDone(PWaveHdr h) override {
    if (OnBuffer) OnBuffer(h);
    std::lock_guard<std::mutex> l(Lock);
    Handled.push_back(h);
    HandledOn.push_back(std::this_thread::get_id());
  }
  void DeferredStop() override { ++Stops; }
  void CloseAfterError() override { ++ClosedAfterError; }
  TThreadPriority WorkerPriority() const override { return TThreadPriority::tpHigher; }

  size_t Count() {
    std::lock_guard<std::mutex> l(Lock);
    return Handled.size();
  }
  PWaveHdr Header(int i) {
    return reinterpret_cast<PWaveHdr>(static_cast<std::uintptr_t>(0x1000 + i));
  }
  void Done(int i, std::uintptr_t h = 0) {
    Notify.Callback(h ? h : Handle, 960, 0, reinterpret_cast<LPARAM>(Header(i)));
  }
};

TEST(DeviceNotify, WindowModeHandlesBuffersOnTheMainThreadInOrder) {
  FakeDevice d;
  d.Notify.Window();
  std::thread Driver([&] {
    d.Notify.Callback(d.Handle, 958, 0, 0);
    for (int i = 0; i < 5; ++i) d.Done(i);
    d.Done(99, 12345);  // another device handle: ignored
  });
  Driver.join();
  EXPECT_EQ(d.Opened, 1);  // state changes arrive at once
  EXPECT_EQ(d.Count(), 0u);
  Application().ProcessMessages();
  ASSERT_EQ(d.Count(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(d.Handled[i], d.Header(i));
    EXPECT_EQ(d.HandledOn[i], std::this_thread::get_id());
  }
}

TEST(DeviceNotify, CallbackModeHandlesInTheCallersThread) {
  FakeDevice d;
  d.Notify.SetCallBackMode(TMMCBMode::cmCallback);
  std::thread::id Driver;
  std::thread t([&] {
    Driver = std::this_thread::get_id();
    d.Done(1);
  });
  t.join();
  ASSERT_EQ(d.Count(), 1u);
  EXPECT_EQ(d.HandledOn[0], Driver);
}

TEST(DeviceNotify, ThreadModeHandlesOnItsWorkerAndEnds) {
  FakeDevice d;
  d.Notify.SetCallBackMode(TMMCBMode::cmThread);
  const int Before = DSPThreadCount();
  ASSERT_TRUE(d.Notify.StartThread());
  EXPECT_EQ(DSPThreadCount(), Before + 1);
  std::thread Driver([&] {
    for (int i = 0; i < 100; ++i) d.Done(i);
  });
  Driver.join();
  ASSERT_TRUE(WaitUntil([&] { return d.Count() == 100; }));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(d.Handled[i], d.Header(i));
  EXPECT_NE(d.HandledOn[0], std::this_thread::get_id());
  d.Notify.StopThread();
  ASSERT_TRUE(WaitUntil([&] { return DSPThreadCount() == Before; }));
}

TEST(DeviceNotify, StopDuringAHandlerIsDeferredToTheMainThreadOnce) {
  FakeDevice d;
  d.Notify.SetCallBackMode(TMMCBMode::cmCallback);
  d.Notify.Window();
  d.OnBuffer = [&](PWaveHdr) {
    EXPECT_TRUE(d.Notify.RequestStop());  // a handler runs: the stop waits
    EXPECT_TRUE(d.Notify.RequestStop());
    EXPECT_EQ(d.Stops, 0);
  };
  d.Done(1);
  EXPECT_EQ(d.Stops, 0);  // not inside the callback
  Application().ProcessMessages();
  EXPECT_EQ(d.Stops, 1);  // posted once, run on the main thread
  d.Notify.ClearStop();
  d.OnBuffer = nullptr;
  EXPECT_FALSE(d.Notify.RequestStop());  // no handler runs: stop at once
}

TEST(DeviceNotify, AHandlerErrorClosesTheDeviceAndIsReported) {
  std::vector<std::string> Shown;
  Application().OnException = [&](TObject*, const std::string& Text) { Shown.push_back(Text); };
  FakeDevice d;
  d.OnBuffer = [](PWaveHdr) { throw std::runtime_error("Error filling wave buffer"); };
  d.Notify.Window();
  d.Done(1);
  Application().ProcessMessages();
  EXPECT_EQ(d.ClosedAfterError, 1);
  d.Notify.SetCallBackMode(TMMCBMode::cmThread);
  ASSERT_TRUE(d.Notify.StartThread());
  d.Done(2);
  ASSERT_TRUE(WaitUntil([&] { return d.Notify.ThreadFailed(); }));
  EXPECT_EQ(d.ClosedAfterError, 2);
  d.Notify.StopThread();
  ASSERT_TRUE(WaitUntil([&] { return Shown.size() == 2; }));
  EXPECT_EQ(Shown[1], "Error filling wave buffer");
  Application().OnException = nullptr;
}

TEST(DeviceNotify, CloseGivesUpOnAHungWorkerAfterFiveSeconds) {
  TEvent Release(true);
  std::atomic<bool> InHandler{false};
  const int Before = DSPThreadCount();
  auto d = std::make_unique<FakeDevice>();
  d->OnBuffer = [&](PWaveHdr) {
    InHandler = true;
    Release.WaitFor(INFINITE);
  };
  d->Notify.SetCallBackMode(TMMCBMode::cmThread);
  ASSERT_TRUE(d->Notify.StartThread());
  d->Done(1);
  ASSERT_TRUE(WaitUntil([&] { return InHandler.load(); }));
  const auto Start = std::chrono::steady_clock::now();
  d->Notify.StopThread();
  const auto Took = std::chrono::steady_clock::now() - Start;
  EXPECT_GE(Took, std::chrono::milliseconds(4900));
  EXPECT_LT(Took, std::chrono::seconds(30));
  Release.Set();  // the worker finishes its handler and ends without its device
  ASSERT_TRUE(WaitUntil([&] { return DSPThreadCount() == Before; }));
}

TEST(DeviceNotify, RunOnMainThreadFromAWorker) {
  FakeDevice d;
  std::thread::id RanOn;
  std::atomic<bool> Done{false};
  d.OnBuffer = [&](PWaveHdr) {
    RunOnMainThread([&] { RanOn = std::this_thread::get_id(); });
    Done = true;
  };
  d.Notify.SetCallBackMode(TMMCBMode::cmThread);
  ASSERT_TRUE(d.Notify.StartThread());
  d.Done(1);
  ASSERT_TRUE(WaitUntil([&] { return Done.load(); }));
  EXPECT_EQ(RanOn, std::this_thread::get_id());
  d.Notify.StopThread();

  std::thread::id Direct;
  std::thread Plain([&] { RunOnMainThread([&] { Direct = std::this_thread::get_id(); }); });
  const auto PlainId = Plain.get_id();
  Plain.join();
  EXPECT_EQ(Direct, PlainId);  // not a stream thread: runs where it is called
}

}  // namespace
}  // namespace velmar
