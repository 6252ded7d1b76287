#include "mp3/encoder_window.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QScrollArea>
#include <QVBoxLayout>

namespace velmar {

TEncoderWindow::TEncoderWindow(TEncoderJobs& Jobs, QWidget* Parent) : QDialog(Parent), FJobs(Jobs) {
  setWindowTitle(QString("Velmar %1 Encoder").arg(Jobs.Encoding().Name()));
  resize(520, 120 + 28 * static_cast<int>(std::min<std::size_t>(Jobs.Count(), 10)));
  auto* Layout = new QVBoxLayout(this);
  auto* Files = new QWidget;
  auto* Grid = new QGridLayout(Files);
  for (std::size_t i = 0; i < Jobs.Count(); ++i) {
    const int Row = static_cast<int>(i);
    Grid->addWidget(new QLabel(QFileInfo(QString::fromStdString(Jobs.Job(i).Input)).fileName()),
                    Row, 0);
    FBars.push_back(new QProgressBar);
    FBars.back()->setRange(0, 1000);
    Grid->addWidget(FBars.back(), Row, 1);
    FStates.push_back(new QLabel("waiting"));
    Grid->addWidget(FStates.back(), Row, 2);
  }
  Grid->setColumnStretch(1, 1);
  auto* Scroll = new QScrollArea;
  Scroll->setWidget(Files);
  Scroll->setWidgetResizable(true);
  Layout->addWidget(Scroll, 1);
  Layout->addWidget(new QLabel("All files"));
  FAll = new QProgressBar;
  FAll->setRange(0, 1000);
  Layout->addWidget(FAll);
  FSummary = new QLabel;
  Layout->addWidget(FSummary);
  FCancel = new QPushButton("Cancel");
  Layout->addWidget(FCancel, 0, Qt::AlignRight);
  connect(FCancel, &QPushButton::clicked, this, [this] {
    if (FDone)
      accept();
    else
      FJobs.Cancel();
  });
  connect(&FTimer, &QTimer::timeout, this, [this] { Refresh(); });
  FTimer.start(100);
  Refresh();
}

QString TEncoderWindow::Summary() const {
  std::size_t Written = 0, Failed = 0, Cancelled = 0;
  for (std::size_t i = 0; i < FJobs.Count(); ++i) {
    TEncoderJob& j = FJobs.Job(i);
    if (!j.Finished) continue;
    if (j.Result.Ok)
      ++Written;
    else if (j.Result.Cancelled)
      ++Cancelled;
    else
      ++Failed;
  }
  QString Text = QString("%1 %2 file%3 written")
                     .arg(Written)
                     .arg(FJobs.Encoding().Name())
                     .arg(Written == 1 ? "" : "s");
  if (Failed) Text += QString(", %1 failed").arg(Failed);
  if (Cancelled) Text += QString(", %1 cancelled").arg(Cancelled);
  return Text;
}

void TEncoderWindow::Refresh() {
  for (std::size_t i = 0; i < FJobs.Count(); ++i) {
    TEncoderJob& j = FJobs.Job(i);
    const std::int64_t Total = j.Total;
    if (j.Finished) {
      FBars[i]->setValue(j.Result.Ok ? 1000 : FBars[i]->value());
      FStates[i]->setText(j.Result.Ok ? (j.Result.Note.empty()
                                             ? QString("done")
                                             : "done: " + QString::fromStdString(j.Result.Note))
                                      : QString::fromStdString(j.Result.Error));
      FStates[i]->setToolTip(
          QString::fromStdString(j.Result.Ok ? j.Result.Output : j.Result.Error));
    } else if (Total > 0) {
      FBars[i]->setValue(static_cast<int>(1000 * j.Done / Total));
      FStates[i]->setText("encoding");
    }
  }
  FAll->setValue(static_cast<int>(1000 * FJobs.Progress()));
  if (FJobs.FinishedCount() == FJobs.Count() && !FDone) {
    FDone = true;
    FTimer.stop();
    FSummary->setText(Summary());
    // Said in the title too: a taskbar shows it while the window is behind others.
    setWindowTitle(Summary() + " - " + windowTitle());
    FCancel->setText("Close");
    if (FCloseWhenDone) QDialog::reject();
  }
}

void TEncoderWindow::reject() {
  if (!FDone) {
    FJobs.Cancel();
    FCloseWhenDone = true;  // the window closes once the workers have stopped
    return;
  }
  QDialog::reject();
}

}  // namespace velmar
