#include "app/album_panel.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPixmap>
#include <QVBoxLayout>

#include "app/skin_look.h"

namespace velmar {

namespace {

constexpr int kThumbnail = 96;

std::string Text(const QLineEdit* Edit) {
  return Edit->text().trimmed().toStdString();
}

}  // namespace

TAlbumPanel::TAlbumPanel(QWidget* Parent) : QWidget(Parent) {
  setAcceptDrops(true);
  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(4);
  auto* Form = new QFormLayout;
  Form->setContentsMargins(0, 0, 0, 0);
  Form->setVerticalSpacing(2);
  const auto Field = [&](const char* Label, const char* Tip) {
    auto* Edit = new QLineEdit(this);
    Edit->setToolTip(Tip);
    connect(Edit, &QLineEdit::textEdited, this, [this] {
      if (OnChanged) OnChanged();
    });
    Form->addRow(Label, Edit);
    return Edit;
  };
  Artist =
      Field("Artist", "Every track's artist; leave empty to keep each track's own (a compilation)");
  AlbumName = Field("Album", "The album's title");
  AlbumArtist =
      Field("Album artist", "The album's artist, where it differs from the tracks' (\"Various\")");
  Date = Field("Date", "The year, or the full date (1975, 1975-03-01)");
  Genre = Field("Genre", "");
  Comment = Field("Comment", "");
  Disc = Field("Disc", "The disc's number, or number of total: 1 or 1/2");
  Layout->addLayout(Form);
  Numbers = new QCheckBox("Number the tracks (n of N)", this);
  connect(Numbers, &QCheckBox::toggled, this, [this] {
    if (OnChanged) OnChanged();
  });
  Layout->addWidget(Numbers);
  auto* CoverRow = new QHBoxLayout;
  Thumbnail = new QLabel(this);
  Thumbnail->setFixedSize(kThumbnail, kThumbnail);
  Thumbnail->setAlignment(Qt::AlignCenter);
  Thumbnail->setFrameShape(QFrame::Box);
  Thumbnail->setToolTip("The front cover: pick a JPEG or PNG file, or drop one here");
  CoverRow->addWidget(Thumbnail);
  auto* CoverButtons = new QVBoxLayout;
  btCover = new QPushButton("Cover...", this);
  connect(btCover, &QPushButton::clicked, this, [this] {
    const QString Path =
        QFileDialog::getOpenFileName(this, "Front Cover", QString(), "Images (*.jpg *.jpeg *.png)");
    QString Error;
    if (!Path.isEmpty() && !SetCoverFile(Path, Error) && OnSay) OnSay(Error);
  });
  btRemoveCover = new QPushButton("Remove", this);
  connect(btRemoveCover, &QPushButton::clicked, this, [this] { RemoveCover(); });
  CoverButtons->addWidget(btCover);
  CoverButtons->addWidget(btRemoveCover);
  CoverButtons->addStretch();
  CoverRow->addLayout(CoverButtons);
  CoverRow->addStretch();
  Layout->addLayout(CoverRow);
  Layout->addStretch();
  ShowCover();
}

void TAlbumPanel::Show(const TTrackTags& From) {
  FShown = TTrackTags();
  FShown.SetAlbumFields(From);
  FShownNumbered = From.Track > 0;
  const auto Put = [](QLineEdit* Edit, const std::string& Value) {
    Edit->setText(QString::fromStdString(Value));
  };
  Put(Artist, From.Artist);
  Put(AlbumName, From.Album);
  Put(AlbumArtist, From.AlbumArtist);
  Put(Date, From.Date);
  Put(Genre, From.Genre);
  Put(Comment, From.Comment);
  Put(Disc, NumberOfText(From.Disc, From.DiscTotal));
  Numbers->setChecked(FShownNumbered);
  FCover = From.Cover;
  ShowCover();
}

bool TAlbumPanel::Album(TTrackTags& Tags, QString& Error) const {
  Tags = TTrackTags();
  Tags.Artist = Text(Artist);
  Tags.Album = Text(AlbumName);
  Tags.AlbumArtist = Text(AlbumArtist);
  Tags.Date = Text(Date);
  Tags.Genre = Text(Genre);
  Tags.Comment = Text(Comment);
  Tags.Cover = FCover;
  if (const std::string d = Text(Disc);
      !d.empty() && !ParseNumberOf(d, Tags.Disc, Tags.DiscTotal)) {
    Error =
        QString("The disc \"%1\" is not a number or number/total (1 or 1/2).").arg(Disc->text());
    return false;
  }
  return true;
}

bool TAlbumPanel::Changed() const {
  TTrackTags Now;
  QString Error;
  return !Album(Now, Error) || !(Now == FShown) || Numbered() != FShownNumbered ||
         (Numbered() && FNumbersStale);
}

bool TAlbumPanel::SetCoverFile(const QString& Path, QString& Error) {
  TCover Cover;
  std::string Why;
  if (!LoadCover(Path.toStdString(), Cover, Why)) {
    Error = QString::fromStdString("The cover was not taken: " + Why + ".");
    return false;
  }
  FCover = std::move(Cover);
  ShowCover();
  if (OnChanged) OnChanged();
  return true;
}

void TAlbumPanel::RemoveCover() {
  FCover = TCover();
  ShowCover();
  if (OnChanged) OnChanged();
}

void TAlbumPanel::ShowCover() {
  QPixmap Image;
  if (!FCover.Data.empty())
    Image.loadFromData(FCover.Data.data(), static_cast<unsigned>(FCover.Data.size()));
  if (Image.isNull()) {
    Thumbnail->setPixmap(QPixmap());
    Thumbnail->setText(FCover.Data.empty() ? "No cover" : "Cover\n(not shown)");
  } else {
    const qreal Scale = devicePixelRatioF();
    QPixmap Small = Image.scaled(QSize(kThumbnail - 2, kThumbnail - 2) * Scale, Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation);
    Small.setDevicePixelRatio(Scale);
    Thumbnail->setPixmap(Small);
  }
  btRemoveCover->setEnabled(!FCover.Data.empty());
}

void TAlbumPanel::dragEnterEvent(QDragEnterEvent* Event) {
  if (Event->mimeData()->hasUrls()) Event->acceptProposedAction();
}

void TAlbumPanel::dropEvent(QDropEvent* Event) {
  const QList<QUrl> Urls = Event->mimeData()->urls();
  if (Urls.isEmpty() || !Urls.front().isLocalFile()) return;
  QString Error;
  if (SetCoverFile(Urls.front().toLocalFile(), Error)) {
    Event->acceptProposedAction();
  } else if (OnSay) {
    OnSay(Error);
  }
}

}  // namespace velmar
