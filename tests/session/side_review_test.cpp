// Reviewing a side: the overview's peaks against a plain min/max over the
// samples; the cache gives the same peaks without reading the audio; marks
// moved, deleted, added, replaced, titled, undone and redone; the quietest
// frame for a snapped mark; the side rewritten as new tracks that join back to
// it sample for sample, and a rewrite that reuses the old names ended at any
// step leaves one set whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "session/side_audio.h"
#include "session/side_edit.h"
#include "session/side_peaks.h"
#include "session/track_files.h"
#include "tests/support/interrupted_rewrite.h"
#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_data.h"
#include "wavefile/wave_scan.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// A track of Frames random stereo frames (loud or quiet stretches).
std::vector<std::int16_t> Samples(std::size_t Frames, std::uint32_t Seed) {
  std::mt19937 Random(Seed);
  std::vector<std::int16_t> s(2 * Frames);
  for (std::size_t i = 0; i < s.size(); ++i) {
    const int Loud = (i / 20000) % 3 == 0 ? 300 : 30000;
    s[i] = static_cast<std::int16_t>(static_cast<int>(Random() % (2 * Loud + 1)) - Loud);
  }
  return s;
}

void Write(const std::string& Name, const std::vector<std::int16_t>& s) {
  Bytes Data(s.size() * 2);
  std::memcpy(Data.data(), s.data(), Data.size());
  test::WriteFileBytes(Name, test::Riff({test::PcmFmt(2, 44100, 16), test::Chunk("data", Data)}));
}

TEST(SideReview, PeaksAreTheSamplesMinAndMaxAndComeBackFromTheCache) {
  test::TempDir Dir;
  // Lengths that end inside a bucket, so that columns cross track ends.
  const std::size_t Lengths[3] = {100000, 37333, 250001};
  std::vector<std::string> Tracks;
  std::vector<std::int16_t> Side;
  for (int t = 0; t < 3; ++t) {
    const auto s = Samples(Lengths[t], 7u + static_cast<std::uint32_t>(t));
    Tracks.push_back(Dir.File("Track0" + std::to_string(t + 1) + ".wav"));
    Write(Tracks.back(), s);
    Side.insert(Side.end(), s.begin(), s.end());
  }
  const std::atomic<bool> Cancel{false};
  TSidePeaks Peaks;
  std::string Error;
  ASSERT_TRUE(Peaks.Scan(Tracks, Dir.File("cache"), Cancel, {}, Error)) << Error;
  ASSERT_EQ(Peaks.Frames(), static_cast<std::int64_t>(Side.size() / 2));
  // Every column holds at least the samples it covers (a column ends on a
  // bucket, so it may hold a little more); a whole track is exact.
  for (int Width : {1, 7, 640, 3000}) {
    const auto Columns = Peaks.Columns(0, Peaks.Frames(), Width);
    for (int c = 0; c < Width; ++c) {
      const std::int64_t a = Peaks.Frames() * c / Width, b = Peaks.Frames() * (c + 1) / Width;
      const TPeak Want = TSidePeaks::Of(Side.data() + 2 * a, static_cast<std::size_t>(b - a));
      for (int ch = 0; ch < 2; ++ch) {
        EXPECT_LE(Columns[c].Min[ch], Want.Min[ch]) << Width << " " << c;
        EXPECT_GE(Columns[c].Max[ch], Want.Max[ch]) << Width << " " << c;
      }
    }
  }
  const auto Exact = Peaks.Columns(100000, 100000 + 37333, 1);  // the second track, exactly
  const TPeak Want = TSidePeaks::Of(Side.data() + 2 * 100000, 37333);
  EXPECT_EQ(Exact[0].Min[0], Want.Min[0]);
  EXPECT_EQ(Exact[0].Max[1], Want.Max[1]);
  // A second scan comes from the cache with the same peaks; a file changed
  // since is read again.
  TSidePeaks Again;
  ASSERT_TRUE(Again.Scan(Tracks, Dir.File("cache"), Cancel, {}, Error)) << Error;
  EXPECT_EQ(Again.TrackFrames(), Peaks.TrackFrames());
  const auto a = Peaks.Columns(0, Peaks.Frames(), 500), b = Again.Columns(0, Again.Frames(), 500);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(TPeak)), 0);
  Write(Tracks[1], Samples(50000, 99));
  ASSERT_TRUE(Again.Scan(Tracks, Dir.File("cache"), Cancel, {}, Error)) << Error;
  EXPECT_EQ(Again.TrackFrames()[1], 50000);
}

TEST(SideReview, EditsMoveJoinAddSplitTitleAndUndo) {
  TSideEdit e;
  e.Reset({44100, 88200, 44100}, {"One", "Two", "Three"});
  EXPECT_EQ(e.Marks(), (std::vector<std::int64_t>{44100, 132300}));
  EXPECT_FALSE(e.Changed());
  EXPECT_TRUE(e.MoveMark(0, 50000));
  EXPECT_FALSE(e.MoveMark(0, 132300 - 10));  // too near the next mark
  EXPECT_FALSE(e.MoveMark(1, e.Frames()));   // at the end
  EXPECT_TRUE(e.DeleteMark(0));              // "One" and "Two" joined
  EXPECT_EQ(e.Titles(), (std::vector<std::string>{"One", "Three"}));
  EXPECT_TRUE(e.AddMark(20000));
  EXPECT_EQ(e.Marks(), (std::vector<std::int64_t>{20000, 132300}));
  EXPECT_EQ(e.Titles(), (std::vector<std::string>{"One", "", "Three"}));
  EXPECT_TRUE(e.SetTitle(1, "Étude"));
  EXPECT_TRUE(e.SetMarks({100000, 30000, 60000}));  // split into four, in order
  EXPECT_EQ(e.Marks(), (std::vector<std::int64_t>{30000, 60000, 100000}));
  // Each title went with most of its song: "Étude" (20000..132300) lies
  // mostly in the third track, "Three" (132300..) in the fourth.
  EXPECT_EQ(e.Titles(), (std::vector<std::string>{"One", "", "Étude", "Three"}));
  EXPECT_EQ(e.TrackEnd(3), e.Frames());
  // Undone to the start, step by step, and redone to the end.
  int Steps = 0;
  while (e.Undo()) ++Steps;
  EXPECT_EQ(Steps, 5);
  EXPECT_FALSE(e.Changed());
  EXPECT_EQ(e.Titles(), (std::vector<std::string>{"One", "Two", "Three"}));
  while (e.Redo()) --Steps;
  EXPECT_EQ(Steps, 0);
  EXPECT_EQ(e.Marks(), (std::vector<std::int64_t>{30000, 60000, 100000}));
  // A new edit drops what could have been redone.
  e.Undo();
  EXPECT_TRUE(e.AddMark(150000));
  EXPECT_FALSE(e.CanRedo());

  // A track of no frames (a header-only file) in the middle stops no other
  // edit, and Delete joins it.
  TSideEdit z;
  z.Reset({44100, 0, 44100}, {"A", "", "B"});
  EXPECT_TRUE(z.AddMark(20000));
  EXPECT_TRUE(z.MoveMark(0, 21000));
  EXPECT_FALSE(z.MoveMark(1, 21000 + 100));  // the moved mark itself keeps its 10 ms
  EXPECT_TRUE(z.DeleteMark(2));
  EXPECT_EQ(z.Marks(), (std::vector<std::int64_t>{21000, 44100}));
  EXPECT_EQ(z.Titles(), (std::vector<std::string>{"A", "", ""}));
}

TEST(SideReview, TheQuietestFrameIsTheCentreOfTheQuietestStretch) {
  std::vector<std::int16_t> s = Samples(4410, 3);  // 100 ms of noise
  for (std::size_t f = 3000; f < 3200; ++f) s[2 * f] = s[2 * f + 1] = 0;
  const std::size_t At = QuietestFrame(s.data(), 4410, 2205);
  EXPECT_GE(At, 3000u + 50);
  EXPECT_LE(At, 3200u - 50);
  // Silence everywhere: the preferred frame.
  std::vector<std::int16_t> Quiet(2 * 4410, 0);
  EXPECT_EQ(QuietestFrame(Quiet.data(), 4410, 2205), 2205u);
}

TEST(SideReview, ARewrittenSideJoinsBackToTheSameAudioAndTheOldTracksGo) {
  test::TempDir Dir;
  std::vector<std::string> Tracks;
  Bytes Side;
  for (int t = 0; t < 3; ++t) {
    Tracks.push_back(Dir.File("Track0" + std::to_string(t + 1) + ".wav"));
    Write(Tracks.back(),
          Samples(60000 + 1000 * static_cast<std::size_t>(t), 20u + static_cast<std::uint32_t>(t)));
    const Bytes a = test::WavData(Tracks.back());
    Side.insert(Side.end(), a.begin(), a.end());
  }
  TSideEdit e;
  e.Reset({60000, 61000, 62000}, {"", "", ""});
  ASSERT_TRUE(e.DeleteMark(1));
  ASSERT_TRUE(e.AddMark(1000));
  ASSERT_TRUE(e.MoveMark(0, 500));
  ASSERT_TRUE(e.SetTitle(2, "Last"));
  ASSERT_EQ(e.Tracks(), 3u);
  std::vector<TTrackFile> New;
  for (std::size_t t = 0; t < e.Tracks(); ++t)
    New.push_back({"Track0" + std::to_string(t + 4) + ".wav",
                   {e.Titles()[t]},
                   e.TrackEnd(t) - e.TrackStart(t)});
  std::string Error;
  ASSERT_TRUE(RewriteSide(Tracks, Dir.Path(), New, {}, Error)) << Error;
  for (const std::string& t : Tracks) EXPECT_FALSE(fs::exists(t));
  Bytes Joined;
  for (std::size_t t = 0; t < New.size(); ++t) {
    const Bytes a = test::WavData(Dir.File(New[t].Name));
    EXPECT_EQ(static_cast<std::int64_t>(a.size() / 4), New[t].Frames) << t;
    Joined.insert(Joined.end(), a.begin(), a.end());
  }
  EXPECT_TRUE(Joined == Side);
  EXPECT_EQ(TrackTitle(Dir.File(New[2].Name)), "Last");
}

// Any stretch of the side, read at random: the tracks' frames joined, across
// their boundaries, with silence before the start and past the end; a track
// in another format is refused by name.
TEST(SideReview, TheSideReadsAnyStretchAsItsTracksJoined) {
  test::TempDir Dir;
  std::vector<std::string> Tracks;
  std::vector<std::int16_t> Side;
  for (const std::size_t Frames : {3000u, 1u, 5000u, 700u}) {
    Tracks.push_back(Dir.File("Track0" + std::to_string(Tracks.size() + 1) + ".wav"));
    const std::vector<std::int16_t> s = Samples(Frames, static_cast<std::uint32_t>(Frames));
    Write(Tracks.back(), s);
    Side.insert(Side.end(), s.begin(), s.end());
  }
  TSideAudio Audio;
  std::string Error;
  ASSERT_TRUE(Audio.Open(Tracks, Error)) << Error;
  const auto Frames = static_cast<std::int64_t>(Side.size() / 2);
  ASSERT_EQ(Audio.Frames(), Frames);
  std::mt19937 Random(3);
  for (int Round = 0; Round < 300; ++Round) {
    const std::int64_t From = static_cast<std::int64_t>(Random() % (Frames + 400)) - 200;
    const std::int64_t Count = static_cast<std::int64_t>(Random() % 6000);
    std::vector<std::int16_t> Got(static_cast<std::size_t>(2 * Count), 7);
    const std::int64_t Read = Audio.Read(From, Got.data(), Count);
    std::int64_t Inside = 0;
    for (std::int64_t f = 0; f < Count; ++f)
      for (int c = 0; c < 2; ++c) {
        const std::int64_t At = From + f;
        const bool In = At >= 0 && At < Frames;
        Inside += In && c == 0;
        ASSERT_EQ(Got[static_cast<std::size_t>(2 * f + c)],
                  In ? Side[static_cast<std::size_t>(2 * At + c)] : 0)
            << "from " << From << ", frame " << f;
      }
    EXPECT_EQ(Read, Inside) << "from " << From << ", " << Count << " frames";
  }
  const std::string Mono = Dir.File("mono.wav");
  test::WriteFileBytes(Mono,
                       test::Riff({test::PcmFmt(1, 44100, 16), test::Chunk("data", Bytes(8, 0))}));
  EXPECT_FALSE(Audio.Open({Tracks[0], Mono}, Error));
  EXPECT_NE(Error.find("mono.wav"), std::string::npos) << Error;
}

// The side re-split under the old tracks' own names, the process ended after
// each step that changes what the folder shows, in turn: what is left is
// finished by the next look at the folder: exactly the new set, by its names,
// joining back to the side, nothing hidden, and one line said.
TEST(SideReview, ARewriteEndedAtAnyStepIsFinishedByTheNextStart) {
  const std::vector<std::int64_t> Old = {30000, 20000, 25000}, Cut = {10000, 42000, 23000};
  for (int Step = 1;; ++Step) {
    test::TempDir Dir;
    std::vector<std::string> Tracks;
    Bytes Side;
    for (std::size_t t = 0; t < Old.size(); ++t) {
      Tracks.push_back(Dir.File("Track0" + std::to_string(t + 1) + ".wav"));
      Write(Tracks.back(),
            Samples(static_cast<std::size_t>(Old[t]), static_cast<std::uint32_t>(t)));
      const Bytes a = test::WavData(Tracks.back());
      Side.insert(Side.end(), a.begin(), a.end());
    }
    std::vector<TTrackFile> New;
    for (std::size_t t = 0; t < Cut.size(); ++t)
      New.push_back({"Track0" + std::to_string(t + 1) + ".wav", {}, Cut[t]});
    const bool Ended = test::InterruptRewrite(Tracks, Dir.Path(), New, Step);
    const std::string Said = RecoverRewrites(Dir.Path());
    if (!Ended) {
      EXPECT_EQ(Said, "");
      EXPECT_GT(Step, 6);  // three interim names, three removals, three renames
    } else {
      EXPECT_NE(Said.find("interrupted rewrite"), std::string::npos) << Said;
      EXPECT_EQ(Said.find('\n'), std::string::npos);
    }
    Bytes Joined;
    std::vector<std::string> Names;
    for (const auto& e : fs::directory_iterator(Dir.Path()))
      Names.push_back(e.path().filename().string());
    std::sort(Names.begin(), Names.end());
    EXPECT_EQ(Names, (std::vector<std::string>{"Track01.wav", "Track02.wav", "Track03.wav"}))
        << "ended after step " << Step;
    for (std::size_t t = 0; t < Cut.size() && t < Names.size(); ++t) {
      const Bytes a = test::WavData(Dir.File(Names[t]));
      EXPECT_EQ(static_cast<std::int64_t>(a.size() / 4), Cut[t]) << "step " << Step;
      Joined.insert(Joined.end(), a.begin(), a.end());
    }
    EXPECT_TRUE(Joined == Side) << "ended after step " << Step;
    if (!Ended) break;
  }
}

// Titling keeps what it does not change: a "bext" chunk in front of the
// data and an extensible format record (its channel mask) stay byte for
// byte; only the title and the name are new.
TEST(SideReview, TitlingKeepsTheChunksAndHeaderItDoesNotChange) {
  test::TempDir Dir;
  Bytes Fmt = {0xFE, 0xFF, 2,    0, 0x44, 0xAC, 0, 0,    0x10, 0xB1, 2,    0,   4, 0,
               16,   0,    22,   0, 16,   0,    3, 0,    0,    0,    1,    0,   0, 0,
               0,    0,    0x10, 0, 0x80, 0,    0, 0xAA, 0,    0x38, 0x9B, 0x71};
  const Bytes Bext(602, 0x42), Data(4 * 1000, 0x11);
  const std::string Track = Dir.File("Track01.wav");
  test::WriteFileBytes(Track, test::Riff({test::Chunk("fmt ", Fmt), test::Chunk("bext", Bext),
                                          test::Chunk("data", Data)}));
  const Bytes Before = test::ReadFileBytes(Track);
  std::vector<std::string> Names;
  std::string Error;
  ASSERT_TRUE(TitleTrackFiles({Track}, {"Kept"}, Names, Error)) << Error;
  const Bytes After = test::ReadFileBytes(Dir.File("01 Kept.wav"));
  const std::size_t Head = 12 + 8 + Fmt.size() + 8 + Bext.size() + 8 + Data.size();
  ASSERT_GE(After.size(), Head);
  EXPECT_TRUE(std::equal(Before.begin() + 8, Before.begin() + static_cast<std::ptrdiff_t>(Head),
                         After.begin() + 8));
  EXPECT_EQ(TrackTitle(Dir.File("01 Kept.wav")), "Kept");

  // Names that cross (each new name another track's old one) are written
  // anew: the chunk and the header go with the audio all the same.
  const std::string Second = Dir.File("02 Other.wav");
  test::WriteFileBytes(Second, test::Riff({test::PcmFmt(2, 44100, 16), test::Chunk("data", Data)}));
  ASSERT_TRUE(TitleTrackFiles({Second, Dir.File("01 Kept.wav")}, {"Kept", "Other"}, Names, Error))
      << Error;
  TWaveScan Moved;  // the first track's file, now second
  ASSERT_TRUE(ScanWaveFile(Dir.File("02 Other.wav"), Moved, Error)) << Error;
  ASSERT_EQ(Moved.OtherChunks.size(), 1u);
  EXPECT_EQ(Moved.OtherChunks[0].second, Bext);
  EXPECT_EQ(Moved.StoredFormatBytes.size(), 40u);
  EXPECT_EQ(Moved.StoredFormatBytes[0], 0xFE);
  EXPECT_EQ(test::WavData(Dir.File("02 Other.wav")), Data);
  EXPECT_EQ(TrackTitle(Dir.File("01 Kept.wav")), "Kept");
}

// Titling tracks writes each title after its audio and renames the file, in
// place (the audio is not copied: the files keep their inodes); ended after
// any step, the next look finishes it: every track titled and named, once.
TEST(SideReview, ATitlingEndedAtAnyStepIsFinishedByTheNextStart) {
  for (int Step = 1;; ++Step) {
    test::TempDir Dir;
    std::vector<std::string> Tracks;
    std::vector<ino_t> Inodes;
    for (int t = 0; t < 3; ++t) {
      Tracks.push_back(Dir.File("Track0" + std::to_string(t + 1) + ".wav"));
      Write(Tracks.back(), Samples(1000, static_cast<std::uint32_t>(t)));
      struct stat St {};
      ::stat(Tracks.back().c_str(), &St);
      Inodes.push_back(St.st_ino);
    }
    const pid_t Child = ::fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
      int Steps = 0;
      OnRewriteStep = [&] {
        if (++Steps == Step) ::_exit(9);
      };
      std::vector<std::string> Names;
      std::string Error;
      ::_exit(TitleTrackFiles(Tracks, {"A", "B", "C"}, Names, Error) ? 0 : 1);
    }
    int Status = 0;
    ::waitpid(Child, &Status, 0);
    ASSERT_TRUE(WIFEXITED(Status));
    ASSERT_NE(WEXITSTATUS(Status), 1) << "step " << Step;
    RecoverRewrites(Dir.Path());
    std::vector<std::string> Names;
    for (const auto& e : fs::directory_iterator(Dir.Path()))
      Names.push_back(e.path().filename().string());
    std::sort(Names.begin(), Names.end());
    EXPECT_EQ(Names, (std::vector<std::string>{"01 A.wav", "02 B.wav", "03 C.wav"})) << Step;
    for (std::size_t t = 0; t < Names.size(); ++t) {
      const auto Expected = Samples(1000, static_cast<std::uint32_t>(t));
      const Bytes Data = test::WavData(Dir.File(Names[t]));
      EXPECT_TRUE(Data.size() == Expected.size() * 2 &&
                  std::memcmp(Data.data(), Expected.data(), Data.size()) == 0)
          << Names[t];
      EXPECT_EQ(TrackTitle(Dir.File(Names[t])), std::string(1, static_cast<char>('A' + t)));
      struct stat St {};
      ::stat(Dir.File(Names[t]).c_str(), &St);
      EXPECT_EQ(St.st_ino, Inodes[t]) << Names[t];
    }
    if (WEXITSTATUS(Status) == 0) break;
  }
}

}  // namespace
}  // namespace velmar
