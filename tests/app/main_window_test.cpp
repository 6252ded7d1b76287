// The recorder's main window driven as a user drives it, on Qt's offscreen
// platform with virtual devices: a programme of sounds and silences recorded
// and split into tracks, manual splits, playback and navigation, renaming,
// the guards while recording and playing, settings across two starts, the
// colour rule and the devices dialog.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QtTest/QTest>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "app/form_audio_graphics.h"
#include "app/form_audio_recorder_main.h"
#include "app/form_devices.h"
#include "app/form_edit.h"
#include "app/form_output_destination.h"
#include "app/form_review.h"
#include "app/recorder_settings.h"
#include "mp3/encoder_registry.h"
#include "platform/files.h"
#include "platform/registry/settings_store.h"
#include "stream/arith.h"
#include "tests/app/window_rig.h"
#include "tests/support/cpu_load.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/support/wav_data.h"
#include "tests/support/xvfb_server.h"
#include "wavefile/wave_scan.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using test::WaitUntil;
using test::WavData;

// The tracks 1..Count joined are one stretch of the programme's stream: not a
// sample missing or repeated at any split.
void ExpectOneStretch(const WindowRig& R, const Programme& P, int Count) {
  Bytes All;
  std::string Splits;
  for (int n = 1; n <= Count; ++n) {
    const Bytes Track = WavData(R.Track(n));
    All.insert(All.end(), Track.begin(), Track.end());
    Splits += " " + std::to_string(All.size());
  }
  const std::int64_t Start = P.Find(All);
  ASSERT_GE(Start, 0) << "the first track is not the programme";
  for (std::size_t i = 0; i < All.size(); ++i)
    if (All[i] != P.Byte(static_cast<std::uint64_t>(Start) + i))
      FAIL() << "byte " << i << " differs; the tracks end at" << Splits;
}

// Automatic splits in the quiet gaps and a split by hand in the middle of a
// sound, on an input that runs on while nobody reads it (as a sound card
// does): the tracks joined are the input's stream from the first sample
// recorded, with the window's states along the way.
void RecordWithSplitsOfEveryKind(bool Loaded) {
  WindowRig R;
  // Sounds of 1.5, 1.3 and 3 s with quiet gaps of 0.8 s; a minimum length of 1 s.
  // (The programme starts with the device, a moment before the window is up.)
  const Programme P{
      {{1.0, false}, {1.5, true}, {0.8, false}, {1.3, true}, {0.8, false}, {3.0, true}}};
  R.Write("MinSec", 1);
  R.Write("AutoSplit", 1);
  const std::string Out = R.Dir.File("missing/out");
  WriteRegValue(kSettingsRoot, kSettingsKey, "Path", Out);
  R.Install(P);
  TFormAudioRecorderMain& W = R.Open();
  EXPECT_EQ(W.MinSec->Position(), 1);
  EXPECT_TRUE(W.rbAutoOn->Checked());
  EXPECT_FALSE(test::TWindowSeam::RowRefresh(W).Enabled());  // the row's refresh runs only while a track records
  std::optional<test::CpuLoad> Busy;
  if (Loaded) Busy.emplace();

  QTest::keyClick(&W, Qt::Key_F12);
  ASSERT_EQ(R.Rows(), 2) << W.StatusText().toStdString();
  EXPECT_EQ(R.Name(1), "Track01.wav");
  EXPECT_TRUE(fs::is_directory(Out));
  EXPECT_TRUE(W.Recording());
  EXPECT_TRUE(R.Logind.Holds("Velmar Audio Recorder"));  // the machine stays awake
  EXPECT_TRUE(test::TWindowSeam::RowRefresh(W).Enabled());
  EXPECT_FALSE(W.Grid->isEnabled());
  EXPECT_FALSE(W.miFile->menuAction()->isEnabled());
  EXPECT_TRUE(W.miInput->menuAction()->isEnabled());
  W.miNewClick();  // refused while recording
  EXPECT_EQ(R.Rows(), 2);

  // Two sounds, two tracks; a second into the third sound, a split by hand.
  ASSERT_TRUE(WaitUntil([&] { return R.Rows() == 4; }, std::chrono::seconds(30)));
  EXPECT_EQ(R.Name(3), "Track03.wav");
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 1500; }));
  QTest::keyClick(&W, Qt::Key_F12);
  EXPECT_EQ(R.Rows(), 5);
  EXPECT_EQ(W.Grid->currentRow(), 4);
  EXPECT_TRUE(W.Recording());
  // The end of the sound splits again; the next track is quiet, then Stop.
  ASSERT_TRUE(WaitUntil([&] { return R.Rows() == 6; }, std::chrono::seconds(30)));
  QTest::keyClick(&W, Qt::Key_F10);
  Busy.reset();
  EXPECT_FALSE(W.Recording());
  EXPECT_FALSE(test::TWindowSeam::RowRefresh(W).Enabled());
  EXPECT_TRUE(W.Grid->isEnabled());
  EXPECT_TRUE(W.miFile->menuAction()->isEnabled());
  EXPECT_EQ(test::TWindowSeam::Meters(W).Input(), &test::TWindowSeam::Input(W));  // the meters show the live input again
  EXPECT_TRUE(WaitUntil([&] { return !R.Logind.Holds("Velmar Audio Recorder"); }));

  ExpectOneStretch(R, P, 5);
  for (int n = 1; n <= 4; ++n) {
    const Bytes Track = WavData(R.Track(n));
    EXPECT_GT(Track.size(), kBytesPerSecond) << n;  // each longer than the minimum
    // A finished track's row shows what its file holds.
    EXPECT_EQ(W.Grid->item(n, 2)->text().toStdString(),
              TimeToText(MulDiv64(static_cast<std::int64_t>(Track.size() / 4), 1000, 44100)))
        << n;
    // The rule's splits lie in the quiet; the one by hand in the sound.
    const int Last =
        std::abs(static_cast<std::int16_t>(Track[Track.size() - 2] | Track[Track.size() - 1] << 8));
    if (n == 3) {
      EXPECT_GT(Last, 0) << n;
    } else {
      EXPECT_LE(Last, 64) << n;
    }
  }
}

TEST(MainWindow, EverySplitKeepsEverySampleOfALiveInput) {
  RecordWithSplitsOfEveryKind(false);
}

TEST(MainWindow, EverySplitKeepsEverySampleOfALiveInputUnderLoad) {
  RecordWithSplitsOfEveryKind(true);
}

// A long take without automatic splits: at the largest WAV size the next
// track goes on from the very next sample, and the window says so.
TEST(MainWindow, ATrackAtTheLargestSizeGoesOnInTheNextWithoutAGap) {
  WindowRig R;
  const Programme P{{{3.0, true}}};  // then quiet for ever
  R.Write("AutoSplit", 0);
  ::setenv("VELMAR_MAX_TRACK_BYTES", "200000", 1);
  R.Install(P);
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  const bool Fourth = WaitUntil([&] { return R.Rows() == 5; }, std::chrono::seconds(30));
  W.sbStopClick();
  ::unsetenv("VELMAR_MAX_TRACK_BYTES");
  ASSERT_TRUE(Fourth) << W.StatusText().toStdString();
  EXPECT_EQ(R.Name(4), "Track04.wav");
  // 24 buffers of 8096 bytes fit: 1.101 s per full track, shown in its row.
  EXPECT_EQ(W.Grid->item(2, 2)->text(), "0:01.101");
  EXPECT_TRUE(
      W.StatusText().startsWith("Track03.wav reached the largest size of a WAV file; "
                                "recording goes on in Track04.wav"))
      << W.StatusText().toStdString();
  for (int n = 1; n < 4; ++n) EXPECT_EQ(WavData(R.Track(n)).size(), 24u * 8096) << n;
  ExpectOneStretch(R, P, 4);
}

// An input that stops delivering (a server gone, a card unplugged) ends the
// recording within seconds, with a complete file and a line saying so, when
// the user chose not to wait for it; waited for, it ends after the wait.
TEST(MainWindow, ALostInputEndsTheRecordingAndSaysSo) {
  WindowRig R;
  R.Write("InputWait", 0);
  R.Devices->AddCapture({.Name = "Vanishing",
                         .Generator = [](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t,
                                         const WAVEFORMATEX&) { std::memset(Dest, 7, Count); },
                         .FailAfter = 30 * 8096});
  SetWaveBackends({R.Devices});
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  ASSERT_TRUE(W.Recording());
  ASSERT_TRUE(WaitUntil([&] { return !W.Recording(); }, std::chrono::seconds(30)));
  EXPECT_TRUE(W.StatusText().startsWith(
      "No audio from the input for 2 s: it is gone; Track01.wav is complete. Loudest peak "))
      << W.StatusText().toStdString();
  Photograph(W, "line-input-lost");
  EXPECT_TRUE(W.Grid->isEnabled());
  EXPECT_TRUE(W.miFile->menuAction()->isEnabled());
  const Bytes Track = WavData(R.Track(1));
  EXPECT_EQ(Track.size(), 30u * 8096);
  EXPECT_EQ(std::count(Track.begin(), Track.end(), 7), static_cast<long>(Track.size()));
}

// The input loses audio twice in one take: the machine is suspended for half a
// second (the device cannot tell how much was lost), then the window itself
// stands still for longer than its buffers and the device hold (an overrun).
// Each is said at once where it happened, with the count so far; the track
// goes on, keeps both as cue points, and holds the programme on both sides of
// each, the overrun's loss exactly as said.
TEST(MainWindow, DropoutsAreSaidWhereTheyHappenedAndTheTrackGoesOn) {
  WindowRig R;
  const Programme P{{{1000, true}}};
  R.Install(P, true, [](TVirtualDeviceSpec& Spec) {
    Spec.SuspendAfter = 2 * kBytesPerSecond;
    Spec.SuspendSeconds = 0.5;
  });
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  ASSERT_TRUE(WaitUntil([&] { return W.StatusText().contains("dropout"); }))
      << W.StatusText().toStdString();
  EXPECT_TRUE(
      W.StatusText().startsWith("Track01.wav: audio lost at 0:02.000 (the input was "
                                "suspended for 0."))
      << W.StatusText().toStdString();
  EXPECT_TRUE(W.StatusText().endsWith(" s) (1 dropout in this recording)"))
      << W.StatusText().toStdString();
  EXPECT_TRUE(W.Recording());
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 4000; }));
  // The window stands still: nothing takes the input's buffers for 4 s.
  std::this_thread::sleep_for(std::chrono::seconds(4));
  ASSERT_TRUE(WaitUntil([&] { return W.StatusText().contains("2 dropouts"); }))
      << W.StatusText().toStdString();
  const QString Overrun = W.StatusText();
  EXPECT_TRUE(Overrun.contains(" s lost at 0:0")) << Overrun.toStdString();
  EXPECT_TRUE(Overrun.endsWith("(the input overran) (2 dropouts in this recording)"))
      << Overrun.toStdString();
  Photograph(W, "line-dropout");
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 9000; }));
  W.sbStopClick();
  EXPECT_TRUE(W.StatusText().startsWith("2 dropouts, ")) << W.StatusText().toStdString();
  EXPECT_TRUE(W.StatusText().contains(" s lost and more, in Track01.wav. Loudest peak "))
      << W.StatusText().toStdString();
  EXPECT_EQ(R.Rows(), 2);

  // Where the track departs from the programme, and where it meets it again.
  const Bytes Track = WavData(R.Track(1));
  const std::int64_t Start = P.Find(Track);
  ASSERT_GE(Start, 0);
  auto Departs = [&](std::size_t From, std::int64_t Offset) {
    std::size_t i = From;
    while (i < Track.size() && Track[i] == P.Byte(static_cast<std::uint64_t>(Offset) + i)) ++i;
    return i;
  };
  const std::size_t First = Departs(0, Start);
  EXPECT_EQ(First, 2 * kBytesPerSecond);
  const std::int64_t Resumed = P.Find(Bytes(Track.begin() + First, Track.end())) - First;
  ASSERT_GT(Resumed, Start);
  EXPECT_NEAR(static_cast<double>(Resumed - Start) / kBytesPerSecond, 0.5, 0.2);
  const std::size_t Second = Departs(First, Resumed);
  ASSERT_LT(Second, Track.size());
  const std::int64_t Again = P.Find(Bytes(Track.begin() + Second, Track.end())) - Second;
  ASSERT_GT(Again, Resumed);
  // The line names the overrun's size and place as the track has them.
  char Said[64];
  std::snprintf(Said, sizeof Said, "%.2f s lost at %s",
                static_cast<double>((Again - Resumed) / 4) / 44100,
                TimeToText(MulDiv64(static_cast<std::int64_t>(Second / 4), 1000, 44100)).c_str());
  EXPECT_TRUE(Overrun.contains(Said)) << Overrun.toStdString() << " / " << Said;
  EXPECT_EQ(Departs(Second, Again), Track.size());
  // Both kept as labelled cue points at those frames.
  TWaveScan Scan;
  std::string Error;
  ASSERT_TRUE(ScanWaveFile(R.Track(1), Scan, Error)) << Error;
  ASSERT_EQ(Scan.Markers.size(), 2u);
  EXPECT_EQ(Scan.Markers[0].Frame, First / 4);
  EXPECT_EQ(Scan.Markers[0].Label, "dropout (audio lost)");
  EXPECT_EQ(Scan.Markers[1].Frame, Second / 4);
  char Label[64];
  std::snprintf(Label, sizeof Label, "dropout %.2f s",
                static_cast<double>((Again - Resumed) / 4) / 44100);
  EXPECT_EQ(Scan.Markers[1].Label, Label);
  EXPECT_EQ(Scan.Frames(), static_cast<std::int64_t>(Track.size() / 4));
}

// A restarted window with an empty list records after the folder's highest
// track, and a take never replaces a track from before this start: the
// earlier sitting's files stay byte for byte, and the list shows them.
TEST(MainWindow, ARecordingNeverWritesOverAnEarlierSittingsTracks) {
  WindowRig R;
  R.Install(Programme{{{1000, true}}});
  std::vector<Bytes> Earlier;
  for (int n = 1; n <= 3; ++n) {
    Bytes File(44 + 4 * 4410 * n, static_cast<std::uint8_t>(n));
    const char Header[] =
        "RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0data";
    std::memcpy(File.data(), Header, 40);
    const auto Put = [&](std::size_t At, std::uint32_t v) {
      for (int i = 0; i < 4; ++i) File[At + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    Put(4, static_cast<std::uint32_t>(File.size() - 8));
    Put(40, static_cast<std::uint32_t>(File.size() - 44));
    test::WriteFileBytes(R.Dir.File(TrackFileName(n)), File);
    Earlier.push_back(File);
  }
  TFormAudioRecorderMain& W = R.Open();
  ASSERT_EQ(R.Rows(), 1);
  W.sbRecordClick();
  EXPECT_EQ(R.Name(4), "Track04.wav");
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 500; }));
  W.sbStopClick();
  ASSERT_EQ(R.Rows(), 5);
  // The rows before it list the earlier tracks with their lengths.
  EXPECT_EQ(R.Name(2), "Track02.wav");
  EXPECT_EQ(W.Grid->item(2, 2)->text(), "0:00.200");
  // A take after row 1 would go into Track02.wav, which is from before: it
  // takes the next free number instead, and this sitting's Track04 stays too.
  const Bytes Take = test::ReadFileBytes(R.Track(4));
  W.Grid->setCurrentCell(1, 1);
  W.sbRecordClick();
  EXPECT_EQ(W.Grid->currentRow(), 5);
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 500; }));
  W.sbStopClick();
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(test::ReadFileBytes(R.Track(n)), Earlier[static_cast<std::size_t>(n - 1)]) << n;
  EXPECT_EQ(test::ReadFileBytes(R.Track(4)), Take);
  EXPECT_GT(WavData(R.Track(5)).size(), 0u);
  // Within the sitting, the designed overwrite stays: after row 4, Track05 again.
  W.Grid->setCurrentCell(4, 1);
  W.sbRecordClick();
  EXPECT_EQ(W.Grid->currentRow(), 5);
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 500; }));
  W.sbStopClick();
  EXPECT_EQ(R.Rows(), 6);
}

// Splits by hand in quick succession (a key held down repeats; presses 20 ms
// apart) never make a track without audio: a split before the new track got
// its first buffer is ignored, and the tracks joined are still the input.
TEST(MainWindow, QuickSplitsByHandNeverMakeAnEmptyTrack) {
  WindowRig R;
  const Programme P{{{1000, true}}};
  R.Install(P);
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 500; }));
  // F12 held down: the first press, then the keyboard's repeats.
  QTest::keyPress(&W, Qt::Key_F12);
  for (int i = 0; i < 20; ++i) {
    QKeyEvent Repeat(QEvent::KeyPress, Qt::Key_F12, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(&W, &Repeat);
  }
  QTest::keyRelease(&W, Qt::Key_F12);
  // Twenty presses 20 ms apart.
  for (int i = 0; i < 20; ++i) {
    QTest::keyClick(&W, Qt::Key_F12);
    QTest::qWait(20);
  }
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 300; }));
  W.sbStopClick();
  const int Tracks = R.Rows() - 1;
  EXPECT_GE(Tracks, 3);
  for (int n = 1; n <= Tracks; ++n) {
    EXPECT_GT(WavData(R.Track(n)).size(), 0u) << n;
  }
  ExpectOneStretch(R, P, Tracks);
}

// Stop in a quiet stretch says that the last track holds only silence (a
// second or more of it); Stop in the sound says nothing of the kind.
TEST(MainWindow, StopInAQuietStretchSaysTheTrackHoldsOnlySilence) {
  WindowRig R;
  R.Install(Programme{{{3.0, true}}});  // then quiet (a faint noise below the gate)
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 500; }));
  W.sbStopClick();
  EXPECT_TRUE(W.StatusText().startsWith("Loudest peak ")) << W.StatusText().toStdString();
  W.sbRecordClick();
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 3500; }));
  W.sbRecordClick();  // by hand, in the quiet
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 1600; }));
  W.sbStopClick();
  EXPECT_TRUE(W.StatusText().startsWith("Track03.wav holds only silence (0:01."))
      << W.StatusText().toStdString();
}

// A disk that fills up: the track keeps what fitted, its row shows that, the
// line says so, and the window records, plays and chooses again; a Record with
// no room left makes no empty track.
TEST(MainWindow, AFullDiskEndsTheTrackSaysSoAndMakesNoEmptyTrack) {
  WindowRig R;
  R.Install(Programme{{{1000, true}}});
  std::string First;  // the track's path, once the window is there to say it
  SetDiskFreeQuery([&](const std::string&) {
    return std::max<std::int64_t>(600000 - std::max<std::int64_t>(FileSizeOnDisk(First), 0), 0);
  });
  TFormAudioRecorderMain& W = R.Open();
  First = R.Track(1);
  // The time the disk has room for stands beside the folder before Rec, and
  // the last minute is said as the recording starts.
  const std::string Mount = MountPointOf(W.lblOutputFolder->text().toStdString());
  EXPECT_EQ(W.lblTimeLeft->text().toStdString(), "3 s left on " + Mount);
  W.sbRecordClick();
  EXPECT_TRUE(WaitUntil([&] {
    return test::TWindowSeam::Messages(W)->Text().contains(QString::fromStdString(
        "3 s left on " + Mount + ": the recording ends when the disk is full"));
  })) << test::TWindowSeam::Messages(W)->Text().toStdString();
  ASSERT_EQ(R.Rows(), 2);
  const bool Ended = WaitUntil([&] { return !W.Recording(); }, std::chrono::seconds(30));
  const std::size_t Kept = WavData(First).size();
  const QString Length = QString::fromStdString(
      TimeToText(MulDiv64(static_cast<std::int64_t>(Kept / 4), 1000, 44100)));
  EXPECT_TRUE(Ended);
  EXPECT_GT(Kept, kBytesPerSecond);
  EXPECT_TRUE(W.StatusText().startsWith(
      "The disk is full (or the file failed): Track01.wav keeps its first " + Length + ". "))
      << W.StatusText().toStdString();
  EXPECT_EQ(W.Grid->item(1, 2)->text(), Length);
  EXPECT_FALSE(test::TWindowSeam::RowRefresh(W).Enabled());
  EXPECT_TRUE(W.Grid->isEnabled());
  EXPECT_TRUE(W.miFile->menuAction()->isEnabled());
  W.sbRecordClick();
  SetDiskFreeQuery(nullptr);
  EXPECT_EQ(R.Rows(), 2) << W.StatusText().toStdString() << " " << FileSizeOnDisk(First);
  EXPECT_FALSE(fs::exists(R.Track(2)));
  EXPECT_FALSE(W.Recording());
  EXPECT_TRUE(W.StatusText().startsWith("The disk is full: ")) << W.StatusText().toStdString();
  Photograph(W, "line-disk-full");
}

TEST(MainWindow, SilenceBeforeTheMinimumEndsWithoutANextTrack) {
  WindowRig R;
  R.Install(Programme{{{1.2, true}}});  // then silence for ever
  R.Write("MinSec", 2);
  R.Write("AutoSplit", 1);
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  // At 2 s the track is silent but not long enough for a next one: the size
  // shown (as refreshed every 100 ms of recorded audio) is not above the
  // minimum's.
  ASSERT_TRUE(WaitUntil([&] { return !(test::TWindowSeam::Recorder(W).State() & 4); }, std::chrono::seconds(30)));
  QTest::qWait(300);
  EXPECT_EQ(R.Rows(), 2);
  // The window is as after Stop: the meters show the input again, and the
  // review opens at once.
  EXPECT_FALSE(W.Recording());
  EXPECT_TRUE(W.StatusText().startsWith(
      "Track01.wav was silent at the minimum length (2 s), so the recording ended there. "))
      << W.StatusText().toStdString();
  Photograph(W, "line-end-of-side");
  EXPECT_TRUE(W.Grid->isEnabled());
  EXPECT_TRUE(W.miFile->menuAction()->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return (test::TWindowSeam::Input(W).State() & wisStarted) != 0; }));
  W.miReviewClick();
  ASSERT_TRUE(test::TWindowSeam::Review(W));
  test::TWindowSeam::Review(W)->close();
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }));
  // Record starts a new take in the next row.
  W.sbRecordClick();
  EXPECT_EQ(R.Rows(), 3);
  EXPECT_TRUE(test::TWindowSeam::Recorder(W).State() & wisStarted);
  EXPECT_TRUE(W.StatusText().isEmpty());
  W.sbStopClick();
  EXPECT_FALSE(W.Recording());
}

// Options > Set Noise Gate from Input: the programme's quiet is a noise whose
// average sample is 16 (-66 dBFS); 6 dB above it at time gate 8 is a gate of
// 16 (17 with the rule's strict "under"). The input keeps feeding the meters.
TEST(MainWindow, TheNoiseGateIsSetSixDecibelsAboveTheInputsNoise) {
  WindowRig R;
  R.Install(Programme{});  // only the faint noise
  TFormAudioRecorderMain& W = R.Open();
  ASSERT_EQ(W.NoiseGate->Position(), 25);
  W.miGateFromInputClick();
  EXPECT_TRUE(W.StatusText().startsWith("Listening to the input's noise"))
      << W.StatusText().toStdString();
  ASSERT_TRUE(WaitUntil([&] { return W.StatusText().startsWith("Noise gate set"); }))
      << W.StatusText().toStdString();
  EXPECT_GE(W.NoiseGate->Position(), 16);
  EXPECT_LE(W.NoiseGate->Position(), 17);
  EXPECT_TRUE(W.StatusText().startsWith(
      QString::fromStdString("Noise gate set to " + NoiseGateText(W.NoiseGate->Position(), 8) +
                             ", 6 dB above the input's noise (-66.")))
      << W.StatusText().toStdString();
  EXPECT_EQ(W.lblNoiseGate->text(), "Noise Gate -60 dB");
  EXPECT_TRUE(test::TWindowSeam::Input(W).State() & wisStarted);  // monitoring from now on
  Photograph(W, "gate-from-input");
  const int Gate = W.NoiseGate->Position();
  W.close();
  EXPECT_EQ(R.Read("NoiseGate"), Gate);  // kept as the slider's own setting
}

TEST(MainWindow, ManualSplitsPlaybackNavigationAndRenaming) {
  WindowRig R;
  R.Install(Programme{{{1000, true}}});
  TFormAudioRecorderMain& W = R.Open();
  EXPECT_FALSE(W.rbAutoOn->Checked());  // automatic splitting off: only manual splits
  W.sbRecordClick();
  for (int n = 2; n <= 5; ++n) {
    ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 300; }));
    W.sbRecordClick();  // a manual split
    EXPECT_EQ(R.Rows(), n + 1);
  }
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 300; }));
  W.sbStopClick();
  for (int n = 1; n <= 5; ++n) EXPECT_GT(WavData(R.Track(n)).size(), kBytesPerSecond / 4) << n;

  // Playback: the heading row plays nothing; Next on the last wraps to 1.
  W.Grid->setCurrentCell(0, 1);
  W.sbPlayClick();
  EXPECT_FALSE(W.GetPlaying());
  W.Grid->setCurrentCell(5, 1);
  W.sbPlayClick();
  ASSERT_TRUE(W.GetPlaying());
  EXPECT_FALSE(W.Grid->isEnabled());
  // Record, New and Devices are refused while playing.
  W.sbRecordClick();
  W.miNewClick();
  EXPECT_EQ(R.Rows(), 6);
  W.sbNextClick();
  EXPECT_EQ(W.Grid->currentRow(), 1);
  EXPECT_TRUE(W.GetPlaying());
  W.sbPreviousClick();
  EXPECT_EQ(W.Grid->currentRow(), 5);
  ASSERT_TRUE(WaitUntil([&] { return !W.GetPlaying(); }));  // played to its end
  EXPECT_TRUE(W.Grid->isEnabled());
  EXPECT_GT(R.Played.load(), 0u);

  // Recording after selecting row 2 goes into row 3 and overwrites Track03.wav.
  const auto Before = fs::file_size(R.Track(3));
  W.Grid->setCurrentCell(2, 1);
  W.sbRecordClick();
  EXPECT_EQ(W.Grid->currentRow(), 3);
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 1500; }));
  W.sbStopClick();
  EXPECT_EQ(R.Rows(), 6);
  EXPECT_GT(fs::file_size(R.Track(3)), Before);

  // Renaming: capitals, and .WAV unless the text already ends in it.
  struct Case {
    int Row;
    QString Typed;
    bool Confirm;
    QString Expected;
  };
  const Case Cases[] = {{1, "my song", true, "MY SONG.WAV"},
                        {2, "take.wav", true, "TAKE.WAV"},
                        {3, "a.b", true, "A.B.WAV"},
                        {4, "wav", true, ".WAV"},
                        {5, "ignored", false, "TRACK05.WAV"}};
  const QString Folder = W.GetOutputFolder();
  for (const Case& c : Cases) {
    const QString Old = R.Name(c.Row);
    W.Grid->setCurrentCell(c.Row, 1);
    R.AnswerEdit(c.Typed, c.Confirm);
    W.EditTrackName();
    EXPECT_EQ(R.Name(c.Row), c.Expected);
    EXPECT_TRUE(fs::exists((Folder + "/" + c.Expected).toStdString())) << c.Expected.toStdString();
    EXPECT_FALSE(fs::exists((Folder + "/" + Old).toStdString())) << Old.toStdString();
  }
  // A name taken by another track: the rename fails and the old name stays.
  W.Grid->setCurrentCell(1, 1);
  R.AnswerEdit("take.wav", true);
  W.EditTrackName();
  EXPECT_EQ(R.Name(1), "MY SONG.WAV");
  EXPECT_TRUE(fs::exists((Folder + "/MY SONG.WAV").toStdString()));
  // The heading row opens no dialog.
  W.Grid->setCurrentCell(0, 1);
  W.EditTrackName();
  EXPECT_EQ(R.Name(0), "Track Name");

  // File > New: back to the headings, files stay; the next track is Track01 again.
  W.miNewClick();
  EXPECT_EQ(R.Rows(), 1);
  EXPECT_TRUE(fs::exists((Folder + "/A.B.WAV").toStdString()));
}

// An output that goes away while it plays (a sound server stopped) ends the
// playback within seconds, says so, and leaves a window that plays again.
TEST(MainWindow, ALostOutputEndsPlaybackAndSaysSo) {
  WindowRig R;
  R.Devices->AddCapture({.Name = "Tone", .Generator = ToneSignal(440, 0.5)});
  R.Devices->AddPlayback({.Name = "Vanishing", .FailAfter = 44100});  // a quarter second
  SetWaveBackends({R.Devices});
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 1500; }));
  W.sbStopClick();
  W.sbPlayClick();
  ASSERT_TRUE(W.GetPlaying());
  ASSERT_TRUE(WaitUntil([&] { return !W.GetPlaying(); }, std::chrono::seconds(10)));
  EXPECT_EQ(W.StatusText(),
            "The output is gone (nothing played for 2 s): Track01.wav stopped at 0:00.250");
  Photograph(W, "line-output-lost");
  EXPECT_TRUE(W.Grid->isEnabled());
}

// Escape gives back the name editing began with, also after the user went
// to another window and came back (that entry took the typed text as the
// one to restore, and Escape renamed the file to it).
TEST(MainWindow, EscapeKeepsTheNameAfterAVisitToAnotherWindow) {
  TFormAudioGraphics Skin;
  TFormEdit Edit(Skin);
  Edit.SetText("Track01.wav");
  QFocusEvent In(QEvent::FocusIn, Qt::OtherFocusReason);
  QApplication::sendEvent(Edit.dfsEdit, &In);
  QTest::keyClicks(Edit.dfsEdit, "x");
  QFocusEvent Back(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(Edit.dfsEdit, &Back);
  QTest::keyClick(Edit.dfsEdit, Qt::Key_Escape);
  EXPECT_EQ(Edit.dfsEdit->text(), "TRACK01.WAV");
}

TEST(MainWindow, SettingsComeBackAtTheNextStartAndColoursNeverMatch) {
  WindowRig R;
  R.Install(Programme{});
  {
    TFormAudioRecorderMain& W = R.Open();
    EXPECT_EQ(R.Read("MaxMinSec"), 180);   // created at once
    EXPECT_EQ(R.Read("NoiseGate"), -999);  // the rest only at close
    EXPECT_EQ(W.GetOutputFolder().toStdString(), fs::current_path().string());
    W.NoiseGate->SetPosition(50);
    W.WhideGate->SetPosition(2);
    EXPECT_EQ(W.lblWhideGateStr->text(), " 67 ms");
    W.rbAutoOn->Click();
    EXPECT_FALSE(W.rbAutoOff->Checked());
    // Text and background never become the same colour.
    W.ChooseColor = [](TColor) { return std::optional<TColor>(clLime); };
    W.miColorsClick();
    W.ChooseColor = [](TColor) { return std::optional<TColor>(clRed); };
    W.miColorsClick();
    W.ChooseColor = [](TColor) { return std::optional<TColor>(clRed); };
    W.miTextcolorClick();
    W.ChooseColor = [](TColor) { return std::optional<TColor>(0x123456); };
    W.miTextcolorClick();
    W.ChooseColor = [](TColor) { return std::nullopt; };
    W.miColorsClick();
    W.close();
  }
  EXPECT_EQ(R.Read("NoiseGate"), 50);
  EXPECT_EQ(R.Read("WhideGate"), 2);
  EXPECT_EQ(R.Read("MinSec"), 7);
  EXPECT_EQ(R.Read("AutoSplit"), 1);
  EXPECT_EQ(R.Read("GridBackGroundColor"), clRed);
  EXPECT_EQ(R.Read("GridColor"), 0x123456);
  EXPECT_EQ(R.Read("Input"), 0);
  EXPECT_EQ(ReadRegValue(kSettingsRoot, kSettingsKey, "Path", std::string()),
            fs::current_path().string());

  // A larger maximum comes after the position: 300 is clamped to the old 180.
  R.Write("MaxMinSec", 600);
  R.Write("MinSec", 300);
  R.Window.reset();
  TFormAudioRecorderMain& W = R.Open();
  EXPECT_EQ(W.MinSec->MaxValue(), 600);
  EXPECT_EQ(W.MinSec->Position(), 180);
  EXPECT_EQ(W.NoiseGate->Position(), 50);
  EXPECT_TRUE(W.rbAutoOn->Checked());
  EXPECT_EQ(W.lblMinSecStr->text(), "180 s");
}

TEST(MainWindow, TheFolderDialogCreatesFoldersAndCancelKeepsTheOldOne) {
  WindowRig R;
  R.Install(Programme{});
  TFormAudioRecorderMain& W = R.Open();
  const QString Start = W.GetOutputFolder();
  TFormOutputDestination& Dialog = test::TWindowSeam::Destination(W);
  // Typed, created with its parents, then OK: the new output folder.
  const QString Typed = QString::fromStdString(R.Dir.File("takes/new"));
  QTimer::singleShot(0, [&] {
    Dialog.dfsPath->setText(Typed);
    QTest::mouseClick(Dialog.pbCreateFolder, Qt::LeftButton, {}, QPoint(50, 12));
    QTest::mouseClick(Dialog.pbOK, Qt::LeftButton, {}, QPoint(50, 12));
  });
  W.miDestinationClick();
  EXPECT_TRUE(fs::is_directory(Typed.toStdString()));
  // "~" is the home folder, as in a shell (it made a folder named "~").
  ::setenv("HOME", R.Dir.File("home").c_str(), 1);
  QTimer::singleShot(0, [&] {
    Dialog.dfsPath->setText("~/tapes");
    QTest::mouseClick(Dialog.pbCreateFolder, Qt::LeftButton, {}, QPoint(50, 12));
    QTest::mouseClick(Dialog.pbCancel, Qt::LeftButton, {}, QPoint(50, 12));
  });
  W.miDestinationClick();
  EXPECT_TRUE(fs::is_directory(R.Dir.File("home/tapes")));
  EXPECT_FALSE(fs::exists(fs::current_path() / "~"));
  EXPECT_EQ(W.GetOutputFolder(), Typed);
  EXPECT_EQ(W.lblOutputFolder->text(), Typed);
  // Browsing, then Cancel: the folder stays.
  QTimer::singleShot(0, [&] {
    Dialog.dfsPath->setText(Start);
    QTest::mouseClick(Dialog.pbCancel, Qt::LeftButton, {}, QPoint(50, 12));
  });
  W.miDestinationClick();
  EXPECT_EQ(W.GetOutputFolder(), Typed);
  // A folder that cannot be made: the message, and the dialog stays open.
  // (A file stands where a folder would have to go: even root cannot.)
  test::WriteFileBytes(R.Dir.File("blocker"), {1});
  QString Message;
  QTimer::singleShot(0, [&] {
    Dialog.dfsPath->setText(QString::fromStdString(R.Dir.File("blocker/x")));
    QTimer::singleShot(0, [&] {
      if (auto* Box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        Message = Box->text();
        Box->accept();
      }
      QTimer::singleShot(0, [&] {
        EXPECT_TRUE(Dialog.isVisible());
        QTest::mouseClick(Dialog.pbCancel, Qt::LeftButton, {}, QPoint(50, 12));
      });
    });
    QTest::mouseClick(Dialog.pbCreateFolder, Qt::LeftButton, {}, QPoint(50, 12));
  });
  W.miDestinationClick();
  EXPECT_EQ(Message, "Unable to create the patj \"" +
                         QString::fromStdString(R.Dir.File("blocker/x")) + "\".");
  EXPECT_EQ(W.GetOutputFolder(), Typed);
}

// A folder that cannot be made (a drive unplugged, /proc typed): saved, the
// window starts in its start folder and says so; set, the folder dialog still
// opens and another folder can be chosen (the dialog never opened again).
TEST(MainWindow, AFolderThatCannotBeMadeNeverLocksTheUserOut) {
  WindowRig R;
  R.Install(Programme{});
  WriteRegValue(kSettingsRoot, kSettingsKey, "Path", std::string("/proc/tapes"));
  TFormAudioRecorderMain& W = R.Open();
  EXPECT_EQ(W.GetOutputFolder().toStdString(), fs::current_path().string());
  EXPECT_TRUE(W.StatusText().startsWith("The output folder /proc/tapes cannot be made"))
      << W.StatusText().toStdString();
  W.SetOutputFolder("/proc/tapes");
  const QString Chosen = QString::fromStdString(R.Dir.File("chosen"));
  fs::create_directories(Chosen.toStdString());
  bool Box = false;
  QTimer::singleShot(0, [&] {
    if (dynamic_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Box = true;
      QApplication::activeModalWidget()->close();
      return;
    }
    TFormOutputDestination& Dialog = test::TWindowSeam::Destination(W);
    Dialog.dfsPath->setText(Chosen);
    QTest::mouseClick(Dialog.pbOK, Qt::LeftButton, {}, QPoint(50, 12));
  });
  W.miDestinationClick();
  EXPECT_FALSE(Box);
  EXPECT_EQ(W.GetOutputFolder(), Chosen);
}

TEST(MainWindow, HandsTheTracksToTheEncoderProgramAndWaitsForIt) {
  WindowRig R;
  R.Install(Programme{{{1000, true}}});
  TFormAudioRecorderMain& W = R.Open();
  W.sbRecordClick();
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 200; }));
  W.sbRecordClick();
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 200; }));
  W.sbStopClick();
  // The encoder program: a stand-in that notes its start and takes 600 ms.
  const fs::path Program(RECORD_START_PROGRAM);
  WriteRegValue(kEncoderRoot, kEncoderKey, "Path", Program.parent_path().string());
  WriteRegValue(kEncoderRoot, kEncoderKey, "Filename", Program.filename().string());
  ::setenv("WAIT_MS", "600", 1);
  bool Ticked = false, EnabledMeanwhile = true;
  QTimer::singleShot(200, [&] {
    Ticked = true;  // the loop runs: the window is painted meanwhile
    EnabledMeanwhile = W.isEnabled();
  });
  const auto Started = [&] {
    const Bytes Text = test::ReadFileBytes(R.Dir.File("started.txt"));
    return std::string(Text.begin(), Text.end());
  };
  W.miMP3EncoderClick();
  EXPECT_TRUE(Ticked);
  EXPECT_FALSE(EnabledMeanwhile);
  EXPECT_TRUE(W.isEnabled());
  EXPECT_EQ(Started(), "started with 0 arguments\n");
  const std::string Folder = W.GetOutputFolder().toStdString();
  EXPECT_EQ(ReadRegValue(kEncoderRoot, kEncoderKey, "FileList", ""),
            Folder + "/Track01.wav\r\n" + Folder + "/Track02.wav\r\n");
  EXPECT_TRUE(W.StatusText().isEmpty());
  // The FLAC item hands the same tracks over, asking for FLAC.
  ::setenv("WAIT_MS", "0", 1);
  W.miFlacEncoderClick();
  EXPECT_EQ(Started(), "started with 1 arguments --flac\n");
  // A program that is not there is said in the window's line.
  WriteRegValue(kEncoderRoot, kEncoderKey, "Filename", "no-such-encoder");
  W.miMP3EncoderClick();
  EXPECT_TRUE(W.StatusText().contains("could not be started")) << W.StatusText().toStdString();
  // A command line longer than 511 characters is refused with the box.
  WriteRegValue(kEncoderRoot, kEncoderKey, "Path", std::string(600, 'x'));
  QString Box;
  QTimer::singleShot(0, [&] {
    if (auto* Message = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Box = Message->text();
      Message->accept();
    }
  });
  W.miMP3EncoderClick();
  EXPECT_EQ(Box, "Can not save the file list to the registry!");
}

TEST(MainWindow, MendsTracksACrashLeftInItsFolderAndSaysSo) {
  WindowRig R;
  R.Install(Programme{});
  // A track whose header still says 0 bytes, as a crash leaves it.
  Bytes Track(44 + 4000, 0x11);
  const char Header[] =
      "RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0data";
  std::memcpy(Track.data(), Header, 40);
  std::memset(Track.data() + 40, 0, 4);
  test::WriteFileBytes(R.Dir.File("Track01.wav"), Track);
  TFormAudioRecorderMain& W = R.Open();
  EXPECT_EQ(W.StatusText(), "Mended tracks left by a crash: Track01.wav");
  EXPECT_EQ(WavData(R.Dir.File("Track01.wav")).size(), 4000u);
}

// Recording the built-in demo signal is never silent about it: at the start,
// while recording, and in the caption; another input clears the line.
TEST(MainWindow, SaysWhenTheInputIsTheDemoSignal) {
  WindowRig R;
  R.Devices->AddCapture({.Name = "Demo signal", .Generator = DemoSignal()});
  R.Devices->AddCapture({.Name = "Line in"});
  SetWaveBackends({R.Devices});
  TFormAudioRecorderMain& W = R.Open();
  EXPECT_EQ(W.StatusText(), "The input is the built-in demo signal (chosen in Options > Devices)");
  W.SetDemoReason("the default input default could not be opened");
  const QString Said =
      "The input is the built-in demo signal: the default input default could not be opened";
  EXPECT_EQ(W.StatusText(), Said);
  EXPECT_EQ(test::TWindowSeam::Styler(W).CaptionText().Caption(), "Velmar Audio Recorder (demo input) ");
  W.sbRecordClick();
  ASSERT_TRUE(test::TWindowSeam::Recorder(W).State() & wisStarted);
  EXPECT_EQ(W.StatusText(), Said);
  Photograph(W, "line-demo-input");
  W.sbStopClick();
  // Another input chosen in the devices dialog: the line and the mark go.
  QTimer::singleShot(0, [] {
    auto* Dialog = dynamic_cast<TFormDevices*>(QApplication::activeModalWidget());
    ASSERT_NE(Dialog, nullptr);
    Dialog->cbRecDevices->setCurrentIndex(2);
    Dialog->accept();
  });
  W.miInputDeviceClick();
  EXPECT_FALSE(W.StatusText().contains("demo signal")) << W.StatusText().toStdString();
  EXPECT_EQ(test::TWindowSeam::Styler(W).CaptionText().Caption(), "Velmar Audio Recorder ");
}

TEST(MainWindow, ClosingWhileTheMonitoringInputRunsFlatOutLosesNothingItFeeds) {
  // The monitoring input delivers on its own thread from the window's start;
  // closing the window must stop and join it before the connector and the
  // meters it feeds go. A free-running input delivers without pause, so a
  // buffer is always on its way while the window is torn down.
  WindowRig R;
  std::atomic<std::uint64_t> Captured{0};
  R.Devices->AddCapture({.Name = "Flat out",
                         .Generator =
                             [&Captured](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t,
                                         const WAVEFORMATEX&) {
                               for (std::uint32_t i = 0; i < Count; ++i)
                                 Dest[i] = static_cast<std::uint8_t>(i * 37);
                               Captured += Count;
                             },
                         .RealTime = false});
  SetWaveBackends({R.Devices});
  for (int Round = 0; Round < 10; ++Round) {
    // Each delivery lingers in the connector, as one preempted on a busy
    // machine does, so that the close meets one midway.
    test::TWindowSeam::Meters(R.Open()).OnBufferReady = [](TObject*, PWaveHdr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    const std::uint64_t Before = Captured;
    ASSERT_TRUE(test::WaitUntil([&] { return Captured > Before + 64 * 1024; })) << Round;
    R.Window.reset();  // the sanitizers see any buffer delivered into what is gone
    R.Skin.reset();
  }
}

// After a restart the list is empty: WAV files dropped on it join it (a
// file of another folder by its path), one taken off the list stays on disk,
// and the conversions take what the list holds.
TEST(MainWindow, TracksDroppedOnTheListJoinItAndOneTakenOffStaysOnDisk) {
  WindowRig R;
  R.Install(Programme{{{1, true}}});
  TFormAudioRecorderMain& W = R.Open();
  const std::string Other = R.Dir.File("other side");
  fs::create_directories(Other);
  QList<QUrl> Urls;
  for (int i = 1; i <= 3; ++i) {
    const std::string Track = Other + "/0" + std::to_string(i) + " Song.wav";
    int Status = -1;
    test::RunCommand("sox -n -r 44100 -b 16 -c 2 '" + Track + "' synth " + std::to_string(i) +
                         " sine 440 vol 0.3",
                     &Status);
    ASSERT_EQ(Status, 0);
    Urls.push_back(QUrl::fromLocalFile(QString::fromStdString(Track)));
  }
  test::WriteFileBytes(Other + "/notes.txt", {'x'});
  Urls.push_back(QUrl::fromLocalFile(QString::fromStdString(Other + "/notes.txt")));
  QMimeData Files;
  Files.setUrls(Urls);
  QDragEnterEvent Enter(QPoint(10, 10), Qt::CopyAction, &Files, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(W.Grid->viewport(), &Enter);
  EXPECT_TRUE(Enter.isAccepted());
  QDropEvent Drop(QPointF(10, 10), Qt::CopyAction, &Files, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(W.Grid->viewport(), &Drop);
  ASSERT_EQ(R.Rows(), 4);  // the heading and three tracks; the text file is said, not listed
  EXPECT_TRUE(W.StatusText().contains("notes.txt is not a WAV file"))
      << W.StatusText().toStdString();
  EXPECT_EQ(R.Name(2).toStdString(), Other + "/02 Song.wav");
  Photograph(W, "list-dropped-tracks");
  EXPECT_EQ(W.Grid->item(3, 2)->text(), "0:03.000");
  W.Grid->setCurrentCell(2, 1);
  W.miRemoveFromListClick();
  ASSERT_EQ(R.Rows(), 3);
  EXPECT_EQ(R.Name(2).toStdString(), Other + "/03 Song.wav");
  EXPECT_EQ(W.Grid->item(2, 0)->text(), "02");
  EXPECT_TRUE(fs::exists(Other + "/02 Song.wav"));
}

TEST(MainWindow, DevicesDialogNumbersTheMapperFirst) {
  WindowRig R;
  R.Devices->AddCapture({.Name = "First"});
  R.Devices->AddCapture({.Name = "Second"});
  SetWaveBackends({R.Devices});
  TFormAudioGraphics Skin;
  TFormDevices Dialog(Skin);
  TMMWaveIn In;
  TMMWaveOut Out;
  In.SetDeviceID(0);
  Dialog.Fill(In, Out);
  ASSERT_EQ(Dialog.cbRecDevices->count(), 3);
  EXPECT_EQ(Dialog.cbRecDevices->itemText(0), "Default (First)");  // not "First" twice
  EXPECT_EQ(Dialog.cbRecDevices->itemText(1), "First");
  EXPECT_EQ(Dialog.cbRecDevices->itemText(2), "Second");
  EXPECT_EQ(Dialog.cbRecDevices->currentIndex(), 1);
  EXPECT_EQ(Dialog.cbOutDevices->count(), 0);  // no output device: an empty list
  Dialog.cbRecDevices->setCurrentIndex(0);
  Dialog.Apply(In, Out);
  EXPECT_EQ(In.DeviceID(), -1);
  EXPECT_EQ(Out.DeviceID(), -2);
}

}  // namespace
}  // namespace velmar
