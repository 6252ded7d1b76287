// The library's thread classes and the hand-over of component events to the
// main thread.
//
// TMMDSPThread serves one sound component (not owned); every live one is in a
// process-wide list, which RunOnMainThread consults: a call from one of these
// threads is run on the main thread through Synchronize (the caller waits),
// any other call runs directly.
#pragma once

#include <functional>

#include "platform/thread.h"
#include "stream/sound_component.h"

namespace velmar {

class TMMThreadEx : public TThread {
 public:
  using TThread::TThread;
};

class TMMDSPThread : public TMMThreadEx {
 public:
  // Created suspended; added to the process-wide list.
  explicit TMMDSPThread(TMMCustomSoundComponent* Component);
  ~TMMDSPThread() override;

  TMMCustomSoundComponent* Component() const { return FComponent; }

 private:
  TMMCustomSoundComponent* FComponent;
};

// Number of live TMMDSPThreads.
int DSPThreadCount();
// True when the calling thread is a live TMMDSPThread.
bool InDSPThread();

// Runs Method on the main thread when called from a TMMDSPThread, else directly.
void RunOnMainThread(const std::function<void()>& Method);

}  // namespace velmar
