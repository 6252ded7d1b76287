// Mending WAV files that a crash left with wrong sizes (ours or any other
// program's): sizes of 0, too small or too large, audio running to the end of
// the file, a last partial frame. Only the RIFF and data sizes are changed, to
// the whole frames present; nothing that was on disk is lost. A file whose
// sizes are right is not touched.
//
// Any thread; plain file I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

enum class TRepairOutcome { Fine, Mended, Refused };

struct TRepairResult {
  TRepairOutcome Outcome = TRepairOutcome::Refused;
  std::string Message;  // what was found, what was done, or why not
};

// Checks Name, and mends it unless CheckOnly.
TRepairResult RepairWaveFile(const std::string& Name, bool CheckOnly = false);

// The ".wav" files in Folder that needed mending, mended; their file names.
std::vector<std::string> RepairCrashedTracks(const std::string& Folder);

}  // namespace velmar
