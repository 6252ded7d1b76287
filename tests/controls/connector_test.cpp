// The connector on Qt's offscreen platform: the tap, the pacing of the slices to
// real time, the sink rules, pausing, disabling and the manual trigger.
#include "controls/connector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "controls/level.h"
#include "platform/application.h"
#include "platform/messages.h"
#include "stream/errors.h"
#include "stream/wave_format.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::TDevice;
using test::TPlain;
using test::WaitUntil;

// A display that records what it is fed and when.
struct RecordingSink : TMMDisplaySink {
  int Bytes = 200;
  const std::uint8_t* Base = nullptr;  // the data it is fed is read relative to this
  std::vector<std::pair<std::int64_t, std::ptrdiff_t>> Updates;  // µs clock, offset
  std::vector<std::uint8_t> Firsts;                              // the first byte of every update
  int Resets = 0;
  int BytesPerUpdate() const override { return Bytes; }
  void SetPCMWaveFormat(const WAVEFORMATEX*) override {}
  void RefreshPCMData(const void* Data) override {
    const auto* p = static_cast<const std::uint8_t*>(Data);
    if (!Base) Base = p;
    Updates.emplace_back(TMMConnector::MicroSeconds(), p - Base);
    Firsts.push_back(*p);
  }
  void ResetData() override { ++Resets; }
};

// A source that pushes buffers into a connector, which passes them to a sink.
struct Chain {
  TDevice Source;
  TMMConnector Connector;
  TPlain After;
  std::size_t Passed = 0;
  WAVEFORMATEX Cd{};
  explicit Chain(int BufferSize = 8192) {
    BuildPCMFormat(&Cd, 16, 2, 44100);
    Source.SetOutput(&Connector);
    Connector.SetOutput(&After);
    After.OnBufferReady = [this](TObject*, PWaveHdr h) { Passed += h->wh.dwBytesRecorded; };
    Source.SetBufferSize(BufferSize);
    Source.SetPWaveFormat(&Cd);
  }
  void Start() {
    Source.Opened();
    Source.Started();
  }
  void Push(std::vector<std::uint8_t>& Data) {
    TMMWaveHdr h{};
    h.wh.lpData = reinterpret_cast<char*>(Data.data());
    h.wh.dwBufferLength = h.wh.dwBytesRecorded = static_cast<std::uint32_t>(Data.size());
    Source.BufferReady(&h);
  }
  ~Chain() {
    Source.Stopped();
    Source.Closed();
  }
};

std::vector<std::uint8_t> Counting(std::size_t Bytes) {
  std::vector<std::uint8_t> b(Bytes);
  for (std::size_t i = 0; i < Bytes; ++i) b[i] = static_cast<std::uint8_t>(i / 200);
  return b;
}

// 8096 bytes of CD audio are shown as 40 updates of 200 bytes, the k-th no
// earlier than its due time after the tap; the last 96 bytes are never shown.
TEST(Connector, ABufferIsShownInSlicesPacedToRealTime) {
  RecordingSink Sink;  // outlives the chain that feeds it
  Chain c;
  c.Connector.SetMeter1(&Sink);
  c.Start();
  ASSERT_TRUE(WaitUntil([&] { return c.Connector.Active(); }));
  auto Data = Counting(8096);
  const std::int64_t Before = TMMConnector::MicroSeconds();
  c.Push(Data);
  EXPECT_EQ(c.Passed, 8096u);  // the chain gets the buffer at once, whole
  ASSERT_TRUE(WaitUntil([&] { return Sink.Updates.size() >= 40; }));
  Wait(100, true);
  ASSERT_EQ(Sink.Updates.size(), 40u);
  for (std::size_t k = 0; k < 40; ++k) {
    EXPECT_EQ(Sink.Firsts[k], k) << k;
    EXPECT_GE(Sink.Updates[k].first - Before, static_cast<std::int64_t>(k * 200 * 1000000 / 176400))
        << k;
  }
}

// Without Synchronize a buffer is drawn in a burst; a buffer longer than the
// buffer size is shown only as far as the buffer size goes.
TEST(Connector, WithoutSynchronizeABurstAndLongBuffersAreCut) {
  RecordingSink Sink;
  Chain c(176400);  // one second per buffer
  c.Connector.SetSynchronize(false);
  c.Connector.SetMeter1(&Sink);
  c.Start();
  ASSERT_TRUE(WaitUntil([&] { return c.Connector.Active(); }));
  auto Data = Counting(176400 + 4000);
  const std::int64_t Before = TMMConnector::MicroSeconds();
  c.Push(Data);
  ASSERT_TRUE(WaitUntil([&] { return Sink.Updates.size() >= 882; }));
  EXPECT_LT(Sink.Updates.back().first - Before, 500000);  // long before its real time
  Wait(50, true);
  EXPECT_EQ(Sink.Updates.size(), 882u);
  EXPECT_EQ(c.Passed, Data.size());
}

TEST(Connector, SinkRulesSpeedAndDisabling) {
  RecordingSink Sink;
  Chain c;
  TMMLevel Left, Right;
  c.Connector.SetLevel1(&Left);
  c.Connector.SetLevel2(&Left);  // the pair takes a bar once
  EXPECT_EQ(c.Connector.Level2(), nullptr);
  c.Connector.SetLevel2(&Right);
  EXPECT_EQ(Left.BitLength(), TMMBits::b16Bit);  // the stream's format reached the bars
  EXPECT_EQ(Right.Mode(), TMMMode::mStereo);
  c.Connector.SetSpeed(0);
  EXPECT_EQ(c.Connector.Speed(), 1);
  c.Connector.SetSpeed(9999);
  EXPECT_EQ(c.Connector.Speed(), 5000);
  {
    TMMLevel Gone;
    c.Connector.SetLevel1(&Gone);
  }
  EXPECT_EQ(c.Connector.Level1(), nullptr);  // a destroyed bar is forgotten

  c.Connector.SetMeter1(&Sink);
  c.Start();
  c.Connector.SetEnabled(false);
  EXPECT_EQ(Sink.Resets, 1);  // cleared at once
  c.Connector.SetEnabled(true);
  c.Connector.SetRefreshOnStop(false);
  c.Source.Stopped();
  EXPECT_EQ(Sink.Resets, 1);  // the last picture stays
  EXPECT_THROW(c.Connector.SetRealTime(false), EMMConnectorError);
}

// Paused, the bars are fed silence at the buffer rate and fall back.
TEST(Connector, PausedTheDisplaysFallBackOnSilence) {
  RecordingSink Sink;
  Chain c(2048);  // about 11.6 ms of audio: fed every 25 ms tick
  c.Connector.SetMeter1(&Sink);
  c.Start();
  ASSERT_TRUE(WaitUntil([&] { return c.Connector.Active(); }));
  auto Loud = std::vector<std::uint8_t>(2048, 0x7F);
  c.Push(Loud);
  ASSERT_TRUE(WaitUntil([&] { return !Sink.Firsts.empty(); }));
  c.Source.Paused();
  const std::size_t At = Sink.Firsts.size();
  ASSERT_TRUE(WaitUntil([&] { return Sink.Firsts.size() >= At + 30; }));
  EXPECT_EQ(Sink.Firsts.back(), 0);  // silence
  c.Source.Restarted();
}

// A trigger message that arrives while the connector is disabled leaves its
// counter at 1: later triggers do nothing until the next activation.
TEST(Connector, AManualTriggerWaitsInTheQueueOnlyOnce) {
  RecordingSink Sink;  // outlives the chain that feeds it
  Chain c;
  c.Connector.SetAutoTrigger(false);
  c.Connector.SetMeter1(&Sink);
  c.Start();
  ASSERT_TRUE(WaitUntil([&] { return c.Connector.Active(); }));
  auto Data = Counting(8096);
  c.Push(Data);
  c.Connector.SetSynchronize(false);
  c.Connector.Trigger();  // main thread: at once
  EXPECT_EQ(Sink.Updates.size(), 1u);
  std::thread([&] { c.Connector.Trigger(); }).join();
  EXPECT_EQ(c.Connector.PendingTriggers(), 1);
  std::thread([&] { c.Connector.Trigger(); }).join();  // one waits already
  c.Connector.SetEnabled(false);
  Application().ProcessMessages();
  EXPECT_EQ(c.Connector.PendingTriggers(), 1);  // stuck
  c.Connector.SetEnabled(true);
  c.Connector.Trigger();
  const std::size_t Stuck = Sink.Updates.size();
  EXPECT_EQ(Stuck, 1u);
}

// What used to go wrong around the draw pass: a level's handler that stops the
// connector while it is being fed (hung on the connector's lock), AutoTrigger
// turned on while running (never drew), a second connector whose activation
// was queued when the first was destroyed (stayed dark), and RealTime off,
// where the displays were drawn on the delivering thread.
TEST(Connector, DrawPassesSurviveHandlersLateAutoTriggerDestroyedNeighboursAndOtherThreads) {
  {
    Chain c;
    TMMLevel Bar;
    Bar.setGeometry(0, 0, 280, 9);
    Bar.show();
    c.Connector.SetLevel1(&Bar);
    Bar.OnPcmOverflow = [&](TObject*) { c.Connector.Resetting(); };
    c.Start();
    ASSERT_TRUE(WaitUntil([&] { return c.Connector.Active(); }));
    std::vector<std::uint8_t> Loud(8096, 0);
    for (std::size_t i = 0; i < Loud.size(); i += 2) Loud[i] = 0xFF, Loud[i + 1] = 0x7F;
    c.Push(Loud);
    EXPECT_TRUE(WaitUntil([&] { return Bar.CurrentLevel() > 0; }));
  }
  {
    RecordingSink Sink;
    Chain c;
    c.Connector.SetAutoTrigger(false);
    c.Connector.SetMeter1(&Sink);
    c.Start();
    ASSERT_TRUE(WaitUntil([&] { return c.Connector.Active(); }));
    c.Connector.SetAutoTrigger(true);
    auto Data = Counting(8096);
    c.Push(Data);
    EXPECT_TRUE(WaitUntil([&] { return Sink.Updates.size() >= 40; }));
  }
  {
    RecordingSink Sink;
    Chain Second;
    Second.Connector.SetMeter1(&Sink);
    {
      Chain First;
      First.Start();
      Second.Start();  // its activation waits in the queue behind the first's
    }
    ASSERT_TRUE(WaitUntil([&] { return Second.Connector.Active(); }));
    auto Data = Counting(8096);
    Second.Push(Data);
    EXPECT_TRUE(WaitUntil([&] { return !Sink.Updates.empty(); }));
  }
  {
    struct ThreadSink : RecordingSink {
      std::vector<bool> OnMain;
      void RefreshPCMData(const void* Data) override {
        OnMain.push_back(InMainThread());
        RecordingSink::RefreshPCMData(Data);
      }
    } Sink;
    Chain c;
    c.Connector.SetRealTime(false);
    c.Connector.SetMeter1(&Sink);
    c.Start();
    auto Data = Counting(8096);
    std::thread([&] { c.Push(Data); }).join();
    ASSERT_TRUE(WaitUntil([&] { return !Sink.OnMain.empty(); }));
    EXPECT_EQ(std::count(Sink.OnMain.begin(), Sink.OnMain.end(), false), 0);
  }
}

}  // namespace
}  // namespace velmar
