// Ctrl-C and SIGTERM end a recording or playback cleanly: the command's loop sees
// the flag and stops (finalising its file). The signals are taken by a thread of
// their own, which also wakes the main thread's loop at once, so that the loop
// need not look for them often.
#include <pthread.h>

#include <csignal>
#include <mutex>
#include <thread>

#include "cli/commands.h"
#include "platform/messages.h"
#include "platform/thread.h"

namespace velmar::cli {

namespace {

std::atomic<bool> Flag{false};

// Any thread message wakes the main thread's wait; none is handled.
constexpr UINT kWake = WM_USER;

extern "C" void OnSignal(int) {
  Flag = true;
}

}  // namespace

const std::atomic<bool>& Interrupted() {
  return Flag;
}

void InstallInterruptHandlers() {
  // The handler serves a thread started before the signals were blocked.
  struct sigaction a {};
  a.sa_handler = OnSignal;
  sigemptyset(&a.sa_mask);
  sigaction(SIGINT, &a, nullptr);
  sigaction(SIGTERM, &a, nullptr);
  static std::once_flag Once;
  std::call_once(Once, [] {
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, SIGINT);
    sigaddset(&Set, SIGTERM);
    // Blocked here, and so in every thread started from here on.
    pthread_sigmask(SIG_BLOCK, &Set, nullptr);
    TMsg Msg;
    PeekMessage(Msg, PM_NOREMOVE);  // the main thread's queue exists
    const TThreadId Main = std::this_thread::get_id();
    std::thread([Set, Main] {
      NameCurrentThread("velmar-signals");
      for (;;) {
        int Signal = 0;
        if (sigwait(&Set, &Signal) != 0) continue;
        Flag = true;
        PostThreadMessage(Main, kWake, 0, 0);
      }
    }).detach();
  });
}

}  // namespace velmar::cli
