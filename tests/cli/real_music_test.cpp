// The track rule on real music: pieces for piano, guitar and strings rendered
// by fluidsynth, soft passages right after the minimum length, 3 s of digital
// silence between pieces. Split offline by velmar-rec split, and recorded live
// from a private PulseAudio server by velmar-rec record, with and without
// waiting for sound: one track per piece, every cut in a gap, and the
// recording not ended before the last piece.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "tests/support/fluid_music.h"
#include "tests/support/peer.h"
#include "tests/support/pulse_server.h"
#include "tests/support/wait_until.h"
#include "tests/support/wav_data.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace test;

TEST(RealMusic, SplitMakesOneTrackPerPieceAndCutsOnlyInTheGaps) {
  for (const auto& Pieces : {PianoSide(), MixedSide()}) {
    TempDir Dir;
    const MusicSide Side = RenderSide(Pieces);
    ASSERT_TRUE(Side.Rendered) << "fluidsynth did not render the pieces";
    WriteFileBytes(Dir.File("side.wav"), CdWav(Side.Pcm));
    int Status = -1;
    const std::string Said = RunCommand(std::string(VELMAR_REC) + " split " + Dir.File("side.wav") +
                                            " -o " + Dir.File("tracks") + " 2>&1",
                                        &Status);
    ASSERT_EQ(Status, 0) << Said;
    ExpectOneTrackPerPiece(Side, TracksIn(Dir.File("tracks")), Said);
  }
}

// A velmar-rec record run on the private server's monitor, its messages and
// track lines in a log.
struct Recording {
  std::string Out, Log;
  pid_t Child = -1;
  Recording(const std::string& Device, std::string Folder, const std::vector<std::string>& Options)
      : Out(std::move(Folder)), Log(Out + ".log") {
    std::vector<std::string> Args{VELMAR_REC, "record", "-d", Device, "-o", Out};
    Args.insert(Args.end(), Options.begin(), Options.end());
    Child = ::fork();
    if (Child == 0) {
      std::freopen(Log.c_str(), "w", stderr);
      ::dup2(2, 1);  // the track lines too
      std::vector<char*> Argv;
      for (std::string& a : Args) Argv.push_back(a.data());
      Argv.push_back(nullptr);
      ::execv(VELMAR_REC, Argv.data());
      ::_exit(127);
    }
  }
  std::string Said() const {
    const Bytes b = ReadFileBytes(Log);
    return std::string(b.begin(), b.end());
  }
  bool Listening() const {
    return fs::exists(Out + "/Track01.wav") ||
           Said().find("waiting for sound") != std::string::npos;
  }
  // Its messages once it ended by itself (within a minute), or why not.
  std::string Ended() {
    int Status = -1;
    if (WaitUntil([&] { return ::waitpid(Child, &Status, WNOHANG) == Child; },
                  std::chrono::seconds(60)))
      return Said();
    ::kill(Child, SIGKILL);
    ::waitpid(Child, &Status, 0);
    return "velmar-rec did not end: " + Said();
  }
};

// Two recordings of one side played once: with the defaults (recording from
// Rec) and waiting for sound.
TEST(RealMusic, ALiveRecordingMakesOneTrackPerPieceWithAndWithoutStartOnSound) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const MusicSide Side = RenderSide(PianoSide(), 1, 3, 8);
  ASSERT_TRUE(Side.Rendered) << "fluidsynth did not render the pieces";
  WriteFileBytes(Dir.File("side.wav"), CdWav(Side.Pcm));
  int Status = -1;
  const std::string Device = PulseServer::MonitorOf(VELMAR_REC);
  ASSERT_FALSE(Device.empty());
  Recording Plain(Device, Dir.File("recorded"), {}),
      Waited(Device, Dir.File("waited"), {"--wait-for-sound"});
  ASSERT_TRUE(WaitUntil([&] { return Plain.Listening() && Waited.Listening(); }))
      << Plain.Said() << Waited.Said();
  RunCommand("paplay --device=test " + Dir.File("side.wav"), &Status);
  EXPECT_EQ(Status, 0);
  for (Recording* r : {&Plain, &Waited}) {
    const std::string Said = r->Ended();
    ExpectOneTrackPerPiece(Side, TracksIn(r->Out), Said);
    // The recording ended in the run-out, by the rule, and said so.
    EXPECT_NE(Said.find("so the recording ended there"), std::string::npos) << Said;
  }
}

// A side whose songs hold quiet passages longer than the gaps between songs,
// played 1 % slow, and a listing typed from the sleeve with lengths a few
// seconds off: split --listing cuts each song in its own gap, leaves the
// lead-in and run-out out and names the tracks (as ffprobe reads them);
// split --tracks 3 takes the longest gaps and cuts inside a song.
TEST(RealMusic, AListingPlacesEachCutInItsGapWhereSplitIntoNCutsInsideASong) {
  TempDir Dir;
  const SongSide Songs = RenderSongSide();
  ASSERT_TRUE(Songs.Rendered) << "fluidsynth did not render the pieces";
  const Bytes& Pcm = Songs.Pcm;
  const auto& Music = Songs.Music;
  WriteFileBytes(Dir.File("played.wav"), CdWav(Pcm));
  int Status = -1;
  // Played 1 % slow: every place lies 1/0.99 later.
  RunCommand("sox " + Dir.File("played.wav") + " " + Dir.File("side.wav") + " speed 0.99 2>&1",
             &Status);
  ASSERT_EQ(Status, 0);
  const double Slow = 1 / 0.99;
  // Each track from its song's start to the next one's, rounded, then off by +3, -2, -1 s.
  const std::string Listing = Songs.Listing({3, -2, -1}) + "Side B\nB1 Elsewhere 4:00\n";
  WriteFileBytes(Dir.File("listing.txt"), Bytes(Listing.begin(), Listing.end()));
  // A track's start (seconds of the slowed side) lies between two songs.
  const Bytes Side = WavData(Dir.File("side.wav"));
  auto StartOf = [&](const Bytes& Track) {
    const auto It = std::search(Side.begin(), Side.end(), Track.begin(), Track.begin() + 4096);
    return It == Side.end() ? -1.0 : static_cast<double>(It - Side.begin()) / 176400;
  };
  auto Between = [&](double At, std::size_t Song) {
    return At > Music[Song - 1].second * Slow && At < Music[Song].first * Slow;
  };

  const std::string Said =
      RunCommand(std::string(VELMAR_REC) + " split " + Dir.File("side.wav") + " --listing " +
                     Dir.File("listing.txt") + " -o " + Dir.File("listed") + " 2>&1",
                 &Status);
  ASSERT_EQ(Status, 0) << Said;
  const std::vector<Bytes> Listed = TracksIn(Dir.File("listed"));
  ASSERT_EQ(Listed.size(), 3u) << Said;
  for (std::size_t i = 1; i < Listed.size(); ++i)
    EXPECT_TRUE(Between(StartOf(Listed[i]), i))
        << "track " << i + 1 << " starts at " << StartOf(Listed[i]) << " s; " << Said;
  // The lead-in and the run-out are left out: the first track starts within
  // the lead-in's last second, the last ends within a few seconds of the music.
  const double From = StartOf(Listed[0]);
  EXPECT_GT(From, 0.3) << Said;
  EXPECT_LT(From, Music[0].first * Slow) << Said;
  const double To = StartOf(Listed[2]) + static_cast<double>(Listed[2].size()) / 176400;
  EXPECT_GT(To, Music[2].second * Slow) << Said;
  EXPECT_LT(To, static_cast<double>(Side.size()) / 176400 - 1) << Said;
  EXPECT_NE(Said.find("side A of sides AB"), std::string::npos) << Said;
  EXPECT_NE(Said.find("sound runs 1."), std::string::npos) << Said;
  EXPECT_NE(Said.find("% longer than the listing"), std::string::npos) << Said;
  EXPECT_EQ(Peer("ffprobe -v error -show_entries format_tags=title -of csv=p=0 " +
                 Dir.File("listed/Track02.wav")),
            "Strings at Noon\n");

  // Split into 3 by the longest gaps: the silences inside the songs win.
  const std::string SaidN = RunCommand(std::string(VELMAR_REC) + " split " + Dir.File("side.wav") +
                                           " --tracks 3 -o " + Dir.File("three") + " 2>&1",
                                       &Status);
  ASSERT_EQ(Status, 0) << SaidN;
  const std::vector<Bytes> Three = TracksIn(Dir.File("three"));
  ASSERT_EQ(Three.size(), 3u);
  EXPECT_FALSE(Between(StartOf(Three[1]), 1) && Between(StartOf(Three[2]), 2)) << SaidN;
}

// A side at 24 bits and 96 kHz (the rendered side resampled by sox: every bit
// of each sample is used) played into a sink running at that format:
// velmar-rec record --rate 96000 --bits 24 writes tracks at 24/96 (the
// extensible header, as ffprobe reads it) whose audio joined is the side bit
// for bit, one track per piece, cut in the gaps, each cut within one buffer of
// where the side measured at 16 bits 44.1 kHz (split) cuts it.
TEST(RealMusic, A24Bit96kHzRecordingKeepsEverySampleAndCutsWhereThe16BitMeasureDoes) {
  TempDir Dir;
  const MusicSide Side = RenderSide(MixedSide(), 1, 3, 8);
  ASSERT_TRUE(Side.Rendered) << "fluidsynth did not render the pieces";
  WriteFileBytes(Dir.File("cd.wav"), CdWav(Side.Pcm));
  int Status = -1;
  RunCommand("sox " + Dir.File("cd.wav") + " -b 24 -r 96000 " + Dir.File("side.wav") + " 2>&1",
             &Status);
  ASSERT_EQ(Status, 0);
  const Bytes Hi = WavData(Dir.File("side.wav"));
  constexpr std::size_t kBlock = 6;
  constexpr double kRate = 96000, kBuffer = 2024.0 / 44100;
  auto Sample = [](const Bytes& Pcm, std::size_t i) {
    return static_cast<std::int32_t>(
               static_cast<std::uint32_t>(Pcm[i] | Pcm[i + 1] << 8 | Pcm[i + 2] << 16) << 8) >>
           8;
  };
  std::size_t LowBits = 0;  // samples that a 16-bit one could not hold
  for (std::size_t i = 0; i + 3 <= Hi.size(); i += 3) LowBits += (Sample(Hi, i) & 0xFF) != 0;
  ASSERT_GT(LowBits, Hi.size() / 3 / 4);

  // The offline split measures the side at 16 bits 44.1 kHz: its cuts, in
  // seconds of the side.
  const std::string SplitSaid =
      RunCommand(std::string(VELMAR_REC) + " split " + Dir.File("side.wav") + " -o " +
                     Dir.File("split") + " 2>&1",
                 &Status);
  ASSERT_EQ(Status, 0) << SplitSaid;
  std::vector<double> SplitCuts;
  double At = 0;
  for (const Bytes& t : TracksIn(Dir.File("split"))) {
    if (At > 0) SplitCuts.push_back(At);
    At += static_cast<double>(t.size() / kBlock) / kRate;
  }

  PulseServer Server(96000, "s24le");
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  const std::string Device = PulseServer::MonitorOf(VELMAR_REC);
  ASSERT_FALSE(Device.empty());
  Recording Hires(Device, Dir.File("recorded"), {"--rate", "96000", "--bits", "24"});
  ASSERT_TRUE(WaitUntil([&] { return Hires.Listening(); })) << Hires.Said();
  RunCommand("paplay --device=test " + Dir.File("side.wav"), &Status);
  EXPECT_EQ(Status, 0);
  const std::string Said = Hires.Ended();
  EXPECT_NE(Said.find("so the recording ended there"), std::string::npos) << Said;
  EXPECT_EQ(Peer("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,"
                 "bits_per_raw_sample -of csv=p=0 " +
                 Dir.File("recorded/Track01.wav")),
            "pcm_s24le,96000,2,24\n");
  const Bytes File = ReadFileBytes(Dir.File("recorded/Track01.wav"));
  const auto [FmtSize, FmtAt] = WavChunk(File, "fmt ");
  ASSERT_EQ(FmtSize, 40u) << "the extensible format record";
  EXPECT_EQ(File[FmtAt] | File[FmtAt + 1] << 8, 0xFFFE);

  // The tracks joined are the side from its first sound, bit for bit.
  Bytes Joined;
  std::vector<std::size_t> Cuts;
  const std::vector<Bytes> Tracks = TracksIn(Dir.File("recorded"));
  for (const Bytes& t : Tracks) {
    if (!Joined.empty()) Cuts.push_back(Joined.size());
    Joined.insert(Joined.end(), t.begin(), t.end());
  }
  auto FirstSound = [&](const Bytes& Pcm) {
    return static_cast<std::size_t>(
               std::find_if(Pcm.begin(), Pcm.end(), [](std::uint8_t b) { return b != 0; }) -
               Pcm.begin()) /
           kBlock * kBlock;
  };
  const std::size_t SideFirst = FirstSound(Hi), Offset = FirstSound(Joined);
  ASSERT_LT(Offset, Joined.size()) << Said;
  const std::size_t Kept = std::min(Joined.size() - Offset, Hi.size() - SideFirst);
  EXPECT_TRUE(std::equal(Joined.begin() + static_cast<std::ptrdiff_t>(Offset),
                         Joined.begin() + static_cast<std::ptrdiff_t>(Offset + Kept),
                         Hi.begin() + static_cast<std::ptrdiff_t>(SideFirst)))
      << "the tracks differ from the side; " << Said;
  // One track per piece, each cut in a gap and beside the 16-bit measure's.
  const double LastEnd = static_cast<double>(Side.Pieces.back().second / 4) / 44100;
  EXPECT_GE(static_cast<double>((SideFirst + Kept) / kBlock) / kRate, LastEnd) << Said;
  // (The split goes on to the file's end, the recording ends in the run-out.)
  ASSERT_GE(Cuts.size(), Side.Pieces.size() - 1) << Said;
  ASSERT_GE(SplitCuts.size(), Cuts.size()) << Said << SplitSaid;
  for (std::size_t i = 0; i < Cuts.size(); ++i) {
    const double Cut = static_cast<double>((Cuts[i] + SideFirst - Offset) / kBlock) / kRate;
    EXPECT_TRUE(Side.InAGap(static_cast<std::size_t>(Cut * 44100) * 4)) << Cut << " s; " << Said;
    EXPECT_NEAR(Cut, SplitCuts[i], kBuffer) << "cut " << i + 1 << "; " << Said << SplitSaid;
  }

  // Click repair keeps 24/96 and the record; FLAC keeps it bit for bit, with a
  // ReplayGain as loudgain measures it.
  const std::string Track = Dir.File("recorded/Track01.wav");
  const std::string Repaired = RunCommand(
      std::string(VELMAR_REC) + " declick " + Track + " -o " + Dir.File("repaired") + " 2>&1",
      &Status);
  ASSERT_EQ(Status, 0) << Repaired;
  EXPECT_EQ(WavChunk(ReadFileBytes(Dir.File("repaired/Track01.wav")), "fmt ").first, 40u);
  EXPECT_EQ(Peer("ffprobe -v error -show_entries stream=sample_rate,bits_per_raw_sample -of "
                 "csv=p=0 " +
                 Dir.File("repaired/Track01.wav")),
            "96000,24\n");
#ifdef VELMAR_MP3
  const std::string Flac = Dir.File("recorded/Track01.flac");
  const std::string Encoded =
      RunCommand(std::string(VELMAR_MP3) + " --no-window --flac " + Track + " 2>&1", &Status);
  ASSERT_EQ(Status, 0) << Encoded;
  EXPECT_EQ(Peer("metaflac --show-sample-rate --show-bps " + Flac), "96000\n24\n");
  const std::string Decoded = Dir.File("decoded.raw");
  Peer("ffmpeg -v error -i " + Flac + " -f s24le " + Decoded);
  EXPECT_TRUE(ReadFileBytes(Decoded) == WavData(Track)) << "the FLAC differs from the track";
  const std::string Gain = Peer("metaflac --show-tag=REPLAYGAIN_TRACK_GAIN " + Flac);
  std::istringstream Theirs(Peer("loudgain -O " + Track + " 2>/dev/null"));
  std::string Line, Field;
  std::getline(Theirs, Line);  // the heading
  std::getline(Theirs, Line);
  std::vector<std::string> Fields;
  for (std::istringstream In(Line); std::getline(In, Field, '\t');) Fields.push_back(Field);
  ASSERT_GE(Fields.size(), 9u) << Line;
  ASSERT_EQ(Gain.rfind("REPLAYGAIN_TRACK_GAIN=", 0), 0u) << Gain;
  EXPECT_NEAR(std::stod(Gain.substr(22)), std::stod(Fields[8]), 0.05) << Gain << Line;
#endif
}

}  // namespace
}  // namespace velmar
