#include "stream/mm_object.h"

#include <algorithm>

namespace velmar {

void TMMObject::BeginUpdate() {
  if (FUpdateCount == 0) UpdateNotify(true);
  ++FUpdateCount;
}

void TMMObject::EndUpdate() {
  if (FUpdateCount == 0) return;  // unbalanced: nothing to close
  if (--FUpdateCount == 0) UpdateNotify(false);
}

void TMMObject::UpdateNotify(bool Updating) {
  if (Updating)
    Changing();
  else
    Changed();
}

void TMMObject::Changing() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(this);
}

void TMMObject::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}

TMMObserver::~TMMObserver() {
  if (FObservable) FObservable->Detach(this);
}

void TMMObserver::Update(TObject* Data) {
  if (OnNotify) OnNotify(this, Data);
}

TMMObservable::~TMMObservable() {
  while (!FObservers.empty()) Detach(FObservers.back());
}

void TMMObservable::Attach(TMMObserver* Observer) {
  if (!Observer) return;
  if (Observer->FObservable) Observer->FObservable->Detach(Observer);
  FObservers.push_back(Observer);
  Observer->FObservable = this;
}

void TMMObservable::Detach(TMMObserver* Observer) {
  if (!Observer || Observer->FObservable != this) return;
  FObservers.erase(std::find(FObservers.begin(), FObservers.end(), Observer));
  Observer->FObservable = nullptr;
}

void TMMObservable::Notify(TObject* Data) {
  // By index from the end: an observer may detach itself or others meanwhile.
  for (size_t i = FObservers.size(); i-- > 0;) {
    if (i < FObservers.size()) FObservers[i]->Update(Data);
  }
}

}  // namespace velmar
