// A private X server (Xvfb) for end-to-end tests of the windowed programs, on a
// display number it picks itself, stopped when the object goes. Programs reach
// it through Display(); xdotool drives them; Screenshot saves the whole screen
// as PNG for people to look at.
#pragma once

#include <sys/types.h>

#include <string>

namespace velmar::test {

class XvfbServer {
 public:
  XvfbServer(int Width = 1024, int Height = 768);
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Started() const { return !FDisplay.empty(); }
  const std::string& Display() const { return FDisplay; }

  // Runs xdotool with these arguments on this display; its output, trimmed.
  std::string Xdotool(const std::string& Arguments, int* Status = nullptr) const;
  // The id of the first visible window whose title matches Pattern (a regular
  // expression), waiting up to 20 s for it; empty when none appeared.
  std::string FindWindow(const std::string& Pattern) const;
  // Saves the screen as a PNG file; false when that failed.
  bool Screenshot(const std::string& FileName) const;

 private:
  pid_t FPid = -1;
  std::string FDisplay;
  int FWidth, FHeight;
};

// Where end-to-end tests keep their screenshots: $VELMAR_SCREENSHOTS, or the
// "screenshots" folder of the current directory. Created when missing.
std::string ScreenshotFolder();

}  // namespace velmar::test
