// Multimedia time: milliseconds since start, a high-resolution counter, and
// periodic timers that call back on a timer thread of their own with steady,
// drift-free periods (a late tick does not shift the ones after it; ticks missed
// while a callback overran are skipped, not burst).
// Every function may be called from any thread; callbacks run on the timer's
// thread, one at a time.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/mmresult.h"
#include <stdexcept>

namespace velmar {

inline constexpr MMRESULT TIMERR_NOERROR = 0;
inline constexpr MMRESULT TIMERR_NOCANDO = 97;
inline constexpr std::uint32_t TIME_ONESHOT = 0;
inline constexpr std::uint32_t TIME_PERIODIC = 1;

struct TIMECAPS {
  std::uint32_t wPeriodMin;
  std::uint32_t wPeriodMax;
};

// Milliseconds since the process started (wraps after 49.7 days).
std::uint32_t timeGetTime();
// A counter of high resolution and its frequency in counts per second.
std::int64_t QueryPerformanceCounter();
std::int64_t QueryPerformanceFrequency();

MMRESULT timeGetDevCaps(TIMECAPS* Caps);
// Bookkeeping of requested resolutions; every Begin needs its End.
MMRESULT timeBeginPeriod(std::uint32_t Period);
MMRESULT timeEndPeriod(std::uint32_t Period);
// Number of outstanding timeBeginPeriod calls (for tests).
int TimePeriodRequests();

using TTimerCallback = std::function<void(std::uint32_t TimerId, std::uintptr_t User)>;

// Starts a timer that calls Callback after Delay ms, then every Delay ms when
// TIME_PERIODIC. Returns its id, or 0 when it cannot be started (Delay 0).
std::uint32_t timeSetEvent(std::uint32_t Delay, std::uint32_t Resolution, TTimerCallback Callback,
                           std::uintptr_t User, std::uint32_t Flags);
// Stops a timer. When called from outside its callback, a callback that is
// running is waited for, so nothing runs after this returns.
MMRESULT timeKillEvent(std::uint32_t TimerId);

}  // namespace velmar

namespace velmar {

// The platform's error for a resource it has run out of (timers, handles).
class EOutOfResources : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmar
