// TMessagesWindow: every message the main window's status line has shown
// this session, whole and with the time it came (the line cuts long ones and
// shows only the last): dropouts, clips, level advice, ends of tracks.
//
// Owned by the main window; shown without blocking it (View > Messages, or a
// click on the status line). Main thread only.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QString>

namespace velmar {

class TMessagesWindow : public QDialog {
 public:
  explicit TMessagesWindow(QWidget* Parent = nullptr);

  // Keeps Text with the time now; the same text twice in a row is kept once.
  void Add(const QString& Text);
  // The messages kept, one a line.
  QString Text() const { return FLog->toPlainText(); }

 private:
  QPlainTextEdit* FLog;
  QString FLast;
};

}  // namespace velmar
