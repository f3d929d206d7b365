#pragma once
// The Cornell box as a level of this engine: the classic measured geometry
// (millimetres, turned to metres with Z up and the open side facing -Y),
// red wall on the left and green on the right as seen from the camera, two
// white blocks and a ceiling light of radiance 30 with its area light.
#include <string>
#include <vector>

#include <glm/vec3.hpp>

#include "MeshBuilder.h"

namespace KestorTools {

struct CornellPart {
  std::string Thing;     // name in the level
  std::string Mesh;      // Meshes/<Mesh>.fml
  std::string Material;  // Materials/<Material>.xml
  MeshLists Lists;
};

// Every visible part of the box, in world coordinates (identity transforms).
std::vector<CornellPart> CornellBoxParts();
// Materials/<name>.xml text of each material the parts name.
std::vector<std::pair<std::string, std::string>> CornellBoxMaterials();
// Levels/CornellBox.xml: the parts, the light field around the box and the
// ceiling light's area; no sky (the box's open side looks into the dark).
std::string CornellBoxLevel();

// The classic camera: where it stands, where it looks, its vertical field of
// view in degrees.
constexpr float CornellCameraFov = 39.3f;
glm::vec3 CornellCameraPosition();
glm::vec3 CornellCameraTarget();

}  // namespace KestorTools
