// velmar-recorder: the windowed recorder.
#include <QScreen>
#include <QWidget>

#include "app/recorder_application.h"
#include "platform/registry/settings_store.h"

int main(int argc, char** argv) {
  // The store lives longest: created before any window, it saves its access log
  // after all windows are gone.
  velmar::TSettingsStore Store;
  velmar::TRecorderApplication App(argc, argv);
  // The main window's place, size and colours; its controls come with the window.
  QWidget Main;
  Main.setWindowTitle("Velmar Audio Recorder ");
  Main.setMinimumSize(543, 348);
  Main.resize(543, 348);
  Main.setStyleSheet("background-color: black;");
  if (const QScreen* Screen = QGuiApplication::primaryScreen())
    Main.move(Screen->availableGeometry().center() - Main.rect().center());
  Main.show();
  return App.exec();
}
