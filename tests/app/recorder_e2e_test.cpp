// velmar-recorder as a user starts it: on a private X server, found by its
// title, photographed, and ended by a signal as a desktop would end it.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

namespace velmar {
namespace {

using test::ChildProcess;
using test::TempDir;
using test::XvfbServer;

// The program under test, built beside this test.
std::string RecorderProgram() {
  return VELMAR_RECORDER_PROGRAM;
}

TEST(RecorderProgram, StartsOnAnXServerAndEndsCleanlyOnTermAndInt) {
  XvfbServer X;
  ASSERT_TRUE(X.Started());
  for (const int Signal : {SIGTERM, SIGINT}) {
    TempDir Dir;
    ChildProcess Program({RecorderProgram()}, Dir.Path(),
                         {{"DISPLAY", X.Display()},
                          {"QT_QPA_PLATFORM", "xcb"},
                          {"XDG_CONFIG_HOME", Dir.File("config")},
                          {"XDG_RUNTIME_DIR", Dir.Path()}});
    const std::string Window = X.FindWindow("^Velmar Audio Recorder Velmar Audio Recorder $");
    ASSERT_FALSE(Window.empty()) << "no window appeared";
    EXPECT_NE(X.Xdotool("getwindowgeometry " + Window).find("Geometry: 543x348"),
              std::string::npos);
    if (Signal == SIGTERM) {
      EXPECT_TRUE(X.Screenshot(test::ScreenshotFolder() + "/recorder-start.png"));
    }
    Program.Signal(Signal);
    EXPECT_EQ(Program.WaitForExit(), 0);
    EXPECT_TRUE(std::filesystem::exists(Dir.File("velmar_audio_recorer.log")));
  }
}

}  // namespace
}  // namespace velmar
