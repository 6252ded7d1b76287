// Click repair on signals made here: the least-squares AR interpolation
// gives back a span taken out of a sum of sines and of an AR process; a
// one-sample spike on silence and on a tone is found and removed, as are long
// ringing clicks under hiss and clicks beside a note's onset; a drum hit, a
// plucked string and a piano-like attack are left alone; fed in any pieces,
// the stream gives the same as the whole buffer.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "restore/ar_model.h"
#include "restore/click_repair.h"

namespace velmar {
namespace {

constexpr int kRate = 44100;

std::vector<float> Sines(std::size_t Frames) {
  std::vector<float> x(Frames);
  for (std::size_t n = 0; n < Frames; ++n) {
    const double t = static_cast<double>(n) / kRate;
    x[n] = static_cast<float>(0.3 * std::sin(2 * M_PI * 440 * t) +
                              0.2 * std::sin(2 * M_PI * 1234.5 * t + 1) +
                              0.1 * std::sin(2 * M_PI * 3001 * t + 2));
  }
  return x;
}

// Fits the model from both sides of [Start, Start + Length) and fills it;
// the largest error against Clean.
double Refill(std::vector<float> x, std::size_t Start, std::size_t Length, int Order) {
  const std::vector<float> Clean = x;
  for (std::size_t i = Start; i < Start + Length; ++i) x[i] = 0.9f;  // damage
  const std::array<std::span<const float>, 2> Pieces{
      std::span<const float>(x.data() + Start - 1024, 1024),
      std::span<const float>(x.data() + Start + Length, 1024)};
  InterpolateSpan(x.data(), Start, Length, FitArModel(Pieces, Order));
  double Worst = 0;
  for (std::size_t i = Start; i < Start + Length; ++i)
    Worst = std::max(Worst, std::abs(double(x[i]) - Clean[i]));
  return Worst;
}

TEST(ArInterpolation, GivesBackASpanOfSinesAndOfAnArProcess) {
  const std::vector<float> Tones = Sines(8192);
  EXPECT_LT(Refill(Tones, 4000, 1, 32), 1e-4);
  EXPECT_LT(Refill(Tones, 4000, 60, 32), 1e-3);   // 1.4 ms, against a peak of 0.6
  EXPECT_LT(Refill(Tones, 4000, 132, 48), 3e-3);  // 3 ms
  // A resonant AR(2) process driven by white noise: the gap's best guess is
  // far better than the signal itself (a guess of zero).
  std::mt19937 Random(7);
  std::normal_distribution<double> Noise(0, 0.01);
  std::vector<float> Ar(8192);
  double y1 = 0, y2 = 0;
  for (float& v : Ar) {
    const double y = 1.8 * std::cos(2 * M_PI * 1000.0 / kRate) * y1 - 0.81 * y2 + Noise(Random);
    y2 = y1;
    y1 = y;
    v = static_cast<float>(y);
  }
  double Sum = 0;
  for (const float v : Ar) Sum += double(v) * v;
  const double Rms = std::sqrt(Sum / static_cast<double>(Ar.size()));
  EXPECT_LT(Refill(Ar, 4000, 10, 8), 0.35 * Rms);  // a guess of zero errs by about 2 Rms
  // Silence on both sides is silence in the gap.
  EXPECT_EQ(Refill(std::vector<float>(8192, 0.0f), 4000, 20, 32), 0.0);
}

// Stereo frames of Left and Right.
std::vector<float> Stereo(const std::vector<float>& Left, const std::vector<float>& Right) {
  std::vector<float> x(2 * Left.size());
  for (std::size_t i = 0; i < Left.size(); ++i) {
    x[2 * i] = Left[i];
    x[2 * i + 1] = Right[i];
  }
  return x;
}

TEST(ClickRepair, ASpikeOnSilenceAndOnAToneIsFoundAndRemoved) {
  const std::size_t Frames = 3 * kRate;
  std::vector<float> Silence(Frames, 0.0f), Tone = Sines(Frames);
  const std::vector<float> Clean = Stereo(Silence, Tone);
  std::vector<float> x = Clean;
  x[2 * 50000] = 0.5f;               // left: on digital silence
  x[2 * 90000 + 1] += 0.4f;          // right: on the tone
  x[2 * 100000 + 1] -= 1 / 32768.f;  // and a spike of one step on the tone is none
  x[2 * 100000 + 1] += 1 / 32768.f;
  const std::vector<TClick> Clicks = RepairClicks(x, 2, kRate);
  ASSERT_EQ(Clicks.size(), 2u);
  EXPECT_EQ(Clicks[0].Channel, 0);
  EXPECT_LE(Clicks[0].Frame, 50000);
  EXPECT_GT(Clicks[0].Frame + Clicks[0].Length, 50000);
  EXPECT_LE(Clicks[0].Length, 4);
  EXPECT_EQ(Clicks[1].Channel, 1);
  EXPECT_LE(Clicks[1].Frame, 90000);
  EXPECT_GT(Clicks[1].Frame + Clicks[1].Length, 90000);
  EXPECT_GT(Clicks[1].SizeDb, 0);
  for (std::size_t i = 0; i < Frames; ++i) {
    ASSERT_EQ(x[2 * i], 0.0f) << i;  // silence stays silence, exactly
    ASSERT_NEAR(x[2 * i + 1], Clean[2 * i + 1], 1e-4) << i;
  }
}

// A record's click as the stylus gives it: a sharp edge and a ring that
// decays over its length, Peak at its edge.
void AddRingingClick(std::vector<float>& x, int Channel, std::size_t Frame, int Length, double Peak,
                     double RingHz) {
  const double Tau = Length / 3.0 + 0.5;
  for (int i = 0; i < Length; ++i)
    x[2 * (Frame + static_cast<std::size_t>(i)) + static_cast<std::size_t>(Channel)] +=
        static_cast<float>(Peak * std::exp(-i / Tau) *
                           (i == 0 ? 1 : std::cos(2 * M_PI * RingHz * i / kRate)));
}

TEST(ClickRepair, LongRingingClicksUnderHissAreRepaired) {
  // Quiet tones (RMS about 0.01) under a record's hiss, and clicks 20 dB
  // above them, 1 to 3 ms long: the ring's tail past a span that stops short
  // of it makes the music after the span look unpredictable, like an
  // attack's, which must not keep the click from being repaired.
  const std::size_t Frames = 3 * kRate;
  std::vector<float> Tone = Sines(Frames);
  std::mt19937 Random(5);
  std::normal_distribution<double> Hiss(0, 0.0005);
  for (float& v : Tone) v = static_cast<float>(0.04 * v + Hiss(Random));
  const std::vector<float> Clean = Stereo(Tone, Tone);
  std::vector<float> x = Clean;
  const std::size_t At[] = {30000, 60000, 90000};
  const int Lengths[] = {44, 88, 132};
  for (int k = 0; k < 3; ++k) {
    AddRingingClick(x, 0, At[k], Lengths[k], 0.1, 3000 + 2000 * k);
    AddRingingClick(x, 1, At[k], Lengths[k], -0.07, 3000 + 2000 * k);
  }
  const std::vector<TClick> Clicks = RepairClicks(x, 2, kRate);
  EXPECT_EQ(Clicks.size(), 6u);
  for (int k = 0; k < 3; ++k)
    for (std::size_t c = 0; c < 2; ++c) {
      double Worst = 0;
      for (std::size_t f = At[k]; f < At[k] + static_cast<std::size_t>(Lengths[k]) + 64; ++f)
        Worst = std::max(Worst, std::abs(double(x[2 * f + c]) - Clean[2 * f + c]));
      // What is left is the last of a ring, at least 16 dB under the click.
      EXPECT_LT(Worst, 0.015) << "the click at " << At[k] << " in channel " << c;
    }
}

TEST(ClickRepair, DrumsPluckedStringsAndHardAttacksAreLeftAlone) {
  std::mt19937 Random(3);
  std::normal_distribution<double> Noise(0, 1);
  const std::size_t Frames = 4 * kRate;
  std::vector<float> Left(Frames), Right(Frames);
  for (std::size_t n = 0; n < Frames; ++n)
    Left[n] = Right[n] = static_cast<float>(0.0003 * Noise(Random));
  // A snare: noise and a tone, a 0.5 ms attack; four of them.
  for (std::size_t Hit = 0; Hit < 4; ++Hit)
    for (std::size_t i = 0; i < kRate / 2; ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double v = 0.5 * std::min(1.0, t / 0.0005) * std::exp(-t / 0.08) *
                       (0.5 * Noise(Random) + 0.6 * std::sin(2 * M_PI * 190 * t));
      Left[Hit * kRate / 2 + i] += static_cast<float>(v);
      Right[Hit * kRate / 2 + i] += static_cast<float>(0.8 * v);
    }
  // A plucked string (Karplus-Strong) and a struck note with a 0.2 ms attack.
  std::vector<double> Line(kRate / 220);
  for (double& v : Line) v = Noise(Random) * 0.3;
  for (std::size_t i = 0; i < 2 * kRate; ++i) {
    const std::size_t j = i % Line.size();
    const double v = Line[j];
    Line[j] = 0.996 * 0.5 * (v + Line[(j + 1) % Line.size()]);
    Left[2 * kRate + i] += static_cast<float>(v);
  }
  for (std::size_t i = 0; i < kRate; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double Env = std::min(1.0, t / 0.0002) * std::exp(-t / 0.6);
    Right[3 * kRate + i] += static_cast<float>(
        0.3 * Env * (std::sin(2 * M_PI * 523.3 * t) + 0.5 * std::sin(2 * M_PI * 1047.1 * t)));
  }
  const std::vector<float> Clean = Stereo(Left, Right);
  std::vector<float> x = Clean;
  const std::vector<TClick> Clicks = RepairClicks(x, 2, kRate);
  for (const TClick& c : Clicks)
    ADD_FAILURE() << "a click at " << c.Frame << " in channel " << c.Channel << ", " << c.Length
                  << " frames";
  EXPECT_EQ(x, Clean);
}

TEST(ClickRepair, ClicksJustBeforeAndAfterANotesOnsetAreRepairedAndTheOnsetIsNot) {
  // Struck notes over a record's hiss; a click 2 ms before one onset (the
  // note after it is new music, though the music right after the click is
  // not) and one 3 ms after another (in louder music than the 10 ms before),
  // both well above the music around them.
  std::mt19937 Random(8);
  std::normal_distribution<double> Hiss(0, 0.0005);
  const std::size_t Frames = 3 * kRate;
  std::vector<float> Note(Frames);
  for (std::size_t n = 0; n < Frames; ++n) {
    Note[n] = static_cast<float>(Hiss(Random));
    const std::size_t Onset = n < 3 * kRate / 2 ? kRate / 2 : 3 * kRate / 2;
    if (n < Onset) continue;
    const double t = static_cast<double>(n - Onset) / kRate;
    Note[n] += static_cast<float>(
        0.1 * std::min(1.0, t / 0.0002) * std::exp(-t / 0.3) *
        (std::sin(2 * M_PI * 523.3 * t) + 0.5 * std::sin(2 * M_PI * 1047.1 * t)));
  }
  const std::vector<float> Clean = Stereo(Note, Note);
  std::vector<float> x = Clean;
  const std::size_t At[] = {kRate / 2 - 88, 3 * kRate / 2 + 132};
  for (const std::size_t a : At) AddRingingClick(x, 0, a, 10, 0.9, 5000);
  const std::vector<TClick> Clicks = RepairClicks(x, 2, kRate);
  ASSERT_EQ(Clicks.size(), 2u);
  std::vector<bool> Repaired(Frames, false);
  for (std::size_t k = 0; k < 2; ++k) {
    const TClick& c = Clicks[k];
    EXPECT_EQ(c.Channel, 0);
    EXPECT_LE(c.Frame, static_cast<std::int64_t>(At[k]));
    EXPECT_GE(c.Frame + c.Length, static_cast<std::int64_t>(At[k] + 10));
    for (int i = 0; i < c.Length; ++i) Repaired[static_cast<std::size_t>(c.Frame + i)] = true;
    double Worst = 0;
    for (std::size_t f = At[k]; f < At[k] + 10; ++f)
      Worst = std::max(Worst, std::abs(double(x[2 * f]) - Clean[2 * f]));
    EXPECT_LT(Worst, 0.05) << "the click at " << At[k];
  }
  // Outside the spans nothing changed, the onsets least of all.
  for (std::size_t f = 0; f < Frames; ++f) {
    if (!Repaired[f]) {
      ASSERT_EQ(x[2 * f], Clean[2 * f]) << f;
    }
    ASSERT_EQ(x[2 * f + 1], Clean[2 * f + 1]) << f;
  }
}

TEST(ClickRepair, TheStreamInAnyPiecesGivesWhatTheWholeBufferGives) {
  std::mt19937 Random(11);
  std::uniform_real_distribution<double> U(-1, 1);
  std::vector<float> Tone = Sines(2 * kRate), Other = Sines(2 * kRate);
  for (float& v : Other) v = static_cast<float>(0.5 * v + 0.001 * U(Random));
  std::vector<float> Whole = Stereo(Tone, Other);
  for (std::size_t At = 3000; At + 200 < 2 * static_cast<std::size_t>(kRate); At += 9001)
    Whole[2 * At + At % 2] += static_cast<float>(0.2 * U(Random) + 0.6);
  const std::vector<float> Damaged = Whole;
  const std::vector<TClick> Clicks = RepairClicks(Whole, 2, kRate);
  EXPECT_GE(Clicks.size(), 9u);
  for (const std::size_t Piece : {std::size_t{1}, std::size_t{777}, std::size_t{5000}}) {
    TClickRepair Repair(2, kRate);
    std::vector<float> Out;
    std::vector<float> Ready(2 * 8192);
    for (std::size_t At = 0; At < Damaged.size() / 2; At += Piece) {
      Repair.Add(Damaged.data() + 2 * At, std::min(Piece, Damaged.size() / 2 - At));
      while (const std::size_t n = Repair.Take(Ready.data(), 8192))
        Out.insert(Out.end(), Ready.begin(), Ready.begin() + 2 * n);
    }
    Repair.Finish();
    while (const std::size_t n = Repair.Take(Ready.data(), 8192))
      Out.insert(Out.end(), Ready.begin(), Ready.begin() + 2 * n);
    EXPECT_EQ(Out, Whole) << "pieces of " << Piece;
    EXPECT_EQ(Repair.Clicks().size(), Clicks.size()) << "pieces of " << Piece;
  }
}

}  // namespace
}  // namespace velmar
