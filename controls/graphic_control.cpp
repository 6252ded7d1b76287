#include "controls/graphic_control.h"

#include <QPainter>

namespace velmar {

TMMGraphicControl::TMMGraphicControl(QWidget* Parent)
    : QWidget(Parent), FBevel(std::make_unique<TMMBevel>()) {
  FBevel->OnChange = [this](TObject*) { BevelChanged(); };
  setAttribute(Qt::WA_OpaquePaintEvent, true);
}

TMMGraphicControl::~TMMGraphicControl() {
  FBevel->OnChange = nullptr;
}

void TMMGraphicControl::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  // Without the opaque flag Qt paints the parent beneath the control first.
  setAttribute(Qt::WA_OpaquePaintEvent, !Value);
  update();
}

void TMMGraphicControl::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  ColorChanged();
}

QRect TMMGraphicControl::InnerRect() const {
  const int e = BevelExtend();
  return rect().adjusted(e, e, -e, -e);
}

void TMMGraphicControl::paintEvent(QPaintEvent*) {
  QPainter Canvas(this);
  Paint(Canvas);
}

QRect TMMGraphicControl::Paint(QPainter& Canvas) {
  const QRect Inner = FBevel->PaintBevel(Canvas, rect(), true);
  if (!FTransparent) Canvas.fillRect(Inner, ToQColor(FColor));
  return Inner;
}

void TMMGraphicControl::BevelChanged() {
  update();
}

void TMMGraphicControl::ColorChanged() {
  update();
}

}  // namespace velmar
