// velmar-mp3: the MP3 encoder the recorder hands its tracks to. It encodes the
// files named on the command line, or else those of "FileList" in the
// encoder's settings, each into an MP3 beside it, using both cores when more
// than one file is listed. With a display it shows its progress window; with
// --no-window or without a display it prints one line per file.
//   velmar-mp3 [--no-window] [FILE.wav ...]
// Exit status: 0 when every file was written, 1 when some failed, 2 on bad
// arguments, 130 when cancelled.
#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "mp3/encoder_jobs.h"
#include "mp3/encoder_registry.h"
#include "mp3/encoder_window.h"
#include "platform/registry/settings_store.h"

using namespace velmar;

namespace {

std::atomic<TEncoderJobs*> Running{nullptr};

void OnSignal(int) {
  if (TEncoderJobs* Jobs = Running.load()) Jobs->Cancel();
}

int ExitStatus(TEncoderJobs& Jobs) {
  if (Jobs.Cancelled()) return 130;
  for (std::size_t i = 0; i < Jobs.Count(); ++i)
    if (!Jobs.Job(i).Result.Ok) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool Window = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
  std::vector<std::string> Files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-window") == 0) {
      Window = false;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "usage: velmar-mp3 [--no-window] [FILE.wav ...]\n");
      return 2;
    } else {
      Files.emplace_back(argv[i]);
    }
  }
  if (Files.empty()) Files = SplitFileList(ReadRegValue(kEncoderRoot, kEncoderKey, "FileList", ""));
  TEncoderJobs Jobs(Files);
  const unsigned Cores = std::max(1u, std::thread::hardware_concurrency());
  if (!Window) {
    Running = &Jobs;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::mutex Lines;
    Jobs.OnFinished = [&](std::size_t Index) {
      const std::lock_guard<std::mutex> Hold(Lines);
      const TEncoderJob& j = Jobs.Job(Index);
      if (j.Result.Ok)
        std::printf("%s -> %s\n", j.Input.c_str(), j.Result.Output.c_str());
      else
        std::printf("%s: %s\n", j.Input.c_str(), j.Result.Error.c_str());
      std::fflush(stdout);
    };
    Jobs.Start(Cores);
    Jobs.Wait();
    Running = nullptr;
    if (Files.empty()) std::printf("velmar-mp3: no files to encode\n");
    return ExitStatus(Jobs);
  }
  QApplication App(argc, argv);
  TEncoderWindow Dialog(Jobs);
  Jobs.Start(Cores);
  Dialog.exec();
  Jobs.Wait();
  return ExitStatus(Jobs);
}
