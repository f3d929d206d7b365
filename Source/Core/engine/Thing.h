#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace KestorEngine {

// An entity is nothing but an id; its components live in per-type arrays
// indexed by that id (see ComponentHandler).
class Thing {
 public:
  static constexpr int32_t MaxThings = 8192;
  static constexpr int32_t DudId = MaxThings;  // "no Thing"
  // Ids a level may not take: kept for the Things the program makes after
  // loading it (the fly camera), so that a full level cannot leave the
  // program without them. A level holds at most MaxLevelThings.
  static constexpr int32_t KeptForProgram = 8;
  static constexpr int32_t MaxLevelThings = MaxThings - KeptForProgram;

  Thing() = default;

  // The lowest free id; the dud when all are in use (said once until an id
  // is handed out again).
  static Thing Gimme();
  static Thing GimmeDud() { return Thing(DudId); }
  static void HereItsBunk(Thing t);
  static Thing MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(int id) { return Thing(id); }

  bool IsDud() const { return ID == DudId; }
  // True for ids that own an element in the component arrays.
  bool IsValid() const { return ID >= 0 && ID < MaxThings; }

  bool operator==(const Thing& o) const { return ID == o.ID; }
  bool operator!=(const Thing& o) const { return ID != o.ID; }

  int32_t ID = 0;

  static inline bool ThingsUsed[MaxThings] = {};
  // Run when a Thing is released: every system appends the remove operation
  // of each component type it follows.
  static inline std::vector<std::function<void(Thing)>> HereItsFunc;

 private:
  explicit Thing(int32_t id) : ID(id) {}
};

// Runs a callback list in index order, re-reading its size after every call
// so that a callback may append to the list it is called from.
template <typename List, typename... Args>
void RunCallbackList(List& list, Args... args) {
  for (size_t i = 0; i < list.size(); ++i) {
    auto callback = list[i];  // the list may grow (and move) during the call
    if (callback) callback(args...);
  }
}

// Reports an id that has no component element; returns false for such ids.
bool CheckThingId(Thing t, const char* operation);

}  // namespace KestorEngine
