// Opening a side for review: the first scan of a one-hour side (its tracks'
// peaks, read front to back) against `cat` reading the same files, and the
// second opening from the peaks cache. Each runs alone, in turns (scan, cat,
// scan, cat); the files stay in the page cache between them, so both measure
// the same reads, not the disk. With "cold" the page cache is emptied before
// each (which needs root): both read from the disk.
//
//   velmar_side_scan [minutes] [rounds] [cold]  (default 60 min in 12 tracks, 2 rounds)
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "session/side_peaks.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace velmar;
using Clock = std::chrono::steady_clock;

// Empties the page cache, so that the next reads come from the disk; false
// when this process may not.
bool DropCaches() {
  ::sync();
  std::FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
  if (!f) return false;
  const bool Ok = std::fputs("3", f) >= 0;
  return std::fclose(f) == 0 && Ok;
}

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int Minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const int Rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  bool Cold = argc > 3 && std::string(argv[3]) == "cold";
  if (Cold && !DropCaches()) {
    std::printf("the page cache cannot be emptied here (root only): measuring warm\n");
    Cold = false;
  }
  test::TempDir Dir;
  std::vector<std::string> Tracks;
  std::string Files;
  const int Count = 12;
  for (int i = 0; i < Count; ++i) {
    Tracks.push_back(Dir.File("Track" + std::to_string(10 + i) + ".wav"));
    const std::string Make = "sox -n -r 44100 -b 16 -c 2 " + Tracks.back() + " synth " +
                             std::to_string(Minutes * 60.0 / Count) + " pinknoise vol 0.4";
    if (std::system(Make.c_str()) != 0) return 1;
    Files += " " + Tracks.back();
  }
  std::int64_t Bytes = 0;
  for (const std::string& t : Tracks)
    Bytes += static_cast<std::int64_t>(std::filesystem::file_size(t));
  const std::atomic<bool> Cancel{false};
  std::string Error;
  double Scan = 0, Cat = 0, Cached = 0;
  std::printf("%d min side in %d tracks, %.0f MB; seconds, each alone, in turns, %s\n", Minutes,
              Count, static_cast<double>(Bytes) / 1e6,
              Cold ? "from the disk (page cache emptied before each)" : "from the page cache");
  std::printf("%-6s %12s %12s %14s\n", "round", "first scan", "cat", "from the cache");
  for (int Round = 1; Round <= Rounds; ++Round) {
    const std::string Cache = Dir.File("cache" + std::to_string(Round));
    TSidePeaks Peaks;
    if (Cold) DropCaches();
    auto t = Clock::now();
    if (!Peaks.Scan(Tracks, Cache, Cancel, {}, Error)) {
      std::fprintf(stderr, "%s\n", Error.c_str());
      return 1;
    }
    const double s = Since(t);
    if (Cold) DropCaches();
    t = Clock::now();
    if (std::system(("cat" + Files + " > /dev/null").c_str()) != 0) return 1;
    const double c = Since(t);
    TSidePeaks Again;
    t = Clock::now();
    if (!Again.Scan(Tracks, Cache, Cancel, {}, Error)) return 1;
    const double k = Since(t);
    std::printf("%-6d %12.3f %12.3f %14.3f\n", Round, s, c, k);
    Scan += s, Cat += c, Cached += k;
  }
  std::printf(
      "first scan / cat: %.2f (goal: at least the disk's speed, i.e. near 1 on a cold disk);"
      " %.0f MB/s against %.0f MB/s; a second opening takes %.3f s (goal: under 2 s)\n",
      Scan / Cat, static_cast<double>(Bytes) * Rounds / Scan / 1e6,
      static_cast<double>(Bytes) * Rounds / Cat / 1e6, Cached / Rounds);
  return 0;
}
