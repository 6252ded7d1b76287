#include "controls/bitmap_list_control.h"

#include <QEvent>
#include <QKeySequence>

namespace velmar {

TMMCustomBitmapListControl::TMMCustomBitmapListControl(QWidget* Parent)
    : TMMGraphicControl(Parent) {}

void TMMCustomBitmapListControl::SetBitmapList(TMMBitmapList* Value) {
  if (Value == FLink.List()) return;
  FLink.SetList(Value);
  BitmapChanged();
}

void TMMCustomBitmapListControl::SetBitmapIndex(int Value) {
  if (Value < -1) Value = -1;
  if (Value == FBitmapIndex) return;
  FBitmapIndex = Value;
  BitmapChanged();
}

void TMMCustomBitmapListControl::SetDisabledBitmapIndex(int Value) {
  if (Value < -1) Value = -1;
  if (Value == FDisabledBitmapIndex) return;
  FDisabledBitmapIndex = Value;
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
  return FLink.Item(FBitmapIndex);
}

const TBitmap* TMMCustomBitmapListControl::DisabledBitmap() const {
  const TBitmap* Current = CurrentBitmap();
  const TBitmap* Disabled = ListItem(FDisabledBitmapIndex);
  if (!Current || !Disabled || Disabled->Width() != Current->Width() ||
      Disabled->Height() != Current->Height())
    return nullptr;
  return Disabled;
}

const TBitmap* TMMCustomBitmapListControl::ListItem(int Index) const {
  const TBitmap* Bitmap = FLink.Item(Index);
  return Bitmap && !Bitmap->Empty() ? Bitmap : nullptr;
}

void TMMCustomBitmapListControl::SetAccelerator(const QString& Caption) {
  if (FAccelerator) releaseShortcut(FAccelerator);
  const QKeySequence Key = QKeySequence::mnemonic(Caption);
  FAccelerator = Key.isEmpty() ? 0 : grabShortcut(Key);
}

bool TMMCustomBitmapListControl::event(QEvent* Event) {
  if (Event->type() != QEvent::Shortcut) return TMMGraphicControl::event(Event);
  if (isEnabled()) AcceleratorPressed();
  return true;
}

void TMMCustomBitmapListControl::BitmapChanged() {
  repaint();
}

std::int64_t TMMCustomBitmapListControl::KeyOf(TColor Color) {
  if (Color == clDefault) return -1;
  return ColorToRGB(Color);
}

}  // namespace velmar
