#include "controls/dib_canvas.h"

#include <QPainter>

#include "stream/errors.h"

namespace velmar {

TMMDIBCanvas::TMMDIBCanvas() : FImage(1, 1, QImage::Format_RGB32) {
  FImage.fill(Qt::black);
}

void TMMDIBCanvas::SetSize(int Width, int Height) {
  Width = std::max(Width, 1);
  Height = std::max(Height, 1);
  if (Width == FImage.width() && Height == FImage.height()) return;
  FImage = QImage(Width, Height, QImage::Format_RGB32);
  FImage.fill(Qt::black);
}

void TMMDIBCanvas::SetBitsPerPixel(int Value) {
  if (Value != 8 && Value != 24) throw EMMDIBError("Bitlength not supported yet");
  FBitsPerPixel = Value;
}

void TMMDIBCanvas::FillRect(const QRect& R, TColor Color) {
  const QRect Clipped = R.intersected(FImage.rect());
  if (Clipped.isEmpty()) return;
  const QRgb Pixel = ToQColor(Color).rgb();
  uchar* Bits = FImage.bits();
  const qsizetype Stride = FImage.bytesPerLine();
  for (int y = Clipped.top(); y <= Clipped.bottom(); ++y) {
    auto* Line = reinterpret_cast<QRgb*>(Bits + y * Stride);
    std::fill(Line + Clipped.left(), Line + Clipped.right() + 1, Pixel);
  }
}

void TMMDIBCanvas::CopyFrom(const TMMDIBCanvas& Source) {
  if (Source.FImage.size() == FImage.size()) {
    std::copy_n(Source.FImage.constBits(), FImage.sizeInBytes(), FImage.bits());
  } else {
    FImage = Source.FImage.copy();
  }
}

void TMMDIBCanvas::CopyRect(const TMMDIBCanvas& Source, const QRect& R) {
  const QRect Clipped = R.intersected(FImage.rect()).intersected(Source.FImage.rect());
  if (Clipped.isEmpty()) return;
  for (int y = Clipped.top(); y <= Clipped.bottom(); ++y) {
    const auto* From = reinterpret_cast<const QRgb*>(Source.FImage.constScanLine(y));
    std::copy(From + Clipped.left(), From + Clipped.right() + 1,
              reinterpret_cast<QRgb*>(FImage.scanLine(y)) + Clipped.left());
  }
}

void TMMDIBCanvas::DotRect(const QRect& R, TColor Color) {
  const QRgb Pixel = ToQColor(Color).rgb();
  for (int y = R.top(); y <= R.bottom(); y += 2) {
    if (y < 0 || y >= FImage.height()) continue;
    auto* Line = reinterpret_cast<QRgb*>(FImage.scanLine(y));
    for (int x = R.left(); x <= R.right(); x += 2)
      if (x >= 0 && x < FImage.width()) Line[x] = Pixel;
  }
}

void TMMDIBCanvas::DrawTo(QPainter& Target, const QPoint& At) const {
  Target.drawImage(At, FImage);
}

TMMDIBGraphicControl::TMMDIBGraphicControl(QWidget* Parent) : TMMGraphicControl(Parent) {}

void TMMDIBGraphicControl::SetBitsPerPixel(int Value) {
  FCanvas.SetBitsPerPixel(Value);
}

TMMDIBCanvas& TMMDIBGraphicControl::Canvas() {
  if (FPending) Render();
  return FCanvas;
}

const TMMDIBCanvas& TMMDIBGraphicControl::Canvas() const {
  if (FPending) const_cast<TMMDIBGraphicControl*>(this)->Render();
  return FCanvas;
}

void TMMDIBGraphicControl::Render() {
  FPending = false;
  const QRect Inner = InnerRect();
  FCanvas.SetSize(Inner.width(), Inner.height());
  DrawCanvas();
}

void TMMDIBGraphicControl::DrawNow() {
  FPending = true;
  update(InnerRect());
}

void TMMDIBGraphicControl::DrawNow(const QRect& Part) {
  FPending = true;
  update(Part.translated(InnerRect().topLeft()) & InnerRect());
}

QRect TMMDIBGraphicControl::Paint(QPainter& Canvas) {
  const QRect Inner = TMMGraphicControl::Paint(Canvas);
  if (FPending) Render();
  FCanvas.DrawTo(Canvas, Inner.topLeft());
  return Inner;
}

}  // namespace velmar
