// Runs every benchmark and prints, for each pair "<name>/ours" and "<name>/peer"
// measured in this run, the ratio of our time to the peer's (below 1: faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& r : Runs) {
      if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
      const std::string& Name = r.run_name.function_name;  // without "/iterations:N" and the like
      const auto Slash = Name.rfind('/');
      if (Slash == std::string::npos) continue;
      const double PerIteration = r.real_accumulated_time / static_cast<double>(r.iterations);
      Times[Name.substr(0, Slash)][Name.substr(Slash + 1)] = PerIteration;
    }
  }

  void PrintRatios() const {
    std::printf("\n%-40s %10s\n", "benchmark", "ours/peer");
    for (const auto& [Name, Sides] : Times) {
      const auto Ours = Sides.find("ours"), Peer = Sides.find("peer");
      if (Ours == Sides.end() || Peer == Sides.end() || Peer->second <= 0) continue;
      std::printf("%-40s %10.3f\n", Name.c_str(), Ours->second / Peer->second);
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> Times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  Reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
