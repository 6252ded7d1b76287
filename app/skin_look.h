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

#include "controls/bitmap_button.h"
#include "controls/bitmap_list.h"
#include "controls/bitmap_slider.h"

class QLabel;

namespace velmar {

// The designed 8-point font on this platform: 10 pixels, DejaVu Sans.
QFont LabelFont(bool Bold);
// Dark window colours with light text, as the skin's panels are.
void UseDarkLook(QWidget* Widget);
// Black with bold lime text (edit fields and lists of the dialogs).
void UseLimeOnBlack(QWidget* Widget);
// The list's item as an image (a null image when there is none).
QImage SkinImage(TMMBitmapList& List, int Index);
// A widget's text colour.
void SetTextColor(QWidget* Widget, QColor Color);
// A label on the panel: light text in the label font, sized to its caption.
QLabel* SkinLabel(QWidget* Parent, const QString& Caption, QPoint At, bool Bold = true);
// A skinned push button of List's picture Index, drawn as it is (bsNone), and
// its disabled look while disabled.
// The skin's lists hold each picture and then, in their second half, its
// disabled look: the index of Index's.
int SkinDisabledIndex(const TMMBitmapList& List, int Index);
TMMBitmapButton* SkinButton(QWidget* Parent, TMMBitmapList& List, int Index, QRect Geometry);
// A slider of the recorder's skin (track 10, thumb 9 of List, white left out).
TMMBitmapSlider* SkinSlider(QWidget* Parent, TMMBitmapList& List, QRect Geometry);

}  // namespace velmar
