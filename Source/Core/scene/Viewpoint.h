#pragma once
// Where a level would have the camera start: the program places its fly
// camera here when the command line gives no camera of its own. Imported
// scenes carry the source's camera in one. Nothing else reads it.
#include <string>

#include <glm/vec3.hpp>

#include "engine/Component.h"

namespace KestorEngine {

class Viewpoint : public Component {
 public:
  // Keys: "Position" (x,y,z), "Yaw" and "Pitch" (degrees: yaw 0 looks along
  // +Y, yaw 90 along +X, pitch 0 is level and positive up), optional
  // "FieldOfView" (vertical, degrees). A bad value is reported and leaves
  // that field as it was.
  void Load(AttributeMap attributes, Scene* scene) override;
  std::string Save() override { return "VIEWPOINT - No Save Implemented"; }

  static Component* AddMe(Thing t);
  static void Attach();

  glm::vec3 Position{0.0f};
  float Yaw = 0.0f;
  float Pitch = 0.0f;
  float FieldOfView = 0.0f;  // 0: the camera keeps its own
};

}  // namespace KestorEngine
