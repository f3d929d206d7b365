#pragma once
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/Component.h"
#include "engine/Thing.h"

namespace tinyxml2 {
class XMLElement;
}

namespace KestorEngine {

// A loaded level: every Thing of one level file, named, with its components
// added and loaded. A malformed piece of the file is reported on the console
// and skipped; the rest still loads. Deleting a scene forgets the names
// only: its Things keep their ids and components.
class Scene {
 public:
  // Loads AssetsPath/Levels/<name>.xml, or the file `name` itself when it
  // ends in ".xml".
  explicit Scene(std::string name);
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  static std::string LevelPath(const std::string& name);

  // Level numbers beyond this size are refused: products of a few of them
  // (a scale cubed, a position through two matrices, a colour times a
  // strength) must stay finite in float on their way to the renderer.
  static constexpr float LargestNumber = 1e9f;

  // Readers for components' Load. A missing key, a value that does not
  // convert, NaN, infinity or a number beyond LargestNumber is reported
  // against this level and the element being loaded; `out` is then left
  // untouched and the result is false.
  bool ReadFloat(const AttributeMap& attributes, const std::string& key, float& out);
  bool ReadVec2(const AttributeMap& attributes, const std::string& key, glm::vec2& out);
  bool ReadVec3(const AttributeMap& attributes, const std::string& key, glm::vec3& out);
  bool ReadVec4(const AttributeMap& attributes, const std::string& key, glm::vec4& out);
  // For optional references to another Thing of this level: an absent key
  // gives false quietly, a name that is no Thing of the level is reported.
  bool ReadThing(const AttributeMap& attributes, const std::string& key, Thing& out);

  // One console line naming this level file and, while a component loads,
  // its element; `problem` says what is wrong and what was done about it.
  void Report(const std::string& problem);

  const std::string& Path() const { return path; }
  // Problems reported so far, by the loader and by components.
  int ProblemCount() const { return problems; }

  std::unordered_map<std::string, Thing> Things;

  // Every live scene, in construction order; the control panel looks Things
  // up in entry 0.
  static inline std::vector<Scene*> ActiveScenes;

 private:
  void Load();
  void NameThings(const tinyxml2::XMLElement* things);
  void LoadThings(const tinyxml2::XMLElement* things);
  void LoadComponent(Thing thing, const std::string& thingName, const tinyxml2::XMLElement* element);
  template <typename Vec>
  bool ReadVec(const AttributeMap& attributes, const std::string& key, Vec& out);

  std::string path;
  // Prefix naming the element being loaded, empty outside loading.
  std::string context;
  int problems = 0;
};

}  // namespace KestorEngine
