// TMMCustomBitmapListControl: the base of the windowless controls that draw
// from a TMMBitmapList (buttons, sliders, radio buttons). It observes its list
// and repaints when the list changes, drops the list when the list is
// destroyed, and works out the transparent colour its bitmaps are drawn with.
//
// Refers to the list without owning it. Main thread only.
#pragma once

#include <QImage>
#include <functional>

#include "controls/bitmap_list.h"
#include "controls/graphic_control.h"

namespace velmar {

enum class TTransparentMode { tmAuto, tmFixed };

// The events the bitmap controls share.
using TMMGetGylphIndex = std::function<void(TObject* Sender, bool IsDown, int& Index)>;
using TMouseEvent = std::function<void(TObject* Sender, Qt::MouseButton Button,
                                       Qt::KeyboardModifiers Shift, int X, int Y)>;
using TMouseMoveEvent =
    std::function<void(TObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;

class TMMCustomBitmapListControl : public TMMGraphicControl {
 public:
  explicit TMMCustomBitmapListControl(QWidget* Parent = nullptr);

  TMMBitmapList* BitmapList() const { return FLink.List(); }
  void SetBitmapList(TMMBitmapList* Value);
  int BitmapIndex() const { return FBitmapIndex; }
  // Values below -1 become -1.
  void SetBitmapIndex(int Value);
  // The list's item drawn while the control is disabled, of the same size and
  // glyph count as the current one; -1 (the default): the control derives the
  // disabled look from the current bitmap.
  int DisabledBitmapIndex() const { return FDisabledBitmapIndex; }
  void SetDisabledBitmapIndex(int Value);
  int Tag2() const { return FTag2; }
  void SetTag2(int Value) { FTag2 = Value; }

  // clDefault selects the automatic colour (and tmAuto); any other colour tmFixed.
  TColor TransparentColor() const { return FTransparentColor; }
  void SetTransparentColor(TColor Value);
  TTransparentMode TransparentMode() const { return FTransparentMode; }
  void SetTransparentMode(TTransparentMode Value);
  // The colour that is left out when drawing: the bottom-left pixel of the
  // current bitmap in automatic mode (clDefault without a bitmap), else the
  // fixed colour.
  TColor GetTransparentColor() const;

  // The list's item at BitmapIndex, or null.
  const TBitmap* CurrentBitmap() const;
  // The item at DisabledBitmapIndex when it exists and has the current one's
  // size, else null.
  const TBitmap* DisabledBitmap() const;

 protected:
  // The bitmap, list or index changed: the default repaints at once.
  virtual void BitmapChanged();
  // As the transparent draw wants it: 0x00RRGGBB, or -1 for "draw everything".
  static std::int64_t KeyOf(TColor Color);
  // The list's item at Index when it exists and is not empty, else null.
  const TBitmap* ListItem(int Index) const;
  // The caption's accelerator (&X) presses the control: AcceleratorPressed runs
  // when it is typed and the control is enabled. A new caption replaces it.
  void SetAccelerator(const QString& Caption);
  virtual void AcceleratorPressed() {}
  bool event(QEvent* Event) override;

 private:
  TMMBitmapListLink FLink{[this] { BitmapChanged(); }};
  int FBitmapIndex = -1;
  int FDisabledBitmapIndex = -1;
  int FTag2 = 0;
  int FAccelerator = 0;  // the grabbed shortcut's id, 0 for none
  TColor FTransparentColor = clDefault;
  TTransparentMode FTransparentMode = TTransparentMode::tmAuto;
};

}  // namespace velmar
