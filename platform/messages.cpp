#include "platform/messages.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/message_queues.h"
#include "platform/sync.h"

namespace velmar {

namespace {

using TQueue = std::deque<TMsg>;

// All queues, by thread; guarded by the signal lock. Like everything here it is
// never destroyed, so that threads ending with the program still find it.
std::unordered_map<std::thread::id, TQueue>& Queues() {
  static auto* q = new std::unordered_map<std::thread::id, TQueue>;
  return *q;
}

struct TWindows {
  std::mutex Lock;
  std::unordered_map<HWND, std::shared_ptr<TWndProc>> Procs;
  HWND Next = 1;
};

TWindows& Windows() {
  static TWindows* w = new TWindows;
  return *w;
}

std::mutex& MainLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

// The main thread is the one that starts the program (static initialisation
// runs there), unless SetMainThread says otherwise.
std::thread::id gMainId = std::this_thread::get_id();

std::thread::id& MainId() { return gMainId; }

std::function<void()>& Waker() {
  static auto* w = new std::function<void()>;
  return *w;
}

bool Enqueue(std::thread::id Thread, const TMsg& Msg, bool CreateQueue) {
  {
    std::lock_guard<std::mutex> Lock(TSignal::Mutex());
    auto& All = Queues();
    auto It = All.find(Thread);
    if (It == All.end()) {
      if (!CreateQueue) return false;
      It = All.emplace(Thread, TQueue{}).first;
    }
    It->second.push_back(Msg);
  }
  TSignal::Changed().notify_all();
  return true;
}

template <typename Match>
int RemoveFrom(std::thread::id Thread, Match Matches) {
  std::lock_guard<std::mutex> Lock(TSignal::Mutex());
  auto It = Queues().find(Thread);
  if (It == Queues().end()) return 0;
  TQueue& q = It->second;
  const auto Before = q.size();
  std::erase_if(q, Matches);
  return static_cast<int>(Before - q.size());
}

}  // namespace

bool TMessageQueues::HasMessageLocked(std::thread::id Thread) {
  auto It = Queues().find(Thread);
  return It != Queues().end() && !It->second.empty();
}

void SetMainThread(TThreadId Thread) {
  std::lock_guard<std::mutex> Lock(MainLock());
  MainId() = Thread;
}

TThreadId MainThreadId() {
  std::lock_guard<std::mutex> Lock(MainLock());
  return MainId();
}

bool InMainThread() {
  return std::this_thread::get_id() == MainThreadId();
}

void SetMainQueueWaker(std::function<void()> NewWaker) {
  std::lock_guard<std::mutex> Lock(MainLock());
  Waker() = std::move(NewWaker);
}

HWND AllocateHWnd(TWndProc Proc) {
  auto& w = Windows();
  std::lock_guard<std::mutex> Lock(w.Lock);
  const HWND Window = w.Next++;
  w.Procs.emplace(Window, std::make_shared<TWndProc>(std::move(Proc)));
  return Window;
}

void DeallocateHWnd(HWND Window) {
  {
    auto& w = Windows();
    std::lock_guard<std::mutex> Lock(w.Lock);
    if (!w.Procs.erase(Window)) return;
  }
  RemoveFrom(MainThreadId(), [Window](const TMsg& m) { return m.hwnd == Window; });
}

bool PostMessage(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam) {
  {
    auto& w = Windows();
    std::lock_guard<std::mutex> Lock(w.Lock);
    if (!w.Procs.count(Window)) return false;
  }
  if (!Enqueue(MainThreadId(), TMsg{Window, Message, wParam, lParam}, true)) return false;
  std::function<void()> Wake;
  {
    std::lock_guard<std::mutex> Lock(MainLock());
    Wake = Waker();
  }
  if (Wake) Wake();
  return true;
}

int RemoveMessages(HWND Window, UINT Message) {
  return RemoveFrom(MainThreadId(),
                    [=](const TMsg& m) { return m.hwnd == Window && m.message == Message; });
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

bool PostThreadMessage(TThreadId Thread, UINT Message, WPARAM wParam, LPARAM lParam) {
  return Enqueue(Thread, TMsg{0, Message, wParam, lParam}, false);
}

bool PeekMessage(TMsg& Msg, UINT RemoveFlag) {
  std::lock_guard<std::mutex> Lock(TSignal::Mutex());
  TQueue& q = Queues()[std::this_thread::get_id()];  // a peek creates the queue
  if (q.empty()) return false;
  Msg = q.front();
  if (RemoveFlag & PM_REMOVE) q.pop_front();
  return true;
}

int RemoveThreadMessages(UINT Message) {
  return RemoveFrom(std::this_thread::get_id(),
                    [=](const TMsg& m) { return m.hwnd == 0 && m.message == Message; });
}

LRESULT DispatchMessage(const TMsg& Msg) {
  if (Msg.hwnd == 0) return 0;
  std::shared_ptr<TWndProc> Proc;
  {
    auto& w = Windows();
    std::lock_guard<std::mutex> Lock(w.Lock);
    auto It = w.Procs.find(Msg.hwnd);
    if (It == w.Procs.end()) return 0;
    Proc = It->second;
  }
  return (*Proc)(Msg.hwnd, Msg.message, Msg.wParam, Msg.lParam);
}

void ReleaseThreadQueue() {
  std::lock_guard<std::mutex> Lock(TSignal::Mutex());
  Queues().erase(std::this_thread::get_id());
}

}  // namespace velmar
