// velmar-rec: the recorder on the command line.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/commands.h"

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  velmar-rec record [--out DIR] [--device N] [--noise-gate N] [--time-gate N]\n"
    "                    [--min-length S] [--no-auto-split] [--duration S] [--tracks N]\n"
    "  velmar-rec split INPUT.wav [--out DIR] [--noise-gate N] [--time-gate N] [--min-length S]\n"
    "  velmar-rec play FILE.wav [--device N]\n"
    "  velmar-rec info FILE.wav\n"
    "  velmar-rec repair FILE.wav...\n"
    "  velmar-rec devices\n"
    "  velmar-rec help | version\n"
    "\n"
    "Records an input device (44100 Hz, 16 bit, stereo) into numbered tracks, Track01.wav,\n"
    "Track02.wav, ..., continuing after the highest track already in the folder. A track ends\n"
    "when, after the minimum length, the input stays below the noise gate for the time gate;\n"
    "the next track then starts at once. 'split' applies the same rule to a recording.\n"
    "'repair' mends WAV files that a crash left with wrong sizes (recording mends the tracks\n"
    "of its folder by itself); files that are fine are left as they are.\n"
    "\n"
    "  --out DIR         folder of the tracks (default: the current folder)\n"
    "  --device N        device number from 'devices' (-1: the default; default 0)\n"
    "  --noise-gate N    0..100 (default 25; 0 never splits)\n"
    "  --time-gate N     buffers of about 46 ms each, 2..20 (default 8)\n"
    "  --min-length S    seconds, 1..180 (default 7)\n"
    "  --no-auto-split   tracks end only by --duration, --tracks or Ctrl-C\n"
    "  --duration S      stop after S seconds of audio\n"
    "  --tracks N        stop after N tracks\n";

}  // namespace

namespace velmar::cli {

int UsageError(const std::string& Message) {
  std::fprintf(stderr, "velmar-rec: %s\n\n%s", Message.c_str(), kUsage);
  return 2;
}

}  // namespace velmar::cli

int main(int argc, char** argv) {
  using namespace velmar::cli;
  const std::string Command = argc > 1 ? argv[1] : "help";
  const TArgs Args(argv + std::min(argc, 2), argv + argc);
  if (Command == "help" || Command == "--help" || Command == "-h") {
    std::printf("%s", kUsage);
    return 0;
  }
  if (Command == "version" || Command == "--version") {
    std::printf("velmar-rec %s\n", VELMAR_VERSION);
    return 0;
  }
  if (Command == "record") return RecordCommand(Args);
  if (Command == "split") return SplitCommand(Args);
  if (Command == "play") return PlayCommand(Args);
  if (Command == "info") return InfoCommand(Args);
  if (Command == "devices") return DevicesCommand(Args);
  if (Command == "repair") return RepairCommand(Args);
  return UsageError("unknown command '" + Command + "'");
}
