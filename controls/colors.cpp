#include "controls/colors.h"

namespace velmar {

std::uint32_t ColorToRGB(TColor Color) {
  std::uint32_t c = static_cast<std::uint32_t>(Color);
  if (c & 0x80000000u) {
    switch (c & 0xFF) {
      case 0x02:  // active caption: navy
        c = 0x800000;
        break;
      case 0x03:  // inactive caption
        c = clGray;
        break;
      case 0x05:  // window
      case 0x09:  // caption text
        c = clWhite;
        break;
      case 0x13:  // inactive caption text
        c = clSilver;
        break;
      case 0x06:  // window frame
      case 0x08:  // window text
      case 0x15:  // dark shadow
        c = clBlack;
        break;
      case 0x0F:  // button face
        c = clSilver;
        break;
      case 0x10:  // button shadow
        c = clGray;
        break;
      case 0x14:  // button highlight
        c = clWhite;
        break;
      default:
        c = clSilver;
    }
  }
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

TColor RGBToColor(std::uint32_t Rgb) {
  return static_cast<TColor>(((Rgb & 0xFF) << 16) | (Rgb & 0xFF00) | ((Rgb >> 16) & 0xFF));
}

QColor ToQColor(TColor Color) {
  return QColor::fromRgb(ColorToRGB(Color));
}

QColor CaptionColor(QColor Color, bool Enabled) {
  if (!Enabled) Color.setAlphaF(0.4f);
  return Color;
}

}  // namespace velmar
