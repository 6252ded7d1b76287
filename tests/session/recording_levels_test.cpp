// What a recording says about its level and where it starts and ends, with the
// session splitting a generated programme read as if it came from the input:
// clipped samples counted and marked as an offline count finds them, the
// loudest peak and its advice, the first track starting exactly the pre-roll
// before the first sound, and pauses that do or do not end the side.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "session/recording_session.h"
#include "stream/wave_format.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_data.h"
#include "wavefile/wave_scan.h"

namespace velmar {
namespace {

using Pcm = std::vector<std::int16_t>;  // interleaved stereo samples

void Silence(Pcm& p, double Seconds) {
  p.insert(p.end(), static_cast<std::size_t>(std::lround(Seconds * 44100)) * 2, 0);
}

// A tone whose largest sample is Peak (both channels, the right at 300 Hz).
void Tone(Pcm& p, double Seconds, int Peak) {
  const auto Frames = static_cast<std::size_t>(std::lround(Seconds * 44100));
  for (std::size_t f = 0; f < Frames; ++f) {
    p.push_back(static_cast<std::int16_t>(
        std::lround(Peak * std::sin(2 * M_PI * 440 * static_cast<double>(f) / 44100))));
    p.push_back(static_cast<std::int16_t>(
        std::lround(Peak * std::sin(2 * M_PI * 300 * static_cast<double>(f) / 44100))));
  }
}

struct Ended {
  TTrackInfo Track;
  TTrackEnd Why;
};

struct Events : TSessionEvents {
  std::vector<Ended> Tracks;
  TSessionEnd End = TSessionEnd::None;
  void TrackEnded(const TTrackInfo& t, TTrackEnd Why, const TTrackInfo*) override {
    Tracks.push_back({t, Why});
  }
  void RecordingEnded(TSessionEnd Why) override { End = Why; }
};

// Splits the programme as the session takes an input: buffers of 8096 bytes.
struct SplitRun {
  Events Said;
  TRecordingSession Session;
  SplitRun(const TSessionOptions& o, const Pcm& p) : Session(o, Said) {
    std::size_t At = 0;
    const auto* Bytes = reinterpret_cast<const std::uint8_t*>(p.data());
    const std::size_t Size = p.size() * 2;
    const std::atomic<bool> Never{false};
    Session.Split(
        [&](std::uint8_t* Dest, std::int64_t Count) {
          const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(Count), Size - At);
          std::memcpy(Dest, Bytes + At, n);
          At += n;
          return static_cast<std::int64_t>(n);
        },
        Never);
  }
};

Pcm Samples(const std::string& Path) {
  const std::vector<std::uint8_t> Data = test::WavData(Path);
  Pcm p(Data.size() / 2);
  std::memcpy(p.data(), Data.data(), p.size() * 2);
  return p;
}

TEST(RecordingLevels,
     ClippedSamplesAreCountedAndMarkedAsAnOfflineCountFindsThemAndTheAdviceFollows) {
  test::TempDir Dir;
  // A tone at -6.02 dBFS with full-scale runs: a run of 3 in the left at 2 s,
  // one of 2 in the right 0.2 s later (the same mark), one of 5 in both at 6 s
  // (a mark of its own), and a negative one of 1 at 9 s.
  Pcm p;
  Tone(p, 12, 16384);
  auto Clip = [&](double Seconds, int Channel, int Run, int Value) {
    const auto Frame = static_cast<std::size_t>(Seconds * 44100);
    for (int i = 0; i < Run; ++i) p[2 * (Frame + i) + Channel] = static_cast<std::int16_t>(Value);
  };
  Clip(2, 0, 3, 32767);
  Clip(2.2, 1, 2, 32767);
  Clip(6, 0, 5, -32768);
  Clip(6, 1, 5, 32767);
  Clip(9, 0, 1, -32768);
  std::size_t Offline = 0;
  std::int64_t FirstOffline = -1;
  for (std::size_t i = 0; i < p.size(); ++i)
    if (p[i] == 32767 || p[i] == -32768) {
      ++Offline;
      if (FirstOffline < 0) FirstOffline = static_cast<std::int64_t>(i / 2);
    }
  Silence(p, 10);

  TSessionOptions o;
  o.Folder = Dir.File("tracks");
  SplitRun r(o, p);
  ASSERT_EQ(r.Said.Tracks.size(), 2u);
  const TTrackInfo& One = r.Said.Tracks[0].Track;
  EXPECT_EQ(One.ClippedSamples, static_cast<std::int64_t>(Offline));
  EXPECT_EQ(One.FirstClipFrame, FirstOffline);
  EXPECT_EQ(One.ClipText(),
            "Track01.wav: " + std::to_string(Offline) + " clipped samples, first at 0:02.000");
  EXPECT_EQ(r.Said.Tracks[1].Track.ClippedSamples, 0);
  EXPECT_EQ(r.Said.Tracks[1].Track.ClipText(), "");

  TWaveScan Scan;
  std::string Error;
  ASSERT_TRUE(ScanWaveFile(One.Path, Scan, Error)) << Error;
  ASSERT_EQ(Scan.Markers.size(), 3u);
  EXPECT_EQ(Scan.Markers[0].Frame, 88200u);
  EXPECT_EQ(Scan.Markers[0].Label, "clipped 5 samples");
  EXPECT_EQ(Scan.Markers[1].Frame, 6u * 44100);
  EXPECT_EQ(Scan.Markers[1].Label, "clipped 10 samples");
  EXPECT_EQ(Scan.Markers[2].Frame, 9u * 44100);
  EXPECT_EQ(Scan.Markers[2].Label, "clipped 1 sample");
  // The file's audio is the programme's, the marks beside it.
  const Pcm Kept = Samples(One.Path);
  ASSERT_GE(Kept.size(), 12u * 44100 * 2);
  EXPECT_TRUE(std::equal(Kept.begin(), Kept.begin() + 12 * 44100 * 2, p.begin()));
  EXPECT_EQ(r.Session.LevelNote(),
            "Loudest peak 0.0 dBFS, 1 track clipped: lower the input about 3 dB");

  // Without clips, the peak in dBFS to 0.1 dB of the offline figure, and how
  // far to raise or lower the input.
  for (const auto& [Peak, Advice] : std::vector<std::pair<int, std::string>>{
           {2920, "Loudest peak -21.0 dBFS: raise the input about 15 dB"},
           {20000, "Loudest peak -4.3 dBFS: the input level is right"},
           {30000, "Loudest peak -0.8 dBFS: close to clipping, lower the input about 2 dB"}}) {
    Pcm q;
    Tone(q, 8, Peak);
    Silence(q, 8);
    TSessionOptions Quiet;
    Quiet.Folder = Dir.File("quiet" + std::to_string(Peak));
    SplitRun s(Quiet, q);
    ASSERT_FALSE(s.Said.Tracks.empty());
    EXPECT_NEAR(PeakDb(s.Said.Tracks[0].Track.Peak), 20 * std::log10(Peak / 32768.0), 0.1);
    EXPECT_EQ(s.Session.LevelNote(), Advice);
  }
}

TEST(RecordingLevels, StartOnSoundBeginsThePreRollBeforeTheFirstSoundAndTheLeadInCountsForNothing) {
  test::TempDir Dir;
  // 10 s of digital silence, longer than the minimum length, then two songs
  // of 8 s with 2 s between, then silence: the end of the side.
  Pcm p;
  Silence(p, 10);
  const std::size_t Sound = p.size() / 2 + 1;  // a sine's first sample is 0
  Tone(p, 8, 12000);
  Silence(p, 2);
  Tone(p, 8, 12000);
  Silence(p, 12);
  for (const double PreRoll : {1.0, 0.25, 0.0}) {
    TSessionOptions o;
    o.Folder = Dir.File("tracks" + std::to_string(PreRoll));
    o.WaitForSound = true;
    o.PreRollSeconds = PreRoll;
    SplitRun r(o, p);
    ASSERT_EQ(r.Said.Tracks.size(), 3u) << PreRoll;  // two songs and the side's silent end
    EXPECT_EQ(r.Said.End, TSessionEnd::TooShort);
    const Pcm One = Samples(r.Said.Tracks[0].Track.Path);
    const std::size_t Lead = static_cast<std::size_t>(std::lround(PreRoll * 44100));
    const std::size_t From = (Sound - Lead) * 2;
    ASSERT_GE(One.size(), 8u * 44100 * 2);
    EXPECT_TRUE(std::equal(One.begin(), One.end(), p.begin() + static_cast<std::ptrdiff_t>(From)))
        << "pre-roll " << PreRoll;
    // The tracks follow each other without a gap.
    const Pcm Two = Samples(r.Said.Tracks[1].Track.Path);
    EXPECT_TRUE(std::equal(Two.begin(), Two.end(),
                           p.begin() + static_cast<std::ptrdiff_t>(From + One.size())));
  }
}

// A programme in any stereo PCM format: 10 s of digital silence, a tone of
// 8 s (peak 16384 at 16 bits) with full-scale runs of 3 (left, 12 s) and 2
// (right, negative, 14 s), 2 s of silence, a second tone, 12 s of silence.
// At 24 bits each sample is its 16-bit twin with low bits of its own (none
// where the twin is 0 or at full scale).
std::vector<std::uint8_t> Programme(const WAVEFORMATEX& f) {
  const int Width = f.wBitsPerSample / 8;
  const double Rate = f.nSamplesPerSec;
  std::vector<std::uint8_t> b;
  auto Put = [&](std::int32_t v) {
    for (int i = 0; i < Width; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto Frames = [&](double Seconds) {
    return static_cast<std::int64_t>(std::lround(Seconds * Rate));
  };
  const std::int32_t Most = (1 << (8 * Width - 1)) - 1;
  const std::int64_t Total = Frames(40);
  for (std::int64_t n = 0; n < Total; ++n) {
    const double t = static_cast<double>(n) / Rate;
    const bool First = t >= 10 && t < 18, Second = t >= 20 && t < 28;
    for (int c = 0; c < 2; ++c) {
      std::int32_t v = 0;
      if (First || Second) {
        const double Phase = 2 * M_PI * (c ? 300 : 440) * (t - (First ? 10 : 20));
        const auto s16 = static_cast<std::int32_t>(std::lround(16384 * std::sin(Phase)));
        v = Width == 2 || s16 == 0 ? s16
                                   : s16 * 256 + static_cast<std::int32_t>((n * 37 + c) & 0x7F);
      }
      const std::int64_t Left = n - Frames(12), Right = n - Frames(14);
      if (c == 0 && Left >= 0 && Left < 3) v = Most;
      if (c == 1 && Right >= 0 && Right < 2) v = -Most - 1;
      Put(v);
    }
  }
  return b;
}

// The programme at 24 bits 96 kHz decides as at the designed format: the same
// tracks to within a buffer (46 ms at both rates), start on sound a second
// before the first sample, the clips at the 24-bit full scale counted and
// marked at the same times, the same peak and advice; 24-bit tracks.
TEST(RecordingLevels, A24Bit96kHzRecordingDecidesAsThe16BitOneAtItsOwnScale) {
  test::TempDir Dir;
  WAVEFORMATEX Hi{};
  BuildPCMFormat(&Hi, 24, 2, 96000);
  struct Run {
    std::vector<Ended> Tracks;
    std::string Level;
    std::vector<TCueMarker> Marks;
  };
  std::vector<Run> Runs;
  for (const WAVEFORMATEX& f : {CdFormat(), Hi}) {
    const std::vector<std::uint8_t> p = Programme(f);
    TSessionOptions o;
    o.Format = f;
    o.Folder = Dir.File("tracks" + std::to_string(f.nSamplesPerSec));
    o.WaitForSound = true;
    Events Said;
    TRecordingSession Session(o, Said);
    std::size_t At = 0;
    const std::atomic<bool> Never{false};
    Session.Split(
        [&](std::uint8_t* Dest, std::int64_t Count) {
          const std::size_t n =
              std::min<std::size_t>(static_cast<std::size_t>(Count), p.size() - At);
          std::memcpy(Dest, p.data() + At, n);
          At += n;
          return static_cast<std::int64_t>(n);
        },
        Never);
    EXPECT_EQ(Session.BufferBytes() % f.nBlockAlign, 0);
    const unsigned Rate = f.nSamplesPerSec, Bits = f.wBitsPerSample;  // not packed
    ASSERT_EQ(Said.Tracks.size(), 3u) << Rate;
    EXPECT_EQ(Said.End, TSessionEnd::TooShort);
    // The first track: a second before the tone's first sample (its frame 1).
    const std::vector<std::uint8_t> One = test::WavData(Said.Tracks[0].Track.Path);
    const std::size_t From = (9 * f.nSamplesPerSec + 1) * f.nBlockAlign;
    ASSERT_GE(One.size(), 8u * f.nAvgBytesPerSec);
    EXPECT_TRUE(std::equal(One.begin(), One.end(), p.begin() + static_cast<std::ptrdiff_t>(From)));
    TWaveScan Scan;
    std::string Error;
    ASSERT_TRUE(ScanWaveFile(Said.Tracks[0].Track.Path, Scan, Error)) << Error;
    EXPECT_EQ(unsigned{Scan.Format()->wBitsPerSample}, Bits);
    EXPECT_EQ(unsigned{Scan.Format()->nSamplesPerSec}, Rate);
    Runs.push_back({Said.Tracks, Session.LevelNote(), Scan.Markers});
  }
  const Run &Cd = Runs[0], &Hires = Runs[1];
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(static_cast<double>(Hires.Tracks[i].Track.Ms),
                static_cast<double>(Cd.Tracks[i].Track.Ms), 46)
        << i;
    EXPECT_EQ(Hires.Tracks[i].Track.ClippedSamples, Cd.Tracks[i].Track.ClippedSamples) << i;
    EXPECT_EQ(Hires.Tracks[i].Track.ClipText(), Cd.Tracks[i].Track.ClipText()) << i;
    EXPECT_EQ(Hires.Tracks[i].Track.Peak, Cd.Tracks[i].Track.Peak) << i;
  }
  EXPECT_EQ(Cd.Tracks[0].Track.ClippedSamples, 5);
  EXPECT_EQ(Cd.Tracks[0].Track.ClipText(), "Track01.wav: 5 clipped samples, first at 0:03.000");
  EXPECT_EQ(Hires.Level, Cd.Level);
  ASSERT_EQ(Hires.Marks.size(), 2u);  // 2 s apart: a mark each
  ASSERT_EQ(Cd.Marks.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(Hires.Marks[i].Label, Cd.Marks[i].Label);
    EXPECT_NEAR(Hires.Marks[i].Frame / 96000.0, Cd.Marks[i].Frame / 44100.0, 1e-4);
  }
}

TEST(RecordingLevels, APauseLongerThanTheMinimumLengthEndsTheSideOnlyWithoutAnEndBySilence) {
  test::TempDir Dir;
  // Two songs with a 9 s pause between (longer than the minimum length, 7 s).
  Pcm p;
  Tone(p, 8, 12000);
  Silence(p, 9);
  Tone(p, 8, 12000);
  Silence(p, 40);
  TSessionOptions Designed;
  Designed.Folder = Dir.File("designed");
  SplitRun a(Designed, p);
  EXPECT_EQ(a.Said.End, TSessionEnd::TooShort);
  EXPECT_EQ(a.Said.Tracks.size(), 2u);  // the second song is never recorded
  EXPECT_LT(a.Said.Tracks[1].Track.Ms, 8000);

  TSessionOptions BySilence = Designed;
  BySilence.Folder = Dir.File("by-silence");
  BySilence.SideEndSeconds = 30;
  SplitRun b(BySilence, p);
  EXPECT_EQ(b.Said.End, TSessionEnd::TooShort);
  ASSERT_EQ(b.Said.Tracks.size(), 3u);
  // The pause leads into the second song, in its track; the side ends after
  // 30 s of silence, in the track after it.
  EXPECT_NEAR(static_cast<double>(b.Said.Tracks[1].Track.Ms), 9000 + 8000, 500);
  EXPECT_NEAR(static_cast<double>(b.Said.Tracks[2].Track.Ms), 30000, 500);
  std::int64_t Frames = 0;
  for (const Ended& e : b.Said.Tracks) Frames += e.Track.Frames;
  EXPECT_NEAR(static_cast<double>(Frames) / 44100, 8 + 9 + 8 + 30, 0.5);
  EXPECT_NE(b.Session.Message().find("silent for 30 s"), std::string::npos) << b.Session.Message();

  // The second song starting in the last few frames of a buffer: that buffer
  // is sound, while the time gate's sum over it and the pause before is still
  // silence. The song stays in the pause's track.
  const std::size_t Buffer = TRecordingSession::kBufferSize / 4;
  for (const std::size_t Late : {30, 60, 100}) {
    const std::size_t Onset = (8 * 44100 + 9 * 44100) / Buffer * Buffer + Buffer - Late;
    Pcm q;
    Tone(q, 8, 12000);
    q.insert(q.end(), (Onset - 8 * 44100) * 2, 0);
    Tone(q, 8, 12000);
    Silence(q, 31);
    BySilence.Folder = Dir.File("late-" + std::to_string(Late));
    SplitRun c(BySilence, q);
    ASSERT_EQ(c.Said.Tracks.size(), 3u) << Late;
    EXPECT_NEAR(static_cast<double>(c.Said.Tracks[1].Track.Frames),
                static_cast<double>(Onset - 8 * 44100) + 8 * 44100, Buffer * 10.0)
        << Late;
  }
}

TEST(RecordingLevels, ATrackOfOnlyTheInputsNoiseIsSaidAsSuch) {
  test::TempDir Dir;
  // A song, 12 s of faint hiss (under the gate), a song: kept going, the hiss
  // longer than the minimum length becomes a track of its own.
  Pcm p;
  Tone(p, 8, 12000);
  for (std::int64_t i = 0; i < 12 * 44100; ++i) {
    p.push_back(static_cast<std::int16_t>(i * 7919 % 41 - 20));
    p.push_back(static_cast<std::int16_t>(i * 104729 % 41 - 20));
  }
  Tone(p, 8, 12000);
  Silence(p, 1);
  TSessionOptions o;
  o.Folder = Dir.File("tracks");
  o.KeepGoing = true;
  SplitRun r(o, p);
  // The second track lies wholly in the hiss (7 s of it), the last in the
  // second of silence after the second song; the tracks that hold a song, or
  // the rest of the hiss leading into one, are not said.
  ASSERT_EQ(r.Said.Tracks.size(), 4u);
  for (std::size_t i = 0; i < r.Said.Tracks.size(); ++i) {
    const TTrackInfo& t = r.Said.Tracks[i].Track;
    const bool Noise = i == 1 || i == 3;
    EXPECT_EQ(t.OnlyNoise, Noise) << i << " " << t.Ms;
    EXPECT_EQ(t.NoiseText(),
              Noise ? "Track0" + std::to_string(i + 1) + ".wav holds only the input's noise" : "")
        << i;
  }
}

}  // namespace
}  // namespace velmar
