// velmar-rec record on a private PulseAudio server: a programme of two tones
// with a silence between them plays into the null sink (paplay) while the
// recorder records the sink's monitor; the tracks end where the track rule
// puts them, within a buffer or two.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "tests/support/logind_bus.h"
#include "tests/support/noise_programme.h"
#include "tests/support/peer.h"
#include "tests/support/pulse_server.h"
#include "tests/support/wait_until.h"
#include "tests/support/wav_data.h"
#include "tests/wavefile/wave_file_test_support.h"

namespace velmar {
namespace {

using namespace test;

constexpr double kBuffer = 2024.0 / 44100;  // seconds in one 8096-byte buffer

struct Stretches {
  double Leading = 0, Sound = 0, Trailing = 0;  // seconds
};

// Quiet before the first and after the last loud frame, and what lies between.
Stretches Measure(const Bytes& Audio) {
  const std::size_t Frames = Audio.size() / 4;
  auto Loud = [&](std::size_t f) {
    const auto v = static_cast<std::int16_t>(Audio[4 * f] | Audio[4 * f + 1] << 8);
    return std::abs(v) > 1000;
  };
  std::size_t First = 0, Last = Frames;
  while (First < Frames && !Loud(First)) ++First;
  while (Last > First && !Loud(Last - 1)) --Last;
  auto Seconds = [](std::size_t n) { return static_cast<double>(n) / 44100; };
  return {Seconds(First), Seconds(Last - First), Seconds(Frames - Last)};
}

// Waits for the child to end, up to Limit; then kills it. False when it had to.
bool Reaped(pid_t Child, int& Status, std::chrono::seconds Limit) {
  if (WaitUntil([&] { return ::waitpid(Child, &Status, WNOHANG) == Child; }, Limit)) return true;
  ::kill(Child, SIGKILL);
  ::waitpid(Child, &Status, 0);
  return false;
}

// Starts `velmar-rec record` on Device into Out, one track until it ends, its
// messages into Log.
pid_t StartRecording(const std::string& Device, const std::string& Out, const std::string& Log,
                     const char* Extra = nullptr, const char* ExtraValue = nullptr) {
  const pid_t Child = ::fork();
  if (Child == 0) {
    std::freopen(Log.c_str(), "w", stderr);
    ::execl(VELMAR_REC, VELMAR_REC, "record", "-d", Device.c_str(), "-o", Out.c_str(),
            "--no-auto-split", Extra, ExtraValue, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return Child;
}

// arecord recording the same monitor beside us into File, raw CD audio.
pid_t StartArecord(const std::string& File) {
  const pid_t Peer = ::fork();
  if (Peer == 0) {
    ::execlp("arecord", "arecord", "-q", "-D", "velmar_pulse_in", "-f", "cd", "-t", "raw",
             File.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return Peer;
}

// The monitor's device number, as velmar-rec lists it.
std::string MonitorDevice() {
  return PulseServer::MonitorOf(VELMAR_REC);
}

std::string ReadText(const std::string& Path) {
  std::ifstream File(Path);
  std::stringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

// A recording, and one waiting for sound, keep the machine from sleeping
// through logind; the lock goes at the end and when the recorder is killed.
// Without a logind, one line says so and the recording goes on.
TEST(RecordRealTime, TheMachineStaysAwakeWhileRecordingAndNoLonger) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Device = MonitorDevice(), Log = Dir.File("stderr.txt");
  ASSERT_FALSE(Device.empty());
  int Status = -1;
  {
    LogindBus Bus;
    ASSERT_TRUE(Bus.Started) << "the private bus with logind did not start";
    EXPECT_FALSE(Bus.Holds("Velmar Audio Recorder"));
    pid_t Child = StartRecording(Device, Dir.File("a"), Log);
    ASSERT_TRUE(WaitUntil([&] { return Bus.Holds("Velmar Audio Recorder"); }));
    ::kill(Child, SIGINT);
    ASSERT_TRUE(Reaped(Child, Status, std::chrono::seconds(30)));
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
    EXPECT_TRUE(WaitUntil([&] { return Bus.Answers() && !Bus.Holds("Velmar Audio Recorder"); }));
    EXPECT_EQ(ReadText(Log).find("sleep"), std::string::npos) << ReadText(Log);

    // Waiting for sound (the sink plays nothing) holds it too; a kill -9 lets it go.
    Child = StartRecording(Device, Dir.File("b"), Log, "--wait-for-sound");
    ASSERT_TRUE(WaitUntil([&] { return Bus.Holds("Velmar Audio Recorder"); }));
    EXPECT_FALSE(std::filesystem::exists(Dir.File("b/Track01.wav")));
    ::kill(Child, SIGKILL);
    Reaped(Child, Status, std::chrono::seconds(30));
    EXPECT_TRUE(WaitUntil([&] { return Bus.Answers() && !Bus.Holds("Velmar Audio Recorder"); }));
  }
  LogindBus NoLogind(false);
  ASSERT_TRUE(NoLogind.Started);
  const pid_t Child = StartRecording(Device, Dir.File("c"), Log);
  ASSERT_TRUE(WaitUntil([&] { return ReadText(Log).find("sleep") != std::string::npos; }));
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(Dir.File("c/Track01.wav")); }));
  ::kill(Child, SIGINT);
  ASSERT_TRUE(Reaped(Child, Status, std::chrono::seconds(30)));
  EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
  const std::string Said = ReadText(Log);
  const std::string Line = "velmar-rec: the machine may sleep while recording: logind did not answer";
  // At once: right after the disk's time, before any track.
  const std::size_t At = Said.find(Line);
  ASSERT_NE(At, std::string::npos) << Said;
  EXPECT_EQ(Said.rfind("velmar-rec: recording time: ", 0), 0u) << Said;
  EXPECT_EQ(Said.find('\n'), At - 1) << Said;
  EXPECT_EQ(Said.find(Line, At + 1), std::string::npos) << Said;
}

TEST(RecordRealTime, TracksEndInTheSilencesOfAPlayedProgramme) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Programme = Dir.File("programme.wav"), Out = Dir.File("tracks");
  const std::string Cd = " -r 44100 -b 16 -c 2 ";
  int Status = -1;
  RunCommand("sox -n" + Cd + Dir.File("t.wav") + " synth 9 sine 440 vol 0.5 && sox -n" + Cd +
                 Dir.File("s.wav") + " trim 0 2 && sox " + Dir.File("t.wav") + " " +
                 Dir.File("s.wav") + " " + Dir.File("t.wav") + " " + Dir.File("s.wav") + " " +
                 Programme,
             &Status);
  ASSERT_EQ(Status, 0);

  const std::string Device = MonitorDevice();
  ASSERT_FALSE(Device.empty());

  const pid_t Child = ::fork();
  if (Child == 0) {
    ::execl(VELMAR_REC, VELMAR_REC, "record", "--device", Device.c_str(), "--out", Out.c_str(),
            "--tracks", "2", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(Out + "/Track01.wav"); }));
  RunCommand("paplay --device=test " + Programme, &Status);
  EXPECT_EQ(Status, 0);
  const bool Ended = Reaped(Child, Status, std::chrono::seconds(60));
  ASSERT_TRUE(Ended);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0);

  BlockPtr a = Parse(Out + "/Track01.wav"), b = Parse(Out + "/Track02.wav");
  ASSERT_TRUE(a && b);
  const Stretches One = Measure(ReadAll(a.get(), 65536)), Two = Measure(ReadAll(b.get(), 65536));
  // Each track ends after the time gate of 8 buffers of silence...
  for (const Stretches& s : {One, Two}) {
    EXPECT_GT(s.Trailing, 6 * kBuffer);
    EXPECT_LT(s.Trailing, 10 * kBuffer);
  }
  // ...the second holds the second tone whole, after the rest of the silence.
  EXPECT_NEAR(One.Sound, 9.0, 2 * kBuffer);
  EXPECT_NEAR(Two.Sound, 9.0, 2 * kBuffer);
  EXPECT_NEAR(Two.Leading, 2.0 - 8 * kBuffer, 4 * kBuffer);
}

// Everything taken from the input before the server died is in the file:
// at least what arecord, started with it, keeps (less 0.1 s: a few periods).
TEST(RecordRealTime, ASoundServerThatDiesEndsTheRecordingWithStatus2AndACompleteFile) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Device = MonitorDevice(), Out = Dir.File("tracks");
  ASSERT_FALSE(Device.empty());
  const std::string Log = Dir.File("stderr.txt"), PeerFile = Dir.File("arecord.raw");
  // The input is waited for a second, then taken as lost.
  const pid_t Child = StartRecording(Device, Out, Log, "--wait-for-input", "1");
  const pid_t Arecord = StartArecord(PeerFile);
  // About 4 s in, by the peer's file (it writes as it reads).
  ASSERT_TRUE(WaitUntil([&] {
    std::error_code e;
    return std::filesystem::file_size(PeerFile, e) > 4 * 176400 && !e;
  }));
  Server.Kill();
  const auto Killed = std::chrono::steady_clock::now();
  int Status = -1, PeerStatus = -1;
  const bool Ended = Reaped(Child, Status, std::chrono::seconds(30));
  Reaped(Arecord, PeerStatus, std::chrono::seconds(30));
  ASSERT_TRUE(Ended) << "velmar-rec hung after the sound server died";
  // Within seconds (two of silence are the sign; a loaded machine adds some).
  EXPECT_LT(std::chrono::steady_clock::now() - Killed, std::chrono::seconds(15));
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 2);
  std::ifstream Said(Log);
  const std::string Text((std::istreambuf_iterator<char>(Said)), std::istreambuf_iterator<char>());
  const std::string Track = Out + "/Track01.wav";
  EXPECT_NE(Text.find("the input is gone; waiting for it to come back\n"), std::string::npos)
      << Text;
  EXPECT_NE(Text.find("Track01.wav is complete"), std::string::npos) << Text;
  // Finalised: the header's sizes cover the audio, as a peer reads it.
  BlockPtr b = Parse(Track);
  ASSERT_TRUE(b);
  EXPECT_EQ(Peer("sox --i -s " + Track), std::to_string(b->TotalSamples) + "\n");
  const double Ours = b->TotalSamples / 44100.0;
  const double Theirs = static_cast<double>(std::filesystem::file_size(PeerFile)) / 176400;
  EXPECT_GE(Ours, Theirs - 0.1) << "arecord kept " << Theirs << " s";
  std::printf("kept after the server died: velmar-rec %.3f s, arecord %.3f s\n", Ours, Theirs);
}

// The input goes away in the middle of a programme (the sink and its monitor
// removed from the sound server, as a card unplugged) and comes back under the
// same name 3 s later: the recording says at once that it waits, goes on in
// the same track, says the absence and keeps it as a cue point. Every sample
// the monitor gave before (as much as arecord beside it got) and after is in
// the track bit for bit.
TEST(RecordRealTime, AnInputThatGoesAndComesBackIsWaitedForAndTheTrackGoesOn) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Device = MonitorDevice(), Out = Dir.File("tracks");
  ASSERT_FALSE(Device.empty());
  // The programme's first half plays until the input goes; its second half
  // whole after it came back.
  const Bytes Programme = NoiseProgramme(20);
  const std::size_t Half = Programme.size() / 2;
  WriteFileBytes(Dir.File("first.raw"), Bytes(Programme.begin(), Programme.begin() + Half));
  WriteFileBytes(Dir.File("second.raw"), Bytes(Programme.begin() + Half, Programme.end()));
  const std::string Log = Dir.File("stderr.txt"), Track = Out + "/Track01.wav";
  const std::string PeerFile = Dir.File("arecord.raw");
  const pid_t Child = StartRecording(Device, Out, Log);
  const pid_t Arecord = StartArecord(PeerFile);
  auto Holds = [&](double Seconds) { return PulseServer::Holds(Track, Seconds); };
  ASSERT_TRUE(Holds(0.25));
  const pid_t First = PulseServer::PlayRaw(Dir.File("first.raw"));
  ASSERT_TRUE(Holds(4));
  ASSERT_TRUE(Server.RemoveSink());
  const auto Removed = std::chrono::steady_clock::now();
  int Status = -1;
  ASSERT_TRUE(Reaped(First, Status, std::chrono::seconds(30)));  // its sink went
  ASSERT_TRUE(WaitUntil(
      [&] { return ReadText(Log).find("waiting for it to come back") != std::string::npos; }));
  // Said before the 2 s of silence that used to end the recording.
  EXPECT_LT(std::chrono::steady_clock::now() - Removed, std::chrono::seconds(2));
  std::this_thread::sleep_until(Removed + std::chrono::seconds(3));  // the absence itself
  ASSERT_TRUE(Server.AddSink());
  const double Away =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - Removed).count();
  ASSERT_TRUE(WaitUntil(
      [&] { return ReadText(Log).find("the input was gone for ") != std::string::npos; }));
  const pid_t Second = PulseServer::PlayRaw(Dir.File("second.raw"));
  ASSERT_TRUE(Reaped(Second, Status, std::chrono::seconds(60)));
  // A second after its end is in the track too.
  std::error_code e;
  ASSERT_TRUE(Holds(static_cast<double>(std::filesystem::file_size(Track, e) - 44) / 176400 + 1));
  ::kill(Child, SIGINT);
  ASSERT_TRUE(Reaped(Child, Status, std::chrono::seconds(30)));
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0);
  int PeerStatus = -1;
  Reaped(Arecord, PeerStatus, std::chrono::seconds(30));  // it ended when the input went

  const std::string Text = ReadText(Log);
  EXPECT_EQ(Text.find("the input is gone; waiting for it to come back\n"),
            Text.rfind("the input is gone; waiting for it to come back\n"))
      << "said once: " << Text;
  double Gone = 0;
  int Minutes = 0;
  double Seconds = 0;
  const std::size_t Line = Text.find("velmar-rec: Track01.wav: the input was gone for ");
  ASSERT_NE(Line, std::string::npos) << Text;
  ASSERT_EQ(std::sscanf(Text.c_str() + Line,
                        "velmar-rec: Track01.wav: the input was gone for %lf s at %d:%lf", &Gone,
                        &Minutes, &Seconds),
            3)
      << Text;
  EXPECT_NEAR(Gone, Away, 0.6) << Text;
  EXPECT_NE(Text.find("velmar-rec: 1 dropout, "), std::string::npos) << Text;
  // The first half up to where the input went, then the second half.
  const Bytes Audio = WavData(Track);
  std::int64_t Start = 0;
  Departure d;
  ASSERT_TRUE(Follow(Audio, Programme, Start, d)) << "the track does not hold the programme";
  ASSERT_GT(d.At, Start + 3 * 44100);
  ASSERT_GT(d.ResumedAt, d.At) << "the second half is not in the track";
  // To its last sample; a sound that starts playing into a sink is missing
  // from its monitor for up to a fragment of 1024 frames (the server rewinds).
  EXPECT_GE(d.EqualAfter, static_cast<std::int64_t>(Half / 4) - 1024) << "the second half";
  std::int64_t PeerStart = 0;
  Departure p;
  ASSERT_TRUE(Follow(ReadFileBytes(PeerFile), Programme, PeerStart, p));
  const std::int64_t Ours = d.At - Start;
  const std::int64_t Theirs =
      (p.At < 0 ? static_cast<std::int64_t>(ReadFileBytes(PeerFile).size() / 4) : p.At) - PeerStart;
  EXPECT_GE(Ours, Theirs - 4410) << "arecord kept " << static_cast<double>(Theirs) / 44100 << " s";
  std::printf("before the input went: velmar-rec %.3f s, arecord %.3f s; gone %.2f s (%.2f s)\n",
              static_cast<double>(Ours) / 44100, static_cast<double>(Theirs) / 44100, Gone, Away);
  // The absence is a cue point where the first half ends.
  const auto Points = CuePoints(ReadFileBytes(Track));
  ASSERT_EQ(Points.size(), 1u);
  EXPECT_NEAR(static_cast<double>(Points[0].first), static_cast<double>(d.At), 0.1 * 44100);
  char Label[64];
  std::snprintf(Label, sizeof Label, "input gone %.1f s", Gone);
  EXPECT_EQ(Points[0].second, Label);
  EXPECT_EQ(Peer("sox --i -s " + Track), std::to_string(Audio.size() / 4) + "\n");
}

// A stall of the recorder itself (stopped from a terminal, a machine starved
// or suspended) costs nothing while the input holds what it recorded
// meanwhile; a longer one costs what the input could not hold, and that is
// said at once with where it happened, kept in the track as a cue point, and
// the recording goes on. The sound server holds about 24 s of a stream.
TEST(RecordRealTime, AStalledRecorderGoesOnAndSaysWhatWasLostWhere) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Device = MonitorDevice(), Out = Dir.File("tracks");
  ASSERT_FALSE(Device.empty());
  const Bytes Programme = NoiseProgramme(50);
  WriteFileBytes(Dir.File("programme.raw"), Programme);
  const std::string Log = Dir.File("stderr.txt"), Track = Out + "/Track01.wav";
  const pid_t Child = StartRecording(Device, Out, Log);
  // arecord records the same input beside it and is stopped with it.
  const std::string PeerFile = Dir.File("arecord.raw");
  const pid_t Arecord = StartArecord(PeerFile);
  auto Holds = [&](double Seconds) {
    return PulseServer::Holds(Track, Seconds, std::chrono::seconds(90));
  };
  ASSERT_TRUE(Holds(0.25));
  const pid_t Player = PulseServer::PlayRaw(Dir.File("programme.raw"));
  auto Stall = [&](double Seconds) {
    ::kill(Child, SIGSTOP);
    ::kill(Arecord, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::duration<double>(Seconds));  // the stall itself
    ::kill(Child, SIGCONT);
    ::kill(Arecord, SIGCONT);
  };
  ASSERT_TRUE(Holds(5));
  Stall(1.7);
  ASSERT_TRUE(Holds(12));
  Stall(30);
  int Status = -1;
  ASSERT_TRUE(Reaped(Player, Status, std::chrono::seconds(60)));
  std::error_code e;
  const auto Played = std::filesystem::file_size(Track, e);
  ASSERT_TRUE(Holds(static_cast<double>(Played) / 176400 + 1));
  ::kill(Child, SIGINT);
  ::kill(Arecord, SIGINT);
  ASSERT_TRUE(Reaped(Child, Status, std::chrono::seconds(30)));
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0);
  int PeerStatus = -1;
  Reaped(Arecord, PeerStatus, std::chrono::seconds(30));

  const Bytes File = ReadFileBytes(Track);
  const Bytes Audio = WavData(Track);
  std::int64_t Start = 0;
  Departure d;
  ASSERT_TRUE(Follow(Audio, Programme, Start, d)) << "the track does not hold the programme";
  // The first stall lost nothing: the track equals the programme well past it.
  ASSERT_GT(d.At, Start + 12 * 44100);
  ASSERT_GT(d.ResumedAt, 0) << "the programme never came back after the second stall";
  EXPECT_GT(d.EqualAfter, 3 * 44100);
  const Bytes Said = ReadFileBytes(Log);
  const std::string Text(Said.begin(), Said.end());
  // One line at once, one at the end.
  const std::size_t Line = Text.find("velmar-rec: Track01.wav: ");
  ASSERT_NE(Line, std::string::npos) << Text;
  EXPECT_EQ(Text.find("velmar-rec: Track01.wav: ", Line + 1), std::string::npos) << Text;
  double Lost = 0;
  int Minutes = 0;
  double Seconds = 0;
  ASSERT_EQ(std::sscanf(Text.c_str() + Line, "velmar-rec: Track01.wav: %lf s lost at %d:%lf", &Lost,
                        &Minutes, &Seconds),
            3)
      << Text;
  EXPECT_NE(Text.find("(the input overran)"), std::string::npos) << Text;
  EXPECT_NE(Text.find("velmar-rec: 1 dropout, "), std::string::npos) << Text;
  // Where the loss lies is inferred from the wall clock while the input
  // catches up after the 30 s stop (a sound server hands over what it held in
  // a burst): on a loaded machine that is off by a few tenths of a second.
  const double Where = Minutes * 60 + Seconds;
  EXPECT_NEAR(Where, static_cast<double>(d.At) / 44100, 0.5);
  EXPECT_NEAR(Lost, static_cast<double>(d.Missing) / 44100, 0.1);
  // The track keeps it as a labelled cue point; the peers read the file whole.
  const auto Points = CuePoints(File);
  ASSERT_EQ(Points.size(), 1u);
  EXPECT_NEAR(static_cast<double>(Points[0].first), static_cast<double>(d.At), 0.5 * 44100);
  char Label[64];
  std::snprintf(Label, sizeof Label, "dropout %.2f s", Lost);
  EXPECT_EQ(Points[0].second, Label);
  EXPECT_EQ(Peer("sox --i -s " + Track), std::to_string(Audio.size() / 4) + "\n");
  // About what arecord lost in the same stall: the sound server keeps what
  // it can hold of each stream (about 24 s), and what else survives the stop
  // varies from run to run by up to half a second for us (5.74-6.30 s lost
  // in 30 s) and a little for arecord (6.02-6.06 s).
  std::int64_t PeerStart = 0;
  Departure p;
  ASSERT_TRUE(Follow(ReadFileBytes(PeerFile), Programme, PeerStart, p));
  EXPECT_LE(d.Missing, p.Missing + 44100 * 35 / 100)
      << "arecord lost " << static_cast<double>(p.Missing) / 44100 << " s";
  std::printf("lost %.3f s at %.3f s (the programme: %.3f s at %.3f s; arecord lost %.3f s)\n",
              Lost, Where, static_cast<double>(d.Missing) / 44100,
              static_cast<double>(d.At) / 44100, static_cast<double>(p.Missing) / 44100);
}

// Ctrl-C is answered at once, and everything captured up to it is in the file:
// the input holds a batch of buffers that a plain stop would drop, so it is
// made to report them first. The file holds what it held when buffers had just
// been written, and at least the real time from then to the signal, less a
// pipeline's 0.1 s.
TEST(RecordRealTime, CtrlCKeepsTheAudioUpToIt) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Device = MonitorDevice(), Out = Dir.File("tracks");
  ASSERT_FALSE(Device.empty());
  const pid_t Child = StartRecording(Device, Out, "/dev/null");
  using Clock = std::chrono::steady_clock;
  auto Seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  const std::string Track = Out + "/Track01.wav";
  std::uintmax_t Seen = 0;
  auto Grown = [&](std::uintmax_t Than) {
    return WaitUntil([&] {
      std::error_code e;
      Seen = std::filesystem::file_size(Track, e);
      return !e && Seen > Than;
    });
  };
  ASSERT_TRUE(Grown(1000));  // recording
  ASSERT_TRUE(Grown(Seen));  // and buffers have just been written
  const auto First = Clock::now();
  // The signal comes while the next buffers are gathered.
  WaitUntil([&] { return Clock::now() - First > std::chrono::milliseconds(200); });
  const auto Signalled = Clock::now();
  ::kill(Child, SIGINT);
  int Status = -1;
  const bool Ended = Reaped(Child, Status, std::chrono::seconds(30));
  ASSERT_TRUE(Ended);
  EXPECT_LT(Seconds(Clock::now() - Signalled), 5.0);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0);
  BlockPtr b = Parse(Track);
  ASSERT_TRUE(b);
  const auto Header = static_cast<double>(std::filesystem::file_size(Track)) - b->DataBytes;
  const double Before = (static_cast<double>(Seen) - Header) / 176400;
  const double Recorded = static_cast<double>(b->DataBytes) / 176400;
  EXPECT_GE(Recorded, Before + Seconds(Signalled - First) - 0.1)
      << "first seen " << Before << " s, signal " << Seconds(Signalled - First) << " s later";
}

// A file the output cannot take because of its format says so, naming the
// format; the recording formats play.
TEST(RecordRealTime, PlayNamesAFormatTheOutputDoesNotTake) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Odd = Dir.File("odd.wav"), Cd = Dir.File("cd.wav"), Hi = Dir.File("hi.wav");
  int Status = -1;
  RunCommand("sox -n -r 48000 -b 32 -c 2 " + Odd +
                 " synth 0.2 sine 440 && sox -n -r 44100 -b 16 -c 2 " + Cd +
                 " synth 0.2 sine 440 && sox -n -r 96000 -b 24 -c 2 " + Hi + " synth 0.2 sine 440",
             &Status);
  ASSERT_EQ(Status, 0);
  const std::string Rec = std::string(VELMAR_REC) + " play -d -1 ";
  EXPECT_EQ(RunCommand(Rec + Odd + " 2>&1", &Status),
            "velmar-rec: " + Odd +
                ": its format, PCM 48.000 kHz, 32 Bit, Stereo, is not "
                "supported for playing (the output takes PCM of 8, 16 or 24 bits)\n");
  EXPECT_EQ(Status, 2);
  for (const std::string& Plays : {Cd, Hi}) {
    EXPECT_EQ(RunCommand(Rec + Plays + " 2>&1", &Status), "") << Plays;
    EXPECT_EQ(Status, 0);
  }
}

// Playback ends when the last sample has been heard, not when it was handed
// to the sound server: the sink's monitor gets the file's last second whole.
TEST(RecordRealTime, PlayPlaysToTheLastSample) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string File = Dir.File("tone.wav"), Heard = Dir.File("heard.raw");
  int Status = -1;
  // Without dither: the monitor gives back exactly what was played.
  RunCommand("sox -D -n -r 44100 -b 16 -c 2 " + File + " synth 2 sine 440 vol 0.5", &Status);
  ASSERT_EQ(Status, 0);
  const pid_t Recorder = ::fork();
  if (Recorder == 0) {
    ::execl("/bin/sh", "sh", "-c",
            ("exec parec --device=test.monitor --format=s16le --rate=44100 --channels=2 "
             "--raw > " +
             Heard)
                .c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto Size = [&] {
    std::error_code e;
    const auto n = std::filesystem::file_size(Heard, e);
    return e ? 0 : n;
  };
  ASSERT_TRUE(WaitUntil([&] { return Size() > 0; }));
  RunCommand(std::string(VELMAR_REC) + " play -d -1 " + File, &Status);
  EXPECT_EQ(Status, 0);
  // Half a second more of the monitor, then the recording ends.
  const auto After = Size();
  EXPECT_TRUE(WaitUntil([&] { return Size() > After + 88200; }));
  ::kill(Recorder, SIGTERM);
  ASSERT_TRUE(Reaped(Recorder, Status, std::chrono::seconds(10)));
  const Bytes Played = ReadFileBytes(Heard);
  const Bytes Tone = WavData(File);
  const std::string Last(Tone.end() - 44100 * 4, Tone.end());
  EXPECT_NE(std::string(Played.begin(), Played.end()).find(Last), std::string::npos)
      << "the last second of the file was not heard whole";
}

// A sound server that dies during playback ends it within seconds, said, with
// status 2 (the output's stream stops moving; nothing would end it otherwise).
TEST(RecordRealTime, PlayEndsWhenTheSoundServerDies) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string File = Dir.File("long.wav"), Log = Dir.File("play.txt");
  int Status = -1;
  RunCommand("sox -n -r 44100 -b 16 -c 2 " + File + " synth 30 sine 440 vol 0.5", &Status);
  ASSERT_EQ(Status, 0);
  const pid_t Child = ::fork();
  if (Child == 0) {
    std::freopen(Log.c_str(), "w", stderr);
    ::execl(VELMAR_REC, VELMAR_REC, "play", "-d", "-1", File.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Playing, not still opening (a server gone during the open is another
  // failure, said as such): its stream is there, and still there a moment on.
  std::string Stream;
  ASSERT_TRUE(WaitUntil([&] {
    const std::string Now = RunCommand("pactl list short sink-inputs");
    const bool Lasted = !Now.empty() && Now == Stream;
    if (!Lasted) Stream = Now;
    if (!Lasted) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    return Lasted;
  }));
  Server.Kill();
  ASSERT_TRUE(Reaped(Child, Status, std::chrono::seconds(15)));
  EXPECT_EQ(WEXITSTATUS(Status), 2);
  const Bytes Said = ReadFileBytes(Log);
  EXPECT_NE(std::string(Said.begin(), Said.end()).find("the output device is gone"),
            std::string::npos)
      << std::string(Said.begin(), Said.end());
  // Playing again says the device is not there, not that the format is wrong.
  const std::string Again =
      RunCommand(std::string(VELMAR_REC) + " play -d -1 " + File + " 2>&1", &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_EQ(Again.find("format"), std::string::npos) << Again;
  EXPECT_NE(Again.find("WaveOutOpen"), std::string::npos) << Again;
}

// The gate from the noise: with a hiss above the default gate playing,
// `gate` measures it; a side of songs in that hiss then splits in every gap
// with the gate it printed, and in none with the default gate.
TEST(RecordRealTime, TheGateFromTheInputsHissSplitsASideInThatHissInEveryGap) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Cd = " -r 44100 -b 16 -c 2 ";
  int Status = -1;
  // Pink hiss with peaks at -37 dBFS: about -52 dBFS as an average sample,
  // where the default gate (-56 dBFS) hears sound. Three songs of 6 s with
  // gaps of 3 s, all in the hiss.
  RunCommand("sox -n" + Cd + Dir.File("hiss.wav") + " synth 60 pinknoise gain -n -37 && sox -n" +
                 Cd + Dir.File("t.wav") + " synth 6 sine 440 vol 0.3 && sox -n" + Cd +
                 Dir.File("s.wav") + " trim 0 3 && sox " + Dir.File("t.wav") + " " +
                 Dir.File("s.wav") + " " + Dir.File("t.wav") + " " + Dir.File("s.wav") + " " +
                 Dir.File("t.wav") + " " + Dir.File("songs.wav") + " && sox -m -v 1 " +
                 Dir.File("songs.wav") + " -v 1 " + Dir.File("hiss.wav") + " " +
                 Dir.File("side.wav") + " trim 0 24",
             &Status);
  ASSERT_EQ(Status, 0);
  const std::string Device = MonitorDevice();
  ASSERT_FALSE(Device.empty());

  const pid_t Player = ::fork();
  if (Player == 0) {
    ::execlp("paplay", "paplay", "--device=test", Dir.File("hiss.wav").c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // The loudest stretch counts: silence before the player started does not
  // lower the gate (a try again, should the sound server be slow to start it).
  std::string Out;
  for (int Try = 0; Try < 3; ++Try) {
    Out = RunCommand(std::string(VELMAR_REC) + " gate -d " + Device + " 2>" + Dir.File("said.txt"),
                     &Status);
    if (Status == 0 && std::atoi(Out.c_str()) > 25) break;
  }
  ::kill(Player, SIGKILL);
  ::waitpid(Player, nullptr, 0);
  const Bytes Said = ReadFileBytes(Dir.File("said.txt"));
  const std::string Text(Said.begin(), Said.end());
  ASSERT_EQ(Status, 0) << Text;
  const int Gate = std::atoi(Out.c_str());
  EXPECT_GT(Gate, 25) << Text;  // above the default: the hiss is louder than it takes for quiet
  EXPECT_LE(Gate, 100) << Text;
  double NoiseDb = 0;
  const std::size_t Noise = Text.find("the input's noise: ");
  ASSERT_NE(Noise, std::string::npos) << Text;
  EXPECT_EQ(std::sscanf(Text.c_str() + Noise, "the input's noise: %lf dBFS", &NoiseDb), 1) << Text;
  EXPECT_GT(NoiseDb, -56) << Text;
  EXPECT_LT(NoiseDb, -44) << Text;
  EXPECT_NE(Text.find("-n " + std::to_string(Gate) + " ("), std::string::npos) << Text;

  auto Tracks = [&](const std::string& Folder, const std::string& Options) {
    RunCommand(std::string(VELMAR_REC) + " split " + Dir.File("side.wav") + " --min-length 3 -o " +
                   Dir.File(Folder) + " " + Options + " 2>&1",
               &Status);
    EXPECT_EQ(Status, 0);
    int n = 0;
    for (const auto& Entry : std::filesystem::directory_iterator(Dir.File(Folder)))
      n += Entry.path().extension() == ".wav";
    return n;
  };
  EXPECT_EQ(Tracks("gated", "-n " + std::to_string(Gate)), 3);
  EXPECT_EQ(Tracks("default", ""), 1);
}

// Start on sound: the recording waits through 10 s of digital silence (longer
// than the minimum length) without a file, and the first track begins exactly
// the pre-roll before the programme's first non-zero sample, its samples the
// programme's; one track per song, nothing ended early.
TEST(RecordRealTime, StartOnSoundBeginsTheFirstTrackThePreRollBeforeTheFirstSample) {
  PulseServer Server;
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Cd = " -r 44100 -b 16 -c 2 ";
  int Status = -1;
  // Without dither, so that the silence is digital silence; songs that fade
  // in, their first samples far under the noise gate.
  RunCommand("sox -D -n" + Cd + Dir.File("t.wav") + " synth 8 sine 440 vol 0.5 fade 0.2 && sox -D -n" +
                 Cd + Dir.File("s.wav") + " trim 0 3 && sox -D -n" + Cd + Dir.File("lead.wav") +
                 " trim 0 10 && sox -D " + Dir.File("lead.wav") + " " + Dir.File("t.wav") + " " +
                 Dir.File("s.wav") + " " + Dir.File("t.wav") + " " + Dir.File("s.wav") + " " +
                 Dir.File("programme.wav"),
             &Status);
  ASSERT_EQ(Status, 0);
  const std::string Device = MonitorDevice(), Out = Dir.File("tracks"), Log = Dir.File("log");
  ASSERT_FALSE(Device.empty());
  const pid_t Child = ::fork();
  if (Child == 0) {
    std::freopen(Log.c_str(), "w", stderr);
    ::execl(VELMAR_REC, VELMAR_REC, "record", "-d", Device.c_str(), "-o", Out.c_str(),
            "--wait-for-sound", "--pre-roll", "0.5", "--tracks", "2",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto Said = [&] {
    const Bytes b = ReadFileBytes(Log);
    return std::string(b.begin(), b.end());
  };
  ASSERT_TRUE(WaitUntil([&] { return Said().find("waiting for sound on") != std::string::npos; }))
      << Said();
  EXPECT_FALSE(std::filesystem::exists(Out + "/Track01.wav"));  // no file while waiting
  RunCommand("paplay --device=test " + Dir.File("programme.wav"), &Status);
  EXPECT_EQ(Status, 0);
  ASSERT_TRUE(Reaped(Child, Status, std::chrono::seconds(60))) << Said();
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0) << Said();

  const Bytes Programme = WavData(Dir.File("programme.wav"));
  std::size_t First = 0;  // the programme's first non-zero sample's frame
  while (First + 4 <= Programme.size() &&
         std::all_of(Programme.begin() + First, Programme.begin() + First + 4,
                     [](std::uint8_t b) { return b == 0; }))
    First += 4;
  const Bytes One = WavData(Out + "/Track01.wav"), Two = WavData(Out + "/Track02.wav");
  constexpr std::size_t kPreRoll = 22050 * 4;
  ASSERT_GT(One.size(), kPreRoll + 8 * 176400);
  const auto FirstInOne = static_cast<std::size_t>(
      std::find_if(One.begin(), One.end(), [](std::uint8_t b) { return b != 0; }) - One.begin());
  EXPECT_EQ(FirstInOne / 4, kPreRoll / 4) << Said();
  EXPECT_NE(One[kPreRoll] | One[kPreRoll + 1] | One[kPreRoll + 2] | One[kPreRoll + 3], 0);
  // Bit for bit the programme from there (the server runs at the recording's rate).
  EXPECT_TRUE(std::equal(One.begin() + kPreRoll, One.end(), Programme.begin() + First));
  EXPECT_EQ(Said().find("resampled"), std::string::npos) << Said();  // the server runs at 44.1 kHz
  EXPECT_EQ(Measure(One).Sound, Measure(Two).Sound);
  EXPECT_NEAR(Measure(Two).Sound, 8.0 - 0.15, 2 * kBuffer);  // less the fade's quiet start
}

// A sound server that runs the input at another rate resamples it (not bit
// for bit): said once, with how to avoid it.
TEST(RecordRealTime, ASoundServerAtAnotherRateIsSaid) {
  PulseServer Server(48000);
  ASSERT_TRUE(Server.Started) << "the private PulseAudio server did not start";
  TempDir Dir;
  const std::string Device = MonitorDevice();
  ASSERT_FALSE(Device.empty());
  int Status = -1;
  RunCommand(std::string(VELMAR_REC) + " record -d " + Device + " -o " + Dir.File("tracks") +
                 " --duration 0.5 2>" + Dir.File("said.txt"),
             &Status);
  const Bytes b = ReadFileBytes(Dir.File("said.txt"));
  const std::string Said(b.begin(), b.end());
  EXPECT_EQ(Status, 0) << Said;
  EXPECT_NE(Said.find("velmar-rec: the sound server records test.monitor at 48000 Hz, so the "
                      "recording is resampled to 44100 Hz"),
            std::string::npos)
      << Said;
  EXPECT_NE(Said.find("clock.force-rate 44100"), std::string::npos) << Said;
}

}  // namespace
}  // namespace velmar
