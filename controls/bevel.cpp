#include "controls/bevel.h"

namespace velmar {

void TMMBevel::Assign(const TMMBevel& Source) {
  BeginUpdate();
  SetBevelInner(Source.FBevelInner);
  SetBevelOuter(Source.FBevelOuter);
  SetBevelInnerWidth(Source.FBevelInnerWidth);
  SetBevelOuterWidth(Source.FBevelOuterWidth);
  SetBorderStyle(Source.FBorderStyle);
  SetBorderWidth(Source.FBorderWidth);
  SetBorderSpace(Source.FBorderSpace);
  SetBorderColor(Source.FBorderColor);
  SetBorderSpaceColor(Source.FBorderSpaceColor);
  SetOuterLightColor(Source.FOuterLightColor);
  SetOuterShadowColor(Source.FOuterShadowColor);
  SetInnerLightColor(Source.FInnerLightColor);
  SetInnerShadowColor(Source.FInnerShadowColor);
  EndUpdate();
}

int TMMBevel::BevelExtend() const {
  return FBorderWidth + FBorderSpace + (FBevelOuter != TBevelCut::bvNone ? FBevelOuterWidth : 0) +
         (FBevelInner != TBevelCut::bvNone ? FBevelInnerWidth : 0) +
         (FBorderStyle != TBorderStyle::bsNone ? 1 : 0);
}

void Frame3D(QPainter& Canvas, QRect& R, TColor TopLeft, TColor BottomRight, int Width) {
  // The top and left edges first; the bottom and right edges then take the
  // top-right and bottom-left corners.
  const QColor Light = ToQColor(TopLeft), Dark = ToQColor(BottomRight);
  for (int i = 0; i < Width && R.width() > 0 && R.height() > 0; ++i) {
    const int L = R.left(), T = R.top(), Rt = R.right(), B = R.bottom();
    Canvas.fillRect(L, T, R.width(), 1, Light);
    Canvas.fillRect(L, T, 1, R.height(), Light);
    Canvas.fillRect(L, B, R.width(), 1, Dark);
    Canvas.fillRect(Rt, T, 1, R.height(), Dark);
    R.adjust(1, 1, -1, -1);
  }
}

namespace {

void Band(QPainter& Canvas, QRect& R, TColor Color, int Width, bool Paint) {
  if (Width <= 0) return;
  if (Paint) {
    const QColor c = ToQColor(Color);
    Canvas.fillRect(R.left(), R.top(), R.width(), Width, c);
    Canvas.fillRect(R.left(), R.bottom() - Width + 1, R.width(), Width, c);
    Canvas.fillRect(R.left(), R.top(), Width, R.height(), c);
    Canvas.fillRect(R.right() - Width + 1, R.top(), Width, R.height(), c);
  }
  R.adjust(Width, Width, -Width, -Width);
}

void Cut(QPainter& Canvas, QRect& R, TBevelCut Kind, int Width, TColor Light, TColor Shadow) {
  if (Kind == TBevelCut::bvLowered) Frame3D(Canvas, R, Shadow, Light, Width);
  if (Kind == TBevelCut::bvRaised) Frame3D(Canvas, R, Light, Shadow, Width);
  // A space takes its width unpainted, as BevelExtend counts it.
  if (Kind == TBevelCut::bvSpace) R.adjust(Width, Width, -Width, -Width);
}

}  // namespace

QRect TMMBevel::PaintBevel(QPainter& Canvas, QRect R, bool PaintBorder) const {
  if (FBorderStyle == TBorderStyle::bsSingle) Frame3D(Canvas, R, clWindowFrame, clWindowFrame, 1);
  Cut(Canvas, R, FBevelOuter, FBevelOuterWidth, FOuterLightColor, FOuterShadowColor);
  Band(Canvas, R, FBorderColor, FBorderWidth, PaintBorder);
  Cut(Canvas, R, FBevelInner, FBevelInnerWidth, FInnerLightColor, FInnerShadowColor);
  Band(Canvas, R, FBorderSpaceColor, FBorderSpace, true);
  return R;
}

}  // namespace velmar
