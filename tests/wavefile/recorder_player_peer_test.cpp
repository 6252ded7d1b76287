// The recorder's files and the player's output against sox and ffmpeg: a
// recording of a known signal holds exactly that signal with the length the
// peers read, and the player delivers exactly the samples ffmpeg decodes.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "platform/wave/virtual/virtual_devices.h"
#include "tests/support/formats.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/wavefile/wave_file_test_support.h"
#include "wavefile/wave_player.h"
#include "wavefile/wave_recorder.h"

namespace velmar {
namespace {

using namespace test;

struct PeerDevices : ::testing::Test {
  std::shared_ptr<TVirtualBackend> Virtual = std::make_shared<TVirtualBackend>();
  TempDir Dir;
  PeerDevices() { SetWaveBackends({Virtual}); }
  ~PeerDevices() override { SetWaveBackends({}); }
};

TEST_F(PeerDevices, ARecordingHoldsTheSignalWithTheLengthThePeersRead) {
  const TSignalGenerator Tone = ToneSignal(440, 0.5);
  Virtual->AddCapture({.Generator = Tone, .RealTime = false, .Live = false});
  TMMWaveRecorder r;
  r.SetBufferSize(8096);
  r.SetMode(TMMMode::mStereo);
  r.SetBitLength(TMMBits::b16Bit);
  r.SetSampleRate(44100);
  r.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  r.SetMaxRecordTime(1500);
  bool Stopped = false;
  r.OnStop = [&](TObject*) { Stopped = true; };
  const std::string Name = Dir.File("Track01.wav");
  r.Wave()->SetFileName(Name);
  r.Start();
  ASSERT_TRUE(WaitUntil([&] { return Stopped; }));

  Bytes Want(264600);
  Tone(Want.data(), static_cast<std::uint32_t>(Want.size()), 0, CdFormat);
  BlockPtr b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(ReadAll(b.get()), Want);
  EXPECT_EQ(Peer("sox --i -s " + Name), "66150\n");
  EXPECT_EQ(Peer("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 " + Name),
            "66150\n");
}

TEST_F(PeerDevices, ThePlayerDeliversWhatFfmpegDecodes) {
  std::mutex Lock;
  Bytes Played;
  Virtual->AddPlayback({.Sink =
                            [&](const std::uint8_t* d, std::uint32_t n) {
                              std::lock_guard l(Lock);
                              Played.insert(Played.end(), d, d + n);
                            },
                        .RealTime = false});
  const std::string Source = Dir.File("source.wav"), Ima = Dir.File("ima.wav");
  Peer("sox -n -r 44100 -b 16 -c 2 " + Source + " synth 2.5 sine 100-9000 vol 0.8");
  Peer("ffmpeg -v error -y -i " + Source + " -c:a adpcm_ima_wav " + Ima);
  TMMWavePlayer p;
  p.SetBufferSize(2048);
  int Stops = 0;
  p.OnStop = [&](TObject*) { ++Stops; };
  for (const std::string& Name : {Source, Ima}) {
    SCOPED_TRACE(Name);
    Peer("ffmpeg -v error -y -i " + Name + " -f s16le -acodec pcm_s16le " + Name + ".raw");
    const Bytes Want = ReadFileBytes(Name + ".raw");
    p.LoadFile(Name);
    const int Before = Stops;
    p.Play();
    ASSERT_TRUE(WaitUntil([&] { return Stops == Before + 1; }));
    std::lock_guard l(Lock);
    EXPECT_EQ(Played.size(), Want.size());
    EXPECT_TRUE(Played == Want);
    Played.clear();
  }
}

}  // namespace
}  // namespace velmar
