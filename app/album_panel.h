// TAlbumPanel: the album's fields beside the review's track list: artist,
// album, album artist, date, genre, comment, disc ("1" or "1/2"), whether
// the tracks are numbered, and a front cover picked from a file or dropped
// on the thumbnail. Shows the fields the side's first track has; the review
// applies them to every track with the titles.
//
// Owned by the review window (a child widget); main thread.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "wavefile/wave_tags.h"

namespace velmar {

class TAlbumPanel : public QWidget {
 public:
  explicit TAlbumPanel(QWidget* Parent = nullptr);

  // Shows From's album fields and cover; numbered when From has a number.
  void Show(const TTrackTags& From);
  // The album as the fields say (no title, no track number); false with
  // Error when the disc is neither N nor N/M.
  bool Album(TTrackTags& Tags, QString& Error) const;
  bool Numbered() const { return Numbers->isChecked(); }
  // A field or the cover differs from what Show was given, or the tracks are
  // to be numbered and their numbers do not follow the set (see SetNumbersStale).
  bool Changed() const;
  // The tracks' numbers ("1/6" ...) are not those of the set as it is (a track
  // was taken out since they were numbered): numbering them is a change.
  void SetNumbersStale(bool Stale) { FNumbersStale = Stale; }
  // Takes the cover from a file; false with Error (not an image, too large).
  bool SetCoverFile(const QString& Path, QString& Error);
  void RemoveCover();
  const TCover& Cover() const { return FCover; }

  // A field or the cover changed; said when a cover is refused.
  std::function<void()> OnChanged;
  std::function<void(const QString&)> OnSay;

  QLineEdit *Artist, *AlbumName, *AlbumArtist, *Date, *Genre, *Comment, *Disc;
  QCheckBox* Numbers;
  QLabel* Thumbnail;
  QPushButton *btCover, *btRemoveCover;

 protected:
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;

 private:
  void ShowCover();

  TTrackTags FShown;
  bool FShownNumbered = false;
  bool FNumbersStale = false;
  TCover FCover;
};

}  // namespace velmar
