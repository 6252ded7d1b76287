#include "controls/bitmap_slider.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "controls/bitmap_image.h"
#include "stream/arith.h"

namespace velmar {

TMMBitmapSlider::TMMBitmapSlider(QWidget* Parent) : TMMCustomBitmapListControl(Parent) {
  resize(200, 40);
  // The slider always draws over what lies beneath it.
  SetTransparent(true);
}

void TMMBitmapSlider::SetBitmapThumbIndex(int Value) {
  Value = std::max(Value, -1);
  if (Value == FBitmapThumbIndex) return;
  FBitmapThumbIndex = Value;
  BitmapChanged();
}

void TMMBitmapSlider::SetNumGlyphs(int Value) {
  FNumGlyphs = std::max(Value, 1);
  ApplyAutoSize();
  update();
}

void TMMBitmapSlider::SetNumThumbGlyphs(int Value) {
  FNumThumbGlyphs = std::max(Value, 1);
  TakeThumbSize();
  FThumbRect = ThumbRect();
  update();
}

void TMMBitmapSlider::SetMargin(int Value) {
  FMargin = std::clamp(Value, 0, 25);
  FThumbRect = ThumbRect();
  update();
}

void TMMBitmapSlider::SetThumbMargin(int Value) {
  FThumbMargin = std::clamp(Value, -5, 5);
  FThumbRect = ThumbRect();
  update();
}

void TMMBitmapSlider::SetAutoSize(bool Value) {
  FAutoSize = Value;
  ApplyAutoSize();
}

void TMMBitmapSlider::SetOrientation(TMMOrientation Value) {
  FOrientation = Value;
  ApplyAutoSize();
  FThumbRect = ThumbRect();
  update();
}

void TMMBitmapSlider::SetZeroPosition(TMMZeroPosition Value) {
  FZeroPosition = Value;
  FThumbRect = ThumbRect();
  update();
}

void TMMBitmapSlider::SetRange(int MinValue, int MaxValue) {
  if (MinValue == FMinValue && MaxValue == FMaxValue) return;
  FMinValue = MinValue;
  FMaxValue = std::max(MaxValue, FLogarithmic ? MinValue + 1 : MinValue);
  WritePosition(std::clamp(Position(), FMinValue, FMaxValue), true);
  update();
}

void TMMBitmapSlider::SetLogarithmic(bool Value) {
  if (Value == FLogarithmic) return;
  const int Old = Position();
  FLogarithmic = Value;
  if (FLogarithmic) FMaxValue = std::max(FMaxValue, FMinValue + 1);
  WritePosition(Old, true);
}

void TMMBitmapSlider::SetSensitivity(int Value) {
  Value = std::clamp(Value, -96, -10);
  if (Value == FSensitivity) return;
  const int Old = Position();
  FSensitivity = Value;
  WritePosition(Old, true);
}

int TMMBitmapSlider::Position() const {
  const int R = Range();
  float a = static_cast<float>(std::clamp(FThumbValue, FMinValue, FMaxValue));
  if (FLogarithmic && a != 0 && R != 0) {
    const float S = static_cast<float>(-FSensitivity);
    a = static_cast<float>(std::pow(10.0, (S * a / static_cast<float>(R) - S) / 20.0) * R);
  }
  return static_cast<int>(std::clamp<std::int64_t>(Round(a), FMinValue, FMaxValue));
}

void TMMBitmapSlider::WritePosition(int p, bool Force) {
  int v = p;
  const int R = Range();
  if (FLogarithmic && p != 0 && R != 0) {
    const double S = -FSensitivity;
    const double x = std::log10(static_cast<double>(p) / R);
    const float t = static_cast<float>(x * 20 + S);
    v = static_cast<int>(
        std::clamp<std::int64_t>(Round(R * static_cast<double>(t) / S), FMinValue, FMaxValue));
  }
  SetThumbValue(v, Force);
}

void TMMBitmapSlider::SetThumbValue(int Value, bool Force) {
  if (Value == FThumbValue && !Force) return;
  FThumbValue = std::clamp(Value, FMinValue, FMaxValue);
  const QRect Rect = ThumbRect();
  if (Rect != FThumbRect) {
    FThumbRect = Rect;
    repaint();
  }
  if (OnChange) OnChange(this);
}

void TMMBitmapSlider::TakeThumbSize() {
  const TBitmap* Thumb = ListItem(FBitmapThumbIndex);
  // Kept in a byte each, as the design keeps them: thumbs up to 255 x 255.
  FThumbWidth =
      static_cast<std::uint8_t>(Thumb ? std::min(Thumb->Width() / FNumThumbGlyphs, 255) : 0);
  FThumbHeight = static_cast<std::uint8_t>(Thumb ? std::min(Thumb->Height(), 255) : 0);
}

void TMMBitmapSlider::ApplyAutoSize() {
  const TBitmap* Track = ListItem(BitmapIndex());
  if (!FAutoSize || !Track) return;
  if (Horizontal())
    resize(Track->Width(), Track->Height() / FNumGlyphs);
  else
    resize(Track->Width() / FNumGlyphs, Track->Height());
}

void TMMBitmapSlider::BitmapChanged() {
  TakeThumbSize();
  ApplyAutoSize();
  FThumbRect = ThumbRect();
  TMMCustomBitmapListControl::BitmapChanged();
}

void TMMBitmapSlider::resizeEvent(QResizeEvent* Event) {
  ApplyAutoSize();
  FThumbRect = ThumbRect();
  TMMCustomBitmapListControl::resizeEvent(Event);
}

QRect TMMBitmapSlider::ThumbRect() const {
  const int W = width(), H = height(), tw = FThumbWidth, th = FThumbHeight, M = FMargin;
  const int R = Range() == 0 ? 1 : Range();
  const long double Offset = FThumbValue - FMinValue;
  int x, y;
  if (Horizontal()) {
    const long double Scale = static_cast<long double>(W - tw - 2 * M) / R;
    if (FZeroPosition == TMMZeroPosition::zpBottomLeft)
      x = static_cast<int>(Round(Offset * Scale)) + M;
    else
      x = W - static_cast<int>(Round(Offset * Scale)) - tw - M;
    x = std::clamp(x, 0, std::max(0, W - tw - M)) + FThumbMargin;
    y = (H + 1) / 2 - (th + 1) / 2;
  } else {
    const long double Scale = static_cast<long double>(H - th - 2 * M) / R;
    if (FZeroPosition == TMMZeroPosition::zpTopRight)
      y = static_cast<int>(Round(Offset * Scale)) + M;
    else
      y = H - static_cast<int>(Round(Offset * Scale)) - th - M;
    y = std::clamp(y, 0, std::max(0, H - th - M));
    x = (W + 1) / 2 - (tw + 1) / 2 + FThumbMargin;
  }
  return QRect(x, y, tw, th);
}

int TMMBitmapSlider::ValueFromPoint(int X, int Y) const {
  const long double R = Range();
  long double v;
  if (Horizontal()) {
    const long double x = X - (FThumbWidth >> 1), Span = std::max(1, width() - FThumbWidth);
    v = FZeroPosition == TMMZeroPosition::zpBottomLeft ? x / Span * R + FMinValue
                                                       : (Span - x) / Span * R + FMinValue;
  } else {
    const long double y = Y - (FThumbHeight >> 1), Span = std::max(1, height() - FThumbHeight);
    v = FZeroPosition == TMMZeroPosition::zpTopRight ? y / Span * R + FMinValue
                                                     : (Span - y) / Span * R + FMinValue;
  }
  return static_cast<int>(std::clamp<std::int64_t>(Round(v), FMinValue, FMaxValue));
}

TColor TMMBitmapSlider::SliderTransparentColor() const {
  if (TransparentMode() == TTransparentMode::tmFixed) return TransparentColor();
  const TBitmap* Strip = ListItem(FBitmapThumbIndex);
  if (!Strip) Strip = ListItem(BitmapIndex());
  if (!Strip) return clDefault;
  return RGBToColor(Strip->Pixel(0, Strip->Height() - 1));
}

void TMMBitmapSlider::DrawTrack(QPainter& Canvas) {
  const TBitmap* Track = ListItem(BitmapIndex());
  if (!Track) return;
  const QImage Strip = BitmapToImage(*Track);
  int Index = 0;
  if (OnGetGlyphIndex) OnGetGlyphIndex(this, FDragging, Index);
  Index = std::clamp(Index, 0, FNumGlyphs - 1);
  const std::int64_t Key = KeyOf(SliderTransparentColor());
  // Horizontal sliders stack their track glyphs vertically, vertical ones side by side.
  const QRect Glyph = Horizontal() ? QRect(0, Index * (Strip.height() / FNumGlyphs), Strip.width(),
                                           Strip.height() / FNumGlyphs)
                                   : QRect(Index * (Strip.width() / FNumGlyphs), 0,
                                           Strip.width() / FNumGlyphs, Strip.height());
  const int Length = Horizontal() ? Glyph.width() : Glyph.height();
  const int Travel = Horizontal() ? width() : height();
  if (Length >= Travel || Length <= 6) {
    DrawTransparent(Canvas, QPoint(0, 0), Strip, Glyph, Key);
    return;
  }
  // Shorter glyphs are tiled: the first without its last two pixels, the
  // others also without their first four, each after the one before.
  int At = 0;
  bool First = true;
  while (At < Travel) {
    const int Skip = First ? 0 : 4;
    const int Piece = Length - 2 - Skip;
    const QRect Source = Horizontal()
                             ? QRect(Glyph.left() + Skip, Glyph.top(), Piece, Glyph.height())
                             : QRect(Glyph.left(), Glyph.top() + Skip, Glyph.width(), Piece);
    DrawTransparent(Canvas, Horizontal() ? QPoint(At, 0) : QPoint(0, At), Strip, Source, Key);
    At += Piece;
    First = false;
  }
}

QRect TMMBitmapSlider::Paint(QPainter& Canvas) {
  if (OnGetBackground) {
    QImage Background(size(), QImage::Format_RGB32);
    OnGetBackground(this, Background, rect());
    Canvas.drawImage(0, 0, Background);
  }
  DrawTrack(Canvas);
  const TBitmap* Thumb = ListItem(FBitmapThumbIndex);
  if (Thumb && FThumbWidth > 0) {
    int Index = 0;
    if (OnGetThumbGlyphIndex) {
      OnGetThumbGlyphIndex(this, FDragging, Index);
    } else if (FNumThumbGlyphs >= 2 && !isEnabled()) {
      Index = 1;
    }
    Index = std::clamp(Index, 0, FNumThumbGlyphs - 1);
    DrawTransparent(Canvas, FThumbRect.topLeft(), BitmapToImage(*Thumb),
                    QRect(Index * FThumbWidth, 0, FThumbWidth, FThumbHeight),
                    KeyOf(SliderTransparentColor()));
  }
  return rect();
}

void TMMBitmapSlider::UpdateCursor(const QPoint& P) {
  if (FThumbRect.contains(P))
    setCursor(FHandCursor ? Qt::PointingHandCursor : FThumbCursor);
  else
    unsetCursor();
}

void TMMBitmapSlider::mousePressEvent(QMouseEvent* Event) {
  const QPoint P = Event->position().toPoint();
  if (FThumbRect.contains(P)) {
    if (Event->button() == Qt::LeftButton) FDragging = true;
    UpdateCursor(P);
  }
  if (Event->button() != Qt::LeftButton) return;
  FPressCoord = Horizontal() ? P.x() : P.y();
  FPressValue = FThumbValue;
  if (!FDragging)
    SetThumbValue(ValueFromPoint(P.x(), P.y()), false);
  else if (FNumThumbGlyphs > 1)
    repaint();
  FTracking = true;
  if (OnTrack) OnTrack(this);
}

void TMMBitmapSlider::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint P = Event->position().toPoint();
  if (!FDragging) {
    UpdateCursor(P);
    return;
  }
  if (!(Event->buttons() & Qt::LeftButton)) return;
  const int Span = std::max(1, Horizontal() ? width() - FThumbWidth - 2 * FMargin
                                            : height() - FThumbHeight - 2 * FMargin);
  int Delta;
  if (Horizontal())
    Delta =
        FZeroPosition == TMMZeroPosition::zpBottomLeft ? P.x() - FPressCoord : FPressCoord - P.x();
  else
    Delta =
        FZeroPosition == TMMZeroPosition::zpBottomLeft ? FPressCoord - P.y() : P.y() - FPressCoord;
  const int d = static_cast<int>(Round(static_cast<long double>(Delta) * Range() / Span));
  const int Before = FThumbValue;
  SetThumbValue(std::clamp(FPressValue + d, FMinValue, FMaxValue), false);
  if (FThumbValue != Before && OnTrack) OnTrack(this);
}

void TMMBitmapSlider::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  FDragging = false;
  if (FNumThumbGlyphs > 1) repaint();
  if (FTracking) {
    FTracking = false;
    if (OnTrackEnd) OnTrackEnd(this);
  }
}

}  // namespace velmar
