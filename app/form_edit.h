// TFormEdit: the small modal window that edits a track's name ("Edit Track
// Name"): an upper-case field, OK and Cancel. Enter or OK keeps the text;
// Escape or Cancel puts back the text the field had when editing began.
//
// Owned by the main window. Main thread only.
#pragma once

#include <QDialog>

#include "app/vl_controls.h"

namespace velmar {

class TFormAudioGraphics;

class TFormEdit : public QDialog {
 public:
  TFormEdit(const TFormAudioGraphics& Skin, QWidget* Parent = nullptr);

  // The field's text; also what Escape and Cancel go back to.
  void SetText(const QString& Text);
  QString GetText() const { return dfsEdit->text(); }
  // The text in capitals, written back into the field, with ".Ext" appended
  // unless the part after its last dot already is Ext (also in capitals).
  QString GetTextWithExt(const QString& Ext);

  TVLEdit* dfsEdit;
  TVLButton* btnOk;
  TVLButton* btnCancel;
  TVLButton* btnHelp;

 protected:
  void keyPressEvent(QKeyEvent* Event) override;
  void reject() override;

 private:
  QString FEntryText;
  bool FEntered = false;  // since SetText
};

}  // namespace velmar
