#include "scene/Viewpoint.h"

#include <cmath>
#include <iostream>

#include "engine/Scene.h"

namespace KestorEngine {

Component* Viewpoint::AddMe(Thing t) { return AddComponent<Viewpoint>(t); }

void Viewpoint::Attach() {
  RegisterComponentType<Viewpoint>("Viewpoint");
  std::cout << "Attach Viewpoint" << std::endl;
}

void Viewpoint::Load(AttributeMap attributes, Scene* scene) {
  if (scene == nullptr) return;
  scene->ReadVec3(attributes, "Position", Position);
  scene->ReadFloat(attributes, "Yaw", Yaw);
  float pitch = Pitch;
  if (scene->ReadFloat(attributes, "Pitch", pitch)) {
    if (std::abs(pitch) <= 90.0f) {
      Pitch = pitch;
    } else {
      scene->Report("\"Pitch\" must lie between -90 and 90 degrees: \"" + attributes["Pitch"] + "\", left at " +
                    std::to_string(Pitch));
    }
  }
  if (attributes.count("FieldOfView") == 0) return;
  float fov = FieldOfView;
  if (!scene->ReadFloat(attributes, "FieldOfView", fov)) return;
  if (fov > 0.0f && fov < 180.0f) {
    FieldOfView = fov;
  } else {
    scene->Report("\"FieldOfView\" must lie between 0 and 180 degrees: \"" + attributes["FieldOfView"] +
                  "\", the camera keeps its own");
  }
}

}  // namespace KestorEngine
