// The wave recorder and the wave player on virtual devices: the recording cycle
// and its files, stops from every side, renaming while recording, and playback
// to the end, again, from a position, looping and while seeking.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/application.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "stream/errors.h"
#include "stream/time_conversions.h"
#include "tests/support/formats.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/wavefile/wave_file_test_support.h"
#include "wavefile/wave_player.h"
#include "wavefile/wave_recorder.h"

namespace velmar {
namespace {

using namespace test;

Bytes Counter(std::size_t Count, std::uint64_t From = 0) {
  Bytes b(Count);
  CounterSignal()(b.data(), static_cast<std::uint32_t>(Count), From, WAVEFORMATEX{});
  return b;
}

struct Devices : ::testing::Test {
  std::shared_ptr<TVirtualBackend> Virtual = std::make_shared<TVirtualBackend>();
  TempDir Dir;
  std::thread::id Main = std::this_thread::get_id();
  Devices() { SetWaveBackends({Virtual}); }
  ~Devices() override { SetWaveBackends({}); }
};

// The window's recorder: 44100 Hz, 16 bit, stereo, 8096-byte buffers, ms.
struct Recorder : Devices {
  std::unique_ptr<TMMWaveRecorder> r;  // made after its devices
  std::vector<std::string> Events;
  std::size_t DataBytes = 0;

  void SetUpRecorder(TVirtualDeviceSpec Spec) {
    Virtual->AddCapture(std::move(Spec));
    r = std::make_unique<TMMWaveRecorder>();
    r->SetBufferSize(8096);
    r->SetNumBuffers(10);
    r->SetDeviceID(0);
    r->SetTimeFormat(TMMTimeFormats::tfMillisecond);
    r->SetMode(TMMMode::mStereo);
    r->SetBitLength(TMMBits::b16Bit);
    r->SetSampleRate(44100);
    r->OnStart = [this](TObject*) { Events.push_back("start"); };
    r->OnStop = [this](TObject*) { Events.push_back("stop"); };
    r->OnChange = [this](TObject*) { Events.push_back("change"); };
    r->OnData = [this](TObject*, PWaveHdr h) { DataBytes += h->wh.dwBytesRecorded; };
  }
  // A counter as fast as the chain takes it, paused while the device is closed.
  void SetUpCounter() {
    SetUpRecorder({.Generator = CounterSignal(), .RealTime = false, .Live = false});
  }
  bool Stopped() {
    return WaitUntil([&] { return !Events.empty() && Events.back() == "stop"; });
  }
  // The events without the changes that naming and creating a file report.
  std::vector<std::string> StartsAndStops() const {
    std::vector<std::string> e;
    std::copy_if(Events.begin(), Events.end(), std::back_inserter(e),
                 [](const std::string& s) { return s != "change"; });
    return e;
  }
};

TEST_F(Recorder, RecordsExactlyToTheTimeLimitAndStopsByItself) {
  SetUpCounter();
  r->SetMaxRecordTime(1000);
  const std::string Name = Dir.File("Track01.wav");
  r->Wave()->SetFileName(Name);
  EXPECT_EQ(r->InputFormat(), "PCM 44.100 kHz, 16 Bit, Stereo");
  r->Start();
  EXPECT_EQ(r->State(), 6u);  // opened and recording
  ASSERT_TRUE(Stopped());
  EXPECT_EQ(StartsAndStops(), (std::vector<std::string>{"start", "stop"}));
  EXPECT_EQ(r->State(), 1u);
  EXPECT_EQ(DataBytes, 176400u);
  BlockPtr b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(ReadAll(b.get()), Counter(176400));
}

TEST_F(Recorder, StartAndStopOnlyActWhenTheyCan) {
  SetUpCounter();
  r->Start();  // no file name
  EXPECT_EQ(r->State(), 1u);
  r->Stop();  // not recording
  EXPECT_TRUE(StartsAndStops().empty());
  r->Wave()->SetFileName(Dir.File("a.wav"));
  r->Start();
  r->Start();  // recording already
  ASSERT_TRUE(WaitUntil([&] { return DataBytes >= 8096 * 3; }));
  r->Stop();
  EXPECT_EQ(StartsAndStops(), (std::vector<std::string>{"start", "stop"}));
  BlockPtr b = Parse(Dir.File("a.wav"));
  ASSERT_TRUE(b);
  EXPECT_EQ(ReadAll(b.get()), Counter(DataBytes));  // everything handed on is in the file
}

TEST_F(Recorder, ADeviceThatDeliversNothingLeavesAFourByteDataChunk) {
  // Suspended from its start until the stop: not a frame comes.
  SetUpRecorder(
      {.Generator = CounterSignal(), .RealTime = true, .SuspendAfter = 0, .SuspendSeconds = 60});
  const std::string Name = Dir.File("empty.wav");
  r->Wave()->SetFileName(Name);
  r->Start();
  r->Stop();
  EXPECT_EQ(StartsAndStops(), (std::vector<std::string>{"start", "stop"}));
  BlockPtr b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(ReadAll(b.get()), Bytes(4, 0));
}

TEST_F(Recorder, ANewNameWhileRecordingFinishesTheFileAndLeavesTheRecorderStopped) {
  // A file source: nothing is captured ahead of the chain, so nothing is lost.
  SetUpRecorder({.Generator = CounterSignal(), .RealTime = false, .Live = false, .OnDemand = true});
  const std::string First = Dir.File("Track01.wav"), Second = Dir.File("Track02.wav");
  r->Wave()->SetFileName(First);
  r->Start();
  ASSERT_TRUE(WaitUntil([&] { return DataBytes >= 8096 * 5; }));
  Events.clear();
  r->Wave()->SetFileName(Second);
  EXPECT_EQ(Events, (std::vector<std::string>{"stop", "change"}));
  EXPECT_EQ(r->State(), 1u);
  EXPECT_EQ(r->Position(), 0);
  BlockPtr b = Parse(First);
  ASSERT_TRUE(b);
  const Bytes Audio = ReadAll(b.get());
  EXPECT_EQ(Audio.size(), DataBytes);
  EXPECT_EQ(Audio, Counter(DataBytes));
  // The next Start records into the new file; the paused source continues.
  r->Start();
  ASSERT_TRUE(WaitUntil([&] { return DataBytes >= Audio.size() + 8096 * 2; }));
  r->Stop();
  BlockPtr c = Parse(Second);
  ASSERT_TRUE(c);
  // The source went on from where the first file ended; a stop from outside a
  // buffer handler drops what the device had filled and not yet delivered (a
  // buffer or so).
  const Bytes Next = ReadAll(c.get());
  ASSERT_EQ(Next.size(), DataBytes - Audio.size());
  const std::uint16_t From = static_cast<std::uint16_t>(Next[0] | Next[1] << 8);
  EXPECT_LE(static_cast<std::uint16_t>(From - Audio.size() / 2), 4u * 2024);
  EXPECT_EQ(Next, Counter(Next.size(), 2u * From));
}

TEST_F(Recorder, StopFromOnDataCompletesAfterTheHandlerOnTheMainThread) {
  SetUpCounter();
  r->Wave()->SetFileName(Dir.File("a.wav"));
  bool InHandler = false, StoppedInHandler = false;
  std::thread::id StopThread;
  r->OnData = [&](TObject*, PWaveHdr h) {
    DataBytes += h->wh.dwBytesRecorded;
    if (DataBytes < 8096 * 3) return;
    InHandler = true;
    r->Stop();
    InHandler = false;
  };
  r->OnStop = [&](TObject*) {
    StoppedInHandler = InHandler;
    StopThread = std::this_thread::get_id();
    Events.push_back("stop");
  };
  r->Start();
  ASSERT_TRUE(Stopped());
  EXPECT_FALSE(StoppedInHandler);
  EXPECT_EQ(StopThread, Main);
  BlockPtr b = Parse(Dir.File("a.wav"));
  ASSERT_TRUE(b);
  EXPECT_EQ(ReadAll(b.get()), Counter(DataBytes));
}

TEST_F(Recorder, InputFormatIsReadOnlyAndPositionCountsOnInAKeptFile) {
  SetUpCounter();
  std::string Shown;
  Application().OnShowMessage = [&](TObject*, const std::string& Text) { Shown = Text; };
  r->SetInputFormat("anything");
  Application().OnShowMessage = nullptr;
  EXPECT_EQ(Shown, "This is a read-only property, please use SelectFormat.");
  EXPECT_EQ(r->InputFormat(), "PCM 44.100 kHz, 16 Bit, Stereo");

  const std::string Name = Dir.File("kept.wav");
  Record(Name, CdFormat, Counter(176400));  // one second
  r->SetOverwriteExisting(false);
  r->Wave()->SetFileName(Name);
  r->Wave()->SetPosition(r->Wave()->DataSize());
  EXPECT_EQ(r->Position(), 1000);
  r->SetMaxRecordTime(500);
  r->Start();
  ASSERT_TRUE(Stopped());
  BlockPtr b = Parse(Name);
  ASSERT_TRUE(b);
  // Appended at the wave's position (its last frame: a position stays inside the data).
  EXPECT_EQ(ReadAll(b.get()).size(), 176400u - 4u + 88200u);
}

// The window's player on a playback device that plays as fast as it is fed.
struct Player : Devices {
  std::unique_ptr<TMMWavePlayer> p;  // made after its devices
  std::mutex Lock;
  Bytes Played;
  std::vector<std::string> Events;
  std::string Name = Dir.File("play.wav");
  Bytes Audio = Counter(4 * 4 * 44100);  // four seconds

  void SetUpPlayer(bool RealTime = false) {
    Virtual->AddPlayback({.Sink =
                              [this](const std::uint8_t* d, std::uint32_t n) {
                                std::lock_guard l(Lock);
                                Played.insert(Played.end(), d, d + n);
                              },
                          .RealTime = RealTime});
    p = std::make_unique<TMMWavePlayer>();
    p->SetBufferSize(2048);
    p->SetNumBuffers(10);
    p->SetDeviceID(0);
    p->SetTimeFormat(TMMTimeFormats::tfMillisecond);
    p->OnStart = [this](TObject*) { Events.push_back("start"); };
    p->OnStop = [this](TObject*) { Events.push_back("stop"); };
    p->OnChange = [this](TObject*) { Events.push_back("change"); };
    p->OnPause = [this](TObject*) { Events.push_back("pause"); };
    p->OnRestart = [this](TObject*) { Events.push_back("restart"); };
    Record(Name, CdFormat, Audio);
    p->LoadFile(Name);
    Events.clear();  // the load's own change
  }
  Bytes Taken() {
    std::lock_guard l(Lock);
    Bytes b;
    b.swap(Played);
    return b;
  }
  bool StoppedTimes(int n) {
    return WaitUntil([&] { return std::count(Events.begin(), Events.end(), "stop") == n; });
  }
};

TEST_F(Player, PlaysToTheEndAndAgainFromTheStart) {
  SetUpPlayer();
  p->Play();
  EXPECT_TRUE(p->State() & 4u);
  p->Play();  // playing already
  ASSERT_TRUE(StoppedTimes(1));
  EXPECT_EQ(p->State(), 1u);
  EXPECT_EQ(Taken(), Audio);
  p->Play();
  ASSERT_TRUE(StoppedTimes(2));
  EXPECT_EQ(Taken(), Audio);
  EXPECT_EQ(Events, (std::vector<std::string>{"start", "stop", "start", "stop"}));
}

TEST_F(Player, AnEmptyWaveDoesNotPlay) {
  SetUpPlayer();
  Record(Name, CdFormat, {});
  p->LoadFile(Name);
  p->Play();
  EXPECT_EQ(p->State(), 1u);
}

TEST_F(Player, StopKeepsThePositionOnlyWhenAsked) {
  SetUpPlayer(true);
  p->SetResetPosition(false);
  p->Play();
  ASSERT_TRUE(WaitUntil([&] { return p->GetPosition() >= 300; }));
  p->Stop();
  ASSERT_TRUE(StoppedTimes(1));
  const int Stopped = p->GetPosition();
  EXPECT_GE(Stopped, 300);
  EXPECT_LT(Stopped, 4000);
  Taken();
  p->Play();  // continues from there
  ASSERT_TRUE(WaitUntil([&] { return p->GetPosition() >= Stopped + 100; }));
  p->Stop();
  const Bytes Again = Taken();
  ASSERT_GE(Again.size(), 64u);
  // Playback went on from the stop position (to the millisecond it is kept in).
  const auto Frame = static_cast<std::ptrdiff_t>(TimeToSamples(&CdFormat, Stopped));
  const auto Resumed =
      std::search(Audio.begin() + (Frame - 50) * 4, Audio.begin() + (Frame + 50) * 4, Again.begin(),
                  Again.begin() + 64);
  EXPECT_NE(Resumed, Audio.begin() + (Frame + 50) * 4);
  p->SetResetPosition(true);
  p->Play();
  p->Stop();
  EXPECT_EQ(p->GetPosition(), 0);
}

TEST_F(Player, SeekingWhilePlayingRaisesNoPauseOrRestart) {
  SetUpPlayer(true);
  p->Play();
  ASSERT_TRUE(WaitUntil([&] { return p->GetPosition() >= 100; }));
  p->SetPosition(3000);
  EXPECT_GE(p->GetPosition(), 3000);
  ASSERT_TRUE(StoppedTimes(1));
  EXPECT_EQ(Events, (std::vector<std::string>{"start", "stop"}));
  const Bytes b = Taken();
  // The last second of the file was played to its end after the seek.
  ASSERT_GE(b.size(), 176400u);
  EXPECT_TRUE(std::equal(b.end() - 176400, b.end(), Audio.end() - 176400));
}

TEST_F(Player, ANewFileWhilePlayingStopsFirstAndAutoConvertIsFixedWhileOpen) {
  SetUpPlayer(true);
  p->Play();
  EXPECT_THROW(p->SetAutoConvert(false), EMMError);
  const std::string Other = Dir.File("other.wav");
  Record(Other, CdFormat, Counter(4000));
  p->LoadFile(Other);
  EXPECT_EQ(Events, (std::vector<std::string>{"start", "stop", "change"}));
  EXPECT_THROW(p->LoadFile(Dir.File("missing.wav")), EMMWaveError);
  EXPECT_EQ(p->Wave()->FileName(), Other);
  p->SetAutoConvert(false);
  EXPECT_FALSE(p->Converter().Enabled());
  EXPECT_FALSE(p->Decoder().Enabled());
}

TEST_F(Player, LoopingWithoutACountRepeatsUntilStop) {
  SetUpPlayer();
  p->SetLooping(true);
  p->SetLoopCount(0);
  p->Play();
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard l(Lock);
    return Played.size() > 3 * Audio.size();
  }));
  EXPECT_EQ(std::count(Events.begin(), Events.end(), "stop"), 0);
  p->Stop();
  ASSERT_TRUE(StoppedTimes(1));
  const Bytes b = Taken();
  EXPECT_TRUE(std::equal(Audio.begin(), Audio.end(),
                         b.begin() + static_cast<std::ptrdiff_t>(Audio.size())));
}

}  // namespace
}  // namespace velmar
