// velmar-mp3's tags and ReplayGain 2.0 against the peers: the track and album
// gains and peaks it writes into FLAC files agree with what loudgain measures
// on the same files (within 0.1 dB and 0.001), a sine of known level gets the
// gain the standard gives, the MP3s carry the same figures as TXXX frames (read
// with mutagen) without a sample of their audio changed, --no-replaygain writes
// none; a WAV's INFO artist, album, date, genre and comment reach both formats.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_data.h"

namespace velmar {
namespace {

using test::RunCommand;
using Tags = std::map<std::string, std::string>;

// "NAME=value" lines (metaflac's export, or our reading of mutagen's frames).
Tags ParseTags(const std::string& Text) {
  Tags t;
  std::istringstream Lines(Text);
  for (std::string Line; std::getline(Lines, Line);)
    if (const std::size_t Eq = Line.find('='); Eq != std::string::npos)
      t[Line.substr(0, Eq)] = Line.substr(Eq + 1);
  return t;
}

Tags FlacTags(const std::string& File) {
  return ParseTags(RunCommand("metaflac --export-tags-to=- '" + File + "'"));
}

// The MP3's TXXX frames, as mutagen reads them (the system's Python, which has it).
Tags Mp3Tags(const std::string& File) {
  return ParseTags(RunCommand(
      "/usr/bin/python3 -c \"import sys, mutagen.id3 as m\n"
      "for f in m.ID3(sys.argv[1]).getall('TXXX'): print(f.desc + '=' + str(f.text[0]))\" '" +
      File + "'"));
}

// loudgain's figures per file and for the album: gain in dB, true peak.
struct Figures {
  double Gain = NAN, Peak = NAN;
};
std::map<std::string, Figures> Loudgain(const std::string& Files) {
  std::map<std::string, Figures> Out;
  std::istringstream Lines(RunCommand("loudgain -a -O " + Files + " 2>/dev/null"));
  std::string Line;
  std::getline(Lines, Line);  // the heading
  while (std::getline(Lines, Line)) {
    std::istringstream Fields(Line);
    std::vector<std::string> f;
    for (std::string x; std::getline(Fields, x, '\t');) f.push_back(x);
    if (f.size() < 9) continue;
    const std::string Name = f[0].substr(f[0].rfind('/') + 1);
    Out[Name] = {std::stod(f[8]), std::stod(f[3])};
  }
  return Out;
}

double Db(const std::string& Text) {
  return std::stod(Text);  // "-3.21 dB"
}

TEST(ReplayGain, TrackAndAlbumGainsAgreeWithLoudgainAndASineGetsTheStandardsGain) {
  test::TempDir Dir;
  const std::string Cd = " -D -r 44100 -b 16 -c 2 ";
  int Status = -1;
  // A 997 Hz sine at -20 dBFS in both channels is -20 LUFS: a gain of +2 dB.
  // Quiet pink noise, and a louder passage of chords with plucked decays.
  RunCommand("sox -n" + Cd + Dir.File("sine.wav") + " synth 10 sine 997 gain -20 && " +
                 "sox -n" + Cd + Dir.File("hiss.wav") + " synth 10 pinknoise gain -30 && " +
                 "sox -n" + Cd + Dir.File("chords.wav") +
                 " synth 12 pluck 220 pluck 277 pluck 330 repeat 3 gain -3",
             &Status);
  ASSERT_EQ(Status, 0);
  const std::string Wavs =
      Dir.File("sine.wav") + " " + Dir.File("hiss.wav") + " " + Dir.File("chords.wav");
  const std::string Said = RunCommand(std::string(VELMAR_MP3) + " --no-window --flac " + Wavs, &Status);
  ASSERT_EQ(Status, 0) << Said;
  const auto Peer = Loudgain(Dir.File("sine.flac") + " " + Dir.File("hiss.flac") + " " +
                             Dir.File("chords.flac"));
  ASSERT_EQ(Peer.size(), 4u) << "loudgain's three files and the album";
  double Worst = 0;
  for (const char* Name : {"sine", "hiss", "chords"}) {
    const Tags t = FlacTags(Dir.File(std::string(Name) + ".flac"));
    const Figures& p = Peer.at(std::string(Name) + ".flac");
    // Gains to 0.01 dB (the tags' precision); peaks to 0.01 dB, as printed.
    const auto PeakDb = [](double Peak, double Theirs) {
      return std::abs(20 * std::log10(Peak / Theirs));
    };
    EXPECT_NEAR(Db(t.at("REPLAYGAIN_TRACK_GAIN")), p.Gain, 0.011) << Name;
    EXPECT_LT(PeakDb(std::stod(t.at("REPLAYGAIN_TRACK_PEAK")), p.Peak), 0.01) << Name;
    EXPECT_NEAR(Db(t.at("REPLAYGAIN_ALBUM_GAIN")), Peer.at("Album").Gain, 0.011) << Name;
    EXPECT_LT(PeakDb(std::stod(t.at("REPLAYGAIN_ALBUM_PEAK")), Peer.at("Album").Peak), 0.01) << Name;
    EXPECT_EQ(t.at("TITLE"), Name);  // the title stays
    Worst = std::max(Worst, std::abs(Db(t.at("REPLAYGAIN_TRACK_GAIN")) - p.Gain));
  }
  std::printf("largest track gain difference from loudgain: %.3f dB\n", Worst);
  EXPECT_NEAR(Db(FlacTags(Dir.File("sine.flac")).at("REPLAYGAIN_TRACK_GAIN")), 2.0, 0.05);
  EXPECT_NE(Said.find("album gain " + FlacTags(Dir.File("sine.flac")).at("REPLAYGAIN_ALBUM_GAIN")),
            std::string::npos)
      << Said;

  // The MP3s: the same figures (measured on the same audio), as TXXX frames.
  ASSERT_EQ((RunCommand(std::string(VELMAR_MP3) + " --no-window " + Wavs, &Status), Status), 0);
  for (const char* Name : {"sine", "hiss", "chords"}) {
    const Tags Flac = FlacTags(Dir.File(std::string(Name) + ".flac"));
    const Tags Mp3 = Mp3Tags(Dir.File(std::string(Name) + ".mp3"));
    for (const char* Field : {"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK",
                              "REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK"})
      EXPECT_EQ(Mp3.count(Field) ? Mp3.at(Field) : "missing", Flac.at(Field)) << Name << " " << Field;
  }
}

TEST(ReplayGain, TaggingKeepsTheAudioAndNoReplayGainWritesNone) {
  test::TempDir Dir;
  int Status = -1;
  RunCommand("sox -D -n -r 44100 -b 16 -c 2 " + Dir.File("a.wav") + " synth 6 sine 440 gain -6",
             &Status);
  ASSERT_EQ(Status, 0);
  const std::string Mp3 = std::string(VELMAR_MP3) + " --no-window ";
  RunCommand(Mp3 + "--no-replaygain " + Dir.File("a.wav") + " && " + Mp3 + Dir.File("a.wav") +
                 " && " + Mp3 + "--flac --no-replaygain " + Dir.File("a.wav"),
             &Status);
  ASSERT_EQ(Status, 0);
  // a.mp3 without gains, a-2.mp3 with them: the same audio, frame for frame.
  EXPECT_TRUE(Mp3Tags(Dir.File("a.mp3")).empty());
  EXPECT_EQ(Mp3Tags(Dir.File("a-2.mp3")).size(), 4u);
  const auto Md5 = [](const std::string& File) {
    return RunCommand("ffmpeg -v error -i '" + File + "' -f md5 -");
  };
  EXPECT_EQ(Md5(Dir.File("a.mp3")), Md5(Dir.File("a-2.mp3")));
  EXPECT_FALSE(Md5(Dir.File("a.mp3")).empty());
  const Tags Flac = FlacTags(Dir.File("a.flac"));
  EXPECT_EQ(Flac.count("REPLAYGAIN_TRACK_GAIN"), 0u);
  EXPECT_EQ(Flac.at("TITLE"), "a");
}

TEST(WaveInfoTags, ArtistAlbumDateGenreAndCommentReachFlacAndMp3) {
  test::TempDir Dir;
  int Status = -1;
  RunCommand("sox -D -n -r 44100 -b 16 -c 2 " + Dir.File("a.wav") + " synth 3 sine 440 gain -6",
             &Status);
  ASSERT_EQ(Status, 0);
  const std::pair<const char*, std::string> Fields[] = {
      {"INAM", "Étude № 3"}, {"IART", "Sæther & 東京"}, {"IPRD", "Side A"},
      {"ICRD", "1969-05-01"}, {"IGNR", "Jazz"},        {"ICMT", "from the 1969 pressing"}};
  test::Bytes Info = test::Id("INFO");
  for (const auto& [Id, Text] : Fields) {
    const test::Bytes Entry = test::Chunk(Id, test::Bytes(Text.begin(), Text.end() + 1));
    Info.insert(Info.end(), Entry.begin(), Entry.end());
  }
  test::WriteFileBytes(Dir.File("info.wav"),
                       test::Riff({test::PcmFmt(2, 44100, 16), test::Chunk("LIST", Info),
                                   test::Chunk("data", test::WavData(Dir.File("a.wav")))}));
  const std::string Mp3 = std::string(VELMAR_MP3) + " --no-window ";
  RunCommand(Mp3 + Dir.File("info.wav") + " && " + Mp3 + "--flac " + Dir.File("info.wav"), &Status);
  ASSERT_EQ(Status, 0);
  const Tags Flac = FlacTags(Dir.File("info.flac"));
  EXPECT_EQ(Flac.at("TITLE"), "Étude № 3");
  EXPECT_EQ(Flac.at("ARTIST"), "Sæther & 東京");
  EXPECT_EQ(Flac.at("ALBUM"), "Side A");
  EXPECT_EQ(Flac.at("DATE"), "1969-05-01");
  EXPECT_EQ(Flac.at("GENRE"), "Jazz");
  EXPECT_EQ(Flac.at("COMMENT"), "from the 1969 pressing");
  // The MP3's frames, as mutagen and ffprobe read them.
  const std::string Frames = RunCommand(
      "/usr/bin/python3 -c \"import sys, mutagen.id3 as m\n"
      "t = m.ID3(sys.argv[1])\n"
      "for k in ('TIT2', 'TPE1', 'TALB', 'TDRC', 'TCON'): print(k + '=' + str(t[k].text[0]))\n"
      "print('COMM=' + str(t.getall('COMM')[0].text[0]))\" '" +
      Dir.File("info.mp3") + "'");
  EXPECT_EQ(ParseTags(Frames),
            (Tags{{"TIT2", "Étude № 3"}, {"TPE1", "Sæther & 東京"}, {"TALB", "Side A"},
                  {"TDRC", "1969-05-01"}, {"TCON", "Jazz"}, {"COMM", "from the 1969 pressing"}}))
      << Frames;
  const std::string Probe = RunCommand("ffprobe -v error -show_format '" + Dir.File("info.mp3") + "'");
  EXPECT_NE(Probe.find("TAG:artist=Sæther & 東京"), std::string::npos) << Probe;
  EXPECT_NE(Probe.find("TAG:album=Side A"), std::string::npos) << Probe;
}

}  // namespace
}  // namespace velmar
