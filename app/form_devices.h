// TFormDevices: the modal "Devices" window: the recording and the output
// device, each list starting with the wave mapper (device -1) when the kind
// has devices at all. Made fresh for every use.
//
// Main thread only.
#pragma once

#include <QComboBox>
#include <QDialog>

#include "app/vl_controls.h"
#include "stream/sound_component.h"

namespace velmar {

class TFormAudioGraphics;

class TFormDevices : public QDialog {
 public:
  TFormDevices(TFormAudioGraphics& Skin, QWidget* Parent = nullptr);

  // Fills the lists, selects each component's device (number + 1), shows the
  // window and on OK writes the selections minus one back (-2 for an empty list).
  void Execute(TMMCustomSoundComponent& WaveIn, TMMCustomSoundComponent& WaveOut);
  // Fills the lists and selects the devices without showing the window.
  void Fill(const TMMCustomSoundComponent& WaveIn, const TMMCustomSoundComponent& WaveOut);
  // OK: the selections to the components.
  void Apply(TMMCustomSoundComponent& WaveIn, TMMCustomSoundComponent& WaveOut) const;

  std::function<void()> OnHelp;

  QComboBox* cbRecDevices;
  QComboBox* cbOutDevices;
  TVLButton* btnOk;
  TVLButton* btnCancel;
  TVLButton* btnHelp;
};

}  // namespace velmar
