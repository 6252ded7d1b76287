// Between the skin's TBitmap and Qt's QImage, and the transparent draw every
// bitmap control uses: pixels of the transparent colour leave the destination
// as it was, every other pixel replaces it.
//
// Main thread (the draw); the conversions are pure.
#pragma once

#include <QImage>
#include <QPainter>

#include "controls/bitmap.h"
#include "controls/colors.h"

namespace velmar {

// The bitmap's colours as an RGB32 image.
QImage BitmapToImage(const TBitmap& Bitmap);
// An image as a bitmap of the given depth. Indexed depths take the image's own
// colour table when it is Format_Indexed8 with at most 2^Bits colours;
// otherwise the image's most frequent colours make the palette and each
// pixel takes the nearest entry.
TBitmap ImageToBitmap(const QImage& Image, int BitsPerPixel);

// Draws Source (a rectangle of Image) at At; pixels whose RGB equals
// TransparentRGB (0x00RRGGBB) are left out. A negative TransparentRGB draws all.
void DrawTransparent(QPainter& Canvas, QPoint At, const QImage& Image, QRect Source,
                     std::int64_t TransparentRGB);

}  // namespace velmar
