#include "stream/wave_out.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "stream/messages.h"
#include "stream/wave_format.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::TPlain;
using test::WaitUntil;

// A source that plays a byte vector through the loop fields of the header, as
// the wave file does.
struct VectorSource {
  TPlain Component;
  std::vector<std::uint8_t> Data;
  size_t At = 0;
  std::atomic<int> Wraps{0};

  explicit VectorSource(std::vector<std::uint8_t> Bytes) : Data(std::move(Bytes)) {
    Component.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& More) {
      const size_t n = std::min<size_t>(h->wh.dwBufferLength, Data.size() - At);
      if (n > 0) std::memcpy(h->wh.lpData, Data.data() + At, n);
      At += n;
      h->wh.dwBytesRecorded = static_cast<std::uint32_t>(n);
      if (n == 0) return;
      if (At < Data.size()) {
        More = true;
        return;
      }
      if (!h->Looping) return;
      if (h->LoopCount > 0) --h->LoopsLeft;
      if (h->LoopCount != 0 && h->LoopsLeft < 0) return;
      At = 0;
      ++Wraps;
      More = true;
      h->Looped = kHdrTrue;
    };
  }
};

std::vector<std::uint8_t> Counter(size_t Bytes) {
  std::vector<std::uint8_t> b(Bytes);
  CounterSignal()(b.data(), static_cast<std::uint32_t>(Bytes), 0, WAVEFORMATEX{});
  return b;
}

struct WaveOut : ::testing::Test {
  std::shared_ptr<TVirtualBackend> Virtual = std::make_shared<TVirtualBackend>();
  std::mutex Lock;
  std::vector<std::uint8_t> Played;
  WAVEFORMATEX Cd{};

  WaveOut() {
    SetWaveBackends({Virtual});
    BuildPCMFormat(&Cd, 16, 2, 44100);
  }
  ~WaveOut() override { SetWaveBackends({}); }

  void AddSink(bool RealTime = false) {
    Virtual->AddPlayback({.Name = "Speakers",
                          .Sink =
                              [this](const std::uint8_t* d, std::uint32_t n) {
                                std::lock_guard<std::mutex> l(Lock);
                                Played.insert(Played.end(), d, d + n);
                              },
                          .RealTime = RealTime});
  }
  std::vector<std::uint8_t> PlayedBytes() {
    std::lock_guard<std::mutex> l(Lock);
    return Played;
  }
};

TEST_F(WaveOut, DefaultsAndRefusals) {
  TMMWaveOut o;
  EXPECT_EQ(o.DeviceID(), InvalidId);  // no output devices
  EXPECT_EQ(o.ProductName(), "No wave audio playing device found");
  try {
    o.Open();
    ADD_FAILURE();
  } catch (const EMMWaveOutError& e) {
    EXPECT_STREQ(e.what(), "No wave audio playing device found");
  }
  AddSink();
  TMMWaveOut p;
  EXPECT_EQ(p.ProductName(), "Speakers");
  EXPECT_EQ(p.BufferSize(), 2048);
  EXPECT_EQ(p.NumBuffers(), 10);
  EXPECT_FALSE(p.Looping());
  EXPECT_TRUE(p.ShowHourGlass());
  EXPECT_EQ(WaveOutDeviceName(0), "Speakers");
  EXPECT_EQ(WaveOutDeviceName(1), "");
}

class WaveOutModes : public WaveOut, public ::testing::WithParamInterface<TMMCBMode> {};

TEST_P(WaveOutModes, PlaysTheSourceAndStopsAtItsEnd) {
  AddSink();
  VectorSource Src(Counter(3 * 2048));  // three buffers of data
  TMMWaveOut o;
  TPlain Display;
  std::atomic<size_t> Shown{0};
  Display.OnBufferReady = [&](TObject*, PWaveHdr h) { Shown += h->wh.dwBytesRecorded; };
  o.SetCallBackMode(GetParam());
  Src.Component.SetOutput(&o);
  o.SetOutput(&Display);
  Src.Component.SetPWaveFormat(&Cd);
  std::thread::id StoppedOn;
  std::atomic<bool> Stopped{false};
  o.OnStop = [&](TObject*) {
    StoppedOn = std::this_thread::get_id();
    Stopped = true;
  };
  o.Start();
  EXPECT_EQ(o.InUse(), 3);
  ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); }));
  EXPECT_EQ(StoppedOn, std::this_thread::get_id());
  EXPECT_EQ(PlayedBytes(), Src.Data);
  EXPECT_EQ(Shown, Src.Data.size());  // played buffers went on down the chain
  o.Close();
  EXPECT_EQ(o.State(), wosClosed);
}

TEST_P(WaveOutModes, LongSourcesRefillTheRingAndCloseWorksWhilePlaying) {
  AddSink(true);
  VectorSource Src(Counter(2048 * 200));
  TMMWaveOut o;
  o.SetCallBackMode(GetParam());
  Src.Component.SetOutput(&o);
  Src.Component.SetPWaveFormat(&Cd);
  o.Start();
  ASSERT_TRUE(WaitUntil([&] { return PlayedBytes().size() > 2048 * 15; }));
  o.Pause();
  EXPECT_TRUE(o.State() & wosPaused);
  o.Restart();
  o.Close();
  ASSERT_TRUE(WaitUntil([&] { return o.State() == wosClosed; }));
  const auto Got = PlayedBytes();
  EXPECT_EQ(std::vector<std::uint8_t>(Src.Data.begin(),
                                      Src.Data.begin() + static_cast<std::ptrdiff_t>(Got.size())),
            Got);  // a prefix, in order
}

INSTANTIATE_TEST_SUITE_P(AllDeliveryModes, WaveOutModes,
                         ::testing::Values(TMMCBMode::cmWindow, TMMCBMode::cmCallback,
                                           TMMCBMode::cmThread));

TEST_F(WaveOut, ASourceWithoutDataFailsToStart) {
  AddSink();
  VectorSource Src({});
  TMMWaveOut o;
  Src.Component.SetOutput(&o);
  Src.Component.SetPWaveFormat(&Cd);
  try {
    o.Start();
    ADD_FAILURE();
  } catch (const EMMWaveOutError& e) {
    EXPECT_EQ(std::string(e.what()), "WaveOutStart:\n\r" + LibMessage(80));
  }
  EXPECT_EQ(o.State(), wosClosed);
}

// A source that raises while the device pulls: OnError fires once, the device
// closes, and the error reaches the application, in every delivery mode.
TEST_F(WaveOut, AnErrorInTheChainFiresOnErrorAndClosesInEveryMode) {
  AddSink();
  std::atomic<int> Reported{0};
  Application().OnException = [&](TObject*, const std::string& Text) {
    EXPECT_EQ(Text, "source broke");
    ++Reported;
  };
  for (TMMCBMode Mode : {TMMCBMode::cmWindow, TMMCBMode::cmCallback, TMMCBMode::cmThread}) {
    Reported = 0;
    VectorSource Src(Counter(1 << 20));
    std::atomic<int> Loads{0}, Errors{0};
    auto Load = Src.Component.OnBufferLoad;
    Src.Component.OnBufferLoad = [&, Load](TObject* Sender, PWaveHdr h, bool& More) {
      if (++Loads == 15) throw std::runtime_error("source broke");
      Load(Sender, h, More);
    };
    TMMWaveOut o;
    o.OnError = [&](TObject* Sender) {
      EXPECT_EQ(Sender, &o);
      ++Errors;
    };
    o.SetCallBackMode(Mode);
    Src.Component.SetOutput(&o);
    Src.Component.SetPWaveFormat(&Cd);
    o.Start();
    EXPECT_TRUE(WaitUntil([&] { return o.State() == wosClosed && Reported > 0; }))
        << static_cast<int>(Mode);
    EXPECT_EQ(Errors, 1) << static_cast<int>(Mode);
  }
  Application().OnException = nullptr;
}

TEST_F(WaveOut, LoopingPlaysLoopCountPlusOneTimes) {
  AddSink();
  VectorSource Src(Counter(5000));
  TMMWaveOut o;
  o.SetBufferSize(1024);
  o.SetLooping(true);
  o.SetLoopCount(2);
  std::atomic<int> Loopings{0};
  std::atomic<bool> Stopped{false};
  o.OnLooping = [&](TObject*) { ++Loopings; };
  o.OnStop = [&](TObject*) { Stopped = true; };
  Src.Component.SetOutput(&o);
  Src.Component.SetPWaveFormat(&Cd);
  o.Start();
  ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); }));
  std::vector<std::uint8_t> Thrice;
  for (int i = 0; i < 3; ++i) Thrice.insert(Thrice.end(), Src.Data.begin(), Src.Data.end());
  EXPECT_EQ(PlayedBytes(), Thrice);
  EXPECT_EQ(Loopings, 2);
  o.Close();
}

TEST_F(WaveOut, ResetWhilePausedRefillsWithoutPlaying) {
  AddSink(true);
  VectorSource Src(Counter(2048 * 100));
  TMMWaveOut o;
  Src.Component.SetOutput(&o);
  Src.Component.SetPWaveFormat(&Cd);
  o.Start();
  ASSERT_TRUE(WaitUntil([&] { return PlayedBytes().size() > 2048 * 3; }));
  o.Pause();
  o.Reset();
  EXPECT_TRUE(o.State() & wosPaused);
  EXPECT_GT(o.InUse(), 0);
  const size_t Before = PlayedBytes().size();
  Wait(100, true);
  EXPECT_EQ(PlayedBytes().size(), Before);  // still paused
  o.Close();
  ASSERT_TRUE(WaitUntil([&] { return o.State() == wosClosed; }));
}

// Playback started near the end of a file and then sought back to its start:
// the reset fills the whole ring again, not just the headers the start needed.
TEST_F(WaveOut, ResetAfterAStartNearTheEndFillsTheWholeRing) {
  AddSink(true);
  VectorSource Src(Counter(1000));
  TMMWaveOut o;
  Src.Component.SetOutput(&o);
  Src.Component.SetPWaveFormat(&Cd);
  o.Pause();
  o.Start();
  EXPECT_EQ(o.InUse(), 1);
  Src.Data = Counter(2048 * 100);  // back to the start of a long file
  Src.At = 0;
  o.Reset();
  EXPECT_EQ(o.InUse(), o.NumBuffers());
  o.Restart();
  ASSERT_TRUE(WaitUntil([&] { return PlayedBytes().size() > 2048 * 12; }));
  o.Close();
  ASSERT_TRUE(WaitUntil([&] { return o.State() == wosClosed; }));
  const auto Heard = PlayedBytes();
  EXPECT_EQ(std::vector<std::uint8_t>(Heard.begin(), Heard.begin() + 2048 * 12),
            std::vector<std::uint8_t>(Src.Data.begin(), Src.Data.begin() + 2048 * 12));
}

TEST_F(WaveOut, ShowHourGlassOnlyForLargeRings) {
  AddSink();
  VectorSource Src(Counter(1000000));
  TMMWaveOut o;
  std::vector<bool> BusyWhileFilling;
  o.OnBufferFilled = [&](TObject*, PWaveHdr) {
    if (BusyWhileFilling.empty()) BusyWhileFilling.push_back(o.Busy());
  };
  Src.Component.SetOutput(&o);
  Src.Component.SetPWaveFormat(&Cd);
  o.SetBufferSize(20000);
  o.Start();
  EXPECT_FALSE(o.Busy());
  o.Close();
  ASSERT_TRUE(WaitUntil([&] { return o.State() == wosClosed; }));
  o.SetBufferSize(10000);
  o.Start();
  o.Close();
  ASSERT_TRUE(WaitUntil([&] { return o.State() == wosClosed; }));
  ASSERT_EQ(BusyWhileFilling.size(), 1u);
  EXPECT_TRUE(BusyWhileFilling[0]);  // 200000 bytes: busy; 100000 would not be
}

}  // namespace
}  // namespace velmar
