#include "controls/colors.h"

namespace velmar {

QColor ToQColor(TColor Color) {
  std::uint32_t c = static_cast<std::uint32_t>(Color);
  if (c & 0x80000000u) {
    switch (c & 0xFF) {
      case 0x06:  // window frame
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
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

}  // namespace velmar
