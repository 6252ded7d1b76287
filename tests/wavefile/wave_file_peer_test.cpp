// Our WAV files against independent readers and writers: sox and ffmpeg/ffprobe
// must read what we write with the same format, length and samples, and what
// they write must parse here with the right format and length.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <string>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"
#include "tests/wavefile/wave_file_test_support.h"
#include "wavefile/wave_file.h"

namespace velmar {
namespace {

using namespace test;

// "key=value" lines of ffprobe into a map.
std::map<std::string, std::string> Probe(const std::string& Name) {
  std::istringstream Lines(
      Peer("ffprobe -v error -select_streams a:0 -show_entries "
           "stream=codec_name,sample_rate,channels,bits_per_sample,duration_ts "
           "-of default=nw=1 " +
           Name));
  std::map<std::string, std::string> Fields;
  for (std::string Line; std::getline(Lines, Line);) {
    const auto Eq = Line.find('=');
    if (Eq != std::string::npos) Fields[Line.substr(0, Eq)] = Line.substr(Eq + 1);
  }
  return Fields;
}

std::string Soxi(const char* Option, const std::string& Name) {
  std::string Out = Peer(std::string("soxi ") + Option + " " + Name);
  while (!Out.empty() && (Out.back() == '\n' || Out.back() == ' ')) Out.pop_back();
  return Out;
}

Bytes Noise(size_t Count, unsigned Seed) {
  Bytes b(Count);
  std::mt19937 Random(Seed);
  for (auto& x : b) x = static_cast<std::uint8_t>(Random());
  return b;
}

struct Layout {
  std::uint16_t Bits, Channels;
  std::uint32_t Rate;
  size_t Frames;
};

TEST(WavePeers, SoxAndFfmpegReadOurFilesAlike) {
  TempDir Dir;
  for (const Layout& l : {Layout{16, 2, 44100, 44100}, Layout{8, 1, 8000, 8001},
                          Layout{16, 1, 22050, 1234}, Layout{8, 2, 11025, 777}}) {
    const std::string Name = Dir.File("ours.wav");
    const WAVEFORMATEX Format = PcmFormat(l.Bits, l.Channels, l.Rate);
    const Bytes Audio = Noise(l.Frames * Format.nBlockAlign, l.Rate);
    BlockPtr b(WaveFileFromFormat(&Format));
    ASSERT_EQ(WaveFileCreate(b.get(), Name), WAVEERR_NONE);
    WaveFileSetInfo(b.get(), 14, "Side A");
    ASSERT_EQ(WaveFileWrite(b.get(), Audio.data(), static_cast<std::int32_t>(Audio.size())),
              static_cast<std::int32_t>(Audio.size()));
    ASSERT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);
    SCOPED_TRACE(WaveFormatText(&Format));

    EXPECT_EQ(Soxi("-c", Name), std::to_string(l.Channels));
    EXPECT_EQ(Soxi("-r", Name), std::to_string(l.Rate));
    EXPECT_EQ(Soxi("-b", Name), std::to_string(l.Bits));
    EXPECT_EQ(Soxi("-s", Name), std::to_string(l.Frames));
    auto p = Probe(Name);
    EXPECT_EQ(p["codec_name"], l.Bits == 8 ? "pcm_u8" : "pcm_s16le");
    EXPECT_EQ(p["channels"], std::to_string(l.Channels));
    EXPECT_EQ(p["sample_rate"], std::to_string(l.Rate));
    EXPECT_EQ(p["duration_ts"], std::to_string(l.Frames));

    const std::string SoxRaw = Dir.File("sox.raw"), FfRaw = Dir.File("ff.raw");
    Peer("sox " + Name + " -t raw " + SoxRaw);
    Peer("ffmpeg -v error -y -i " + Name + " -f " + (l.Bits == 8 ? "u8 " : "s16le ") + FfRaw);
    EXPECT_EQ(ReadFileBytes(SoxRaw), Audio);
    EXPECT_EQ(ReadFileBytes(FfRaw), Audio);
  }
}

struct PeerFile {
  std::string Command;  // writes $OUT
  std::uint16_t Channels, Bits;
  std::uint32_t Rate;
};

TEST(WavePeers, FilesFromSoxAndFfmpegParseHere) {
  TempDir Dir;
  const std::string Out = Dir.File("peer.wav");
  const std::vector<PeerFile> Files = {
      {"sox -n -r 8000 -b 8 -c 1 OUT synth 0.37 sine 440", 1, 8, 8000},
      {"sox -n -r 22050 -b 16 -c 2 OUT synth 0.5 sine 440", 2, 16, 22050},
      {"sox -n -r 48000 -b 24 -c 2 OUT synth 0.25 sine 440", 2, 24, 48000},
      {"sox -n -r 96000 -b 16 -c 6 OUT synth 0.1 sine 440", 6, 16, 96000},
      {"sox -n -r 44100 -b 32 -c 1 OUT synth 0.2 sine 440", 1, 32, 44100},
      {"ffmpeg -v error -y -f lavfi -i sine=f=440:d=0.3:r=32000 -ac 2 -c:a pcm_s16le "
       "-metadata title=Tape -metadata artist=Band OUT",
       2, 16, 32000},
      {"ffmpeg -v error -y -f lavfi -i sine=f=440:d=0.2:r=11025 -ac 1 -c:a pcm_u8 OUT", 1, 8,
       11025},
  };
  for (const PeerFile& f : Files) {
    std::string Command = f.Command;
    Command.replace(Command.find("OUT"), 3, Out);
    Peer(Command);
    SCOPED_TRACE(Command);
    std::int32_t Code = -1;
    auto b = Parse(Out, &Code);
    ASSERT_EQ(Code, WAVEERR_NONE);
    const WAVEFORMATEX& Format = *b->Format();
    EXPECT_EQ(Format.nChannels, f.Channels);
    EXPECT_EQ(Format.nSamplesPerSec, f.Rate);
    EXPECT_EQ(Format.wBitsPerSample, f.Bits);
    EXPECT_EQ(std::to_string(b->TotalSamples), Soxi("-s", Out));
    const std::string Raw = Dir.File("peer.raw");
    Peer("sox " + Out + " -t raw " + Raw);
    EXPECT_EQ(ReadAll(b.get(), 4096), ReadFileBytes(Raw));
  }
  // Compressed files count their frames by blocks, as sox does, whatever average
  // byte rate the writer stored (ffmpeg stores 16000 in IMA files: 2.8 times too long).
  for (const char* Codec : {"adpcm_ima_wav -ac 2", "adpcm_ms -ac 1", "adpcm_ms -ac 2"}) {
    Peer(std::string("ffmpeg -v error -y -f lavfi -i sine=f=440:d=5:r=44100 -c:a ") + Codec + " " +
         Out);
    SCOPED_TRACE(Codec);
    auto c = Parse(Out);
    ASSERT_TRUE(c);
    EXPECT_EQ(std::to_string(c->TotalSamples), Soxi("-s", Out));
  }
  // ffmpeg puts its LIST/INFO in front of the data.
  Peer("ffmpeg -v error -y -f lavfi -i sine=d=0.1 -metadata title=Tape -metadata artist=Band " +
       Out);
  auto b = Parse(Out);
  ASSERT_TRUE(b);
  std::string Title, Artist;
  WaveFileGetInfo(b.get(), 14, Title);
  WaveFileGetInfo(b.get(), 1, Artist);
  EXPECT_EQ(Title, "Tape");
  EXPECT_EQ(Artist, "Band");
}

TEST(WavePeers, UpdatingAPeerFileKeepsItReadable) {
  TempDir Dir;
  const std::string Name = Dir.File("update.wav");
  Peer("ffmpeg -v error -y -f lavfi -i sine=d=0.2:r=44100 -ac 2 -metadata title=Tape " + Name);
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  const std::int32_t Frames = b->TotalSamples;
  ASSERT_EQ(WaveFileReopen(b.get()), WAVEERR_NONE);
  ASSERT_EQ(WaveFileSeek(b.get(), 100), WAVEERR_NONE);
  const Bytes Silence(400, 0);
  ASSERT_EQ(WaveFileWrite(b.get(), Silence.data(), 400), 400);
  ASSERT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);
  EXPECT_EQ(Soxi("-s", Name), std::to_string(Frames));
  EXPECT_EQ(Probe(Name)["duration_ts"], std::to_string(Frames));
  EXPECT_NE(Peer("ffprobe -v error -show_entries format_tags=title -of default=nw=1 " + Name)
                .find("Tape"),
            std::string::npos);
}

// Records pieces of Audio through a source device -> wave file chain until the
// file closes itself or the audio runs out; returns the bytes offered.
size_t RecordThroughChain(const std::string& Name, const Bytes& Audio, size_t Piece) {
  TDevice Source;
  TMMWaveFile File;
  Source.SetOutput(&File);
  const WAVEFORMATEX Cd = PcmFormat(16, 2, 44100);
  Source.SetPWaveFormat(&Cd);
  File.Wave()->SetFileMustExist(false);
  File.Wave()->SetFileName(Name);
  Source.Opened();
  Source.Started();
  size_t At = 0;
  for (; At < Audio.size() && File.IsOpen(); At += Piece) {
    Bytes Data(Audio.begin() + static_cast<std::ptrdiff_t>(At),
               Audio.begin() + static_cast<std::ptrdiff_t>(std::min(At + Piece, Audio.size())));
    TMMWaveHdr h{};
    h.wh.lpData = reinterpret_cast<char*>(Data.data());
    h.wh.dwBufferLength = h.wh.dwBytesRecorded = static_cast<std::uint32_t>(Data.size());
    Source.BufferReady(&h);
  }
  Source.Stopped();
  Source.Closed();
  return At;
}

TEST(WavePeers, ARecordedChainReadsInSoxAndFfprobe) {
  TempDir Dir;
  const std::string Name = Dir.File("Track01.wav");
  const Bytes Audio = Noise(8096 * 50, 5);
  RecordThroughChain(Name, Audio, 8096);
  EXPECT_EQ(Soxi("-s", Name), std::to_string(Audio.size() / 4));
  EXPECT_EQ(Probe(Name)["duration_ts"], std::to_string(Audio.size() / 4));
  const std::string Raw = Dir.File("track.raw");
  Peer("sox " + Name + " -t raw " + Raw);
  EXPECT_EQ(ReadFileBytes(Raw), Audio);
}

// A small real filesystem: once it is (nearly) full the file is finalised by
// itself and sox reads every frame that was written.
class SmallDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::mount("tmpfs", Dir.Path().c_str(), "tmpfs", 0, "size=400k") != 0)
      GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                   << "); the low-disk rule is still covered with a simulated disk";
    Mounted = true;
  }
  void TearDown() override {
    SetDiskFreeQuery(nullptr);
    if (Mounted) ::umount(Dir.Path().c_str());
  }
  TempDir Dir;
  bool Mounted = false;
};

TEST_F(SmallDisk, FreeSpaceRuleFinalisesInTime) {
  const std::string Name = Dir.File("Track01.wav");
  const Bytes Audio = Noise(8096 * 100, 6);
  const size_t Offered = RecordThroughChain(Name, Audio, 8096);
  EXPECT_LT(Offered, Audio.size());  // stopped early
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_GT(b->TotalSamples, 0);
  EXPECT_EQ(Soxi("-s", Name), std::to_string(b->TotalSamples));
  EXPECT_EQ(ReadAll(b.get(), 8192), Bytes(Audio.begin(), Audio.begin() + b->DataBytes));
}

TEST_F(SmallDisk, AFailedWriteFinalisesWhatReachedTheDisk) {
  SetDiskFreeQuery([](const std::string&) { return std::int64_t{1} << 40; });  // the query lies
  const std::string Name = Dir.File("Track02.wav");
  const Bytes Audio = Noise(8096 * 100, 7);
  RecordThroughChain(Name, Audio, 8096);
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_GT(b->DataBytes, 200000);
  EXPECT_EQ(Soxi("-s", Name), std::to_string(b->TotalSamples));
  const Bytes File = ReadFileBytes(Name);
  EXPECT_EQ(Le32At(File, 4), File.size() - 8);
  EXPECT_EQ(ReadAll(b.get(), 8192), Bytes(Audio.begin(), Audio.begin() + b->DataBytes));
}

}  // namespace
}  // namespace velmar
