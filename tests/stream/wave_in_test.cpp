#include "stream/wave_in.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "stream/messages.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/formats.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::CdFormat;
using test::TPlain;
using test::WaitUntil;

struct WaveIn : ::testing::Test {
  std::shared_ptr<TVirtualBackend> Virtual = std::make_shared<TVirtualBackend>();
  WaveIn() { SetWaveBackends({Virtual}); }
  ~WaveIn() override { SetWaveBackends({}); }

  void ExpectError(const std::function<void()>& Action, const std::string& Text) {
    try {
      Action();
      ADD_FAILURE() << "no error, expected " << Text;
    } catch (const EMMWaveInError& e) {
      EXPECT_EQ(std::string(e.what()), Text);
    }
  }
};

// Collects what reaches the end of the chain (on the delivering thread).
struct Collector {
  TPlain Sink;
  std::mutex Lock;
  std::vector<std::uint8_t> Bytes;
  std::atomic<int> Buffers{0};
  Collector() {
    Sink.OnBufferReady = [this](TObject*, PWaveHdr h) {
      std::lock_guard<std::mutex> l(Lock);
      Bytes.insert(Bytes.end(), h->wh.lpData, h->wh.lpData + h->wh.dwBytesRecorded);
      ++Buffers;
    };
  }
  size_t Size() {
    std::lock_guard<std::mutex> l(Lock);
    return Bytes.size();
  }
};

// A counter without gaps or repeats, from wherever the source was when it started.
bool IsCounter(const std::vector<std::uint8_t>& b) {
  if (b.size() < 2) return true;
  const auto First = static_cast<std::uint16_t>(b[0] | b[1] << 8);
  for (size_t i = 0; i + 1 < b.size(); i += 2)
    if (static_cast<std::uint16_t>(b[i] | b[i + 1] << 8) !=
        static_cast<std::uint16_t>(First + i / 2))
      return false;
  return true;
}

TEST_F(WaveIn, DefaultsAndClampingSetters) {
  Virtual->AddCapture({.Name = "Line in"});
  Virtual->AddCapture({.Name = "Mic"});
  TMMWaveIn w;
  EXPECT_EQ(w.SampleRate(), 11025);
  EXPECT_EQ(w.BitLength(), TMMBits::b8Bit);
  EXPECT_EQ(w.Mode(), TMMMode::mMono);
  EXPECT_EQ(w.BufferSize(), 2048);
  EXPECT_EQ(w.NumBuffers(), 10);
  EXPECT_EQ(w.CallBackMode(), TMMCBMode::cmWindow);
  EXPECT_EQ(w.TimeFormat(), TMMTimeFormats::tfByte);
  EXPECT_EQ(w.MaxRecordTime(), -1);
  EXPECT_EQ(w.Priority(), TThreadPriority::tpHigher);
  EXPECT_EQ(w.ProductName(), "Line in");
  w.SetNumBuffers(1);
  EXPECT_EQ(w.NumBuffers(), 10);
  w.SetNumBuffers(1000);
  EXPECT_EQ(w.NumBuffers(), 500);
  w.SetBufferSize(10);
  EXPECT_EQ(w.BufferSize(), 32);
  w.SetSampleRate(200000);
  EXPECT_EQ(w.SampleRate(), 100000);
  EXPECT_EQ(w.PWaveFormat()->nSamplesPerSec, 100000u);
  w.SetDeviceID(7);
  EXPECT_EQ(w.DeviceID(), InvalidId);
  EXPECT_EQ(w.ProductName(), "No wave audio recording device found");
  ExpectError([&] { w.Open(); }, "Invalid DeviceID");
  w.SetDeviceID(MapperId);
  EXPECT_EQ(w.ProductName(), "Line in");
  EXPECT_EQ(WaveInDeviceName(1), "Mic");
  EXPECT_EQ(WaveInDeviceName(2), "");
}

TEST_F(WaveIn, NoDevicesAtAll) {
  TMMWaveIn w;
  EXPECT_EQ(w.DeviceID(), InvalidId);
  ExpectError([&] { w.Open(); }, "No wave audio recording device found");
}

TEST_F(WaveIn, ShapingPropertiesAreLockedWhileOpen) {
  Virtual->AddCapture({.Name = "in", .RealTime = false});
  TMMWaveIn w;
  w.Open();
  EXPECT_TRUE(w.State() & wisOpened);
  ExpectError([&] { w.SetMode(TMMMode::mStereo); }, "Change to property while device was open");
  ExpectError([&] { w.SetBufferSize(4096); }, "Change to property while device was open");
  ExpectError([&] { w.SetCallBackMode(TMMCBMode::cmThread); },
              "Change to property while device was open");
  w.Close();
  EXPECT_EQ(w.State(), wisClosed);
}

class WaveInModes : public WaveIn, public ::testing::WithParamInterface<TMMCBMode> {};

TEST_P(WaveInModes, CountersArriveInOrderAndCloseWorksFromEveryState) {
  Virtual->AddCapture({.Name = "counter", .Generator = CounterSignal()});
  TMMWaveIn w;
  Collector c;
  w.SetCallBackMode(GetParam());
  w.SetPWaveFormat(&CdFormat);
  w.SetBufferSize(4096);
  w.SetOutput(&c.Sink);
  std::vector<std::string> Events;
  w.OnOpen = [&](TObject*) { Events.push_back("open"); };
  w.OnStart = [&](TObject*) { Events.push_back("start"); };
  w.OnStop = [&](TObject*) { Events.push_back("stop"); };
  w.OnClose = [&](TObject*) { Events.push_back("close"); };
  w.Start();
  ASSERT_TRUE(WaitUntil([&] { return c.Size() >= 4096 * 20; }));
  // A handler may be running: then the stop, and the close after it, complete on
  // the main thread once it has returned.
  auto Closed = [&] { return WaitUntil([&] { return w.State() == wisClosed; }); };
  w.Close();
  ASSERT_TRUE(Closed());
  EXPECT_EQ(Events, (std::vector<std::string>{"open", "start", "stop", "close"}));
  EXPECT_TRUE(IsCounter(c.Bytes));
  EXPECT_EQ(c.Size() % 4, 0u);

  // Close from the other states.
  w.Open();
  w.Close();
  ASSERT_TRUE(Closed());
  w.Pause();  // opens, marks paused
  EXPECT_TRUE(w.State() & wisPaused);
  w.Start();  // queues without starting the driver
  w.Restart();
  w.Pause();
  w.Close();
  ASSERT_TRUE(Closed());
}

INSTANTIATE_TEST_SUITE_P(AllDeliveryModes, WaveInModes,
                         ::testing::Values(TMMCBMode::cmWindow, TMMCBMode::cmCallback,
                                           TMMCBMode::cmThread));

TEST_F(WaveIn, MaxRecordTimeCutsExactlyAndStopsOnTheMainThread) {
  Virtual->AddCapture({.Name = "fast", .Generator = CounterSignal(), .RealTime = false});
  for (TMMCBMode Mode : {TMMCBMode::cmWindow, TMMCBMode::cmThread, TMMCBMode::cmCallback}) {
    TMMWaveIn w;
    Collector c;
    w.SetCallBackMode(Mode);
    w.SetPWaveFormat(&CdFormat);
    w.SetBufferSize(5000);  // 1000 ms do not end on a buffer boundary
    w.SetTimeFormat(TMMTimeFormats::tfMillisecond);
    w.SetMaxRecordTime(1000);
    w.SetOutput(&c.Sink);
    std::thread::id StoppedOn;
    std::atomic<bool> Stopped{false};
    w.OnStop = [&](TObject*) {
      StoppedOn = std::this_thread::get_id();
      Stopped = true;
    };
    w.Start();
    ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); })) << Ord(Mode);
    EXPECT_EQ(StoppedOn, std::this_thread::get_id());
    EXPECT_EQ(c.Size(), 176400u) << Ord(Mode);
    EXPECT_TRUE(IsCounter(c.Bytes));
    EXPECT_EQ(w.Position(), 0);  // stopped: position only while running
    w.Close();
  }
}

TEST_F(WaveIn, TimeFormatReexpressesTheLimit) {
  Virtual->AddCapture({.Name = "in"});
  TMMWaveIn w;
  w.SetPWaveFormat(&CdFormat);
  w.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  w.SetMaxRecordTime(1000);
  w.SetTimeFormat(TMMTimeFormats::tfByte);
  EXPECT_EQ(w.MaxRecordTime(), 176400);
  w.SetTimeFormat(TMMTimeFormats::tfSample);
  EXPECT_EQ(w.MaxRecordTime(), 44100);
}

TEST_F(WaveIn, AStopFromInsideAHandlerCompletesAfterIt) {
  Virtual->AddCapture({.Name = "in", .Generator = CounterSignal(), .RealTime = false});
  TMMWaveIn w;
  Collector c;
  w.SetCallBackMode(TMMCBMode::cmThread);
  w.SetOutput(&c.Sink);
  std::atomic<bool> InHandler{false}, StoppedInside{false}, Stopped{false};
  c.Sink.OnBufferReady = [&](TObject*, PWaveHdr) {
    if (c.Buffers++ == 2) {
      InHandler = true;
      w.Stop();  // from the chain, on the worker thread
      StoppedInside = (w.State() & wisStarted) == 0;
      InHandler = false;
    }
  };
  w.OnStop = [&](TObject*) {
    EXPECT_FALSE(InHandler.load());
    Stopped = true;
  };
  w.Start();
  ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); }));
  EXPECT_FALSE(StoppedInside);  // still started inside the handler
  w.Close();
}

// Record pressed while monitoring: Stop and Close from the main thread while the
// worker runs a slow handler leave the device closed, ready to open again, and
// destroying a device in that state never races its worker or the platform's
// thread (which would write into freed headers).
TEST_F(WaveIn, CloseWhileTheWorkerRunsAHandlerClosesTheDevice) {
  Virtual->AddCapture({.Name = "in", .Generator = CounterSignal(), .RealTime = false});
  for (const bool CloseFirst : {true, false}) {
    auto w = std::make_unique<TMMWaveIn>();
    TPlain Sink;
    std::atomic<bool> InHandler{false};
    std::atomic<int> Calls{0};
    Sink.OnBufferReady = [&](TObject*, PWaveHdr h) {
      InHandler = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      std::memset(h->wh.lpData, 0, h->wh.dwBytesRecorded);  // the header must still be ours
      ++Calls;
      InHandler = false;
    };
    w->SetCallBackMode(TMMCBMode::cmThread);
    w->SetOutput(&Sink);
    w->Start();
    ASSERT_TRUE(WaitUntil([&] { return InHandler.load(); }));
    if (CloseFirst) {
      w->Stop();
      w->Close();
      EXPECT_EQ(w->State(), wisClosed);
      EXPECT_FALSE(InHandler);
      const int Before = Calls;
      w->Start();  // the monitoring input opens again after the recording
      ASSERT_TRUE(WaitUntil([&] { return Calls > Before && InHandler; }));
    }
    w.reset();
    EXPECT_FALSE(InHandler);
  }
}

// A priority set on a running device reaches its worker thread at once.
TEST_F(WaveIn, PriorityReachesTheRunningWorker) {
  Virtual->AddCapture({.Name = "in", .Generator = CounterSignal()});
  TMMWaveIn w;
  TPlain Sink;
  std::atomic<int> Nice{-100};
  Sink.OnBufferReady = [&](TObject*, PWaveHdr) {
    errno = 0;
    Nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentSystemThreadId()));
  };
  w.SetCallBackMode(TMMCBMode::cmThread);
  w.SetOutput(&Sink);
  w.Start();
  w.SetPriority(TThreadPriority::tpIdle);  // lowering is always allowed
  EXPECT_TRUE(WaitUntil([&] { return Nice == 15; })) << "nice " << Nice;
  w.Close();
}

// A chain that raises inside a buffer handler: OnError fires once, the device
// closes, and the error reaches the application, in every delivery mode.
TEST_F(WaveIn, AnErrorInTheChainFiresOnErrorAndClosesInEveryMode) {
  Virtual->AddCapture({.Name = "in", .Generator = CounterSignal(), .RealTime = false});
  std::atomic<int> Reported{0};
  Application().OnException = [&](TObject*, const std::string& Text) {
    EXPECT_EQ(Text, "chain broke");
    ++Reported;
  };
  for (TMMCBMode Mode : {TMMCBMode::cmWindow, TMMCBMode::cmCallback, TMMCBMode::cmThread}) {
    Reported = 0;
    TMMWaveIn w;
    TPlain Sink;
    std::atomic<int> Buffers{0}, Errors{0};
    Sink.OnBufferReady = [&](TObject*, PWaveHdr) {
      if (++Buffers == 3) throw std::runtime_error("chain broke");
    };
    w.OnError = [&](TObject* Sender) {
      EXPECT_EQ(Sender, &w);
      ++Errors;
    };
    w.SetCallBackMode(Mode);
    w.SetOutput(&Sink);
    w.Start();
    EXPECT_TRUE(WaitUntil([&] { return w.State() == wisClosed && Reported > 0; }))
        << static_cast<int>(Mode);
    EXPECT_EQ(Errors, 1) << static_cast<int>(Mode);
  }
  Application().OnException = nullptr;
}

TEST_F(WaveIn, AHeaderThatNeverReturnsDoesNotKeepCloseWaiting) {
  Virtual->AddCapture({.Name = "faulty", .Generator = CounterSignal(), .HoldHeader = 3});
  TMMWaveIn w;
  w.SetCallBackMode(TMMCBMode::cmCallback);
  w.Start();
  ASSERT_TRUE(WaitUntil([&] { return w.BytesRecorded() > 0; }));
  const auto Start = std::chrono::steady_clock::now();
  w.Close();
  ASSERT_TRUE(WaitUntil([&] { return w.State() == wisClosed; }));
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(10));
}

TEST_F(WaveIn, RefusedOpenIsReportedWithThePrefix) {
  Virtual->AddCapture({.Name = "busy", .OpenError = MMSYSERR_ALLOCATED});
  TMMWaveIn w;
  int Errors = 0;
  w.OnError = [&](TObject*) { ++Errors; };
  ExpectError([&] { w.Open(); }, "WaveInOpen:\n\r" + LibMessage(87));
  EXPECT_GE(Errors, 1);
  EXPECT_EQ(w.State(), wisClosed);
}

}  // namespace
}  // namespace velmar
