#pragma once
// Reference-counted handles to GL objects. A handle is a state-object pointer
// plus a resource id; every copy is one reference and the GL object goes when
// the last one does. State records (the requested-state stack and the mirror)
// hold handles like anyone else, so an object stays alive while GL may still
// have it bound.
#include <unordered_map>
#include <utility>

namespace SaneGL {

// The live objects and their counts for one state class. Ids start at 1 and
// are never reused, so an id can never name a later object by accident.
template <class T>
struct GLResources {
  std::unordered_map<int, T*> Res;
  std::unordered_map<int, int> ResCount;
  int ResInstCount = 0;

  // Never destroyed: handles held by static records are released during
  // process exit, in an order no static registry could be sure to outlive.
  static GLResources& Get() {
    static GLResources* registry = new GLResources;
    return *registry;
  }
};

template <class T>
class GLResource {
 public:
  GLResource() = default;
  GLResource(const GLResource& other) : state(other.state), id(other.id) { Retain(); }
  GLResource(GLResource&& other) noexcept : state(other.state), id(other.id) {
    other.state = nullptr;
    other.id = 0;
  }
  ~GLResource() { Release(); }

  GLResource& operator=(const GLResource& other) {
    if (state == other.state) return *this;
    // Take the new reference before dropping the old one: the old object's
    // destructor may release handles that `other` lives in.
    GLResource keep(other);
    Swap(keep);
    return *this;
  }
  GLResource& operator=(GLResource&& other) noexcept {
    if (state == other.state) return *this;
    GLResource old(std::move(*this));
    Swap(other);
    return *this;
  }

  // The state object (null for an empty handle).
  T* Use() const { return state; }
  // The GL object name; 0 for an empty handle.
  unsigned glID() const { return state != nullptr ? state->object : 0; }
  int ResourceID() const { return id; }
  bool Empty() const { return id == 0; }
  // References held on this object right now (0 for an empty handle).
  int References() const {
    if (id <= 0) return 0;
    auto& counts = GLResources<T>::Get().ResCount;
    auto it = counts.find(id);
    return it != counts.end() ? it->second : 0;
  }

  // Two handles are equal when they name the same object.
  friend bool operator==(const GLResource& a, const GLResource& b) { return a.state == b.state; }
  friend bool operator!=(const GLResource& a, const GLResource& b) { return a.state != b.state; }

 protected:
  // Registers a freshly constructed state object and returns its first handle.
  static std::pair<T*, int> Register(T* object) {
    auto& registry = GLResources<T>::Get();
    int newId = ++registry.ResInstCount;
    registry.Res[newId] = object;
    registry.ResCount[newId] = 1;
    object->id = newId;
    return {object, newId};
  }
  explicit GLResource(std::pair<T*, int> adopted) : state(adopted.first), id(adopted.second) {}

 private:
  void Swap(GLResource& other) noexcept {
    std::swap(state, other.state);
    std::swap(id, other.id);
  }
  void Retain() {
    if (id > 0) ++GLResources<T>::Get().ResCount[id];
  }
  void Release() {
    if (id <= 0) return;
    auto& registry = GLResources<T>::Get();
    T* doomed = state;
    int doomedId = id;
    state = nullptr;
    id = 0;
    auto it = registry.ResCount.find(doomedId);
    if (it == registry.ResCount.end() || --it->second > 0) return;
    // Forget the object before destroying it, so that handles released by its
    // destructor find consistent maps.
    registry.ResCount.erase(it);
    registry.Res.erase(doomedId);
    delete doomed;
  }

  T* state = nullptr;
  int id = 0;
};

}  // namespace SaneGL
