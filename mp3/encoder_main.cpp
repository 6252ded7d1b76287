// velmar-mp3: the MP3 encoder the recorder hands its tracks to. It encodes the
// files named on the command line, or else those of "FileList" in the
// encoder's settings, each into an MP3 (with --flac a FLAC file) beside it,
// one file per core. With a display it shows its progress window; with
// --no-window or without a display it prints one line per file.
//   velmar-mp3 [--no-window] [--flac [--level 0..8]] [--no-replaygain] [FILE.wav ...]
// Exit status: 0 when every file was written, 1 when some failed, 2 on bad
// arguments, 130 when cancelled.
#include <QApplication>
#include <QTimer>
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
std::atomic<bool> Ending{false};  // a signal asked the program to end

void OnSignal(int) {
  Ending = true;
  if (TEncoderJobs* Jobs = Running.load()) Jobs->Cancel();
}

// Ctrl-C, a terminal hung up, the session ending: the files being written are
// cancelled, so that no partial MP3 stays. A file-size limit fails the write
// (and the file) instead of killing the program with its partial files.
void CatchEndingSignals(TEncoderJobs& Jobs) {
  Running = &Jobs;
  for (const int Signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(Signal, OnSignal);
  std::signal(SIGXFSZ, SIG_IGN);
}

int ExitStatus(TEncoderJobs& Jobs) {
  if (Jobs.Cancelled()) return 130;
  for (std::size_t i = 0; i < Jobs.Count(); ++i)
    if (!Jobs.Job(i).Result.Ok) return 1;
  return 0;
}

// One line per file on stdout, Ctrl-C cancels; the exit status.
int RunInLines(TEncoderJobs& Jobs, unsigned Cores, bool NoFiles) {
  CatchEndingSignals(Jobs);
  std::mutex Lines;
  Jobs.OnFinished = [&](std::size_t Index) {
    const std::lock_guard<std::mutex> Hold(Lines);
    const TEncoderJob& j = Jobs.Job(Index);
    if (j.Result.Ok)
      std::printf("%s -> %s%s\n", j.Input.c_str(), j.Result.Output.c_str(),
                  j.Result.Note.empty() ? "" : ("  (" + j.Result.Note + ")").c_str());
    else
      std::fprintf(stderr, "velmar-mp3: %s: %s\n", j.Input.c_str(), j.Result.Error.c_str());
    std::fflush(stdout);
  };
  Jobs.Start(Cores);
  Jobs.Wait();
  Running = nullptr;
  if (NoFiles) std::fprintf(stderr, "velmar-mp3: no files to encode\n");
  if (const TReplayGain& Album = Jobs.Album(); Album.Known)
    std::printf("album gain %s, peak %s\n", GainText(Album.Gain).c_str(),
                PeakText(Album.Peak).c_str());
  return ExitStatus(Jobs);
}

}  // namespace

int main(int argc, char** argv) {
  bool Window = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
  std::vector<std::string> Files;
  TEncoding Encoding;
  bool Level = false;
  for (int i = 1; i < argc; ++i) {
    const std::string Arg = argv[i];
    std::string Value;
    if (Arg.rfind("--level=", 0) == 0) Value = Arg.substr(8);
    if (Arg == "--level" && i + 1 < argc) Value = argv[++i];
    if (Arg == "--version") {
      std::printf("velmar-mp3 %s\n", VELMAR_VERSION);
      return 0;
    }
    if (Arg == "--no-window") {
      Window = false;
    } else if (Arg == "--flac") {
      Encoding.Flac = true;
    } else if (Arg == "--no-replaygain") {
      Encoding.ReplayGain = false;
    } else if (Arg == "--level" || Arg.rfind("--level=", 0) == 0) {
      if (Value.size() != 1 || Value[0] < '0' || Value[0] > '8') {
        std::fprintf(stderr, "velmar-mp3: --level takes 0 to 8\n");
        return 2;
      }
      Encoding.FlacLevel = Value[0] - '0';
      Level = true;
    } else if (Arg == "--help" || Arg == "-h" || (Arg.size() > 1 && Arg[0] == '-')) {
      const bool Unknown = Arg != "--help" && Arg != "-h";
      if (Unknown) std::fprintf(stderr, "velmar-mp3: unknown option '%s'\n", Arg.c_str());
      std::fprintf(Unknown ? stderr : stdout,
                   "usage: velmar-mp3 [--no-window] [--flac [--level 0..8]] [--no-replaygain]\n"
                   "                  [FILE.wav ...]\n"
                   "  Encodes each WAV file into an MP3 beside it (--flac: a FLAC file, level 5\n"
                   "  unless --level), never over an existing file; without files, the files the\n"
                   "  recorder listed. --no-window prints one line per file. Each file gets its\n"
                   "  ReplayGain 2.0 (-18 LUFS, true peak), the files together an album's, unless\n"
                   "  --no-replaygain.\n");
      return Unknown ? 2 : 0;
    } else {
      Files.emplace_back(Arg);
    }
  }
  if (Level && !Encoding.Flac) {
    std::fprintf(stderr, "velmar-mp3: --level is for --flac\n");
    return 2;
  }
  if (Files.empty()) Files = SplitFileList(ReadRegValue(kEncoderRoot, kEncoderKey, "FileList", ""));
  TEncoderJobs Jobs(Files, Encoding);
  const unsigned Cores = std::max(1u, std::thread::hardware_concurrency());
  if (!Window) return RunInLines(Jobs, Cores, Files.empty());
  // A display that is named but cannot be reached (ssh, tmux) ends Qt's start
  // on its first platform; the offscreen one after it tells us, and the files
  // go in lines instead.
  const bool Chosen = std::getenv("QT_QPA_PLATFORM") != nullptr;
  if (!Chosen)
    ::setenv("QT_QPA_PLATFORM",
             std::getenv("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen" : "xcb;offscreen", 1);
  QApplication App(argc, argv);
  if (!Chosen && QGuiApplication::platformName() == "offscreen") {
    const char* Named = std::getenv("DISPLAY");
    std::fprintf(stderr, "velmar-mp3: the display %s cannot be reached; one line per file\n",
                 Named ? Named : std::getenv("WAYLAND_DISPLAY"));
    return RunInLines(Jobs, Cores, Files.empty());
  }
  TEncoderWindow Dialog(Jobs);
  CatchEndingSignals(Jobs);
  // A signal cancels the files; the window then closes as on Escape.
  QTimer Watch;
  QObject::connect(&Watch, &QTimer::timeout, &Dialog, [&] {
    if (Ending) static_cast<QDialog&>(Dialog).reject();
  });
  Watch.start(100);
  Jobs.Start(Cores);
  Dialog.exec();
  Jobs.Wait();
  Running = nullptr;
  return ExitStatus(Jobs);
}
