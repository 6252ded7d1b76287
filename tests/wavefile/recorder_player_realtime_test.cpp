// The recorder and the player on a private PulseAudio server through ALSA: the
// player plays a tone file into the null sink at the real rate while the
// recorder records the sink's monitor into a file.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>

#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "tests/support/formats.h"
#include "tests/support/pulse_server.h"
#include "tests/support/wait_until.h"
#include "tests/wavefile/wave_file_test_support.h"
#include "wavefile/wave_player.h"
#include "wavefile/wave_recorder.h"

namespace velmar {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

TEST(RealTimeFiles, ThePlayerFeedsTheSinkAtTheRealRateAndTheRecorderCapturesIt) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  auto Alsa = std::make_shared<TAlsaBackend>();
  SetWaveBackends({Alsa});
  const int In = PulseServer::Monitor(*Alsa), Out = PulseServer::Sink(*Alsa);
  ASSERT_GE(In, 0);
  ASSERT_GE(Out, 0);

  TempDir Dir;
  const std::string ToneFile = Dir.File("tone.wav"), Recorded = Dir.File("Track01.wav");
  Bytes Tone(3 * 176400);  // three seconds of 1 kHz at half scale
  ToneSignal(1000, 0.5)(Tone.data(), static_cast<std::uint32_t>(Tone.size()), 0, CdFormat);
  Record(ToneFile, CdFormat, Tone);

  TMMWavePlayer p;
  p.SetDeviceID(Out);
  p.SetBufferSize(2048);
  p.SetNumBuffers(10);
  bool Played = false;
  p.OnStop = [&](TObject*) { Played = true; };
  p.LoadFile(ToneFile);

  TMMWaveRecorder r;
  r.SetDeviceID(In);
  r.SetBufferSize(8096);
  r.SetNumBuffers(10);
  r.SetMode(TMMMode::mStereo);
  r.SetBitLength(TMMBits::b16Bit);
  r.SetSampleRate(44100);
  r.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  r.SetMaxRecordTime(2000);
  bool Recorded2s = false;
  r.OnStop = [&](TObject*) { Recorded2s = true; };
  r.Wave()->SetFileName(Recorded);

  const auto Start = Clock::now();
  p.Play();
  r.Start();
  ASSERT_TRUE(WaitUntil([&] { return Recorded2s; }));
  ASSERT_TRUE(WaitUntil([&] { return Played; }));
  const double Took = std::chrono::duration<double>(Clock::now() - Start).count();
  SetWaveBackends({});

  // Three seconds of audio take about three seconds (generous: shared machine).
  EXPECT_GT(Took, 2.7);
  EXPECT_LT(Took, 6.0);
  BlockPtr b = Parse(Recorded);
  ASSERT_TRUE(b);
  const Bytes Got = ReadAll(b.get());
  ASSERT_EQ(Got.size(), 352800u);  // exactly two seconds
  // The last second was captured while the tone played: RMS of a half-scale sine.
  double Sum = 0;
  std::size_t n = 0;
  for (std::size_t i = Got.size() - 176400; i + 1 < Got.size(); i += 2, ++n) {
    const double v = static_cast<std::int16_t>(Got[i] | Got[i + 1] << 8) / 32768.0;
    Sum += v * v;
  }
  EXPECT_NEAR(std::sqrt(Sum / static_cast<double>(n)), 0.354, 0.03);
}

}  // namespace
}  // namespace velmar
