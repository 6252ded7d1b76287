// ALSA devices on a private configuration: the file plugin over a null slave
// captures a known byte stream from a file and plays into a file, without a
// sound card, so that what passes through our devices can be checked bit for
// bit.
#include <gtest/gtest.h>

#include <set>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "platform/wave/wave_api.h"
#include "stream/wave_format.h"
#include "stream/wave_in.h"
#include "stream/wave_out.h"
#include "tests/support/alsa_config.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/formats.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using namespace test;

std::vector<std::uint8_t> Counter(size_t Bytes) {
  std::vector<std::uint8_t> b(Bytes);
  CounterSignal()(b.data(), static_cast<std::uint32_t>(Bytes), 0, WAVEFORMATEX{});
  return b;
}

struct AlsaFiles : ::testing::Test {
  TempDir Dir;
  std::shared_ptr<TAlsaBackend> Alsa;
  const std::vector<std::uint8_t> Input = Counter(400000);
  int CaptureIndex = -1, PlaybackIndex = -1;

  AlsaFiles() {
    WriteFileBytes(Dir.File("in.raw"), Input);
    UseAlsaConfig(
        Dir.File("asound.conf"),
        "pcm.velmar_capture {\n"
        "  type file\n  slave { pcm { type null } }\n  file \"/dev/null\"\n"
        "  infile \"" +
            Dir.File("in.raw") +
            "\"\n  format \"raw\"\n"
            "  hint { show on description \"Velmar test capture\" }\n}\n"
            "pcm.velmar_playback {\n"
            "  type file\n  slave { pcm { type null } }\n"
            "  file \"" +
            Dir.File("out.raw") +
            "\"\n  format \"raw\"\n"
            "  hint { show on description \"Velmar test playback\" }\n}\n"
            "pcm.lavrate { type null hint { show on description \"a converter\" } }\n"
            "pcm.null { type null hint { show on description \"Discard all samples\" } }\n");
    Alsa = std::make_shared<TAlsaBackend>();
    SetWaveBackends({Alsa});
    for (int i = 0; i < Alsa->CaptureCount(); ++i)
      if (Alsa->CaptureName(i) == "velmar_capture") CaptureIndex = i;
    for (int i = 0; i < Alsa->PlaybackCount(); ++i)
      if (Alsa->PlaybackName(i) == "velmar_playback") PlaybackIndex = i;
  }
  ~AlsaFiles() override { SetWaveBackends({}); }
};

TEST_F(AlsaFiles, DevicesComeFromTheNameHints) {
  ASSERT_GE(CaptureIndex, 0);
  ASSERT_GE(PlaybackIndex, 0);
  EXPECT_EQ(Alsa->CaptureCaps(CaptureIndex).Name, "Velmar test capture");
  EXPECT_EQ(WaveInDeviceName(CaptureIndex), "Velmar test capture");
  for (int i = 0; i < Alsa->CaptureCount(); ++i) {
    EXPECT_NE(Alsa->CaptureName(i), "lavrate");
    EXPECT_NE(Alsa->CaptureName(i), "null");
  }
}

TEST(AlsaNone, WithoutCaptureDevicesTheDemoSignalIsOffered) {
  TempDir Dir;
  UseAlsaConfig(Dir.File("asound.conf"), "pcm.quiet { type null }\n");  // nothing hinted
  InstallDefaultWaveBackends();
  ASSERT_EQ(waveInGetNumDevs(), 1u);
  EXPECT_EQ(WaveInDeviceName(0), "Demo signal");
  TMMWaveIn In;
  TPlain Sink;
  std::atomic<int> Loud{0};
  Sink.OnBufferReady = [&](TObject*, PWaveHdr h) {
    for (std::uint32_t i = 0; i < h->wh.dwBytesRecorded; ++i)
      if (static_cast<std::uint8_t>(h->wh.lpData[i]) > 150)
        ++Loud;  // 8-bit: the tone rises above 128
  };
  In.SetOutput(&Sink);
  In.SetMaxRecordTime(4000);  // bytes
  std::atomic<bool> Stopped{false};
  In.OnStop = [&](TObject*) { Stopped = true; };
  In.Start();
  ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); }));
  In.Close();
  EXPECT_GT(Loud, 0);
  SetWaveBackends({});
}

TEST_F(AlsaFiles, CaptureArrivesBitForBitInOrder) {
  ASSERT_GE(CaptureIndex, 0);
  // The largest batch is velmar-rec's: sixteen buffers staged between two reports.
  struct TCase {
    TMMCBMode Mode;
    int Batch, Buffers;
  };
  for (auto [Mode, Batch, Buffers] :
       {TCase{TMMCBMode::cmWindow, 1, 10}, TCase{TMMCBMode::cmThread, 1, 10},
        TCase{TMMCBMode::cmWindow, 3, 10}, TCase{TMMCBMode::cmThread, 16, 36}}) {
    SCOPED_TRACE(Batch);
    TMMWaveIn In;
    In.SetBatch(Batch);
    In.SetNumBuffers(Buffers);
    TPlain Sink;
    std::mutex Lock;
    std::vector<std::uint8_t> Got;
    Sink.OnBufferReady = [&](TObject*, PWaveHdr h) {
      std::lock_guard<std::mutex> l(Lock);
      Got.insert(Got.end(), h->wh.lpData, h->wh.lpData + h->wh.dwBytesRecorded);
    };
    In.SetDeviceID(CaptureIndex);
    In.SetCallBackMode(Mode);
    In.SetPWaveFormat(&CdFormat);
    In.SetBufferSize(4096);
    In.SetTimeFormat(TMMTimeFormats::tfByte);
    In.SetMaxRecordTime(100000);
    In.SetOutput(&Sink);
    std::atomic<bool> Stopped{false};
    In.OnStop = [&](TObject*) { Stopped = true; };
    In.Start();
    ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); }));
    In.Close();
    std::lock_guard<std::mutex> l(Lock);
    ASSERT_EQ(Got.size(), 100000u);
    EXPECT_EQ(Got, std::vector<std::uint8_t>(Input.begin(), Input.begin() + 100000));
  }
}

// A batch of three is reported together: when the first header of a batch is
// reported (on the device's thread, which fills the headers), the next two are
// full already; one at a time, the next is still empty then. The file plugin's
// audio is always there, so every batch is whole. Lowered to one after the
// second batch, the rest come one at a time.
TEST_F(AlsaFiles, ABatchOfBuffersIsFilledBeforeItIsReported) {
  ASSERT_GE(CaptureIndex, 0);
  constexpr int kHeaders = 9, kBytes = 4096;
  for (std::uint32_t Batch : {1u, 3u}) {
    SCOPED_TRACE(Batch);
    struct TSeen {
      std::vector<WAVEHDR> Headers = std::vector<WAVEHDR>(kHeaders);
      std::vector<std::vector<char>> Data;
      std::vector<std::uint32_t> FullAfter;  // per report: full headers after it
      std::atomic<int> Reported{0};
      HWAVEIN In = 0;
    } Seen;
    for (int i = 0; i < kHeaders; ++i) Seen.Data.emplace_back(kBytes);
    const TWaveCallback Callback = [](std::uintptr_t, UINT Message, std::uintptr_t Instance,
                                      std::uintptr_t Param, std::uintptr_t) {
      if (Message != MM_WIM_DATA) return;
      auto& s = *reinterpret_cast<TSeen*>(Instance);
      const auto* h = reinterpret_cast<const WAVEHDR*>(Param);
      std::uint32_t Full = 0;
      for (auto i = static_cast<std::size_t>(h - s.Headers.data()) + 1;
           i < s.Headers.size() && s.Headers[i].dwBytesRecorded == kBytes; ++i)
        ++Full;
      s.FullAfter.push_back(Full);
      if (++s.Reported == 6) waveInSetBatch(s.In, 1);
    };
    HWAVEIN& In = Seen.In;
    ASSERT_EQ(waveInOpen(&In, static_cast<std::uint32_t>(CaptureIndex), &CdFormat,
                         reinterpret_cast<std::uintptr_t>(Callback),
                         reinterpret_cast<std::uintptr_t>(&Seen), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    ASSERT_EQ(waveInSetBatch(In, Batch), MMSYSERR_NOERROR);
    for (int i = 0; i < kHeaders; ++i) {
      WAVEHDR& h = Seen.Headers[static_cast<std::size_t>(i)];
      h.lpData = Seen.Data[static_cast<std::size_t>(i)].data();
      h.dwBufferLength = kBytes;
      ASSERT_EQ(waveInPrepareHeader(In, &h, sizeof h), MMSYSERR_NOERROR);
      ASSERT_EQ(waveInAddBuffer(In, &h, sizeof h), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(In), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitUntil([&] { return Seen.Reported == kHeaders; }));
    EXPECT_EQ(waveInReset(In), MMSYSERR_NOERROR);
    for (WAVEHDR& h : Seen.Headers) waveInUnprepareHeader(In, &h, sizeof h);
    EXPECT_EQ(waveInClose(In), MMSYSERR_NOERROR);
    const std::vector<std::uint32_t> Expected =
        Batch == 3 ? std::vector<std::uint32_t>{2, 1, 0, 2, 1, 0, 0, 0, 0}
                   : std::vector<std::uint32_t>(kHeaders, 0);
    EXPECT_EQ(Seen.FullAfter, Expected);
    std::vector<std::uint8_t> Got;
    for (const auto& d : Seen.Data) Got.insert(Got.end(), d.begin(), d.end());
    EXPECT_EQ(Got, std::vector<std::uint8_t>(Input.begin(), Input.begin() + kHeaders * kBytes));
  }
}

TEST_F(AlsaFiles, PlaybackLeavesExactlyTheBytesInTheFile) {
  ASSERT_GE(PlaybackIndex, 0);
  const std::vector<std::uint8_t> Data = Counter(150000);
  TPlain Source;
  size_t At = 0;
  Source.OnBufferLoad = [&](TObject*, PWaveHdr h, bool& More) {
    const size_t n = std::min<size_t>(h->wh.dwBufferLength, Data.size() - At);
    std::memcpy(h->wh.lpData, Data.data() + At, n);
    At += n;
    h->wh.dwBytesRecorded = static_cast<std::uint32_t>(n);
    More = At < Data.size();
  };
  TMMWaveOut Out;
  Out.SetDeviceID(PlaybackIndex);
  Source.SetOutput(&Out);
  WAVEFORMATEX Cd{};
  Source.SetPWaveFormat(BuildPCMFormat(&Cd, 16, 2, 44100));
  std::atomic<bool> Stopped{false};
  Out.OnStop = [&](TObject*) { Stopped = true; };
  Out.Start();
  ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); }));
  Out.Close();
  EXPECT_EQ(ReadFileBytes(Dir.File("out.raw")), Data);
}

// Device names as the devices dialog shows them: meaningful, at most 31 bytes,
// and distinct for the devices of one card (descriptions as ALSA gives them).
TEST(AlsaNames, NamesAreMeaningfulShortAndDistinct) {
  EXPECT_EQ(AlsaProductName("default", "Playback/recording through the PulseAudio sound server"),
            "Default (PulseAudio sound\u2026)");
  EXPECT_EQ(AlsaProductName("default", "Playback/recording through the PulseAudio sound server",
                            std::string::npos),
            "Default (PulseAudio sound server)");  // whole, as velmar-rec devices prints it
  EXPECT_EQ(AlsaProductName("default", "Default Audio Device"), "Default");
  EXPECT_EQ(AlsaProductName("pulse", "PulseAudio Sound Server"), "PulseAudio Sound Server");
  EXPECT_EQ(AlsaProductName("velmar_pulse_in", "Test sink monitor"), "Test sink monitor");
  EXPECT_EQ(AlsaProductName("hw:CARD=Device,DEV=0",
                            "USB Audio CODEC, USB Audio\nDirect "
                            "hardware device without any conversions"),
            "USB Audio CODEC: USB Audio (hw)");
  const std::string Card = "HDA Intel PCH, ALC892 Analog\n";
  std::set<std::string> Names;
  for (const char* Pcm : {"hw:CARD=PCH,DEV=0", "plughw:CARD=PCH,DEV=0", "sysdefault:CARD=PCH",
                          "front:CARD=PCH,DEV=0", "dsnoop:CARD=PCH,DEV=0"}) {
    const std::string Name = AlsaProductName(Pcm, Card + "Some long second line of text");
    EXPECT_LE(Name.size(), 31u) << Name;
    EXPECT_NE(Name.find("ALC892 Analog ("), std::string::npos) << Name;
    Names.insert(Name);
  }
  EXPECT_EQ(Names.size(), 5u);
  const std::string Long = AlsaProductName("null",
                                           "Discard all samples (playback) or generate "
                                           "zero samples (capture)");
  EXPECT_EQ(Long, "Discard all samples\u2026");  // cut after a word, within 31 bytes
}

}  // namespace
}  // namespace velmar
