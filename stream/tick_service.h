// The tick service: one shared 25 ms timer that runs the periodic callbacks of
// display components (tick clients). A client runs every Interval ms (at least
// 25, counted in whole ticks) while its pause count is 0; pausing restarts its
// interval. The service runs from the first client added to the last removed,
// on a thread of its own that wakes only for the ticks at which a client runs
// and sleeps while every client is paused.
//
// Threads: clients are added and removed on the main thread; their procedures
// run on the service's thread under the service lock and must be short. Pausing
// and resuming take no lock of the list (resuming the one client that runs
// takes the sleeping thread's lock for its wake-up): any thread, procedures
// included. Adding or removing clients from a procedure is forbidden (a debug
// build stops with a message).
#pragma once

#include <functional>

namespace velmar {

inline constexpr int kTickPeriodMs = 25;

struct TMMTickClient;
using PTickClient = TMMTickClient*;
using TTickProc = std::function<void(PTickClient Client, void* User)>;

// A new client at the end of the list, or null when the service's timer cannot
// be started. Interval is raised to at least 25 ms.
PTickClient AddTickClient(int Interval, bool StartPaused, TTickProc Proc, void* User);
void PauseTickClient(PTickClient Client);
void ResumeTickClient(PTickClient Client);
void RemoveTickClient(PTickClient Client);

// Number of clients (for tests and diagnostics).
int TickClientCount();

}  // namespace velmar
