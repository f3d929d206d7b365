#include "engine/Thing.h"

#include <string>

#include "engine/Debug.h"

namespace KestorEngine {

namespace {
// Set while every id is handed out and that has been said.
bool outOfThingsReported = false;
}  // namespace

Thing Thing::Gimme() {
  for (int32_t i = 0; i < MaxThings; ++i) {
    if (!ThingsUsed[i]) {
      ThingsUsed[i] = true;
      outOfThingsReported = false;
      return Thing(i);
    }
  }
  // Id 0 belongs to someone: the caller's components would land on it.
  if (!outOfThingsReported) {
    Debug::Log("Out of space for THINGS!!! (all " + std::to_string(MaxThings) +
               " ids in use; no Thing made until one is released)\n");
    outOfThingsReported = true;
  }
  return GimmeDud();
}

void Thing::HereItsBunk(Thing t) {
  if (!CheckThingId(t, "Thing::HereItsBunk")) return;
  ThingsUsed[t.ID] = false;
  RunCallbackList(HereItsFunc, t);
}

bool CheckThingId(Thing t, const char* operation) {
  if (t.IsValid()) return true;
  Debug::Log(std::string(operation) + ": Thing id " + std::to_string(t.ID) +
             " has no component storage, ignored\n");
  return false;
}

}  // namespace KestorEngine
