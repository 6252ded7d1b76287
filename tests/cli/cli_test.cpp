// velmar-rec: splitting recordings into tracks that give back the input, the
// same tracks from a recording session on a file source, what info prints,
// usage and device errors, and a clean end on Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "cli/track_session.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "tests/support/peer.h"
#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/wavefile/wave_file_test_support.h"

namespace velmar {
namespace {

using namespace test;

std::string Rec(const std::string& Arguments, int* Status) {
  return RunCommand(std::string(VELMAR_REC) + " " + Arguments + " 2>&1", Status);
}

std::vector<std::string> Tracks(const std::string& Folder) {
  std::vector<std::string> Names;
  for (const auto& e : std::filesystem::directory_iterator(Folder))
    Names.push_back(e.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

Bytes Audio(const std::string& Name) {
  BlockPtr b = Parse(Name);
  EXPECT_TRUE(b) << Name;
  return b ? ReadAll(b.get(), 65536) : Bytes{};
}

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

TEST_F(Cli, RecordingAFileSourceGivesTheSameTracksAsSplittingIt) {
  MakeProgramme();
  const std::string Split = Dir.File("split"), Recorded = Dir.File("recorded");
  int Status = -1;
  Rec("split " + Input + " --out " + Split, &Status);
  ASSERT_EQ(Status, 0);

  // A file source: paused while the device is closed, nothing captured ahead.
  const Bytes Samples = Audio(Input);
  auto Virtual = std::make_shared<TVirtualBackend>();
  Virtual->AddCapture({.Generator =
                           [&Samples](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t Offset,
                                      const WAVEFORMATEX&) {
                             for (std::uint32_t i = 0; i < Count; ++i)
                               Dest[i] = Offset + i < Samples.size() ? Samples[Offset + i] : 0;
                           },
                       .RealTime = false,
                       .Live = false,
                       .OnDemand = true});
  SetWaveBackends({Virtual});
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

TEST_F(Cli, UsageAndInputErrorsExitWith2AndOneClearLine) {
  int Status = -1;
  for (const char* Bad :
       {"record --noise-gate 101", "record --time-gate 1", "record --min-length 0",
        "record --min-length x", "record --tracks 0", "record --bogus", "split", "frobnicate"}) {
    const std::string Out = Rec(Bad, &Status);
    EXPECT_EQ(Status, 2) << Bad;
    EXPECT_NE(Out.find("Usage:"), std::string::npos) << Bad;
  }
  // Each command's own help, and the other ways of writing options.
  EXPECT_EQ(Rec("split --help", &Status).rfind("Usage:\n  velmar-rec split INPUT.wav", 0), 0u);
  EXPECT_EQ(Status, 0);
  for (const char* Bad : {"record --duration 0", "record --duration=0.00001"}) {
    EXPECT_NE(Rec(Bad, &Status).find("from one frame (1/44100) to 10000000, not '"),
              std::string::npos)
        << Bad;
    EXPECT_EQ(Status, 2);
  }
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

// Formats other than the recording's are converted; an extensible header
// holding plain PCM is plain PCM; a file cut short is read to its end, and said.
TEST_F(Cli, SplitConvertsOtherFormatsAndSaysWhatItRead) {
  const std::string Small = Dir.File("small.wav"), Out = Dir.File("out");
  Peer("sox -n -r 22050 -b 8 -c 1 " + Small + " synth 1 sine 440 vol 0.5");
  auto Keys = Info(Small);
  EXPECT_EQ(Keys.at("format"), "PCM 22.050 kHz, 8 Bit, Mono");
  EXPECT_EQ(Keys.at("frames"), "22050");
  EXPECT_EQ(Keys.at("duration"), "0:01.000");
  int Status = -1;
  const std::string Said = Rec("split " + Small + " -o " + Out, &Status);
  EXPECT_EQ(Status, 0) << Said;
  EXPECT_NE(Said.find("converting PCM 22.050 kHz, 8 Bit, Mono to PCM 44.100 kHz, 16 Bit, Stereo"),
            std::string::npos)
      << Said;
  const Bytes Track = Audio(Out + "/Track01.wav");
  EXPECT_NEAR(static_cast<double>(Track.size() / 4), 44100, 64);
  int Peak = 0;
  bool SameChannels = true;
  for (std::size_t i = 0; i + 3 < Track.size(); i += 4) {
    const auto l = static_cast<std::int16_t>(Track[i] | Track[i + 1] << 8);
    const auto r = static_cast<std::int16_t>(Track[i + 2] | Track[i + 3] << 8);
    SameChannels = SameChannels && l == r;
    Peak = std::max(Peak, std::abs(static_cast<int>(l)));
  }
  EXPECT_TRUE(SameChannels);
  EXPECT_NEAR(Peak, 16384, 1200);  // the tone's level, through 8 bits and the resampler

  // The programme with an extensible header holding PCM splits to the same
  // tracks as with the plain one; cut short, it splits to what it holds.
  MakeProgramme();
  const Bytes Programme = Audio(Input);
  Bytes Fmt = FmtBody(WAVE_FORMAT_EXTENSIBLE, 2, 44100, 176400, 4, 16, false);
  PutLe(Fmt, 22, 2);      // cbSize
  PutLe(Fmt, 16, 2);      // valid bits
  PutLe(Fmt, 3, 4);       // front left and right
  PutLe(Fmt, 1, 4);       // the PCM sub-format GUID
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

  const std::string Cut = Dir.File("cut.wav");
  const Bytes Whole = Riff({PcmFmt(2, 44100, 16), Chunk("data", Programme)});
  WriteFileBytes(Cut, Bytes(Whole.begin(), Whole.end() - 176400 * 20));
  Keys = Info(Cut);
  EXPECT_EQ(Keys["truncated"], "yes");
  EXPECT_EQ(Keys["duration"], "0:13.000");
  EXPECT_EQ(Info(Input).count("truncated"), 0u);
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
  const std::atomic<bool> Never{false};
  testing::internal::CaptureStderr();
  EXPECT_EQ(Session.Run(Never), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("velmar-rec: WaveInOpen:"),
            std::string::npos);
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
