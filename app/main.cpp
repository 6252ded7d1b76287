// velmar-recorder: the windowed recorder.
#include <QMessageBox>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/form_audio_graphics.h"
#include "app/form_audio_recorder_main.h"
#include "app/recorder_application.h"
#include "controls/screen_updates.h"
#include "mp3/encoder_library.h"
#include "mp3/encoder_registry.h"
#include "platform/registry/settings_store.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "stream/wave_in.h"

namespace {

// Where the settings' access log goes: the folder the program was started
// from when it runs from its build tree (a developer's run), otherwise the
// user's state folder, not whatever folder a desktop started it in.
std::string AccessLogFolder() {
  std::error_code e;
  const std::string Self = std::filesystem::read_symlink("/proc/self/exe", e).string();
  if (Self.rfind(VELMAR_BUILD_DIR "/", 0) == 0) return {};
  const char* State = std::getenv("XDG_STATE_HOME");
  const char* Home = std::getenv("HOME");
  const std::filesystem::path Folder = State && *State ? std::filesystem::path(State) / "velmar"
                                       : Home ? std::filesystem::path(Home) / ".local/state/velmar"
                                              : std::filesystem::path();
  if (Folder.empty() || (std::filesystem::create_directories(Folder, e), e)) return {};
  return Folder.string();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velmar;
  // Asked from a terminal or a package's tests: answered without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("velmar-recorder %s\n", VELMAR_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "usage: velmar-recorder [--help | --version]\n"
          "  The windowed recorder: Rec (F12) records the input into Track01.wav, ...;\n"
          "  Stop (F10) ends; Help (F1) explains the rest. velmar-rec records on the\n"
          "  command line.\n");
      return 0;
    }
  }
  // The store lives longest: created before any window, it saves its access log
  // after all windows are gone.
  TSettingsStore Store(AccessLogFolder());
  PrepareScreenUpdates();
  // Without a display the window system's plugin ends the program with its
  // own pages of text: one line says what to do instead.
  qInstallMessageHandler([](QtMsgType Type, const QMessageLogContext&, const QString& Text) {
    if (!Text.contains("display") && !Text.contains("platform plugin")) {
      std::fprintf(stderr, "%s\n", Text.toLocal8Bit().constData());
      return;
    }
    if (Type != QtFatalMsg) return;  // the plugin's warnings before its end
    std::fprintf(stderr,
                 "velmar-recorder: no display to open its window on (is DISPLAY set?); "
                 "velmar-rec records without one\n");
    std::_Exit(2);
  });
  TRecorderApplication App(argc, argv);
  qInstallMessageHandler(nullptr);
  // The encoder's library (kept while the program runs), then its settings,
  // before any window.
  TFhgEncoderLibrary EncoderLibrary;
  EncoderLibrary.LoadFhgEncoderLibrary([](const std::string& Message) {
    QMessageBox::critical(nullptr, "Velmar Audio Recorder", QString::fromStdString(Message));
  });
  WriteEncoderRegistry();
  // No installer put the encoder program in the settings: ours lies beside us.
  InstallEncoderProgram(QCoreApplication::applicationDirPath().toStdString());
  // ALSA's devices and the built-in "Demo signal" input, so that the window can
  // be tried without a sound card: after ALSA's inputs, or first (the default
  // input) when the default input cannot record here.
  auto Alsa = std::make_shared<TAlsaBackend>();
  auto Demo = std::make_shared<TVirtualBackend>();
  Demo->AddCapture({.Name = "Demo signal", .Generator = DemoSignal()});
  SetWaveBackends({Alsa, Demo});
  QString DemoReason;
  if (!WaveInOpensForRecording(0)) {
    DemoReason = Alsa->CaptureCount() > 0 ? QString("the default input %1 could not be opened")
                                                .arg(QString::fromStdString(Alsa->CaptureName(0)))
                                          : QString("there is no input device");
    SetWaveBackends({Demo, Alsa});
  }
  // The skin holder first: the window's skinned controls refer to its lists
  // from their construction on.
  TFormAudioGraphics Graphics;
  TFormAudioRecorderMain Main(Graphics);
  if (!DemoReason.isEmpty()) Main.SetDemoReason(DemoReason);
  Main.show();
  return App.exec();
}
