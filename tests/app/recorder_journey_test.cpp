// A first-time user's whole path through the window, on a private X server
// and a private sound server: a record side (real instruments rendered by
// fluidsynth, surface hiss and clicks) played into the server's sink while the
// window records its monitor. First start with no settings; the noise gate
// from the run-in groove; Start on Sound and End of Side after 30 s; the side
// ends itself in the run-out; the review leaves out the noise, repairs the
// clicks, takes pasted titles, the album's fields and a cover; Apply; Exit; a
// new start; Add Tracks; Convert Files to FLAC by the real encoder program,
// whose window is closed as a user closes it. The FLAC files are read back
// with metaflac: every field, the cover, and the audio equal to the tracks.
// Each step is photographed; the run is made at 100 % and, with
// QT_SCALE_FACTOR=2, at 200 %.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "app/album_panel.h"
#include "app/form_audio_graphics.h"
#include "app/form_audio_recorder_main.h"
#include "app/form_review.h"
#include "app/messages_window.h"
#include "app/peak_readout.h"
#include "app/recorder_settings.h"
#include "controls/qt_event_pump.h"
#include "mp3/encoder_registry.h"
#include "platform/registry/settings_store.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "session/track_files.h"
#include "tests/app/window_seam.h"
#include "tests/support/alsa_config.h"
#include "tests/support/fluid_music.h"
#include "tests/support/logind_bus.h"
#include "tests/support/noise_programme.h"
#include "tests/support/peer.h"
#include "tests/support/pulse_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/support/wav_data.h"
#include "tests/support/xvfb_server.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::WaitUntil;

test::XvfbServer* Screen = nullptr;  // the X server the whole run draws on

// The display's scale in per cent (QT_SCALE_FACTOR), which names the pictures.
int Scale() {
  const char* Factor = std::getenv("QT_SCALE_FACTOR");
  return Factor ? static_cast<int>(std::lround(100 * std::atof(Factor))) : 100;
}

void Photograph(QWidget& Window, const std::string& Name) {
  QApplication::processEvents();
  Window.grab().save(QString::fromStdString(test::ScreenshotFolder() + "/journey-" + Name + "-" +
                                            std::to_string(Scale()) + ".png"));
}

// Raises Window and gives it the keyboard, as a click on it does.
void Activate(QWidget& Window) {
  Window.activateWindow();
  Window.raise();
  EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &Window; }));
}

// The menu item of the main window with this text (its '&' left out).
QAction* MenuItem(TFormAudioRecorderMain& W, const QString& Text) {
  for (QAction* Action : W.findChildren<QAction*>())
    if (Action->text().remove('&') == Text) return Action;
  ADD_FAILURE() << "no menu item " << Text.toStdString();
  return nullptr;
}

// A record: a run-in of hiss, three pieces with 3 s between them, a run-out
// of hiss; the hiss (about -68 dBFS) lies under everything, and Clicks
// clicks lie in the pieces, a few loud samples each, as scratches give them.
struct Record {
  test::MusicSide Side;
  std::vector<std::size_t> Clicks;  // frames
};

Record MakeRecord() {
  Record r;
  const std::vector<test::Piece> Pieces = {
      {.Program = 24, .Seed = 4, .Seconds = 9},
      {.Program = 48, .Seed = 5, .Seconds = 9, .SoftFrom = 5, .SoftTo = 7},
      {.Seed = 6, .Seconds = 10, .SoftFrom = 6, .SoftTo = 8}};
  r.Side = test::RenderSide(Pieces, 10, 3, 36);
  if (!r.Side.Rendered) return r;
  Bytes& Pcm = r.Side.Pcm;
  std::mt19937 Random(9);
  std::normal_distribution<double> Hiss(0, 16);
  for (std::size_t i = 0; i + 1 < Pcm.size(); i += 2) {
    const int v = static_cast<std::int16_t>(Pcm[i] | Pcm[i + 1] << 8) +
                  static_cast<int>(std::lround(Hiss(Random)));
    const auto s = static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
    Pcm[i] = static_cast<std::uint8_t>(s & 0xFF);
    Pcm[i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
  }
  // Four clicks a piece, away from its ends: a sharp spike and its ringing.
  for (const auto& [First, End] : r.Side.Pieces) {
    const std::size_t From = First / 4 + 44100, To = End / 4 - 44100;
    for (int k = 0; k < 4; ++k) {
      const std::size_t At = From + (To - From) * static_cast<std::size_t>(2 * k + 1) / 8;
      r.Clicks.push_back(At);
      static const int Shape[] = {6000, 14000, -9000, 4000, -1500};
      for (std::size_t n = 0; n < 5; ++n)
        for (int c = 0; c < 2; ++c) {
          const std::size_t b = 4 * (At + n) + 2 * static_cast<std::size_t>(c);
          const int v = std::clamp(static_cast<std::int16_t>(Pcm[b] | Pcm[b + 1] << 8) + Shape[n],
                                   -32768, 32767);
          Pcm[b] = static_cast<std::uint8_t>(v & 0xFF);
          Pcm[b + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        }
    }
  }
  return r;
}

// The window as the program makes it, with the settings and devices it finds.
struct Program {
  std::unique_ptr<TFormAudioGraphics> Skin = std::make_unique<TFormAudioGraphics>();
  std::unique_ptr<TFormAudioRecorderMain> Window;
  Program() {
    Window = std::make_unique<TFormAudioRecorderMain>(*Skin);
    Window->show();
    EXPECT_TRUE(WaitUntil([&] { return Window->isVisible(); }));
  }
  // File > Exit, as the user ends it.
  ~Program() {
    if (Window && Window->isVisible()) MenuItem(*Window, "Exit")->trigger();
    QApplication::processEvents();
  }
};

// A first start in Dir: no settings, the current folder there, and the
// user's default input the turntable's (here the sound server's sink monitor).
// The folder before is current again when the object goes, before Dir does
// (the next test's commands need a folder that exists).
class FreshStartIn {
 public:
  explicit FreshStartIn(const test::TempDir& Dir) : FBefore(fs::current_path()) {
    fs::current_path(Dir.Path());
    ::setenv("XDG_CONFIG_HOME", Dir.File("config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", Dir.File("cache").c_str(), 1);
    test::UseAlsaConfig(Dir.File("asound.conf"),
                        "pcm.!default { type pulse device \"test.monitor\" hint { show on "
                        "description \"Default\" } }\n");
    InstallDefaultWaveBackends();
  }
  ~FreshStartIn() {
    std::error_code Ignored;
    fs::current_path(FBefore, Ignored);
  }
  FreshStartIn(const FreshStartIn&) = delete;
  FreshStartIn& operator=(const FreshStartIn&) = delete;

 private:
  const fs::path FBefore;
};

// The frames of a track that hold the side's audio: where its first 256
// frames lie in the side (bytes), or npos.
std::size_t PlaceIn(const Bytes& Side, const Bytes& Track) {
  if (Track.size() < 1024) return std::string::npos;
  const auto It = std::search(Side.begin(), Side.end(), Track.begin(), Track.begin() + 1024);
  return It == Side.end() ? std::string::npos : static_cast<std::size_t>(It - Side.begin());
}

TEST(RecorderJourney, AFirstTimeUserTakesARecordSideToAFlacAlbumThroughTheWindowAlone) {
  test::PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  test::LogindBus Logind;  // the desktop's logind, which the recording keeps awake
  ASSERT_TRUE(Logind.Started) << "the private bus with logind did not start";
  const Record Rec = MakeRecord();
  ASSERT_TRUE(Rec.Side.Rendered) << "fluidsynth did not render the pieces";
  test::TempDir Dir;
  test::WriteFileBytes(Dir.File("side.raw"), Rec.Side.Pcm);
  const FreshStartIn FirstStart(Dir);
  const std::string Album = Dir.File("Side A"), Cover = Dir.File("cover.png");
  fs::create_directories(Album);
  std::vector<std::string> Written;
  {
    Program P;
    TFormAudioRecorderMain& W = *P.Window;
    W.SetOutputFolder(QString::fromStdString(Album));
    Photograph(W, "1-first-start");

    // The needle in the run-in groove: the gate from its hiss, then Start on
    // Sound and End of Side after 30 s of silence, as the help's guide says.
    const pid_t Player = test::PulseServer::PlayRaw(Dir.File("side.raw"));
    MenuItem(W, "Set Noise Gate from Input")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return W.StatusText().startsWith("Noise gate set to"); },
                          std::chrono::seconds(20)))
        << W.StatusText().toStdString();
    QTest::mouseClick(W.rbAutoOn, Qt::LeftButton);
    ASSERT_TRUE(W.rbAutoOn->Checked());
    MenuItem(W, "Start on Sound")->trigger();
    MenuItem(W, "After 30 s of Silence")->trigger();
    Activate(W);
    QTest::keyClick(&W, Qt::Key_F12);
    ASSERT_TRUE(W.StatusText().startsWith("Waiting for sound")) << W.StatusText().toStdString();
    EXPECT_TRUE(Logind.Holds("Velmar Audio Recorder"));
    Photograph(W, "2-waiting-for-sound");
    ASSERT_TRUE(WaitUntil([&] { return W.Recording() && W.Grid->rowCount() > 2; },
                          std::chrono::seconds(60)))
        << test::TWindowSeam::Messages(W)->Text().toStdString();
    Photograph(W, "3-recording");
    ASSERT_TRUE(WaitUntil([&] { return !W.Recording(); }, std::chrono::seconds(150)))
        << W.StatusText().toStdString();
    int Status = -1;
    ::waitpid(Player, &Status, 0);
    const QString Ended = W.StatusText();
    EXPECT_TRUE(Ended.contains("30 s")) << Ended.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return !Logind.Holds("Velmar Audio Recorder"); }));
    Photograph(W, "4-side-ended");
    test::TWindowSeam::Messages(W)->show();
    Photograph(*test::TWindowSeam::Messages(W), "5-messages");
    test::TWindowSeam::Messages(W)->hide();

    // The tracks are the side as played, one per piece, cut in its gaps.
    std::vector<std::string> Recorded;
    for (int n = 1; fs::exists(Album + "/" + TrackFileName(n)); ++n)
      Recorded.push_back(Album + "/" + TrackFileName(n));
    ASSERT_GE(Recorded.size(), 3u);
    Bytes Joined;
    for (const std::string& t : Recorded) {
      const Bytes a = test::WavData(t);
      Joined.insert(Joined.end(), a.begin(), a.end());
    }
    const std::size_t At = PlaceIn(Rec.Side.Pcm, test::WavData(Recorded.front()));
    ASSERT_NE(At, std::string::npos) << "the first track is not in the side";
    ASSERT_LE(At + Joined.size(), Rec.Side.Pcm.size());
    EXPECT_TRUE(std::equal(Joined.begin(), Joined.end(), Rec.Side.Pcm.begin() + static_cast<std::ptrdiff_t>(At)))
        << "the tracks differ from the side";
    EXPECT_GE(At + Joined.size(), Rec.Side.Pieces.back().second) << "the last piece was cut";

    // The review: the noise left out, the clicks found and repaired, titles,
    // album and cover.
    Activate(W);
    QTest::keyClick(&W, Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(test::TWindowSeam::Review(W));
    TFormReview& V = *test::TWindowSeam::Review(W);
    ASSERT_TRUE(WaitUntil([&] { return V.Ready() && !V.Busy(); }, std::chrono::seconds(60)));
    Activate(V);
    Photograph(V, "6-review-opened");
    EXPECT_TRUE(V.StatusText().contains("Trim Ends")) << V.StatusText().toStdString();
    QTest::keyClick(&V, Qt::Key_T);
    for (std::size_t t = 0; t < V.Edit().Tracks(); ++t) {
      // What is still in the set and holds no piece is the noise: left out.
      const std::int64_t Start = V.Edit().TrackStart(t) * 4 + static_cast<std::int64_t>(At);
      const std::int64_t End = V.Edit().TrackEnd(t) * 4 + static_cast<std::int64_t>(At);
      const bool Music = std::any_of(Rec.Side.Pieces.begin(), Rec.Side.Pieces.end(), [&](auto& p) {
        return static_cast<std::int64_t>(p.first) < End && static_cast<std::int64_t>(p.second) > Start;
      });
      if (!Music && !V.Edit().LeftOut(t)) {
        V.List->setCurrentCell(static_cast<int>(t), 3);
        QTest::keyClick(&V, Qt::Key_O);
      }
    }
    ASSERT_EQ(V.Edit().KeptTracks(), 3u) << V.StatusText().toStdString();
    QTest::keyClick(&V, Qt::Key_K);
    ASSERT_TRUE(WaitUntil([&] { return V.Clicks().Found() && !V.Busy(); }, std::chrono::seconds(60)));
    // Every click put on the record is found (more may be: the music's own).
    for (const std::size_t c : Rec.Clicks) {
      const auto Frame = static_cast<std::int64_t>(c) - static_cast<std::int64_t>(At / 4);
      EXPECT_TRUE(std::any_of(V.Clicks().Clicks().begin(), V.Clicks().Clicks().end(),
                              [&](const TClick& k) { return std::abs(k.Frame - Frame) < 64; }))
          << "the click at " << static_cast<double>(c) / 44100 << " s of the side was not found";
    }
    QTest::keyClick(&V, Qt::Key_C);
    Photograph(V, "7-review-clicks");
    for (const auto& [Field, Text] : std::vector<std::pair<QLineEdit*, QString>>{
             {V.AlbumFields->Artist, "Anna Virta"},
             {V.AlbumFields->AlbumName, "Night Pieces"},
             {V.AlbumFields->Date, "1974"},
             {V.AlbumFields->Genre, "Classical"}}) {
      Field->setFocus();
      QTest::keyClicks(Field, Text);
    }
    test::Peer("ffmpeg -loglevel error -f lavfi -i testsrc=size=160x160 -frames:v 1 '" + Cover + "'");
    QString Refused;
    ASSERT_TRUE(V.AlbumFields->SetCoverFile(QString::fromStdString(Cover), Refused))
        << Refused.toStdString();
    V.AlbumFields->Numbers->setChecked(true);
    // The listing pasted on the first kept track.
    for (std::size_t t = 0; t < V.Edit().Tracks(); ++t)
      if (!V.Edit().LeftOut(t)) {
        V.List->setCurrentCell(static_cast<int>(t), 3);
        break;
      }
    V.List->setFocus();
    QApplication::clipboard()->setText("Nocturne\nAubade\nBerceuse\n");
    QTest::keyClick(V.List, Qt::Key_V, Qt::ControlModifier);
    Photograph(V, "8-review-named");
    V.btApply->click();
    ASSERT_TRUE(WaitUntil([&] { return !test::TWindowSeam::Review(W); }, std::chrono::seconds(120)))
        << "the review did not apply";
    EXPECT_TRUE(W.StatusText().startsWith("3 tracks written in")) << W.StatusText().toStdString();
    Photograph(W, "9-applied");
    for (const char* Name : {"01 Nocturne.wav", "02 Aubade.wav", "03 Berceuse.wav"}) {
      Written.push_back(Album + "/" + Name);
      EXPECT_TRUE(fs::exists(Written.back())) << Name;
    }
    // The recorded tracks stay whole in Originals.
    for (const std::string& t : Recorded)
      EXPECT_TRUE(fs::exists(Album + "/Originals/" + fs::path(t).filename().string())) << t;
  }

  // A new start: the list is empty; the album is added back and converted.
  Program P;
  TFormAudioRecorderMain& W = *P.Window;
  EXPECT_EQ(W.Grid->rowCount(), 1);
  // File > Add Tracks...: the three files chosen in its dialog.
  QTimer Chooser;
  QObject::connect(&Chooser, &QTimer::timeout, [&] {
    auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!Dialog || !Dialog->isVisible()) return;
    Chooser.stop();
    EXPECT_EQ(fs::path(Dialog->directory().absolutePath().toStdString()), fs::path(Album));
    QString Names;
    for (const std::string& f : Written) Names += "\"" + QString::fromStdString(fs::path(f).filename().string()) + "\" ";
    auto* Name = Dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_TRUE(Name);
    QTest::keyClicks(Name, Names.trimmed());
    Photograph(*Dialog, "10-add-tracks");
    QTest::keyClick(Name, Qt::Key_Return);
  });
  Chooser.start(100);
  MenuItem(W, "Add Tracks...")->trigger();
  Chooser.stop();
  ASSERT_EQ(W.Grid->rowCount(), 4);
  Photograph(W, "11-added-after-restart");
  const fs::path Encoder(VELMAR_MP3);
  WriteRegValue(kEncoderRoot, kEncoderKey, "Path", Encoder.parent_path().string());
  WriteRegValue(kEncoderRoot, kEncoderKey, "Filename", Encoder.filename().string());
  // The encoder's window, closed when it says the files are written.
  // (Polled from a thread of its own: the window waits for the program.)
  std::thread Closer([&] {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (std::chrono::steady_clock::now() < Deadline) {
      std::string Id = Screen->Xdotool("search --onlyvisible --name 'FLAC files written'");
      Id = Id.substr(0, Id.find('\n'));
      if (!Id.empty()) {
        Screen->Xdotool("windowfocus " + Id + " key Escape");
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ADD_FAILURE() << "the encoder never said that the files were written";
    int Status = -1;
    test::RunCommand(std::string("pkill -TERM -f '") + VELMAR_MP3 + "'", &Status);
  });
  MenuItem(W, "Convert Files to FLAC")->trigger();
  Closer.join();
  for (const std::string& Wav : Written) {
    const std::string Flac = fs::path(Wav).replace_extension(".flac").string();
    ASSERT_TRUE(fs::exists(Flac)) << Flac;
    const std::string Tags = test::Peer("metaflac --export-tags-to=- '" + Flac + "'");
    for (const char* Field : {"ARTIST=Anna Virta", "ALBUM=Night Pieces", "DATE=1974",
                              "GENRE=Classical", "TRACKTOTAL=3", "REPLAYGAIN_ALBUM_GAIN="})
      EXPECT_NE(Tags.find(Field), std::string::npos) << Field << " in " << Flac << ":\n" << Tags;
    EXPECT_NE(Tags.find("TITLE=" + fs::path(Wav).stem().string().substr(3)), std::string::npos)
        << Tags;
    test::Peer("metaflac --export-picture-to='" + Dir.File("picture") + "' '" + Flac + "'");
    EXPECT_EQ(test::ReadFileBytes(Dir.File("picture")), test::ReadFileBytes(Cover)) << Flac;
    // The audio, decoded by ffmpeg, is the track's.
    test::Peer("ffmpeg -loglevel error -y -i '" + Flac + "' -f s16le '" + Dir.File("decoded.raw") +
               "'");
    EXPECT_TRUE(test::ReadFileBytes(Dir.File("decoded.raw")) == test::WavData(Wav)) << Flac;
  }
}

// A transfer at 24 bits and 96 kHz, chosen in Options: the side (fluidsynth's
// pieces resampled by sox) with one full-scale sample in the left channel and
// one a step under it in the right, played into a sink running at that format.
// With Start on Sound the window records it whole, bit for bit, one track per
// piece; the peak figures read the side's peaks at the 24-bit scale and only
// the left lamp lights; the clip is counted in its track.
TEST(RecorderJourney, ASideAt24Bits96kHzIsChosenInOptionsAndRecordedWhole) {
  test::PulseServer Server(96000, "s24le");
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  test::TempDir Dir;
  const test::MusicSide Side = test::RenderSide(test::MixedSide(), 1, 3, 8);
  ASSERT_TRUE(Side.Rendered) << "fluidsynth did not render the pieces";
  test::WriteFileBytes(Dir.File("cd.wav"), test::CdWav(Side.Pcm));
  test::Peer("sox " + Dir.File("cd.wav") + " -b 24 -r 96000 -t raw " + Dir.File("side.raw"));
  Bytes Hi = test::ReadFileBytes(Dir.File("side.raw"));
  ASSERT_GT(Hi.size(), 0u);
  auto Put = [&](std::size_t Frame, int Channel, std::int32_t v) {
    for (int b = 0; b < 3; ++b)
      Hi[6 * Frame + 3 * Channel + b] = static_cast<std::uint8_t>(v >> (8 * b));
  };
  auto Middle = [&](std::size_t Piece) {
    return (Side.Pieces[Piece].first + Side.Pieces[Piece].second) / 8 * 96000 / 44100;
  };
  Put(Middle(1), 0, 8388607);  // clipped
  Put(Middle(0), 1, 8388600);  // loud, not clipped
  test::WriteFileBytes(Dir.File("side.raw"), Hi);
  std::array<int, 2> Loudest{};
  for (std::size_t i = 0; i + 3 <= Hi.size(); i += 3) {
    const auto v = static_cast<std::int32_t>(
                       static_cast<std::uint32_t>(Hi[i] | Hi[i + 1] << 8 | Hi[i + 2] << 16) << 8) >>
                   8;
    int& Channel = Loudest[i / 3 % 2];
    Channel = std::max(Channel, std::abs(v) >> 8);
  }
  const FreshStartIn FirstStart(Dir);
  Program P;
  TFormAudioRecorderMain& W = *P.Window;
  MenuItem(W, "24-bit 96 kHz")->trigger();
  EXPECT_EQ(W.StatusText(), "Recording format: 24-bit 96 kHz");
  QTest::mouseClick(W.rbAutoOn, Qt::LeftButton);
  MenuItem(W, "Start on Sound")->trigger();
  Activate(W);
  QTest::keyClick(&W, Qt::Key_F12);
  ASSERT_TRUE(W.StatusText().startsWith("Waiting for sound")) << W.StatusText().toStdString();
  const pid_t Player = test::PulseServer::PlayRaw(Dir.File("side.raw"), "s24le", 96000);
  ASSERT_TRUE(
      WaitUntil([&] { return W.Recording() && W.Grid->rowCount() > 2; }, std::chrono::seconds(60)))
      << test::TWindowSeam::Messages(W)->Text().toStdString();
  Photograph(W, "24bit-recording");
  ASSERT_TRUE(WaitUntil([&] { return !W.Recording(); }, std::chrono::seconds(120)))
      << W.StatusText().toStdString();
  int Status = -1;
  ::waitpid(Player, &Status, 0);
  Photograph(W, "24bit-recorded");
  W.Peaks->Refresh();
  for (int c = 0; c < 2; ++c)
    EXPECT_EQ(W.Peaks->Figure(c), QString::number(PeakDb(Loudest[c]), 'f', 1)) << c;
  EXPECT_TRUE(W.Peaks->Lit(0));
  EXPECT_FALSE(W.Peaks->Lit(1));
  const QString Said = test::TWindowSeam::Messages(W)->Text();
  EXPECT_TRUE(Said.contains("Track02.wav: 1 clipped sample")) << Said.toStdString();

  // Every track at 24/96 with the extensible record; joined, the side from its
  // first sound, bit for bit, to after the last piece.
  Bytes Joined;
  int Tracks = 0;
  for (int n = 1; fs::exists(Dir.File(TrackFileName(n))); ++n, ++Tracks) {
    const Bytes File = test::ReadFileBytes(Dir.File(TrackFileName(n)));
    ASSERT_GE(File.size(), 44u);
    EXPECT_EQ(File[20] | File[21] << 8, 0xFFFE) << n;
    EXPECT_EQ(File[34] | File[35] << 8, 24) << n;
    const Bytes a = test::WavData(Dir.File(TrackFileName(n)));
    Joined.insert(Joined.end(), a.begin(), a.end());
  }
  EXPECT_GE(Tracks, 3);
  const auto First = [](const Bytes& Pcm) {
    return static_cast<std::size_t>(
               std::find_if(Pcm.begin(), Pcm.end(), [](std::uint8_t b) { return b != 0; }) -
               Pcm.begin()) /
           6 * 6;
  };
  const std::size_t From = First(Hi), At = First(Joined);
  const std::size_t LastPiece = Side.Pieces.back().second / 4 * 96000 / 44100 * 6;
  ASSERT_LT(At, Joined.size());
  ASSERT_GE(Joined.size() - At, LastPiece - From) << "the last piece is not whole";
  EXPECT_TRUE(std::equal(Hi.begin() + static_cast<std::ptrdiff_t>(From),
                         Hi.begin() + static_cast<std::ptrdiff_t>(LastPiece),
                         Joined.begin() + static_cast<std::ptrdiff_t>(At)))
      << "the tracks differ from the side";
}

// A long unattended take through the window: the input goes away in the
// middle of a programme (the sound server's sink removed, as a card
// unplugged) and comes back 3 s later under the same name. The window says at
// once that it waits, goes on in the same track when the input is back and
// says the absence; the track holds the programme on both sides and keeps the
// absence as a cue point. The wait is the user's choice in Options.
TEST(RecorderJourney, AnInputThatGoesAndComesBackIsWaitedForInTheSameTrack) {
  test::PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  test::TempDir Dir;
  const FreshStartIn FirstStart(Dir);
  const Bytes Programme = test::NoiseProgramme(16);
  const std::size_t Half = Programme.size() / 2;
  test::WriteFileBytes(Dir.File("first.raw"), Bytes(Programme.begin(), Programme.begin() + Half));
  test::WriteFileBytes(Dir.File("second.raw"), Bytes(Programme.begin() + Half, Programme.end()));
  auto Ended = [](pid_t Child) {
    int Status = 0;
    return ::waitpid(Child, &Status, WNOHANG) == Child;
  };
  Program P;
  TFormAudioRecorderMain& W = *P.Window;
  MenuItem(W, "Wait 1 min for It to Come Back")->trigger();
  QTest::mouseClick(W.rbAutoOff, Qt::LeftButton);
  Activate(W);
  QTest::keyClick(&W, Qt::Key_F12);
  ASSERT_TRUE(W.Recording());
  const std::string Track = Dir.File(TrackFileName(1));
  auto Holds = [&](double Seconds) { return test::PulseServer::Holds(Track, Seconds); };
  ASSERT_TRUE(Holds(0.25));
  const pid_t First = test::PulseServer::PlayRaw(Dir.File("first.raw"));
  ASSERT_TRUE(Holds(4));
  ASSERT_TRUE(Server.RemoveSink());
  const auto Removed = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] {
    return W.StatusText() == "The input is gone; waiting for it to come back";
  })) << W.StatusText().toStdString();
  EXPECT_TRUE(W.Recording());
  Photograph(W, "input-gone-waiting");
  ASSERT_TRUE(WaitUntil([&] { return Ended(First); }));  // its sink went
  ASSERT_TRUE(WaitUntil(
      [&] { return std::chrono::steady_clock::now() > Removed + std::chrono::seconds(3); }));
  ASSERT_TRUE(Server.AddSink());
  ASSERT_TRUE(WaitUntil([&] { return W.StatusText().contains("the input was gone for"); }))
      << W.StatusText().toStdString();
  Photograph(W, "input-back");
  const pid_t Second = test::PulseServer::PlayRaw(Dir.File("second.raw"));
  ASSERT_TRUE(WaitUntil([&] { return Ended(Second); }, std::chrono::seconds(60)));
  std::error_code e;
  ASSERT_TRUE(Holds(static_cast<double>(fs::file_size(Track, e) - 44) / 176400 + 1));
  QTest::keyClick(&W, Qt::Key_F10);
  ASSERT_TRUE(WaitUntil([&] { return !W.Recording(); }));
  EXPECT_EQ(W.Grid->rowCount(), 2) << "one track (and the row for the next)";

  const Bytes Audio = test::WavData(Track);
  std::int64_t Start = 0;
  test::Departure d;
  ASSERT_TRUE(test::Follow(Audio, Programme, Start, d)) << "the track does not hold the programme";
  ASSERT_GT(d.At, Start + 3 * 44100);
  ASSERT_GT(d.ResumedAt, d.At) << "the second half is not in the track";
  // To its last sample (a sound that starts into a sink misses up to a
  // fragment of its beginning on the monitor).
  EXPECT_GE(d.EqualAfter, static_cast<std::int64_t>(Half / 4) - 1024);
  const auto Points = test::CuePoints(test::ReadFileBytes(Track));
  ASSERT_EQ(Points.size(), 1u);
  EXPECT_NEAR(static_cast<double>(Points[0].first), static_cast<double>(d.At), 0.1 * 44100);
  double Gone = 0;
  ASSERT_EQ(std::sscanf(Points[0].second.c_str(), "input gone %lf s", &Gone), 1)
      << Points[0].second;
  EXPECT_GT(Gone, 2.5);
  EXPECT_LT(Gone, 6);
}

// The meters filmed as a user sees them: ten full-scale clicks 2.5 s apart
// in digital silence, played into the sink the window monitors; ffmpeg films
// both bars from the X server at 25 frames a second. Each bar's far end is
// lit once per click, for as long as the peak marker holds: about a second
// (2 x 20 + 1 ticks of 25 ms), then it drops at once. Both bars: the click
// wakes their falls one after the other, and the second must not wait longer.
TEST(RecorderJourney, ThePeakMarkerHoldsAboutASecondAfterEachClickOnTheScreen) {
  test::PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  test::TempDir Dir;
  const FreshStartIn FirstStart(Dir);
  constexpr int kClicks = 10;
  Bytes Clicks(static_cast<std::size_t>((1.5 + 2.5 * kClicks) * 44100) * 4, 0);
  for (int k = 0; k < kClicks; ++k) {
    const auto At = static_cast<std::size_t>((1.5 + 2.5 * k) * 44100);
    for (std::size_t b = 4 * At; b < 4 * (At + 8); b += 2) {
      Clicks[b] = 0xFF;
      Clicks[b + 1] = 0x7F;
    }
  }
  test::WriteFileBytes(Dir.File("clicks.raw"), Clicks);
  Program P;
  TFormAudioRecorderMain& W = *P.Window;
  ASSERT_TRUE(WaitUntil([&] { return W.miMonitorLevels->isChecked(); }));
  QApplication::processEvents();
  // The two bars on the screen, in the X server's pixels: the film spans from
  // the left bar's top to the right bar's bottom.
  const double Ratio = W.devicePixelRatioF();
  const QPoint Origin = W.levelLeft->mapToGlobal(QPoint(0, 0));
  const int Width = static_cast<int>(W.levelLeft->width() * Ratio) / 2 * 2;
  const int Height =
      static_cast<int>(
          (W.levelRight->mapToGlobal(QPoint(0, W.levelRight->height())).y() - Origin.y()) * Ratio) /
      2 * 2;
  const int RightTop =
      static_cast<int>((W.levelRight->mapToGlobal(QPoint(0, 0)).y() - Origin.y()) * Ratio);
  const int BarHeight = static_cast<int>(W.levelLeft->height() * Ratio);
  const std::string Film = Dir.File("film.rgb");
  const double Seconds = 1.5 + 2.5 * kClicks + 1.5;
  const pid_t Camera = ::fork();
  if (Camera == 0) {
    const std::string Input = Screen->Display() + "+" +
                              std::to_string(static_cast<int>(Origin.x() * Ratio)) + "," +
                              std::to_string(static_cast<int>(Origin.y() * Ratio));
    const std::string Size = std::to_string(Width) + "x" + std::to_string(Height);
    ::execlp("ffmpeg", "ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-framerate", "25",
             "-video_size", Size.c_str(), "-i", Input.c_str(), "-t",
             std::to_string(Seconds).c_str(), "-f", "rawvideo", "-pix_fmt", "rgb24", Film.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const pid_t Player = test::PulseServer::PlayRaw(Dir.File("clicks.raw"));
  // The window goes on drawing while both run.
  auto Ended = [](pid_t Child) {
    int Status = 0;
    return ::waitpid(Child, &Status, WNOHANG) == Child;
  };
  bool PlayerEnded = false, CameraEnded = false;
  // Beside the film, the left bar's own word for its marker, as the main
  // thread sees it: how long each marker was up there (when the film and
  // this differ, the drawing is at fault; when both, the marker's time).
  std::vector<double> WordLives;
  std::chrono::steady_clock::time_point Up;
  bool WasUp = false;
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (const bool IsUp = W.levelLeft->Peak() > 0; IsUp != WasUp) {
          const auto Now = std::chrono::steady_clock::now();
          if (IsUp) Up = Now;
          else WordLives.push_back(std::chrono::duration<double>(Now - Up).count());
          WasUp = IsUp;
        }
        PlayerEnded = PlayerEnded || Ended(Player);
        CameraEnded = CameraEnded || Ended(Camera);
        return PlayerEnded && CameraEnded;
      },
      std::chrono::seconds(90)));
  std::string Word = "left, its word:";
  for (const double l : WordLives) Word += " " + std::to_string(l) + " s";
  std::printf("the marker's lives, %s\n", Word.c_str());
  const Bytes Frames = test::ReadFileBytes(Film);
  const auto FrameBytes = static_cast<std::size_t>(3 * Width * Height);
  ASSERT_GE(Frames.size() / FrameBytes, static_cast<std::size_t>(25 * (Seconds - 2)));
  // The reddest pixel of each bar's last twentieth (its lamps are red there,
  // dim when unlit), frame by frame, and how long each lighting lasted.
  for (const int Top : {0, RightTop}) {
    const char* Bar = Top == 0 ? "left" : "right";
    std::vector<int> Far;
    for (std::size_t f = 0; f + FrameBytes <= Frames.size(); f += FrameBytes) {
      int Most = 0;
      for (int y = Top; y < std::min(Top + BarHeight, Height); ++y)
        for (int x = Width * 19 / 20; x < Width; ++x)
          Most = std::max<int>(Most, Frames[f + 3 * static_cast<std::size_t>(y * Width + x)]);
      Far.push_back(Most);
    }
    const int Dark = *std::min_element(Far.begin(), Far.end());
    const int Lit = *std::max_element(Far.begin(), Far.end());
    ASSERT_GT(Lit - Dark, 60) << "the " << Bar << " bar's end never lit";
    std::vector<double> Lives;
    for (std::size_t f = 0; f < Far.size();) {
      if (Far[f] < (Dark + Lit) / 2) {
        ++f;
        continue;
      }
      std::size_t End = f;
      while (End < Far.size() && Far[End] >= (Dark + Lit) / 2) ++End;
      Lives.push_back(static_cast<double>(End - f) / 25);
      f = End;
    }
    std::string Said = std::string(Bar) + ":";
    for (const double l : Lives) Said += " " + std::to_string(l) + " s";
    std::printf("the marker's lives, %s\n", Said.c_str());
    ASSERT_EQ(Lives.size(), static_cast<std::size_t>(kClicks)) << Said << "; " << Word;
    for (const double l : Lives) {
      EXPECT_GT(l, 0.8) << Said << "; " << Word;
      EXPECT_LT(l, 1.6) << Said << "; " << Word;
    }
  }
}

}  // namespace
}  // namespace velmar

// The whole run draws on a private X server, as a user's desktop.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (ctest asks before it runs them) needs no screen.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  // A screen that holds the windows whole at the scale asked for.
  const int Scale = velmar::Scale();
  velmar::test::XvfbServer X(1280 * Scale / 100, 1024 * Scale / 100);
  if (!X.Started()) {
    std::fprintf(stderr, "Xvfb did not start\n");
    return 1;
  }
  velmar::Screen = &X;
  ::setenv("DISPLAY", X.Display().c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication App(argc, argv);
  velmar::TQtEventPump Pump;
  return RUN_ALL_TESTS();
}
