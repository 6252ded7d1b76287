// The metering path with its threads, as the main window runs it: the tap on the
// device's worker thread, the draw passes on the main thread and the peak fall
// on the tick service's thread (also under ThreadSanitizer).
#include <gtest/gtest.h>

#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "controls/connector.h"
#include "controls/level.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "stream/wave_in.h"
#include "tests/support/formats.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/wavefile/wave_file_test_support.h"
#include "wavefile/wave_recorder.h"

namespace velmar {
namespace {

using test::TempDir;
using test::WaitUntil;

struct Meters : ::testing::Test {
  std::shared_ptr<TVirtualBackend> Virtual = std::make_shared<TVirtualBackend>();
  QWidget Window;
  TMMLevel Left{&Window}, Right{&Window};
  TMMConnector Connector;

  Meters() {
    SetWaveBackends({Virtual});
    for (TMMLevel* l : {&Left, &Right}) {
      l->SetBitLength(TMMBits::b16Bit);
      l->SetMode(TMMMode::mStereo);
    }
    Left.setGeometry(9, 8, 280, 9);
    Right.setGeometry(9, 24, 280, 9);
    Left.SetChannel(TMMChannel::chLeft);
    Right.SetChannel(TMMChannel::chRight);
    Window.resize(300, 40);
    Window.show();
    Connector.SetLevel1(&Left);
    Connector.SetLevel2(&Right);
  }
  ~Meters() override { SetWaveBackends({}); }

  // The spots a steady amplitude lights on these bars.
  int SpotsFor(int Amplitude) {
    TMMLevel Reference;
    Reference.setGeometry(0, 0, 280, 9);
    Reference.show();  // a hidden widget hears of its size when shown
    Reference.ProcessLevel(Amplitude);
    return Reference.CurrentLevel();
  }
};

// Monitoring: a tone of half scale from a real-time input in cmThread mode shows
// its level on both bars, within a spot, while the markers are ticked.
TEST_F(Meters, MonitoringShowsAToneAtItsLevel) {
  Virtual->AddCapture({.Name = "in", .Generator = ToneSignal(1000, 0.5)});
  TMMWaveIn In;
  In.SetCallBackMode(TMMCBMode::cmThread);
  In.SetPWaveFormat(&test::CdFormat);
  In.SetBufferSize(8096);
  In.SetOutput(&Connector);
  In.Start();
  const int Want = SpotsFor(16383);
  auto Close = [&](const TMMLevel& l) { return std::abs(l.CurrentLevel() - Want) <= 1; };
  ASSERT_TRUE(WaitUntil([&] { return Close(Left) && Close(Right); }))
      << Left.CurrentLevel() << " " << Right.CurrentLevel() << ", want " << Want;
  // It stays there for a while of drawing, tapping and ticking, drawn in at most
  // 30 pictures a second: the passes of one wake-up come together (the trigger
  // event ends each pass), and wake-ups are a frame, 33 ms, apart.
  std::vector<std::int64_t> Passes;
  Connector.OnTrigger = [&](TObject*) { Passes.push_back(TMMConnector::MicroSeconds()); };
  int Checks = 0, Off = 0;
  WaitUntil(
      [&] {
        Off += !Close(Left) || !Close(Right);
        return ++Checks >= 150;
      },
      std::chrono::seconds(30));
  Connector.OnTrigger = nullptr;
  EXPECT_EQ(Off, 0);
  In.Close();
  ASSERT_GT(Passes.size(), 2u);
  int WakeUps = 1;
  for (std::size_t i = 1; i < Passes.size(); ++i) WakeUps += Passes[i] - Passes[i - 1] > 10000;
  const double Seconds = static_cast<double>(Passes.back() - Passes.front()) / 1e6;
  EXPECT_LE(WakeUps, Seconds * 30 * 1.3 + 3) << Seconds << " s";
  EXPECT_GE(WakeUps, Seconds * 5) << Seconds << " s";
}

// Clicks of a millisecond at full scale, one at a random place in every
// quarter second, from a real-time input in cmThread mode: every click reaches
// the bars (each shows as an overflow in a picture), with small and large
// buffers, although the pictures come only 30 times a second.
TEST_F(Meters, EveryClickReachesTheBars) {
  constexpr std::uint64_t kEvery = 11025, kClick = 44, kClicks = 27;
  const auto ClickAt = [](std::uint64_t k) {
    return k * kEvery + (k * 2654435761u) % (kEvery / 2) + 100;
  };
  // A bar that counts its updates: a pass that fed nothing says nothing.
  struct CountingLevel : TMMLevel {
    using TMMLevel::TMMLevel;
    int Feeds = 0;
    void RefreshPCMData(const void* Data) override {
      ++Feeds;
      TMMLevel::RefreshPCMData(Data);
    }
  } Bar{&Window};
  Bar.setGeometry(9, 8, 280, 9);
  Bar.SetBitLength(TMMBits::b16Bit);
  Bar.SetMode(TMMMode::mStereo);
  Bar.SetChannel(TMMChannel::chLeft);
  Bar.show();
  Connector.SetLevel1(&Bar);
  for (const int Buffer : {2048, 8096}) {
    Virtual->Clear();  // the stream starts again at its first click
    Virtual->AddCapture({.Name = "clicks",
                         .Generator =
                             [&](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t Offset,
                                 const WAVEFORMATEX&) {
                               for (std::uint32_t i = 0; i < Count; i += 2) {
                                 const std::uint64_t Frame = (Offset + i) / 4, k = Frame / kEvery;
                                 const bool Loud =
                                     Frame >= ClickAt(k) && Frame < ClickAt(k) + kClick;
                                 const std::int16_t v = Loud ? 32767 : 0;
                                 std::memcpy(Dest + i, &v, 2);
                               }
                             },
                         .Live = false});
    std::atomic<int> Overflows{0};
    int Seen = 0;
    bool Before = false;
    Bar.OnPcmOverflow = [&](TObject*) { ++Overflows; };
    // The end of each pass that fed the bar: a click in it that was not in
    // the last one.
    Connector.OnTrigger = [&](TObject*) {
      if (std::exchange(Bar.Feeds, 0) == 0) return;
      const bool Now = Overflows.exchange(0) > 0;
      Seen += Now && !Before;
      Before = Now;
    };
    TMMWaveIn In;
    In.SetCallBackMode(TMMCBMode::cmThread);
    In.SetPWaveFormat(&test::CdFormat);
    In.SetBufferSize(Buffer);
    In.SetOutput(&Connector);
    In.Start();
    // Until the last click was shown, or a second past its time.
    const auto Last = static_cast<std::int64_t>((ClickAt(kClicks - 1) + kClick) * 4);
    std::int64_t Recorded = 0;
    WaitUntil(
        [&] {
          Recorded = In.BytesRecorded();
          return Seen >= static_cast<int>(kClicks) || Recorded > Last + 176400;
        },
        std::chrono::seconds(30));
    In.Close();
    Connector.OnTrigger = nullptr;
    Bar.OnPcmOverflow = nullptr;
    EXPECT_EQ(Seen, static_cast<int>(kClicks)) << "buffers of " << Buffer << " bytes";
    EXPECT_GE(Recorded, Last) << "a click counted twice";
  }
  Connector.SetLevel1(&Left);
}

// Markers held for one tick, set again and again while the tick puts itself to
// sleep (the tick after the fall) or wakes: each falls within its tick, none is
// left without ticks. The pause after each fall moves the next marker across
// the tick's phase, before, at and after its going to sleep.
TEST_F(Meters, EveryMarkerFallsWhileTheTickSleepsAndWakes) {
  Left.SetPeakDelay(0);
  for (int Round = 0; Round < 40; ++Round) {
    Left.ProcessLevel(Round % 2 ? 32767 : 8000);
    Left.ProcessLevel(0);
    ASSERT_GT(Left.Peak(), 0);
    ASSERT_TRUE(WaitUntil([&] {
      Left.DrawNow();
      return Left.Peak() == 0;
    })) << "round "
        << Round;
    std::this_thread::sleep_for(std::chrono::milliseconds(Round % 8 * 7));
  }
}

// Recording: the bars follow the recorder, and the tap changes nothing of what
// reaches the file.
TEST_F(Meters, TheTapLeavesTheRecordingUntouched) {
  Virtual->AddCapture({.Generator = CounterSignal(), .RealTime = true, .Live = false});
  TempDir Dir;
  TMMWaveRecorder r;
  r.SetBufferSize(8096);
  r.SetDeviceID(0);
  r.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  r.SetMode(TMMMode::mStereo);
  r.SetBitLength(TMMBits::b16Bit);
  r.SetSampleRate(44100);
  r.SetMaxRecordTime(2000);
  std::atomic<bool> Stopped{false};
  r.OnStop = [&](TObject*) { Stopped = true; };
  r.SetOutput(&Connector);
  int Updates = 0;
  Connector.OnTrigger = [&](TObject*) { Updates += Left.CurrentLevel() > 0; };
  r.Wave()->SetFileName(Dir.File("Track01.wav"));
  r.Start();
  ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); }));
  EXPECT_GT(Updates, 0);
  test::BlockPtr b = test::Parse(Dir.File("Track01.wav"));
  ASSERT_TRUE(b);
  const test::Bytes Data = test::ReadAll(b.get(), 65536);
  ASSERT_EQ(Data.size(), 176400u * 2);
  std::vector<std::uint8_t> Want(Data.size());
  CounterSignal()(Want.data(), static_cast<std::uint32_t>(Want.size()), 0, test::CdFormat);
  EXPECT_EQ(Data, Want);
}

}  // namespace
}  // namespace velmar
