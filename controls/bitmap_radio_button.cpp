#include "controls/bitmap_radio_button.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "controls/bitmap_image.h"

namespace velmar {

QFont TMMFontStyle::Apply(QFont Font) const {
  Font.setBold(FBold);
  Font.setItalic(FItalic);
  Font.setUnderline(FUnderline);
  return Font;
}

TMMBitmapRadioButton::TMMBitmapRadioButton(QWidget* Parent)
    : TMMCustomBitmapListControl(Parent),
      FFontActive(clRed, [this] { update(); }),
      FFontInactive(clBlack, [this] { update(); }) {
  resize(100, 17);
  SetTransparent(true);
}

void TMMBitmapRadioButton::SetCaption(const QString& Value) {
  FCaption = Value;
  SetAccelerator(FCaption);
  update();
}

void TMMBitmapRadioButton::SetChecked(bool Value) {
  if (Value == FChecked) return;
  FChecked = Value;
  if (Value && parentWidget()) {
    // The controls carry no meta-object of their own: siblings are found by type.
    for (QObject* Child : parentWidget()->children())
      if (auto* Sibling = dynamic_cast<TMMBitmapRadioButton*>(Child); Sibling && Sibling != this)
        Sibling->SetChecked(false);
  }
  repaint();
}

void TMMBitmapRadioButton::SetAlignment(Qt::AlignmentFlag Value) {
  FAlignment = Value == Qt::AlignRight ? Qt::AlignRight : Qt::AlignLeft;
  repaint();
}

void TMMBitmapRadioButton::SetMargin(int Value) {
  FMargin = std::clamp(Value, 0, 255);
  repaint();
}

void TMMBitmapRadioButton::SetNumGlyphs(int Value) {
  FNumGlyphs = std::clamp(Value, 1, 4);
  repaint();
}

void TMMBitmapRadioButton::BitmapChanged() {
  const TBitmap* Strip = CurrentBitmap();
  if (Strip && !Strip->Empty() && FNumGlyphs == 1 && Strip->Width() % Strip->Height() == 0) {
    const int n = Strip->Width() / Strip->Height();
    FNumGlyphs = n > 4 ? 1 : n;
  }
  TMMCustomBitmapListControl::BitmapChanged();
}

int TMMBitmapRadioButton::GlyphIndex() const {
  const int Index = !isEnabled() ? 2 : FChecked ? 1 : 0;
  return std::min(Index, FNumGlyphs - 1);
}

QRect TMMBitmapRadioButton::Paint(QPainter& Canvas) {
  if (!Transparent()) Canvas.fillRect(rect(), ToQColor(Color()));
  const TBitmap* Strip = CurrentBitmap();
  const int W = width(), H = height();
  if (!Strip || Strip->Empty()) {
    Canvas.setPen(QPen(Qt::black, 1, Qt::DotLine));
    Canvas.drawRect(rect().adjusted(0, 0, -1, -1));
    Canvas.drawText(rect(), Qt::AlignCenter, FCaption);
    return rect();
  }
  const int gw = Strip->Width() / FNumGlyphs, gh = Strip->Height();
  const int Top = H / 2 - gh / 2 - 1;
  QRect Text;
  QPoint GlyphAt;
  if (FAlignment == Qt::AlignLeft) {
    GlyphAt = QPoint(1, Top);
    Text = QRect(QPoint(FMargin + gw, 0), QPoint(W - 2, H - 1));
  } else {
    GlyphAt = QPoint(W - 1 - gw, Top);
    Text = QRect(QPoint(1, 0), QPoint(W - FMargin - gw - 1, H - 1));
  }
  int Index = GlyphIndex();
  if (const TBitmap* Disabled = isEnabled() ? nullptr : DisabledBitmap()) {
    // The skin's disabled strip, in the same state order: the selection shows.
    Strip = Disabled;
    Index = FChecked && FNumGlyphs > 1 ? 1 : 0;
  }
  DrawTransparent(Canvas, GlyphAt, BitmapToImage(*Strip), QRect(Index * gw, 0, gw, gh),
                  KeyOf(GetTransparentColor()));
  if (FCaption.isEmpty()) return rect();
  const TMMFontStyle& Style = FAllowMouseOver && FMouseOver ? FFontActive : FFontInactive;
  Canvas.setFont(Style.Apply(font()));
  const int Flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
  const QString Shown =
      Canvas.fontMetrics().elidedText(FCaption, Qt::ElideRight, Text.width(), Qt::TextShowMnemonic);
  Canvas.setPen(CaptionColor(ToQColor(Style.Color()), isEnabled()));
  Canvas.drawText(Text, Flags, Shown);
  return rect();
}

void TMMBitmapRadioButton::Click() {
  SetChecked(true);
  if (OnClick) OnClick(this);
}

void TMMBitmapRadioButton::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton && isEnabled()) repaint();
}

void TMMBitmapRadioButton::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || !isEnabled()) return;
  repaint();
  if (rect().contains(Event->position().toPoint())) Click();
}

void TMMBitmapRadioButton::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || !isEnabled()) return;
  if (OnDblClick) OnDblClick(this);
  Click();
}

void TMMBitmapRadioButton::mouseMoveEvent(QMouseEvent* Event) {
  SetMouseOver(rect().contains(Event->position().toPoint()));
}

void TMMBitmapRadioButton::enterEvent(QEnterEvent*) {
  SetMouseOver(true);
}

void TMMBitmapRadioButton::leaveEvent(QEvent*) {
  SetMouseOver(false);
}

void TMMBitmapRadioButton::SetMouseOver(bool Value) {
  if (!FAllowMouseOver || Value == FMouseOver) return;
  FMouseOver = Value;
  repaint();
}

void TMMBitmapRadioButton::changeEvent(QEvent* Event) {
  if (Event->type() == QEvent::EnabledChange) update();
  TMMCustomBitmapListControl::changeEvent(Event);
}

}  // namespace velmar
