#include "app/messages_window.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

#include "app/skin_look.h"

namespace velmar {

TMessagesWindow::TMessagesWindow(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("Velmar Audio Recorder - Messages");
  resize(620, 260);
  UseDarkLook(this);
  FLog = new QPlainTextEdit(this);
  FLog->setReadOnly(true);
  FLog->setFont(LabelFont(false));
  // A day's unattended recording says a few hundred things at most.
  FLog->setMaximumBlockCount(10000);
  auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton* Clear = Buttons->addButton("Clear", QDialogButtonBox::ResetRole);
  connect(Clear, &QPushButton::clicked, this, [this] {
    FLog->clear();
    FLast.clear();
  });
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  auto* Layout = new QVBoxLayout(this);
  Layout->addWidget(FLog);
  Layout->addWidget(Buttons);
}

void TMessagesWindow::Add(const QString& Text) {
  if (Text.isEmpty() || Text == FLast) return;
  FLast = Text;
  FLog->appendPlainText(QTime::currentTime().toString("HH:mm:ss") + "  " + Text);
}

}  // namespace velmar
