#include "controls/bitmap_image.h"

#include <algorithm>
#include <climits>
#include <map>
#include <vector>

namespace velmar {

QImage BitmapToImage(const TBitmap& Bitmap) {
  QImage Image(Bitmap.Width(), Bitmap.Height(), QImage::Format_RGB32);
  for (int y = 0; y < Bitmap.Height(); ++y) {
    auto* Line = reinterpret_cast<QRgb*>(Image.scanLine(y));
    for (int x = 0; x < Bitmap.Width(); ++x) Line[x] = 0xFF000000u | Bitmap.Pixel(x, y);
  }
  return Image;
}

TBitmap ImageToBitmap(const QImage& Image, int BitsPerPixel) {
  TBitmap Result(Image.width(), Image.height(), BitsPerPixel);
  if (!Result.Indexed()) {
    const QImage Rgb = Image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < Rgb.height(); ++y) {
      const auto* Line = reinterpret_cast<const QRgb*>(Rgb.constScanLine(y));
      for (int x = 0; x < Rgb.width(); ++x)
        Result.SetRaw(x, y, BitsPerPixel == 32 ? Line[x] : (Line[x] & 0xFFFFFF));
    }
    return Result;
  }
  auto& Palette = Result.Palette();
  const bool OwnTable = Image.format() == QImage::Format_Indexed8 &&
                        Image.colorCount() <= static_cast<int>(Palette.size());
  if (OwnTable) {
    for (int i = 0; i < Image.colorCount(); ++i)
      Palette[static_cast<std::size_t>(i)] = Image.color(i) & 0xFFFFFF;
    for (int y = 0; y < Image.height(); ++y)
      for (int x = 0; x < Image.width(); ++x) Result.SetRaw(x, y, Image.pixelIndex(x, y));
    return Result;
  }
  // Any other image: the most frequent colours become the palette (all of
  // them when they fit), every pixel takes the nearest entry.
  std::map<QRgb, int> Histogram;
  for (int y = 0; y < Image.height(); ++y)
    for (int x = 0; x < Image.width(); ++x) ++Histogram[Image.pixel(x, y) & 0xFFFFFF];
  std::vector<std::pair<int, QRgb>> ByCount;
  for (const auto& [Rgb, Count] : Histogram) ByCount.emplace_back(-Count, Rgb);
  std::sort(ByCount.begin(), ByCount.end());
  const std::size_t Used = std::min(ByCount.size(), Palette.size());
  for (std::size_t i = 0; i < Used; ++i) Palette[i] = ByCount[i].second;
  for (int y = 0; y < Image.height(); ++y) {
    for (int x = 0; x < Image.width(); ++x) {
      const QRgb c = Image.pixel(x, y);
      std::uint32_t Best = 0;
      int BestDistance = INT_MAX;
      for (std::uint32_t i = 0; i < Used; ++i) {
        const QRgb p = Palette[i];
        const int d = (qRed(c) - qRed(p)) * (qRed(c) - qRed(p)) +
                      (qGreen(c) - qGreen(p)) * (qGreen(c) - qGreen(p)) +
                      (qBlue(c) - qBlue(p)) * (qBlue(c) - qBlue(p));
        if (d < BestDistance) BestDistance = d, Best = i;
      }
      Result.SetRaw(x, y, Best);
    }
  }
  return Result;
}

void DrawTransparent(QPainter& Canvas, QPoint At, const QImage& Image, QRect Source,
                     std::int64_t TransparentRGB) {
  Source &= Image.rect();
  if (Source.isEmpty()) return;
  if (TransparentRGB < 0) {
    Canvas.drawImage(At, Image, Source);
    return;
  }
  // The mask: the piece with the transparent colour's pixels made clear.
  QImage Piece = Image.copy(Source).convertToFormat(QImage::Format_ARGB32);
  const QRgb Key = static_cast<QRgb>(TransparentRGB) & 0xFFFFFF;
  for (int y = 0; y < Piece.height(); ++y) {
    auto* Line = reinterpret_cast<QRgb*>(Piece.scanLine(y));
    for (int x = 0; x < Piece.width(); ++x)
      if ((Line[x] & 0xFFFFFF) == Key) Line[x] = 0;
  }
  Canvas.drawImage(At, Piece);
}

}  // namespace velmar
