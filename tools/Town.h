#pragma once
// The town level: the street of Levels/StreetTest.xml in the middle of a
// town of its houses some 150 x 180 m across (five streets, cross lanes, a
// square), lit through a light field that follows the camera. Z is up and
// one unit is a metre. The town's own meshes (the ground, the lanes, the
// pavements, the square) are built here; its houses, lamps and props are
// the street's meshes placed again.
#include <string>
#include <vector>

#include <glm/vec3.hpp>

#include "StreetMeshes.h"

namespace KestorTools {

// A house of the town: which of the street's two it is, where it stands
// and whether it is turned half round (facing -X).
struct TownHouse {
  std::string Name;
  std::string Mesh;
  glm::vec3 Position{0.0f};
  bool Turned = false;
};

// Every house, the street's own two first.
std::vector<TownHouse> TownHouses();

// The town's meshes, in the order they are written.
const std::vector<NamedMesh>& TownMeshes();

// The level's text around `streetLevel`, the street level's own text (its
// Things but the light field and the sky are taken as they are). Empty,
// with `problem` said, when that text has no Things.
std::string TownLevelText(const std::string& streetLevel, std::string& problem);

// The town's extent on the ground, metres: x and y from -HalfWidth to
// HalfWidth and -HalfLength to HalfLength.
constexpr float TownHalfWidth = 76.0f;
constexpr float TownHalfLength = 90.0f;

}  // namespace KestorTools
