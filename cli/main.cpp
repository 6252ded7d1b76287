// velmar-rec: the recorder on the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "stream/wave_format.h"

namespace {

using namespace velmar;

void PrintUsage(std::FILE* To) {
  WAVEFORMATEX Format{};
  BuildPCMFormat(&Format, 16, 2, 44100);
  std::fprintf(To,
               "Usage: velmar-rec <command>\n"
               "\n"
               "Records a sound card's input into numbered WAV tracks.\n"
               "Recording format: %s\n"
               "\n"
               "Commands:\n"
               "  help       show this text\n"
               "  version    show the program's version\n",
               WaveFormatText(&Format).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string Command = argc > 1 ? argv[1] : "help";
  if (Command == "help" || Command == "--help" || Command == "-h") {
    PrintUsage(stdout);
    return 0;
  }
  if (Command == "version" || Command == "--version") {
    std::printf("velmar-rec %s\n", VELMAR_VERSION);
    return 0;
  }
  std::fprintf(stderr, "velmar-rec: unknown command '%s'\n\n", Command.c_str());
  PrintUsage(stderr);
  return 2;
}
