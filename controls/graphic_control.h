// TMMGraphicControl: the windowless control of the library, a QWidget that owns
// its bevel (TMMBevel) and paints frame and background; Transparent lets the
// parent's drawing show through the inner area.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

#include "controls/bevel.h"
#include "platform/component.h"

namespace velmar {

// Also a TObject, so that it is the Sender of the library's events.
class TMMGraphicControl : public QWidget, public TObject {
 public:
  explicit TMMGraphicControl(QWidget* Parent = nullptr);
  ~TMMGraphicControl() override;

  TMMBevel& Bevel() { return *FBevel; }
  const TMMBevel& Bevel() const { return *FBevel; }
  // Takes the given bevel's values.
  void SetBevel(const TMMBevel& Value) { FBevel->Assign(Value); }
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);

  // The bevel's total width (0 without one) and the client rectangle inset by it.
  int BevelExtend() const { return FBevel->BevelExtend(); }
  QRect InnerRect() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  // Draws the bevel and, unless transparent, fills what it leaves with Color;
  // returns the inner rectangle.
  virtual QRect Paint(QPainter& Canvas);
  // The bevel or the colour changed: repaints.
  virtual void BevelChanged();
  virtual void ColorChanged();

 private:
  std::unique_ptr<TMMBevel> FBevel;
  bool FTransparent = false;
  TColor FColor = clBtnFace;
};

}  // namespace velmar
