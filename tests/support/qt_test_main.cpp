// The main function of widget tests: Qt's offscreen platform, an application
// whose loop is the engine's message loop, then every test.
#include <gtest/gtest.h>

#include <QApplication>

#include "controls/qt_event_pump.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);
  velmar::TQtEventPump Pump;
  return RUN_ALL_TESTS();
}
