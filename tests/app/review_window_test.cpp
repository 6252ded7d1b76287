// The review window driven as a user drives it, on a side just recorded in
// the main window (offscreen, virtual devices): Cancel changes nothing; marks
// dragged with and without Shift, deleted, added, undone, split into N at the
// quiet gaps; titles typed and pasted; the 3 s around a mark played; Apply
// writes tracks that join back to the side and the grid shows them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QWheelEvent>
#include <fstream>

#include "app/form_review.h"
#include "app/listing_dialog.h"
#include "mp3/encoder_registry.h"
#include "platform/registry/settings_store.h"
#include "session/side_edit.h"
#include "session/track_files.h"
#include "stream/time_conversions.h"
#include "tests/app/window_rig.h"
#include "tests/support/fluid_music.h"
#include "tests/support/hissy_side.h"
#include "tests/support/interrupted_rewrite.h"
#include "tests/support/musicbrainz_service.h"
#include "tests/support/peer.h"
#include "tests/support/riff_builder.h"
#include "tests/support/wait_until.h"
#include "tests/support/wav_data.h"
#include "wavefile/cue_markers.h"
#include "wavefile/wave_scan.h"

namespace velmar {
namespace {

using test::WaitUntil;
using test::WavData;

Bytes FileBytes(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(In), {});
}

std::int16_t SampleOf(const Bytes& Side, std::int64_t Frame, int Channel) {
  const auto At = static_cast<std::size_t>(4 * Frame + 2 * Channel);
  return static_cast<std::int16_t>(Side[At] | Side[At + 1] << 8);
}

// Ctrl+R in the main window, as a user gives it, and the review read.
TFormReview& OpenReview(WindowRig& R) {
  R.Window->activateWindow();
  EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == R.Window.get(); }));
  QTest::keyClick(R.Window.get(), Qt::Key_R, Qt::ControlModifier);
  EXPECT_TRUE(test::TWindowSeam::Review(*R.Window));
  TFormReview& V = *test::TWindowSeam::Review(*R.Window);
  EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &V; }));
  EXPECT_TRUE(WaitUntil([&] { return V.Ready() && !V.Busy(); })) << "the side was not read";
  return V;
}

TEST(ReviewWindow, ASideJustRecordedIsReviewedEditedAndApplied) {
  WindowRig R;
  const Programme P{{{0.5, false},
                     {1.5, true},
                     {0.8, false},
                     {1.3, true},
                     {0.8, false},
                     {2.0, true},
                     {1.0, false}}};
  R.Write("MinSec", 1);
  R.Write("AutoSplit", 1);
  R.Install(P);
  TFormAudioRecorderMain& W = R.Open();
  QTest::keyClick(&W, Qt::Key_F12);
  ASSERT_TRUE(WaitUntil([&] { return R.Rows() == 4; }, std::chrono::seconds(30)));
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 2600; }));
  QTest::keyClick(&W, Qt::Key_F10);
  Bytes Side;
  std::vector<Bytes> Files;
  for (int n = 1; n <= 3; ++n) {
    const Bytes a = WavData(R.Track(n));
    Side.insert(Side.end(), a.begin(), a.end());
    Files.push_back(FileBytes(R.Track(n)));
  }
  const auto Frames = static_cast<std::int64_t>(Side.size() / 4);

  // An edit, then Cancel: the files as they were.
  {
    TFormReview& V = OpenReview(R);
    EXPECT_TRUE(V.windowTitle().contains("Review"));
    ASSERT_EQ(V.Edit().Tracks(), 3u);
    EXPECT_EQ(V.Edit().Frames(), Frames);
    EXPECT_TRUE(V.isModal());  // the grid stays as the side is meanwhile
    QTest::keyClick(&V, Qt::Key_Delete);
    EXPECT_EQ(V.Edit().Tracks(), 2u);
    // The edit is not dropped without a word: going on keeps it, Discard drops it.
    V.btCancel->click();
    ASSERT_TRUE(WaitUntil([&] { return V.Question() && V.Question()->isVisible(); }));
    V.Question()->button(QMessageBox::Cancel)->click();
    ASSERT_TRUE(WaitUntil([&] { return !V.Question(); }));
    EXPECT_TRUE(V.isVisible());
    EXPECT_EQ(V.Edit().Tracks(), 2u);
    QTest::keyClick(&V, Qt::Key_Escape);
    ASSERT_TRUE(WaitUntil([&] { return V.Question() && V.Question()->isVisible(); }));
    V.Question()->button(QMessageBox::Discard)->click();
  }
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }));
  for (int n = 1; n <= 3; ++n) EXPECT_TRUE(FileBytes(R.Track(n)) == Files[n - 1]) << n;
  EXPECT_EQ(R.Rows(), 4);

  TFormReview& V = OpenReview(R);  // the second opening reads the peaks' cache
  Photograph(V, "review-side");
  const std::vector<std::int64_t> Recorded = V.Edit().Marks();
  ASSERT_EQ(Recorded.size(), 2u);

  // Deepest zoom: a drag with Shift puts the mark on the frame under the
  // pointer, 8 pixels a frame.
  V.SelectMark(0);
  V.Zoom(30);
  const int x0 = static_cast<int>(std::lround(V.Zoomed->XOf(Recorded[0])));
  QTest::mousePress(V.Zoomed, Qt::LeftButton, Qt::ShiftModifier, QPoint(x0, 100));
  QTest::mouseMove(V.Zoomed, QPoint(x0 + 40, 100));
  QTest::mouseRelease(V.Zoomed, Qt::LeftButton, Qt::ShiftModifier, QPoint(x0 + 40, 100));
  EXPECT_EQ(V.Edit().Marks()[0], Recorded[0] + 5);
  Photograph(V, "review-zoomed");
  // Further out, without Shift: it snaps to the quietest point within 50 ms of
  // where it was dropped, as the side's own samples tell.
  V.Zoom(-9);
  const int x1 = static_cast<int>(std::lround(V.Zoomed->XOf(V.Edit().Marks()[0])));
  QTest::mousePress(V.Zoomed, Qt::LeftButton, Qt::NoModifier, QPoint(x1, 100));
  QTest::mouseMove(V.Zoomed, QPoint(x1 + 60, 100));
  const std::int64_t Dropped = V.Zoomed->FrameAt(x1 + 60);
  QTest::mouseRelease(V.Zoomed, Qt::LeftButton, Qt::NoModifier, QPoint(x1 + 60, 100));
  std::vector<std::int16_t> Around(2 * 4411);
  for (std::int64_t f = 0; f < 4411; ++f)
    for (int c = 0; c < 2; ++c)
      Around[static_cast<std::size_t>(2 * f + c)] = SampleOf(Side, Dropped - 2205 + f, c);
  EXPECT_EQ(V.Edit().Marks()[0],
            Dropped - 2205 + static_cast<std::int64_t>(QuietestFrame(Around.data(), 4411, 2205)));
  EXPECT_NE(V.Edit().Marks()[0], Recorded[0] + 5);

  // Delete joins, undo and redo with their keys; a mark added at the cursor.
  QTest::keyClick(&V, Qt::Key_Delete);
  EXPECT_EQ(V.Edit().Tracks(), 2u);
  QTest::keyClick(&V, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(V.Edit().Tracks(), 3u);
  QTest::keyClick(&V, Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(V.Edit().Tracks(), 2u);
  const int x2 = static_cast<int>(V.Overview->XOf(Frames * 9 / 10));
  QTest::mouseClick(V.Overview, Qt::LeftButton, Qt::NoModifier, QPoint(x2, 60));
  const std::int64_t Cursor = V.Overview->FrameAt(x2);
  QTest::keyClick(&V, Qt::Key_Insert);
  ASSERT_EQ(V.Edit().Tracks(), 3u);
  EXPECT_EQ(V.Edit().Marks().back(), Cursor);

  // Split into 2, then 3: the cuts lie in the quiet gaps.
  for (const int n : {2, 3}) {
    V.SplitCount->setValue(n);
    V.btSplit->click();
    ASSERT_TRUE(WaitUntil([&] { return !V.Busy(); }));
    ASSERT_EQ(V.Edit().Tracks(), static_cast<std::size_t>(n)) << V.StatusText().toStdString();
    for (const std::int64_t m : V.Edit().Marks())
      for (std::int64_t f = m - 4410; f < m + 4410; ++f)
        ASSERT_LE(std::abs(SampleOf(Side, f, 0)), 64) << "a cut at " << m << " is not in the quiet";
  }
  // More tracks than the side has gaps: nothing changes, and it says so.
  const std::vector<std::int64_t> Three = V.Edit().Marks();
  V.SplitCount->setValue(5);
  V.btSplit->click();
  EXPECT_EQ(V.Edit().Marks(), Three);
  EXPECT_TRUE(V.StatusText().startsWith("5 tracks need 4 quiet gaps of the side; it has 2"))
      << V.StatusText().toStdString();

  // A title typed into the list, two pasted as lines.
  V.List->setCurrentCell(0, 3);
  V.List->editItem(V.List->item(0, 3));
  auto* Editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_TRUE(Editor);
  QTest::keyClicks(Editor, "First");
  QTest::keyClick(Editor, Qt::Key_Return);
  V.List->setCurrentCell(1, 3);
  QApplication::clipboard()->setText("Second\nAC/DC\n\n");
  QTest::keyClick(V.List, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(V.Edit().Titles(), (std::vector<std::string>{"First", "Second", "AC/DC"}));

  // The 3 s around the second mark reach the output as the side holds them.
  {
    const std::lock_guard<std::mutex> Hold(R.PlayedLock);
    R.PlayedData.clear();
  }
  V.SelectMark(1);
  const std::int64_t Mark = V.Edit().Marks()[1];
  QTest::keyClick(&V, Qt::Key_P);
  ASSERT_TRUE(V.btStop->isEnabled()) << V.StatusText().toStdString();
  ASSERT_TRUE(WaitUntil([&] { return !V.btStop->isEnabled(); }));
  {
    const std::lock_guard<std::mutex> Hold(R.PlayedLock);
    const auto First = Side.begin() + 4 * (Mark - 66150);
    ASSERT_GE(R.PlayedData.size(), 4u * 132300);
    EXPECT_TRUE(std::equal(First, First + 4 * 132300, R.PlayedData.begin()));
  }

  // From the cursor, a second before the last mark, to the side's end.
  {
    const std::lock_guard<std::mutex> Hold(R.PlayedLock);
    R.PlayedData.clear();
  }
  const std::int64_t From = V.Edit().Marks().back() - 44100;
  V.SetCursor(From);
  QTest::keyClick(&V, Qt::Key_Space);
  ASSERT_TRUE(V.btStop->isEnabled()) << V.StatusText().toStdString();
  ASSERT_TRUE(WaitUntil([&] { return !V.btStop->isEnabled(); }));
  {
    const std::lock_guard<std::mutex> Hold(R.PlayedLock);
    const auto Tail = static_cast<std::size_t>(Side.size() - 4 * From);
    ASSERT_GE(R.PlayedData.size(), Tail);
    EXPECT_TRUE(std::equal(Side.begin() + 4 * From, Side.end(), R.PlayedData.begin()));
  }

  // Apply: the new tracks by their titles, the old ones gone, the grid shows
  // them, and joined they are the side.
  V.btApply->click();
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }));
  ASSERT_EQ(R.Rows(), 4);
  const std::vector<std::string> Names = {"01 First.wav", "02 Second.wav", "03 AC_DC.wav"};
  Bytes Joined;
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(R.Name(n).toStdString(), Names[static_cast<std::size_t>(n - 1)]);
    const std::string Path = W.GetOutputFolder().toStdString() + "/" + R.Name(n).toStdString();
    const Bytes a = WavData(Path);
    Joined.insert(Joined.end(), a.begin(), a.end());
    // As a recorded row shows its file's length.
    TWaveScan Scan;
    std::string Error;
    ASSERT_TRUE(ScanWaveFile(Path, Scan, Error));
    EXPECT_EQ(W.Grid->item(n, 2)->text().toStdString(),
              TimeToText(SamplesToTime64(Scan.Format(), static_cast<std::int64_t>(a.size() / 4))));
    EXPECT_FALSE(fs::exists(R.Track(n)));
  }
  EXPECT_TRUE(Joined == Side);
  EXPECT_EQ(TrackTitle(W.GetOutputFolder().toStdString() + "/03 AC_DC.wav"), "AC/DC");
}

// The album's ID3v2 frames of an MP3 or WAV file as mutagen reads them (the
// system's Python, which has it), the cover as its MD5.
std::string AlbumFrames(const std::string& File) {
  return test::Peer(
      "/usr/bin/python3 -c \"import sys, hashlib, mutagen\n"
      "t = mutagen.File(sys.argv[1]).tags\n"
      "for k in ('TIT2', 'TPE1', 'TALB', 'TPE2', 'TDRC', 'TCON', 'TRCK', 'TPOS'):\n"
      "  print(k + '=' + str(t[k].text[0]))\n"
      "print('APIC=' + hashlib.md5(t.getall('APIC')[0].data).hexdigest())\" '" +
      File + "'");
}

// The album's fields and a cover set in the review, applied with the titles,
// reach the FLAC and MP3 files the window's conversions make (the real
// encoder program), as metaflac, mutagen and ffprobe read them.
TEST(ReviewWindow, TheAlbumsFieldsAndCoverAreAppliedAndTheWindowsConversionsCarryThem) {
  WindowRig R;
  R.Write("MinSec", 1);
  R.Write("AutoSplit", 1);
  R.Install(Programme{{{0.5, false}, {1.5, true}, {0.8, false}, {1.5, true}, {1.0, false}}});
  TFormAudioRecorderMain& W = R.Open();
  QTest::keyClick(&W, Qt::Key_F12);
  ASSERT_TRUE(WaitUntil([&] { return R.Rows() == 3; }, std::chrono::seconds(30)));
  ASSERT_TRUE(WaitUntil([&] { return test::TWindowSeam::Recorder(W).Position() > 1500; }));
  QTest::keyClick(&W, Qt::Key_F10);
  const std::string Cover = R.Dir.File("cover.png");
  test::Peer("ffmpeg -loglevel error -f lavfi -i testsrc=size=120x90 -frames:v 1 '" + Cover + "'");
  const std::string CoverMd5 = test::Peer("md5sum '" + Cover + "'").substr(0, 32);

  TFormReview& V = OpenReview(R);
  ASSERT_EQ(V.Edit().Tracks(), 2u);
  EXPECT_FALSE(V.btApply->isEnabled());
  // Typed as a user types them; the cover as the file dialog or a drop gives it.
  const std::pair<QLineEdit*, const char*> Typed[] = {
      {V.AlbumFields->Artist, "Kärt Ööbik"},   {V.AlbumFields->AlbumName, "Tape № 3 雪"},
      {V.AlbumFields->AlbumArtist, "Various"}, {V.AlbumFields->Date, "1971"},
      {V.AlbumFields->Genre, "Folk"},          {V.AlbumFields->Disc, "2/2"}};
  for (const auto& [Edit, Text] : Typed) {
    Edit->setFocus();
    // Key events carrying the characters, as an input method sends them.
    for (const QChar c : QString::fromUtf8(Text)) {
      QKeyEvent Press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(Edit, &Press);
    }
  }
  EXPECT_EQ(V.AlbumFields->AlbumName->text(), QString::fromUtf8("Tape № 3 雪"));
  EXPECT_TRUE(V.btApply->isEnabled());
  QString Refused;
  EXPECT_FALSE(
      V.AlbumFields->SetCoverFile(QString::fromStdString(R.Dir.File("none.png")), Refused));
  ASSERT_TRUE(V.AlbumFields->SetCoverFile(QString::fromStdString(Cover), Refused))
      << Refused.toStdString();
  EXPECT_FALSE(V.AlbumFields->Thumbnail->pixmap().isNull());
  V.AlbumFields->Numbers->setChecked(true);
  V.List->setFocus();
  V.List->setCurrentCell(0, 3);
  QApplication::clipboard()->setText("Spring Song\nWinter: Night\n");
  QTest::keyClick(V.List, Qt::Key_V, Qt::ControlModifier);
  Photograph(V, "review-album");
  V.btApply->click();
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }));
  ASSERT_EQ(R.Rows(), 3);
  const std::string Folder = W.GetOutputFolder().toStdString();
  EXPECT_EQ(R.Name(2).toStdString(), "02 Winter_ Night.wav");

  // The window's FLAC and MP3 conversions, by the real encoder program.
  const fs::path Encoder(VELMAR_MP3);
  WriteRegValue(kEncoderRoot, kEncoderKey, "Path", Encoder.parent_path().string());
  WriteRegValue(kEncoderRoot, kEncoderKey, "Filename", Encoder.filename().string());
  W.miFlacEncoderClick();
  W.miMP3EncoderClick();
  const std::string Flac = Folder + "/02 Winter_ Night.flac",
                    Mp3 = Folder + "/02 Winter_ Night.mp3";
  ASSERT_TRUE(fs::exists(Flac) && fs::exists(Mp3)) << W.StatusText().toStdString();
  const std::string Vorbis = test::Peer("metaflac --export-tags-to=- '" + Flac + "'");
  for (const char* Line :
       {"TITLE=Winter: Night", "ARTIST=Kärt Ööbik", "ALBUM=Tape № 3 雪", "ALBUMARTIST=Various",
        "DATE=1971", "GENRE=Folk", "TRACKNUMBER=2", "TRACKTOTAL=2", "DISCNUMBER=2", "DISCTOTAL=2",
        "REPLAYGAIN_TRACK_GAIN=", "REPLAYGAIN_ALBUM_GAIN="})
    EXPECT_NE(Vorbis.find(Line), std::string::npos) << Line << " in\n" << Vorbis;
  test::Peer("metaflac --export-picture-to='" + R.Dir.File("picture") + "' '" + Flac + "'");
  EXPECT_EQ(test::Peer("md5sum '" + R.Dir.File("picture") + "'").substr(0, 32), CoverMd5);
  const std::string Frames = AlbumFrames(Mp3);
  EXPECT_EQ(Frames,
            "TIT2=Winter: Night\nTPE1=Kärt Ööbik\nTALB=Tape № 3 雪\nTPE2=Various\nTDRC=1971\n"
            "TCON=Folk\nTRCK=2/2\nTPOS=2/2\nAPIC=" +
                CoverMd5 + "\n");
  const std::string Probed = test::Peer("ffprobe -v error -show_format '" + Mp3 + "'");
  // What the peers read, for the log.
  std::printf("metaflac:\n%s\nmutagen (MP3):\n%s\nffprobe (MP3):\n%s\nffprobe (FLAC):\n%s\n",
              Vorbis.c_str(), Frames.c_str(), Probed.c_str(),
              test::Peer("ffprobe -v error -show_format '" + Flac + "'").c_str());
  for (const char* Line : {"TAG:album_artist=Various", "TAG:track=2/2", "TAG:disc=2/2"})
    EXPECT_NE(Probed.find(Line), std::string::npos) << Line << " in\n" << Probed;

  // Reviewed again: the panel shows the fields; the two tracks joined into
  // one (the audio written anew) keep them all.
  TFormReview& Again = OpenReview(R);
  EXPECT_EQ(Again.AlbumFields->AlbumName->text(), QString::fromUtf8("Tape № 3 雪"));
  EXPECT_EQ(Again.AlbumFields->Cover().Data, test::ReadFileBytes(Cover));
  EXPECT_TRUE(Again.AlbumFields->Numbers->isChecked());
  Again.SelectMark(0);
  QTest::keyClick(&Again, Qt::Key_Delete);
  ASSERT_EQ(Again.Edit().Tracks(), 1u);
  Again.btApply->click();
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }));
  const std::string Joined = AlbumFrames(Folder + "/01 Spring Song.wav");
  EXPECT_EQ(Joined,
            "TIT2=Spring Song\nTPE1=Kärt Ööbik\nTALB=Tape № 3 雪\nTPE2=Various\nTDRC=1971\n"
            "TCON=Folk\nTRCK=1/1\nTPOS=2/2\nAPIC=" +
                CoverMd5 + "\n");
}

// A record's clicks in the review: found and shown where they are, the 3 s
// around one played repaired and as recorded (what reaches the output), one
// repair dropped; Apply writes the side with the others repaired, every
// other sample as it was, and keeps the recorded track in Originals.
TEST(ReviewWindow, ClicksAreFoundPlayedBothWaysDroppedAndRepairedOnApply) {
  WindowRig R;
  R.Install(Programme{});
  TFormAudioRecorderMain& W = R.Open();
  // Two tones over 8 s, and clicks at known frames: a sharp edge with a ring.
  const std::int64_t Frames = 8 * 44100;
  std::vector<std::int16_t> Clean(static_cast<std::size_t>(2 * Frames));
  for (std::int64_t f = 0; f < Frames; ++f)
    for (int c = 0; c < 2; ++c)
      Clean[static_cast<std::size_t>(2 * f + c)] = static_cast<std::int16_t>(std::lround(
          6000 * std::sin(2 * M_PI * (c ? 330.0 : 220.0) * static_cast<double>(f) / 44100) +
          3000 * std::sin(2 * M_PI * 523.3 * static_cast<double>(f) / 44100)));
  const std::vector<std::pair<std::int64_t, int>> At = {{100000, 0}, {200000, 1}, {300000, 0}};
  std::vector<std::int16_t> Damaged = Clean;
  for (const auto& [Frame, Channel] : At)
    for (int i = 0; i < 8; ++i)
      Damaged[static_cast<std::size_t>(2 * (Frame + i) + Channel)] += static_cast<std::int16_t>(
          std::lround(12000 * std::exp(-i / 2.0) * std::cos(M_PI * i * 0.6)));
  const std::string Track = R.Dir.File("side.wav");
  Bytes Data(reinterpret_cast<const std::uint8_t*>(Damaged.data()),
             reinterpret_cast<const std::uint8_t*>(Damaged.data() + Damaged.size()));
  test::WriteFileBytes(Track, test::Riff({test::PcmFmt(2, 44100, 16), test::Chunk("data", Data)}));
  W.ChooseTracks = [&] { return std::vector<std::string>{Track}; };
  TFormReview& V = OpenReview(R);
  EXPECT_FALSE(V.btPlayClick->isEnabled());
  QTest::keyClick(&V, Qt::Key_K);
  ASSERT_TRUE(WaitUntil([&] { return V.Clicks().Found() && !V.Busy(); }));
  ASSERT_EQ(V.Clicks().Clicks().size(), At.size()) << V.StatusText().toStdString();
  for (std::size_t i = 0; i < At.size(); ++i) {
    const TClick& c = V.Clicks().Clicks()[i];
    EXPECT_NEAR(static_cast<double>(c.Frame), static_cast<double>(At[i].first), 2) << i;
    EXPECT_EQ(c.Channel, At[i].second) << i;
  }
  EXPECT_TRUE(V.btApply->isEnabled());  // the repairs are an edit
  Photograph(V, "review-clicks");
  QTest::keyClick(&V, Qt::Key_C);
  ASSERT_EQ(V.SelectedClick(), 0);
  EXPECT_TRUE(V.StatusText().startsWith("Click 1 of 3")) << V.StatusText().toStdString();
  Photograph(V, "review-click-zoomed");

  // What the output is given: the 3 s around the click, first as recorded
  // (A switched), then repaired (A again).
  const auto Played = [&](const char* Key) {
    {
      const std::lock_guard<std::mutex> Hold(R.PlayedLock);
      R.PlayedData.clear();
    }
    QTest::keyClick(&V, Key[0] == 'A' ? Qt::Key_A : Qt::Key_B);
    if (Key[0] == 'A') QTest::keyClick(&V, Qt::Key_B);
    EXPECT_TRUE(WaitUntil([&] { return !V.btStop->isEnabled(); }));
    const std::lock_guard<std::mutex> Hold(R.PlayedLock);
    return R.PlayedData;
  };
  const std::int64_t From = V.Clicks().Clicks()[0].Frame - 66150;  // the click as found
  const auto Sample = [&](const Bytes& b, std::int64_t Frame, int Channel) {
    const auto i = static_cast<std::size_t>(4 * (Frame - From) + 2 * Channel);
    return static_cast<std::int16_t>(b[i] | b[i + 1] << 8);
  };
  const Bytes AsRecorded = Played("A");
  ASSERT_GE(AsRecorded.size(), 4u * 132300);
  EXPECT_FALSE(V.HearingRepaired());
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(Sample(AsRecorded, At[0].first + i, 0),
              Damaged[static_cast<std::size_t>(2 * (At[0].first + i))]);
  const Bytes Repaired = Played("A");  // switched back: repaired
  ASSERT_GE(Repaired.size(), 4u * 132300);
  EXPECT_TRUE(V.HearingRepaired());
  for (int i = 0; i < 8; ++i)
    EXPECT_NEAR(Sample(Repaired, At[0].first + i, 0),
                Clean[static_cast<std::size_t>(2 * (At[0].first + i))], 40)
        << i;

  // The third click's repair dropped (and taken back, and dropped again).
  QTest::keyClick(&V, Qt::Key_C);
  QTest::keyClick(&V, Qt::Key_C);
  ASSERT_EQ(V.SelectedClick(), 2);
  for (int Times = 0; Times < 3; ++Times) QTest::keyClick(&V, Qt::Key_D);
  EXPECT_TRUE(V.Clicks().Dropped(2));
  EXPECT_EQ(V.btDropClick->text(), "Repair Again");
  V.btApply->click();
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }));
  // The recorded track kept as it was; the new one repaired but for the dropped click.
  EXPECT_EQ(WavData(R.Dir.File("Originals/side.wav")), Data);
  const std::string Written = R.Dir.File("Track01.wav");
  const Bytes New = WavData(fs::exists(Written) ? Written : Track);
  ASSERT_EQ(New.size(), Data.size());
  const auto* n = reinterpret_cast<const std::int16_t*>(New.data());
  for (std::int64_t f = 0; f < Frames; ++f)
    for (int c = 0; c < 2; ++c) {
      const auto i = static_cast<std::size_t>(2 * f + c);
      const bool Repairable = std::any_of(At.begin(), At.begin() + 2, [&](const auto& a) {
        return c == a.second && f >= a.first - 4 && f < a.first + 24;
      });
      if (Repairable)
        ASSERT_NEAR(n[i], Clean[i], 40) << f;
      else
        ASSERT_EQ(n[i], Damaged[i]) << f;
    }
}

// A title whose file name another file already has: Apply says so and
// changes nothing, and the window stays open for another title.
TEST(ReviewWindow, ANameTakenByAnotherFileStopsApplyAndChangesNothing) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  fs::create_directories(R.Dir.File("side"));
  std::vector<std::string> Tracks, Names = {"Track01.wav", "Track02.wav", "01 Mine.wav"};
  std::vector<Bytes> Before;
  for (const std::string& Name : Names) {
    Bytes Data(4 * 30000);
    for (std::size_t i = 0; i < Data.size(); ++i)
      Data[i] = static_cast<std::uint8_t>(i * 7 + Name[5]);
    const std::string Path = R.Dir.File("side/" + Name);
    test::WriteFileBytes(Path, test::Riff({test::PcmFmt(2, 44100, 16), test::Chunk("data", Data)}));
    Before.push_back(FileBytes(Path));
    Tracks.push_back(Path);
  }
  Tracks.pop_back();  // the side is the two tracks; "01 Mine.wav" is another file
  W.ChooseTracks = [&] { return Tracks; };
  TFormReview& V = OpenReview(R);
  ASSERT_EQ(V.Edit().Tracks(), 2u);
  V.List->setFocus();
  V.List->setCurrentCell(0, 3);
  QApplication::clipboard()->setText("Mine");
  QTest::keyClick(V.List, Qt::Key_V, Qt::ControlModifier);
  ASSERT_TRUE(V.btApply->isEnabled());
  V.btApply->click();
  ASSERT_TRUE(WaitUntil([&] { return !V.Busy(); }));
  EXPECT_NE(V.StatusText().toStdString().find("01 Mine.wav exists"), std::string::npos)
      << V.StatusText().toStdString();
  EXPECT_TRUE(test::TWindowSeam::Review(W));
  for (std::size_t i = 0; i < Names.size(); ++i)
    EXPECT_TRUE(FileBytes(R.Dir.File("side/" + Names[i])) == Before[i]) << Names[i];
  EXPECT_EQ(std::distance(fs::directory_iterator(R.Dir.File("side")), fs::directory_iterator()), 3);
  V.close();
}

// Places the tracks keep from recording (dropouts) show as marks of their
// own in both views, apart from the track marks; N and Shift+N go to them in
// turn across the tracks, with the cursor just before each, and say what it is.
TEST(ReviewWindow, DropoutsKeptInTheTracksShowAndNFindsThem) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  std::vector<std::string> Tracks;
  for (int n = 1; n <= 2; ++n) {
    const std::string Path = R.Dir.File("Track0" + std::to_string(n) + ".wav");
    test::WriteFileBytes(Path, test::Riff({test::PcmFmt(2, 44100, 16),
                                           test::Chunk("data", test::Pattern(4 * 441000))}));
    Tracks.push_back(Path);
  }
  std::string Error;
  ASSERT_TRUE(AppendCueMarkers(Tracks[0], {{220500, "dropout 2.31 s"}}, Error)) << Error;
  ASSERT_TRUE(AppendCueMarkers(Tracks[1], {{44100, "dropout (audio lost)"}}, Error)) << Error;
  W.ChooseTracks = [&] { return Tracks; };
  TFormReview& V = OpenReview(R);
  ASSERT_EQ(V.Edit().Tracks(), 2u);
  ASSERT_EQ(V.Edit().Frames(), 882000);
  QTest::keyClick(&V, Qt::Key_N);
  EXPECT_EQ(V.StatusText(),
            "1 of 2: dropout 2.31 s at 0:05.000 (Space plays from 1.5 s before it; N goes on)");
  EXPECT_EQ(V.Cursor(), 220500 - 66150);
  EXPECT_LE(V.Zoomed->From(), 220500);
  EXPECT_GT(V.Zoomed->To(), 220500);
  QTest::keyClick(&V, Qt::Key_N);
  EXPECT_TRUE(V.StatusText().startsWith("2 of 2: dropout (audio lost) at 0:11.000"))
      << V.StatusText().toStdString();
  QTest::keyClick(&V, Qt::Key_N, Qt::ShiftModifier);
  EXPECT_TRUE(V.StatusText().startsWith("1 of 2: ")) << V.StatusText().toStdString();
  // Drawn in their own colour at their place, the track mark in its own.
  const QImage Picture = V.Overview->grab().toImage();
  const auto At = [&](std::int64_t Frame) {
    return Picture.pixelColor(static_cast<int>(V.Overview->XOf(Frame)) + 1,
                              Picture.height() - TSideView::kLabelHeight / 2);
  };
  EXPECT_EQ(At(220500), QColor(255, 60, 200));
  EXPECT_EQ(At(441000 + 44100), QColor(255, 60, 200));
  EXPECT_NE(At(441000), QColor(255, 60, 200));
  Photograph(V, "review-dropout");

  // A mark moved: the dropouts go with their audio into the new tracks.
  V.MoveMark(0, 300000, false);
  QTest::keyClick(&V, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }));
  TWaveScan First, Second;
  ASSERT_TRUE(ScanWaveFile(Tracks[0], First, Error)) << Error;
  ASSERT_TRUE(ScanWaveFile(Tracks[1], Second, Error)) << Error;
  EXPECT_EQ(First.Frames(), 300000);
  ASSERT_EQ(First.Markers.size(), 1u);
  EXPECT_EQ(First.Markers[0].Frame, 220500u);
  ASSERT_EQ(Second.Markers.size(), 1u);
  EXPECT_EQ(Second.Markers[0].Frame, 441000u + 44100 - 300000);
  EXPECT_EQ(Second.Markers[0].Label, "dropout (audio lost)");
}

// Files chosen when the grid is empty: one not in the recording format is
// refused with its reason, and nothing can be edited.
TEST(ReviewWindow, ChosenFilesInAnotherFormatAreRefusedWithTheReason) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  const std::string Mono = R.Dir.File("mono.wav");
  test::WriteFileBytes(
      Mono, test::Riff({test::PcmFmt(1, 44100, 16), test::Chunk("data", Bytes(88200, 1))}));
  W.ChooseTracks = [&] { return std::vector<std::string>{Mono}; };
  TFormReview& V = OpenReview(R);
  EXPECT_NE(V.StatusText().toStdString().find("not 44100 Hz 16-bit stereo"), std::string::npos)
      << V.StatusText().toStdString();
  EXPECT_FALSE(V.Editable());
  EXPECT_FALSE(V.btApply->isEnabled());
  V.close();
}

// A track of Frames frames whose bytes follow from Seed.
Bytes MakeTrack(const std::string& Path, std::size_t Frames, int Seed) {
  Bytes Data(4 * Frames);
  for (std::size_t i = 0; i < Data.size(); ++i)
    Data[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(Seed) * 13) ^ (i >> 9));
  test::WriteFileBytes(Path, test::Riff({test::PcmFmt(2, 44100, 16), test::Chunk("data", Data)}));
  return Data;
}

// Count tracks of Frames frames each in the rig's folder "side".
std::vector<std::string> MakeSideTracks(const WindowRig& R, int Count, std::size_t Frames) {
  fs::create_directories(R.Dir.File("side"));
  std::vector<std::string> Tracks;
  for (int n = 1; n <= Count; ++n) {
    Tracks.push_back(R.Dir.File("side/" + TrackFileName(n)));
    MakeTrack(Tracks.back(), Frames, n);
  }
  return Tracks;
}

// Tracks numbered "1/6 .. 5/6" since one was taken out of the set: the
// review offers to number them anew (Apply is enabled with "Number the
// tracks" ticked) and Apply writes "n/5".
TEST(ReviewWindow, StaleTrackNumbersAreAChangeAndApplyNumbersTheSetAsItIs) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  const std::vector<std::string> Tracks = MakeSideTracks(R, 5, 3 * 44100);
  std::vector<TTrackTags> Tags(Tracks.size());
  for (std::size_t i = 0; i < Tags.size(); ++i) {
    Tags[i].Album = "Side A";
    Tags[i].Track = static_cast<int>(i + 1);
    Tags[i].TrackTotal = 6;
  }
  std::string Error;
  ASSERT_TRUE(RetagTrackFiles(Tracks, Tracks, Tags, Error)) << Error;
  W.ChooseTracks = [&] { return Tracks; };
  TFormReview& V = OpenReview(R);
  ASSERT_EQ(V.Edit().Tracks(), 5u);
  EXPECT_TRUE(V.AlbumFields->Numbers->isChecked());
  EXPECT_TRUE(V.btApply->isEnabled());
  Photograph(V, "review-stale-numbers");
  V.btApply->click();
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }, std::chrono::seconds(60)));
  ASSERT_EQ(R.Rows(), 6);
  for (int n = 1; n <= 5; ++n) {
    const std::string Path = W.GetOutputFolder().toStdString() == R.Dir.File("side")
                                 ? R.Dir.File("side/" + R.Name(n).toStdString())
                                 : R.Name(n).toStdString();
    const TTrackTags Read = TrackTags(Path);
    EXPECT_EQ(Read.Track, n) << Path;
    EXPECT_EQ(Read.TrackTotal, 5) << Path;
  }
}

// A side with a lead-in of hiss, two pieces and a track of only the
// run-out's hiss: the review says which track is only noise and how much
// quiet lies at the ends; T leaves the ends out, O takes a track out and back;
// Apply writes the two pieces alone, numbered by themselves, and the side as
// recorded stays whole in Originals.
// A side recorded as one track (side/Track01.wav, of Pcm), chosen and reviewed.
TFormReview& ReviewSide(WindowRig& R, const Bytes& Pcm) {
  fs::create_directories(R.Dir.File("side"));
  const std::string Side = R.Dir.File("side/" + TrackFileName(1));
  test::WriteFileBytes(Side, test::CdWav(Pcm));
  R.Window->ChooseTracks = [Side] { return std::vector<std::string>{Side}; };
  return OpenReview(R);
}

TEST(ReviewWindow, NoiseTracksAndTheQuietEndsAreOfferedAndLeftOutIntoOriginals) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  const std::vector<std::int16_t> All = test::RecordSide();
  const auto Frames = static_cast<std::int64_t>(All.size() / 2);
  const std::vector<std::int64_t> Ends = test::RecordSideTrackEnds(Frames);
  fs::create_directories(R.Dir.File("side"));
  std::vector<std::string> Tracks;
  for (int t = 0; t < 3; ++t) {
    const std::int64_t From = t == 0 ? 0 : Ends[static_cast<std::size_t>(t - 1)];
    Tracks.push_back(R.Dir.File("side/" + TrackFileName(t + 1)));
    test::WriteSideTrack(Tracks.back(), All, From, Ends[static_cast<std::size_t>(t)] - From);
  }
  W.ChooseTracks = [&] { return Tracks; };
  TFormReview& V = OpenReview(R);
  EXPECT_TRUE(V.StatusText().contains("Track 3 holds only the input's noise"))
      << V.StatusText().toStdString();
  EXPECT_TRUE(V.StatusText().contains("of quiet before its sound")) << V.StatusText().toStdString();
  EXPECT_TRUE(V.btTrimEnds->isEnabled());
  // O on the third track leaves it out, again takes it back.
  V.List->setCurrentCell(2, 3);
  QTest::keyClick(&V, Qt::Key_O);
  EXPECT_TRUE(V.Edit().LeftOut(2));
  EXPECT_EQ(V.List->item(2, 0)->text(), "out");
  EXPECT_EQ(V.btLeaveOut->text(), "Take Back");
  EXPECT_TRUE(V.btApply->isEnabled());
  QTest::keyClick(&V, Qt::Key_O);
  EXPECT_FALSE(V.Edit().LeftOut(2));
  // T: the lead-in and the run-out (the third track with it) are left out.
  QTest::keyClick(&V, Qt::Key_T);
  ASSERT_EQ(V.Edit().Tracks(), 5u);
  EXPECT_EQ(V.Edit().KeptTracks(), 2u);
  EXPECT_EQ(V.List->item(1, 0)->text(), "1");
  EXPECT_EQ(V.List->item(2, 0)->text(), "2");
  EXPECT_TRUE(V.KeepOriginals->isChecked());
  EXPECT_FALSE(V.KeepOriginals->isEnabled());  // what is left out is kept in any case
  // The waveform can be raised to see the hiss.
  QTest::keyClick(&V, Qt::Key_Up, Qt::ControlModifier);
  QTest::keyClick(&V, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(V.Zoomed->Gain(), 4);
  Photograph(V, "review-left-out");
  const std::int64_t From = V.Edit().TrackStart(1), To = V.Edit().TrackEnd(2);
  V.btApply->click();
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }, std::chrono::seconds(60)));
  Bytes Joined;
  for (const char* Name : {"Track01.wav", "Track02.wav"}) {
    const Bytes a = WavData(R.Dir.File(std::string("side/") + Name));
    Joined.insert(Joined.end(), a.begin(), a.end());
  }
  ASSERT_EQ(static_cast<std::int64_t>(Joined.size()), 4 * (To - From));
  EXPECT_EQ(std::memcmp(Joined.data(), All.data() + 2 * From, Joined.size()), 0);
  EXPECT_FALSE(fs::exists(R.Dir.File("side/Track03.wav")));
  EXPECT_EQ(TrackTags(R.Dir.File("side/Track02.wav")).Track, 0);  // not numbered: not asked
  Bytes Original;
  for (int t = 1; t <= 3; ++t) {
    const Bytes a = WavData(R.Dir.File("side/Originals/" + TrackFileName(t)));
    Original.insert(Original.end(), a.begin(), a.end());
  }
  ASSERT_EQ(Original.size(), All.size() * 2);
  EXPECT_EQ(std::memcmp(Original.data(), All.data(), Original.size()), 0);
  EXPECT_TRUE(W.StatusText().contains("2 tracks written")) << W.StatusText().toStdString();
}

// A side of real music recorded as one track, whose songs hold silences
// longer than the gaps between them, and its sleeve's listing pasted into
// Track Listing... (lengths a few seconds off): the marks land in the gaps
// between songs, the lead-in and run-out are left out, the tracks take the
// titles and the album's fields; Apply writes them so. A listing that fits
// no gap is placed by its lengths, said, and its mark selected.
TEST(ReviewWindow, ATrackListingPlacesTheMarksInTheGapsAndNamesTheTracks) {
  const test::SongSide Songs = test::RenderSongSide();
  ASSERT_TRUE(Songs.Rendered) << "fluidsynth did not render the pieces";
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  TFormReview& V = ReviewSide(R, Songs.Pcm);
  ASSERT_TRUE(V.btListing->isEnabled());
  QTest::keyClick(&V, Qt::Key_L);
  auto* Dialog = V.findChild<TListingDialog*>();
  ASSERT_TRUE(Dialog);
  ASSERT_TRUE(WaitUntil([&] { return Dialog->isVisible(); }));
  Dialog->Text->setPlainText(QString::fromStdString("Kind of Quiet\n" + Songs.Listing({3, -2, -1}) +
                                                    "Side B\nB1 Elsewhere 4:00\n"));
  Photograph(*Dialog, "review-listing-dialog");
  Dialog->btOk->click();
  ASSERT_EQ(V.Edit().Tracks(), 5u) << V.StatusText().toStdString();
  EXPECT_EQ(V.Edit().KeptTracks(), 3u);
  EXPECT_TRUE(V.Edit().LeftOut(0));
  EXPECT_TRUE(V.Edit().LeftOut(4));
  for (std::size_t t = 2; t <= 3; ++t) {
    const double At = static_cast<double>(V.Edit().TrackStart(t)) / 44100;
    EXPECT_GT(At, Songs.Music[t - 2].second) << t;
    EXPECT_LT(At, Songs.Music[t - 1].first) << t;
  }
  EXPECT_LT(static_cast<double>(V.Edit().TrackStart(1)) / 44100, Songs.Music[0].first);
  EXPECT_GT(static_cast<double>(V.Edit().TrackEnd(3)) / 44100, Songs.Music[2].second);
  EXPECT_EQ(V.Edit().Titles()[1], "Morning Walk");
  EXPECT_EQ(V.Edit().Titles()[3], "Evening");
  EXPECT_TRUE(V.StatusText().startsWith("3 tracks placed from the listing (side A)"))
      << V.StatusText().toStdString();
  EXPECT_TRUE(V.AlbumFields->Numbers->isChecked());
  Photograph(V, "review-listing-placed");
  // Undo takes back the titles, the ends, then the marks.
  for (int i = 0; i < 3; ++i) V.btUndo->click();
  EXPECT_EQ(V.Edit().Tracks(), 1u);
  // A cue sheet whose first track is 40 s long: its end lies in the middle
  // song, far from any gap.
  ASSERT_TRUE(
      V.UseListing("FILE \"side.wav\" WAVE\n TRACK 01 AUDIO\n  TITLE \"Long\"\n  INDEX 01 "
                   "00:00:00\n TRACK 02 AUDIO\n  TITLE \"Late\"\n  INDEX 01 00:40:00\n",
                   ""));
  EXPECT_TRUE(
      V.StatusText().contains("No quiet gap near the end of \"Long\": its mark stands "
                              "where the listed length ends"))
      << V.StatusText().toStdString();
  EXPECT_TRUE(V.StatusText().contains("(selected)"));
  Photograph(V, "review-listing-no-gap");
  EXPECT_FALSE(V.UseListing("nothing to see here\n", "B"));
  EXPECT_EQ(V.StatusText(),
            "The listing cannot be used: the listing has no side B (its numbers have no side "
            "letters).");
  // Placed again and applied: the tracks are the songs, named and numbered.
  ASSERT_TRUE(V.UseListing(Songs.Listing({0, 0, 0}), ""));
  V.AlbumFields->AlbumName->setText("Kind of Quiet");
  V.btApply->click();
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }, std::chrono::seconds(60)));
  std::vector<std::string> Written;
  for (const auto& e : fs::directory_iterator(R.Dir.File("side")))
    if (e.path().extension() == ".wav") Written.push_back(e.path().filename().string());
  std::sort(Written.begin(), Written.end());
  ASSERT_EQ(Written.size(), 3u);
  const TTrackTags Second = TrackTags(R.Dir.File("side/" + Written[1]));
  EXPECT_EQ(Second.Title, "Strings at Noon");
  EXPECT_EQ(Second.Track, 2);
  EXPECT_EQ(Second.TrackTotal, 3);
  EXPECT_EQ(Second.Album, "Kind of Quiet");
}

// The listing found in the web service from the dialog: the album's fields
// start the search, the releases found are listed, the chosen one fills the
// box, and its side A places the tracks. The search waits for the service
// without stopping the window.
TEST(ReviewWindow, AListingLookedUpInTheWebServiceIsChosenAndPlaced) {
  test::MusicBrainzService Service;
  ASSERT_TRUE(Service.Started) << "the stand-in web service did not start";
  const test::SongSide Songs = test::RenderSongSide();
  ASSERT_TRUE(Songs.Rendered) << "fluidsynth did not render the pieces";
  Service.Add(test::kSideRelease, test::SideReleaseJson(Songs));
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  R.Open();
  TFormReview& V = ReviewSide(R, Songs.Pcm);
  V.AlbumFields->Artist->setText("The Velmar Trio");
  V.AlbumFields->AlbumName->setText("Kind of Quiet");
  V.btListing->click();
  auto* Dialog = V.findChild<TListingDialog*>();
  ASSERT_TRUE(Dialog);
  EXPECT_EQ(Dialog->Artist->text(), "The Velmar Trio");
  Dialog->btSearch->click();
  EXPECT_FALSE(Dialog->btSearch->isEnabled());  // while it asks
  ASSERT_TRUE(WaitUntil([&] { return Dialog->Releases->count() == 1; }))
      << Dialog->StatusText().toStdString();
  EXPECT_EQ(Dialog->Releases->item(0)->text(),
            "The Velmar Trio - Kind of Quiet (1971-05-01, GB, 12\" Vinyl, 4 tracks)");
  Dialog->btUse->click();
  ASSERT_TRUE(WaitUntil([&] { return !Dialog->ListingText().empty(); }))
      << Dialog->StatusText().toStdString();
  EXPECT_EQ(Dialog->StatusText(), "4 tracks, on sides AB: give the side, then Place the Tracks.");
  Dialog->Side->setText("A");
  Photograph(*Dialog, "review-listing-looked-up");
  Dialog->btOk->click();
  ASSERT_EQ(V.Edit().KeptTracks(), 3u) << V.StatusText().toStdString();
  EXPECT_EQ(V.Edit().Titles()[2], "Strings at Noon");
  EXPECT_EQ(V.AlbumFields->Date->text(), "1971-05-01");
  // Offline: one sentence in the dialog, nothing else changes.
  ::setenv("VELMAR_MUSICBRAINZ", "http://127.0.0.1:1/ws/2/", 1);
  V.btListing->click();
  auto Dialogs = V.findChildren<TListingDialog*>();
  ASSERT_FALSE(Dialogs.isEmpty());
  TListingDialog& Again = *Dialogs.back();
  Again.btSearch->click();
  ASSERT_TRUE(WaitUntil([&] { return Again.btSearch->isEnabled(); }));
  EXPECT_TRUE(Again.StatusText().startsWith("The MusicBrainz web service cannot be reached ("))
      << Again.StatusText().toStdString();
  Again.reject();
}

// A track rewritten on disk after the review read it, once with the same
// size and its times kept, once shortened: Apply refuses, names the track and
// changes nothing. Opened again, the review shows the new audio (the peaks'
// cache is not fooled by the kept times).
TEST(ReviewWindow, ATrackChangedOnDiskStopsApplyAndChangesNothing) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  const std::vector<std::string> Tracks = MakeSideTracks(R, 3, 30000);
  W.ChooseTracks = [&] { return Tracks; };
  for (const bool KeptTimes : {true, false}) {
    SCOPED_TRACE(KeptTimes ? "same size, times kept" : "shortened");
    TFormReview& V = OpenReview(R);
    ASSERT_EQ(V.Edit().Tracks(), 3u);
    const std::string Changed = KeptTimes ? Tracks[1] : Tracks[2];
    struct stat Was {};
    ASSERT_EQ(::stat(Changed.c_str(), &Was), 0);
    MakeTrack(Changed, KeptTimes ? 30000 : 12000, KeptTimes ? 50 : 60);
    if (KeptTimes) {
      const struct timespec Times[2] = {Was.st_atim, Was.st_mtim};
      ASSERT_EQ(::utimensat(AT_FDCWD, Changed.c_str(), Times, 0), 0);
    }
    std::vector<Bytes> Before;
    for (const std::string& t : Tracks) Before.push_back(FileBytes(t));
    QTest::keyClick(&V, Qt::Key_Delete);
    QTest::keyClick(&V, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return !V.Busy(); }));
    EXPECT_NE(V.StatusText().toStdString().find(fs::path(Changed).filename().string() +
                                                " changed on disk"),
              std::string::npos)
        << V.StatusText().toStdString();
    for (std::size_t i = 0; i < Tracks.size(); ++i)
      EXPECT_TRUE(FileBytes(Tracks[i]) == Before[i]) << Tracks[i];
    EXPECT_EQ(std::distance(fs::directory_iterator(R.Dir.File("side")), fs::directory_iterator()),
              3);
    QTest::keyClick(&V, Qt::Key_Escape);
    ASSERT_TRUE(WaitUntil([&] { return V.Question() != nullptr; }));
    V.Question()->button(QMessageBox::Discard)->click();
    ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }));
  }
  // The review shows the side as it is now.
  TFormReview& V = OpenReview(R);
  ASSERT_EQ(V.Edit().Tracks(), 3u);
  EXPECT_EQ(V.Edit().TrackEnd(2) - V.Edit().TrackStart(2), 12000);
  const Bytes Second = WavData(Tracks[1]);
  const TPeak p = V.Peaks().Columns(30000, 30000 + 256, 1)[0];
  const TPeak q = TSidePeaks::Of(reinterpret_cast<const std::int16_t*>(Second.data()), 256);
  EXPECT_EQ(std::vector<std::int16_t>({p.Min[0], p.Max[0], p.Min[1], p.Max[1]}),
            std::vector<std::int16_t>({q.Min[0], q.Max[0], q.Min[1], q.Max[1]}));
  V.close();
}

// 120 tracks chosen in the file dialog's text order ("Track100.wav" before
// "Track11.wav"): the review takes them by number; Apply pads the numbers to
// three digits, cuts a 300-byte title to fit a file name (the tag keeps it
// whole) and replaces what FAT sticks refuse; the new set, chosen again in
// text order, joins back to the side.
TEST(ReviewWindow, A120TrackSideKeepsItsOrderAndEveryTitleMakesAName) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  const std::string Folder = R.Dir.File("side");
  fs::create_directories(Folder);
  Bytes Side;
  std::vector<std::string> Tracks;
  for (int n = 1; n <= 120; ++n) {
    Tracks.push_back(Folder + "/" + TrackFileName(n));
    const Bytes a = MakeTrack(Tracks.back(), 500 + static_cast<std::size_t>(n), n);
    Side.insert(Side.end(), a.begin(), a.end());
  }
  const auto InTextOrder = [&] {
    std::vector<std::string> Files;
    for (const auto& e : fs::directory_iterator(Folder)) Files.push_back(e.path().string());
    std::sort(Files.begin(), Files.end());
    return Files;
  };
  W.ChooseTracks = InTextOrder;
  ASSERT_EQ(fs::path(InTextOrder()[10]).filename(), "Track100.wav");  // after "Track10.wav"
  TFormReview& V = OpenReview(R);
  ASSERT_EQ(V.Edit().Tracks(), 120u);
  for (std::size_t t = 0; t < 120; ++t)
    ASSERT_EQ(V.Edit().TrackEnd(t) - V.Edit().TrackStart(t), 501 + static_cast<std::int64_t>(t));
  std::string Long;
  while (Long.size() < 300)
    Long += Long.size() % 3 ? "ü" : "x";  // two-byte characters among one-byte
  V.List->setFocus();
  V.List->setCurrentCell(0, 3);
  QApplication::clipboard()->setText(QString::fromStdString(Long + "\nA:B?*|\"<>\\C"));
  QTest::keyClick(V.List, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(&V, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }, std::chrono::seconds(60)));

  const std::vector<std::string> Written = InTextOrder();
  ASSERT_EQ(Written.size(), 120u);
  const std::string First = fs::path(Written[0]).filename().string();
  EXPECT_TRUE(First.starts_with("001 x")) << First;
  EXPECT_LE(First.size() + 32 + 6, 255u);  // with a hidden name's extras
  EXPECT_TRUE(QString::fromUtf8(First.c_str()).isValidUtf16());
  EXPECT_EQ(QString::fromUtf8(First.c_str()).toUtf8().toStdString(), First);  // no half character
  EXPECT_EQ(TrackTitle(Written[0]), Long);
  EXPECT_EQ(fs::path(Written[1]).filename(), "002 A_B_______C.wav");
  EXPECT_EQ(TrackTitle(Written[1]), "A:B?*|\"<>\\C");
  EXPECT_EQ(fs::path(Written[2]).filename(), "Track003.wav");
  EXPECT_EQ(fs::path(Written[119]).filename(), "Track120.wav");
  Bytes Joined;
  for (const std::string& t : Written) {
    const Bytes a = WavData(t);
    Joined.insert(Joined.end(), a.begin(), a.end());
  }
  EXPECT_TRUE(Joined == Side);
}

// The review as a user handles it: Space pauses playback where it is and
// goes on from there; the wheel zooms around the frame under the pointer and
// sideways pans; the count follows the edits; Undo selects the mark it
// restored; split into N keeps each title with its song; the track labels
// stay at their tracks whatever was pressed last.
TEST(ReviewWindow, TheReviewFollowsWhatTheUserDoes) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  const std::vector<std::string> Tracks = MakeSideTracks(R, 3, 10 * 44100);
  W.ChooseTracks = [&] { return Tracks; };
  TFormReview& V = OpenReview(R);
  V.resize(900, 600);
  ASSERT_EQ(V.Edit().Tracks(), 3u);
  EXPECT_EQ(V.SplitCount->value(), 3);

  // Space plays, Space again pauses with the cursor where the playing was.
  V.SetCursor(44100);
  QTest::keyClick(&V, Qt::Key_Space);
  ASSERT_TRUE(V.btStop->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return V.Cursor() > 44100 + 4410; }));
  QTest::keyClick(&V, Qt::Key_Space);
  EXPECT_FALSE(V.btStop->isEnabled());
  const std::int64_t Paused = V.Cursor();
  EXPECT_GT(Paused, 44100 + 4410);
  EXPECT_LT(Paused, 10 * 44100);

  // The wheel over the zoomed view: the frame under the pointer stays there.
  const auto Wheel = [&](QPoint At, QPoint Delta, Qt::KeyboardModifiers Keys = Qt::NoModifier) {
    QWheelEvent Event(At, V.Zoomed->mapToGlobal(At), QPoint(), Delta, Qt::NoButton, Keys,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(V.Zoomed, &Event);
  };
  const QPoint Pointer(V.Zoomed->width() / 4, 60);
  const std::int64_t Under = V.Zoomed->FrameAt(Pointer.x());
  Wheel(Pointer, QPoint(0, 240));
  EXPECT_NEAR(static_cast<double>(V.Zoomed->FrameAt(Pointer.x())), static_cast<double>(Under),
              static_cast<double>(2 * (V.Zoomed->To() - V.Zoomed->From()) / V.Zoomed->width() + 1));
  // Sideways (Shift with the wheel) moves the view later, keeping its width.
  const std::int64_t From = V.Zoomed->From(), Width = V.Zoomed->To() - V.Zoomed->From();
  Wheel(Pointer, QPoint(0, -120), Qt::ShiftModifier);
  EXPECT_GT(V.Zoomed->From(), From);
  EXPECT_EQ(V.Zoomed->To() - V.Zoomed->From(), Width);

  // Titles, then a mark added: the count follows; Undo selects that mark's place.
  V.List->setFocus();
  V.List->setCurrentCell(0, 3);
  QApplication::clipboard()->setText("One\nTwo\nThree");
  QTest::keyClick(V.List, Qt::Key_V, Qt::ControlModifier);
  V.Zoomed->setFocus();
  V.SetCursor(25 * 44100);
  QTest::keyClick(&V, Qt::Key_Insert);
  EXPECT_EQ(V.Edit().Tracks(), 4u);
  EXPECT_EQ(V.SplitCount->value(), 4);
  V.SelectMark(0);
  V.MoveMark(0, 9 * 44100, false);
  V.SelectMark(2);
  QTest::keyClick(&V, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(V.Edit().Marks()[0], 10 * 44100);
  EXPECT_EQ(V.List->currentRow(), 1);  // the track the restored mark starts
  // With nothing selected, the first track's label stays at the side's start
  // in the colour of an unselected mark.
  V.SetCursor(5 * 44100);
  const QImage Picture = V.Overview->grab().toImage();
  EXPECT_EQ(Picture.pixelColor(4, TSideView::kRulerHeight + 5), QColor(255, 200, 0));

  // Split into 3 at other places: each title goes with its song.
  V.Undo();  // the added mark
  ASSERT_EQ(V.Edit().Tracks(), 3u);
  std::vector<std::int64_t> Cuts = {12 * 44100, 19 * 44100};
  TSideEdit Check = V.Edit();
  ASSERT_TRUE(Check.SetMarks(Cuts));
  EXPECT_EQ(Check.Titles(), (std::vector<std::string>{"One", "Two", "Three"}));
  QTest::keyClick(&V, Qt::Key_Escape);
  ASSERT_TRUE(WaitUntil([&] { return V.Question() != nullptr; }));
  V.Question()->button(QMessageBox::Discard)->click();
  ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }));
}

// A rewrite of the output folder's tracks ended by a crash midway: the
// window's next start finishes it, says so, and the folder holds the new set
// by its names, nothing hidden.
TEST(ReviewWindow, AnInterruptedRewriteIsFinishedWhenTheWindowStarts) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  Bytes Side;
  std::vector<std::string> Tracks;
  for (int n = 1; n <= 3; ++n) {
    Tracks.push_back(R.Dir.File(TrackFileName(n)));
    const Bytes a = MakeTrack(Tracks.back(), 20000, n);
    Side.insert(Side.end(), a.begin(), a.end());
  }
  ASSERT_TRUE(test::InterruptRewrite(Tracks, R.Dir.Path(),
                                     {{"Track01.wav", {}, 45000}, {"Track02.wav", {}, 15000}}, 4));
  TFormAudioRecorderMain& W = R.Open();
  EXPECT_NE(W.StatusText().toStdString().find("interrupted rewrite"), std::string::npos)
      << W.StatusText().toStdString();
  std::vector<std::string> Wavs;
  for (const auto& e : fs::directory_iterator(R.Dir.Path())) {
    const std::string Name = e.path().filename().string();
    EXPECT_NE(Name[0], '.') << Name;
    if (Name.ends_with(".wav")) Wavs.push_back(Name);
  }
  std::sort(Wavs.begin(), Wavs.end());
  EXPECT_EQ(Wavs, (std::vector<std::string>{"Track01.wav", "Track02.wav"}));
  EXPECT_TRUE(WavData(R.Track(1)).size() == 4 * 45000u);
  Bytes Joined = WavData(R.Track(1)), Rest = WavData(R.Track(2));
  Joined.insert(Joined.end(), Rest.begin(), Rest.end());
  EXPECT_TRUE(Joined == Side);
}

}  // namespace
}  // namespace velmar
