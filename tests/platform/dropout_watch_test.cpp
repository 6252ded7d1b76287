// The dropout watch on timelines a capture stream meets: a device whose clock
// drifts from ours for hours, a sound server that is late and then catches
// up, one that drops audio silently while the program was stopped (and says
// at first that it holds little), an overrun the device reports. Only real
// losses are logged, with their size and place.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/wave/alsa/dropout_watch.h"

namespace velmar {
namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::int64_t kBuffer = 131072;

// A device fed by a clock Skew times ours, read every Every seconds; the
// device hands over whole fragments of 1024 frames, Latency behind.
struct Stream {
  TDropoutLog Log;
  TDropoutWatch Watch{kRate, kBuffer, Log};
  double Skew = 1, Latency = 0.02;
  double Now = 100;     // seconds on our clock
  double Produced = 0;  // frames the device made, in fragments
  std::int64_t Delivered = 0;
  // When the device (opened again after it went away) began, and what the
  // ones before it delivered.
  double Origin = 100;
  std::int64_t Before = 0;

  Stream() { Watch.Start(Now); }
  // What the device holds at our time t.
  std::int64_t Holds(double t) const {
    const double Made = std::max(0.0, (t - Origin - Latency) * kRate * Skew);
    return static_cast<std::int64_t>(Made / 1024) * 1024 - (Delivered - Before);
  }
  // Reads everything there is at t, as the capture stream does (what it says
  // it holds is capped at its buffer).
  void ReadAt(double t) {
    Now = t;
    for (;;) {
      const std::int64_t Avail = std::min(Holds(t), kBuffer - 1);
      if (Avail <= 0) return;
      Delivered += Avail;
      Watch.Took(t, Avail, Avail);
      if (Avail < kBuffer - 1) return;
    }
  }
  void Run(double Seconds, double Every = 0.25) {
    for (const double End = Now + Seconds; Now + Every <= End;) ReadAt(Now + Every);
  }
};

TEST(DropoutWatch, OnlyRealLossesAreLoggedWithTheirSizeAndPlace) {
  // A card 100 ppm slow for three hours, read at uneven times: nothing lost.
  Stream Drift;
  Drift.Skew = 1 - 100e-6;
  for (int i = 0; i < 3 * 3600 * 4; ++i) Drift.ReadAt(Drift.Now + (i % 3 == 0 ? 0.31 : 0.22));
  EXPECT_EQ(Drift.Log.Count(), 0u);

  // A server late by 0.8 s, then delivering it all: late, not lost.
  Stream Late;
  Late.Run(10);
  Late.Latency = 0.82;
  Late.Run(0.9);
  Late.Latency = 0.02;
  Late.Run(10);
  EXPECT_EQ(Late.Log.Count(), 0u);

  // Stopped for 30 s; the server keeps the oldest 1048576 frames and drops
  // the rest until the first read after, which at first sees one fragment;
  // the held frames follow as fast as they are read, then the live ones.
  Stream Silent;
  Silent.Run(5);
  const std::int64_t HeldEnd = Silent.Delivered + 1048576;
  const double Resume = Silent.Now + 30;
  const double Dropped = 30.0 * kRate - 1048576;
  Silent.Watch.Took(Resume, 1024, 1024);
  double t = Resume;
  for (std::int64_t Gave = Silent.Delivered + 1024; Gave < HeldEnd;) {
    t += 0.002;
    const std::int64_t n = std::min<std::int64_t>(kBuffer - 1, HeldEnd - Gave);
    Silent.Watch.Took(t, n, kBuffer - 1);
    Gave += n;
  }
  const auto Since = static_cast<std::int64_t>((t - Resume) * kRate);
  Silent.Watch.Took(t, Since, Since);
  for (int i = 0; i < 12; ++i) Silent.Watch.Took(t += 0.25, kRate / 4, kRate / 4);
  ASSERT_EQ(Silent.Log.Count(), 1u);
  const TInputDropout d = Silent.Log.At(0);
  EXPECT_NEAR(static_cast<double>(d.LostFrames), Dropped, 0.05 * kRate);
  EXPECT_NEAR(static_cast<double>(d.AtFrame), static_cast<double>(HeldEnd), 0.05 * kRate);
  EXPECT_NEAR(d.AwaySeconds, 30, 0.1);
  EXPECT_FALSE(d.Suspended);

  // An overrun the device reports: the device starts again empty, 2 s later.
  Stream Overrun;
  Overrun.Run(5);
  const std::int64_t At = Overrun.Delivered;
  Overrun.Watch.Reported(Overrun.Now + 2, false);
  Overrun.Delivered += static_cast<std::int64_t>(2 * kRate);  // those frames never come
  Overrun.Run(3);
  ASSERT_EQ(Overrun.Log.Count(), 1u);
  EXPECT_NEAR(static_cast<double>(Overrun.Log.At(0).LostFrames), 2.0 * kRate, 0.05 * kRate);
  EXPECT_NEAR(static_cast<double>(Overrun.Log.At(0).AtFrame), static_cast<double>(At),
              0.05 * kRate);

  // A device gone for 3 s and opened again, which starts late (0.6 s behind
  // at first, then 20 ms, as a sound server's new stream): one loss, the
  // absence, where it went; the new start is no loss.
  Stream Gone;
  Gone.Run(5);
  const std::int64_t Went = Gone.Delivered;
  const double Back = Gone.Now + 3;
  Gone.Watch.Returned(Back, Back - Gone.Now);
  Gone.Origin = Gone.Now = Back;
  Gone.Before = Gone.Delivered;
  Gone.Latency = 0.6;
  Gone.Run(1);
  Gone.Latency = 0.02;
  Gone.Run(10);
  ASSERT_EQ(Gone.Log.Count(), 1u);
  const TInputDropout g = Gone.Log.At(0);
  EXPECT_TRUE(g.Gone);
  EXPECT_EQ(g.AtFrame, Went);
  EXPECT_NEAR(g.AwaySeconds, 3, 1e-9);
  EXPECT_EQ(g.LostFrames, 3 * kRate);
}

}  // namespace
}  // namespace velmar
