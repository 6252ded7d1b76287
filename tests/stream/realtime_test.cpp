// Real time: our devices on a private PulseAudio server's null sink, paced by a
// real clock. The output plays a tone into the sink while the input captures the
// sink's monitor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "stream/wave_format.h"
#include "stream/wave_in.h"
#include "stream/wave_out.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/formats.h"
#include "tests/support/pulse_server.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

struct RealTime : ::testing::Test {
  PulseServer Server;
  std::shared_ptr<TAlsaBackend> Alsa;
  int In = -1, Out = -1;
  WAVEFORMATEX Cd{};
  // A tone source for the output: 1 kHz at half scale, endless.
  TPlain Tone;
  std::uint64_t ToneAt = 0;

  void SetUp() override {
    ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
    Alsa = std::make_shared<TAlsaBackend>();
    SetWaveBackends({Alsa});
    In = PulseServer::Monitor(*Alsa);
    Out = PulseServer::Sink(*Alsa);
    ASSERT_GE(In, 0);
    ASSERT_GE(Out, 0);
    BuildPCMFormat(&Cd, 16, 2, 44100);
    Tone.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& More) {
      ToneSignal(1000, 0.5)(reinterpret_cast<std::uint8_t*>(h->wh.lpData), h->wh.dwBufferLength,
                            ToneAt, Cd);
      ToneAt += h->wh.dwBufferLength;
      h->wh.dwBytesRecorded = h->wh.dwBufferLength;
      More = true;
    };
    Tone.SetPWaveFormat(&Cd);
  }
  void TearDown() override { SetWaveBackends({}); }
};

TEST_F(RealTime, TheMonitorCapturesThePlayedToneAtItsLevelAndLength) {
  TMMWaveOut Player;
  Player.SetDeviceID(Out);
  Player.SetCallBackMode(TMMCBMode::cmThread);
  Tone.SetOutput(&Player);
  Player.Start();

  TMMWaveIn Rec;
  TPlain Sink;
  std::mutex Lock;
  std::vector<std::uint8_t> Got;
  Sink.OnBufferReady = [&](TObject*, PWaveHdr h) {
    std::lock_guard<std::mutex> l(Lock);
    Got.insert(Got.end(), h->wh.lpData, h->wh.lpData + h->wh.dwBytesRecorded);
  };
  Rec.SetDeviceID(In);
  Rec.SetCallBackMode(TMMCBMode::cmThread);
  Rec.SetPWaveFormat(&CdFormat);
  Rec.SetBufferSize(8096);
  Rec.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  Rec.SetMaxRecordTime(1500);
  Rec.SetOutput(&Sink);
  std::atomic<bool> Stopped{false};
  Rec.OnStop = [&](TObject*) { Stopped = true; };
  const auto Start = Clock::now();
  Rec.Start();
  ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); }));
  const auto Took = Clock::now() - Start;
  Rec.Close();
  Player.Close();

  ASSERT_EQ(Got.size(), 264600u);                    // exactly 1.5 s
  EXPECT_GE(Took, std::chrono::milliseconds(1300));  // paced by the sink's clock
  // The level of the last second: a half-scale sine has an RMS of 0.354.
  double Sum = 0;
  size_t n = 0;
  for (size_t i = Got.size() - 176400; i + 1 < Got.size(); i += 2, ++n) {
    const double v = static_cast<std::int16_t>(Got[i] | Got[i + 1] << 8) / 32768.0;
    Sum += v * v;
  }
  const double Rms = std::sqrt(Sum / static_cast<double>(n));
  EXPECT_NEAR(Rms, 0.354, 0.03);
}

// A stop in the middle of a batch: the buffers the device was completing hold
// audio recorded before the stop, and come with it, continuous with the rest.
TEST_F(RealTime, AStopHandsOverTheBatchTheDeviceWasCompleting) {
  TMMWaveOut Player;
  Player.SetDeviceID(Out);
  Player.SetCallBackMode(TMMCBMode::cmThread);
  Tone.SetOutput(&Player);
  Player.Start();

  constexpr int kBuffer = 8096, kBatch = 16;  // a batch: 0.73 s
  TMMWaveIn Rec;
  TPlain Sink;
  std::vector<std::uint8_t> Got;  // main thread: the reports are posted to it
  Sink.OnBufferReady = [&](TObject*, PWaveHdr h) {
    Got.insert(Got.end(), h->wh.lpData, h->wh.lpData + h->wh.dwBytesRecorded);
  };
  Rec.SetDeviceID(In);
  Rec.SetCallBackMode(TMMCBMode::cmWindow);
  Rec.SetPWaveFormat(&CdFormat);
  Rec.SetBufferSize(kBuffer);
  Rec.SetNumBuffers(2 * kBatch + 4);
  Rec.SetBatch(kBatch);
  Rec.SetOutput(&Sink);
  const auto Start = Clock::now();
  Rec.Start();
  ASSERT_TRUE(WaitUntil([&] { return Got.size() >= std::size_t{kBuffer} * kBatch; }));
  // Stopped about half-way through the next batch (a slow machine may have
  // completed it meanwhile: the test then shows less, never wrongly).
  const auto FirstBatch = Clock::now();
  WaitUntil([&] { return Clock::now() - FirstBatch >= std::chrono::milliseconds(350); });
  Rec.Stop();
  const double Elapsed = std::chrono::duration<double>(Clock::now() - Start).count();
  Rec.Close();
  Player.Close();

  // Without the hand-over, the 8 or so buffers of the incomplete batch are lost.
  EXPECT_GE(Got.size(), std::size_t{kBuffer} * (kBatch + 4));
  EXPECT_LE(static_cast<double>(Got.size()), (Elapsed + 0.2) * 176400);  // nothing invented
  EXPECT_EQ(Got.size() % 4, 0u);
  // Continuous: the tone's samples follow each other as a sine does, across the
  // batch boundaries and into the handed-over part (a gap or a repeat breaks
  // the recurrence x[n+1] = 2 cos(w) x[n] - x[n-1] by far more than rounding).
  const double c = 2 * std::cos(2 * M_PI * 1000 / 44100);
  double Worst = 0;
  const std::size_t Frames = Got.size() / 4;
  auto Left = [&](std::size_t f) {
    return static_cast<double>(static_cast<std::int16_t>(Got[4 * f] | Got[4 * f + 1] << 8));
  };
  for (std::size_t f = 44100 / 2; f + 1 < Frames; ++f)  // past the sound server's start
    Worst = std::max(Worst, std::abs(Left(f + 1) - c * Left(f) + Left(f - 1)));
  EXPECT_LT(Worst, 8.0);
}

TEST_F(RealTime, PlaybackPositionKeepsToTheWallClock) {
  TMMWaveOut Player;
  Player.SetDeviceID(Out);
  Player.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  Tone.SetOutput(&Player);
  Player.Start();
  ASSERT_TRUE(WaitUntil([&] { return Player.Position() > 200; }));
  const auto t0 = Clock::now();
  const std::int64_t p0 = Player.Position();
  WaitUntil([&] { return Clock::now() - t0 >= std::chrono::seconds(3); });
  const std::int64_t p1 = Player.Position();
  const double Wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  Player.Close();
  // Generous: the machine is shared; a device that ran free or stalled is far off.
  EXPECT_NEAR(static_cast<double>(p1 - p0) / Wall, 1.0, 0.2);
}

}  // namespace
}  // namespace velmar
