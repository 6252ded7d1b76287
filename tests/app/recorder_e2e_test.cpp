// velmar-recorder as a user starts it: on a private X server, found by its
// title, photographed, and ended by a signal as a desktop would end it.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "app/recorder_settings.h"
#include "platform/registry/settings_store.h"
#include "session/track_rule.h"
#include "tests/support/cpu_load.h"
#include "tests/support/noise_programme.h"
#include "tests/support/pulse_server.h"
#include "tests/support/wav_data.h"

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

namespace velmar {
namespace {

using test::ChildProcess;
using test::TempDir;
using test::XvfbServer;

// The program under test, built beside this test.
std::string RecorderProgram() {
  return VELMAR_RECORDER_PROGRAM;
}

TEST(RecorderProgram, StartsOnAnXServerAndEndsCleanlyOnTermAndInt) {
  XvfbServer X;
  ASSERT_TRUE(X.Started());
  for (const int Signal : {SIGTERM, SIGINT}) {
    TempDir Dir;
    ChildProcess Program({RecorderProgram()}, Dir.Path(),
                         {{"DISPLAY", X.Display()},
                          {"QT_QPA_PLATFORM", "xcb"},
                          {"XDG_CONFIG_HOME", Dir.File("config")},
                          {"XDG_RUNTIME_DIR", Dir.Path()}});
    const std::string Window = X.FindWindow("^Velmar Audio Recorder Velmar Audio Recorder ");
    ASSERT_FALSE(Window.empty()) << "no window appeared";
    EXPECT_NE(X.Xdotool("getwindowgeometry " + Window).find("Geometry: 543x348"),
              std::string::npos);
    if (Signal == SIGTERM) {
      EXPECT_TRUE(X.Screenshot(test::ScreenshotFolder() + "/recorder-start.png"));
    }
    Program.Signal(Signal);
    EXPECT_EQ(Program.WaitForExit(), 0);
    EXPECT_TRUE(std::filesystem::exists(Dir.File("velmar_audio_recorer.log")));
  }
}

// The program recording into Dir's "recordings" folder with its settings in
// Dir's "config" (where the test writes them), on X; its main window, and keys
// pressed in it.
struct Recorder {
  const XvfbServer& X;
  std::string Out, Window;
  std::unique_ptr<ChildProcess> Program;

  Recorder(const XvfbServer& Screen, const TempDir& Dir) : X(Screen), Out(Dir.File("recordings")) {
    std::filesystem::create_directories(Out);
    Program = std::make_unique<ChildProcess>(
        std::vector<std::string>{RecorderProgram()}, Out,
        std::map<std::string, std::string>{{"DISPLAY", X.Display()},
                                           {"QT_QPA_PLATFORM", "xcb"},
                                           {"XDG_CONFIG_HOME", Dir.File("config")},
                                           {"XDG_CACHE_HOME", Dir.File("cache")}});
    Window = X.FindWindow("^Velmar Audio Recorder Velmar Audio Recorder $");
  }
  void Keys(const std::string& Keys) const { X.Xdotool("windowfocus " + Window + " key " + Keys); }
  std::string Track(int n) const { return Out + "/" + TrackFileName(n); }
  // Track n holds audio already: the input delivers (the file alone is made
  // before the device has started, which on a busy machine took seconds).
  bool Recording(int n = 1) const {
    std::error_code e;
    return std::filesystem::file_size(Track(n), e) > 44 + 44100 && !e;
  }
  // Ended as a desktop ends it; its exit status.
  int End() const {
    Program->Signal(SIGTERM);
    return Program->WaitForExit();
  }
};

// Seconds from the first to the last loud frame of a track.
double SoundSeconds(const std::vector<std::uint8_t>& Audio) {
  std::size_t First = 0, Last = 0;
  for (std::size_t f = 0; f < Audio.size() / 4; ++f) {
    if (std::abs(static_cast<std::int16_t>(Audio[4 * f] | Audio[4 * f + 1] << 8)) <= 1000) continue;
    if (Last == 0) First = f;
    Last = f + 1;
  }
  return static_cast<double>(Last - First) / 44100;
}

TEST(RecorderProgram, RecordsAPlayedProgrammeIntoTracksAndKeepsItsSettings) {
  test::PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  XvfbServer X;
  ASSERT_TRUE(X.Started());
  TempDir Dir;
  const std::string Programme = Dir.File("programme.wav"), Cd = " -r 44100 -b 16 -c 2 ";
  int Status = -1;
  test::RunCommand("sox -n" + Cd + Dir.File("t.wav") + " synth 4 sine 440 vol 0.5 && sox -n" + Cd +
                       Dir.File("s.wav") + " trim 0 3 && sox " + Dir.File("t.wav") + " " +
                       Dir.File("s.wav") + " " + Dir.File("t.wav") + " " + Dir.File("s.wav") + " " +
                       Programme,
                   &Status);
  ASSERT_EQ(Status, 0);

  // The recorder records the default input until the Devices dialog is used:
  // here the default input is the sink's monitor.
  test::UseAlsaConfig(
      Dir.File("asound.conf"),
      "pcm.!default { type pulse device \"test.monitor\" hint { show on description "
      "\"Default\" } }\n"
      "pcm.velmar_pulse_out { type pulse device \"test\" hint { show on description "
      "\"Test sink\" } }\n");
  const int Input = 0;
  // The user's settings: that input, automatic splitting, a minimum of 3 s.
  // (The gaps are 3 s long: the split restarts the device within them, which
  // takes a moment on a busy machine.)
  ::setenv("XDG_CONFIG_HOME", Dir.File("config").c_str(), 1);
  WriteRegValue(kSettingsRoot, kSettingsKey, "Input", Input);
  WriteRegValue(kSettingsRoot, kSettingsKey, "AutoSplit", true);
  WriteRegValue(kSettingsRoot, kSettingsKey, "MinSec", 3);

  const Recorder R(X, Dir);
  const std::string& Out = R.Out;
  ASSERT_FALSE(R.Window.empty()) << "no window appeared";
  R.Keys("F12");
  ASSERT_TRUE(test::WaitUntil([&] { return R.Recording(); }));
  test::RunCommand("paplay --device=test " + Programme, &Status);
  EXPECT_EQ(Status, 0);
  EXPECT_TRUE(X.Screenshot(test::ScreenshotFolder() + "/recorder-recorded.png"));
  R.Keys("F10");
  // The side just recorded, in the review window: shown once every track's
  // peaks have been read (and kept).
  R.Keys("ctrl+r");
  EXPECT_FALSE(X.FindWindow("^Velmar Audio Recorder - Review$").empty()) << "no review window";
  auto Count = [](const std::string& Folder, const std::string& Extension) {
    std::error_code e;
    return std::count_if(std::filesystem::directory_iterator(Folder, e),
                         std::filesystem::directory_iterator(),
                         [&](const auto& f) { return f.path().extension() == Extension; });
  };
  EXPECT_TRUE(test::WaitUntil([&] {
    return Count(Dir.File("cache/velmar-recorder/peaks"), ".peaks") == Count(Out, ".wav");
  }));
  EXPECT_TRUE(X.Screenshot(test::ScreenshotFolder() + "/recorder-review.png"));
  EXPECT_EQ(R.End(), 0);

  // Two tracks, each holding one of the two sounds whole.
  EXPECT_NEAR(SoundSeconds(test::WavData(Out + "/Track01.wav")), 4.0, 0.1);
  EXPECT_NEAR(SoundSeconds(test::WavData(Out + "/Track02.wav")), 4.0, 0.1);
  // The settings are in the store, and the log has every read, then every write.
  EXPECT_EQ(ReadRegValue(kSettingsRoot, kSettingsKey, "Input", -9), Input);
  EXPECT_EQ(ReadRegValue(kSettingsRoot, kSettingsKey, "NoiseGate", -9), 25);
  EXPECT_EQ(ReadRegValue(kSettingsRoot, kSettingsKey, "Path", std::string()), Out);
  std::ifstream LogFile(Out + "/velmar_audio_recorer.log");
  std::vector<std::string> Names;
  for (std::string Line; std::getline(LogFile, Line);) {
    std::istringstream Fields(Line);
    std::string Op, Key;
    std::getline(Fields, Op, '\t');
    std::getline(Fields, Key, '\t');
    Names.push_back(Op + " " + Key.substr(Key.rfind('\\') + 1));
  }
  // The encoder's values first (its library name is read from a key that does
  // not exist yet: nothing to log), the encoder program stored as an installer
  // would, then the window's settings: every read, then every write.
  const std::vector<std::string> Expected = {"Write FhGEncoder",
                                             "Write VelmEnc",
                                             "Write LameEnc",
                                             "Write BladeEnc",
                                             "Write MP3Help",
                                             "False Path",
                                             "False Filename",
                                             "Write Path",
                                             "Write Filename",
                                             "False MaxMinSec",
                                             "Write MaxMinSec",
                                             "Read Path",
                                             "Read NoiseGate",
                                             "Read WhideGate",
                                             "Read MinSec",
                                             "Read Input",
                                             "Read Output",
                                             "Read AutoSplit",
                                             "Read MaxMinSec",
                                             "Read GridColor",
                                             "Read GridBackGroundColor",
                                             "Read MonitorLevels",
                                             "Read StartOnSound",
                                             "Read SideEnd",
                                             "Read InputWait",
                                             "Read RecordingFormat",
                                             "Write Path",
                                             "Write NoiseGate",
                                             "Write WhideGate",
                                             "Write MinSec",
                                             "Write Input",
                                             "Write Output",
                                             "Write AutoSplit",
                                             "Write GridColor",
                                             "Write GridBackGroundColor",
                                             "Write MonitorLevels",
                                             "Write StartOnSound",
                                             "Write SideEnd",
                                             "Write InputWait",
                                             "Write RecordingFormat"};
  EXPECT_EQ(Names, Expected);
}

// A side of three 8 s sounds with 1.2 s gaps played into the sound server's
// sink while the window records its monitor, with a split by hand in the
// middle of the second sound: the tracks joined hold the side sample for
// sample, from its first sound to its last, whatever the splits.
void RecordASideThroughEverySplit(bool Loaded) {
  test::PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  XvfbServer X;
  ASSERT_TRUE(X.Started());
  TempDir Dir;
  const std::string Side = Dir.File("side.wav"), Cd = " -r 44100 -b 16 -c 2 ";
  int Status = -1;
  // Without dither: the gaps are true silence, and the sink's monitor gives
  // back exactly what was played.
  test::RunCommand("sox -D -n" + Cd + Dir.File("t.wav") + " synth 8 sine 440 vol 0.5 && sox -D -n" +
                       Cd + Dir.File("g.wav") + " trim 0 1.2 && sox -D " + Dir.File("g.wav") + " " +
                       Dir.File("t.wav") + " " + Dir.File("g.wav") + " " + Dir.File("t.wav") + " " +
                       Dir.File("g.wav") + " " + Dir.File("t.wav") + " " + Dir.File("g.wav") + " " +
                       Side,
                   &Status);
  ASSERT_EQ(Status, 0);
  test::UseAlsaConfig(Dir.File("asound.conf"),
                      "pcm.!default { type pulse device \"test.monitor\" hint { show on "
                      "description \"Default\" } }\n");
  ::setenv("XDG_CONFIG_HOME", Dir.File("config").c_str(), 1);
  WriteRegValue(kSettingsRoot, kSettingsKey, "AutoSplit", true);
  WriteRegValue(kSettingsRoot, kSettingsKey, "MinSec", 3);
  const Recorder R(X, Dir);
  ASSERT_FALSE(R.Window.empty()) << "no window appeared";
  std::optional<test::CpuLoad> Busy;
  if (Loaded) Busy.emplace();
  R.Keys("F12");
  const auto Track = [&](int n) { return R.Track(n); };
  ASSERT_TRUE(test::WaitUntil([&] { return R.Recording(); }));
  ChildProcess Player({"/usr/bin/paplay", "--device=test", Side}, Dir.Path(), {});
  // The first gap splits; 4.5 s into Track02.wav the second sound plays.
  const auto Bytes = [&](int n) {
    std::error_code e;
    const auto Size = std::filesystem::file_size(Track(n), e);
    return e ? 0 : Size;
  };
  ASSERT_TRUE(test::WaitUntil([&] { return Bytes(2) > 9 * 88200u; }, std::chrono::seconds(40)));
  R.Keys("F12");
  EXPECT_EQ(Player.WaitForExit(std::chrono::seconds(60)), 0);
  // The second and the third gap split too.
  EXPECT_TRUE(
      test::WaitUntil([&] { return std::filesystem::exists(Track(5)); }, std::chrono::seconds(20)));
  R.Keys("F10");
  Busy.reset();
  EXPECT_EQ(R.End(), 0);

  std::vector<std::uint8_t> Joined;
  std::string Ends;
  for (int n = 1; n <= 5; ++n) {
    const std::vector<std::uint8_t> Audio = test::WavData(Track(n));
    Joined.insert(Joined.end(), Audio.begin(), Audio.end());
    Ends += " " + std::to_string(Joined.size() / 4);
  }
  // From the first sound's first sample to the last sound's last.
  const auto Sound = [](const std::vector<std::uint8_t>& Audio, bool First) {
    const std::size_t Frames = Audio.size() / 4;
    for (std::size_t i = 0; i < Frames; ++i) {
      const std::size_t f = First ? i : Frames - 1 - i;
      if (Audio[4 * f] | Audio[4 * f + 1] | Audio[4 * f + 2] | Audio[4 * f + 3])
        return First ? f : f + 1;
    }
    return std::size_t{0};
  };
  const std::vector<std::uint8_t> Played = test::WavData(Side);
  const std::size_t From = Sound(Played, true), To = Sound(Played, false);
  const std::size_t At = Sound(Joined, true);
  ASSERT_GE(Joined.size() / 4, At + (To - From)) << "the side is not whole; tracks end at" << Ends;
  std::size_t Differ = 0, FirstDiffer = 0;
  for (std::size_t f = 0; f < To - From; ++f)
    if (std::memcmp(&Joined[4 * (At + f)], &Played[4 * (From + f)], 4) != 0 && Differ++ == 0)
      FirstDiffer = f;
  const auto Left = [](const std::vector<std::uint8_t>& Audio, std::size_t f) {
    return static_cast<std::int16_t>(Audio[4 * f] | Audio[4 * f + 1] << 8);
  };
  EXPECT_EQ(Differ, 0u) << Differ << " frames differ from frame " << FirstDiffer
                        << " of the side on (recorded " << Left(Joined, At + FirstDiffer)
                        << ", played " << Left(Played, From + FirstDiffer) << "); tracks end at"
                        << Ends;
  // Each split where it was asked for: in the gaps, and in the middle of the second sound.
  const std::vector<std::uint8_t> Second = test::WavData(Track(2));
  EXPECT_NE(Second[Second.size() - 1] | Second[Second.size() - 2], 0) << "the split by hand";
}

// Start on sound in the real program: Rec, 10 s of digital silence (longer
// than the minimum length), then two songs: no file while it waits, one track
// per song, and Track01.wav begins exactly the pre-roll (1 s) before the
// programme's first non-zero sample, the played samples from there on.
TEST(RecorderProgram, StartOnSoundRecordsFromASecondBeforeTheFirstSample) {
  test::PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  XvfbServer X;
  ASSERT_TRUE(X.Started());
  TempDir Dir;
  const std::string Side = Dir.File("side.wav"), Cd = " -r 44100 -b 16 -c 2 ";
  int Status = -1;
  test::RunCommand("sox -D -n" + Cd + Dir.File("t.wav") + " synth 5 sine 440 vol 0.5 fade 0.1 && " +
                       "sox -D -n" + Cd + Dir.File("g.wav") + " trim 0 3 && sox -D -n" + Cd +
                       Dir.File("lead.wav") + " trim 0 10 && sox -D " + Dir.File("lead.wav") + " " +
                       Dir.File("t.wav") + " " + Dir.File("g.wav") + " " + Dir.File("t.wav") + " " +
                       Dir.File("g.wav") + " " + Side,
                   &Status);
  ASSERT_EQ(Status, 0);
  test::UseAlsaConfig(Dir.File("asound.conf"),
                      "pcm.!default { type pulse device \"test.monitor\" hint { show on "
                      "description \"Default\" } }\n");
  ::setenv("XDG_CONFIG_HOME", Dir.File("config").c_str(), 1);
  WriteRegValue(kSettingsRoot, kSettingsKey, "AutoSplit", true);
  WriteRegValue(kSettingsRoot, kSettingsKey, "MinSec", 4);
  WriteRegValue(kSettingsRoot, kSettingsKey, "StartOnSound", 1);
  WriteRegValue(kSettingsRoot, kSettingsKey, "MonitorLevels", 0);  // the input only for Rec
  const Recorder R(X, Dir);
  ASSERT_FALSE(R.Window.empty()) << "no window appeared";
  R.Keys("F12");
  // Waiting: the window takes the input (a stream from the server's monitor).
  ASSERT_TRUE(test::WaitUntil(
      [&] { return !test::RunCommand("pactl list short source-outputs").empty(); }));
  ChildProcess Player({"/usr/bin/paplay", "--device=test", Side}, Dir.Path(), {});
  EXPECT_FALSE(std::filesystem::exists(R.Track(1)));  // waiting: no file
  EXPECT_EQ(Player.WaitForExit(std::chrono::seconds(60)), 0);
  // After the second song the side ends by itself (a silent track at the
  // minimum length).
  ASSERT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(R.Track(3)); },
                              std::chrono::seconds(20)));
  R.Keys("F10");
  EXPECT_EQ(R.End(), 0);

  const std::vector<std::uint8_t> Played = test::WavData(Side), One = test::WavData(R.Track(1)),
                                  Two = test::WavData(R.Track(2));
  const auto FirstSound = [](const std::vector<std::uint8_t>& Audio) {
    return static_cast<std::size_t>(
               std::find_if(Audio.begin(), Audio.end(), [](std::uint8_t b) { return b != 0; }) -
               Audio.begin()) /
           4;
  };
  const std::size_t From = FirstSound(Played);
  ASSERT_EQ(FirstSound(One), 44100u) << "the pre-roll";
  ASSERT_GE(One.size() + Two.size(), (44100 + 13 * 44100u) * 4) << "both songs";
  std::vector<std::uint8_t> Joined = One;
  Joined.insert(Joined.end(), Two.begin(), Two.end());
  EXPECT_TRUE(std::equal(Played.begin() + static_cast<std::ptrdiff_t>(4 * From),
                         Played.begin() + static_cast<std::ptrdiff_t>(4 * (From + 13 * 44100)),
                         Joined.begin() + 4 * 44100))
      << "the songs are not as played";
}

TEST(RecorderProgram, RecordsAPlayedSideGaplesslyThroughEverySplit) {
  RecordASideThroughEverySplit(false);
}

TEST(RecorderProgram, RecordsAPlayedSideGaplesslyThroughEverySplitUnderLoad) {
  RecordASideThroughEverySplit(true);
}

// The window's process stopped (as from a terminal) for 1.7 s, then for 30 s,
// while a never-repeating programme plays: the first stall costs nothing, the
// recording goes on after the second, which loses what the sound server could
// not hold; the track keeps that one dropout as a cue point where its audio
// departs from the programme, and the status line says it (photographed).
TEST(RecorderProgram, AStoppedWindowGoesOnRecordingAndKeepsTheDropout) {
  test::PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  XvfbServer X;
  ASSERT_TRUE(X.Started());
  TempDir Dir;
  const std::vector<std::uint8_t> Programme = test::NoiseProgramme(50);
  test::WriteFileBytes(Dir.File("programme.raw"), Programme);
  test::UseAlsaConfig(Dir.File("asound.conf"),
                      "pcm.!default { type pulse device \"test.monitor\" hint { show on "
                      "description \"Default\" } }\n");
  ::setenv("XDG_CONFIG_HOME", Dir.File("config").c_str(), 1);
  WriteRegValue(kSettingsRoot, kSettingsKey, "AutoSplit", false);
  const Recorder R(X, Dir);
  ASSERT_FALSE(R.Window.empty()) << "no window appeared";
  R.Keys("F12");
  ASSERT_TRUE(test::WaitUntil([&] { return R.Recording(); }));
  ChildProcess Player({"/usr/bin/paplay", "--device=test", "--raw", "--format=s16le",
                       "--rate=44100", "--channels=2", Dir.File("programme.raw")},
                      Dir.Path(), {});
  const auto Holds = [&](double Seconds) {
    return test::WaitUntil(
        [&] {
          std::error_code e;
          return static_cast<double>(std::filesystem::file_size(R.Track(1), e)) >
                     44 + Seconds * 176400 &&
                 !e;
        },
        std::chrono::seconds(90));
  };
  auto Stall = [&](double Seconds) {
    R.Program->Signal(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::duration<double>(Seconds));  // the stall itself
    R.Program->Signal(SIGCONT);
  };
  ASSERT_TRUE(Holds(5));
  Stall(1.7);
  ASSERT_TRUE(Holds(12));
  Stall(30);
  EXPECT_EQ(Player.WaitForExit(std::chrono::seconds(60)), 0);
  std::error_code e;
  ASSERT_TRUE(Holds(static_cast<double>(std::filesystem::file_size(R.Track(1), e)) / 176400 + 1));
  R.Keys("F10");
  EXPECT_TRUE(X.Screenshot(test::ScreenshotFolder() + "/recorder-dropout.png"));
  EXPECT_EQ(R.End(), 0);

  const std::vector<std::uint8_t> File = test::ReadFileBytes(R.Track(1));
  const std::vector<std::uint8_t> Audio = test::WavData(R.Track(1));
  std::int64_t Start = 0;
  test::Departure d;
  ASSERT_TRUE(test::Follow(Audio, Programme, Start, d)) << "the track does not hold the programme";
  ASSERT_GT(d.At, Start + 12 * 44100) << "the first stall lost audio";
  ASSERT_GT(d.ResumedAt, 0) << "the programme never came back after the second stall";
  const auto Points = test::CuePoints(File);
  ASSERT_EQ(Points.size(), 1u);
  // Where the loss is noticed lies within a period or two of where the audio
  // went (a loaded machine wakes the reader late).
  EXPECT_NEAR(static_cast<double>(Points[0].first), static_cast<double>(d.At), 0.25 * 44100);
  double Lost = 0;
  ASSERT_EQ(std::sscanf(Points[0].second.c_str(), "dropout %lf s", &Lost), 1) << Points[0].second;
  EXPECT_NEAR(Lost, static_cast<double>(d.Missing) / 44100, 0.1);
  std::printf("the window lost %.2f s at %.3f s (the programme: %.3f s at %.3f s)\n", Lost,
              Points[0].first / 44100.0, static_cast<double>(d.Missing) / 44100,
              static_cast<double>(d.At) / 44100);
}

// Recording, then playing, in quick turns, fifty times, while the window
// monitors the sink it plays into: the sound server stays up (it used to abort
// on audio our playback sent in shared memory that reached our monitor).
TEST(RecorderProgram, RecordsAndPlaysInTurnsWithoutHarmingTheSoundServer) {
  test::PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  XvfbServer X;
  ASSERT_TRUE(X.Started());
  TempDir Dir;
  test::UseAlsaConfig(Dir.File("asound.conf"),
                      "pcm.!default { type asym playback.pcm { type pulse device \"test\" } "
                      "capture.pcm { type pulse device \"test.monitor\" } hint { show on "
                      "description \"Default\" } }\n");
  const Recorder R(X, Dir);
  ASSERT_FALSE(R.Window.empty()) << "no window appeared";
  const auto Playing = [] { return !test::RunCommand("pactl list short sink-inputs").empty(); };
  constexpr int kTurns = 50;
  int Played = 0;
  for (int n = 1; n <= kTurns; ++n) {
    const std::string Track = R.Track(n);
    R.Keys("F12");
    ASSERT_TRUE(test::WaitUntil([&] {
      std::error_code e;
      return std::filesystem::file_size(Track, e) > 44 + 88200 && !e;
    })) << "turn "
        << n;
    R.Keys("F10");
    R.Keys("alt+i key p");
    if (test::WaitUntil(Playing, std::chrono::seconds(5))) ++Played;
    R.Keys("F10");
    ASSERT_TRUE(test::WaitUntil([&] { return !Playing(); })) << "turn " << n;
  }
  int Status = -1;
  test::RunCommand("pactl info", &Status);
  EXPECT_EQ(Status, 0) << "the sound server is gone";
  EXPECT_EQ(Played, kTurns);
  EXPECT_EQ(R.End(), 0);
}

// A WAV track of Frames frames of a pattern that never repeats within a side,
// written in pieces (an hour side is larger than a test should hold at once).
void WriteLongTrack(const std::string& Name, std::int64_t Frames, std::uint32_t Seed) {
  std::ofstream Out(Name, std::ios::binary);
  const auto Le32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) Out.put(static_cast<char>(v >> (8 * i)));
  };
  const auto Bytes = static_cast<std::uint32_t>(Frames * 4);
  Out.write("RIFF", 4);
  Le32(36 + Bytes);
  Out.write("WAVEfmt ", 8);
  Le32(16);
  Le32(0x00020001);
  Le32(44100);
  Le32(44100 * 4);
  Le32(0x00100004);
  Out.write("data", 4);
  Le32(Bytes);
  std::vector<std::uint32_t> Piece(1 << 18);
  std::uint32_t x = Seed * 2654435761u + 1;
  for (std::int64_t Left = Frames; Left > 0;) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(Left, Piece.size()));
    for (std::size_t i = 0; i < n; ++i) Piece[i] = x = x * 1664525u + 1013904223u;
    Out.write(reinterpret_cast<const char*>(Piece.data()), static_cast<std::streamsize>(4 * n));
    Left -= static_cast<std::int64_t>(n);
  }
}

// An hour side (three tracks) chosen in the review's file dialog, a mark
// deleted and Apply given by its key; SIGTERM (a logout) 0.3 s into the
// writing: the window lets the writing finish, then ends, and the folder holds
// one whole set of tracks, by ordinary names, that joins back to the side.
TEST(RecorderProgram, ALogoutDuringApplyLetsItFinishThenTheWindowEnds) {
  XvfbServer X;
  ASSERT_TRUE(X.Started());
  TempDir Dir;
  const std::string Out = Dir.File("recordings");
  std::filesystem::create_directories(Out);
  constexpr std::int64_t kTrackFrames = 20LL * 60 * 44100;
  for (int n = 1; n <= 3; ++n) {
    WriteLongTrack(Out + "/" + TrackFileName(n), kTrackFrames, static_cast<std::uint32_t>(n));
  }
  const auto SideHash = [](const std::vector<std::string>& Tracks) {
    std::uint64_t h = 14695981039346656037ULL;
    std::int64_t Frames = 0;
    for (const std::string& t : Tracks) {
      const auto a = test::WavData(t);
      for (const std::uint8_t b : a) h = (h ^ b) * 1099511628211ULL;
      Frames += static_cast<std::int64_t>(a.size() / 4);
    }
    return std::make_pair(h, Frames);
  };
  const auto Before = SideHash({Out + "/Track01.wav", Out + "/Track02.wav", Out + "/Track03.wav"});

  // No sound: the window runs on its demo input, which this does not need.
  ChildProcess Program({RecorderProgram()}, Out,
                       {{"DISPLAY", X.Display()},
                        {"QT_QPA_PLATFORM", "xcb"},
                        {"XDG_CONFIG_HOME", Dir.File("config")},
                        {"XDG_CACHE_HOME", Dir.File("cache")}});
  const std::string Window = X.FindWindow("^Velmar Audio Recorder Velmar Audio Recorder");
  ASSERT_FALSE(Window.empty()) << "no window appeared";
  X.Xdotool("windowfocus --sync " + Window + " key ctrl+r");
  const std::string Dialog = X.FindWindow("^Review Tracks$");
  ASSERT_FALSE(Dialog.empty()) << "no file dialog";
  X.Xdotool("windowfocus --sync " + Dialog +
            " type --delay 5 '\"Track01.wav\" \"Track02.wav\" \"Track03.wav\"'");
  X.Xdotool("windowfocus " + Dialog + " key Return");
  const std::string Review = X.FindWindow("^Velmar Audio Recorder - Review$");
  ASSERT_FALSE(Review.empty()) << "no review window";
  // The side has been read once its three tracks' peaks are cached.
  const std::string Peaks = Dir.File("cache/velmar-recorder/peaks");
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        std::error_code e;
        int Count = 0;
        for (const auto& f : std::filesystem::directory_iterator(Peaks, e))
          Count += f.path().extension() == ".peaks";
        return Count == 3;
      },
      std::chrono::seconds(120)));
  const auto Writing = [&] {
    for (const auto& f : std::filesystem::directory_iterator(Out))
      if (f.path().filename().string()[0] == '.') return true;
    return false;
  };
  // Keys before the window has shown the side are refused: asked again.
  for (int Try = 0; Try < 20 && !Writing(); ++Try) {
    X.Xdotool("windowfocus " + Review + " key Delete ctrl+Return");
    test::WaitUntil(Writing, std::chrono::seconds(2));
  }
  ASSERT_TRUE(Writing()) << "Apply did not start";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the moment of the logout
  Program.Signal(SIGTERM);
  EXPECT_EQ(Program.WaitForExit(std::chrono::seconds(300)), 0);
  const auto Ended = std::filesystem::file_time_type::clock::now();

  std::vector<std::string> Names, Tracks;
  for (const auto& f : std::filesystem::directory_iterator(Out))
    Names.push_back(f.path().filename());
  std::sort(Names.begin(), Names.end());
  ASSERT_FALSE(Names.empty());
  for (const std::string& Name : Names) {
    EXPECT_NE(Name[0], '.') << Name;
    EXPECT_EQ(Name.find("(new)"), std::string::npos) << Name;
    if (Name.ends_with(".wav")) Tracks.push_back(Out + "/" + Name);
  }
  EXPECT_LT(Tracks.size(), 3u) << "the rewrite did not happen: " << ::testing::PrintToString(Names);
  EXPECT_EQ(SideHash(Tracks), Before);
  // The window ended within seconds of the writing's last step.
  const auto LastStep = std::filesystem::last_write_time(Out);
  EXPECT_LT(Ended - LastStep, std::chrono::seconds(10));
}

}  // namespace
}  // namespace velmar
