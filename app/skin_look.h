// The program's look beyond the skin's bitmaps: the dark window colours that
// match the skin, the fields in lime on black, the label fonts (the desktop's
// sans-serif in place of the design's 8-point "MS Sans Serif"), and the skin's
// pictures as images.
//
// Main thread only.
#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>

#include "controls/bitmap_list.h"

namespace velmar {

// The designed 8-point font on this platform: 10 pixels, DejaVu Sans.
QFont LabelFont(bool Bold);
// Dark window colours with light text, as the skin's panels are.
void UseDarkLook(QWidget* Widget);
// Black with bold lime text (edit fields and lists of the dialogs).
void UseLimeOnBlack(QWidget* Widget);
// The list's item as an image (a null image when there is none).
QImage SkinImage(TMMBitmapList& List, int Index);

}  // namespace velmar
