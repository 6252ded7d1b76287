#include "stream/mm_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velmar {
namespace {

class TValue : public TMMObject {
 public:
  void SetValue(int v) {
    if (v == FValue) return;
    FValue = v;
    Changed();
  }

 private:
  int FValue = 0;
};

TEST(MMObject, ChangesNotifyOutsideBrackets) {
  TValue v;
  int Changes = 0, Changings = 0;
  v.OnChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &v);
    ++Changes;
  };
  v.OnChanging = [&](TObject*) { ++Changings; };
  v.SetValue(1);
  v.SetValue(1);  // equal value: nothing
  EXPECT_EQ(Changes, 1);
  EXPECT_EQ(Changings, 0);
}

TEST(MMObject, NestedBracketsNotifyOnceAtTheOutermostEnd) {
  TValue v;
  std::vector<std::string> Events;
  v.OnChanging = [&](TObject*) { Events.push_back("changing"); };
  v.OnChange = [&](TObject*) { Events.push_back("change"); };
  v.BeginUpdate();
  v.BeginUpdate();
  v.SetValue(1);
  v.SetValue(2);
  v.EndUpdate();
  EXPECT_EQ(Events, std::vector<std::string>{"changing"});
  v.EndUpdate();
  EXPECT_EQ(Events, (std::vector<std::string>{"changing", "change"}));
  EXPECT_EQ(v.UpdateCount(), 0);
  v.EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(v.UpdateCount(), 0);
  EXPECT_EQ(Events.size(), 2u);
}

TEST(Observable, NotifiesLastAttachedFirst) {
  TMMObservable Subject;
  TMMObserver a, b, c;
  std::string Order;
  TObject Data;
  for (auto [o, Tag] : {std::pair{&a, 'a'}, std::pair{&b, 'b'}, std::pair{&c, 'c'}}) {
    o->OnNotify = [&, Tag = Tag, o = o](TObject* Sender, TObject* Arg) {
      EXPECT_EQ(Sender, o);
      EXPECT_EQ(Arg, &Data);
      Order += Tag;
    };
  }
  Subject.Attach(&a);
  Subject.Attach(&b);
  Subject.Attach(&c);
  Subject.Attach(nullptr);
  Subject.Notify(&Data);
  EXPECT_EQ(Order, "cba");
}

TEST(Observable, AttachMovesAndDetachNeedsTheRightSubject) {
  TMMObservable First, Second;
  TMMObserver o;
  First.Attach(&o);
  Second.Attach(&o);
  EXPECT_EQ(o.Observable(), &Second);
  EXPECT_EQ(First.ObserverCount(), 0);
  First.Detach(&o);  // not attached there: nothing happens
  EXPECT_EQ(o.Observable(), &Second);
  Second.Detach(&o);
  EXPECT_EQ(o.Observable(), nullptr);
  EXPECT_EQ(Second.ObserverCount(), 0);
}

TEST(Observable, EitherSideMayBeDestroyedFirst) {
  TMMObserver Survivor;
  {
    TMMObservable Subject;
    auto Gone = std::make_unique<TMMObserver>();
    Subject.Attach(Gone.get());
    Subject.Attach(&Survivor);
    Gone.reset();
    EXPECT_EQ(Subject.ObserverCount(), 1);
    int Calls = 0;
    Survivor.OnNotify = [&](TObject*, TObject*) { ++Calls; };
    Subject.Notify(nullptr);
    EXPECT_EQ(Calls, 1);
  }
  EXPECT_EQ(Survivor.Observable(), nullptr);
}

TEST(Observable, AnObserverMayDetachWhileNotified) {
  TMMObservable Subject;
  TMMObserver a, b;
  int Calls = 0;
  a.OnNotify = [&](TObject*, TObject*) { ++Calls; };
  b.OnNotify = [&](TObject*, TObject*) {
    ++Calls;
    Subject.Detach(&b);
    Subject.Detach(&a);
  };
  Subject.Attach(&a);
  Subject.Attach(&b);
  Subject.Notify(nullptr);
  EXPECT_EQ(Calls, 1);
  EXPECT_EQ(Subject.ObserverCount(), 0);
}

}  // namespace
}  // namespace velmar
