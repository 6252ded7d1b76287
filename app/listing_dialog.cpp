#include "app/listing_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/skin_look.h"
#include "wavefile/text_encoding.h"

namespace velmar {

TListingDialog::TListingDialog(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("Track Listing");
  auto* Layout = new QVBoxLayout(this);
  auto* Hint = new QLabel(
      "Paste the side's track listing (lines like \"A1 Title 3:12\" from the sleeve or a web "
      "page), or open a cue sheet or a release saved from MusicBrainz. The lengths place the "
      "marks in the quiet gaps; the titles name the tracks.",
      this);
  Hint->setWordWrap(true);
  Hint->setFont(LabelFont(false));
  Layout->addWidget(Hint);
  Text = new QPlainTextEdit(this);
  Text->setPlaceholderText("A1  So What  9:22\nA2  Freddie Freeloader  9:46");
  Text->setMinimumSize(420, 220);
  Layout->addWidget(Text, 1);
  auto* Row = new QHBoxLayout;
  btOpen = new QPushButton("Open...", this);
  Row->addWidget(btOpen);
  Row->addWidget(new QLabel("Side or medium:", this));
  Side = new QLineEdit(this);
  Side->setPlaceholderText("the first");
  Side->setMaximumWidth(90);
  Row->addWidget(Side);
  Row->addStretch();
  Layout->addLayout(Row);
  auto* Answer = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  btOk = Answer->button(QDialogButtonBox::Ok);
  btOk->setText("Place the Tracks");
  Layout->addWidget(Answer);
  connect(Answer, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Answer, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(btOpen, &QPushButton::clicked, this, [this] {
    const QString Path = QFileDialog::getOpenFileName(
        this, "Open a Track Listing", QString(),
        "Track listings (*.txt *.cue *.json);;All files (*)");
    QString Error;
    if (!Path.isEmpty() && !OpenFile(Path, Error)) Text->setPlaceholderText(Error);
  });
}

bool TListingDialog::OpenFile(const QString& Path, QString& Error) {
  QFile File(Path);
  if (!File.open(QIODevice::ReadOnly)) {
    Error = Path + " cannot be read: " + File.errorString();
    return false;
  }
  const QByteArray Bytes = File.readAll();
  Text->setPlainText(QString::fromStdString(TextAsUtf8(std::string_view(Bytes.data(), static_cast<std::size_t>(Bytes.size())))));
  return true;
}

}  // namespace velmar
