// Recordings that survive a crash: a recording killed at random moments
// leaves files that players read, holding the captured samples exactly and
// lacking at most a second; repair mends files left by any program's crash
// and leaves good files alone; a normal stop writes the same bytes as before;
// titling a side's tracks killed at any moment leaves one set of them whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "session/staged_files.h"
#include "session/track_files.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/support/wav_data.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace test;
using Bytes = std::vector<std::uint8_t>;

std::string Rec(const std::string& Arguments, int* Status) {
  return RunCommand(std::string(VELMAR_REC) + " " + Arguments + " 2>&1", Status);
}

void Put32(Bytes& b, std::size_t At, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[At + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A canonical 16-bit stereo WAV of Frames frames: a triangle wave where Sound
// says so, silence elsewhere; every sample different, so misplaced bytes show.
Bytes MakeWav(std::size_t Frames, const std::function<bool(std::size_t)>& Sound) {
  Bytes b(44 + 4 * Frames);
  std::memcpy(b.data(), "RIFF\0\0\0\0WAVEfmt ", 16);
  Put32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
  Put32(b, 16, 16);
  const std::uint8_t Fmt[16] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  std::memcpy(b.data() + 20, Fmt, 16);
  std::memcpy(b.data() + 36, "data", 4);
  Put32(b, 40, static_cast<std::uint32_t>(4 * Frames));
  for (std::size_t f = 0; f < Frames; ++f) {
    const int Phase = static_cast<int>(f % 200);
    const auto v = static_cast<std::int16_t>(
        Sound(f) ? (Phase < 100 ? Phase : 200 - Phase) * 200 - 10000 + f % 7 : 0);
    for (int c = 0; c < 2; ++c) {
      b[44 + 4 * f + 2 * c] = static_cast<std::uint8_t>(v);
      b[44 + 4 * f + 2 * c + 1] = static_cast<std::uint8_t>(v >> 8);
    }
  }
  return b;
}

TEST(CrashSafety, ANormalStopWritesTheSameBytesAsBefore) {
  TempDir Dir;
  // 8 s of sound, 3 s of silence, 8 s of sound.
  WriteFileBytes(Dir.File("in.wav"), MakeWav(19 * 44100, [](std::size_t f) {
                   return f < 8 * 44100 || f >= 11 * 44100;
                 }));
  int Status = -1;
  Rec("split " + Dir.File("in.wav") + " --out " + Dir.File("out"), &Status);
  ASSERT_EQ(Status, 0);
  const std::string Sums =
      RunCommand("cd " + Dir.File("out") + " && sha256sum Track01.wav Track02.wav");
  // Recorded by the build before the size updates while recording existed.
  EXPECT_EQ(Sums,
            "2c111a343f1bea2fd265532860ad53100222fb3ece0ba6f7020ebcbbe7aad16d  Track01.wav\n"
            "f68cec97ee4ff6f43fcfc064db95dae303234ffd38e7dda48e917410efa01ddf  Track02.wav\n");
}

std::uint32_t Declared(const Bytes& File, const char* Id) {
  return WavChunk(File, Id).first;
}

// What the peers make of a file: sox's sample count and ffprobe's, both
// reading it without complaint.
void ExpectPeersRead(const std::string& File, std::uint64_t Frames, int Rate = 44100) {
  int Status = -1;
  const std::string Sox = RunCommand("sox --i -s '" + File + "' 2>&1", &Status);
  EXPECT_EQ(Status, 0) << Sox;
  EXPECT_EQ(std::stoull(Sox), Frames) << File;
  const std::string Probe =
      RunCommand("ffprobe -v error -count_packets -show_entries stream=sample_rate -of csv=p=0 '" +
                     File + "' 2>&1",
                 &Status);
  EXPECT_EQ(Status, 0) << Probe;
  EXPECT_EQ(Probe, std::to_string(Rate) + "\n") << File;
}

TEST(CrashSafety, ARecordingKilledAtAnyMomentLeavesItsAudioReadable) {
  TempDir Dir;
  const std::size_t Frames = 600 * 44100;  // ten minutes of sound, never split
  const Bytes Input = MakeWav(Frames, [](std::size_t) { return true; });
  WriteFileBytes(Dir.File("in.wav"), Input);
  // The split runs at a low priority, so that the test sees the file grow.
  auto Start = [&](const std::string& Out) {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/nice", "-n", "10", VELMAR_REC, "split",
                                 Dir.File("in.wav"), "--out", Out, "--noise-gate", "0"},
        Dir.Path(), std::map<std::string, std::string>{});
  };
  // Each kill falls when the track has grown past a random size between a
  // second of audio and three quarters of the whole: moments chosen from what
  // the file holds, not from the clock, so that a loaded machine only makes a
  // round finish now and then (that file is checked too), never all of them.
  const std::uint64_t WholeFile = Input.size();
  std::mt19937 Random(20261208);
  std::uint64_t WorstLoss = 0;
  int Killed = 0, Rounds = 0;
  for (; Killed < 12 && Rounds < 40; ++Rounds) {
    const std::string Out = Dir.File("out" + std::to_string(Rounds));
    const std::uint64_t KillAt = 44 + 44100 * 4 + Random() % (WholeFile * 3 / 4);
    const auto Split = Start(Out);
    ASSERT_TRUE(WaitUntil(
        [&] {
          std::error_code e;
          const auto Size = fs::file_size(Out + "/Track01.wav", e);
          siginfo_t Ended{};
          return (!e && Size >= KillAt) || (::waitid(P_PID, static_cast<id_t>(Split->Pid()), &Ended,
                                                     WEXITED | WNOHANG | WNOWAIT) == 0 &&
                                            Ended.si_pid != 0);
        },
        std::chrono::minutes(2)));
    Split->Signal(SIGKILL);
    if (Split->WaitForExit() == 128 + SIGKILL) ++Killed;
    ASSERT_TRUE(fs::exists(Out + "/Track01.wav")) << "the split ended without its track";
    const Bytes File = ReadFileBytes(Out + "/Track01.wav");
    const auto [Data, At] = WavChunk(File, "data");
    ASSERT_GE(File.size(), At + Data) << "the header claims more than the file holds";
    // The samples the header covers are the input's, exactly.
    EXPECT_TRUE(std::equal(File.begin() + At, File.begin() + At + Data, Input.begin() + 44))
        << Rounds;
    // What reached the file beyond the header's sizes: at most a second.
    const std::uint64_t Loss = File.size() - At - Data;
    WorstLoss = std::max(WorstLoss, Loss);
    EXPECT_LE(Loss, 44100u * 4) << Rounds;
    ExpectPeersRead(Out + "/Track01.wav", Data / 4);
  }
  EXPECT_GT(Killed, 6);  // most rounds hit a recording in progress
  std::printf("%d of %d rounds killed mid-way; worst loss after a kill: %llu bytes (%.3f s)\n",
              Killed, Rounds, static_cast<unsigned long long>(WorstLoss),
              static_cast<double>(WorstLoss) / (44100 * 4));
}

TEST(CrashSafety, ARealTimeRecordingKilledKeepsAllButTheLastSecond) {
  TempDir Dir;
  std::mt19937 Random(7);
  for (int Round = 0; Round < 3; ++Round) {
    const std::string Out = Dir.File("rec" + std::to_string(Round));
    ChildProcess Record({VELMAR_REC, "record", "--out", Out}, Dir.Path(), {});
    // Past the first second of audio, then a random moment within the next two.
    ASSERT_TRUE(WaitUntil([&] {
      std::error_code e;
      return fs::file_size(Out + "/Track01.wav", e) > 46 + 44100 * 4 && !e;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(Random() % 2000));
    Record.Signal(SIGKILL);
    Record.WaitForExit();
    const Bytes File = ReadFileBytes(Out + "/Track01.wav");
    const auto [Data, At] = WavChunk(File, "data");
    EXPECT_GT(Data, 0u) << "after more than a second, the header says what the file holds";
    EXPECT_LE(File.size() - At - Data, 44100u * 4);
    ExpectPeersRead(Out + "/Track01.wav", Data / 4);
    // The next recording in that folder mends it and says so.
    int Status = -1;
    const std::string Said = Rec("record --out " + Out + " --duration 0.1", &Status);
    // (A kill just after a size update leaves a whole file: nothing to mend.)
    const bool Whole = File.size() - At - Data < 4;
    EXPECT_EQ(
        Said.find("mended tracks left by a crash in " + Out + ": Track01.wav") != std::string::npos,
        !Whole)
        << Said;
    EXPECT_EQ(Declared(ReadFileBytes(Out + "/Track01.wav"), "data"), (File.size() - At) / 4 * 4);
  }
}

TEST(CrashSafety, RepairMendsCutFilesAndLeavesGoodOnesAlone) {
  TempDir Dir;
  std::mt19937 Random(11);
  int Status = -1;
  // Our 16-bit stereo and sox's 8-bit mono (odd sizes), cut at random lengths,
  // with sizes of 0 or too large.
  const Bytes Stereo = MakeWav(44100, [](std::size_t) { return true; });
  const std::string Mono = Dir.File("mono.wav");
  RunCommand("sox -n -r 11025 -b 8 -c 1 '" + Mono + "' synth 1.0001 sine 300", &Status);
  ASSERT_EQ(Status, 0);
  for (const Bytes& Whole : {Stereo, ReadFileBytes(Mono)}) {
    const std::uint32_t Align = Whole[32];
    for (int Round = 0; Round < 8; ++Round) {
      Bytes Cut(Whole.begin(), Whole.begin() + 44 + Random() % (Whole.size() - 44));
      const std::uint32_t Claim = Round % 2 ? 0 : 0x7FFFFFF0;
      Put32(Cut, 40, Claim);
      Put32(Cut, 4, Round % 3 ? 0 : Claim);
      const std::string Name = Dir.File("cut.wav");
      WriteFileBytes(Name, Cut);
      const std::string Said = Rec("repair " + Name, &Status);
      EXPECT_EQ(Status, 0) << Said;
      EXPECT_NE(Said.find("mended"), std::string::npos) << Said;
      // Only the sizes change, to the whole frames present; every byte stays.
      const std::uint32_t Frames = static_cast<std::uint32_t>((Cut.size() - 44) / Align);
      Bytes Expected = Cut;
      Put32(Expected, 40, Frames * Align);
      Put32(Expected, 4,
            36 + Frames * Align + ((Frames * Align) % 2 && 44 + Frames * Align < Cut.size()));
      EXPECT_EQ(ReadFileBytes(Name), Expected) << Said;
      ExpectPeersRead(Name, Frames, static_cast<int>(Cut[24] | Cut[25] << 8));
      EXPECT_NE(Rec("repair " + Name, &Status).find("fine, left as it is"), std::string::npos);
    }
  }
  // Files the peers made, whole: untouched.
  const std::string Ffmpeg = Dir.File("ffmpeg.wav"), Sox = Dir.File("sox.wav");
  RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=500:duration=1 -ac 2 '" + Ffmpeg + "'",
             &Status);
  ASSERT_EQ(Status, 0);
  RunCommand("sox -n -r 44100 -b 16 -c 2 '" + Sox + "' synth 1 sine 500", &Status);
  for (const std::string& Good : {Ffmpeg, Sox}) {
    const Bytes Before = ReadFileBytes(Good);
    const std::string Said = Rec("repair " + Good, &Status);
    EXPECT_EQ(Status, 0);
    EXPECT_NE(Said.find("fine, left as it is"), std::string::npos) << Said;
    EXPECT_EQ(ReadFileBytes(Good), Before);
  }
  // Anything else: refused, exit 2, untouched.
  WriteFileBytes(Dir.File("junk.wav"), Bytes(500, 0x41));
  const std::string Said = Rec("repair " + Dir.File("junk.wav"), &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_NE(Said.find("not a WAV file"), std::string::npos) << Said;
  EXPECT_EQ(ReadFileBytes(Dir.File("junk.wav")), Bytes(500, 0x41));
}

TEST(CrashSafety, ARetitlingKilledAtAnyMomentIsOneWholeSetOnceTheFolderIsLookedAt) {
  TempDir Dir;
  constexpr int kTracks = 5;
  std::vector<Bytes> Files;
  for (int i = 0; i < kTracks; ++i)
    Files.push_back(
        MakeWav(static_cast<std::size_t>(20 + i) * 44100, [](std::size_t) { return true; }));
  const std::string Titles[kTracks] = {"One", "Two", "Three", "Four", "Five"};
  WriteFileBytes(Dir.File("titles.txt"), Bytes(std::begin("One\nTwo\nThree\nFour\nFive\n"),
                                               std::end("One\nTwo\nThree\nFour\nFive\n") - 1));
  auto Start = [&](const std::string& Folder) {
    fs::create_directories(Folder);
    std::vector<std::string> Args{VELMAR_REC, "titles", Dir.File("titles.txt")};
    for (int i = 0; i < kTracks; ++i) {
      Args.push_back(Folder + "/Track0" + std::to_string(i + 1) + ".wav");
      WriteFileBytes(Args.back(), Files[static_cast<std::size_t>(i)]);
      // On disk before the titling starts, so that its own syncs take about
      // as long in every round, whatever else the machine writes meanwhile.
      const int Fd = ::open(Args.back().c_str(), O_RDONLY);
      ::fsync(Fd);
      ::close(Fd);
    }
    return std::make_unique<ChildProcess>(Args, Dir.Path(), std::map<std::string, std::string>{});
  };
  auto Whole = [&](const std::string& Folder, bool New) {
    for (int i = 0; i < kTracks; ++i) {
      const std::string Name =
          Folder + "/" +
          (New ? "0" + std::to_string(i + 1) + " " + Titles[i] : "Track0" + std::to_string(i + 1)) +
          ".wav";
      if (!fs::exists(Name)) return false;
      const Bytes File = ReadFileBytes(Name);
      const Bytes& Old = Files[static_cast<std::size_t>(i)];
      if (!New && File != Old) return false;
      // The new file: the old audio, and the title.
      if (New &&
          (File.size() < Old.size() ||
           std::search(File.begin(), File.end(), Old.begin() + 44, Old.end()) == File.end() ||
           TrackTitle(Name) != Titles[i]))
        return false;
    }
    return true;
  };
  // How long a whole titling takes: the first run, then the shortest round
  // that ended before its kill. A loaded machine makes any one measure a poor
  // guess; a guess too long lets rounds end before their kill, and the next
  // such round mends it.
  auto Since = [](std::chrono::steady_clock::time_point From) {
    return std::chrono::duration_cast<std::chrono::duration<long long, std::micro>>(
               std::chrono::steady_clock::now() - From)
        .count();
  };
  long long Span = 0;
  {
    const auto From = std::chrono::steady_clock::now();
    ASSERT_EQ(Start(Dir.File("whole"))->WaitForExit(), 0);
    Span = Since(From);
    ASSERT_TRUE(Whole(Dir.File("whole"), true));
  }
  std::mt19937 Random(20261208);
  int Killed = 0, Mixed = 0, Round = 0;
  for (; Killed < 12 && Round < 60; ++Round) {
    const std::string Folder = Dir.File("round" + std::to_string(Round));
    const auto Titling = Start(Folder);
    const auto From = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(
        std::chrono::microseconds(Random() % static_cast<unsigned>(std::max(Span, 1LL))));
    Titling->Signal(SIGKILL);
    if (Titling->WaitForExit() == 128 + SIGKILL)
      ++Killed;
    else
      Span = std::min(Span, Since(From));
    // Killed between two renames, the folder is mixed until the next program
    // that works on it finishes the titling from its journal.
    Mixed += fs::exists(Folder + "/01 One.wav") != fs::exists(Folder + "/05 Five.wav");
    RecoverRewrites(Folder);
    const bool Old = Whole(Folder, false), New = Whole(Folder, true);
    EXPECT_TRUE(Old || New) << Round;
    for (const auto& e : fs::directory_iterator(Folder))
      EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  }
  EXPECT_GT(Killed, 6);  // most rounds hit the rewrite under way
  std::printf("%d of %d rounds killed mid-way, %d between the first and the last rename\n", Killed,
              Round, Mixed);
}

}  // namespace
}  // namespace velmar
