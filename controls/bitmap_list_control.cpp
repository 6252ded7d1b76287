#include "controls/bitmap_list_control.h"

namespace velmar {

TColor RGBToColor(std::uint32_t Rgb) {
  return static_cast<TColor>(((Rgb & 0xFF) << 16) | (Rgb & 0xFF00) | ((Rgb >> 16) & 0xFF));
}

TMMCustomBitmapListControl::TMMCustomBitmapListControl(QWidget* Parent)
    : TMMGraphicControl(Parent) {
  FObserver.OnNotify = [this](TObject*, TObject* Data) { ListNotify(Data); };
}

TMMCustomBitmapListControl::~TMMCustomBitmapListControl() {
  if (FBitmapList) FBitmapList->Observers().Detach(&FObserver);
}

void TMMCustomBitmapListControl::SetBitmapList(TMMBitmapList* Value) {
  if (Value == FBitmapList) return;
  if (FBitmapList) FBitmapList->Observers().Detach(&FObserver);
  FBitmapList = Value;
  if (FBitmapList) FBitmapList->Observers().Attach(&FObserver);
  BitmapChanged();
}

void TMMCustomBitmapListControl::SetBitmapIndex(int Value) {
  if (Value < -1) Value = -1;
  if (Value == FBitmapIndex) return;
  FBitmapIndex = Value;
  BitmapChanged();
}

void TMMCustomBitmapListControl::SetTransparentColor(TColor Value) {
  if (Value == FTransparentColor) return;
  FTransparentColor = Value;
  FTransparentMode = Value == clDefault ? TTransparentMode::tmAuto : TTransparentMode::tmFixed;
  BitmapChanged();
}

void TMMCustomBitmapListControl::SetTransparentMode(TTransparentMode Value) {
  if (Value == FTransparentMode) return;
  if (Value == TTransparentMode::tmFixed) {
    FTransparentColor = GetTransparentColor();
    FTransparentMode = Value;
  } else {
    FTransparentMode = Value;
    FTransparentColor = clDefault;
  }
  BitmapChanged();
}

TColor TMMCustomBitmapListControl::GetTransparentColor() const {
  if (FTransparentColor != clDefault) return FTransparentColor;
  const TBitmap* Bitmap = CurrentBitmap();
  if (!Bitmap || Bitmap->Empty()) return clDefault;
  return RGBToColor(Bitmap->Pixel(0, Bitmap->Height() - 1));
}

const TBitmap* TMMCustomBitmapListControl::CurrentBitmap() const {
  if (!FBitmapList || FBitmapIndex < 0 || FBitmapIndex >= FBitmapList->Count()) return nullptr;
  return &FBitmapList->Bitmaps(FBitmapIndex);
}

void TMMCustomBitmapListControl::BitmapChanged() {
  repaint();
}

std::int64_t TMMCustomBitmapListControl::KeyOf(TColor Color) {
  if (Color == clDefault) return -1;
  return ColorToRGB(Color);
}

void TMMCustomBitmapListControl::ListNotify(TObject*) {
  if (FBitmapList && FBitmapList->HasState(csDestroying)) {
    FBitmapList->Observers().Detach(&FObserver);
    FBitmapList = nullptr;
  }
  BitmapChanged();
}

}  // namespace velmar
