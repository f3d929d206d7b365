#include "scene/Viewpoint.h"

#include <cmath>
#include <iostream>

#include "engine/MathChecks.h"
#include "engine/Scene.h"

namespace KestorEngine {

namespace {

std::string Degrees(float value) { return std::to_string(static_cast<int>(value)); }

}  // namespace

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
  if (fov >= kMinFieldOfView && fov <= kMaxFieldOfView) {
    FieldOfView = fov;
  } else {
    scene->Report("\"FieldOfView\" must lie between " + Degrees(kMinFieldOfView) + " and " +
                  Degrees(kMaxFieldOfView) + " degrees: \"" + attributes["FieldOfView"] + "\", the camera keeps its own");
  }
}

}  // namespace KestorEngine
