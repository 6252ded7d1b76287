// Ctrl-C and SIGTERM end a recording or playback cleanly: the handler only
// sets a flag; the command's loop sees it and stops (finalising its file).
#include <csignal>

#include "cli/commands.h"

namespace velmar::cli {

namespace {

std::atomic<bool> Flag{false};

extern "C" void OnSignal(int) {
  Flag = true;
}

}  // namespace

const std::atomic<bool>& Interrupted() {
  return Flag;
}

void InstallInterruptHandlers() {
  struct sigaction a {};
  a.sa_handler = OnSignal;
  sigemptyset(&a.sa_mask);
  sigaction(SIGINT, &a, nullptr);
  sigaction(SIGTERM, &a, nullptr);
}

}  // namespace velmar::cli
