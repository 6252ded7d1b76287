#include "platform/component.h"

#include <algorithm>

namespace velmar {

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Owned components go first, last inserted first; they leave the list before
  // they are destroyed, so nobody is told about them twice.
  while (!FComponents.empty()) {
    TComponent* Last = FComponents.back();
    FComponents.pop_back();
    Last->FOwner = nullptr;
    delete Last;
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  Notification(AComponent, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  auto It = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (It == FComponents.end()) return;
  Notification(AComponent, TOperation::opRemove);
  // The notification may have changed the list: look again.
  It = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (It != FComponents.end()) FComponents.erase(It);
  AComponent->FOwner = nullptr;
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  // Index walk from the end: a handler may remove components meanwhile.
  for (size_t I = FComponents.size(); I-- > 0;) {
    if (I >= FComponents.size()) continue;
    FComponents[I]->Notification(AComponent, Operation);
  }
}

void TComponent::Loaded() {
  FComponentState &= ~static_cast<unsigned>(csLoading);
}

void TComponent::SetDesigningState(bool Value) {
  if (Value)
    FComponentState |= csDesigning;
  else
    FComponentState &= ~static_cast<unsigned>(csDesigning);
}

}  // namespace velmar
