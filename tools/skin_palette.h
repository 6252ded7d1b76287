// The skin's colours, shared by the generator and the gallery: a dark control
// panel, lime and green accents that match the meters' black grid with lime
// text, a red record lamp, light grey symbols.
#pragma once

#include <QColor>

namespace velmar {

inline const QColor kKey(255, 255, 255);  // the transparent colour of every picture
inline const QColor kPanelTop(0x3a, 0x40, 0x46);
inline const QColor kPanelBottom(0x1c, 0x1f, 0x22);
inline const QColor kPanelMid(0x2b, 0x30, 0x34);  // what pictures on the panel sit on
inline const QColor kDialog(0x2a, 0x2e, 0x33);
inline const QColor kPlateTop(0x4a, 0x51, 0x58);
inline const QColor kPlateBottom(0x26, 0x2a, 0x2e);
inline const QColor kRim(0x0e, 0x10, 0x11);
inline const QColor kSymbol(0xe4, 0xe8, 0xeb);
inline const QColor kLime(0x9c, 0xff, 0x3a);
inline const QColor kGreen(0x3f, 0xa5, 0x35);
inline const QColor kLampOff(0x16, 0x22, 0x14);  // unlit: well below any lit colour
inline const QColor kRecord(0xd9, 0x2b, 0x24);
inline const QColor kRecordLight(0xff, 0x8a, 0x80);
inline const QColor kRecordOff(0x3a, 0x14, 0x12);

}  // namespace velmar
