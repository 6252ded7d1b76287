// velmar-rec: splitting recordings into tracks that give back the input, the
// same tracks from a recording session on a file source, what info prints,
// usage and device errors, and a clean end on Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "cli/track_session.h"
#include "platform/byte_order.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "stream/wave_format.h"
#include "tests/cli/velmar_rec.h"
#include "tests/support/peer.h"
#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/wavefile/wave_file_test_support.h"
#include "wavefile/wave_scan.h"

namespace velmar {
namespace {

using namespace test;

// "key: value" lines of info.
std::map<std::string, std::string> Info(const std::string& Name) {
  int Status = -1;
  std::istringstream Lines(Rec("info " + Name, &Status));
  EXPECT_EQ(Status, 0);
  std::map<std::string, std::string> Keys;
  for (std::string Line; std::getline(Lines, Line);) {
    const auto Colon = Line.find(": ");
    if (Colon != std::string::npos) Keys[Line.substr(0, Colon)] = Line.substr(Colon + 2);
  }
  return Keys;
}

// What a recording said after its opening lines: the time the disk has room
// for (first, always) and that the machine may sleep (where no logind answers).
std::string AfterTheOpening(const std::string& Said) {
  EXPECT_EQ(Said.rfind("velmar-rec: recording time: ", 0), 0u) << Said;
  std::size_t From = Said.find('\n') + 1;
  if (Said.compare(From, 45, "velmar-rec: the machine may sleep while recor") == 0)
    From = Said.find('\n', From) + 1;
  return Said.substr(From);
}

// A capture device that plays Samples like a file: nothing captured ahead of
// the chain, silence after the end; Tap sees each request's offset first.
std::shared_ptr<TVirtualBackend> FileSource(
    const Bytes& Samples, std::function<void(std::uint64_t)> Tap = [](std::uint64_t) {}) {
  auto Virtual = std::make_shared<TVirtualBackend>();
  Virtual->AddCapture({.Generator =
                           [&Samples, Tap](std::uint8_t* Dest, std::uint32_t Count,
                                           std::uint64_t Offset, const WAVEFORMATEX&) {
                             Tap(Offset);
                             for (std::uint32_t i = 0; i < Count; ++i)
                               Dest[i] = Offset + i < Samples.size() ? Samples[Offset + i] : 0;
                           },
                       .RealTime = false,
                       .Live = false,
                       .OnDemand = true});
  return Virtual;
}

// Runs a recording to its end; its status, and what it said on stderr.
int RunSaying(cli::TTrackSession& Session, std::string& Said) {
  const std::atomic<bool> Never{false};
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  const int Status = Session.Run(Never);
  testing::internal::GetCapturedStdout();
  Said = testing::internal::GetCapturedStderr();
  return Status;
}

struct Cli : ::testing::Test {
  TempDir Dir;
  std::string Input = Dir.File("input.wav");

  // Pieces of sound with silences between them: 8 s tone, 3 s silence, 10 s
  // noise, 3 s silence, 9 s tone.
  void MakeProgramme() {
    const std::string Cd = " -r 44100 -b 16 -c 2 ";
    Peer("sox -n" + Cd + Dir.File("t1.wav") + " synth 8 sine 440 vol 0.4");
    Peer("sox -n" + Cd + Dir.File("s.wav") + " trim 0 3");
    Peer("sox -n" + Cd + Dir.File("n.wav") + " synth 10 pinknoise vol 0.3");
    Peer("sox -n" + Cd + Dir.File("t2.wav") + " synth 9 sine 660 vol 0.4");
    Peer("sox " + Dir.File("t1.wav") + " " + Dir.File("s.wav") + " " + Dir.File("n.wav") + " " +
         Dir.File("s.wav") + " " + Dir.File("t2.wav") + " " + Input);
  }
};

TEST_F(Cli, SplitGivesATrackPerPieceSplitInsideEachSilence) {
  MakeProgramme();
  const std::string Out = Dir.File("out");
  int Status = -1;
  const std::string Printed = Rec("split " + Input + " --out " + Out, &Status);
  ASSERT_EQ(Status, 0) << Printed;
  const auto Names = Tracks(Out);
  ASSERT_EQ(Names, (std::vector<std::string>{"Track01.wav", "Track02.wav", "Track03.wav"}))
      << Printed;
  // Each split comes after the buffer where the sound ends and then the time
  // gate: 8 buffers of silence.
  const Bytes t1 = Audio(Out + "/Track01.wav"), t2 = Audio(Out + "/Track02.wav"),
              t3 = Audio(Out + "/Track03.wav");
  auto SplitAfter = [](std::size_t SoundBytes) { return ((SoundBytes + 8095) / 8096 + 8) * 8096; };
  EXPECT_EQ(t1.size(), SplitAfter(8 * 176400));
  EXPECT_EQ(t2.size(), SplitAfter(21 * 176400 - t1.size()));
  Bytes All = t1;
  All.insert(All.end(), t2.begin(), t2.end());
  All.insert(All.end(), t3.begin(), t3.end());
  EXPECT_TRUE(All == Audio(Input));
  // A progress line per track, as the track list shows it.
  EXPECT_NE(Printed.find("Track01.wav  0:08.399  1411 kB\n"), std::string::npos) << Printed;
  // The peers read every file with the length info reports.
  for (const auto& Name : Names) {
    const std::string File = Out + "/" + Name;
    const auto Keys = Info(File);
    EXPECT_EQ(Peer("sox --i -s " + File), Keys.at("frames") + "\n");
    EXPECT_EQ(Peer("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 " + File),
              Keys.at("frames") + "\n");
  }
  // Splitting again never overwrites: the numbers go on.
  ASSERT_EQ(Rec("split " + Input + " --out " + Out + " --min-length 30", &Status),
            "Track04.wav  0:33.000  5543 kB\n");
  EXPECT_EQ(Status, 0);
}

// The tracks split makes from a programme of sounds at several levels and gaps
// of several lengths, pinned: the boundaries, bytes, names and lines must not
// change when the way the file is read does.
TEST_F(Cli, SplitOutputIsPinned) {
  Bytes Audio;
  std::uint32_t Seed = 1;
  for (int Piece = 0; Piece < 40; ++Piece) {
    Seed = Seed * 1103515245u + 12345u;
    const std::size_t Sound = 44100 * (1 + Seed % 4) + Seed % 3000;
    const std::size_t Gap = 4410 * (2 + (Seed >> 8) % 12) + (Seed >> 4) % 999;
    const double Level = 200.0 + static_cast<double>((Seed >> 12) % 6000);
    for (std::size_t f = 0; f < Sound + Gap; ++f) {
      const auto v = static_cast<std::int16_t>(
          f < Sound ? Level * std::sin(static_cast<double>(f) * (0.03 + Piece * 0.001)) : 0);
      for (int c = 0; c < 2; ++c) PutLe(Audio, static_cast<std::uint16_t>(v), 2);
    }
  }
  WriteFileBytes(Input, Riff({PcmFmt(2, 44100, 16), Chunk("data", Audio)}));
  // SHA-256 of the printed lines, and of the tracks' sha256sum listing.
  struct Case {
    std::string Options, Lines, Tracks;
  };
  const Case Cases[] = {
      {"", "5f0c013106ee90f632965102f118c5d3f62ee1d15cf880a5d846f9148edf8b7f",
       "f3bd98086f33ce8cef71f464d6df912f3b57faa115bc5a6aa59c28db663507ff"},
      {"--min-length 1 --time-gate 3 -n 40",
       "5a037ffa81745a6f66666d5eec1fe9b0ca860eb3a3d1f49a783110c13323c608",
       "fa3ce2ca2d53469d0c32123205f35b26754e1d3d997f5f687e033e1c2177dece"},
  };
  int n = 0;
  for (const Case& c : Cases) {
    const std::string Out = Dir.File("pinned" + std::to_string(n++));
    int Status = -1;
    const std::string Lines = Rec("split " + Input + " -o " + Out + " " + c.Options, &Status);
    EXPECT_EQ(Status, 0);
    WriteFileBytes(Out + ".txt", Bytes(Lines.begin(), Lines.end()));
    EXPECT_EQ(Peer("sha256sum < " + Out + ".txt"), c.Lines + "  -\n") << c.Options << Lines;
    EXPECT_EQ(RunCommand("cd " + Out + " && sha256sum *.wav | sha256sum", &Status),
              c.Tracks + "  -\n")
        << c.Options;
  }
}

TEST_F(Cli, RecordingAFileSourceGivesTheSameTracksAsSplittingIt) {
  MakeProgramme();
  const std::string Split = Dir.File("split"), Recorded = Dir.File("recorded");
  int Status = -1;
  Rec("split " + Input + " --out " + Split, &Status);
  ASSERT_EQ(Status, 0);

  const Bytes Samples = Audio(Input);
  SetWaveBackends({FileSource(Samples)});
  cli::TSessionOptions o;
  o.Folder = Recorded;
  o.AudioBytes = static_cast<std::int64_t>(Samples.size());
  cli::TTrackSession Session(o);
  const std::atomic<bool> Never{false};
  testing::internal::CaptureStdout();
  EXPECT_EQ(Session.Run(Never), 0);
  testing::internal::GetCapturedStdout();
  SetWaveBackends({});
  const auto Names = Tracks(Split);
  ASSERT_EQ(Tracks(Recorded), Names);
  for (const auto& Name : Names)
    EXPECT_TRUE(Audio(Recorded + "/" + Name) == Audio(Split + "/" + Name)) << Name;
}

// A long session without automatic splits: where a track reaches the largest
// WAV size the next goes on from the very next sample; a track number that
// another program takes meanwhile is skipped and its file left alone.
// A device that cannot give the chosen format is refused with a sentence that
// names what it gives; nothing is recorded, nothing is converted.
TEST_F(Cli, AnInputThatCannotGiveTheFormatIsRefusedNamingWhatItGives) {
  auto Virtual = std::make_shared<TVirtualBackend>();
  Virtual->AddCapture({.Name = "Old card", .RealTime = false, .MostBits = 16, .MostRate = 48000});
  SetWaveBackends({Virtual});
  cli::TSessionOptions o;
  o.Folder = Dir.File("tracks");
  BuildPCMFormat(&o.Format, 24, 2, 96000);
  cli::TTrackSession Session(o);
  std::string Said;
  EXPECT_EQ(RunSaying(Session, Said), 2);
  SetWaveBackends({});
  EXPECT_NE(Said.find("the input device does not record 24-bit 96 kHz; it gives 16-bit 44.1 kHz "
                      "and 16-bit 48 kHz"),
            std::string::npos)
      << Said;
  EXPECT_FALSE(std::filesystem::exists(Dir.File("tracks/Track01.wav")));
}

TEST_F(Cli, RecordingGoesOnGaplesslyAndNeverReplacesAnotherProgramsFile) {
  const std::string Out = Dir.File("long");
  Bytes Samples(1000000);
  for (std::size_t i = 0; i < Samples.size(); ++i)
    Samples[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
  const Bytes Foreign = {'n', 'o', 't', ' ', 'o', 'u', 'r', 's'};
  // Another program makes Track02.wav while Track01.wav records.
  SetWaveBackends({FileSource(Samples, [&](std::uint64_t Offset) {
    if (Offset >= 100000 && !std::filesystem::exists(Out + "/Track02.wav"))
      WriteFileBytes(Out + "/Track02.wav", Foreign);
  })});
  ::setenv("VELMAR_MAX_TRACK_BYTES", "200000", 1);
  cli::TSessionOptions o;
  o.Folder = Out;
  o.Rule.AutoSplit = false;
  o.AudioBytes = static_cast<std::int64_t>(Samples.size());
  cli::TTrackSession Session(o);
  const std::atomic<bool> Never{false};
  testing::internal::CaptureStdout();
  EXPECT_EQ(Session.Run(Never), 0);
  const std::string Lines = testing::internal::GetCapturedStdout();
  ::unsetenv("VELMAR_MAX_TRACK_BYTES");
  SetWaveBackends({});

  EXPECT_TRUE(ReadFileBytes(Out + "/Track02.wav") == Foreign);
  // 24 buffers of 8096 bytes fit the limit: 194304 bytes, 1.101 s, per track.
  EXPECT_NE(Lines.find("Track01.wav  0:01.101  185 kB  (the largest size of a WAV file, "
                       "continued in Track03.wav)\nTrack03.wav  0:01.101  185 kB  (the largest "
                       "size of a WAV file, continued in Track04.wav)\n"),
            std::string::npos)
      << Lines;
  Bytes Joined;
  for (const auto& Name : Tracks(Out)) {
    if (Name == "Track02.wav") continue;
    const Bytes t = Audio(Out + "/" + Name);
    EXPECT_LE(t.size(), 200000u) << Name;
    Joined.insert(Joined.end(), t.begin(), t.end());
  }
  EXPECT_TRUE(Joined == Samples);

  // At 24 bits 96 kHz the same: tracks of whole 6-byte frames under the
  // limit, one after the other without a gap.
  const std::string Wide = Dir.File("long24");
  const Bytes Frames(Samples.begin(), Samples.begin() + 999996);
  SetWaveBackends({FileSource(Frames)});
  ::setenv("VELMAR_MAX_TRACK_BYTES", "200000", 1);
  cli::TSessionOptions h;
  h.Folder = Wide;
  h.Rule.AutoSplit = false;
  h.AudioBytes = static_cast<std::int64_t>(Frames.size());
  BuildPCMFormat(&h.Format, 24, 2, 96000);
  cli::TTrackSession Hires(h);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Hires.Run(Never), 0);
  testing::internal::GetCapturedStdout();
  ::unsetenv("VELMAR_MAX_TRACK_BYTES");
  SetWaveBackends({});
  Bytes Again;
  for (const auto& Name : Tracks(Wide)) {
    const Bytes t = Audio(Wide + "/" + Name);
    EXPECT_LE(t.size(), 200000u) << Name;
    EXPECT_EQ(t.size() % 6, 0u) << Name;
    Again.insert(Again.end(), t.begin(), t.end());
  }
  EXPECT_GE(Tracks(Wide).size(), 5u);
  EXPECT_TRUE(Again == Frames);
}

// A silence before the minimum length ends the recording and says so, unless
// it is to keep going, and the loudest peak says how to set the input; an
// interrupted split says how far it got.
TEST_F(Cli, EndingsSayWhyTheyCame) {
  Bytes Samples(4 * 44100 * 16);  // a second of tone, then silence
  for (std::size_t f = 0; f < 44100; ++f) {
    const auto v = static_cast<std::int16_t>(12000 * std::sin(static_cast<double>(f) * 0.0627));
    for (int c = 0; c < 2; ++c) {
      Samples[4 * f + 2 * c] = static_cast<std::uint8_t>(v);
      Samples[4 * f + 2 * c + 1] = static_cast<std::uint8_t>(v >> 8);
    }
  }
  const std::atomic<bool> Never{false};
  for (const bool KeepGoing : {false, true}) {
    SetWaveBackends({FileSource(Samples)});
    cli::TSessionOptions o;
    o.Folder = Dir.File(KeepGoing ? "going" : "ended");
    o.KeepGoing = KeepGoing;
    o.AudioBytes = static_cast<std::int64_t>(Samples.size());
    cli::TTrackSession Session(o);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Session.Run(Never), 0);
    testing::internal::GetCapturedStdout();
    std::string Said = testing::internal::GetCapturedStderr();
    SetWaveBackends({});
    Said = AfterTheOpening(Said);
    if (!KeepGoing) {
      EXPECT_EQ(Said,
                "velmar-rec: Track01.wav was silent when it reached the minimum length (7 s), so "
                "the recording ended there, as at the end of a side (--keep-going starts the next "
                "track instead)\n"
                "velmar-rec: Loudest peak -8.7 dBFS: raise the input about 3 dB\n");
      EXPECT_EQ(Tracks(o.Folder), std::vector<std::string>{"Track01.wav"});
    } else {
      // The silence after the sound, kept going, is a track of its own: said,
      // and so is the last, which the end of the input closed in silence.
      EXPECT_EQ(Said,
                "velmar-rec: Track02.wav holds only the input's noise\n"
                "velmar-rec: Track03.wav holds only the input's noise\n"
                "velmar-rec: Loudest peak -8.7 dBFS: raise the input about 3 dB\n");
      Bytes Joined;
      for (const auto& Name : Tracks(o.Folder)) {
        const Bytes t = Audio(o.Folder + "/" + Name);
        Joined.insert(Joined.end(), t.begin(), t.end());
      }
      EXPECT_TRUE(Joined == Samples);
      EXPECT_EQ(Tracks(o.Folder).size(), 3u);  // each silent from 7 s on
    }
  }
  {
    // An end of side asked for (--side-end), also without automatic splits:
    // said as such, with no advice to keep going.
    SetWaveBackends({FileSource(Samples)});
    cli::TSessionOptions o;
    o.Folder = Dir.File("side-end");
    o.Rule.AutoSplit = false;
    o.SideEndSeconds = 5;
    o.AudioBytes = static_cast<std::int64_t>(Samples.size());
    cli::TTrackSession Session(o);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Session.Run(Never), 0);
    testing::internal::GetCapturedStdout();
    const std::string Said = testing::internal::GetCapturedStderr();
    SetWaveBackends({});
    EXPECT_NE(Said.find("silent for 5 s"), std::string::npos) << Said;
    EXPECT_EQ(Said.find("--keep-going"), std::string::npos) << Said;
    EXPECT_EQ(Tracks(o.Folder), std::vector<std::string>{"Track01.wav"});
  }

  std::atomic<bool> Interrupt{false};
  std::int64_t Given = 0;
  cli::TTrackSession Split(
      cli::TSessionOptions{.Folder = Dir.File("split"), .Rule = {.NoiseGate = 0}});
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Split.Split(
                [&](std::uint8_t* Dest, std::int64_t Count) {
                  std::memset(Dest, 0, static_cast<std::size_t>(Count));
                  Given += Count;
                  if (Given >= 441000) Interrupt = true;  // Ctrl-C 2.5 s in
                  return Count;
                },
                Interrupt),
            2);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "velmar-rec: interrupted after 0:02.524 of the input, in Track01.wav; the tracks "
            "written so far are complete\n");
}

// The audio of WAV files, read in pieces, compared with the concatenation of
// others (files too large to hold in memory).
bool SameAudio(const std::string& Whole, const std::vector<std::string>& Parts) {
  TWaveScan In;
  std::string Error;
  if (!ScanWaveFile(Whole, In, Error)) return false;
  std::ifstream A(Whole, std::ios::binary);
  A.seekg(In.DataOffset);
  std::int64_t Left = In.DataBytes;
  std::vector<char> x(1 << 20), y(1 << 20);
  for (const std::string& Part : Parts) {
    TWaveScan p;
    if (!ScanWaveFile(Part, p, Error)) return false;
    std::ifstream B(Part, std::ios::binary);
    B.seekg(p.DataOffset);
    for (std::int64_t n = p.DataBytes; n > 0;) {
      const auto Piece = static_cast<std::streamsize>(std::min<std::int64_t>(n, 1 << 20));
      if (!A.read(x.data(), Piece) || !B.read(y.data(), Piece) ||
          std::memcmp(x.data(), y.data(), static_cast<std::size_t>(Piece)) != 0)
        return false;
      n -= Piece;
      Left -= Piece;
    }
  }
  return Left == 0;
}

// Four hours from sox (2.5 GB, past the 2 GiB of a signed size): read whole,
// into a track up to the largest WAV size and the rest in the next.
TEST_F(Cli, ALongRecordingPast2GiBSplitsIntoTracksThatAddUpToIt) {
  const std::string Minute = Dir.File("minute.wav"), Long = Dir.File("long.wav");
  Peer("sox -n -r 44100 -b 16 -c 2 " + Minute + " synth 60 whitenoise vol 0.1");
  Peer("sox " + Minute + " " + Long + " repeat 239");
  const auto Keys = Info(Long);
  EXPECT_EQ(Keys.at("duration"), "4:00:00.000");
  EXPECT_EQ(Keys.at("bytes"), "2540160000");
  int Status = -1;
  const std::string Out = Dir.File("tracks");
  const std::string Lines = Rec("split " + Long + " -n 0 -o " + Out, &Status);
  EXPECT_EQ(Status, 0);
  EXPECT_EQ(Lines,
            "Track01.wav  3:22:53.190  2044716 kB  (the largest size of a WAV file, continued in "
            "Track02.wav)\nTrack02.wav  37:06.810  374034 kB\n");
  EXPECT_TRUE(SameAudio(Long, {Out + "/Track01.wav", Out + "/Track02.wav"}));
  // The peers read the tracks at their full length.
  EXPECT_EQ(Peer("sox --i -s " + Out + "/Track01.wav"), "536837664\n");
}

// Two runs into one folder at once: each track file is new, none is replaced,
// and each run's tracks hold its whole input.
TEST_F(Cli, TwoRunsIntoOneFolderKeepEverything) {
  const std::string Piece = Dir.File("piece.wav"), Gap = Dir.File("gap.wav");
  Peer("sox -n -r 44100 -b 16 -c 2 " + Piece + " synth 1.2 sine 440 vol 0.4");
  Peer("sox -n -r 44100 -b 16 -c 2 " + Gap + " trim 0 0.6");
  std::string Pieces;
  for (int i = 0; i < 60; ++i) Pieces += " " + Piece + " " + Gap;
  Peer("sox" + Pieces + " " + Input);
  const std::string Run = std::string(VELMAR_REC) + " split " + Input + " --min-length 1 -o ",
                    Out = Dir.File("shared");
  int Status = -1;
  const std::string Solo = RunCommand(Run + Dir.File("alone"), &Status);
  const auto Count = static_cast<std::size_t>(std::count(Solo.begin(), Solo.end(), '\n'));
  EXPECT_GT(Count, 50u);
  RunCommand("(" + Run + Out + " > " + Dir.File("a.txt") + " & " + Run + Out + " > " +
                 Dir.File("b.txt") + " & wait)",
             &Status);
  std::vector<std::string> All;
  for (const char* Log : {"a.txt", "b.txt"}) {
    const Bytes Text = ReadFileBytes(Dir.File(Log));
    std::istringstream Lines(std::string(Text.begin(), Text.end()));
    std::vector<std::string> Mine;
    for (std::string Line; std::getline(Lines, Line);)
      Mine.push_back(Out + "/" + Line.substr(0, Line.find(' ')));
    EXPECT_EQ(Mine.size(), Count) << Log;
    EXPECT_TRUE(SameAudio(Input, Mine)) << Log;
    All.insert(All.end(), Mine.begin(), Mine.end());
  }
  std::sort(All.begin(), All.end());
  EXPECT_EQ(std::adjacent_find(All.begin(), All.end()), All.end());
  EXPECT_EQ(Tracks(Out).size(), 2 * Count);
}

// A disk that fills up: the track's line reports what its file holds, and the
// run ends with status 2 naming the file.
TEST_F(Cli, AFullDiskEndsWithTheTrackAsItIsOnDisk) {
  MakeProgramme();
  const std::string Out = Dir.File("full");
  std::filesystem::create_directories(Out);
  int Status = -1;
  // 200 blocks of 512 bytes for files written; the signal ignored as a disk does.
  const std::string Said =
      RunCommand("trap '' XFSZ; ulimit -f 200; " + std::string(VELMAR_REC) + " split " + Input +
                     " -o " + Out + " 2>" + Dir.File("err.txt"),
                 &Status);
  EXPECT_EQ(Status, 2);
  const Bytes Err = ReadFileBytes(Dir.File("err.txt"));
  EXPECT_EQ(std::string(Err.begin(), Err.end()),
            "velmar-rec: the disk is full or the file could not be written: " + Out +
                "/Track01.wav keeps its first " + Info(Out + "/Track01.wav").at("duration") + "\n");
  const auto Keys = Info(Out + "/Track01.wav");
  EXPECT_LT(std::stoll(Keys.at("bytes")), 102400);
  EXPECT_EQ(Said.rfind("Track01.wav  " + Keys.at("duration") + "  ", 0), 0u) << Said;
  EXPECT_EQ(std::count(Said.begin(), Said.end(), '\n'), 1) << Said;
}

// A long take on a small disk (a tmpfs of 110 MiB, about 10 min 53 s of audio):
// the time it has room for is said first, then at 10 minutes and at 1 minute
// left, and the recording ends when it is full with its file whole.
TEST_F(Cli, TheDisksTimeIsSaidFirstThenAtTenMinutesAndAtOneAndItsEndLeavesTheFileWhole) {
  const std::string Disk = Dir.File("disk"), Out = Disk + "/tracks";
  std::filesystem::create_directories(Disk);
  int Status = -1;
  RunCommand("mount -t tmpfs -o size=110m tmpfs " + Disk + " 2>&1", &Status);
  if (Status != 0) GTEST_SKIP() << "a tmpfs cannot be mounted here (not root)";
  struct Unmount {
    std::string Path;
    ~Unmount() { RunCommand("umount " + Path); }
  } Done{Disk};
  auto Virtual = std::make_shared<TVirtualBackend>();
  Virtual->AddCapture({.Generator =
                           [](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t Offset,
                              const WAVEFORMATEX&) {
                             for (std::uint32_t i = 0; i < Count; ++i)
                               Dest[i] = static_cast<std::uint8_t>((Offset + i) * 2654435761u >> 13);
                           },
                       .RealTime = false});
  SetWaveBackends({Virtual});
  cli::TSessionOptions o;
  o.Folder = Out;
  o.Rule.AutoSplit = false;
  cli::TTrackSession Session(o);
  std::string Text;
  EXPECT_EQ(RunSaying(Session, Text), 2);
  std::istringstream Said(Text);
  SetWaveBackends({});
  std::vector<std::string> Lines;
  for (std::string Line; std::getline(Said, Line);)
    if (Line.find("sleep") == std::string::npos && Line.find("Loudest peak") == std::string::npos)
      Lines.push_back(Line);
  ASSERT_EQ(Lines.size(), 4u) << ::testing::PrintToString(Lines);
  EXPECT_EQ(Lines[0], "velmar-rec: recording time: 10 min left on " + Disk);
  const std::string Warning = " left on " + Disk + ": the recording ends when the disk is full";
  EXPECT_TRUE(Lines[1] == "velmar-rec: 10 min" + Warning ||
              (Lines[1].rfind("velmar-rec: 9 min 5", 0) == 0 &&
               Lines[1].find(" s" + Warning) != std::string::npos))
      << Lines[1];
  EXPECT_TRUE(Lines[2] == "velmar-rec: 1 min" + Warning ||
              (Lines[2].rfind("velmar-rec: 5", 0) == 0 && Lines[2].find(" s" + Warning) != std::string::npos))
      << Lines[2];
  EXPECT_EQ(Lines[3].rfind("velmar-rec: the disk is full or the file could not be written: " + Out +
                               "/Track01.wav keeps its first 10:",
                           0),
            0u)
      << Lines[3];
  // Whole: the header says what the file holds, and a peer reads it all.
  const auto Keys = Info(Out + "/Track01.wav");
  EXPECT_EQ(Keys.count("read"), 0u) << Keys.at("read");
  EXPECT_EQ(Peer("sox --i -s " + Out + "/Track01.wav"), Keys.at("frames") + "\n");
  EXPECT_GT(std::stoll(Keys.at("frames")), 640LL * 44100);
}

TEST_F(Cli, UsageAndInputErrorsExitWith2AndOneClearLine) {
  int Status = -1;
  for (const char* Bad : {"record --noise-gate 101", "record --time-gate 1",
                          "record --min-length 0", "record --min-length x", "record --tracks 0",
                          "record --bogus", "split", "record --rate 22050", "record --bits 20"}) {
    const std::string Out = Rec(Bad, &Status);
    EXPECT_EQ(Status, 2) << Bad;
    EXPECT_NE(Out.find("Usage:"), std::string::npos) << Bad;
  }
  // A command that does not exist: one line, not every command's help.
  EXPECT_EQ(Rec("frobnicate", &Status),
            "velmar-rec: unknown command 'frobnicate' (velmar-rec help lists the commands)\n");
  EXPECT_EQ(Status, 2);
  // Each command's own help, and the other ways of writing options.
  EXPECT_EQ(Rec("split --help", &Status).rfind("Usage:\n  velmar-rec split INPUT.wav", 0), 0u);
  EXPECT_EQ(Status, 0);
  for (const char* Bad : {"record --duration 0", "record --duration=0.00001"}) {
    EXPECT_NE(Rec(Bad, &Status).find("from one frame (1/44100) to 10000000, not '"),
              std::string::npos)
        << Bad;
    EXPECT_EQ(Status, 2);
  }
  EXPECT_NE(Rec("record --rate 22050", &Status)
                .find("--rate takes 44100, 48000, 88200 or 96000, not '22050'"),
            std::string::npos);
  EXPECT_NE(Rec("record --bits 24 --rate 96000 --duration 0.00001", &Status)
                .find("from one frame (1/96000) to 10000000"),
            std::string::npos);
  EXPECT_NE(Rec("record -n=5", &Status).find("unknown option -n=5"), std::string::npos);
  WriteFileBytes(Dir.File("text.wav"), {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v'});
  EXPECT_EQ(Rec("info " + Dir.File("text.wav"), &Status),
            "velmar-rec: " + Dir.File("text.wav") +
                ": not a readable WAV file: no RIFF or RF64 WAVE header\n");
  EXPECT_EQ(Status, 2);
  // Folders that cannot take tracks: one line naming the folder and the reason.
  MakeProgramme();
  const std::string Below = Input + "/tracks";
  EXPECT_EQ(Rec("split " + Input + " -o " + Below, &Status),
            "velmar-rec: cannot create the folder " + Below + ": Not a directory\n");
  EXPECT_EQ(Status, 2);
  EXPECT_EQ(Rec("split " + Input + " --out=" + Input, &Status),
            "velmar-rec: " + Input + " is not a folder\n");
  EXPECT_EQ(Status, 2);
}

// A side in another format is split in its own format, its samples as they
// are; an extensible header holding plain PCM is plain PCM; a file cut short
// is read to its end, and said.
TEST_F(Cli, SplitKeepsOtherFormatsAndSaysWhatItRead) {
  const std::string Small = Dir.File("small.wav"), Out = Dir.File("out");
  Peer("sox -n -r 22050 -b 8 -c 1 " + Small + " synth 1 sine 440 vol 0.5");
  auto Keys = Info(Small);
  EXPECT_EQ(Keys.at("format"), "PCM 22.050 kHz, 8 Bit, Mono");
  EXPECT_EQ(Keys.at("frames"), "22050");
  EXPECT_EQ(Keys.at("duration"), "0:01.000");
  int Status = -1;
  const std::string Said = Rec("split " + Small + " -o " + Out, &Status);
  EXPECT_EQ(Status, 0) << Said;
  EXPECT_EQ(Info(Out + "/Track01.wav").at("format"), "PCM 22.050 kHz, 8 Bit, Mono");
  EXPECT_TRUE(Audio(Out + "/Track01.wav") == Audio(Small));

  // The programme with an extensible header holding PCM splits to the same
  // tracks as with the plain one; cut short, it splits to what it holds.
  MakeProgramme();
  const Bytes Programme = Audio(Input);
  Bytes Fmt = FmtBody(WAVE_FORMAT_EXTENSIBLE, 2, 44100, 176400, 4, 16, false);
  PutLe(Fmt, 22, 2);  // cbSize
  PutLe(Fmt, 16, 2);  // valid bits
  PutLe(Fmt, 3, 4);   // front left and right
  PutLe(Fmt, 1, 4);   // the PCM sub-format GUID
  PutLe(Fmt, 0x00100000, 4);
  PutLe(Fmt, 0xAA000080, 4);
  PutLe(Fmt, 0x719B3800, 4);
  const std::string Extensible = Dir.File("extensible.wav");
  WriteFileBytes(Extensible, Riff({Chunk("fmt ", Fmt), Chunk("data", Programme)}));
  Rec("split " + Input + " -o " + Dir.File("plain"), &Status);
  EXPECT_EQ(Rec("split " + Extensible + " -o " + Dir.File("ext"), &Status),
            Rec("split " + Input + " -o " + Dir.File("plain2"), &Status));
  EXPECT_EQ(Status, 0);
  for (const auto& Name : Tracks(Dir.File("plain")))
    EXPECT_TRUE(Audio(Dir.File("ext/") + Name) == Audio(Dir.File("plain/") + Name)) << Name;

  // The same in an RF64 file (64-bit sizes in a "ds64" chunk), as ffmpeg writes it.
  const std::string Rf64 = Dir.File("rf64.wav");
  Peer("ffmpeg -v error -y -i " + Input + " -c:a pcm_s16le -rf64 always " + Rf64);
  EXPECT_EQ(Info(Rf64)["container"], "RF64");
  EXPECT_EQ(Rec("split " + Rf64 + " -o " + Dir.File("rf64"), &Status),
            Rec("split " + Input + " -o " + Dir.File("plain3"), &Status));
  for (const auto& Name : Tracks(Dir.File("plain")))
    EXPECT_TRUE(Audio(Dir.File("rf64/") + Name) == Audio(Dir.File("plain/") + Name)) << Name;

  const std::string Cut = Dir.File("cut.wav");
  const Bytes Whole = Riff({PcmFmt(2, 44100, 16), Chunk("data", Programme)});
  WriteFileBytes(Cut, Bytes(Whole.begin(), Whole.end() - 176400 * 20));
  Keys = Info(Cut);
  EXPECT_EQ(Keys["truncated"], "yes");
  EXPECT_EQ(Keys["duration"], "0:13.000");
  // What the reading made of the difference is said.
  EXPECT_EQ(Keys["read"], "the header declares " + std::to_string(Programme.size()) +
                              " bytes of audio, the file holds 2293200 bytes of audio");
  EXPECT_EQ(Info(Input).count("truncated"), 0u);
  EXPECT_EQ(Info(Input).count("read"), 0u);
  // A recording never finalised: its sizes are 0, the audio runs to the end.
  Bytes Open = Whole;
  PutLe32(Open.data() + 4, 0);
  const std::string Text(Open.begin(), Open.begin() + 64);
  PutLe32(Open.data() + Text.find("data") + 4, 0);
  const std::string Unfinished = Dir.File("unfinished.wav");
  WriteFileBytes(Unfinished, Open);
  EXPECT_EQ(Info(Unfinished)["read"], "the audio's size was never written: " +
                                          std::to_string(Programme.size()) +
                                          " bytes of audio to the end of the file");
  const std::string Split = Rec("split " + Cut + " -o " + Dir.File("cut"), &Status);
  EXPECT_EQ(Status, 0);
  EXPECT_NE(Split.find(": warning: the file is truncated"), std::string::npos) << Split;
  Bytes Joined;
  for (const auto& Name : Tracks(Dir.File("cut"))) {
    const Bytes t = Audio(Dir.File("cut/") + Name);
    Joined.insert(Joined.end(), t.begin(), t.end());
  }
  EXPECT_TRUE(Joined == Bytes(Programme.begin(), Programme.end() - 176400 * 20));
}

TEST_F(Cli, ABusyDeviceIsReportedAndNothingIsLeftOpen) {
  auto Virtual = std::make_shared<TVirtualBackend>();
  Virtual->AddCapture({.Generator = CounterSignal(), .OpenError = MMSYSERR_ALLOCATED});
  SetWaveBackends({Virtual});
  cli::TSessionOptions o;
  o.Folder = Dir.File("busy");
  cli::TTrackSession Session(o);
  std::string Said;
  EXPECT_EQ(RunSaying(Session, Said), 2);
  EXPECT_NE(Said.find("velmar-rec: Track01.wav did not start: WaveInOpen:"), std::string::npos)
      << Said;
  SetWaveBackends({});
}

TEST_F(Cli, CtrlCEndsTheRecordingWithACompleteFile) {
  const std::string Out = Dir.File("rec");
  const pid_t Child = ::fork();
  if (Child == 0) {
    ::execl(VELMAR_REC, VELMAR_REC, "record", "--out", Out.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until the first track has audio in it, then interrupt.
  ASSERT_TRUE(WaitUntil([&] {
    std::error_code e;
    return std::filesystem::file_size(Out + "/Track01.wav", e) > 100000 && !e;
  }));
  ::kill(Child, SIGINT);
  int Status = -1;
  ::waitpid(Child, &Status, 0);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0);
  const auto Keys = Info(Out + "/Track01.wav");
  EXPECT_GT(std::stoll(Keys.at("bytes")), 100000);
  EXPECT_EQ(Peer("sox --i -s " + Out + "/Track01.wav"), Keys.at("frames") + "\n");
}

}  // namespace
}  // namespace velmar
