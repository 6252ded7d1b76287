// velmar-rec declick: repairs the clicks of tracks into another folder (the
// recorded tracks stay), says what it found per track, lists each click with
// --dry-run (writing nothing) and writes every repaired span to --map.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/commands.h"
#include "cli/track_session.h"
#include "session/declick_files.h"
#include "session/staged_files.h"
#include "stream/time_conversions.h"

namespace velmar::cli {

namespace fs = std::filesystem;

namespace {

std::string Milliseconds(std::int64_t Frames, int Rate) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.2f ms", 1000.0 * static_cast<double>(Frames) / Rate);
  return Text;
}

std::string At(std::int64_t Frame, int Rate) {
  return TimeToText(Frame * 1000 / Rate);
}

}  // namespace

int DeclickCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {"--out", "--strength", "--map"}, {"--dry-run"})) return UsageError(o.Error());
  if (o.Positional().empty()) return UsageError("declick needs the tracks");
  const bool DryRun = o.Has("--dry-run");
  if (!DryRun && !o.Has("--out"))
    return UsageError("declick needs -o FOLDER for the repaired tracks");
  long long Strength = 5;
  if (!o.Integer("--strength", 1, 10, 5, Strength)) return UsageError(o.Error());
  TClickOptions Options;
  Options.Strength = static_cast<double>(Strength);
  std::vector<std::string> Tracks = o.Positional();
  OrderByTrackNumber(Tracks);
  InstallInterruptHandlers();
  std::vector<TDeclickedTrack> Results;
  std::string Error;
  const std::string Out = o.Text("--out", ".");
  if (!DryRun && fs::is_directory(Out)) {
    // Run again after it was killed: its journal has finished the repair.
    FinishRewritesIn(Out);
    if (std::all_of(Tracks.begin(), Tracks.end(), [&](const std::string& t) {
          return RecoveredInPlace((fs::path(Out) / fs::path(t).filename()).string());
        })) {
      std::printf("repaired tracks in %s; the recorded ones are where they were\n", Out.c_str());
      return 0;
    }
  }
  if (!DeclickTrackFiles(Tracks, o.Text("--out", "."), Options, DryRun, Results, {}, Error)) {
    std::fprintf(stderr, "velmar-rec: %s; nothing was written\n", Error.c_str());
    return 2;
  }
  std::ofstream Map;
  if (o.Has("--map")) {
    Map.open(o.Text("--map", ""), std::ios::trunc);
    Map << "track,start_frame,length,channel,size_db\n";
  }
  for (const TDeclickedTrack& t : Results) {
    int Longest = 0;
    for (const TClick& c : t.Clicks) Longest = std::max(Longest, c.Length);
    std::printf("%s  %zu clicks, %lld samples changed, longest %s\n", t.Track.c_str(),
                t.Clicks.size(), static_cast<long long>(t.SamplesChanged),
                Milliseconds(Longest, t.Rate).c_str());
    for (const TClick& c : t.Clicks) {
      if (DryRun)
        std::printf("  %s  channel %d  %s  %+.0f dB\n", At(c.Frame, t.Rate).c_str(), c.Channel + 1,
                    Milliseconds(c.Length, t.Rate).c_str(), c.SizeDb);
      if (Map.is_open())
        Map << fs::path(t.Track).filename().string() << ',' << c.Frame << ',' << c.Length << ','
            << c.Channel + 1 << ',' << std::round(c.SizeDb * 10) / 10 << '\n';
    }
  }
  if (Map.is_open() && !Map.flush()) {
    std::fprintf(stderr, "velmar-rec: %s cannot be written\n", o.Text("--map", "").c_str());
    return 2;
  }
  if (!DryRun)
    std::printf("repaired tracks in %s; the recorded ones are where they were\n",
                o.Text("--out", "").c_str());
  return 0;
}

}  // namespace velmar::cli
