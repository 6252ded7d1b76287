// velmar-recorder: the windowed recorder.
#include <QScreen>
#include <QWidget>

#include "app/form_audio_graphics.h"
#include "app/recorder_application.h"
#include "controls/form_styler.h"
#include "platform/registry/settings_store.h"

int main(int argc, char** argv) {
  using namespace velmar;
  // The store lives longest: created before any window, it saves its access log
  // after all windows are gone.
  TSettingsStore Store;
  TRecorderApplication App(argc, argv);
  // The main window's place, size and colours; its controls come with the window.
  QWidget Main;
  Main.setMinimumSize(543, 348);
  Main.resize(543, 348);
  QPalette Black = Main.palette();
  Black.setColor(QPalette::Window, Qt::black);
  Main.setPalette(Black);
  Main.setAutoFillBackground(true);
  // The caption bar: company, application name and the window's caption.
  TMMFormStyler Styler(&Main);
  QFont Small("DejaVu Sans");
  Small.setPointSize(8);
  QFont SmallBold = Small;
  SmallBold.setBold(true);
  Styler.CompanyText().SetCaption("Velmar");
  Styler.CompanyText().SetFont(SmallBold);
  Styler.AppNameText().SetCaption("Audio Recorder");
  Styler.AppNameText().SetFontKind(TMMFontKind::fkSystemB);
  Styler.CaptionText().SetFont(Small);
  Styler.CaptionText().SetCaption("Velmar Audio Recorder ");
  // The skin holder comes after the main window, before its first paint.
  TFormAudioGraphics Graphics;
  if (const QScreen* Screen = QGuiApplication::primaryScreen())
    Main.move(Screen->availableGeometry().center() - Main.rect().center());
  Main.show();
  return App.exec();
}
