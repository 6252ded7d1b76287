// TMMBevel: the persistent description of a control's frame (outer and inner
// bevels, a border and a border space, with their widths and colours), its total
// width and its painting band by band from the outside in.
//
// Owned by its control, which sets the change callback (OnChange). Main thread.
#pragma once

#include <QPainter>
#include <QRect>

#include "controls/colors.h"
#include "stream/mm_object.h"

namespace velmar {

enum class TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum class TBorderStyle { bsNone, bsSingle };

class TMMBevel : public TMMObject {
 public:
  TBevelCut BevelInner() const { return FBevelInner; }
  void SetBevelInner(TBevelCut Value) { Set(FBevelInner, Value); }
  TBevelCut BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TBevelCut Value) { Set(FBevelOuter, Value); }
  int BevelInnerWidth() const { return FBevelInnerWidth; }
  void SetBevelInnerWidth(int Value) { Set(FBevelInnerWidth, Value < 1 ? 1 : Value); }
  int BevelOuterWidth() const { return FBevelOuterWidth; }
  void SetBevelOuterWidth(int Value) { Set(FBevelOuterWidth, Value < 1 ? 1 : Value); }
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle Value) { Set(FBorderStyle, Value); }
  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int Value) { Set(FBorderWidth, Value < 0 ? 0 : Value); }
  int BorderSpace() const { return FBorderSpace; }
  void SetBorderSpace(int Value) { Set(FBorderSpace, Value < 0 ? 0 : Value); }
  TColor BorderColor() const { return FBorderColor; }
  void SetBorderColor(TColor Value) { Set(FBorderColor, Value); }
  TColor BorderSpaceColor() const { return FBorderSpaceColor; }
  void SetBorderSpaceColor(TColor Value) { Set(FBorderSpaceColor, Value); }
  TColor InnerLightColor() const { return FInnerLightColor; }
  void SetInnerLightColor(TColor Value) { Set(FInnerLightColor, Value); }
  TColor InnerShadowColor() const { return FInnerShadowColor; }
  void SetInnerShadowColor(TColor Value) { Set(FInnerShadowColor, Value); }
  TColor OuterLightColor() const { return FOuterLightColor; }
  void SetOuterLightColor(TColor Value) { Set(FOuterLightColor, Value); }
  TColor OuterShadowColor() const { return FOuterShadowColor; }
  void SetOuterShadowColor(TColor Value) { Set(FOuterShadowColor, Value); }

  // Copies all thirteen values from another bevel inside one update bracket (the
  // outer colours before the inner ones), so the owner hears of it once.
  void Assign(const TMMBevel& Source);

  // The total width of the frame.
  int BevelExtend() const;
  // Paints the bands into R from the outside in and returns what is left inside.
  QRect PaintBevel(QPainter& Canvas, QRect R, bool PaintBorder) const;

 private:
  template <typename T>
  void Set(T& Field, T Value) {
    if (Field == Value) return;
    Field = Value;
    Changed();
  }

  TBevelCut FBevelInner = TBevelCut::bvNone;
  TBevelCut FBevelOuter = TBevelCut::bvLowered;
  int FBevelInnerWidth = 1;
  int FBevelOuterWidth = 1;
  TBorderStyle FBorderStyle = TBorderStyle::bsNone;
  int FBorderWidth = 0;
  int FBorderSpace = 0;
  TColor FBorderColor = clBtnFace;
  TColor FBorderSpaceColor = clBlack;
  TColor FInnerLightColor = clBtnHighlight;
  TColor FInnerShadowColor = clBtnShadow;
  TColor FOuterLightColor = clBtnHighlight;
  TColor FOuterShadowColor = clBtnShadow;
};

// Draws a 3-D frame of Width one-pixel rings into R (top and left edges in
// TopLeft, bottom and right in BottomRight) and shrinks R by Width.
void Frame3D(QPainter& Canvas, QRect& R, TColor TopLeft, TColor BottomRight, int Width);

}  // namespace velmar
