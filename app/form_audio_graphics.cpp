#include "app/form_audio_graphics.h"

#include <QFile>
#include <sstream>

namespace velmar {

namespace {

void LoadList(TMMBitmapList& List, const char* Resource) {
  QFile File(Resource);
  if (!File.open(QIODevice::ReadOnly)) throw EStreamError(std::string("Skin missing: ") + Resource);
  const QByteArray Bytes = File.readAll();
  std::istringstream In(std::string(Bytes.constData(), static_cast<std::size_t>(Bytes.size())));
  List.LoadFromStream(In);
}

}  // namespace

TFormAudioGraphics::TFormAudioGraphics(QWidget* Parent) : QWidget(Parent) {
  setWindowTitle("Should not be viewed");
  LoadList(FButtons, ":/skin/buttons.mbl");
  LoadList(FRecordButtons, ":/skin/record_buttons.mbl");
  LoadList(FBackGrounds, ":/skin/backgrounds.mbl");
  LoadList(FSplitButtons, ":/skin/split_buttons.mbl");
}

}  // namespace velmar
