// The encoder program's window: one progress bar per file and one for the
// whole list, a Cancel button, and a summary when all files are done. Errors
// of one file are shown in its row; the others go on.
//
// Main thread; it reads the jobs' counters on a timer while the workers run.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <vector>

#include "mp3/encoder_jobs.h"

namespace velmar {

class TEncoderWindow : public QDialog {
 public:
  explicit TEncoderWindow(TEncoderJobs& Jobs, QWidget* Parent = nullptr);

  // The summary line ("3 MP3 files written, 1 failed").
  QString Summary() const;
  QPushButton* CancelButton() const { return FCancel; }

 protected:
  void reject() override;  // Escape, closing the window: cancel first

 private:
  void Refresh();

  TEncoderJobs& FJobs;
  std::vector<QProgressBar*> FBars;
  std::vector<QLabel*> FStates;
  QProgressBar* FAll;
  QLabel* FSummary;
  QPushButton* FCancel;
  QTimer FTimer;
  bool FDone = false;
  bool FCloseWhenDone = false;  // Escape or the window's close: cancelled, then closed
};

}  // namespace velmar
