#include "app/recorder_application.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "platform/messages.h"

namespace velmar {

namespace {

// The self-pipe that turns a signal into an event of the main thread's loop.
int GSignalPipe[2] = {-1, -1};

extern "C" void OnSignal(int Signal) {
  const int Saved = errno;
  const char Byte = static_cast<char>(Signal);
  [[maybe_unused]] const auto Ignored = ::write(GSignalPipe[1], &Byte, 1);
  errno = Saved;
}

const char* kProgramName = "Velmar Audio Recorder";

bool GEnding = false;

}  // namespace

TRecorderApplication::TRecorderApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {
  setApplicationName(kProgramName);
  setQuitOnLastWindowClosed(true);
  FPump = std::make_unique<TQtEventPump>();

  Application().OnException = [](TObject*, const std::string& Message) {
    const QString Text = QString::fromStdString(Message);
    if (InMainThread())
      ShowErrorBox(Text);
    else
      QMetaObject::invokeMethod(
          qApp, [Text] { ShowErrorBox(Text); }, Qt::QueuedConnection);
  };
  Application().OnShowMessage = [](TObject*, const std::string& Message) {
    QMessageBox::information(QApplication::activeWindow(), kProgramName,
                             QString::fromStdString(Message));
  };

  if (GSignalPipe[0] < 0 && ::pipe2(GSignalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    struct sigaction Action {};
    Action.sa_handler = OnSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &Action, nullptr);
    ::sigaction(SIGTERM, &Action, nullptr);
    ::sigaction(SIGHUP, &Action, nullptr);
  }
  if (GSignalPipe[0] >= 0) {
    FSignalNotifier = new QSocketNotifier(GSignalPipe[0], QSocketNotifier::Read, this);
    connect(FSignalNotifier, &QSocketNotifier::activated, this, [this] {
      char Bytes[16];
      while (::read(GSignalPipe[0], Bytes, sizeof Bytes) > 0) {
      }
      CloseRequested();
    });
  }
  connect(this, &QGuiApplication::commitDataRequest, this,
          [this](QSessionManager&) { CloseRequested(); });
}

TRecorderApplication::~TRecorderApplication() {
  Application().OnException = nullptr;
  Application().OnShowMessage = nullptr;
  FPump.reset();
}

bool TRecorderApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (...) {
    Application().HandleException(std::current_exception());
    return false;
  }
}

void TRecorderApplication::ShowErrorBox(const QString& Text) {
  // The library's texts break lines with a line feed and a carriage return,
  // which a message box would show as two breaks.
  QString Shown = Text;
  Shown.replace("\n\r", "\n");
  QMessageBox::critical(QApplication::activeWindow(), kProgramName, Shown);
}

bool TRecorderApplication::Ending() {
  return GEnding;
}

void TRecorderApplication::CloseRequested() {
  GEnding = true;
  if (OnCloseRequest) {
    OnCloseRequest();
    return;
  }
  // A window that is finishing work on files (a review writing its tracks)
  // refuses to close; the program asks again until it has, and ends then.
  closeAllWindows();
  const QWidgetList Windows = topLevelWidgets();
  if (std::any_of(Windows.begin(), Windows.end(), [](QWidget* w) { return w->isVisible(); })) {
    QTimer::singleShot(200, this, [this] { CloseRequested(); });
    return;
  }
  Application().Terminate();
  quit();
}

}  // namespace velmar
