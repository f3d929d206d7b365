#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>

namespace KestorEngine {

template <typename T>
class Resources;

// A counted handle to an object owned by Resources<T>. Copying adds a
// reference under the handle's name; destroying drops one, and the last one
// deletes the object. Moving hands the reference over without counting.
template <typename T>
class Resource {
 public:
  Resource() = default;
  // Counts a new reference to an object already stored under `name`.
  Resource(T* object, std::string name) : object(object), name(std::move(name)) { AddReference(); }
  Resource(const Resource& other) : object(other.object), name(other.name) { AddReference(); }
  Resource(Resource&& other) noexcept
      : object(std::exchange(other.object, nullptr)), name(std::move(other.name)) {
    other.name.clear();
  }
  ~Resource() { Release(); }

  Resource& operator=(const Resource& other) {
    if (this == &other || object == other.object) return *this;
    Release();
    object = other.object;
    name = other.name;
    AddReference();
    return *this;
  }

  Resource& operator=(Resource&& other) noexcept {
    // Same object: keep ours; `other` still drops its reference when it goes.
    if (this == &other || object == other.object) return *this;
    Release();
    object = std::exchange(other.object, nullptr);
    name = std::move(other.name);
    other.name.clear();
    return *this;
  }

  T* operator->() const { return object; }
  T& operator*() const { return *object; }
  T* Object() const { return object; }
  const std::string& Name() const { return name; }
  explicit operator bool() const { return object != nullptr; }

  // Two handles are to the same object when their pointers are equal.
  bool operator==(const Resource& other) const { return object == other.object; }
  bool operator!=(const Resource& other) const { return object != other.object; }

 private:
  void AddReference();
  void Release();

  T* object = nullptr;
  std::string name;
};

// The named cache of one asset type: one object per name, made on first
// request, deleted when its last handle goes. Names are compared byte-wise.
template <typename T>
class Resources {
 public:
  using ObjectMap = std::unordered_map<std::string, T*>;
  using CountMap = std::unordered_map<std::string, int32_t>;

  // The cached object, loaded with T(name) when the name is new.
  static Resource<T> Get(const std::string& name) {
    if (Res().find(name) == Res().end()) Store(name, new T(name));
    return Resource<T>(Res()[name], name);
  }

  // As Get, but a new name gets an empty T to be filled by code.
  static Resource<T> Make(const std::string& name) {
    if (Res().find(name) == Res().end()) Store(name, new T());
    return Resource<T>(Res()[name], name);
  }

  // As Get, but a new name adopts `object`. The cache takes ownership of
  // `object` in every case: when the name is already cached, the cached
  // object is returned and `object` is deleted (unless it is that very
  // object), so callers may pass a fresh `new T` without checking. A null
  // `object` is treated as Make(name).
  static Resource<T> Make(const std::string& name, T* object) {
    auto found = Res().find(name);
    if (found != Res().end()) {
      if (object != found->second) delete object;
    } else {
      Store(name, object != nullptr ? object : new T());
    }
    return Resource<T>(Res()[name], name);
  }

  // Live handles under the name; 0 when it is not cached.
  static int32_t Count(const std::string& name) {
    auto found = ResCount().find(name);
    return found == ResCount().end() ? 0 : found->second;
  }

  // Never destroyed: handles kept in other statics (component arrays) are
  // released at exit, possibly after these maps would have been torn down.
  static ObjectMap& Res() {
    static ObjectMap* map = new ObjectMap();
    return *map;
  }
  static CountMap& ResCount() {
    static CountMap* map = new CountMap();
    return *map;
  }

 private:
  // No iterator is held across T's constructor: a loading constructor may
  // ask this same cache for other names.
  static void Store(const std::string& name, T* object) {
    Res()[name] = object;
    ResCount()[name] = 0;
  }
};

template <typename T>
void Resource<T>::AddReference() {
  if (object == nullptr) return;
  ++Resources<T>::ResCount()[name];
}

template <typename T>
void Resource<T>::Release() {
  // An empty handle holds no reference.
  if (object == nullptr) return;
  auto& counts = Resources<T>::ResCount();
  auto count = counts.find(name);
  if (count != counts.end() && --count->second <= 0) {
    counts.erase(count);
    auto& objects = Resources<T>::Res();
    auto stored = objects.find(name);
    if (stored != objects.end()) {
      T* doomed = stored->second;
      // Erase before deleting: the destructor may release handles of its own.
      objects.erase(stored);
      delete doomed;
    }
  }
  object = nullptr;
  name.clear();
}

}  // namespace KestorEngine
