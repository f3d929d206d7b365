#include "engine/Scene.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cmath>
#include <exception>

#include "engine/Debug.h"
#include "engine/File.h"
#include "engine/TextHelpers.h"
#include "engine/TextNumbers.h"

namespace KestorEngine {

namespace {

std::string LineOf(const tinyxml2::XMLElement* element) {
  return "line " + std::to_string(element->GetLineNum()) + ": ";
}

// The first attribute's value names the Thing, whatever the attribute is called.
const char* ThingName(const tinyxml2::XMLElement* element) {
  const tinyxml2::XMLAttribute* first = element->FirstAttribute();
  return first != nullptr ? first->Value() : nullptr;
}

// tinyxml2's error name and line, with the element it names when it names one.
std::string DescribeError(const tinyxml2::XMLDocument& document) {
  std::string text = document.ErrorName();
  if (document.ErrorLineNum() > 0) text += " at line " + std::to_string(document.ErrorLineNum());
  const std::string full = document.ErrorStr() != nullptr ? document.ErrorStr() : "";
  size_t line = full.find("Line number=");
  size_t detail = line == std::string::npos ? line : full.find(": ", line);
  // The file name it may add is already at the start of our line.
  if (detail != std::string::npos && full.compare(detail + 2, 9, "filename=") != 0) {
    text += ": " + full.substr(detail + 2);
  }
  return text;
}

// Within LargestNumber each way (so NaN and infinity are out).
bool Usable(float v) { return std::abs(v) <= Scene::LargestNumber; }
template <typename Vec>
bool Usable(const Vec& v) {
  for (int i = 0; i < Vec::length(); ++i) {
    if (!Usable(v[i])) return false;
  }
  return true;
}

std::string Largest() {
  static_assert(Scene::LargestNumber == 1e9f, "the text below says it");
  return "1e9";
}

bool TryGet(const std::string& text, glm::vec2& out) { return TryGetVec2(text, out); }
bool TryGet(const std::string& text, glm::vec3& out) { return TryGetVec3(text, out); }
bool TryGet(const std::string& text, glm::vec4& out) { return TryGetVec4(text, out); }

}  // namespace

Scene::Scene(std::string name) : path(LevelPath(name)) {
  try {
    Load();
  } catch (const std::exception& e) {
    context.clear();
    Report(std::string("loading stopped: ") + e.what());
  }
  context.clear();
  ActiveScenes.push_back(this);
}

Scene::~Scene() {
  // Leaving the pointer behind would hand the control panel a dead scene.
  auto self = std::find(ActiveScenes.begin(), ActiveScenes.end(), this);
  if (self != ActiveScenes.end()) ActiveScenes.erase(self);
}

std::string Scene::LevelPath(const std::string& name) {
  // A level file named by its path (a scene of the user's own) is read as given.
  const std::string extension = ".xml";
  if (name.size() > extension.size() &&
      name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
    return name;
  }
  return File::Find("Levels", name + ".xml");
}

void Scene::Report(const std::string& problem) {
  ++problems;
  Debug::Log(path + ": " + context + problem + "\n");
}

// Two passes so that every Thing of the file has its id and name before any
// component loads: components may then name Things further down the file.
void Scene::Load() {
  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
    Report("cannot read the level (" + DescribeError(document) + "), the scene stays empty");
    return;
  }
  const tinyxml2::XMLElement* level = document.FirstChildElement("Level");
  if (level == nullptr) {
    Report("no \"Level\" element, the scene stays empty");
    return;
  }
  const tinyxml2::XMLElement* things = level->FirstChildElement("Things");
  if (things == nullptr) {
    Report("no \"Things\" element in \"Level\", the scene stays empty");
    return;
  }
  NameThings(things);
  LoadThings(things);
}

void Scene::NameThings(const tinyxml2::XMLElement* things) {
  int free = 0;
  for (bool used : Thing::ThingsUsed) free += used ? 0 : 1;
  // What finds no id is said once for the lot, not once per Thing.
  int skipped = 0;
  std::string firstSkipped;
  std::unordered_map<std::string, int> firstLine;
  for (const tinyxml2::XMLElement* element = things->FirstChildElement(); element != nullptr;
       element = element->NextSiblingElement()) {
    context = LineOf(element);
    const char* name = ThingName(element);
    if (name == nullptr) {
      Report(std::string("Thing element <") + element->Name() +
             "> has no attribute to name it, skipped with its components");
      continue;
    }
    const bool room = free > Thing::KeptForProgram;
    if (Things.count(name) == 0) {
      if (!room) {
        if (skipped++ == 0) firstSkipped = "line " + std::to_string(element->GetLineNum()) + " (\"" + name + "\")";
        continue;
      }
      Things.emplace(name, Thing::Gimme());
      --free;
      firstLine[name] = element->GetLineNum();
    } else {
      // The id stays handed out, unnamed; the components go to the first Thing.
      if (room) {
        Thing::Gimme();
        --free;
      }
      Report(std::string("Thing name \"") + name + "\" is already used at line " +
             std::to_string(firstLine[name]) + ", this element's components go to that Thing");
    }
  }
  context.clear();
  if (skipped > 0) {
    Report("no Thing id is left for " + std::to_string(skipped) + (skipped == 1 ? " Thing" : " Things") +
           " from " + firstSkipped + " on, skipped with their components (the program keeps " +
           std::to_string(Thing::KeptForProgram) + " of its " + std::to_string(Thing::MaxThings) +
           " ids for itself)");
  }
}

void Scene::LoadThings(const tinyxml2::XMLElement* things) {
  for (const tinyxml2::XMLElement* element = things->FirstChildElement(); element != nullptr;
       element = element->NextSiblingElement()) {
    const char* name = ThingName(element);
    if (name == nullptr) continue;  // reported while naming
    auto named = Things.find(name);
    if (named == Things.end()) continue;  // no id was left, reported while naming
    Thing thing = named->second;
    for (const tinyxml2::XMLElement* component = element->FirstChildElement(); component != nullptr;
         component = component->NextSiblingElement()) {
      LoadComponent(thing, name, component);
    }
  }
}

void Scene::LoadComponent(Thing thing, const std::string& thingName,
                          const tinyxml2::XMLElement* element) {
  const std::string type = element->Name();
  auto adder = GimmooString.find(type);
  const bool registered = adder != GimmooString.end() && adder->second;
  Debug::Log(type + "\n" + (registered ? "1" : "0") + "\n");

  AttributeMap attributes;
  for (const tinyxml2::XMLAttribute* attribute = element->FirstAttribute(); attribute != nullptr;
       attribute = attribute->Next()) {
    Debug::Log(std::string(attribute->Name()) + ": " + attribute->Value() + "\n");
    attributes[attribute->Name()] = attribute->Value();
  }

  context = LineOf(element) + type + " of Thing \"" + thingName + "\": ";
  if (!registered) {
    Report("not a registered component type, skipped");
  } else if (Component* component = adder->second(thing)) {
    // Components come from many hands; one that throws must not stop the level.
    try {
      component->Load(std::move(attributes), this);
    } catch (const std::exception& e) {
      Report(std::string("loading failed: ") + e.what());
    } catch (...) {
      Report("loading failed");
    }
  } else {
    Report("could not be added, skipped");
  }
  context.clear();
}

template <typename Vec>
bool Scene::ReadVec(const AttributeMap& attributes, const std::string& key, Vec& out) {
  auto found = attributes.find(key);
  if (found == attributes.end()) {
    Report("\"" + key + "\" is missing");
    return false;
  }
  Vec value;
  if (!TryGet(found->second, value)) {
    Report("\"" + key + "\" is not " + std::to_string(Vec::length()) + " numbers: \"" +
           found->second + "\"");
    return false;
  }
  if (!Usable(value)) {
    Report("\"" + key + "\" needs finite numbers of at most " + Largest() + " each way, not \"" + found->second +
           "\"");
    return false;
  }
  out = value;
  return true;
}

bool Scene::ReadFloat(const AttributeMap& attributes, const std::string& key, float& out) {
  auto found = attributes.find(key);
  if (found == attributes.end()) {
    Report("\"" + key + "\" is missing");
    return false;
  }
  float value = 0.0f;
  if (!TryParseFloat(found->second, value)) {
    Report("\"" + key + "\" is not a number: \"" + found->second + "\"");
    return false;
  }
  if (!Usable(value)) {
    Report("\"" + key + "\" needs a finite number of at most " + Largest() + " each way, not \"" + found->second +
           "\"");
    return false;
  }
  out = value;
  return true;
}

bool Scene::ReadVec2(const AttributeMap& attributes, const std::string& key, glm::vec2& out) {
  return ReadVec(attributes, key, out);
}
bool Scene::ReadVec3(const AttributeMap& attributes, const std::string& key, glm::vec3& out) {
  return ReadVec(attributes, key, out);
}
bool Scene::ReadVec4(const AttributeMap& attributes, const std::string& key, glm::vec4& out) {
  return ReadVec(attributes, key, out);
}

bool Scene::ReadThing(const AttributeMap& attributes, const std::string& key, Thing& out) {
  auto found = attributes.find(key);
  if (found == attributes.end()) return false;
  auto thing = Things.find(found->second);
  if (thing == Things.end()) {
    Report("\"" + key + "\" names no Thing of this level: \"" + found->second + "\"");
    return false;
  }
  out = thing->second;
  return true;
}

}  // namespace KestorEngine
