#include "controls/panel_fill.h"

#include <QPainter>

#include "controls/bitmap_image.h"

namespace velmar {

TMMPanel::TMMPanel(QWidget* Parent) : QWidget(Parent), FBevel(std::make_unique<TMMBevel>()) {
  setAttribute(Qt::WA_OpaquePaintEvent, true);
  FBevel->OnChange = [this](TObject*) {
    const int e = FBevel->BevelExtend();
    setContentsMargins(e, e, e, e);
    update();
  };
  const int e = FBevel->BevelExtend();
  setContentsMargins(e, e, e, e);
}

TMMPanel::~TMMPanel() {
  FBevel->OnChange = nullptr;
}

void TMMPanel::SetAlignment(Qt::Alignment Value) {
  FAlignment = Value;
  update();
}

void TMMPanel::SetCaption(const QString& Value) {
  FCaption = Value;
  update();
}

void TMMPanel::SetColor(TColor Value) {
  FColor = Value;
  update();
}

void TMMPanel::SetFontColor(TColor Value) {
  FFontColor = Value;
  update();
}

void TMMPanel::paintEvent(QPaintEvent*) {
  QPainter Canvas(this);
  FillClient(Canvas, rect());
  FBevel->PaintBevel(Canvas, rect(), !FillsBevel());
  if (FCaption.isEmpty()) return;
  Canvas.setPen(ToQColor(FFontColor));
  Canvas.setFont(font());
  Canvas.drawText(contentsRect(), static_cast<int>(FAlignment | Qt::AlignVCenter), FCaption);
}

void TMMPanel::FillClient(QPainter& Canvas, const QRect& R) {
  Canvas.fillRect(R, ToQColor(FColor));
}

void TMMPanelFill::SetBitmapList(TMMBitmapList* Value) {
  FLink.SetList(Value);
  update();
}

void TMMPanelFill::SetBitmapIndex(int Value) {
  if (Value < -1) Value = -1;
  FBitmapIndex = Value;
  update();
}

void TMMPanelFill::SetFillBevel(bool Value) {
  FFillBevel = Value;
  update();
}

void TMMPanelFill::FillClient(QPainter& Canvas, const QRect& R) {
  if (OnFillPanel) {
    OnFillPanel(this, Canvas, R);
    return;
  }
  const TBitmap* Bitmap = FLink.Item(FBitmapIndex);
  if (!Bitmap || Bitmap->Empty()) {
    TMMPanel::FillClient(Canvas, R);
    return;
  }
  // Tiles from the top-left corner, the last column and row clipped.
  const QImage Tile = BitmapToImage(*Bitmap);
  Canvas.save();
  Canvas.setClipRect(R);
  for (int y = R.top(); y <= R.bottom(); y += Tile.height())
    for (int x = R.left(); x <= R.right(); x += Tile.width()) Canvas.drawImage(x, y, Tile);
  Canvas.restore();
}

}  // namespace velmar
