// TFormAudioGraphics: the never-shown holder of the skin's four bitmap lists,
// which the skinned controls of every window refer to by list and index. The
// lists are embedded in the program and loaded when the form is created.
//
// Owns the lists; created on the main thread after the main window and kept
// for the program's life.
#pragma once

#include <QWidget>

#include "controls/bitmap_list.h"

namespace velmar {

class TFormAudioGraphics : public QWidget {
 public:
  // Loads the embedded lists; a damaged one raises EStreamError.
  explicit TFormAudioGraphics(QWidget* Parent = nullptr);

  TMMBitmapList FButtons;
  TMMBitmapList FRecordButtons;
  TMMBitmapList FBackGrounds;
  TMMBitmapList FSplitButtons;
};

}  // namespace velmar
