#include "platform/wave/wave_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::WaitUntil;

WAVEFORMATEX Pcm(std::uint16_t Bits, std::uint16_t Channels, std::uint32_t Rate) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = Channels;
  f.nSamplesPerSec = Rate;
  f.wBitsPerSample = Bits;
  f.nBlockAlign = static_cast<std::uint16_t>(Channels * Bits / 8);
  f.nAvgBytesPerSec = f.nBlockAlign * Rate;
  return f;
}

// A device under test with its headers, collecting what comes back through the
// callback function (on the device's I/O thread).
struct Client {
  std::mutex Lock;
  std::vector<WAVEHDR*> Returned;
  std::vector<std::uint8_t> Bytes;
  std::atomic<int> Opened{0}, Closed{0};
  std::vector<std::unique_ptr<WAVEHDR>> Headers;
  std::vector<std::vector<char>> Memory;

  static void Callback(std::uintptr_t, UINT Message, std::uintptr_t Instance, std::uintptr_t Param1,
                       std::uintptr_t) {
    auto* c = reinterpret_cast<Client*>(Instance);
    if (Message == MM_WIM_OPEN || Message == MM_WOM_OPEN) ++c->Opened;
    if (Message == MM_WIM_CLOSE || Message == MM_WOM_CLOSE) ++c->Closed;
    if (Message == MM_WIM_DATA || Message == MM_WOM_DONE) {
      auto* h = reinterpret_cast<WAVEHDR*>(Param1);
      EXPECT_TRUE(h->dwFlags & WHDR_DONE);
      EXPECT_FALSE(h->dwFlags & WHDR_INQUEUE);
      std::lock_guard<std::mutex> l(c->Lock);
      c->Returned.push_back(h);
      if (Message == MM_WIM_DATA)
        c->Bytes.insert(c->Bytes.end(), h->lpData, h->lpData + h->dwBytesRecorded);
    }
  }

  WAVEHDR* Header(std::uint32_t Size) {
    Memory.emplace_back(Size);
    Headers.push_back(std::make_unique<WAVEHDR>());
    WAVEHDR* h = Headers.back().get();
    *h = WAVEHDR{};
    h->lpData = Memory.back().data();
    h->dwBufferLength = Size;
    return h;
  }

  // Opens device 0 with this client's callback.
  MMRESULT OpenIn(HWAVEIN* h, const WAVEFORMATEX& f) {
    return waveInOpen(h, 0, &f, reinterpret_cast<std::uintptr_t>(&Callback),
                      reinterpret_cast<std::uintptr_t>(this), CALLBACK_FUNCTION);
  }
  MMRESULT OpenOut(HWAVEOUT* h, const WAVEFORMATEX& f) {
    return waveOutOpen(h, 0, &f, reinterpret_cast<std::uintptr_t>(&Callback),
                       reinterpret_cast<std::uintptr_t>(this), CALLBACK_FUNCTION);
  }
  // A new capture header of Size bytes, prepared and queued on h.
  WAVEHDR* Queue(HWAVEIN h, std::uint32_t Size) {
    WAVEHDR* r = Header(Size);
    waveInPrepareHeader(h, r, sizeof(WAVEHDR));
    waveInAddBuffer(h, r, sizeof(WAVEHDR));
    return r;
  }

  size_t ReturnedCount() {
    std::lock_guard<std::mutex> l(Lock);
    return Returned.size();
  }
  std::vector<std::uint8_t> Captured() {
    std::lock_guard<std::mutex> l(Lock);
    return Bytes;
  }
};

struct WaveApi : ::testing::Test {
  std::shared_ptr<TVirtualBackend> Virtual = std::make_shared<TVirtualBackend>();
  WaveApi() { SetWaveBackends({Virtual}); }
  ~WaveApi() override { SetWaveBackends({}); }
};

bool IsCounter(const std::vector<std::uint8_t>& b, std::uint16_t First) {
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const auto v = static_cast<std::uint16_t>(b[i] | b[i + 1] << 8);
    if (v != static_cast<std::uint16_t>(First + i / 2)) return false;
  }
  return true;
}

TEST_F(WaveApi, DevicesAndCapabilities) {
  EXPECT_EQ(waveInGetNumDevs(), 0u);
  Virtual->AddCapture({.Name = "A capture device whose name is far too long for the record"});
  Virtual->AddCapture({.Name = "Second", .Formats = WAVE_FORMAT_4S16});
  Virtual->AddPlayback({.Name = "Speakers"});
  EXPECT_EQ(waveInGetNumDevs(), 2u);
  EXPECT_EQ(waveOutGetNumDevs(), 1u);
  WAVEINCAPS In{};
  ASSERT_EQ(waveInGetDevCaps(0, &In, sizeof In), MMSYSERR_NOERROR);
  EXPECT_EQ(std::string(In.szPname),
            std::string("A capture device whose name is far too long").substr(0, 31));
  ASSERT_EQ(waveInGetDevCaps(1, &In, sizeof In), MMSYSERR_NOERROR);
  EXPECT_EQ(In.dwFormats, WAVE_FORMAT_4S16);
  EXPECT_EQ(waveInGetDevCaps(2, &In, sizeof In), MMSYSERR_BADDEVICEID);
  ASSERT_EQ(waveInGetDevCaps(WAVE_MAPPER, &In, sizeof In), MMSYSERR_NOERROR);  // the first device
  WAVEOUTCAPS Out{};
  ASSERT_EQ(waveOutGetDevCaps(0, &Out, sizeof Out), MMSYSERR_NOERROR);
  EXPECT_STREQ(Out.szPname, "Speakers");
  char Text[255];
  ASSERT_EQ(waveInGetErrorText(MMSYSERR_ALLOCATED, Text, sizeof Text), MMSYSERR_NOERROR);
  EXPECT_STREQ(Text, "The device is already in use.");
  EXPECT_NE(waveInGetErrorText(12345, Text, sizeof Text), MMSYSERR_NOERROR);
}

TEST_F(WaveApi, QueriesAndRefusals) {
  Virtual->AddCapture({.Name = "ok"});
  Virtual->AddCapture({.Name = "busy", .OpenError = MMSYSERR_ALLOCATED});
  const WAVEFORMATEX Cd = Pcm(16, 2, 44100);
  WAVEFORMATEX Odd = Cd;
  Odd.wBitsPerSample = 12;
  HWAVEIN h = 0;
  EXPECT_EQ(waveInOpen(nullptr, 0, &Cd, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInOpen(nullptr, 0, &Odd, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
  EXPECT_EQ(waveInOpen(&h, 1, &Cd, 0, 0, 0), MMSYSERR_ALLOCATED);
  EXPECT_EQ(waveInOpen(&h, 7, &Cd, 0, 0, 0), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInStart(12345), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveApi, CaptureFillsHeadersInOrderWithoutGapsOrRepeats) {
  Virtual->AddCapture({.Name = "counter", .Generator = CounterSignal(), .RealTime = false});
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  Client c;
  HWAVEIN h = 0;
  ASSERT_EQ(c.OpenIn(&h, f), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitUntil([&] { return c.Opened == 1; }));
  std::uint32_t Id = 99;
  EXPECT_EQ(waveInGetID(h, &Id), MMSYSERR_NOERROR);
  EXPECT_EQ(Id, 0u);
  std::vector<WAVEHDR*> Ring;
  for (int i = 0; i < 4; ++i) Ring.push_back(c.Header(1000));
  EXPECT_EQ(waveInAddBuffer(h, Ring[0], sizeof(WAVEHDR)), WAVERR_UNPREPARED);
  for (WAVEHDR* r : Ring) {
    ASSERT_EQ(waveInPrepareHeader(h, r, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(h, r, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitUntil([&] { return c.ReturnedCount() == 4; }));
  {
    std::lock_guard<std::mutex> l(c.Lock);
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(c.Returned[i], Ring[i]);
      EXPECT_EQ(c.Returned[i]->dwBytesRecorded, 1000u);
    }
  }
  EXPECT_TRUE(IsCounter(c.Captured(), 0));
  MMTIME t{TIME_SAMPLES, {0}, 0};
  EXPECT_EQ(waveInGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.u.sample, 1000u);  // 4000 bytes of 4-byte frames
  t.wType = TIME_BYTES;
  waveInGetPosition(h, &t, sizeof t);
  EXPECT_EQ(t.u.cb, 4000u);
  EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitUntil([&] { return c.Closed == 1; }));
  EXPECT_EQ(waveInStart(h), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveApi, AHundredQueuedHeadersComeBackInOrder) {
  Virtual->AddCapture({.Name = "counter", .Generator = CounterSignal(), .RealTime = false});
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  Client c;
  HWAVEIN h = 0;
  ASSERT_EQ(c.OpenIn(&h, f), MMSYSERR_NOERROR);
  std::vector<WAVEHDR*> Ring;
  for (int i = 0; i < 100; ++i) {
    Ring.push_back(c.Queue(h, 64));
  }
  waveInStart(h);
  ASSERT_TRUE(WaitUntil([&] { return c.ReturnedCount() == 100; }));
  {
    std::lock_guard<std::mutex> l(c.Lock);
    EXPECT_EQ(c.Returned, Ring);
  }
  EXPECT_TRUE(IsCounter(c.Captured(), 0));
  waveInReset(h);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveApi, StopReturnsThePartlyFilledHeaderAndResetTheRest) {
  Virtual->AddCapture({.Name = "real time", .Generator = CounterSignal()});
  const WAVEFORMATEX f = Pcm(16, 1, 8000);  // 16000 bytes per second
  Client c;
  HWAVEIN h = 0;
  ASSERT_EQ(c.OpenIn(&h, f), MMSYSERR_NOERROR);
  WAVEHDR* Big = c.Header(64000);  // four seconds
  WAVEHDR* Next = c.Header(64000);
  for (WAVEHDR* r : {Big, Next}) {
    waveInPrepareHeader(h, r, sizeof(WAVEHDR));
    waveInAddBuffer(h, r, sizeof(WAVEHDR));
  }
  waveInStart(h);
  MMTIME t{TIME_SAMPLES, {0}, 0};
  ASSERT_TRUE(WaitUntil([&] {
    waveInGetPosition(h, &t, sizeof t);
    return t.u.sample > 0;
  }));
  EXPECT_EQ(waveInClose(h), WAVERR_STILLPLAYING);  // headers are queued
  waveInStop(h);
  ASSERT_TRUE(WaitUntil([&] { return c.ReturnedCount() == 1; }));
  EXPECT_GT(Big->dwBytesRecorded, 0u);
  EXPECT_LT(Big->dwBytesRecorded, 64000u);
  EXPECT_EQ(waveInUnprepareHeader(h, Next, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  waveInReset(h);
  ASSERT_TRUE(WaitUntil([&] { return c.ReturnedCount() == 2; }));
  EXPECT_EQ(Next->dwBytesRecorded, 0u);
  EXPECT_EQ(waveInUnprepareHeader(h, Next, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveApi, WindowNotificationsCarryTheHandleAndTheHeader) {
  Virtual->AddCapture({.Name = "w", .Generator = CounterSignal(), .RealTime = false});
  std::vector<std::pair<UINT, WPARAM>> Got;
  LPARAM Header = 0;
  HWND w = AllocateHWnd([&](HWND, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    Got.push_back({m, wp});
    if (m == MM_WIM_DATA) Header = lp;
    return 0;
  });
  const WAVEFORMATEX f = Pcm(8, 1, 11025);
  Client c;
  HWAVEIN h = 0;
  ASSERT_EQ(waveInOpen(&h, 0, &f, w, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  WAVEHDR* r = c.Queue(h, 100);
  waveInStart(h);
  ASSERT_TRUE(WaitUntil([&] { return Got.size() >= 2; }));
  waveInReset(h);
  waveInClose(h);
  ASSERT_TRUE(WaitUntil([&] { return Got.size() >= 3; }));
  EXPECT_EQ(Got[0], (std::pair<UINT, WPARAM>{MM_WIM_OPEN, h}));
  EXPECT_EQ(Got[1], (std::pair<UINT, WPARAM>{MM_WIM_DATA, h}));
  EXPECT_EQ(Got[2], (std::pair<UINT, WPARAM>{MM_WIM_CLOSE, h}));
  EXPECT_EQ(Header, reinterpret_cast<LPARAM>(r));
  DeallocateHWnd(w);
}

TEST_F(WaveApi, InjectedFaultsHoldAHeaderAndShortenBuffers) {
  Virtual->AddCapture({.Name = "faulty",
                       .Generator = CounterSignal(),
                       .RealTime = false,
                       .HoldHeader = 1,
                       .ShortBuffers = 100});
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  Client c;
  HWAVEIN h = 0;
  ASSERT_EQ(c.OpenIn(&h, f), MMSYSERR_NOERROR);
  std::vector<WAVEHDR*> Ring;
  for (int i = 0; i < 3; ++i) {
    Ring.push_back(c.Queue(h, 1000));
  }
  waveInStart(h);
  ASSERT_TRUE(WaitUntil([&] { return c.ReturnedCount() == 2; }));
  waveInReset(h);
  EXPECT_EQ(Ring[0]->dwBytesRecorded, 100u);
  EXPECT_EQ(Ring[2]->dwBytesRecorded, 100u);
  EXPECT_TRUE(IsCounter(c.Captured(), 0));  // the held header took nothing
  EXPECT_FALSE(Ring[1]->dwFlags & WHDR_DONE);
  EXPECT_EQ(c.ReturnedCount(), 2u);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

// Captures Frames frames from device 0 and returns them.
std::vector<std::uint8_t> CaptureSome(std::uint32_t Bytes) {
  const WAVEFORMATEX f = Pcm(16, 1, 8000);
  Client c;
  HWAVEIN h = 0;
  EXPECT_EQ(c.OpenIn(&h, f), MMSYSERR_NOERROR);
  c.Queue(h, Bytes);
  waveInStart(h);
  EXPECT_TRUE(WaitUntil([&] { return c.ReturnedCount() == 1; }));
  waveInReset(h);
  waveInClose(h);
  return c.Captured();
}

TEST_F(WaveApi, LiveSourcesRunOnWhileClosedFileSourcesPause) {
  Virtual->AddCapture({.Name = "live", .Generator = CounterSignal()});
  const auto First = CaptureSome(160);                         // 5 ms
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the source runs on meanwhile
  const auto Second = CaptureSome(160);
  const auto Start = static_cast<std::uint16_t>(Second[0] | Second[1] << 8);
  EXPECT_GE(static_cast<std::uint16_t>(Start - (First[158] | First[159] << 8)),
            300);  // >= 40 ms lost

  Virtual->Clear();
  Virtual->AddCapture({.Name = "file", .Generator = CounterSignal(), .Live = false});
  const auto a = CaptureSome(160);
  const auto b = CaptureSome(160);
  EXPECT_TRUE(IsCounter(a, 0));
  EXPECT_TRUE(IsCounter(b, 80));  // exactly where the first capture stopped
}

TEST_F(WaveApi, PlaybackHandsEveryByteToTheSinkInOrder) {
  std::mutex Lock;
  std::vector<std::uint8_t> Played;
  Virtual->AddPlayback({.Name = "sink",
                        .Sink =
                            [&](const std::uint8_t* d, std::uint32_t n) {
                              std::lock_guard<std::mutex> l(Lock);
                              Played.insert(Played.end(), d, d + n);
                            },
                        .RealTime = false});
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  Client c;
  HWAVEOUT h = 0;
  ASSERT_EQ(c.OpenOut(&h, f), MMSYSERR_NOERROR);
  std::vector<std::uint8_t> Expected;
  waveOutPause(h);
  for (int i = 0; i < 5; ++i) {
    WAVEHDR* r = c.Header(400);
    for (int j = 0; j < 400; ++j) r->lpData[j] = static_cast<char>(i * 400 + j);
    Expected.insert(Expected.end(), r->lpData, r->lpData + 400);
    waveOutPrepareHeader(h, r, sizeof(WAVEHDR));
    ASSERT_EQ(waveOutWrite(h, r, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  EXPECT_EQ(c.ReturnedCount(), 0u);  // paused: nothing plays
  waveOutRestart(h);
  ASSERT_TRUE(WaitUntil([&] { return c.ReturnedCount() == 5; }));
  {
    std::lock_guard<std::mutex> l(Lock);
    EXPECT_EQ(Played, Expected);
  }
  MMTIME t{TIME_BYTES, {0}, 0};
  waveOutGetPosition(h, &t, sizeof t);
  EXPECT_EQ(t.u.cb, 2000u);
  waveOutReset(h);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveApi, RealTimePlaybackKeepsToTheClock) {
  Virtual->AddPlayback({.Name = "clock"});
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  Client c;
  HWAVEOUT h = 0;
  ASSERT_EQ(c.OpenOut(&h, f), MMSYSERR_NOERROR);
  WAVEHDR* r = c.Header(176400 * 2);  // two seconds
  waveOutPrepareHeader(h, r, sizeof(WAVEHDR));
  const auto Start = std::chrono::steady_clock::now();
  waveOutWrite(h, r, sizeof(WAVEHDR));
  ASSERT_TRUE(WaitUntil([&] { return c.ReturnedCount() == 1; }));
  const auto Took = std::chrono::steady_clock::now() - Start;
  EXPECT_GE(Took, std::chrono::milliseconds(1900));  // never faster than the clock
  EXPECT_LT(Took, std::chrono::seconds(20));
  waveOutReset(h);
  waveOutClose(h);
}

}  // namespace
}  // namespace velmar
