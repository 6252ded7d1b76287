#include "tests/support/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace velmar::test {

XvfbServer::XvfbServer(int Width, int Height) : FWidth(Width), FHeight(Height) {
  // Xvfb writes the display number it chose to -displayfd once it accepts clients.
  int Pipe[2];
  if (::pipe2(Pipe, O_CLOEXEC) != 0) return;
  const std::string Fd = std::to_string(Pipe[1]);
  const std::string Screen = std::to_string(Width) + "x" + std::to_string(Height) + "x24";
  FPid = ::fork();
  if (FPid == 0) {
    ::fcntl(Pipe[1], F_SETFD, 0);  // keep the write end open across exec
    const int Null = ::open("/dev/null", O_WRONLY);
    ::dup2(Null, 1);
    ::dup2(Null, 2);
    ::execlp("Xvfb", "Xvfb", "-displayfd", Fd.c_str(), "-screen", "0", Screen.c_str(), "-nolisten",
             "tcp", "-noreset", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(Pipe[1]);
  std::string Number;
  pollfd Wait{Pipe[0], POLLIN, 0};
  while (FPid > 0 && ::poll(&Wait, 1, 20000) > 0) {
    char c;
    if (::read(Pipe[0], &c, 1) != 1 || c == '\n') break;
    Number += c;
  }
  ::close(Pipe[0]);
  if (!Number.empty()) FDisplay = ":" + Number;
}

XvfbServer::~XvfbServer() {
  if (FPid <= 0) return;
  ::kill(FPid, SIGTERM);
  ::waitpid(FPid, nullptr, 0);
}

std::string XvfbServer::Xdotool(const std::string& Arguments, int* Status) const {
  std::string Out =
      RunCommand("DISPLAY=" + FDisplay + " xdotool " + Arguments + " 2>/dev/null", Status);
  while (!Out.empty() && (Out.back() == '\n' || Out.back() == ' ')) Out.pop_back();
  return Out;
}

std::string XvfbServer::FindWindow(const std::string& Pattern) const {
  std::string Id;
  WaitUntil([&] {
    Id = Xdotool("search --onlyvisible --name '" + Pattern + "'");
    Id = Id.substr(0, Id.find('\n'));
    return !Id.empty();
  });
  return Id;
}

bool XvfbServer::Screenshot(const std::string& FileName) const {
  int Status = -1;
  RunCommand("ffmpeg -loglevel error -y -f x11grab -video_size " + std::to_string(FWidth) + "x" +
                 std::to_string(FHeight) + " -i " + FDisplay + " -frames:v 1 '" + FileName +
                 "' 2>&1",
             &Status);
  return Status == 0 && std::filesystem::exists(FileName);
}

std::string ScreenshotFolder() {
  const char* Env = std::getenv("VELMAR_SCREENSHOTS");
  std::string Folder =
      Env && *Env ? Env : (std::filesystem::current_path() / "screenshots").string();
  std::error_code Ignored;
  std::filesystem::create_directories(Folder, Ignored);
  return Folder;
}

}  // namespace velmar::test
