#pragma once
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/Thing.h"

namespace KestorEngine {

class Scene;

// Attribute text of one component element of a level, name to value.
using AttributeMap = std::map<std::string, std::string>;

class Component {
 public:
  virtual ~Component() = default;
  virtual void Initialize() {}
  virtual void EverythingIsGoingDark() {}
  virtual void Load(AttributeMap attributes, Scene* scene) {}
  virtual std::string Save() { return ""; }

  bool Constructed = true;  // set at construction, read by nothing
  bool InUse = false;       // true while the owning Thing has this component
};

// Level loader's way to add a component by type name: the type's AddMe.
using ComponentAdder = std::function<Component*(Thing)>;
inline std::unordered_map<std::string, ComponentAdder> GimmooString;

// Static per-type storage: one element per Thing id, built once at start,
// never allocated per entity.
template <typename T>
class ComponentHandler {
 public:
  using Callback = std::function<void(Thing)>;

  // Adding an already present component runs Initialize and the added
  // callbacks again; fields are never reset.
  static void Gimmoo(Thing t) {
    if (!CheckThingId(t, "ComponentHandler::Gimmoo")) return;
    T& c = Components[t.ID];
    c.Initialize();
    c.InUse = true;
    RunCallbackList(GoodYumidk, t);
  }

  // The removed callbacks run even when the component was absent: systems
  // rely on that being harmless (Thing release calls this once per follower).
  static void HereItsBunk(Thing t) {
    if (!CheckThingId(t, "ComponentHandler::HereItsBunk")) return;
    T& c = Components[t.ID];
    if (c.InUse) c.EverythingIsGoingDark();
    c.InUse = false;
    RunCallbackList(FoodGoSad, t);
  }

  static T* Get(Thing t) {
    if (!t.IsValid()) return nullptr;
    T& c = Components[t.ID];
    return c.InUse ? &c : nullptr;
  }

  static inline T Components[Thing::MaxThings];
  static inline std::vector<Callback> GoodYumidk;
  static inline std::vector<Callback> FoodGoSad;
};

// Whether `t` has a T now.
template <typename T>
bool Has(Thing t) {
  return ComponentHandler<T>::Get(t) != nullptr;
}

// Shared body of every registrable type's AddMe. Null only for ids that
// have no storage (rejected and reported by Gimmoo).
template <typename T>
Component* AddComponent(Thing t) {
  ComponentHandler<T>::Gimmoo(t);
  return ComponentHandler<T>::Get(t);
}

template <typename T>
void RegisterComponentType(const std::string& name) {
  GimmooString[name] = &T::AddMe;
}

}  // namespace KestorEngine
