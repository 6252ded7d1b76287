#include "stream/dsp_thread.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace velmar {

namespace {

struct TThreadList {
  std::mutex Lock;
  std::unique_ptr<std::vector<TMMDSPThread*>> Threads;  // exists while a thread does
};

// Never destroyed: a thread that frees itself as the program ends still finds it.
TThreadList& List() {
  static TThreadList* l = new TThreadList;
  return *l;
}

}  // namespace

TMMDSPThread::TMMDSPThread(TMMCustomSoundComponent* Component)
    : TMMThreadEx(true), FComponent(Component) {
  auto& l = List();
  std::lock_guard<std::mutex> Lock(l.Lock);
  if (!l.Threads) l.Threads = std::make_unique<std::vector<TMMDSPThread*>>();
  l.Threads->push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
  auto& l = List();
  std::lock_guard<std::mutex> Lock(l.Lock);
  std::erase(*l.Threads, this);
  if (l.Threads->empty()) l.Threads.reset();
}

int DSPThreadCount() {
  auto& l = List();
  std::lock_guard<std::mutex> Lock(l.Lock);
  return l.Threads ? static_cast<int>(l.Threads->size()) : 0;
}

bool InDSPThread() {
  auto& l = List();
  std::lock_guard<std::mutex> Lock(l.Lock);
  if (!l.Threads) return false;
  const auto Self = std::this_thread::get_id();
  return std::any_of(l.Threads->begin(), l.Threads->end(),
                     [&](const TMMDSPThread* t) { return t->ThreadID() == Self; });
}

void RunOnMainThread(const std::function<void()>& Method) {
  if (!InMainThread() && InDSPThread())
    TThread::Synchronize(Method);
  else
    Method();
}

}  // namespace velmar
