// Colours as the designed controls give them: TColor values in the $00BBGGRR
// layout, and the system colours (high bit set) of the classic desktop scheme,
// turned into Qt colours for drawing.
#pragma once

#include <QColor>
#include <cstdint>

namespace velmar {

using TColor = std::int32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clGray = 0x808080;

// System colours: the high bit and the scheme's index.
inline constexpr TColor clActiveCaption = static_cast<TColor>(0x80000002u);
inline constexpr TColor clInactiveCaption = static_cast<TColor>(0x80000003u);
inline constexpr TColor clWindow = static_cast<TColor>(0x80000005u);
inline constexpr TColor clWindowFrame = static_cast<TColor>(0x80000006u);
inline constexpr TColor clWindowText = static_cast<TColor>(0x80000008u);
inline constexpr TColor clCaptionText = static_cast<TColor>(0x80000009u);
inline constexpr TColor clInactiveCaptionText = static_cast<TColor>(0x80000013u);
inline constexpr TColor clBtnDkShadow = static_cast<TColor>(0x80000015u);
inline constexpr TColor clBtnFace = static_cast<TColor>(0x8000000Fu);
inline constexpr TColor clBtnShadow = static_cast<TColor>(0x80000010u);
inline constexpr TColor clBtnHighlight = static_cast<TColor>(0x80000014u);

// "No colour chosen": the control picks one itself.
inline constexpr TColor clDefault = 0x20000000;

// The colour to draw with: a plain TColor as it is, a system colour from the
// classic scheme (button face silver, highlight white, shadow grey, frame black).
QColor ToQColor(TColor Color);

// A caption's pen: its colour, or while disabled the same colour at 40 %
// opacity, which reads as dimmed on a light or a dark face alike.
QColor CaptionColor(QColor Color, bool Enabled);
// The RGB value (0x00RRGGBB) of a colour, system colours resolved.
std::uint32_t ColorToRGB(TColor Color);
// A TColor (0x00BBGGRR) from an RGB value (0x00RRGGBB).
TColor RGBToColor(std::uint32_t Rgb);

}  // namespace velmar
