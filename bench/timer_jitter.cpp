// Period jitter of the multimedia timers (25 ms and 100 ms) against a plain
// sleep_until loop with the same periods, all four measured side by side over
// the same minute. Jitter is |measured period - nominal period|; the table
// shows median, 99th percentile and worst, and the ratio ours/peer of each.
//
//   velmar_timer_jitter [seconds]     (default 60)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/mmtime.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Series {
  std::string Name;
  int PeriodMs;
  std::mutex Lock;
  std::vector<Clock::time_point> Ticks;

  void Tick() {
    std::lock_guard<std::mutex> l(Lock);
    Ticks.push_back(Clock::now());
  }
};

struct Stats {
  double Median, P99, Worst;
};

Stats Jitter(Series& s) {
  std::vector<double> j;
  for (size_t i = 1; i < s.Ticks.size(); ++i) {
    const double Period =
        std::chrono::duration<double, std::milli>(s.Ticks[i] - s.Ticks[i - 1]).count();
    j.push_back(std::abs(Period - s.PeriodMs));
  }
  if (j.empty()) return {0, 0, 0};
  std::sort(j.begin(), j.end());
  return {j[j.size() / 2], j[std::min(j.size() - 1, j.size() * 99 / 100)], j.back()};
}

double Ratio(double a, double b) {
  return b > 0 ? a / b : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int Seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  Series Ours25{"timer 25 ms", 25, {}, {}}, Ours100{"timer 100 ms", 100, {}, {}};
  Series Peer25{"sleep_until 25 ms", 25, {}, {}}, Peer100{"sleep_until 100 ms", 100, {}, {}};
  const auto End = Clock::now() + std::chrono::seconds(Seconds);

  auto TimerTick = [](std::uint32_t, std::uintptr_t User) {
    reinterpret_cast<Series*>(User)->Tick();
  };
  velmar::timeBeginPeriod(1);
  const auto Id25 = velmar::timeSetEvent(
      25, 0, TimerTick, reinterpret_cast<std::uintptr_t>(&Ours25), velmar::TIME_PERIODIC);
  const auto Id100 = velmar::timeSetEvent(
      100, 0, TimerTick, reinterpret_cast<std::uintptr_t>(&Ours100), velmar::TIME_PERIODIC);
  auto SleepLoop = [End](Series* s) {
    auto Next = Clock::now();
    while (Next < End) {
      Next += std::chrono::milliseconds(s->PeriodMs);
      std::this_thread::sleep_until(Next);
      s->Tick();
    }
  };
  std::thread p25(SleepLoop, &Peer25), p100(SleepLoop, &Peer100);
  std::fprintf(stderr, "measuring for %d s ...\n", Seconds);
  std::this_thread::sleep_until(End);
  velmar::timeKillEvent(Id25);
  velmar::timeKillEvent(Id100);
  velmar::timeEndPeriod(1);
  p25.join();
  p100.join();

  std::printf("%-20s %8s %10s %10s %10s   (jitter in ms)\n", "series", "ticks", "median", "p99",
              "worst");
  for (Series* s : {&Ours25, &Peer25, &Ours100, &Peer100}) {
    const Stats st = Jitter(*s);
    std::printf("%-20s %8zu %10.3f %10.3f %10.3f\n", s->Name.c_str(), s->Ticks.size(), st.Median,
                st.P99, st.Worst);
  }
  std::printf("\n%-20s %10s %10s %10s\n", "ours/peer", "median", "p99", "worst");
  for (auto [Ours, Peer] : {std::pair{&Ours25, &Peer25}, std::pair{&Ours100, &Peer100}}) {
    const Stats a = Jitter(*Ours), b = Jitter(*Peer);
    std::printf("%-20s %10.3f %10.3f %10.3f\n", (std::to_string(Ours->PeriodMs) + " ms").c_str(),
                Ratio(a.Median, b.Median), Ratio(a.P99, b.P99), Ratio(a.Worst, b.Worst));
  }
  return 0;
}
