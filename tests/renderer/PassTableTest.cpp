// The frame's pass table as data, without GL: its names and order hold
// together, and culling leaves out exactly the passes nobody reads.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "renderer/PassTable.h"
#include "renderer/RenderSettings.h"

using namespace KestorEngine;

namespace {

bool Nothing(PassContext&) { return true; }

ResourceSpec Made(const char* name, Lifetime life, bool leaves = false) {
  ResourceSpec r;
  r.Name = name;
  r.Life = life;
  r.Leaves = leaves;
  return r;
}

PassSpec Pass(const char* name, std::vector<std::string> reads, std::vector<std::string> writes) {
  return PassSpec(name, RunsFor::EachCamera, PassKind::Draw, &Nothing).Reading(reads).Writing(writes);
}

// The passes of `table` that run, by name.
std::set<std::string> Running(const PassTable& table, const std::vector<bool>& live) {
  std::set<std::string> out;
  for (size_t k = 0; k < live.size(); ++k) {
    if (live[k]) out.insert(table.Passes[k].Name);
  }
  return out;
}

}  // namespace

TEST(PassTable, TheEnginesTableNamesOnlyDeclaredResourcesWrittenBeforeTheyAreRead) {
  const std::vector<std::string> faults = FrameTable().Check();
  for (const std::string& f : faults) ADD_FAILURE() << f;
}

TEST(PassTable, CheckFindsUnknownNamesEarlyReadsAndGroupsOutOfOrder) {
  PassTable t;
  t.Resources = {Made("A", Lifetime::Frame), Made("H", Lifetime::History)};
  t.Passes = {Pass("reads A first", {"A"}, {"H"}), Pass("writes A", {}, {"A", "Nowhere"}),
              PassSpec("field pass late", RunsFor::EachField, PassKind::Draw, &Nothing).Swapping({"A"})};
  const std::vector<std::string> faults = t.Check();
  ASSERT_EQ(faults.size(), 4u);
  EXPECT_NE(faults[0].find("reads A before"), std::string::npos);
  EXPECT_NE(faults[1].find("no resource Nowhere"), std::string::npos);
  EXPECT_NE(faults[2].find("after a later group"), std::string::npos);
  EXPECT_NE(faults[3].find("no history pair"), std::string::npos);
}

// A -> B -> window; C's output nobody reads; D keeps a history; E draws a
// texture wanted only while it is asked for.
TEST(PassTable, APassRunsOnlyWhileARunningReaderAHistoryTheWindowOrAnAskWantsItsOutput) {
  PassTable t;
  t.Resources = {Made("a", Lifetime::Frame), Made("b", Lifetime::Frame), Made("x", Lifetime::Frame),
                 Made("h", Lifetime::History), Made("p", Lifetime::Kept), Made("Window", Lifetime::Outside, true)};
  t.Passes = {Pass("A", {}, {"a"}), Pass("C", {"a"}, {"x"}), Pass("B", {"a"}, {"b"}), Pass("D", {"b"}, {"h"}),
              Pass("E", {}, {"p"}), Pass("Present", {"b"}, {"Window"})};
  struct Case {
    std::vector<bool> switched;
    std::set<std::string> asked;
    std::set<std::string> running;
  };
  const Case cases[] = {
      {{true, true, true, true, true, true}, {}, {"A", "B", "D", "Present"}},
      {{true, true, true, true, true, true}, {"p"}, {"A", "B", "D", "E", "Present"}},
      // Without the present, the history still wants B, and B wants A.
      {{true, true, true, true, true, false}, {}, {"A", "B", "D"}},
      // Nobody left to read a or b: A and B go too.
      {{true, true, true, false, true, false}, {}, {}},
      // A reader switched off does not keep its writer; its own readers
      // still run, on what the resource held.
      {{true, true, false, true, true, true}, {}, {"D", "Present"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Running(t, t.Live(c.switched, c.asked)), c.running);
}

TEST(PassTable, TheEnginesFrameLeavesOutTheLightmapTheSparseLightAndTheMotionWhenNobodyReadsThem) {
  const PassTable& table = FrameTable();
  struct Case {
    CVar<bool>* off;  // switched off for the case (null: defaults)
    std::set<std::string> asked;
    std::vector<std::string> running, culled;
  };
  const Case cases[] = {
      {nullptr, {}, {"Voxels", "Light injection", "G-buffer", "Sparse light", "Lighting", "Temporal", "Present", "GUI"},
       {"Lightmap", "Forward", "Depth pre-pass"}},
      {nullptr, {"TempLightmapStopgap"}, {"Lightmap"}, {}},
      {RaycastScreen, {}, {"G-buffer", "Motion"}, {"Sparse light", "Lighting", "Emission"}},
      // The light field's volumes are kept for the next frame: its passes
      // run whoever reads them.
      {FinalBlitEn, {}, {"Voxels", "Temporal", "Motion", "Lighting"}, {"Present"}},
  };
  for (const Case& c : cases) {
    if (c.off != nullptr) c.off->value = false;
    const std::set<std::string> running = Running(table, table.Live(table.Switched(), c.asked));
    if (c.off != nullptr) c.off->value = true;
    for (const std::string& p : c.running) EXPECT_EQ(running.count(p), 1u) << p << " should run";
    for (const std::string& p : c.culled) EXPECT_EQ(running.count(p), 0u) << p << " should be left out";
  }
  // With neither the temporal pass nor the present, nothing reads the
  // camera's passes, unless a capture asks for the picture.
  TemporalSS->value = false;
  FinalBlitEn->value = false;
  const std::set<std::string> running = Running(table, table.Live(table.Switched(), {}));
  const std::set<std::string> captured = Running(table, table.Live(table.Switched(), {"Capture"}));
  TemporalSS->value = true;
  FinalBlitEn->value = true;
  EXPECT_EQ(running.count("Motion"), 0u);
  EXPECT_EQ(running.count("G-buffer"), 0u) << "the lit colour reaches no one";
  EXPECT_EQ(running.count("Light injection"), 1u);
  EXPECT_EQ(captured.count("Lighting"), 1u);
  EXPECT_EQ(captured.count("Motion"), 0u);
}
