// The track rule: levels, the silence test over the ring, the decisions, and
// the texts of the track list, with the figures the recorder is built to.
#include "session/track_rule.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velmar {
namespace {

// A stereo buffer of Frames frames whose samples alternate +Left/-Left and +Right/-Right.
std::vector<std::uint8_t> Buffer(int Frames, int Left, int Right) {
  std::vector<std::uint8_t> b(static_cast<std::size_t>(Frames) * 4);
  for (int i = 0; i < Frames; ++i) {
    const auto l = static_cast<std::int16_t>(i % 2 ? -Left : Left);
    const auto r = static_cast<std::int16_t>(i % 2 ? -Right : Right);
    b[4 * i] = static_cast<std::uint8_t>(l);
    b[4 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(l) >> 8);
    b[4 * i + 2] = static_cast<std::uint8_t>(r);
    b[4 * i + 3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(r) >> 8);
  }
  return b;
}

constexpr int kFrames = 2024;  // one 8096-byte buffer

TEST(TrackRule, ChannelLevelLeavesOutTheLastThreeFramesAndKeepsToItsScratch) {
  const auto b = Buffer(kFrames, 100, -32768);
  EXPECT_DOUBLE_EQ(ChannelLevel(b.data(), 0, 8096), 100.0 * (kFrames - 3) / (4 * 8096));
  EXPECT_DOUBLE_EQ(ChannelLevel(b.data(), 1, 8096), 32768.0 * (kFrames - 3) / (4 * 8096));
  EXPECT_EQ(ChannelLevel(b.data(), 0, 12), 0);  // three frames: none summed
  EXPECT_EQ(ChannelLevel(b.data(), 0, 0), 0);   // nothing to divide
  EXPECT_DOUBLE_EQ(ChannelLevel(b.data(), 0, 16), 100.0 / 64);
  // More than the scratch holds: only its 32768 frames count, over all the bytes.
  const auto Big = Buffer(40000, 1000, 0);
  EXPECT_DOUBLE_EQ(ChannelLevel(Big.data(), 0, 160000), 1000.0 * (32768 - 3) / (4 * 160000));
}

TEST(TrackRule, DefaultGatesEndATrackBelowAMeanOfAbout50OnBothChannels) {
  const TTrackSettings s;  // 25, 8, 7 s
  for (auto [Level, Silent] : {std::pair{49, true}, {51, false}}) {
    TTrackRule r;
    const auto b = Buffer(kFrames, Level, 10);
    TTrackDecision d = TTrackDecision::None;
    for (int i = 0; i < 8; ++i) d = r.BufferRecorded(b.data(), 8096, 7001 + i, 9999, s);
    EXPECT_EQ(d, Silent ? TTrackDecision::NextTrack : TTrackDecision::None) << Level;
  }
  // Loud on one channel is not silence.
  TTrackRule r;
  const auto b = Buffer(kFrames, 10, 2000);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(r.BufferRecorded(b.data(), 8096, 8000, 9999, s), TTrackDecision::None);
}

TEST(TrackRule, NothingIsDecidedBeforeTheMinimumLengthOrWithoutAutoSplit) {
  TTrackSettings s;
  TTrackRule r;
  const auto Quiet = Buffer(kFrames, 0, 0);
  // A track quiet from its start is measured all along but decided on only
  // once it is longer than the minimum length.
  for (int Ms = 0; Ms <= 7000; Ms += 46)
    EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, Ms, 9999, s), TTrackDecision::None) << Ms;
  EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 7000, 9999, s), TTrackDecision::None);
  EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 7001, 9999, s), TTrackDecision::NextTrack);
  TTrackRule Off;
  s.AutoSplit = false;
  EXPECT_EQ(Off.BufferRecorded(Quiet.data(), 8096, 60000, 9999, s), TTrackDecision::None);
  EXPECT_EQ(Off.Heard(), 0);
  s.AutoSplit = true;
  s.NoiseGate = 0;  // a sum of absolute values is never below 0
  for (int i = 0; i < 30; ++i)
    EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 60000, 9999, s), TTrackDecision::None);
}

TEST(TrackRule, TheShownSizeDecidesWhetherTheNextTrackStarts) {
  const TTrackSettings s;
  const auto Quiet = Buffer(kFrames, 0, 0);
  TTrackRule a, b;
  for (int i = 0; i < 7; ++i) {
    a.BufferRecorded(Quiet.data(), 8096, 6700 + 46 * i, 1100, s);
    b.BufferRecorded(Quiet.data(), 8096, 6700 + 46 * i, 1100, s);
  }
  // 7000 ms are 1176 kB; only a larger shown size starts the next track.
  EXPECT_EQ(a.BufferRecorded(Quiet.data(), 8096, 7040, 1176, s), TTrackDecision::EndTrack);
  EXPECT_EQ(b.BufferRecorded(Quiet.data(), 8096, 7040, 1177, s), TTrackDecision::NextTrack);
}

TEST(TrackRule, SilenceIsAWholeTimeGateOfTheTracksOwnQuietBuffers) {
  TTrackSettings s;
  s.TimeGate = 3;
  const auto Loud = Buffer(kFrames, 3000, 3000), Quiet = Buffer(kFrames, 0, 0);
  // Music up to the minimum length, then a soft passage: one or two quiet
  // buffers are not silence, the third (a whole time gate) is.
  TTrackRule r;
  for (int Ms = 0; Ms < 7000; Ms += 46) r.BufferRecorded(Loud.data(), 8096, Ms, 9999, s);
  EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 7001, 9999, s), TTrackDecision::None);
  EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 7047, 9999, s), TTrackDecision::None);
  EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 7093, 9999, s), TTrackDecision::NextTrack);
  // The next track does not inherit that quiet: its own first buffers decide,
  // and a fresh quiet buffer after the minimum length is not enough alone.
  r.NextTrackStarted();
  EXPECT_FALSE(r.IsSilent(25, 3));
  EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 7001, 9999, s), TTrackDecision::None);
  EXPECT_EQ(r.BufferRecorded(Loud.data(), 8096, 7047, 9999, s), TTrackDecision::None);
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 7100, 9999, s), TTrackDecision::None);
  EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 7150, 9999, s), TTrackDecision::NextTrack);
  // A time gate moved during a track is measured afresh at its new length.
  s.TimeGate = 5;
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 8000, 9999, s), TTrackDecision::None);
  EXPECT_EQ(r.BufferRecorded(Quiet.data(), 8096, 8000, 9999, s), TTrackDecision::NextTrack);
  // The comparisons stay strict, and a gate of 0 buffers sums nothing.
  EXPECT_FALSE(r.IsSilent(0, 0));
  EXPECT_TRUE(r.IsSilent(1, 0));
}

TEST(TrackRule, TheFirstTracksFirstSoftBufferDoesNotEndTheRecording) {
  // The side's first track: music at about -28 dBFS whose soft moment falls
  // right after the minimum length. Nothing before the track counts as quiet.
  const TTrackSettings s;  // 25, 8, 7 s
  const auto Music = Buffer(kFrames, 1300, 1300), Soft = Buffer(kFrames, 20, 20);
  TTrackRule r;
  for (int Ms = 0; Ms < 7000; Ms += 46) r.BufferRecorded(Music.data(), 8096, Ms, 1000, s);
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(r.BufferRecorded(Soft.data(), 8096, 7001 + 46 * i, 1176, s), TTrackDecision::None);
  // Eight soft buffers in a row (269 ms under the gate) are silence.
  EXPECT_EQ(r.BufferRecorded(Soft.data(), 8096, 7400, 1176, s), TTrackDecision::EndTrack);
}

TEST(TrackRule, SizesTimesNamesAndLabels) {
  EXPECT_EQ(MsToKBytes(7000), 1176);
  EXPECT_EQ(MsToKBytes(128), 22);                // 21.5: half to even
  EXPECT_EQ(MsToKBytes(384), 64);                // 64.5: half to even
  EXPECT_EQ(MsToKBytes(2147483647), 360710144);  // no 32-bit overflow
  EXPECT_EQ(MsToKBytes(1000, 576000), 549);      // 24-bit 96 kHz: 562 bytes a ms
  // The rule's buffer: 2024 frames at 44.1 kHz, the same 45.9 ms elsewhere.
  EXPECT_EQ(RuleBufferBytes(44100, 4), 8096);
  EXPECT_EQ(RuleBufferBytes(44100, 6), 2024 * 6);
  EXPECT_EQ(RuleBufferBytes(48000, 4), 2203 * 4);
  EXPECT_EQ(RuleBufferBytes(96000, 6), 4406 * 6);
  EXPECT_EQ(TimeToText(83456), "1:23.456");
  EXPECT_EQ(TimeToText(3723004), "1:02:03.004");
  EXPECT_EQ(TimeToText(90061001), "1:01:01:01.001");
  EXPECT_EQ(TimeToText(0), "0:00.000");
  EXPECT_EQ(TrackNumberText(1), "01");
  EXPECT_EQ(TrackNumberText(100), "100");
  EXPECT_EQ(TrackFileName(3), "Track03.wav");
  EXPECT_EQ(TimeGateLabel(8), "269 ms");
  EXPECT_EQ(TimeGateLabel(2), " 67 ms");
  EXPECT_EQ(TimeGateLabel(20), "672 ms");
  EXPECT_EQ(MinSecLabel(7), " 7 s");
}

TEST(TrackRule, TheSizeDisplayShowsWhatWasRecordedBeforeEachTick) {
  TSizeDisplay d;
  d.Advance(0, 46);
  EXPECT_EQ(d.Shown(), 0);
  d.Advance(92, 137);  // the tick at 100 saw 92 ms
  EXPECT_EQ(d.Shown(), MsToKBytes(92));
  d.Advance(137, 183);
  EXPECT_EQ(d.Shown(), MsToKBytes(92));
  d.Advance(6980, 7026);  // at 7000 ms the display shows less than 7000 ms
  EXPECT_EQ(d.Shown(), MsToKBytes(6980));
  d.Reset();
  EXPECT_EQ(d.Shown(), 0);
}

}  // namespace
}  // namespace velmar
