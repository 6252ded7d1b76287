#include "platform/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmar {
namespace {

// Records what it is told and whether it was destroyed.
class TWatcher : public TComponent {
 public:
  TWatcher(TComponent* Owner, std::vector<std::string>* Log, std::string Name)
      : TComponent(Owner), FLog(Log) {
    SetName(std::move(Name));
  }
  ~TWatcher() override { FLog->push_back("~" + Name()); }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == TOperation::opRemove && AComponent != this)
      FLog->push_back(Name() + " told of removal");
  }

 private:
  std::vector<std::string>* FLog;
};

TEST(Component, OwnerDestroysItsComponentsLastFirst) {
  std::vector<std::string> Log;
  auto* Owner = new TComponent(nullptr);
  new TWatcher(Owner, &Log, "a");
  new TWatcher(Owner, &Log, "b");
  EXPECT_EQ(Owner->ComponentCount(), 2);
  delete Owner;
  EXPECT_EQ(Log, (std::vector<std::string>{"~b", "~a"}));
}

TEST(Component, SiblingsAreToldWhenOneIsDestroyed) {
  std::vector<std::string> Log;
  TComponent Owner(nullptr);
  auto* a = new TWatcher(&Owner, &Log, "a");
  new TWatcher(&Owner, &Log, "b");
  delete a;
  EXPECT_EQ(Log, (std::vector<std::string>{"~a", "b told of removal"}));
  EXPECT_EQ(Owner.ComponentCount(), 1);
}

TEST(Component, RemoveAndInsertMoveBetweenOwners) {
  std::vector<std::string> Log;
  TComponent First(nullptr), Second(nullptr);
  TWatcher w(&First, &Log, "w");
  new TWatcher(&First, &Log, "sibling");
  Second.InsertComponent(&w);
  EXPECT_EQ(w.Owner(), &Second);
  EXPECT_EQ(First.ComponentCount(), 1);
  EXPECT_EQ(Log, std::vector<std::string>{"sibling told of removal"});
  Second.RemoveComponent(&w);
  EXPECT_EQ(w.Owner(), nullptr);
  EXPECT_EQ(Second.ComponentCount(), 0);
}

TEST(Component, StateFlags) {
  TComponent c(nullptr);
  EXPECT_FALSE(c.HasState(csLoading));
  c.BeginLoading();
  EXPECT_TRUE(c.HasState(csLoading | csReading));
  c.Loaded();
  EXPECT_FALSE(c.HasState(csLoading));
}

}  // namespace
}  // namespace velmar
