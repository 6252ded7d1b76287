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

}  // namespace
}  // namespace velmar
