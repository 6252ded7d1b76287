// velmar-rec: the recorder on the command line.
#include <cstdio>
#include <string>

#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/wave_api.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"
#include "stream/wave_in.h"
#include "stream/wave_out.h"
#include "wavefile/wave_file_io.h"

namespace {

using namespace velmar;

void PrintUsage(std::FILE* To) {
  WAVEFORMATEX Format{};
  BuildPCMFormat(&Format, 16, 2, 44100);
  std::fprintf(To,
               "Usage: velmar-rec <command> [arguments]\n"
               "\n"
               "Records a sound card's input into numbered WAV tracks.\n"
               "Recording format: %s\n"
               "\n"
               "Commands:\n"
               "  devices    list the input and output devices\n"
               "  info FILE  describe a WAV file: format, length, tags\n"
               "  help       show this text\n"
               "  version    show the program's version\n",
               WaveFormatText(&Format).c_str());
}

std::string ParseError(std::int32_t Code) {
  switch (Code) {
    case WAVEERR_BADFORMAT:
      return "not a usable wave file";
    case WAVEERR_NOMEMORY:
      return "out of memory";
    default:
      return "cannot open or read it as a RIFF/WAVE file";
  }
}

int Info(const std::string& Name) {
  TWaveFileBlock* b = nullptr;
  const std::int32_t Code = WaveFileParse(Name, FOURCC_WAVE, WAVE_OPEN_BY_NAME, b);
  if (Code != WAVEERR_NONE) {
    std::fprintf(stderr, "velmar-rec: %s: %s\n", Name.c_str(), ParseError(Code).c_str());
    return 1;
  }
  const WAVEFORMATEX* f = b->Format();
  const std::int64_t Ms = SamplesToTime64(f, b->TotalSamples);
  std::printf("File:     %s\n", Name.c_str());
  std::printf("Format:   %s, %s\n", WaveFormatTagName(f).c_str(), WaveFormatText(f).c_str());
  std::printf("Length:   %lld:%02lld.%03lld (%d sample frames)\n",
              static_cast<long long>(Ms / 60000), static_cast<long long>(Ms / 1000 % 60),
              static_cast<long long>(Ms % 1000), b->TotalSamples);
  std::printf("Data:     %d bytes at offset %d\n", b->DataBytes, b->DataOffset);
  std::printf("File size: %d bytes\n", b->FileSize);
  for (int Tag = 0; Tag < kInfoTagCount; ++Tag) {
    const std::string Text = b->InfoList.Text(Tag);
    if (!Text.empty())
      std::printf("%-9s %s\n", (std::string(kInfoTags[Tag].Name) + ":").c_str(), Text.c_str());
  }
  WaveFileFree(b);
  return 0;
}

int Devices() {
  InstallDefaultWaveBackends();
  std::printf("Input devices:\n");
  for (TMMDeviceId i = 0; i < static_cast<TMMDeviceId>(waveInGetNumDevs()); ++i)
    std::printf("  %2d  %s\n", i, WaveInDeviceName(i).c_str());
  std::printf("Output devices:\n");
  for (TMMDeviceId i = 0; i < static_cast<TMMDeviceId>(waveOutGetNumDevs()); ++i)
    std::printf("  %2d  %s\n", i, WaveOutDeviceName(i).c_str());
  return 0;
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
  if (Command == "devices") return Devices();
  if (Command == "info") {
    if (argc != 3) {
      std::fprintf(stderr, "velmar-rec: info needs one file name\n");
      return 2;
    }
    return Info(argv[2]);
  }
  std::fprintf(stderr, "velmar-rec: unknown command '%s'\n\n", Command.c_str());
  PrintUsage(stderr);
  return 2;
}
