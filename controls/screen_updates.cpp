#include "controls/screen_updates.h"

#include <QByteArray>
#include <QtGlobal>

namespace velmar {

void PrepareScreenUpdates() {
  if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", QByteArray("1"));
}

}  // namespace velmar
