// The platform's object model: TObject, TPersistent and TComponent.
//
// A TComponent may have an owner. The owner owns it: destroying the owner destroys
// its components (last inserted first). A component that is removed from its owner,
// or destroyed, is announced to the owner and to every other component of the same
// owner through Notification(opRemove), so that siblings drop their references.
// Everything here runs on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmar {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

class TPersistent : public TObject {};

using TNotifyEvent = std::function<void(TObject* Sender)>;

enum class TOperation { opInsert, opRemove };

// Component state flags (a set, combined with |).
enum TComponentStateFlag : unsigned {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
};

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value) { FName = Value; }
  std::intptr_t Tag() const { return FTag; }
  void SetTag(std::intptr_t Value) { FTag = Value; }

  unsigned ComponentState() const { return FComponentState; }
  bool HasState(unsigned Flags) const { return (FComponentState & Flags) != 0; }

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const { return FComponents.at(static_cast<size_t>(Index)); }

  // Takes AComponent into this owner's list (leaving its previous owner).
  void InsertComponent(TComponent* AComponent);
  // Releases AComponent from this owner without destroying it; siblings are told.
  void RemoveComponent(TComponent* AComponent);

  // Ends a load from stored properties: clears csLoading and lets descendants
  // finish what depends on other components.
  virtual void Loaded();
  // Marks the component as being loaded from stored properties.
  void BeginLoading() { FComponentState |= csLoading; }

 protected:
  // Told about components inserted into or removed from the owner. The default
  // forwards the news to every component this one owns.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  // Sets csDestroying; descendants call it first in their destructors so that
  // work done while tearing down can see it.
  void Destroying() { FComponentState |= csDestroying; }
  void SetDesigningState(bool Value);

 private:
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  std::string FName;
  std::intptr_t FTag = 0;
  unsigned FComponentState = 0;
};

}  // namespace velmar
