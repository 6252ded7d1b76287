// "repair": mends WAV files that a crash left with wrong sizes, in place.
#include <cstdio>

#include "cli/commands.h"
#include "cli/options.h"
#include "session/staged_files.h"
#include "wavefile/wave_repair.h"

namespace velmar::cli {

int RepairCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {}, {})) return UsageError(o.Error());
  if (o.Positional().empty()) return UsageError("repair needs at least one file");
  int Status = 0;
  for (const std::string& Name : o.Positional()) {
    const TRepairResult r = RepairWaveFile(Name);
    if (r.Outcome == TRepairOutcome::Refused) {
      std::fprintf(stderr, "velmar-rec: %s: %s\n", Name.c_str(), r.Message.c_str());
      Status = 2;
    } else {
      std::printf("%s: %s\n", Name.c_str(), r.Message.c_str());
    }
  }
  return Status;
}

void FinishRewritesIn(const std::string& Folder) {
  const std::string Said = RecoverRewrites(Folder);
  if (!Said.empty()) std::fprintf(stderr, "velmar-rec: %s\n", Said.c_str());
}

// Tracks that a crash left in Folder are mended before recording there.
void RepairFolderBeforeRecording(const std::string& Folder) {
  FinishRewritesIn(Folder);
  const std::vector<std::string> Mended = RepairCrashedTracks(Folder);
  if (Mended.empty()) return;
  std::string Names;
  for (const std::string& Name : Mended) Names += (Names.empty() ? "" : ", ") + Name;
  std::fprintf(stderr, "velmar-rec: mended tracks left by a crash in %s: %s\n", Folder.c_str(),
               Names.c_str());
}

}  // namespace velmar::cli
