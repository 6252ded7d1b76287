#include "wavefile/wave_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/files.h"
#include "stream/dsp_thread.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/wavefile/wave_file_test_support.h"

namespace velmar {
namespace {

using namespace test;

// A buffer with its header, as a device would allocate it.
struct Buffer {
  TMMWaveHdr Hdr{};
  Bytes Data;
  explicit Buffer(size_t Size) : Data(Size) {
    Hdr.wh.lpData = reinterpret_cast<char*>(Data.data());
    Hdr.wh.dwBufferLength = static_cast<std::uint32_t>(Size);
  }
};

// Source device -> wave file -> sink: the recording chain's shape.
struct Recording : ::testing::Test {
  TempDir Dir;
  TDevice Source;
  TMMWaveFile File;
  TPlain Sink;
  size_t SinkBytes = 0;
  const WAVEFORMATEX Cd = PcmFormat(16, 2, 44100);
  std::string Name = Dir.File("Track01.wav");

  Recording() {
    Source.SetOutput(&File);
    File.SetOutput(&Sink);
    Sink.OnBufferReady = [this](TObject*, PWaveHdr h) { SinkBytes += h->wh.dwBytesRecorded; };
    Source.SetPWaveFormat(&Cd);
    File.Wave()->SetFileMustExist(false);
    File.Wave()->SetFileName(Name);
  }
  ~Recording() override { SetDiskFreeQuery(nullptr); }

  void Push(const Bytes& Data, size_t Piece) {
    for (size_t At = 0; At < Data.size(); At += Piece) {
      Buffer b(Piece);
      const size_t n = std::min(Piece, Data.size() - At);
      std::copy(Data.begin() + static_cast<std::ptrdiff_t>(At),
                Data.begin() + static_cast<std::ptrdiff_t>(At + n), b.Data.begin());
      b.Hdr.wh.dwBytesRecorded = static_cast<std::uint32_t>(n);
      Source.BufferReady(&b.Hdr);
    }
  }
};

TEST_F(Recording, BuffersGoIntoTheFileAndOnDownTheChain) {
  int Opens = 0, Closes = 0;
  File.OnOpen = [&](TObject*) { ++Opens; };
  File.OnClose = [&](TObject*) { ++Closes; };
  const Bytes Audio = Pattern(8096 * 10 + 400);
  Source.Opened();
  EXPECT_TRUE(File.IsOpen());
  EXPECT_EQ(Opens, 1);
  Source.Started();
  Push(Audio, 8096);
  Source.Stopped();
  Source.Closed();
  EXPECT_EQ(Closes, 1);
  EXPECT_FALSE(File.IsOpen());
  EXPECT_EQ(SinkBytes, Audio.size());
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(ReadAll(b.get()), Audio);
  EXPECT_EQ(b->TotalSamples, static_cast<std::int32_t>(Audio.size() / 4));

  // Choosing another time unit while recording (a display showing the length in
  // samples) touches nothing of the stream: every buffer is still written.
  Source.Opened();
  Source.Started();
  Push(Audio, 8096);
  File.Wave()->SetTimeFormat(TMMTimeFormats::tfSample);
  File.Wave()->SetTimeFormat(TMMTimeFormats::tfByte);
  Push(Audio, 8096);
  Source.Stopped();
  Source.Closed();
  b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->TotalSamples, static_cast<std::int32_t>(2 * Audio.size() / 4));
}

TEST_F(Recording, AChainOpenedAndClosedWithoutBuffersLeavesFourZeroBytes) {
  Source.Opened();
  Source.Started();
  Source.Stopped();
  Source.Closed();
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->DataBytes, 4);
  EXPECT_EQ(ReadAll(b.get()), Bytes(4, 0));
}

TEST_F(Recording, NothingIsRecordedBeforeStartOrWhileDisabled) {
  Source.Opened();
  Push(Pattern(400), 400);  // opened, not started
  Source.Started();
  File.SetEnabled(false);
  Push(Pattern(400), 400);
  File.SetEnabled(true);
  Push(Pattern(40, 9), 40);
  Source.Closed();
  auto b = Parse(Name);
  EXPECT_EQ(ReadAll(b.get()), Pattern(40, 9));
  EXPECT_EQ(SinkBytes, 840u);  // the buffers went on all the same
}

TEST_F(Recording, ALowDiskFinalisesTheFileAndTheInputRunsOn) {
  const std::int64_t Reserve = File.Wave()->IOBufferSize() + 8096 + kDiskReserveBytes;
  std::atomic<std::int64_t> Free{Reserve + 5 * 8096};
  SetDiskFreeQuery([&](const std::string& Folder) {
    EXPECT_EQ(Folder, Dir.Path());
    return Free.load();
  });
  Source.Opened();
  Source.Started();
  const Bytes Audio = Pattern(8096 * 12);
  for (size_t i = 0; i < 12; ++i) {
    Push(Bytes(Audio.begin() + static_cast<std::ptrdiff_t>(i * 8096),
               Audio.begin() + static_cast<std::ptrdiff_t>((i + 1) * 8096)),
         8096);
    Free -= 8096;
  }
  EXPECT_FALSE(File.IsOpen());  // finalised by itself
  EXPECT_EQ(SinkBytes, Audio.size());
  Source.Stopped();
  Source.Closed();
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  // Buffers were written while the free space covered the reserve: six of them.
  EXPECT_EQ(ReadAll(b.get()), Bytes(Audio.begin(), Audio.begin() + 6 * 8096));
  const Bytes File_ = ReadFileBytes(Name);
  EXPECT_EQ(Le32At(File_, 4), File_.size() - 8);

  SetDiskFreeQuery([](const std::string&) { return std::int64_t{-1}; });  // unknown: no recording
  Source.Opened();
  Source.Started();
  Push(Pattern(400), 400);
  EXPECT_FALSE(File.IsOpen());
  Source.Closed();
  EXPECT_EQ(Parse(Name)->DataBytes, 4);
}

TEST_F(Recording, KeepingAnExistingFileAppendsFromItsPosition) {
  Record(Name, Cd, Pattern(400));
  File.Wave()->SetFileName(Name);
  File.SetOverwriteExisting(false);
  Source.Opened();
  Source.Started();
  Push(Pattern(40, 3), 40);
  Source.Closed();
  auto b = Parse(Name);
  Bytes Expected = Pattern(400);
  std::copy_n(Pattern(40, 3).begin(), 40, Expected.begin());  // written at position 0
  EXPECT_EQ(ReadAll(b.get()), Expected);
}

TEST_F(Recording, OpenAndCloseEventsArriveOnTheMainThread) {
  std::thread::id OpenedOn, ClosedOn;
  File.OnOpen = [&](TObject*) { OpenedOn = std::this_thread::get_id(); };
  File.OnClose = [&](TObject*) { ClosedOn = std::this_thread::get_id(); };
  struct Driver : TMMDSPThread {
    TDevice& d;
    std::atomic<bool> Done{false};
    explicit Driver(TDevice& Device) : TMMDSPThread(&Device), d(Device) {}
    void Execute() override {
      d.Opened();
      d.Started();
      d.Closed();
      Done = true;
    }
  } t(Source);
  t.Resume();
  ASSERT_TRUE(WaitUntil([&] { return t.Done.load(); }));
  t.WaitFor();
  EXPECT_EQ(OpenedOn, std::this_thread::get_id());
  EXPECT_EQ(ClosedOn, std::this_thread::get_id());
}

// The wave file as a source, pulled by an output device below it.
struct Playback : ::testing::Test {
  TempDir Dir;
  TMMWaveFile File;
  TDevice Out;
  std::string Name = Dir.File("play.wav");

  void Load(const WAVEFORMATEX& Format, const Bytes& Audio) {
    Record(Name, Format, Audio);
    File.Wave()->SetFileName(Name);
    File.SetOutput(&Out);
  }

  // Pulls until the source has no more, as an output device does.
  Bytes PullAll(size_t Piece, std::uint32_t Loops = 0, bool Looping = false, int* Wraps = nullptr) {
    Bytes Got;
    Buffer b(Piece);
    b.Hdr.Looping = Looping ? kHdrTrue : 0;
    b.Hdr.LoopCount = Loops;
    b.Hdr.LoopsLeft = static_cast<std::int32_t>(Loops);
    for (int Guard = 0; Guard < 1000000; ++Guard) {
      b.Hdr.Looped = 0;
      const bool More = PullBuffer(Out, &b.Hdr, static_cast<std::uint32_t>(Piece));
      Got.insert(Got.end(), b.Data.begin(), b.Data.begin() + b.Hdr.wh.dwBytesRecorded);
      if (Wraps && b.Hdr.Looped) ++*Wraps;
      if (!More) break;
    }
    return Got;
  }
};

TEST_F(Playback, PiecesOfAnySizeReadBackBitForBit) {
  const Bytes Audio = Pattern(4 * 3001);
  Load(PcmFormat(16, 2, 44100), Audio);
  for (size_t Piece : {4u, 7u, 1000u, 4096u, 65536u}) {
    Out.Opened();
    Out.Started();
    EXPECT_EQ(PullAll(Piece), Audio) << Piece;
    Out.Stopped();
    Out.Closed();
  }
}

TEST_F(Playback, LoopingDeliversTheDataLoopCountPlusOneTimes) {
  const Bytes Audio = Pattern(4 * 250);
  Load(PcmFormat(16, 2, 44100), Audio);
  int Loopings = 0, Wraps = 0;
  File.OnLooping = [&](TObject*) { ++Loopings; };
  Out.Opened();
  Out.Started();
  const Bytes Got = PullAll(300, 2, true, &Wraps);
  Bytes Thrice = Audio;
  Thrice.insert(Thrice.end(), Audio.begin(), Audio.end());
  Thrice.insert(Thrice.end(), Audio.begin(), Audio.end());
  // Each pass ends in a short buffer: the data arrives three times, in order.
  EXPECT_EQ(Got, Thrice);
  EXPECT_EQ(Loopings, 2);
  EXPECT_EQ(Wraps, 2);
}

TEST_F(Playback, DisabledOrStoppedSourcesDeliverSilence) {
  Load(PcmFormat(8, 1, 8000), Pattern(100));
  EXPECT_EQ(File.SilenceValue(), 128);
  Out.Opened();
  Buffer b(64);
  EXPECT_TRUE(PullBuffer(Out, &b.Hdr, 64));  // opened, not started
  EXPECT_EQ(b.Hdr.wh.dwBytesRecorded, 64u);
  EXPECT_EQ(b.Data, Bytes(64, 128));
  Out.Started();
  File.SetEnabled(false);
  EXPECT_TRUE(PullBuffer(Out, &b.Hdr, 64));
  EXPECT_EQ(b.Data, Bytes(64, 128));

  TMMWaveFile Empty;
  TDevice Out2;
  Empty.SetOutput(&Out2);
  Out2.Opened();
  Out2.Started();
  EXPECT_FALSE(PullBuffer(Out2, &b.Hdr, 64));
  EXPECT_EQ(b.Hdr.wh.dwBytesRecorded, 0u);
}

TEST_F(Playback, TheWaveFormatFlowsDownTheChain) {
  Load(PcmFormat(16, 1, 22050), Pattern(100));
  ASSERT_NE(Out.PWaveFormat(), nullptr);
  EXPECT_EQ(Out.PWaveFormat()->nSamplesPerSec, 22050u);
  EXPECT_EQ(File.SilenceValue(), 0);
}

}  // namespace
}  // namespace velmar
