#include "app/form_edit.h"

#include <QKeyEvent>

#include "app/form_audio_graphics.h"
#include "app/skin_look.h"

namespace velmar {

TFormEdit::TFormEdit(const TFormAudioGraphics& Skin, QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("Edit Track Name");
  setFixedSize(397, 72);
  UseDarkLook(this);
  setAutoFillBackground(true);
  auto& Buttons = const_cast<TMMBitmapList&>(Skin.FButtons);
  dfsEdit = new TVLEdit(this);
  dfsEdit->setGeometry(8, 8, 381, 24);
  dfsEdit->SetUpperCase(true);
  UseLimeOnBlack(dfsEdit);
  // The text when editing began: the first entry only (coming back from
  // another window enters the field again, mid-edit).
  dfsEdit->OnEnter = [this] {
    if (FEntered) return;
    FEntered = true;
    FEntryText = dfsEdit->text();
  };
  btnOk = new TVLButton(this);
  btnOk->SetPicture(SkinImage(Buttons, 0));
  btnOk->move(165, 40);
  btnOk->OnClick = [this](TObject*) { accept(); };
  btnCancel = new TVLButton(this);
  btnCancel->SetPicture(SkinImage(Buttons, 1));
  btnCancel->move(281, 40);
  btnCancel->OnClick = [this](TObject*) { reject(); };
  // The design has a Help picture here, hidden.
  btnHelp = new TVLButton(this);
  btnHelp->SetPicture(SkinImage(Buttons, 2));
  btnHelp->move(49, 40);
  btnHelp->hide();
}

void TFormEdit::SetText(const QString& Text) {
  // The field shows capitals only, whatever it is given.
  dfsEdit->setText(dfsEdit->UpperCase() ? UpperCaseName(Text) : Text);
  FEntryText = dfsEdit->text();
  FEntered = false;
}

QString TFormEdit::GetTextWithExt(const QString& Ext) {
  const QString Text = UpperCaseName(dfsEdit->text());
  dfsEdit->setText(Text);
  const QString Wanted = UpperCaseName(Ext);
  const qsizetype Dot = Text.lastIndexOf('.');
  const QString Name = Dot < 0 ? QString() : Text.left(Dot);
  const QString Extension = Dot < 0 ? Text : Text.mid(Dot + 1);
  if (Extension == Wanted) return Name + "." + Extension;
  return Text + "." + Wanted;
}

void TFormEdit::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  QDialog::keyPressEvent(Event);  // Escape: reject()
}

void TFormEdit::reject() {
  dfsEdit->setText(FEntryText);
  QDialog::reject();
}

}  // namespace velmar
