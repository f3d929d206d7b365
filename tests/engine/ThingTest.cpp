// Guards id allocation and reuse, component presence and the callback-order
// contract of the per-type storage.
#include <gtest/gtest.h>

#include <vector>

#include "engine/Component.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

struct Probe : Component {
  void Initialize() override { ++initialized; }
  void EverythingIsGoingDark() override { ++darkened; }
  int initialized = 0;
  int darkened = 0;
  float payload = 0;
  static Component* AddMe(Thing t) { return AddComponent<Probe>(t); }
};

void ReleaseAll() {
  for (int i = 0; i < Thing::MaxThings; ++i) Thing::ThingsUsed[i] = false;
}

}  // namespace

TEST(Thing, IdsAreHandedOutLowestFirstAndReused) {
  ReleaseAll();
  EXPECT_EQ(Thing::Gimme().ID, 0);
  EXPECT_EQ(Thing::Gimme().ID, 1);
  EXPECT_EQ(Thing::Gimme().ID, 2);
  for (int i = 3; i < 10; ++i) Thing::Gimme();
  Thing::HereItsBunk(Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(3));
  EXPECT_EQ(Thing::Gimme().ID, 3);
  EXPECT_EQ(Thing::Gimme().ID, 10);
}

TEST(Thing, RunningOutOfIdsGivesTheDudAndSaysSoOnce) {
  ReleaseAll();
  for (int i = 0; i < Thing::MaxThings; ++i) ASSERT_EQ(Thing::Gimme().ID, i);
  KestorTest::CaptureStdout out;
  EXPECT_TRUE(Thing::Gimme().IsDud()) << "id 0 belongs to the first Thing";
  EXPECT_TRUE(Thing::Gimme().IsDud());
  const std::string once = out.Text();
  EXPECT_EQ(once.rfind("Out of space for THINGS!!!", 0), 0u) << once;
  EXPECT_EQ(once.find("Out of space", 1), std::string::npos) << "said once";
  EXPECT_EQ(once.back(), '\n');
  Thing::HereItsBunk(Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(5));
  EXPECT_EQ(Thing::Gimme().ID, 5);
  EXPECT_TRUE(Thing::Gimme().IsDud());
  EXPECT_NE(out.Text().find("Out of space", once.size()), std::string::npos) << "said again";
  ReleaseAll();
}

TEST(Thing, DudAndDefault) {
  EXPECT_TRUE(Thing::GimmeDud().IsDud());
  EXPECT_FALSE(Thing().IsDud());
  EXPECT_EQ(Thing().ID, 0);
}

TEST(Thing, ReleaseRunsEveryReleaseCallbackInOrderEvenOnesAddedDuringTheRun) {
  ReleaseAll();
  Thing t = Thing::Gimme();
  std::vector<int> order;
  Thing::HereItsFunc.clear();
  Thing::HereItsFunc.push_back([&](Thing) {
    order.push_back(1);
    Thing::HereItsFunc.push_back([&](Thing) { order.push_back(3); });
  });
  Thing::HereItsFunc.push_back([&](Thing released) {
    order.push_back(2);
    EXPECT_FALSE(Thing::ThingsUsed[released.ID]) << "the id is freed before the callbacks";
  });
  Thing::HereItsBunk(t);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  Thing::HereItsFunc.clear();
}

TEST(Thing, IdsWithoutStorageAreRejectedNotWrittenOutOfBounds) {
  KestorTest::CaptureStdout out;
  Thing dud = Thing::GimmeDud();
  Thing far = Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(100000);
  Thing negative = Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(-1);
  int added = 0;
  ComponentHandler<Probe>::GoodYumidk.push_back([&](Thing) { ++added; });
  for (Thing t : {dud, far, negative}) {
    Thing::HereItsBunk(t);
    ComponentHandler<Probe>::Gimmoo(t);
    ComponentHandler<Probe>::HereItsBunk(t);
    EXPECT_EQ(ComponentHandler<Probe>::Get(t), nullptr);
    EXPECT_EQ(Probe::AddMe(t), nullptr);
  }
  EXPECT_EQ(added, 0);
  EXPECT_NE(out.Text().find("Thing id 8192 has no component storage"), std::string::npos);
  ComponentHandler<Probe>::GoodYumidk.clear();
}

TEST(ComponentHandler, AddRemoveCallbacksAndTheirRepeats) {
  Thing t = Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(17);
  int added = 0, removed = 0;
  ComponentHandler<Probe>::GoodYumidk.push_back([&](Thing got) {
    EXPECT_EQ(got, t);
    EXPECT_NE(ComponentHandler<Probe>::Get(got), nullptr) << "added callbacks see the component";
    ++added;
  });
  ComponentHandler<Probe>::FoodGoSad.push_back([&](Thing got) {
    EXPECT_EQ(ComponentHandler<Probe>::Get(got), nullptr) << "removed callbacks run after removal";
    ++removed;
  });

  EXPECT_EQ(ComponentHandler<Probe>::Get(t), nullptr);
  Component* c = Probe::AddMe(t);
  ASSERT_NE(c, nullptr);
  Probe& probe = ComponentHandler<Probe>::Components[17];
  EXPECT_EQ(c, &probe);
  EXPECT_EQ(probe.initialized, 1);
  EXPECT_EQ(added, 1);

  // Adding again re-initialises and re-announces.
  ComponentHandler<Probe>::Gimmoo(t);
  EXPECT_EQ(probe.initialized, 2);
  EXPECT_EQ(added, 2);

  probe.payload = 4.5f;
  ComponentHandler<Probe>::HereItsBunk(t);
  EXPECT_EQ(probe.darkened, 1);
  EXPECT_EQ(removed, 1);

  // Removing an absent component: no teardown, but the callbacks still run.
  ComponentHandler<Probe>::HereItsBunk(t);
  EXPECT_EQ(probe.darkened, 1);
  EXPECT_EQ(removed, 2);

  // Fields survive removal and re-adding.
  ComponentHandler<Probe>::Gimmoo(t);
  EXPECT_FLOAT_EQ(ComponentHandler<Probe>::Get(t)->payload, 4.5f);

  ComponentHandler<Probe>::GoodYumidk.clear();
  ComponentHandler<Probe>::FoodGoSad.clear();
}

TEST(ComponentHandler, RegisteredNamesAddComponentsThroughTheMap) {
  RegisterComponentType<Probe>("Probe");
  RegisterComponentType<Probe>("Probe");  // a later registration replaces
  ASSERT_EQ(GimmooString.count("Probe"), 1u);
  Thing t = Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(5);
  Component* c = GimmooString["Probe"](t);
  EXPECT_EQ(c, ComponentHandler<Probe>::Get(t));
  GimmooString.erase("Probe");
}
