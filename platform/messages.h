// Posted messages: hidden windows on the main thread's queue, and a message queue
// per thread.
//
// A hidden window is a handle with a window procedure; messages posted to it from
// any thread are queued on the main thread and run there by the dispatch calls
// (usually through the application object, see application.h). A window that was
// released never runs again: its queued messages are dropped and later posts fail.
// A thread's own queue exists once that thread has peeked at it; posts to a thread
// without a queue fail.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

namespace velmar {

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HWND = std::uintptr_t;  // 0 is no window
using TThreadId = std::thread::id;

struct TMsg {
  HWND hwnd = 0;  // 0 for thread messages
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT PM_NOREMOVE = 0;
inline constexpr UINT PM_REMOVE = 1;

using TWndProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Main thread. Creates a hidden window whose procedure runs on the main thread.
HWND AllocateHWnd(TWndProc Proc);
// Main thread. Releases a window and drops its queued messages.
void DeallocateHWnd(HWND Window);
// Any thread. False when the window does not exist.
bool PostMessage(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam);
// Any thread. Removes every queued message of this number for this window;
// returns how many were removed.
int RemoveMessages(HWND Window, UINT Message);
// Main thread. What a window procedure returns for messages it does not handle.
LRESULT DefWindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam);

// Any thread. Queues a message for Thread; false when it has no queue.
bool PostThreadMessage(TThreadId Thread, UINT Message, WPARAM wParam, LPARAM lParam);
// The calling thread's queue (created on first use; the main thread's holds the
// window messages): takes (PM_REMOVE) or looks at the oldest message.
bool PeekMessage(TMsg& Msg, UINT RemoveFlag);
// The calling thread: removes queued thread messages of this number.
int RemoveThreadMessages(UINT Message);
// Runs a window message's procedure on the calling (main) thread; thread
// messages (no window) are ignored.
LRESULT DispatchMessage(const TMsg& Msg);
// Drops the calling thread's queue (a worker thread ending).
void ReleaseThreadQueue();

// The main thread: the thread that owns the hidden windows; the thread that
// started the program unless set otherwise.
void SetMainThread(TThreadId Thread);
TThreadId MainThreadId();
bool InMainThread();

// Called after every message queued for the main thread, from the posting thread,
// so that a foreign event loop can wake up and dispatch.
void SetMainQueueWaker(std::function<void()> Waker);

}  // namespace velmar
