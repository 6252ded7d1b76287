// Setting levels and starting on the needle in the main window, on virtual
// devices: the meters, peak figures and clip lamps before any Rec; start on
// sound with its pre-roll, a Stop while waiting that makes nothing, and an
// end of side by silence that lets a long pause go by.
#include <gtest/gtest.h>

#include <QApplication>
#include <QtTest/QTest>
#include <cmath>

#include "app/form_audio_recorder_main.h"
#include "app/peak_readout.h"
#include "tests/app/window_rig.h"
#include "tests/support/fluid_music.h"
#include "tests/support/noise_programme.h"
#include "tests/support/wait_until.h"
#include "tests/support/wav_data.h"

namespace velmar {
namespace {

using test::WaitUntil;
using test::WavData;

// The share of a widget's pixels that are lit (bright green, as the bars are).
double LitShare(QWidget* Widget) {
  const QImage Image = Widget->grab().toImage();
  int Lit = 0;
  for (int y = 0; y < Image.height(); ++y)
    for (int x = 0; x < Image.width(); ++x) {
      const QColor c = Image.pixelColor(x, y);
      Lit += c.green() > 150 && c.red() < 150;
    }
  return static_cast<double>(Lit) / (Image.width() * Image.height());
}

TEST(LevelSetting, TheMetersShowTheInputBeforeAnyRecWithPeakFiguresAndClipLampsThatLatch) {
  WindowRig R;
  static std::atomic<std::uint64_t> Generated{0};  // the bytes the input has made
  Generated = 0;
  // The left channel clips in its first second (a sine driven past full
  // scale), then peaks at -20 dBFS; the right peaks at -6.0 dBFS throughout.
  R.Devices->AddCapture(
      {.Name = "Hot line",
       .Generator = [](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t Offset,
                       const WAVEFORMATEX&) {
         Generated = std::max<std::uint64_t>(Generated, Offset + Count);
         for (std::uint32_t i = 0; i < Count; ++i) {
           const std::uint64_t At = Offset + i, Frame = At / 4;
           const double Phase = std::sin(2 * M_PI * 441 * static_cast<double>(Frame) / 44100);
           const bool Left = At / 2 % 2 == 0;
           const double Peak = !Left ? 16384 : Frame < 44100 ? 40000 : 3277;
           const auto s =
               static_cast<std::int16_t>(std::clamp(std::lround(Peak * Phase), -32768L, 32767L));
           Dest[i] = static_cast<std::uint8_t>(At % 2 == 0 ? s & 0xFF : (s >> 8) & 0xFF);
         }
       }});
  SetWaveBackends({R.Devices});
  TFormAudioRecorderMain& W = R.Open();
  ASSERT_TRUE(W.miMonitorLevels->isChecked());  // on at a first start
  // Monitoring from the start: the bars move, the figures and the lamp follow.
  ASSERT_TRUE(WaitUntil([&] { return W.Peaks->Lit(0) && W.Peaks->Figure(1) == "-6.0"; }))
      << W.Peaks->Figure(0).toStdString() << " " << W.Peaks->Figure(1).toStdString();
  EXPECT_EQ(W.Peaks->Figure(0), "0.0");
  EXPECT_FALSE(W.Peaks->Lit(1));
  ASSERT_TRUE(
      WaitUntil([&] { return LitShare(W.levelLeft) > 0.2 && LitShare(W.levelRight) > 0.2; }));
  EXPECT_EQ(W.Grid->rowCount(), 1);  // nothing recorded
  Photograph(W, "meters-before-recording-clipped");

  // Once the clipping is over, the lamp stays lit until it is clicked; then
  // the figure starts over at what comes now.
  ASSERT_TRUE(WaitUntil([&] { return Generated > 2 * kBytesPerSecond; }));
  QTest::qWait(300);  // the figures' refresh
  EXPECT_TRUE(W.Peaks->Lit(0));
  QTest::mouseClick(W.Peaks, Qt::LeftButton, {}, QPoint(W.Peaks->width() - 4, 8));
  EXPECT_FALSE(W.Peaks->Lit(0));
  ASSERT_TRUE(WaitUntil([&] { return W.Peaks->Figure(0) == "-20.0"; }))
      << W.Peaks->Figure(0).toStdString();
  EXPECT_FALSE(W.Peaks->Lit(0));
  EXPECT_EQ(W.Peaks->Figure(1), "-6.0");  // the other channel's row stays

  // Off, the input is let go and the bars go dark; the choice is kept.
  W.miMonitorLevels->trigger();
  EXPECT_FALSE(test::TWindowSeam::Input(W).State() & wisStarted);
  W.close();
  EXPECT_EQ(R.Read("MonitorLevels"), 0);
}

// Rec with Start on Sound: the status line waits, no row and no file; a Stop
// then makes nothing. The next Rec waits through a quiet lead-in longer than
// the minimum length and the first track begins exactly a second before the
// first sample above the noise gate; a pause between songs longer than the
// minimum length goes by with an end of side after 30 s of silence.
TEST(LevelSetting, StartOnSoundWaitsWithoutARowAndKeepsTheSecondBeforeTheSound) {
  WindowRig R;
  // A quiet lead-in (a faint noise under the gate) of 6 s, songs of 5 s with a
  // 5 s pause between them; the minimum length 4 s.
  const Programme P{{{6, false}, {5, true}, {5, false}, {5, true}}};
  R.Install(P);
  R.Write("MinSec", 4);
  R.Write("StartOnSound", 1);
  R.Write("SideEnd", 30);
  R.Write("AutoSplit", 1);
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  EXPECT_TRUE(W.StatusText().startsWith("Waiting for sound on Programme"))
      << W.StatusText().toStdString();
  EXPECT_TRUE(W.Recording());
  QTest::qWait(300);
  EXPECT_EQ(W.Grid->rowCount(), 1);
  W.sbStopClick();
  EXPECT_FALSE(W.Recording());
  EXPECT_EQ(W.Grid->rowCount(), 1);
  EXPECT_FALSE(fs::exists(R.Track(1)));
  EXPECT_EQ(W.StatusText(), "Stopped while waiting for sound: no track was made");

  W.sbRecordClick();
  ASSERT_TRUE(test::TWindowSeam::Session(W).Waiting());
  // The second song comes, in a track of its own after the pause.
  ASSERT_TRUE(WaitUntil([&] { return W.Grid->rowCount() == 3; }, std::chrono::seconds(30)))
      << W.StatusText().toStdString() << " rows " << W.Grid->rowCount() << " waiting "
      << test::TWindowSeam::Session(W).Waiting() << " recording " << W.Recording();
  Photograph(W, "start-on-sound-second-song");
  ASSERT_TRUE(WaitUntil([&] { return W.Grid->rowCount() == 4; }, std::chrono::seconds(30)));
  W.sbStopClick();

  // The first sample above the gate (25 / 8 as a level: 50 as a sample).
  std::uint64_t Sound = 6 * 44100;
  while (std::abs(P.Sample(Sound, 0)) <= 50 && std::abs(P.Sample(Sound, 1)) <= 50) ++Sound;
  const Bytes One = WavData(R.Track(1)), Two = WavData(R.Track(2));
  EXPECT_EQ(P.Find(One), static_cast<std::int64_t>((Sound - 44100) * 4));
  EXPECT_EQ(P.Find(Two), static_cast<std::int64_t>((Sound - 44100) * 4 + One.size()));
  // The pause leads into the second song, whole, in its track.
  EXPECT_NEAR(static_cast<double>(Two.size()) / kBytesPerSecond, 5 + 5, 0.5);
}

// A side of soft piano played into the window's input as a record player
// would, from Rec on (with and without Start on Sound), at the designed
// defaults: one track per piece, every cut in a gap, and the recording ended
// by the rule only in the run-out after the last piece.
TEST(LevelSetting, ASideOfRealMusicGivesOneTrackPerPieceWithAndWithoutStartOnSound) {
  const test::MusicSide Side = test::RenderSide(test::PianoSide(), 1, 3, 8);
  ASSERT_TRUE(Side.Rendered) << "fluidsynth did not render the pieces";
  for (const bool OnSound : {false, true}) {
    WindowRig R;
    // The needle goes down when the test says: until then the input is
    // silence. Read as fast as the window takes it, every byte in order.
    struct Turntable {
      std::atomic<bool> Playing{false};
      std::size_t At = 0;  // the device's thread only
    };
    auto Deck = std::make_shared<Turntable>();
    R.Devices->AddCapture({.Name = "Record player",
                           .Generator =
                               [Deck, &Side](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t,
                                             const WAVEFORMATEX&) {
                                 for (std::uint32_t i = 0; i < Count; ++i)
                                   Dest[i] = Deck->Playing && Deck->At < Side.Pcm.size()
                                                 ? Side.Pcm[Deck->At++]
                                                 : 0;
                               },
                           .RealTime = false,
                           .Live = false,
                           .OnDemand = true});
    SetWaveBackends({R.Devices});
    R.Write("StartOnSound", OnSound ? 1 : 0);
    R.Write("AutoSplit", 1);
    TFormAudioRecorderMain& W = R.Open();
    W.sbRecordClick();
    ASSERT_TRUE(W.Recording());
    Deck->Playing = true;
    ASSERT_TRUE(WaitUntil([&] { return W.StatusText().contains("so the recording ended there"); },
                          std::chrono::seconds(120)))
        << W.StatusText().toStdString();
    const std::string Said = W.StatusText().toStdString();
    // Every message stays to be read whole afterwards, in order, with its time.
    const QString Messages = test::TWindowSeam::Messages(W)->Text();
    EXPECT_TRUE(Messages.endsWith(W.StatusText())) << Messages.toStdString();
    if (OnSound) {
      EXPECT_LT(Messages.indexOf("Waiting for sound"), Messages.indexOf(W.StatusText()))
          << Messages.toStdString();
    }
    W.sbStopClick();
    std::vector<Bytes> Tracks;
    for (int n = 1; fs::exists(R.Track(n)); ++n) Tracks.push_back(WavData(R.Track(n)));
    test::ExpectOneTrackPerPiece(Side, Tracks, Said);
    if (OnSound) Photograph(W, "real-music-side");
  }
}

// The input stalls while the window waits for sound: nothing of the
// recording was lost, so nothing is said and no dropout is marked.
TEST(LevelSetting, AStallWhileWaitingForSoundLosesNothingOfTheRecording) {
  WindowRig R;
  const Programme P{{{4, false}, {3, true}}};
  R.Install(P, true, [](TVirtualDeviceSpec& Spec) {
    Spec.SuspendAfter = kBytesPerSecond;
    Spec.SuspendSeconds = 1;
  });
  R.Write("StartOnSound", 1);
  R.Write("AutoSplit", 1);
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  ASSERT_TRUE(test::TWindowSeam::Session(W).Waiting());
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Session(W).Waiting() && test::TWindowSeam::Recorder(W).Position() > 1500; }))
      << W.StatusText().toStdString();
  W.sbStopClick();
  EXPECT_FALSE(W.StatusText().contains("lost")) << W.StatusText().toStdString();
  EXPECT_FALSE(W.StatusText().contains("dropout")) << W.StatusText().toStdString();
  EXPECT_TRUE(test::CuePoints(test::ReadFileBytes(R.Track(1))).empty());
}

}  // namespace
}  // namespace velmar
