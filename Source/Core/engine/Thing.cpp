#include "engine/Thing.h"

#include <string>

#include "engine/Debug.h"

namespace KestorEngine {

Thing Thing::Gimme() {
  for (int32_t i = 0; i < MaxThings; ++i) {
    if (!ThingsUsed[i]) {
      ThingsUsed[i] = true;
      return Thing(i);
    }
  }
  Debug::Log("Out of space for THINGS!!!");
  return Thing(0);
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
