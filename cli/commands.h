// The commands of velmar-rec. Each takes the arguments after its name and
// returns the exit status: 0 on success, 2 for a usage error or a failure
// (reported in one line on stderr).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "cli/options.h"
#include "platform/wave/wave_format_ex.h"
#include "session/track_rule.h"

namespace velmar::cli {

using TArgs = std::vector<std::string>;

int RecordCommand(const TArgs& Args);
int SplitCommand(const TArgs& Args);
int PlayCommand(const TArgs& Args);
int InfoCommand(const TArgs& Args);
int DevicesCommand(const TArgs& Args);
int RepairCommand(const TArgs& Args);
int JoinCommand(const TArgs& Args);
int TitlesCommand(const TArgs& Args);
int TagsCommand(const TArgs& Args);
int DeclickCommand(const TArgs& Args);
int GateCommand(const TArgs& Args);
int ListingCommand(const TArgs& Args);

// The track rule's options (--noise-gate, --time-gate, --min-length) into
// Rule; false with o's error set.
bool RuleOptions(TOptions& o, TTrackSettings& Rule);
// The recording format: --rate 44100|48000|88200|96000, --bits 16|24 (stereo
// PCM; 16-bit 44.1 kHz when neither is given).
bool FormatOptions(TOptions& o, WAVEFORMATEX& Format);

// Finishes a rewrite of Folder's tracks that a crash left and says so (one line).
void FinishRewritesIn(const std::string& Folder);

// Finishes left rewrites, mends the tracks that a crash left in Folder and
// says which (one line).
void RepairFolderBeforeRecording(const std::string& Folder);

// The library's texts break lines after their operation ("WaveOutOpen:\n\r
// ..."): one line for a message.
inline std::string OneLine(const std::string& Text) {
  std::string Line;
  for (const char c : Text)
    if (c != '\r' && c != '\n')
      Line += c;
    else if (!Line.empty() && Line.back() != ' ')
      Line += ' ';
  return Line;
}

// Prints a usage error with the command's synopsis; returns 2.
int UsageError(const std::string& Message);

// Set by Ctrl-C and SIGTERM once InstallInterruptHandlers has run.
const std::atomic<bool>& Interrupted();
void InstallInterruptHandlers();

}  // namespace velmar::cli
