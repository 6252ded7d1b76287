// TListingDialog: where the review takes a side's track listing: a box to
// paste it into (a web page's track list, typed lines, a cue sheet, a
// release as MusicBrainz's web service writes it), Open... to read it from a
// file, and which side or medium the recording is ("A", "2"; empty: the
// first). The review reads the fields once the dialog is accepted.
//
// Owned by its parent (the review window); main thread.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <string>

namespace velmar {

class TListingDialog : public QDialog {
 public:
  explicit TListingDialog(QWidget* Parent);

  std::string ListingText() const { return Text->toPlainText().toStdString(); }
  std::string SideText() const { return Side->text().trimmed().toStdString(); }
  // Reads the listing from a file into the box; false with Error when it
  // cannot be read.
  bool OpenFile(const QString& Path, QString& Error);

  QPlainTextEdit* Text;
  QLineEdit* Side;
  QPushButton *btOpen, *btOk;
};

}  // namespace velmar
