// velmar-mp3 against the peers: MP3s of files made by sox (PCM 8, 16 and 24
// bit, floating point, IMA and MS ADPCM) read back by ffprobe with the source's rate and channels,
// decode in ffmpeg to the source's length within one MP3 frame, and a 1 kHz tone correlates with
// its source; a missing file is reported and skipped; a cancelled run leaves no partial file.
#include <gtest/gtest.h>

#include <signal.h>
#include <cstring>

#include <cmath>
#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/support/wav_data.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;

std::string Probe(const std::string& File, const std::string& Entry) {
  std::string Out =
      RunCommand("ffprobe -v error -show_entries stream=" + Entry + " -of csv=p=0 '" + File + "'");
  while (!Out.empty() && (Out.back() == '\n' || Out.back() == ',')) Out.pop_back();
  return Out;
}

// The MP3 decoded by ffmpeg to 16-bit samples in its own rate and channels.
std::vector<std::int16_t> Decode(const std::string& Mp3) {
  test::TempDir Dir;
  RunCommand("ffmpeg -v error -i '" + Mp3 + "' -f s16le '" + Dir.File("pcm") + "'");
  const std::vector<std::uint8_t> Bytes = test::ReadFileBytes(Dir.File("pcm"));
  std::vector<std::int16_t> Samples(Bytes.size() / 2);
  for (std::size_t i = 0; i < Samples.size(); ++i)
    Samples[i] = static_cast<std::int16_t>(Bytes[2 * i] | Bytes[2 * i + 1] << 8);
  return Samples;
}

TEST(VelmarMp3, EncodesWhatTheEngineReadsAsThePeersExpect) {
  test::TempDir Dir;
  struct Source {
    std::string Name, Sox;
    int Rate, Channels;
    double Seconds;
  };
  const Source Sources[] = {{"tone.wav", "-r 44100 -b 16 -c 2", 44100, 2, 4.0},
                            {"mono8.wav", "-r 22050 -b 8 -c 1", 22050, 1, 3.0},
                            {"adpcm.wav", "-r 44100 -c 2 -e ima-adpcm", 44100, 2, 3.0},
                            {"ms.wav", "-r 32000 -c 1 -e ms-adpcm", 32000, 1, 2.0},
                            {"wide.wav", "-r 48000 -b 24 -c 2", 48000, 2, 2.0},
                            {"float.wav", "-r 44100 -b 32 -e floating-point -c 2", 44100, 2, 2.0}};
  std::string Files;
  for (const Source& s : Sources) {
    int Status = -1;
    RunCommand("sox -n " + s.Sox + " '" + Dir.File(s.Name) + "' synth " +
                   std::to_string(s.Seconds) + " sine 1000 vol 0.5",
               &Status);
    ASSERT_EQ(Status, 0);
    Files += " '" + Dir.File(s.Name) + "'";
  }
  // A file that is not there is reported on the error output, and the others go on.
  int Status = -1;
  const std::string Out =
      RunCommand(std::string(VELMAR_MP3) + " --no-window" + Files + " '" + Dir.File("missing.wav") +
                     "' 2>'" + Dir.File("errors") + "'",
                 &Status);
  EXPECT_EQ(Status, 1);
  const std::vector<std::uint8_t> Errors = test::ReadFileBytes(Dir.File("errors"));
  EXPECT_NE(std::string(Errors.begin(), Errors.end()).find("missing.wav: the file does not exist"),
            std::string::npos)
      << Out;
  EXPECT_EQ(Out.find("missing.wav"), std::string::npos) << Out;
  for (const Source& s : Sources) {
    const std::string Mp3 = Dir.File(fs::path(s.Name).replace_extension(".mp3"));
    ASSERT_TRUE(fs::exists(Mp3)) << Out;
    EXPECT_EQ(Probe(Mp3, "sample_rate"), std::to_string(s.Rate));
    EXPECT_EQ(Probe(Mp3, "channels"), std::to_string(s.Channels));
    EXPECT_EQ(Probe(Mp3, "codec_name"), "mp3");
    const std::vector<std::int16_t> Decoded = Decode(Mp3);
    const double Seconds = static_cast<double>(Decoded.size()) / s.Channels / s.Rate;
    EXPECT_NEAR(Seconds, s.Seconds, 1152.0 / s.Rate) << s.Name;
  }
  // The 16-bit tone against its source, left channel, as a player plays it.
  const std::vector<std::uint8_t> Wav = test::WavData(Dir.File("tone.wav"));
  const std::vector<std::int16_t> Mp3 = Decode(Dir.File("tone.mp3"));
  double xy = 0, xx = 0, yy = 0;
  for (std::size_t f = 0; f < std::min(Wav.size() / 4, Mp3.size() / 2); ++f) {
    const double x = static_cast<std::int16_t>(Wav[4 * f] | Wav[4 * f + 1] << 8), y = Mp3[2 * f];
    xy += x * y, xx += x * x, yy += y * y;
  }
  EXPECT_GT(xy / std::sqrt(xx * yy), 0.99);
  // Never over an existing file: a second run gives numbered names.
  RunCommand(std::string(VELMAR_MP3) + " --no-window '" + Dir.File("tone.wav") + "'", &Status);
  EXPECT_EQ(Status, 0);
  EXPECT_TRUE(fs::exists(Dir.File("tone-2.mp3")));
}

// However a run ends before its files are done (Ctrl-C, SIGTERM in line and
// window mode, a hung-up terminal, a file-size limit), no partial MP3 stays.
TEST(VelmarMp3, AnInterruptedRunLeavesNoPartialFile) {
  test::TempDir Dir;
  int Status = -1;
  RunCommand(
      "sox -n -r 44100 -b 16 -c 2 '" + Dir.File("long.wav") + "' synth 600 pinknoise vol 0.3",
      &Status);
  ASSERT_EQ(Status, 0);
  struct Case {
    int Signal;
    bool Window;
  };
  for (const Case c : {Case{SIGTERM, false}, Case{SIGINT, false}, Case{SIGHUP, false},
                       Case{SIGTERM, true}, Case{SIGHUP, true}}) {
    std::vector<std::string> Args{VELMAR_MP3, Dir.File("long.wav")};
    if (!c.Window) Args.insert(Args.begin() + 1, "--no-window");
    test::ChildProcess Encoder(Args, Dir.Path(), {{"QT_QPA_PLATFORM", "offscreen"}});
    ASSERT_TRUE(test::WaitUntil([&] { return fs::exists(Dir.File("long.mp3.part")); }));
    Encoder.Signal(c.Signal);
    EXPECT_EQ(Encoder.WaitForExit(), 130) << c.Signal << (c.Window ? " window" : "");
    EXPECT_FALSE(fs::exists(Dir.File("long.mp3.part"))) << c.Signal << (c.Window ? " window" : "");
    EXPECT_FALSE(fs::exists(Dir.File("long.mp3")));
  }
  // 200 blocks of 512 bytes for files written. The failure is said on the
  // error output, where scripts look for it, not among the results.
  const std::string Out =
      RunCommand("ulimit -f 200; " + std::string(VELMAR_MP3) + " --no-window '" +
                     Dir.File("long.wav") + "' 2>'" + Dir.File("errors") + "'",
                 &Status);
  const std::vector<std::uint8_t> Errors = test::ReadFileBytes(Dir.File("errors"));
  const std::string Said(Errors.begin(), Errors.end());
  EXPECT_EQ(Status, 1) << Said;
  EXPECT_NE(Said.find("velmar-mp3: " + Dir.File("long.wav") + ": writing the MP3 failed"),
            std::string::npos)
      << Said;
  EXPECT_EQ(Out.find("failed"), std::string::npos) << Out;
  EXPECT_FALSE(fs::exists(Dir.File("long.mp3.part")));
}

// Names at the file system's limit and a partial file an earlier, killed run
// left: each file of the run is encoded (a long name crashed the program and
// lost the others; the old partial file blocked its track for good).
TEST(VelmarMp3, LongNamesAndStalePartialFilesDoNotStopARun) {
  test::TempDir Dir;
  const std::string Long = Dir.File(std::string(250, 'x') + ".wav");
  const std::string Short = Dir.File("short.wav");
  int Status = -1;
  for (const std::string& File : {Long, Short})
    RunCommand("sox -n -r 44100 -b 16 -c 2 '" + File + "' synth 1 sine 440 vol 0.3", &Status);
  ASSERT_EQ(Status, 0);
  test::WriteFileBytes(Dir.File(std::string(250, 'x') + ".mp3"), {1, 2, 3});  // taken
  test::WriteFileBytes(Dir.File("short.mp3.part"), {4, 5, 6});
  RunCommand("touch -d 2020-01-01 '" + Dir.File("short.mp3.part") + "'", &Status);
  const std::string Said = RunCommand(
      std::string(VELMAR_MP3) + " --no-window '" + Long + "' '" + Short + "' 2>&1", &Status);
  EXPECT_EQ(Status, 0) << Said;
  EXPECT_EQ(Probe(Dir.File("short.mp3"), "sample_rate"), "44100");
  EXPECT_FALSE(fs::exists(Dir.File("short.mp3.part")));
  int Shortened = 0;
  for (const auto& Entry : fs::directory_iterator(Dir.Path()))
    Shortened +=
        Entry.path().extension() == ".mp3" && Entry.path().filename().string().size() < 250;
  EXPECT_EQ(Shortened, 2) << Said;  // short.mp3 and the long one, cut to fit
}

// A display that is named but cannot be reached (ssh, tmux): one line per
// file, saying so, instead of an abort.
TEST(VelmarMp3, AnUnreachableDisplayFallsBackToLines) {
  test::TempDir Dir;
  int Status = -1;
  RunCommand("sox -n -r 44100 -b 16 -c 2 '" + Dir.File("a.wav") + "' synth 1 sine 440", &Status);
  ASSERT_EQ(Status, 0);
  const std::string Said =
      RunCommand("env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY DISPLAY=:97 " +
                     std::string(VELMAR_MP3) + " '" + Dir.File("a.wav") + "' 2>&1",
                 &Status);
  EXPECT_EQ(Status, 0) << Said;
  EXPECT_NE(Said.find("velmar-mp3: the display :97 cannot be reached; one line per file"),
            std::string::npos)
      << Said;
  EXPECT_TRUE(fs::exists(Dir.File("a.mp3")));
}

// A title beyond ASCII (the rename dialog makes such names) reads back as
// written, not as Latin-1 read from UTF-8 bytes ("MÃ¶tley").
TEST(VelmarMp3, TitlesBeyondAsciiReadBackAsWritten) {
  test::TempDir Dir;
  const std::string Wav = Dir.File("Mötley Crüe é 🎵.wav");
  int Status = -1;
  RunCommand("sox -n -r 44100 -b 16 -c 2 '" + Wav + "' synth 1 sine 440", &Status);
  ASSERT_EQ(Status, 0);
  RunCommand(std::string(VELMAR_MP3) + " --no-window '" + Wav + "'", &Status);
  ASSERT_EQ(Status, 0);
  std::string Title = RunCommand("ffprobe -v error -show_entries format_tags=title -of csv=p=0 '" +
                                 Dir.File("Mötley Crüe é 🎵.mp3") + "'");
  while (!Title.empty() && Title.back() == '\n') Title.pop_back();
  EXPECT_EQ(Title, "Mötley Crüe é 🎵");
}

// FLAC: lossless (the decoded audio is the WAV's, byte for byte; 24-bit stays
// 24-bit), the INFO title as a Vorbis comment, the audio's MD5 in the stream
// info, never over a file, and nothing left when interrupted.
TEST(VelmarMp3, FlacFilesAreLosslessTaggedAndNeverPartial) {
  test::TempDir Dir;
  int Status = -1;
  RunCommand("sox -n -r 44100 -b 16 -c 2 '" + Dir.File("a.wav") +
                 "' synth 3 pinknoise vol 0.5 && sox -n -r 48000 -b 24 -c 2 '" +
                 Dir.File("b24.wav") + "' synth 2 sine 440 synth 2 pinknoise mix vol 0.7",
             &Status);
  ASSERT_EQ(Status, 0);
  const std::string Title = "Étude № 3";
  test::Bytes Info = test::Id("INFO");
  const test::Bytes Name = test::Chunk("INAM", test::Bytes(Title.begin(), Title.end() + 1));
  Info.insert(Info.end(), Name.begin(), Name.end());
  test::WriteFileBytes(Dir.File("titled.wav"),
                       test::Riff({test::PcmFmt(2, 44100, 16), test::Chunk("LIST", Info),
                                   test::Chunk("data", test::WavData(Dir.File("a.wav")))}));
  const std::string Said =
      RunCommand(std::string(VELMAR_MP3) + " --no-window --flac --level 8 '" + Dir.File("a.wav") +
                     "' '" + Dir.File("b24.wav") + "' '" + Dir.File("titled.wav") + "' 2>&1",
                 &Status);
  ASSERT_EQ(Status, 0) << Said;
  for (const std::string Stem : {"a", "b24", "titled"}) {
    const std::string Flac = Dir.File(Stem + ".flac");
    RunCommand("flac -t -s '" + Flac + "'", &Status);
    EXPECT_EQ(Status, 0) << Stem;
    RunCommand("flac -d -s -c --force-raw-format --endian=little --sign=signed '" + Flac + "' > '" +
                   Dir.File(Stem + ".raw") + "'",
               &Status);
    EXPECT_TRUE(test::ReadFileBytes(Dir.File(Stem + ".raw")) ==
                test::WavData(Dir.File(Stem + ".wav")))
        << Stem;
    EXPECT_NE(RunCommand("metaflac --show-md5sum '" + Flac + "'"),
              "00000000000000000000000000000000\n");
  }
  EXPECT_EQ(RunCommand("metaflac --show-bps '" + Dir.File("b24.flac") + "'"), "24\n");
  EXPECT_EQ(RunCommand("metaflac --show-tag=TITLE '" + Dir.File("titled.flac") + "'"),
            "TITLE=" + Title + "\n");
  EXPECT_EQ(RunCommand("metaflac --show-tag=TITLE '" + Dir.File("a.flac") + "'"), "TITLE=a\n");
  // Never over a file.
  RunCommand(std::string(VELMAR_MP3) + " --no-window --flac '" + Dir.File("a.wav") + "'", &Status);
  EXPECT_EQ(Status, 0);
  EXPECT_TRUE(fs::exists(Dir.File("a-2.flac")));

  RunCommand(
      "sox -n -r 44100 -b 16 -c 2 '" + Dir.File("long.wav") + "' synth 900 pinknoise vol 0.3",
      &Status);
  test::ChildProcess Encoder({VELMAR_MP3, "--no-window", "--flac", Dir.File("long.wav")},
                             Dir.Path(), {});
  ASSERT_TRUE(test::WaitUntil([&] { return fs::exists(Dir.File("long.flac.part")); }));
  Encoder.Signal(SIGINT);
  EXPECT_EQ(Encoder.WaitForExit(), 130);
  EXPECT_FALSE(fs::exists(Dir.File("long.flac.part")));
  EXPECT_FALSE(fs::exists(Dir.File("long.flac")));
}

// FLAC of what it cannot hold as it is: floating-point samples become 24-bit
// (said), within one 24-bit step of sox's own reading; a title in Latin-1 (a
// name from a Windows disk) reads back as UTF-8 with metaflac.
TEST(VelmarMp3, FlacKeepsFloatAt24BitsAndTakesLatin1Titles) {
  test::TempDir Dir;
  int Status = -1;
  const std::string Latin1 = Dir.File("Caf\xe9.wav");
  RunCommand("sox -n -r 48000 -e floating-point -b 32 -c 2 '" + Dir.File("float.wav") +
                 "' synth 2 sine 440 synth 2 pinknoise mix vol 0.8 && cp '" +
                 Dir.File("float.wav") + "' '" + Latin1 + "'",
             &Status);
  ASSERT_EQ(Status, 0);
  const std::string Said = RunCommand(std::string(VELMAR_MP3) + " --no-window --flac '" +
                                          Dir.File("float.wav") + "' '" + Latin1 + "' 2>&1",
                                      &Status);
  ASSERT_EQ(Status, 0) << Said;
  EXPECT_NE(Said.find("floating-point samples kept at 24 bits"), std::string::npos) << Said;
  EXPECT_EQ(RunCommand("metaflac --show-bps '" + Dir.File("float.flac") + "'"), "24\n");
  EXPECT_EQ(RunCommand("metaflac --show-tag=TITLE '" + Dir.File("Caf\xe9.flac") + "'"),
            "TITLE=Caf\xc3\xa9\n");
  RunCommand("sox '" + Dir.File("float.wav") + "' -t f32 '" + Dir.File("float.f32") +
                 "' && flac -d -s -c --force-raw-format --endian=little --sign=signed '" +
                 Dir.File("float.flac") + "' > '" + Dir.File("float.s24") + "'",
             &Status);
  ASSERT_EQ(Status, 0);
  const test::Bytes F = test::ReadFileBytes(Dir.File("float.f32")),
                    I = test::ReadFileBytes(Dir.File("float.s24"));
  ASSERT_EQ(F.size() / 4, I.size() / 3);
  double Most = 0;
  for (std::size_t n = 0; n < F.size() / 4; ++n) {
    float f;
    std::memcpy(&f, F.data() + 4 * n, 4);
    const auto* p = I.data() + 3 * n;
    const std::int32_t v = static_cast<std::int32_t>(
                               static_cast<std::uint32_t>(p[0] << 8 | p[1] << 16 | p[2] << 24)) >>
                           8;
    Most = std::max(Most, std::abs(f * 8388608.0 - v));
  }
  EXPECT_LE(Most, 1.0);
}

}  // namespace
}  // namespace velmar
