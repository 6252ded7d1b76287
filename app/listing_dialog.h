// TListingDialog: where the review takes a side's track listing: a box to
// paste it into (a web page's track list, typed lines, a cue sheet, a
// release as MusicBrainz's web service writes it), Open... to read it from a
// file, a search of the MusicBrainz web service (artist and album, or a
// barcode) whose chosen release fills the box, and which side or medium the
// recording is ("A", "2"; empty: the first). The review reads the fields once
// the dialog is accepted.
//
// Owned by its parent (the review window); main thread. A lookup runs on a
// thread of its own and hands its answer back to the main thread; a dialog
// closed meanwhile lets it go unheard.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>
#include <string>
#include <vector>

namespace velmar {

class TListingDialog : public QDialog {
 public:
  // Artist and Album: what the search fields start with (the album's fields).
  TListingDialog(QWidget* Parent, const QString& Artist = {}, const QString& Album = {});

  std::string ListingText() const { return Text->toPlainText().toStdString(); }
  std::string SideText() const { return Side->text().trimmed().toStdString(); }
  // Reads the listing from a file into the box; false with Error when it
  // cannot be read.
  bool OpenFile(const QString& Path, QString& Error);

  // Searches the web service with the fields; the releases found fill the
  // list (or the status says why none).
  void Search();
  // Fetches the release chosen in the list into the box.
  void UseRelease();
  QString StatusText() const { return Status->text(); }

  QPlainTextEdit* Text;
  QLineEdit *Side, *Artist, *Album, *Barcode;
  QListWidget* Releases;
  QLabel* Status;
  QPushButton *btOpen, *btOk, *btSearch, *btUse;

 private:
  // Runs Work on a thread of its own, then Done on the main thread (unless
  // the dialog is gone); the buttons wait meanwhile.
  void Look(const QString& What, std::function<std::string(std::string& Error)> Work,
            std::function<void(bool Ok, const std::string& Result)> Done);
  std::vector<std::string> FIds;  // the listed releases'
};

}  // namespace velmar
