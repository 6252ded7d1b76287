#include "app/listing_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>
#include <memory>
#include <thread>

#include "app/skin_look.h"
#include "app/status_text.h"
#include "session/release_lookup.h"
#include "session/track_listing.h"
#include "wavefile/text_encoding.h"

namespace velmar {

TListingDialog::TListingDialog(QWidget* Parent, const QString& ArtistName, const QString& AlbumName)
    : QDialog(Parent) {
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
  // The web service: a search, the releases found, the one to use.
  auto* Find = new QHBoxLayout;
  Artist = new QLineEdit(ArtistName, this);
  Artist->setPlaceholderText("Artist");
  Album = new QLineEdit(AlbumName, this);
  Album->setPlaceholderText("Album");
  Barcode = new QLineEdit(this);
  Barcode->setPlaceholderText("or barcode");
  Barcode->setMaximumWidth(130);
  btSearch = new QPushButton("Search MusicBrainz", this);
  for (QWidget* w : std::initializer_list<QWidget*>{Artist, Album, Barcode, btSearch})
    Find->addWidget(w);
  Layout->addLayout(Find);
  Releases = new QListWidget(this);
  Releases->setMaximumHeight(110);
  Layout->addWidget(Releases);
  auto* Chosen = new QHBoxLayout;
  btUse = new QPushButton("Use This Release", this);
  btUse->setEnabled(false);
  Chosen->addWidget(btUse);
  Status = new QLabel(this);
  Status->setWordWrap(true);
  Status->setFont(LabelFont(false));
  Chosen->addWidget(Status, 1);
  Layout->addLayout(Chosen);
  connect(btSearch, &QPushButton::clicked, this, [this] { Search(); });
  connect(btUse, &QPushButton::clicked, this, [this] { UseRelease(); });
  connect(Releases, &QListWidget::itemDoubleClicked, this, [this] { UseRelease(); });
  connect(Releases, &QListWidget::currentRowChanged, this,
          [this](int Row) { btUse->setEnabled(Row >= 0 && btSearch->isEnabled()); });
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
    const QString Path =
        QFileDialog::getOpenFileName(this, "Open a Track Listing", QString(),
                                     "Track listings (*.txt *.cue *.json);;All files (*)");
    QString Error;
    if (!Path.isEmpty() && !OpenFile(Path, Error)) Text->setPlaceholderText(Error);
  });
}

void TListingDialog::Look(const QString& What, std::function<std::string(std::string& Error)> Work,
                          std::function<void(bool Ok, const std::string& Result)> Done) {
  Status->setText(What);
  btSearch->setEnabled(false);
  btUse->setEnabled(false);
  QPointer<TListingDialog> Self(this);
  std::thread([Self, Work = std::move(Work), Done = std::move(Done)] {
    std::string Error;
    std::string Result = Work(Error);
    const bool Ok = Error.empty();
    QMetaObject::invokeMethod(
        qApp,
        [Self, Done, Ok, Result = Ok ? Result : Error] {
          if (!Self) return;
          Self->btSearch->setEnabled(true);
          Self->btUse->setEnabled(Self->Releases->currentRow() >= 0);
          Done(Ok, Result);
        },
        Qt::QueuedConnection);
  }).detach();
}

void TListingDialog::Search() {
  const std::string A = Artist->text().trimmed().toStdString(),
                    B = Album->text().trimmed().toStdString(),
                    Code = Barcode->text().trimmed().toStdString();
  auto Hits = std::make_shared<std::vector<TReleaseHit>>();
  Look(
      "Searching MusicBrainz...",
      [=](std::string& Error) {
        TReleaseLookup Lookup;
        Lookup.Search(A, B, Code, *Hits, Error);
        return std::string();
      },
      [this, Hits](bool Ok, const std::string& Result) {
        Releases->clear();
        FIds.clear();
        if (!Ok) {
          Status->setText(Sentence(Result) + ".");
          return;
        }
        for (const TReleaseHit& h : *Hits) {
          Releases->addItem(QString::fromStdString(h.Text()));
          FIds.push_back(h.Id);
        }
        Status->setText(Hits->empty()
                            ? QString("No release found.")
                            : QString("%1 releases found: choose one.").arg(Hits->size()));
        if (!Hits->empty()) Releases->setCurrentRow(0);
      });
}

void TListingDialog::UseRelease() {
  const int Row = Releases->currentRow();
  if (Row < 0 || Row >= static_cast<int>(FIds.size()) || !btSearch->isEnabled()) return;
  const std::string Id = FIds[static_cast<std::size_t>(Row)];
  Look(
      "Fetching the release...",
      [Id](std::string& Error) {
        std::string Json;
        TReleaseLookup().Release(Id, Json, Error);
        return Json;
      },
      [this](bool Ok, const std::string& Result) {
        if (!Ok) {
          Status->setText(Sentence(Result) + ".");
          return;
        }
        // Indented, to be read and edited.
        Text->setPlainText(
            QString::fromUtf8(QJsonDocument::fromJson(QByteArray::fromStdString(Result))
                                  .toJson(QJsonDocument::Indented)));
        TListing Listing;
        std::string Error;
        ParseReleaseJson(Result, 0, Listing, Error);
        Status->setText(
            Listing.Sides.size() > 1
                ? QString("%1 tracks, on sides %2: give the side, then Place the Tracks.")
                      .arg(Listing.Tracks.size())
                      .arg(QString::fromStdString(Listing.Sides))
                : QString("%1 tracks: Place the Tracks puts them on the side.")
                      .arg(Listing.Tracks.size()));
      });
}

bool TListingDialog::OpenFile(const QString& Path, QString& Error) {
  QFile File(Path);
  if (!File.open(QIODevice::ReadOnly)) {
    Error = Path + " cannot be read: " + File.errorString();
    return false;
  }
  const QByteArray Bytes = File.readAll();
  Text->setPlainText(QString::fromStdString(
      TextAsUtf8(std::string_view(Bytes.data(), static_cast<std::size_t>(Bytes.size())))));
  return true;
}

}  // namespace velmar
