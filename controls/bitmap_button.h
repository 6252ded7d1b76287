// TMMBitmapButton: a push button drawn from a glyph strip of a TMMBitmapList
// (up to four glyphs side by side: normal, disabled, pressed, down) with an
// optional caption placed around the glyph, eight frame styles, a latched
// Down state and Switch behaviour. For a single glyph, and for the hover
// styles with AutoGray, it derives a grey and an embossed copy of glyph 0.
//
// Refers to the list without owning it; owns its derived strip. Main thread.
#pragma once

#include <QImage>
#include <functional>

#include "controls/bitmap_list_control.h"

namespace velmar {

enum class TMMButtonStyle {
  bsRegular,
  bsIndent,
  bsLight,
  bsDark,
  bsMono,
  bsExplorer,
  bsHighLight,
  bsNone
};
enum class TMMTextAlign {
  ttaTopLeft,
  ttaTop,
  ttaTopRight,
  ttaRight,
  ttaBottomRight,
  ttaBottom,
  ttaBottomLeft,
  ttaLeft,
  ttaCenter
};

class TMMBitmapButton : public TMMCustomBitmapListControl {
 public:
  explicit TMMBitmapButton(QWidget* Parent = nullptr);

  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int Value);
  TMMButtonStyle ButtonStyle() const { return FButtonStyle; }
  void SetButtonStyle(TMMButtonStyle Value);
  const QString& Caption() const { return FCaption; }
  void SetCaption(const QString& Value);
  TColor FontColor() const { return FFontColor; }
  void SetFontColor(TColor Value);
  TMMTextAlign TextAlign() const { return FTextAlign; }
  void SetTextAlign(TMMTextAlign Value);
  int Spacing() const { return FSpacing; }
  void SetSpacing(int Value);
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value);
  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  bool AutoGray() const { return FAutoGray; }
  void SetAutoGray(bool Value);
  bool ShowDisabled() const { return FShowDisabled; }
  void SetShowDisabled(bool Value);
  bool ShowPressed() const { return FShowPressed; }
  void SetShowPressed(bool Value);
  int DownIndentHoriz() const { return FDownIndentHoriz; }
  void SetDownIndentHoriz(int Value);
  int DownIndentVert() const { return FDownIndentVert; }
  void SetDownIndentVert(int Value);
  bool Down() const { return FDown; }
  void SetDown(bool Value);
  bool Switch() const { return FSwitch; }
  void SetSwitch(bool Value) { FSwitch = Value; }
  bool DoubleBuffer() const { return FDoubleBuffer; }
  void SetDoubleBuffer(bool Value) { FDoubleBuffer = Value; }
  bool AllowRightMouse() const { return FAllowRightMouse; }
  void SetAllowRightMouse(bool Value) { FAllowRightMouse = Value; }

  bool Pressed() const { return FPressed; }
  bool MouseOver() const { return FMouseOver; }
  // The glyph the next paint shows, an index into the (derived) strip.
  int GlyphIndex() const;
  // The strip drawn from: the list bitmap, or the extended copy with the grey
  // glyph at NumGlyphs and the embossed one at NumGlyphs + 1.
  const QImage& Strip() const { return FStrip; }
  int StripGlyphs() const { return FStripGlyphs; }
  // Fires OnClick.
  virtual void Click();

  TNotifyEvent OnClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseExit;
  TMMGetGylphIndex OnGetGlyphIndex;

 protected:
  QRect Paint(QPainter& Canvas) override;
  void BitmapChanged() override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void AcceleratorPressed() override { Click(); }

 private:
  bool Handles(Qt::MouseButton Button) const;
  void BuildStrip(bool ListOrIndexChanged);
  void PaintFrame(QPainter& Canvas);
  QSize CaptionSize(const QFontMetrics& Metrics) const;

  int FNumGlyphs = 1;
  TMMButtonStyle FButtonStyle = TMMButtonStyle::bsExplorer;
  QString FCaption;
  TColor FFontColor = clWindowText;
  TMMTextAlign FTextAlign = TMMTextAlign::ttaCenter;
  int FSpacing = 2;
  bool FWordWrap = false;
  int FBorderWidth = 1;
  bool FAutoSize = false;
  bool FAutoGray = true;
  bool FShowDisabled = true;
  bool FShowPressed = true;
  int FDownIndentHoriz = 1;
  int FDownIndentVert = 1;
  bool FDown = false;
  bool FSwitch = false;
  bool FDoubleBuffer = false;
  bool FAllowRightMouse = false;

  bool FPressed = false;
  bool FTracking = false;
  bool FMouseOver = false;
  QImage FStrip;
  int FStripGlyphs = 0;
  int FLastIndex = -1;
  const TMMBitmapList* FLastList = nullptr;
};

}  // namespace velmar
