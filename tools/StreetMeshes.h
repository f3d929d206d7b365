#pragma once
// The meshes of the street level, built from simple solids. Z is up and one
// unit is a metre. Each mesh is in the local space of the Thing that shows
// it (see Levels/StreetTest.xml): the houses face +X with their street wall
// at x = 1.2 and their ridge over x = 0; the bulb, sun and flames are scaled
// by their Transforms.
#include <functional>
#include <string>
#include <vector>

#include "MeshBuilder.h"

namespace KestorTools {

struct NamedMesh {
  std::string Name;
  std::function<MeshLists()> Build;
};

// In the order they are written.
const std::vector<NamedMesh>& StreetMeshes();

}  // namespace KestorTools
