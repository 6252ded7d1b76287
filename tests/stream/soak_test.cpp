// Soak: a long capture of a counter pattern from a real-time virtual device in
// cmThread mode while other processes keep both cores busy: no gap and no
// repeat. The length comes from VELMAR_SOAK_SECONDS (60 by default).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/wave/virtual/virtual_devices.h"
#include "stream/wave_in.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/formats.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using namespace test;

// Processes that spin for as long as this object lives.
class BusyCores {
 public:
  explicit BusyCores(int Count) {
    for (int i = 0; i < Count; ++i) {
      const pid_t Pid = ::fork();
      if (Pid == 0) {
        volatile unsigned long Spin = 0;
        for (;;) Spin = Spin + 1;
      }
      if (Pid > 0) Pids.push_back(Pid);
    }
  }
  ~BusyCores() {
    for (pid_t p : Pids) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
  }

 private:
  std::vector<pid_t> Pids;
};

TEST(Soak, CounterCaptureUnderLoadHasNoGapOrRepeat) {
  const char* Env = std::getenv("VELMAR_SOAK_SECONDS");
  const int Seconds = Env ? std::max(1, std::atoi(Env)) : 60;
  auto Virtual = std::make_shared<TVirtualBackend>();
  Virtual->AddCapture({.Name = "counter", .Generator = CounterSignal()});
  SetWaveBackends({Virtual});

  TMMWaveIn In;
  TPlain Sink;
  std::atomic<std::uint64_t> Bytes{0}, Errors{0};
  std::uint16_t Expected = 0;
  bool First = true;
  Sink.OnBufferReady = [&](TObject*, PWaveHdr h) {  // on the worker thread only
    const auto* p = reinterpret_cast<const std::uint8_t*>(h->wh.lpData);
    for (std::uint32_t i = 0; i + 1 < h->wh.dwBytesRecorded; i += 2) {
      const auto v = static_cast<std::uint16_t>(p[i] | p[i + 1] << 8);
      if (!First && v != Expected) ++Errors;
      First = false;
      Expected = static_cast<std::uint16_t>(v + 1);
    }
    Bytes += h->wh.dwBytesRecorded;
  };
  In.SetCallBackMode(TMMCBMode::cmThread);
  In.SetPWaveFormat(&CdFormat);
  In.SetBufferSize(8096);
  In.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  In.SetMaxRecordTime(Seconds * 1000);
  In.SetOutput(&Sink);
  std::atomic<bool> Stopped{false};
  In.OnStop = [&](TObject*) { Stopped = true; };
  {
    BusyCores Load(2);
    In.Start();
    ASSERT_TRUE(WaitUntil([&] { return Stopped.load(); }, std::chrono::seconds(Seconds + 60)));
  }
  In.Close();
  SetWaveBackends({});
  EXPECT_EQ(Bytes, static_cast<std::uint64_t>(Seconds) * 176400);
  EXPECT_EQ(Errors, 0u);
  std::printf("soak: %d s captured under load, %llu bytes, %llu discontinuities\n", Seconds,
              static_cast<unsigned long long>(Bytes.load()),
              static_cast<unsigned long long>(Errors.load()));
}

}  // namespace
}  // namespace velmar
