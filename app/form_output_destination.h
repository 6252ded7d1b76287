// TFormOutputDestination: the modal "Output Folder" window. Its edit field is
// the one source of the output folder; the folder tree writes into it, the
// create button makes the typed folder (with its parents), OK and Cancel close.
// The field is read from and written to the setting "Path".
//
// Owned by the main window, kept for the program's life. Main thread only.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QTreeView>

#include "controls/bitmap_button.h"

class QFileSystemModel;

namespace velmar {

class TFormAudioGraphics;
class TMMPanelFill;

class TFormOutputDestination : public QDialog {
 public:
  TFormOutputDestination(TFormAudioGraphics& Skin, QWidget* Parent = nullptr);

  // The field's folder, a leading "~" taken as the home folder (as a shell would).
  QString GetFolder() const { return ExpandHome(dfsPath->text()); }
  static QString ExpandHome(const QString& Folder);
  // The field and the tree to Folder.
  void SetFolder(const QString& Folder);
  // Shows the window modally; true after OK.
  bool Execute();
  // Read and write "Path" through the settings store: a path that cannot be
  // read leaves the field as it is; SavePath is false when it was not stored.
  void LoadPath();
  bool SavePath();

  // The folder in the field is created (with its parents) and the tree moves
  // there; on failure the message says so and the window stays open.
  void pbCreateFolderClick();

  // Shows the folder's help page (set by the main window).
  std::function<void()> OnHelp;

  QLineEdit* dfsPath;
  QTreeView* lbSelectPath;
  TMMBitmapButton* pbCreateFolder;
  TMMBitmapButton* pbOK;
  TMMBitmapButton* pbCancel;
  TMMBitmapButton* pbHelp;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  QString TreeFolder() const;

  QFileSystemModel* FModel;
  bool FOK = false;
};

}  // namespace velmar
