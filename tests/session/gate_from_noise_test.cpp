// The noise gate set from the input's noise, judged by the track rule itself:
// the noise it was measured on reads as quiet in every stretch, and the same
// noise louder by the margin does not.
#include "session/gate_from_noise.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "session/track_rule.h"

namespace velmar {
namespace {

constexpr int kBufferBytes = 8096;

// Seconds of stereo Gaussian noise at an RMS of Db dBFS, scaled by Gain, with
// its right channel at half the left's level.
std::vector<std::uint8_t> Noise(double Seconds, double Db, double Gain = 1) {
  std::mt19937 Random(7);
  std::normal_distribution<double> Sample(0, 32768 * std::pow(10, Db / 20) * Gain);
  const auto Frames = static_cast<std::size_t>(Seconds * 44100);
  std::vector<std::uint8_t> Pcm(Frames * 4);
  for (std::size_t f = 0; f < Frames; ++f)
    for (int c = 0; c < 2; ++c) {
      const auto v = static_cast<std::int16_t>(
          std::clamp(std::lround(Sample(Random) * (c ? 0.5 : 1)), -32768L, 32767L));
      Pcm[4 * f + 2 * c] = static_cast<std::uint8_t>(v);
      Pcm[4 * f + 2 * c + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
    }
  return Pcm;
}

// Whether the rule, fed Pcm buffer by buffer, finds every stretch of
// TimeGate buffers quiet (each buffer from the one that fills its ring on).
bool RuleHearsOnlyQuiet(const std::vector<std::uint8_t>& Pcm, int Gate, int TimeGate) {
  TTrackRule Rule;
  const TTrackSettings Settings{.NoiseGate = Gate, .TimeGate = TimeGate, .MinSec = 0};
  int Buffer = 0;
  for (std::size_t At = 0; At + kBufferBytes <= Pcm.size(); At += kBufferBytes, ++Buffer)
    if (Rule.BufferRecorded(Pcm.data() + At, kBufferBytes, 1000, 0, Settings) ==
            TTrackDecision::None &&
        Buffer + 1 >= TimeGate)
      return false;
  return Buffer >= TimeGate;
}

TEST(GateFromNoise, TheRuleTakesTheNoiseForQuietAndTheNoiseLouderThanTheGateForSound) {
  for (const int TimeGate : {2, 8, 20})
    for (const double Db : {-75.0, -65.0, -58.0}) {  // under what time gate 20 takes
      const auto Hiss = Noise(3, Db);
      const TGateFromNoise g = GateFromNoise(Hiss.data(), Hiss.size(), TimeGate, kBufferBytes);
      ASSERT_TRUE(g.Measured);
      ASSERT_FALSE(g.TooLoud) << Db;
      // The average size of a Gaussian sample is 0.798 of its RMS (-1.96 dB);
      // the loudest stretch lies a little above the mean.
      EXPECT_NEAR(g.NoiseDb, Db - 1.96, 0.5) << Db << " dB, time gate " << TimeGate;
      // The margin, within one step of the whole gate.
      const double Above = NoiseGateDb(g.Gate, TimeGate) - g.NoiseDb;
      EXPECT_GE(Above, kGateMarginDb);
      if (g.Gate > 1) {
        EXPECT_LE(Above, kGateMarginDb + 20 * std::log10(g.Gate / (g.Gate - 1.0)));
      }
      EXPECT_TRUE(RuleHearsOnlyQuiet(Hiss, g.Gate, TimeGate)) << Db << " " << TimeGate;
      // The same noise a little louder than the gate: sound in some stretch.
      const auto Louder = Noise(3, Db, std::pow(10, (Above + 0.5) / 20));
      EXPECT_FALSE(RuleHearsOnlyQuiet(Louder, g.Gate, TimeGate)) << Db << " " << TimeGate;
    }
}

TEST(GateFromNoise, SilenceTooLoudANoiseAndTooLittleAudio) {
  const std::vector<std::uint8_t> Silence(3 * 176400, 0);
  TGateFromNoise g = GateFromNoise(Silence.data(), Silence.size(), 8, kBufferBytes);
  EXPECT_TRUE(g.Measured);
  EXPECT_EQ(g.Gate, 1);
  EXPECT_TRUE(std::isinf(g.NoiseDb) && g.NoiseDb < 0);

  // The highest gate takes an average sample under 200 for quiet at time gate
  // 8 (-44 dBFS): a -40 dBFS hiss is above it.
  const auto Loud = Noise(3, -40);
  g = GateFromNoise(Loud.data(), Loud.size(), 8, kBufferBytes);
  EXPECT_TRUE(g.TooLoud);
  EXPECT_EQ(g.Gate, 100);

  const auto Short = Noise(7 * 2024 / 44100.0, -60);  // seven buffers, time gate 8
  EXPECT_FALSE(GateFromNoise(Short.data(), Short.size(), 8, kBufferBytes).Measured);
  EXPECT_TRUE(GateFromNoise(Short.data(), Short.size(), 7, kBufferBytes).Measured);
}

// The input's thread delivers on and on while the main thread listens:
// enough is said once, exactly what was wanted is measured, in order, and
// nothing is taken before Start or after Heard.
TEST(GateFromNoise, TheListenerTakesWhatTheInputDeliversWhileWantedAndSaysEnoughOnce) {
  TGateListener Listener;
  std::vector<std::uint8_t> Buffer(8096);
  for (std::size_t i = 0; i < Buffer.size(); ++i) Buffer[i] = static_cast<std::uint8_t>(i % 7);
  EXPECT_FALSE(Listener.Take(Buffer.data(), Buffer.size()));  // not listening
  constexpr std::size_t kWanted = 3 * 176400;
  Listener.Start(kWanted);
  std::atomic<int> Enough{0};
  std::atomic<bool> Run{true};
  std::thread Input([&] {
    while (Run) Enough += Listener.Take(Buffer.data(), Buffer.size()) ? 1 : 0;
  });
  while (Enough == 0) std::this_thread::yield();
  std::size_t Got = 0;
  const TGateFromNoise g = Listener.Heard(8, 8096, Got);
  Run = false;
  Input.join();
  EXPECT_EQ(Enough, 1);
  EXPECT_EQ(Got, kWanted);
  EXPECT_TRUE(g.Measured);
  EXPECT_FALSE(Listener.Take(Buffer.data(), Buffer.size()));  // heard: no more
  Listener.Start(kWanted);
  Listener.Stop();
  EXPECT_FALSE(Listener.Take(Buffer.data(), Buffer.size()));
}

}  // namespace
}  // namespace velmar
