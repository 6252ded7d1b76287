// Small library base objects.
//
// TMMObject: a persistent object with change notification and update brackets.
// Descendants call Changed() after every effective property change; inside a
// BeginUpdate .. EndUpdate bracket the single OnChange comes from EndUpdate.
//
// TMMObserver / TMMObservable: a subject that notifies attached observers. The
// subject keeps a list of observers but does not own them; either side may be
// destroyed first and the other forgets it.
// All of these run on the thread that owns them (the main thread in practice).
#pragma once

#include <functional>
#include <vector>

#include "platform/component.h"

namespace velmar {

class TMMObject : public TPersistent {
 public:
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  TNotifyEvent OnChanging;
  TNotifyEvent OnChange;

 protected:
  // True when a bracket opens, false when the outermost one closes.
  virtual void UpdateNotify(bool Updating);
  // Fire OnChanging / OnChange, each only outside an update bracket.
  virtual void Changing();
  virtual void Changed();

 private:
  int FUpdateCount = 0;
};

class TMMObservable;

using TMMObserverNotifyEvent = std::function<void(TObject* Sender, TObject* Data)>;

class TMMObserver : public TObject {
 public:
  ~TMMObserver() override;

  TMMObservable* Observable() const { return FObservable; }
  // Fires OnNotify(this, Data) when assigned.
  virtual void Update(TObject* Data);

  TMMObserverNotifyEvent OnNotify;

 private:
  friend class TMMObservable;
  TMMObservable* FObservable = nullptr;
};

class TMMObservable : public TObject {
 public:
  ~TMMObservable() override;

  // Moves Observer here from any previous subject and appends it; null is ignored.
  void Attach(TMMObserver* Observer);
  // Removes Observer only if it is attached to this subject.
  void Detach(TMMObserver* Observer);
  // Calls Update(Data) on every observer, last attached first.
  void Notify(TObject* Data);

  int ObserverCount() const { return static_cast<int>(FObservers.size()); }

 private:
  std::vector<TMMObserver*> FObservers;
};

}  // namespace velmar
