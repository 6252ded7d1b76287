// TMMBitmapRadioButton: a windowless radio button drawn from a glyph strip
// (unchecked, checked, disabled) with its caption beside the glyph; checking
// one unchecks its siblings under the same parent. TMMFontStyle: the caption's
// colour and style in one state (mouse over, or not).
//
// Refers to the list without owning it. Main thread only.
#pragma once

#include <QFont>

#include "controls/bitmap_list_control.h"

namespace velmar {

class TMMFontStyle : public TPersistent {
 public:
  TMMFontStyle(TColor Color, std::function<void()> Changed)
      : FColor(Color), FChanged(std::move(Changed)) {}
  TColor Color() const { return FColor; }
  void SetColor(TColor Value) { FColor = Value, FChanged(); }
  // Bold, italic, underline and strike-out as in a QFont.
  bool Bold() const { return FBold; }
  void SetBold(bool Value) { FBold = Value, FChanged(); }
  bool Italic() const { return FItalic; }
  void SetItalic(bool Value) { FItalic = Value, FChanged(); }
  bool Underline() const { return FUnderline; }
  void SetUnderline(bool Value) { FUnderline = Value, FChanged(); }
  // The font with this style applied.
  QFont Apply(QFont Font) const;

 private:
  TColor FColor;
  bool FBold = false, FItalic = false, FUnderline = false;
  std::function<void()> FChanged;
};

class TMMBitmapRadioButton : public TMMCustomBitmapListControl {
 public:
  explicit TMMBitmapRadioButton(QWidget* Parent = nullptr);

  const QString& Caption() const { return FCaption; }
  void SetCaption(const QString& Value);
  bool Checked() const { return FChecked; }
  // True unchecks every sibling radio button.
  void SetChecked(bool Value);
  Qt::AlignmentFlag Alignment() const { return FAlignment; }
  // Qt::AlignLeft: glyph on the left; Qt::AlignRight: on the right.
  void SetAlignment(Qt::AlignmentFlag Value);
  int Margin() const { return FMargin; }
  void SetMargin(int Value);
  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int Value);
  bool AllowMouseOver() const { return FAllowMouseOver; }
  void SetAllowMouseOver(bool Value) { FAllowMouseOver = Value; }
  TMMFontStyle& FontActive() { return FFontActive; }
  TMMFontStyle& FontInactive() { return FFontInactive; }

  bool MouseOver() const { return FMouseOver; }
  // The glyph shown: 2 disabled, 1 checked, else 0, never past the last one.
  int GlyphIndex() const;
  // Checks the button and fires OnClick.
  virtual void Click();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;

 protected:
  QRect Paint(QPainter& Canvas) override;
  void BitmapChanged() override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void AcceleratorPressed() override { Click(); }

 private:
  void SetMouseOver(bool Value);

  QString FCaption;
  bool FChecked = false;
  Qt::AlignmentFlag FAlignment = Qt::AlignLeft;
  int FMargin = 7;
  int FNumGlyphs = 4;
  bool FAllowMouseOver = false;
  bool FMouseOver = false;
  TMMFontStyle FFontActive;
  TMMFontStyle FFontInactive;
};

}  // namespace velmar
