#include "app/form_devices.h"

#include <QLabel>

#include "app/form_audio_graphics.h"
#include "app/skin_look.h"
#include "platform/wave/wave_api.h"

namespace velmar {

namespace {

// The mapper first, then every device by its product name ("" when the query
// fails); nothing at all without devices.
template <typename Caps, typename Query>
void FillList(QComboBox* List, std::uint32_t Count, Query GetCaps) {
  List->clear();
  if (Count == 0) return;
  for (std::int64_t Device = -1; Device < static_cast<std::int64_t>(Count); ++Device) {
    Caps c{};
    const std::uint32_t Id = Device < 0 ? WAVE_MAPPER : static_cast<std::uint32_t>(Device);
    const bool Ok = GetCaps(Id, &c, sizeof(c)) == MMSYSERR_NOERROR;
    const QString Name = Ok ? QString::fromLocal8Bit(c.szPname) : QString();
    // The mapper names the device it maps to: said as the default, so that
    // the first device's name does not stand twice in the list.
    List->addItem(Device < 0 && Ok ? "Default (" + Name + ")" : Name);
  }
}

}  // namespace

TFormDevices::TFormDevices(TFormAudioGraphics& Skin, QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("Devices");
  setFixedSize(383, 167);
  UseDarkLook(this);
  setAutoFillBackground(true);
  auto* RecLabel = new QLabel("&Recording Device", this);
  RecLabel->setFont(LabelFont(true));
  RecLabel->setGeometry(12, 10, 359, 16);
  cbRecDevices = new QComboBox(this);
  cbRecDevices->setGeometry(12, 28, 359, 24);
  UseLimeOnBlack(cbRecDevices);
  RecLabel->setBuddy(cbRecDevices);
  auto* OutLabel = new QLabel("&Output Device", this);
  OutLabel->setFont(LabelFont(true));
  OutLabel->setGeometry(12, 62, 359, 16);
  cbOutDevices = new QComboBox(this);
  cbOutDevices->setGeometry(12, 80, 359, 24);
  UseLimeOnBlack(cbOutDevices);
  OutLabel->setBuddy(cbOutDevices);
  btnOk = new TVLButton(this);
  btnOk->SetPicture(SkinImage(Skin.FButtons, 0));
  btnOk->move(27, 126);
  btnOk->OnClick = [this](TObject*) { accept(); };
  btnCancel = new TVLButton(this);
  btnCancel->SetPicture(SkinImage(Skin.FButtons, 1));
  btnCancel->move(139, 126);
  btnCancel->OnClick = [this](TObject*) { reject(); };
  btnHelp = new TVLButton(this);
  btnHelp->SetPicture(SkinImage(Skin.FButtons, 2));
  btnHelp->move(251, 126);
  btnHelp->OnClick = [this](TObject*) {
    if (OnHelp) OnHelp();
  };
}

void TFormDevices::Fill(const TMMCustomSoundComponent& WaveIn,
                        const TMMCustomSoundComponent& WaveOut) {
  FillList<WAVEINCAPS>(cbRecDevices, waveInGetNumDevs(), waveInGetDevCaps);
  cbRecDevices->setCurrentIndex(WaveIn.DeviceID() + 1);
  FillList<WAVEOUTCAPS>(cbOutDevices, waveOutGetNumDevs(), waveOutGetDevCaps);
  cbOutDevices->setCurrentIndex(WaveOut.DeviceID() + 1);
}

void TFormDevices::Apply(TMMCustomSoundComponent& WaveIn, TMMCustomSoundComponent& WaveOut) const {
  // An empty list has no selection (-1): the device becomes -2.
  WaveIn.SetDeviceID(cbRecDevices->currentIndex() - 1);
  WaveOut.SetDeviceID(cbOutDevices->currentIndex() - 1);
}

void TFormDevices::Execute(TMMCustomSoundComponent& WaveIn, TMMCustomSoundComponent& WaveOut) {
  Fill(WaveIn, WaveOut);
  if (exec() == QDialog::Accepted) Apply(WaveIn, WaveOut);
}

}  // namespace velmar
