// CPU time of each thread of this process, from /proc: a benchmark prints it
// beside the whole program's figure to show where the time goes. Threads are
// grouped by name (see NameCurrentThread); the main thread is called "main".
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace velmar::bench {

// Thread id -> (name, CPU seconds so far).
using TThreadCpu = std::map<int, std::pair<std::string, double>>;

inline TThreadCpu ThreadCpu() {
  TThreadCpu Result;
  std::error_code Error;
  for (const auto& Task : std::filesystem::directory_iterator("/proc/self/task", Error)) {
    const int Tid = std::atoi(Task.path().filename().c_str());
    std::string Name;
    double Nanoseconds = 0;
    std::ifstream(Task.path() / "comm") >> Name;
    if (!(std::ifstream(Task.path() / "schedstat") >> Nanoseconds)) continue;
    Result[Tid] = {Tid == ::getpid() ? "main" : Name, Nanoseconds / 1e9};
  }
  return Result;
}

// What each thread name used between two readings, largest first.
inline void PrintThreadCpu(const TThreadCpu& Before, const TThreadCpu& After, double Seconds) {
  std::map<std::string, double> ByName;
  for (const auto& [Tid, Thread] : After) {
    const auto Earlier = Before.find(Tid);
    ByName[Thread.first] += Thread.second - (Earlier == Before.end() ? 0 : Earlier->second.second);
  }
  std::multimap<double, std::string, std::greater<>> Sorted;
  for (const auto& [Name, Cpu] : ByName) Sorted.emplace(Cpu, Name);
  std::printf("by thread (living at the end):\n");
  for (const auto& [Cpu, Name] : Sorted)
    std::printf("  %-22s %10.3f %13.2f%%\n", Name.c_str(), Cpu, 100.0 * Cpu / Seconds);
}

}  // namespace velmar::bench
