// Fixing a side's tracks with velmar-rec, on a programme made by sox: five
// songs with 2 s gaps, the second with a 1 s quiet passage. Split into the
// release's number of tracks, joined back with a cue sheet, split again by
// that sheet, titled; wrong input changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "session/track_files.h"
#include "session/track_rule.h"
#include "stream/time_conversions.h"
#include "tests/cli/velmar_rec.h"
#include "tests/support/interrupted_rewrite.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"
#include "wavefile/wave_scan.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr std::int64_t kRate = 44100;

struct TrackFix : ::testing::Test {
  TempDir Dir;
  std::string Side = Dir.File("side.wav");
  // Where each real gap lies, in frames: [start, end).
  std::vector<std::pair<std::int64_t, std::int64_t>> Gaps;

  // Songs of 12 s with 2 s of silence between; the second is 8 s, 1 s quiet,
  // 8 s (long enough on both sides for the rule to split there).
  void MakeSide() {
    const std::string Cd = " -r 44100 -b 16 -c 2 ";
    std::string Parts;
    std::int64_t At = 0;  // seconds
    for (int i = 1; i <= 5; ++i) {
      const std::string Song = Dir.File("song" + std::to_string(i) + ".wav");
      if (i == 2) {
        Peer("sox -n" + Cd + Dir.File("a.wav") + " synth 8 sine 500 vol 0.4");
        Peer("sox -n" + Cd + Dir.File("q.wav") + " trim 0 1");
        Peer("sox " + Dir.File("a.wav") + " " + Dir.File("q.wav") + " " + Dir.File("a.wav") + " " +
             Song);
      } else {
        Peer("sox -n" + Cd + Song + " synth 12 sine " + std::to_string(200 * i) +
             " synth 12 pinknoise mix vol 0.4");
      }
      Parts += " " + Song;
      At += i == 2 ? 17 : 12;
      if (i < 5) {
        Peer("sox -n" + Cd + Dir.File("gap.wav") + " trim 0 2");
        Parts += " " + Dir.File("gap.wav");
        Gaps.push_back({At * kRate, (At + 2) * kRate});
        At += 2;
      }
    }
    Peer("sox" + Parts + " " + Side);
  }

  static std::int64_t Frames(const std::string& Wav) {
    return static_cast<std::int64_t>(Audio(Wav).size() / 4);
  }
  static std::vector<std::string> Paths(const std::string& Folder) {
    std::vector<std::string> Out;
    for (const std::string& n : Tracks(Folder)) Out.push_back(Folder + "/" + n);
    return Out;
  }
  // Where tracks 2.. start.
  static std::vector<std::int64_t> Cuts(const std::vector<std::string>& Files) {
    std::vector<std::int64_t> Out;
    std::int64_t At = 0;
    for (std::size_t i = 0; i + 1 < Files.size(); ++i) Out.push_back(At += Frames(Files[i]));
    return Out;
  }
  static Bytes Joined(const std::vector<std::string>& Files) {
    Bytes All;
    for (const std::string& f : Files) {
      const Bytes a = Audio(f);
      All.insert(All.end(), a.begin(), a.end());
    }
    return All;
  }
};

TEST_F(TrackFix, SplitIntoTheReleasesTracksJoinBackAndSplitByTheSheet) {
  MakeSide();
  const Bytes Whole = Audio(Side);
  int Status = -1;
  // Lines of a dry run: each track's start, end and length; and those with its gap.
  auto Listed = [](const std::string& Said, int& InGaps) {
    const std::regex Line(R"(Track0\d\.wav  \d:\d\d\.\d{3} - \d:\d\d\.\d{3}  \d:\d\d\.\d{3})");
    std::istringstream Lines(Said);
    int Count = 0;
    InGaps = 0;
    for (std::string l; std::getline(Lines, l);) {
      Count += std::regex_search(l, Line);
      InGaps += l.find("(cut in the quiet gap") != std::string::npos;
    }
    return Count;
  };
  int InGaps = 0;
  // The rule splits the quiet passage too; its dry run lists the same tracks.
  Rec("split " + Side + " -o " + Dir.File("rule"), &Status);
  ASSERT_EQ(Status, 0);
  EXPECT_EQ(Tracks(Dir.File("rule")).size(), 6u);
  const std::string RuleSaid = Rec("split " + Side + " --dry-run -o " + Dir.File("none"), &Status);
  EXPECT_EQ(Status, 0);
  EXPECT_EQ(Listed(RuleSaid, InGaps), 6) << RuleSaid;
  EXPECT_FALSE(fs::exists(Dir.File("none")));

  // A dry run of five tracks lists them and the gaps they are cut in.
  const std::string Said5 =
      Rec("split " + Side + " --tracks 5 --dry-run -o " + Dir.File("five"), &Status);
  EXPECT_EQ(Status, 0) << Said5;
  EXPECT_EQ(Listed(Said5, InGaps), 5) << Said5;
  EXPECT_EQ(InGaps, 4) << Said5;
  EXPECT_FALSE(fs::exists(Dir.File("five")));

  // Five tracks, cut inside the real gaps, that add up to the side.
  Rec("split " + Side + " --tracks=5 -o " + Dir.File("five"), &Status);
  ASSERT_EQ(Status, 0);
  const std::vector<std::string> Five = Paths(Dir.File("five"));
  ASSERT_EQ(Five.size(), 5u);
  const std::vector<std::int64_t> At = Cuts(Five);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_GT(At[i], Gaps[i].first) << i;
    EXPECT_LT(At[i], Gaps[i].second) << i;
  }
  EXPECT_TRUE(Joined(Five) == Whole);

  // Joined, they give the side back sample for sample, with a sheet beside it.
  const std::string Back = Dir.File("back/side.wav");
  const std::string Said = Rec("join " + Five[0] + " " + Five[1] + " " + Five[2] + " " + Five[3] +
                                   " " + Five[4] + " -o " + Back,
                               &Status);
  ASSERT_EQ(Status, 0) << Said;
  EXPECT_TRUE(Audio(Back) == Whole);
  std::ifstream CueFile(Dir.File("back/side.cue"));
  std::stringstream Cue;
  Cue << CueFile.rdbuf();
  EXPECT_EQ(Cue.str().rfind("REM RATE 44100\nFILE \"side.wav\" WAVE\n  TRACK 01 AUDIO\n"
                            "    TITLE \"Track01\"\n    REM FRAME 0\n    INDEX 01 00:00:00\n",
                            0),
            0u)
      << Cue.str();
  // Never over an existing side.
  EXPECT_NE(Rec("join " + Five[0] + " -o " + Back, &Status).find("exists"), std::string::npos);
  EXPECT_EQ(Status, 2);
  EXPECT_TRUE(Audio(Back) == Whole);

  // Split by the sheet: the same tracks, each cut where it was (the sheet
  // keeps the exact frames beside the 1/75 s INDEX points).
  Rec("split " + Back + " --cue " + Dir.File("back/side.cue") + " -o " + Dir.File("cue"), &Status);
  ASSERT_EQ(Status, 0);
  const std::vector<std::string> ByCue = Paths(Dir.File("cue"));
  ASSERT_EQ(ByCue.size(), 5u);
  const std::vector<std::int64_t> CueAt = Cuts(ByCue);
  EXPECT_EQ(CueAt, std::vector<std::int64_t>(At.begin(), At.begin() + 4));
  EXPECT_TRUE(Joined(ByCue) == Whole);
  EXPECT_EQ(TrackTitle(ByCue[2]), "Track03");

  // More tracks than gaps: it says how many it found, writes nothing, and
  // fails.
  const std::string Fewer = Rec("split " + Side + " --tracks 9 -o " + Dir.File("nine"), &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_NE(Fewer.find("9 tracks need 8 quiet gaps; found 5"), std::string::npos) << Fewer;
  EXPECT_NE(Fewer.find("nothing was written"), std::string::npos) << Fewer;
  EXPECT_FALSE(fs::exists(Dir.File("nine")) && !fs::is_empty(Dir.File("nine")));
}

TEST_F(TrackFix, TitlesNameAndTagTheTracksAndWrongInputChangesNothing) {
  const std::string Cd = " -r 44100 -b 16 -c 2 ";
  const std::string Folder = Dir.File("side");
  fs::create_directories(Folder);
  for (int i = 1; i <= 3; ++i)
    Peer("sox -n" + Cd + Folder + "/Track0" + std::to_string(i) + ".wav synth 1 sine " +
         std::to_string(300 * i));
  const std::vector<std::string> Old = Paths(Folder);
  std::vector<Bytes> Before, Sound;
  for (const std::string& f : Old) Before.push_back(ReadFileBytes(f)), Sound.push_back(Audio(f));
  auto Unchanged = [&] {
    if (Tracks(Folder).size() != Old.size()) return false;
    for (std::size_t i = 0; i < Old.size(); ++i)
      if (!fs::exists(Old[i]) || ReadFileBytes(Old[i]) != Before[i]) return false;
    return true;
  };
  const std::string Titles = Dir.File("titles.txt");
  int Status = -1;
  // Two titles for three tracks.
  std::ofstream(Titles) << "Mötley Crüe\n\nAC/DC\n";
  EXPECT_NE(Rec("titles " + Titles + " " + Old[0] + " " + Old[1] + " " + Old[2], &Status)
                .find("2 titles for 3 tracks; nothing was changed"),
            std::string::npos);
  EXPECT_EQ(Status, 2);
  EXPECT_TRUE(Unchanged());
  // A name another file has.
  std::ofstream(Titles) << "Mötley Crüe\n\nAC/DC\nÉtude 3\n";
  std::ofstream(Folder + "/02 AC_DC.wav") << "not ours";
  EXPECT_NE(Rec("titles " + Titles + " " + Old[0] + " " + Old[1] + " " + Old[2], &Status)
                .find("02 AC_DC.wav exists; nothing was changed"),
            std::string::npos);
  EXPECT_EQ(Status, 2);
  fs::remove(Folder + "/02 AC_DC.wav");
  EXPECT_TRUE(Unchanged());
  // Tracks of two formats do not join; nothing is written.
  Peer("sox -n -r 22050 -b 16 -c 2 " + Dir.File("other.wav") + " synth 1 sine 300");
  EXPECT_NE(
      Rec("join " + Old[0] + " " + Dir.File("other.wav") + " -o " + Dir.File("j.wav"), &Status)
          .find("other.wav: its format (PCM 22.050 kHz, 16 Bit, Stereo) differs"),
      std::string::npos);
  EXPECT_EQ(Status, 2);
  EXPECT_FALSE(fs::exists(Dir.File("j.wav")));
  EXPECT_FALSE(fs::exists(Dir.File("j.cue")));

  // A track named twice is refused.
  EXPECT_NE(Rec("titles " + Titles + " " + Old[0] + " " + Old[0] + " " + Old[2], &Status)
                .find("named twice; nothing was changed"),
            std::string::npos);
  EXPECT_EQ(Status, 2);
  EXPECT_TRUE(Unchanged());

  // Titled, from a file as a Windows editor writes it (a byte order mark, CR
  // LF, blanks around titles, lines of only blanks): new names (a "/" becomes
  // "_"), the title in the file, the audio kept.
  std::ofstream(Titles, std::ios::binary | std::ios::trunc)
      << "\xEF\xBB\xBF  Mötley Crüe  \r\n\t\r\n   \r\nAC/DC\r\nÉtude 3\r\n";
  const std::string Said =
      Rec("titles " + Titles + " " + Old[0] + " " + Old[1] + " " + Old[2], &Status);
  ASSERT_EQ(Status, 0) << Said;
  EXPECT_EQ(Tracks(Folder),
            (std::vector<std::string>{"01 Mötley Crüe.wav", "02 AC_DC.wav", "03 Étude 3.wav"}));
  EXPECT_EQ(Peer("ffprobe -v error -show_entries format_tags=title -of csv=p=0 '" + Folder +
                 "/01 Mötley Crüe.wav'"),
            "Mötley Crüe\n");
  EXPECT_EQ(TrackTitle(Folder + "/02 AC_DC.wav"), "AC/DC");
  EXPECT_TRUE(Audio(Folder + "/03 Étude 3.wav") == Sound[2]);
}

// Sides made by sox in other formats (24/96 and 24/48 in extensible headers,
// 32-bit float, 8-bit mono): split by the rule, into N and by a sheet, the
// tracks keep the side's format record as it is and its samples byte for
// byte; joined and split by the join's sheet, the tracks come back at their
// exact frames.
TEST_F(TrackFix, SplitKeepsTheSidesFormatAndEverySample) {
  const std::vector<std::string> Formats = {"-r 96000 -b 24 -c 2", "-r 48000 -b 24 -c 2",
                                            "-r 44100 -e floating-point -b 32 -c 2",
                                            "-r 22050 -b 8 -c 1"};
  for (std::size_t k = 0; k < Formats.size(); ++k) {
    SCOPED_TRACE(Formats[k]);
    const std::string Home = Dir.File("f" + std::to_string(k));
    fs::create_directories(Home);
    const std::string In = Home + "/side.wav", Cd = " " + Formats[k] + " ";
    // Without dither, which would make 8-bit silence one step of noise.
    Peer("sox -D -n" + Cd + Home + "/a.wav synth 8 sine 300 synth 8 pinknoise mix vol 0.4");
    Peer("sox -D -n" + Cd + Home + "/q.wav trim 0 2");
    Peer("sox -D " + Home + "/a.wav " + Home + "/q.wav " + Home + "/a.wav " + Home + "/q.wav " +
         Home + "/a.wav " + In);
    TWaveScan Own;
    std::string Error;
    ASSERT_TRUE(ScanWaveFile(In, Own, Error)) << Error;
    const Bytes Whole = Audio(In);
    int Status = -1;
    for (const std::string How : {"", " --tracks 3"}) {
      const std::string Out = Home + "/out" + (How.empty() ? "rule" : "n");
      const std::string Said = Rec("split " + In + How + " -o " + Out, &Status);
      ASSERT_EQ(Status, 0) << Said;
      const std::vector<std::string> Files = Paths(Out);
      ASSERT_EQ(Files.size(), 3u) << How << Said;
      for (const std::string& f : Files) {
        TWaveScan Track;
        ASSERT_TRUE(ScanWaveFile(f, Track, Error)) << Error;
        EXPECT_EQ(Track.StoredFormatBytes, Own.StoredFormatBytes) << f;
      }
      EXPECT_TRUE(Joined(Files) == Whole) << How;
    }
    const std::vector<std::string> Three = Paths(Home + "/outn");
    std::vector<std::int64_t> Ends;
    for (const std::string& f : Three) {
      TWaveScan Track;
      ScanWaveFile(f, Track, Error);
      Ends.push_back((Ends.empty() ? 0 : Ends.back()) + Track.Frames());
    }
    fs::create_directories(Home + "/j");
    ASSERT_EQ(
        Rec("join " + Three[0] + " " + Three[1] + " " + Three[2] + " -o " + Home + "/j/side.wav",
            &Status),
        Home + "/j/side.wav  3 tracks  " + TimeToText(SamplesToTime64(Own.Format(), Own.Frames())) +
            "\n" + Home + "/j/side.cue\n");
    Rec("split " + Home + "/j/side.wav --cue " + Home + "/j/side.cue -o " + Home + "/c", &Status);
    ASSERT_EQ(Status, 0);
    const std::vector<std::string> Again = Paths(Home + "/c");
    ASSERT_EQ(Again.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      TWaveScan Track;
      ScanWaveFile(Again[i], Track, Error);
      EXPECT_EQ(Track.Frames(), Ends[i] - (i ? Ends[i - 1] : 0)) << i;
      EXPECT_EQ(Track.StoredFormatBytes, Own.StoredFormatBytes);
    }
  }
}

// A record side made here: six songs over surface hiss (a quiet intro, a
// tremolo tone, noise bursts over a tone, a 1 s quiet passage, a fade-out),
// between them gaps of 1.5 to 3 s of hiss at -55 to -40 dBFS with clicks,
// never digital zero. Split into six with the default gates, every cut lies
// inside a true gap; asked for more tracks than there are gaps, it writes
// nothing and says so (status 2).
TEST_F(TrackFix, SplitIntoNFindsTheGapsOfARecordSide) {
  std::mt19937 Random(7);
  std::uniform_real_distribution<double> White(-1, 1);
  double Pink = 0;
  const auto Hiss = [&](double Db) {  // one-pole filtered noise, about Db dBFS RMS
    Pink = 0.9 * Pink + 0.1 * White(Random);
    return Pink / 0.13 * 32768 * std::pow(10, Db / 20);
  };
  std::vector<std::int16_t> Samples;
  const auto Put = [&](double Left, double Right) {
    Samples.push_back(static_cast<std::int16_t>(std::clamp(Left, -32767.0, 32767.0)));
    Samples.push_back(static_cast<std::int16_t>(std::clamp(Right, -32767.0, 32767.0)));
  };
  const std::vector<double> SongSeconds = {22, 26, 20, 30, 24, 28};
  const std::vector<double> GapSeconds = {1.5, 2.0, 3.0, 2.5, 1.8};
  const std::vector<double> GapDb = {-55, -40, -48, -45, -52};
  std::vector<std::pair<std::int64_t, std::int64_t>> TrueGaps;
  for (std::size_t Song = 0; Song < SongSeconds.size(); ++Song) {
    const auto Frames = static_cast<std::int64_t>(SongSeconds[Song] * kRate);
    for (std::int64_t f = 0; f < Frames; ++f) {
      const double t = static_cast<double>(f) / kRate, Left = SongSeconds[Song] - t;
      double Level = 0.25 * (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t));  // a tremolo
      if (Song == 0 && t < 3) Level = 0.02;                            // a quiet intro
      if (Song == 3 && t > 14 && t < 15) Level = 0.001;                // a quiet passage
      if (Song == 5 && Left < 6) Level *= Left / 6;                    // the fade-out
      double v = Level * 32768 * std::sin(2 * M_PI * (220 + 55 * static_cast<double>(Song)) * t);
      if (Song == 2 && std::fmod(t, 0.5) < 0.1) v += 0.2 * 32768 * White(Random);  // bursts
      const double h = Hiss(-50);
      Put(v + h, 0.8 * v + h);
    }
    if (Song + 1 == SongSeconds.size()) break;
    const std::int64_t Start = static_cast<std::int64_t>(Samples.size() / 2);
    const auto Gap = static_cast<std::int64_t>(GapSeconds[Song] * kRate);
    for (std::int64_t f = 0; f < Gap; ++f) {
      const double Click = f % 17000 < 3 ? 15000 : 0;  // a click every 0.4 s
      const double h = Hiss(GapDb[Song]);
      Put(h + Click, h - Click);
    }
    TrueGaps.push_back({Start, Start + Gap});
  }
  Bytes Data(Samples.size() * 2);
  std::memcpy(Data.data(), Samples.data(), Data.size());
  WriteFileBytes(Side, Riff({PcmFmt(2, 44100, 16), Chunk("data", Data)}));

  int Status = -1;
  const std::string Out = Dir.File("six");
  const std::string Said = Rec("split " + Side + " --tracks 6 -o " + Out, &Status);
  ASSERT_EQ(Status, 0) << Said;
  const std::vector<std::string> Files = Paths(Out);
  ASSERT_EQ(Files.size(), 6u) << Said;
  const std::vector<std::int64_t> Found = Cuts(Files);
  for (std::size_t i = 0; i < Found.size(); ++i) {
    EXPECT_GT(Found[i], TrueGaps[i].first) << "cut " << i + 1 << "\n" << Said;
    EXPECT_LT(Found[i], TrueGaps[i].second) << "cut " << i + 1 << "\n" << Said;
  }
  EXPECT_TRUE(Joined(Files) == Data);

  const std::string More = Dir.File("eight");
  const std::string Refused = Rec("split " + Side + " --tracks 8 -o " + More, &Status);
  EXPECT_EQ(Status, 2) << Refused;
  EXPECT_NE(Refused.find("nothing was written"), std::string::npos) << Refused;
  EXPECT_TRUE(!fs::exists(More) || fs::is_empty(More));
}

// A rewrite ended by a crash after its second step: the next velmar-rec
// command on the folder finishes it and says so in one line; then it titles
// the tracks, given out of order, by their numbers.
TEST_F(TrackFix, TheNextCommandFinishesAnInterruptedRewrite) {
  const std::string Folder = Dir.File("side");
  fs::create_directories(Folder);
  std::vector<std::string> Old;
  Bytes Whole;
  for (int n = 1; n <= 3; ++n) {
    Old.push_back(Folder + "/" + TrackFileName(n));
    Bytes Data(4 * 10000);
    for (std::size_t i = 0; i < Data.size(); ++i) Data[i] = static_cast<std::uint8_t>(i * n + n);
    WriteFileBytes(Old.back(), Riff({PcmFmt(2, 44100, 16), Chunk("data", Data)}));
    Whole.insert(Whole.end(), Data.begin(), Data.end());
  }
  ASSERT_TRUE(
      InterruptRewrite(Old, Folder, {{"Track01.wav", {}, 5000}, {"Track02.wav", {}, 25000}}, 2));
  std::ofstream(Dir.File("titles.txt")) << "One\nTwo\n";
  int Status = -1;
  const std::string Said = Rec(
      "titles " + Dir.File("titles.txt") + " " + Folder + "/Track02.wav " + Folder + "/Track01.wav",
      &Status);
  EXPECT_EQ(Status, 0) << Said;
  EXPECT_TRUE(std::regex_search(Said, std::regex("velmar-rec: An interrupted rewrite of the "
                                                 "tracks in .* was finished")))
      << Said;
  EXPECT_EQ(Tracks(Folder), (std::vector<std::string>{"01 One.wav", "02 Two.wav"}));
  EXPECT_EQ(Frames(Folder + "/01 One.wav"), 5000);
  EXPECT_TRUE(Joined(Paths(Folder)) == Whole);
}

}  // namespace
}  // namespace velmar
