// TMMBitmapSlider: a windowless track-and-thumb slider drawn from two strips
// of a TMMBitmapList (the track at BitmapIndex, the thumb at BitmapThumbIndex)
// with an integer range, a linear or logarithmic (decibel) value scale,
// click-to-jump and drag, and OnChange / OnTrack / OnTrackEnd.
//
// The thumb value is what the thumb shows; Position is the value on the
// chosen scale. Refers to the list without owning it. Main thread only.
#pragma once

#include <QImage>
#include <algorithm>
#include <functional>

#include "controls/bitmap_list_control.h"

namespace velmar {

enum class TMMOrientation { orVertical, orHorizontal };
enum class TMMZeroPosition { zpBottomLeft, zpTopRight };

using TMMGetBackGround = std::function<void(TObject* Sender, QImage& Bmp, const QRect& R)>;

class TMMBitmapSlider : public TMMCustomBitmapListControl {
 public:
  explicit TMMBitmapSlider(QWidget* Parent = nullptr);

  int BitmapBackIndex() const { return FBitmapBackIndex; }
  void SetBitmapBackIndex(int Value) { FBitmapBackIndex = std::max(Value, -1); }
  int BitmapThumbIndex() const { return FBitmapThumbIndex; }
  void SetBitmapThumbIndex(int Value);
  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int Value);
  int NumThumbGlyphs() const { return FNumThumbGlyphs; }
  void SetNumThumbGlyphs(int Value);
  int Margin() const { return FMargin; }
  void SetMargin(int Value);
  int ThumbMargin() const { return FThumbMargin; }
  void SetThumbMargin(int Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  bool HandCursor() const { return FHandCursor; }
  void SetHandCursor(bool Value) { FHandCursor = Value; }
  Qt::CursorShape ThumbCursor() const { return FThumbCursor; }
  void SetThumbCursor(Qt::CursorShape Value) { FThumbCursor = Value; }
  int MinValue() const { return FMinValue; }
  void SetMinValue(int Value) { SetRange(Value, FMaxValue); }
  int MaxValue() const { return FMaxValue; }
  void SetMaxValue(int Value) { SetRange(FMinValue, Value); }
  void SetRange(int MinValue, int MaxValue);
  int LineSize() const { return FLineSize; }
  void SetLineSize(int Value) { FLineSize = Value; }
  int PageSize() const { return FPageSize; }
  void SetPageSize(int Value) { FPageSize = Value; }
  TMMOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TMMOrientation Value);
  TMMZeroPosition ZeroPosition() const { return FZeroPosition; }
  void SetZeroPosition(TMMZeroPosition Value);
  int Position() const;
  void SetPosition(int Value) { WritePosition(Value, false); }
  bool Logarithmic() const { return FLogarithmic; }
  void SetLogarithmic(bool Value);
  int Sensitivity() const { return FSensitivity; }
  void SetSensitivity(int Value);

  int ThumbValue() const { return FThumbValue; }
  QRect ThumbRect() const;
  // The value a click at (X, Y) jumps to.
  int ValueFromPoint(int X, int Y) const;
  bool Dragging() const { return FDragging; }
  // The colour left out: the thumb strip's bottom-left pixel in automatic
  // mode (the track strip's without a thumb), else the fixed colour.
  TColor SliderTransparentColor() const;

  TNotifyEvent OnChange;
  TNotifyEvent OnTrack;
  TNotifyEvent OnTrackEnd;
  TMMGetGylphIndex OnGetGlyphIndex;
  TMMGetGylphIndex OnGetThumbGlyphIndex;
  TMMGetBackGround OnGetBackground;

 protected:
  QRect Paint(QPainter& Canvas) override;
  void BitmapChanged() override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  bool Horizontal() const { return FOrientation == TMMOrientation::orHorizontal; }
  int Range() const { return FMaxValue - FMinValue; }
  void WritePosition(int Value, bool Force);
  void SetThumbValue(int Value, bool Force);
  void TakeThumbSize();
  void ApplyAutoSize();
  void DrawTrack(QPainter& Canvas);
  void UpdateCursor(const QPoint& P);

  int FBitmapBackIndex = -1;
  int FBitmapThumbIndex = -1;
  int FNumGlyphs = 1;
  int FNumThumbGlyphs = 1;
  int FMargin = 2;
  int FThumbMargin = 0;
  bool FAutoSize = false;
  bool FHandCursor = false;
  Qt::CursorShape FThumbCursor = Qt::ArrowCursor;
  int FMinValue = 0;
  int FMaxValue = 10;
  int FLineSize = 1;
  int FPageSize = 5;
  TMMOrientation FOrientation = TMMOrientation::orHorizontal;
  TMMZeroPosition FZeroPosition = TMMZeroPosition::zpBottomLeft;
  bool FLogarithmic = false;
  int FSensitivity = -24;

  int FThumbValue = 0;
  bool FDragging = false;
  bool FTracking = false;
  int FPressCoord = 0;
  int FPressValue = 0;
  QRect FThumbRect;
  std::uint8_t FThumbWidth = 0;
  std::uint8_t FThumbHeight = 0;
};

}  // namespace velmar
