#include "app/vl_controls.h"

#include <QMouseEvent>

namespace velmar {

TVLButton::TVLButton(QWidget* Parent) : QLabel(Parent) {
  setCursor(Qt::PointingHandCursor);
}

void TVLButton::SetPicture(const QImage& Picture) {
  setPixmap(QPixmap::fromImage(Picture));
  resize(Picture.size());
}

void TVLButton::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || FDown) return;
  FDown = true;
  move(pos() + QPoint(1, 1));
}

void TVLButton::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || !FDown) return;
  FDown = false;
  move(pos() - QPoint(1, 1));
  if (rect().contains(Event->position().toPoint()) && OnClick) OnClick(this);
}

QString UpperCaseName(const QString& Text) {
  QString Out = Text;
  for (QChar& c : Out) {
    const char16_t u = c.unicode();
    if ((u >= 'a' && u <= 'z') || u == 0xE5 || u == 0xE4 || u == 0xF6)
      c = QChar(static_cast<char16_t>(u - 0x20));
  }
  return Out;
}

TVLEdit::TVLEdit(QWidget* Parent) : QLineEdit(Parent) {
  connect(this, &QLineEdit::textEdited, this, [this](const QString& Text) {
    if (!FUpperCase) return;
    const QString Upper = UpperCaseName(Text);
    if (Upper == Text) return;
    const int Cursor = cursorPosition();
    setText(Upper);
    setCursorPosition(Cursor);
  });
}

void TVLEdit::SetUpperCase(bool Value) {
  FUpperCase = Value;
  if (Value) setText(UpperCaseName(text()));
}

void TVLEdit::focusInEvent(QFocusEvent* Event) {
  QLineEdit::focusInEvent(Event);
  if (OnEnter) OnEnter();
}

}  // namespace velmar
