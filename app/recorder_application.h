// The windowed program's application: a QApplication whose event loop is the
// main thread's message loop (TQtEventPump), with the application's general
// error display and an orderly end on signals and when the desktop session ends.
//
// - An exception that escapes a handler (a platform message, a Qt event or slot,
//   a component event run by either) is shown in a message box with its text,
//   titled with the program's name, and the program keeps running. Errors
//   reported from other threads are shown on the main thread.
// - SIGINT, SIGTERM, SIGHUP and the end of the desktop session call OnCloseRequest
//   on the main thread (the same path as the program's Exit command); without
//   one, all windows are closed and the loop ends. A window that refuses (it is
//   finishing work on files) is asked again until it has closed.
//
// One per program, on the main thread, created after the settings store.
#pragma once

#include <QApplication>
#include <functional>
#include <memory>

#include "controls/qt_event_pump.h"

class QSocketNotifier;

namespace velmar {

class TRecorderApplication : public QApplication {
 public:
  TRecorderApplication(int& Argc, char** Argv);
  ~TRecorderApplication() override;

  bool notify(QObject* Receiver, QEvent* Event) override;

  // Shows an error text as the general error display does (main thread).
  static void ShowErrorBox(const QString& Text);

  std::function<void()> OnCloseRequest;

  // Whether the program is ending on a signal or the session's end: windows
  // close without questions then.
  static bool Ending();

 private:
  void CloseRequested();

  std::unique_ptr<TQtEventPump> FPump;
  QSocketNotifier* FSignalNotifier = nullptr;
};

}  // namespace velmar
