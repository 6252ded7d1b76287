// velmar-rec declick on files: a 24-bit track with album tags, labelled
// places and a chunk of another program, clicked at known frames, comes out
// in another folder in the same format with the same chunks and tags (read
// back by ffprobe and mutagen), the clicks gone and every other sample as it
// was; --dry-run and --map list them and write no track; a track that
// cannot be read, a taken name or the tracks' own folder changes nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/cli/velmar_rec.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace test;

// A file's samples as 32-bit integers (sox), one channel after the other per frame.
std::vector<std::int32_t> Samples(const std::string& File) {
  const std::string Raw = File + ".raw";
  Peer("sox '" + File + "' -t raw -e signed -b 32 '" + Raw + "'");
  const Bytes b = ReadFileBytes(Raw);
  std::vector<std::int32_t> s(b.size() / 4);
  std::memcpy(s.data(), b.data(), s.size() * 4);
  fs::remove(Raw);
  return s;
}

struct Declick : ::testing::Test {
  TempDir Dir;
  std::string Side = Dir.File("side");
  std::string Track = Dir.File("side/Track01.wav");
  // Frame, channel of each click.
  const std::vector<std::pair<std::int64_t, int>> Clicks = {{30000, 0}, {70000, 1}, {110000, 0}};

  void SetUp() override {
    fs::create_directories(Side);
    const std::string Clean = Dir.File("clean.wav");
    Peer("sox -n -r 44100 -b 24 -c 2 '" + Clean + "' synth 3 sine 330 sine 550 vol 0.4");
    // Clicks: a sharp edge with a short ring, added with sox's mixing of a
    // file holding only them.
    std::vector<float> Pulses(2 * 3 * 44100, 0.0f);
    for (const auto& [Frame, Channel] : Clicks)
      for (int i = 0; i < 12; ++i)
        Pulses[static_cast<std::size_t>(2 * (Frame + i) + Channel)] =
            static_cast<float>(0.5 * std::exp(-i / 3.0) * std::cos(2 * M_PI * 6000 * i / 44100.0));
    std::ofstream(Dir.File("pulses.f32"), std::ios::binary)
        .write(reinterpret_cast<const char*>(Pulses.data()),
               static_cast<std::streamsize>(Pulses.size() * 4));
    Peer("sox -m -v 1 '" + Clean + "' -v 1 -t raw -r 44100 -e float -b 32 -c 2 '" + Dir.File("pulses.f32") +
         "' -b 24 '" + Track + "'");
    int Status = -1;
    Rec("tags --album 'Ön the Road' --artist Kärt --numbers '" + Track + "'", &Status);
    ASSERT_EQ(Status, 0);
  }
};

TEST_F(Declick, RepairedTracksKeepFormatChunksTagsAndEverySampleButTheClicks) {
  int Status = -1;
  const std::string Out = Dir.File("repaired");
  std::string Said =
      Rec("declick '" + Track + "' -o '" + Out + "' --map '" + Dir.File("map.csv") + "'", &Status);
  ASSERT_EQ(Status, 0) << Said;
  EXPECT_NE(Said.find("Track01.wav  3 clicks"), std::string::npos) << Said;
  const std::string Repaired = Out + "/Track01.wav";
  // The format and tags, as the peers read them.
  const std::string Probe = Peer("ffprobe -v error -show_streams -show_format '" + Repaired + "'");
  for (const char* Line : {"bits_per_raw_sample=24", "sample_rate=44100", "channels=2",
                           "TAG:album=Ön the Road", "TAG:artist=Kärt", "TAG:track=1"})
    EXPECT_NE(Probe.find(Line), std::string::npos) << Line << " in\n" << Probe;
  EXPECT_EQ(Peer("/usr/bin/python3 -c \"import sys, mutagen; "
                 "print(mutagen.File(sys.argv[1]).tags['TRCK'].text[0])\" '" +
                 Repaired + "'"),
            "1/1\n");
  // Every sample away from the clicks as it was; at the clicks, close to the tones.
  const std::vector<std::int32_t> Before = Samples(Track), After = Samples(Repaired),
                                  Clean = Samples(Dir.File("clean.wav"));
  ASSERT_EQ(Before.size(), After.size());
  std::size_t Changed = 0;
  for (std::size_t i = 0; i < Before.size(); ++i) {
    const auto Frame = static_cast<std::int64_t>(i / 2);
    const bool AtClick = std::any_of(Clicks.begin(), Clicks.end(), [&](const auto& c) {
      return static_cast<int>(i % 2) == c.second && Frame >= c.first - 4 && Frame < c.first + 40;
    });
    if (!AtClick) {
      ASSERT_EQ(After[i], Before[i]) << "frame " << Frame;
      continue;
    }
    Changed += After[i] != Before[i];
    EXPECT_LT(std::abs(static_cast<double>(After[i]) - Clean[i]) / 2147483648.0, 0.01)
        << "frame " << Frame;
  }
  EXPECT_GT(Changed, 9u);
  // The map: one line a click, at its frame and channel.
  std::ifstream Map(Dir.File("map.csv"));
  std::string Line;
  std::getline(Map, Line);
  EXPECT_EQ(Line, "track,start_frame,length,channel,size_db");
  for (const auto& [Frame, Channel] : Clicks) {
    ASSERT_TRUE(std::getline(Map, Line));
    long long Start = 0, Length = 0;
    int Ch = 0;
    ASSERT_EQ(std::sscanf(Line.c_str(), "Track01.wav,%lld,%lld,%d,", &Start, &Length, &Ch), 3)
        << Line;
    EXPECT_NEAR(static_cast<double>(Start), static_cast<double>(Frame), 2) << Line;
    EXPECT_EQ(Ch, Channel + 1) << Line;
  }
  // The recorded track is where it was, untouched.
  EXPECT_EQ(Samples(Track), Before);
}

TEST_F(Declick, ADryRunWritesNothingAndAFailureChangesNothing) {
  int Status = -1;
  std::string Said = Rec("declick --dry-run '" + Track + "'", &Status);
  ASSERT_EQ(Status, 0) << Said;
  EXPECT_NE(Said.find("3 clicks"), std::string::npos) << Said;
  EXPECT_NE(Said.find("0:00.680  channel 1"), std::string::npos) << Said;  // frame 30000
  EXPECT_EQ(Tracks(Side), std::vector<std::string>{"Track01.wav"});
  // Into the tracks' own folder: refused, the recorded tracks stay.
  Said = Rec("declick '" + Track + "' -o '" + Side + "'", &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_NE(Said.find("another folder"), std::string::npos) << Said;
  // A second track that is not audio: nothing written at all.
  std::ofstream(Dir.File("side/Track02.wav")) << "not audio";
  Said = Rec(
      "declick '" + Track + "' '" + Dir.File("side/Track02.wav") + "' -o '" + Dir.File("out") + "'",
      &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_NE(Said.find("nothing was written"), std::string::npos) << Said;
  EXPECT_TRUE(!fs::exists(Dir.File("out")) || Tracks(Dir.File("out")).empty());
  // A name taken in the folder: nothing written, the file there kept.
  fs::create_directories(Dir.File("out"));
  std::ofstream(Dir.File("out/Track01.wav")) << "mine";
  Said = Rec("declick '" + Track + "' -o '" + Dir.File("out") + "'", &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_EQ(Tracks(Dir.File("out")), std::vector<std::string>{"Track01.wav"});
  const Bytes Kept = ReadFileBytes(Dir.File("out/Track01.wav"));
  EXPECT_EQ(std::string(Kept.begin(), Kept.end()), "mine");
}

}  // namespace
}  // namespace velmar
