#include "StreetMeshes.h"

#include <algorithm>
#include <cmath>

#include <glm/geometric.hpp>

namespace KestorTools {

namespace {

using glm::vec2;
using glm::vec3;

constexpr float Pi = 3.14159265358979f;

// Both houses run from y = -HouseHalfLength to +HouseHalfLength; the street
// and its pavements run a little further.
constexpr float HouseHalfLength = 6.0f;
constexpr float StreetHalfLength = 8.0f;
constexpr float StreetHalfWidth = 2.0f;  // kerb to kerb
constexpr float PavementOuter = 3.4f;    // under the house plinths

// Where the level puts the houses: the left one at x = -4.5 as built, the
// right one at x = +4.5 turned half round (local (x, y) is world (4.5 - x,
// -y)). The window glass that glows at night (Windows) is built in world
// space from the same openings, so these must match Levels/StreetTest.xml.
constexpr float LeftHouseAt = -4.5f;
constexpr float RightHouseAt = 4.5f;

// The houses' submeshes, each drawn with the material at the same place in
// the level's Materials list.
enum HousePart : int {
  Walls,       // plaster (left) or brick (right) of the ground floor and lean-to
  Roof,        // tiles and ridge
  Timber,      // framing, window frames, doors
  Stone,       // plinth, sills, steps, lintel
  Chimney,     // brick stacks
  Glass,       // dark window glass
  UpperWalls,  // plaster of the upper storey and gables
};

// A box between two x values that may come in either order (mirrored sides).
void SpanBox(MeshBuilder& m, float x0, float x1, float y0, float y1, float z0, float z1) {
  m.Box(vec3(std::min(x0, x1), std::min(y0, y1), std::min(z0, z1)),
        vec3(std::max(x0, x1), std::max(y0, y1), std::max(z0, z1)));
}

// A timber laid on a wall: from and to lie in the wall's plane, which faces
// `out`; the timber stands `proud` out of it and sinks 1 cm in. Seen from
// afar (`face`) only its face is kept: its sides are a pixel or less there,
// and they were most of a house's triangles.
void WallBeam(MeshBuilder& m, vec3 out, vec3 from, vec3 to, float width, float proud, bool face = false) {
  if (face) {
    const vec3 front = out * proud;
    const vec3 across = glm::normalize(glm::cross(out, to - from)) * (0.5f * width);
    m.Polygon({from + front - across, to + front - across, to + front + across, from + front + across}, out);
    return;
  }
  const vec3 shift = out * (0.5f * proud - 0.01f);
  m.Beam(from + shift, to + shift, glm::cross(to - from, out), width, proud + 0.02f);
}

// Where the houses' meshes seen from afar take over.
constexpr float HouseFarFrom = 40.0f;

// A window opening on a street wall: centre (y, z), size, and the panes its
// mullions divide it into.
struct Opening {
  float Y, Z, Width, Height;
  int Panes;
  bool LitAtNight;  // its glass glows in the Windows mesh
};

// Glass a little in front of a wall at x facing +x (the glazing bars stand
// further out).
void Pane(MeshBuilder& m, float x, const Opening& o) {
  const float w = 0.5f * o.Width, h = 0.5f * o.Height;
  m.Polygon({vec3(x, o.Y - w, o.Z - h), vec3(x, o.Y + w, o.Z - h), vec3(x, o.Y + w, o.Z + h),
             vec3(x, o.Y - w, o.Z + h)},
            vec3(1, 0, 0));
}
constexpr float GlassProud = 0.006f;
constexpr float GlowProud = 0.012f;  // the night glass, in front of the dark

// The street walls face +x; points on them are given as (y, z).
struct Facade {
  MeshBuilder& m;
  float x;
  bool Far = false;  // the timbers' faces alone

  void Beam(vec2 from, vec2 to, float width = 0.16f, float proud = 0.05f) const {
    m.Submesh(Timber);
    WallBeam(m, vec3(1, 0, 0), vec3(x, from.x, from.y), vec3(x, to.x, to.y), width, proud, Far);
  }

  // Glass, frame, sill and glazing bars of an opening. The glass that glows
  // at night is the Windows mesh's.
  void Window(const Opening& o) const {
    m.Submesh(Glass);
    Pane(m, x + GlassProud, o);
    const float y = o.Y, z = o.Z, width = o.Width, height = o.Height;
    const int panes = o.Panes;
    const float w = 0.5f * width, h = 0.5f * height, frame = 0.1f;
    Beam({y - w - frame, z + h + 0.5f * frame}, {y + w + frame, z + h + 0.5f * frame}, frame, 0.06f);
    Beam({y - w - frame, z - h - 0.5f * frame}, {y + w + frame, z - h - 0.5f * frame}, frame, 0.06f);
    Beam({y - w - 0.5f * frame, z - h}, {y - w - 0.5f * frame, z + h}, frame, 0.06f);
    Beam({y + w + 0.5f * frame, z - h}, {y + w + 0.5f * frame, z + h}, frame, 0.06f);
    for (int pane = 1; pane < panes; ++pane) {
      const float at = y - w + width * static_cast<float>(pane) / static_cast<float>(panes);
      Beam({at, z - h}, {at, z + h}, 0.06f, 0.045f);
    }
    // Glazing bars: an upright in a single light, a transom across all.
    if (panes == 1) Beam({y, z - h}, {y, z + h}, 0.035f, 0.035f);
    Beam({y - w, z + 0.15f * height}, {y + w, z + 0.15f * height}, 0.035f, 0.035f);
    m.Submesh(Stone);
    SpanBox(m, x, x + 0.14f, y - w - 0.16f, y + w + 0.16f, z - h - frame - 0.07f, z - h - frame + 0.01f);
  }

  // A plank door with its frame, and a step down to the pavement.
  void Door(float y, float sill, float width, float height) const {
    const float w = 0.5f * width;
    Beam({y - w - 0.07f, sill}, {y - w - 0.07f, sill + height + 0.14f}, 0.14f, 0.07f);
    Beam({y + w + 0.07f, sill}, {y + w + 0.07f, sill + height + 0.14f}, 0.14f, 0.07f);
    Beam({y - w - 0.14f, sill + height + 0.07f}, {y + w + 0.14f, sill + height + 0.07f}, 0.14f, 0.07f);
    m.Submesh(Timber);
    SpanBox(m, x - 0.01f, x + 0.03f, y - w, y + w, sill, sill + height);
    for (float batten : {0.25f, 0.5f, 0.8f}) {
      Beam({y - w, sill + batten * height}, {y + w, sill + batten * height}, 0.1f, 0.045f);
    }
    m.Submesh(Stone);
    SpanBox(m, x, x + 0.38f, y - w - 0.15f, y + w + 0.15f, 0.0f, sill - 0.02f);
  }
};

// A slab whose underside runs from `low` to `high` (x, z), across the whole
// length of the house plus the gable overhang.
void RoofSlab(MeshBuilder& m, vec2 low, vec2 high, float halfLength, float thickness) {
  const vec3 a(low.x, 0.0f, low.y), b(high.x, 0.0f, high.y);
  vec3 up = glm::normalize(glm::cross(b - a, vec3(0, 1, 0)));
  if (up.z < 0.0f) up = -up;
  m.OrientedBox(0.5f * (a + b) + up * (0.5f * thickness), 0.5f * (b - a), vec3(0, halfLength, 0),
                up * (0.5f * thickness));
}

// A pitched roof over walls at xFront and xBack whose tops are at eave; the
// ridge runs along y at (ridgeX, ridgeZ), underside. Gable triangles close
// the ends above the walls.
void PitchedRoof(MeshBuilder& m, float xFront, float xBack, float eave, float ridgeX, float ridgeZ, bool far) {
  const float overhang = 0.35f, gableOverhang = 0.3f, thickness = 0.15f;
  const float frontSlope = (ridgeZ - eave) / (xFront - ridgeX);
  const float backSlope = (ridgeZ - eave) / (ridgeX - xBack);
  const float halfLength = HouseHalfLength + gableOverhang;
  m.Submesh(Roof);
  RoofSlab(m, {xFront + overhang, eave - overhang * frontSlope}, {ridgeX, ridgeZ}, halfLength, thickness);
  RoofSlab(m, {xBack - overhang, eave - overhang * backSlope}, {ridgeX, ridgeZ}, halfLength, thickness);
  m.Box(vec3(ridgeX - 0.15f, -halfLength, ridgeZ - 0.05f), vec3(ridgeX + 0.15f, halfLength, ridgeZ + 0.25f));
  for (float side : {-1.0f, 1.0f}) {
    const float y = side * HouseHalfLength;
    m.Submesh(UpperWalls);
    m.Polygon({vec3(xFront, y, eave), vec3(ridgeX, y, ridgeZ), vec3(xBack, y, eave)}, vec3(0, side, 0));
    // Tie beam and king post on the gable.
    const vec3 out(0, side, 0);
    m.Submesh(Timber);
    WallBeam(m, out, vec3(xFront, y, eave), vec3(xBack, y, eave), 0.16f, 0.05f, far);
    WallBeam(m, out, vec3(ridgeX, y, eave), vec3(ridgeX, y, ridgeZ - 0.05f), 0.14f, 0.05f, far);
  }
}

// A single-pitch lean-to against the back wall (x = wallX), lower at x = xBack.
void LeanTo(MeshBuilder& m, float wallX, float xBack, float height, float roofTop) {
  const float halfLength = HouseHalfLength - 0.6f;
  m.Submesh(Walls);
  m.Box(vec3(xBack, -halfLength, 0.0f), vec3(wallX, halfLength, height));
  const float slope = (roofTop - height) / (wallX - xBack);
  m.Submesh(Roof);
  RoofSlab(m, {xBack - 0.3f, height - 0.3f * slope}, {wallX, roofTop}, halfLength + 0.2f, 0.12f);
  m.Submesh(Walls);
  for (float side : {-1.0f, 1.0f}) {
    const float y = side * halfLength;
    m.Polygon({vec3(xBack, y, height), vec3(wallX, y, height), vec3(wallX, y, roofTop)}, vec3(0, side, 0));
  }
}

void ChimneyStack(MeshBuilder& m, vec2 x, vec2 y, float bottom, float top) {
  m.Submesh(Chimney);
  m.Box(vec3(x.x, y.x, bottom), vec3(x.y, y.y, top));
  m.Box(vec3(x.x - 0.05f, y.x - 0.05f, top), vec3(x.y + 0.05f, y.y + 0.05f, top + 0.1f));
}

// ---------------------------------------------------------------------------

// The street between the kerbs: flat at the setts' mean height, with its
// uv in metres. The setts themselves are relief the Cobbles material draws
// per pixel (Standard.shader's "Setts"): modelled, they took 32,768
// triangles, the most costly part of a frame on a CPU rasteriser.
MeshLists Street() {
  const float meanHeight = 0.0125f, step = 1.0f;
  const int columns = static_cast<int>(std::lround(2.0f * StreetHalfWidth / step));
  const int rows = static_cast<int>(std::lround(2.0f * StreetHalfLength / step));
  MeshBuilder m;
  for (int j = 0; j <= rows; ++j) {
    for (int i = 0; i <= columns; ++i) {
      const float x = -StreetHalfWidth + step * static_cast<float>(i);
      const float y = -StreetHalfLength + step * static_cast<float>(j);
      m.Vertex(vec3(x, y, meanHeight), vec3(0.0f, 0.0f, 1.0f), vec2(x, y));
    }
  }
  const uint32_t row = static_cast<uint32_t>(columns + 1);
  for (uint32_t j = 0; j < static_cast<uint32_t>(rows); ++j) {
    for (uint32_t i = 0; i < static_cast<uint32_t>(columns); ++i) {
      const uint32_t a = j * row + i, b = a + 1, c = b + row, d = a + row;
      m.Triangle(a, b, c);
      m.Triangle(a, c, d);
    }
  }
  return m.Lists();
}

// Kerb stones and paving slabs on a bed, both sides. The Transform lifts the
// mesh 5 cm: local -0.05 is street level and the slabs' tops are 15 cm up.
MeshLists Sidewalks() {
  MeshBuilder m;
  const float joint = 0.004f, kerb = 0.18f;
  for (float side : {-1.0f, 1.0f}) {
    const float inner = side * StreetHalfWidth;
    const float slabsFrom = side * (StreetHalfWidth + kerb);
    SpanBox(m, slabsFrom, side * PavementOuter, -StreetHalfLength, StreetHalfLength, -0.05f, 0.06f);
    for (float y = -StreetHalfLength; y < StreetHalfLength - 0.01f; y += 0.5f) {
      SpanBox(m, inner, slabsFrom, y + joint, y + 0.5f - joint, -0.05f, 0.105f);
    }
    const float across = 0.5f * (PavementOuter - StreetHalfWidth - kerb);
    for (int strip = 0; strip < 2; ++strip) {
      const float x0 = slabsFrom + side * across * static_cast<float>(strip);
      const float x1 = x0 + side * across;
      // Alternate strips are offset by half a slab, as laid paving is.
      const float offset = strip == 0 ? 0.0f : 0.4f;
      for (float y = -StreetHalfLength - offset; y < StreetHalfLength - 0.01f; y += 0.8f) {
        const float y0 = std::max(y, -StreetHalfLength), y1 = std::min(y + 0.8f, StreetHalfLength);
        SpanBox(m, x0 + side * joint, x1 - side * joint, y0 + joint, y1 - joint, 0.06f, 0.1f);
      }
    }
  }
  return m.Lists();
}

// Window openings of the street walls, shared with the night glass.
const Opening LeftHouseWindows[] = {
    {-3.0f, 1.4f, 0.9f, 1.2f, 1, true},    {0.0f, 1.4f, 0.9f, 1.2f, 1, true},
    {3.0f, 1.4f, 0.9f, 1.2f, 1, true},     {-3.0f, 3.85f, 0.9f, 1.1f, 1, false},
    {0.0f, 3.85f, 0.9f, 1.1f, 1, true},    {3.0f, 3.85f, 0.9f, 1.1f, 1, false},
};
const Opening RightHouseGroundWindows[] = {
    {-2.2f, 1.55f, 2.4f, 1.4f, 3, true},  // the shop window
    {4.8f, 1.6f, 0.7f, 0.9f, 1, false},
    {-5.0f, 1.6f, 0.7f, 0.9f, 1, true},
};
const Opening RightHouseUpperWindows[] = {
    {-2.4f, 4.1f, 0.9f, 1.1f, 1, true},
    {0.0f, 4.1f, 0.9f, 1.1f, 1, false},
    {2.4f, 4.1f, 0.9f, 1.1f, 1, false},
};
constexpr float LeftHouseFront = 1.2f;
constexpr float RightHouseFront = 1.2f;
constexpr float RightHouseUpper = 1.5f;  // the jettied storey's wall

// A house as seen near, naming the mesh the camera draws from afar, or
// that mesh itself.
MeshLists Seen(MeshLists lists, bool far, const std::string& farName) {
  if (!far) {
    lists.Far = farName;
    lists.FarFrom = HouseFarFrom;
  }
  return lists;
}

// Two storeys of plaster between oak framing under a steep roof, with a
// lean-to behind. The weathervane stands on its ridge.
MeshLists HouseLeft(bool far) {
  MeshBuilder m;
  const float L = HouseHalfLength, front = LeftHouseFront, back = -1.2f, eave = 5.0f;
  m.Submesh(Stone);
  m.Box(vec3(back - 0.03f, -L - 0.02f, 0.0f), vec3(front + 0.05f, L + 0.02f, 0.45f));
  m.Submesh(Walls);
  m.Box(vec3(back, -L, 0.45f), vec3(front, L, 2.75f));
  m.Submesh(UpperWalls);
  m.Box(vec3(back, -L, 2.75f), vec3(front, L, eave));
  PitchedRoof(m, front, back, eave, 0.0f, 6.9f, far);
  LeanTo(m, back, -3.0f, 3.0f, 3.6f);
  ChimneyStack(m, {-0.75f, -0.25f}, {2.6f, 3.2f}, 5.6f, 7.7f);

  Facade wall{m, front, far};
  for (float z : {0.53f, 2.65f, 2.85f, 4.92f}) wall.Beam({-L, z}, {L, z});
  const float posts[] = {-L + 0.08f, -4.5f, -1.5f, 1.5f, 4.2f, L - 0.08f};
  for (float y : posts) wall.Beam({y, 0.45f}, {y, eave});
  // St Andrew's crosses in the end bays upstairs, a brace below.
  for (const vec2& bay : {vec2(-L + 0.08f, -4.5f), vec2(4.2f, L - 0.08f)}) {
    wall.Beam({bay.x, 2.93f}, {bay.y, 4.84f}, 0.13f);
    wall.Beam({bay.x, 4.84f}, {bay.y, 2.93f}, 0.13f);
  }
  wall.Beam({-4.5f, 0.61f}, {-L + 0.08f, 2.57f}, 0.13f);
  for (const Opening& o : LeftHouseWindows) wall.Window(o);
  wall.Door(5.05f, 0.45f, 0.95f, 2.1f);
  return Seen(m.Lists(), far, "HouseLeftFar");
}

// A brick ground floor with a shop window; the framed upper storey juts out
// over the pavement on joists.
MeshLists HouseRight(bool far) {
  MeshBuilder m;
  const float L = HouseHalfLength, front = RightHouseFront, upper = RightHouseUpper, back = -1.3f;
  const float floor = 2.8f, eave = 5.4f;
  m.Submesh(Stone);
  m.Box(vec3(back - 0.03f, -L - 0.02f, 0.0f), vec3(front + 0.05f, L + 0.02f, 0.4f));
  m.Submesh(Walls);
  m.Box(vec3(back, -L, 0.4f), vec3(front, L, floor));
  m.Submesh(UpperWalls);
  m.Box(vec3(back, -L, floor), vec3(upper, L, eave));
  m.Submesh(Timber);
  for (float y = -L + 0.3f; y < L - 0.2f; y += 0.6f) {
    m.Box(vec3(front, y - 0.07f, floor - 0.18f), vec3(upper + 0.06f, y + 0.07f, floor));
  }
  PitchedRoof(m, upper, back, eave, 0.1f, 7.4f, far);
  LeanTo(m, back, -3.0f, 3.0f, 3.7f);
  ChimneyStack(m, {-0.2f, 0.4f}, {-3.8f, -3.2f}, 6.6f, 8.2f);

  Facade ground{m, front, far};
  for (const Opening& o : RightHouseGroundWindows) ground.Window(o);
  m.Submesh(Stone);
  m.Box(vec3(front, -3.55f, 2.33f), vec3(front + 0.06f, -0.85f, 2.5f));  // lintel of the shop window
  ground.Door(2.4f, 0.4f, 1.0f, 2.1f);

  Facade jetty{m, upper, far};
  for (float z : {2.88f, 5.32f}) jetty.Beam({-L, z}, {L, z});
  const float posts[] = {-L + 0.08f, -3.8f, -1.0f, 1.0f, 3.8f, L - 0.08f};
  for (float y : posts) jetty.Beam({y, floor}, {y, eave});
  for (const vec2& bay : {vec2(-L + 0.08f, -3.8f), vec2(3.8f, L - 0.08f)}) {
    jetty.Beam({bay.x, 2.96f}, {bay.y, 5.24f}, 0.13f);
    jetty.Beam({bay.x, 5.24f}, {bay.y, 2.96f}, 0.13f);
  }
  for (const Opening& o : RightHouseUpperWindows) jetty.Window(o);
  return Seen(m.Lists(), far, "HouseRightFar");
}

// The glass of the windows lit from inside at night, in world space (its
// Thing sits at the origin), just in front of the dark glass and behind the
// glazing bars.
MeshLists Windows() {
  MeshBuilder m;
  auto lit = [&m](const Opening& o, float wallX, bool rightHouse) {
    if (!o.LitAtNight) return;
    MeshBuilder local;
    Pane(local, wallX + GlowProud, o);
    const MeshLists pane = local.Lists();
    std::vector<vec3> corners;
    for (size_t i = 0; i + 2 < pane.Vertices.size(); i += 3) {
      const vec3 p(pane.Vertices[i], pane.Vertices[i + 1], pane.Vertices[i + 2]);
      corners.push_back(rightHouse ? vec3(RightHouseAt - p.x, -p.y, p.z) : vec3(LeftHouseAt + p.x, p.y, p.z));
    }
    m.Polygon(corners, vec3(rightHouse ? -1.0f : 1.0f, 0.0f, 0.0f));
  };
  for (const Opening& o : LeftHouseWindows) lit(o, LeftHouseFront, false);
  for (const Opening& o : RightHouseGroundWindows) lit(o, RightHouseFront, true);
  for (const Opening& o : RightHouseUpperWindows) lit(o, RightHouseUpper, true);
  return m.Lists();
}

// A cast-iron post with a caged lantern; the bulb (its own mesh) hangs at
// 3.1 m inside the cage.
MeshLists LampPost() {
  MeshBuilder m;
  m.SmoothLathe(vec3(0), {{0.16f, 0.0f}, {0.16f, 0.2f}, {0.12f, 0.28f}, {0.08f, 0.38f}, {0.055f, 0.5f}}, 16);
  m.Cylinder(vec3(0, 0, 0.45f), 0.05f, 2.45f, 12, false);
  for (float z : {1.2f, 2.75f}) m.Cylinder(vec3(0, 0, z), 0.068f, 0.06f, 12, true);
  m.Cylinder(vec3(0, 0, 2.85f), 0.19f, 0.03f, 16, true);
  for (int bar = 0; bar < 4; ++bar) {
    const float angle = 0.25f * Pi + 0.5f * Pi * static_cast<float>(bar);
    const vec3 at(0.175f * std::cos(angle), 0.175f * std::sin(angle), 0.0f);
    m.Beam(at + vec3(0, 0, 2.88f), at + vec3(0, 0, 3.32f), vec3(-at.y, at.x, 0.0f), 0.02f, 0.02f);
  }
  m.Cylinder(vec3(0, 0, 3.32f), 0.21f, 0.03f, 16, true);
  m.Cone(vec3(0, 0, 3.35f), 0.26f, 0.2f, 16);
  m.Sphere(vec3(0, 0, 3.58f), 0.04f, 6, 8);
  return m.Lists();
}

MeshLists UnitSphere(int rings, int segments) {
  MeshBuilder m;
  m.Sphere(vec3(0), 1.0f, rings, segments);
  return m.Lists();
}

// A wrought-iron bowl on three splayed legs, with coals in it (submesh 1).
// The fire (Flames) starts at the rim, 0.7 m up.
MeshLists Brazier() {
  MeshBuilder m;
  for (int leg = 0; leg < 3; ++leg) {
    const float angle = 2.0f * Pi * static_cast<float>(leg) / 3.0f;
    const vec3 radial(std::cos(angle), std::sin(angle), 0.0f);
    m.Beam(radial * 0.32f + vec3(0, 0, -0.05f), radial * 0.2f + vec3(0, 0, 0.56f), vec3(-radial.y, radial.x, 0),
           0.04f, 0.04f);
  }
  m.SmoothLathe(vec3(0), {{0.265f, 0.18f}, {0.255f, 0.22f}}, 24);
  m.SmoothLathe(vec3(0), {{0.255f, 0.18f}, {0.245f, 0.22f}}, 24, true);
  m.SmoothLathe(vec3(0), {{0.02f, 0.45f}, {0.15f, 0.47f}, {0.26f, 0.53f}, {0.33f, 0.62f}, {0.36f, 0.72f}}, 24);
  m.SmoothLathe(vec3(0), {{0.02f, 0.48f}, {0.14f, 0.5f}, {0.24f, 0.56f}, {0.31f, 0.64f}, {0.34f, 0.72f}}, 24,
                true);
  m.SmoothLathe(vec3(0), {{0.36f, 0.72f}, {0.34f, 0.72f}}, 24);
  m.Disc(vec3(0, 0, 0.45f), 0.02f, 8, false);
  m.Disc(vec3(0, 0, 0.48f), 0.02f, 8, true);
  m.Submesh(1);
  const vec3 coals[] = {{0.0f, 0.0f, 0.55f},    {0.13f, 0.05f, 0.58f},  {-0.11f, 0.09f, 0.58f},
                        {-0.04f, -0.14f, 0.59f}, {0.1f, -0.11f, 0.6f},   {0.2f, -0.05f, 0.62f},
                        {-0.19f, -0.06f, 0.62f}, {0.05f, 0.18f, 0.61f}};
  for (const vec3& coal : coals) m.Sphere(coal, 0.075f, 6, 8);
  return m.Lists();
}

// The part of a convex polygon (u across, v up) between two heights.
std::vector<vec2> BetweenHeights(const std::vector<vec2>& polygon, float low, float high) {
  auto clip = [](const std::vector<vec2>& in, float limit, float side) {
    std::vector<vec2> out;
    for (size_t i = 0; i < in.size(); ++i) {
      const vec2 a = in[i], b = in[(i + 1) % in.size()];
      const bool aIn = side * (a.y - limit) >= 0.0f, bIn = side * (b.y - limit) >= 0.0f;
      if (aIn) out.push_back(a);
      if (aIn != bIn) out.push_back(a + (b - a) * ((limit - a.y) / (b.y - a.y)));
    }
    return out;
  };
  return clip(clip(polygon, low, 1.0f), high, -1.0f);
}

// Flame tongues: upright plates with a teardrop outline, hot yellow at the
// root (submesh 1), orange in the body (0), dull red at the tips (2), over a
// bed of glowing embers (3). Sizes, leans and where the colours change vary
// from tongue to tongue (a fixed pseudo-random sequence, so the file is the
// same every run). The Transform scales the whole to about 0.7 m across and
// 1 m high; the embers lie on the brazier's coals.
MeshLists Flames() {
  uint32_t seed = 12345u;
  auto random = [&seed](float low, float high) {
    seed = seed * 1664525u + 1013904223u;
    return low + (high - low) * static_cast<float>(seed >> 8) / 16777216.0f;
  };
  MeshBuilder m;
  const int tongues = 14;
  for (int i = 0; i < tongues; ++i) {
    // The tallest stand in the middle, the short ones round the edge.
    const float rim = static_cast<float>(i) / static_cast<float>(tongues - 1);
    const float height = random(1.5f, 2.0f) - 0.9f * rim;
    const float width = random(0.5f, 0.75f) * (1.0f - 0.3f * rim);
    const float lean = random(-0.25f, 0.25f);
    const float around = random(0.0f, 2.0f * Pi);
    const vec3 root = vec3(std::cos(around), std::sin(around), 0.0f) * (0.55f * rim) + vec3(0, 0, -0.1f);
    const float facing = random(0.0f, Pi);
    const float coreTop = random(0.25f, 0.45f), tipFrom = random(0.62f, 0.8f);

    // Half-width sqrt(h) * (1 - h), widest at a third of the height: a
    // concave profile, so the outline stays convex (the lean shears it).
    std::vector<vec2> right, outline;
    const int steps = 10;
    for (int k = 0; k <= steps; ++k) {
      const float h = static_cast<float>(k) / static_cast<float>(steps);
      right.push_back(vec2(0.5f * width * std::sqrt(h) * (1.0f - h) / 0.3849f, h * height));
    }
    for (const vec2& p : right) outline.push_back(p);
    for (int k = steps - 1; k > 0; --k) outline.push_back(vec2(-right[k].x, right[k].y));
    for (vec2& p : outline) p.x += lean * p.y;

    const vec3 across(std::cos(facing), std::sin(facing), 0.0f);
    const struct {
      int Submesh;
      float From, To;
    } bands[] = {{1, 0.0f, coreTop}, {0, coreTop, tipFrom}, {2, tipFrom, 1.0f}};
    for (const auto& band : bands) {
      m.Submesh(band.Submesh);
      std::vector<vec3> corners;
      for (const vec2& p : BetweenHeights(outline, band.From * height, band.To * height)) {
        corners.push_back(root + across * p.x + vec3(0, 0, p.y));
      }
      m.TwoSidedPolygon(corners, vec3(-across.y, across.x, 0.0f), 0.004f);
    }
  }
  m.Submesh(3);
  m.Disc(vec3(0, 0, -0.14f), 0.72f, 24, true);
  return m.Lists();
}

// Things about the pavements that catch the light and throw shadows near
// the lamps and the fire, in world space: a bench against the right house, a
// stack of crates, two barrels by the left house and a shop sign on a
// bracket. Wood is submesh 0, iron submesh 1.
MeshLists Props() {
  MeshBuilder m;
  const float pavement = 0.15f;  // top of the paving slabs
  // Bench: seat and back on two trestles, against the right house's wall.
  const float benchX = RightHouseAt - RightHouseFront - 0.2f;
  m.Submesh(0);
  m.Box(vec3(benchX - 0.2f, -5.35f, pavement + 0.42f), vec3(benchX + 0.16f, -3.95f, pavement + 0.47f));
  m.Beam(vec3(benchX + 0.12f, -5.35f, pavement + 0.75f), vec3(benchX + 0.12f, -3.95f, pavement + 0.75f),
         vec3(0, 0, 1), 0.2f, 0.04f);
  m.Submesh(1);
  for (float y : {-5.2f, -4.1f}) {
    m.Box(vec3(benchX - 0.18f, y - 0.02f, pavement), vec3(benchX - 0.14f, y + 0.02f, pavement + 0.42f));
    m.Box(vec3(benchX + 0.1f, y - 0.02f, pavement), vec3(benchX + 0.14f, y + 0.02f, pavement + 0.85f));
  }
  // Crates by the right house's far end.
  m.Submesh(0);
  const float crateX = RightHouseAt - RightHouseFront - 0.35f;
  m.Box(vec3(crateX - 0.3f, 4.1f, pavement), vec3(crateX + 0.3f, 4.7f, pavement + 0.5f));
  m.Box(vec3(crateX - 0.25f, 4.75f, pavement), vec3(crateX + 0.25f, 5.25f, pavement + 0.45f));
  m.OrientedBox(vec3(crateX, 4.45f, pavement + 0.72f), vec3(0.2f, 0.08f, 0), vec3(-0.08f, 0.2f, 0),
                vec3(0, 0, 0.22f));
  // Barrels between the left house's windows: a bulging stave body, iron hoops.
  const float barrelX = LeftHouseAt + LeftHouseFront + 0.38f;
  for (float y : {-1.75f, -1.1f}) {
    const vec3 base(barrelX, y, pavement);
    m.Submesh(0);
    m.SmoothLathe(base, {{0.24f, 0.0f}, {0.28f, 0.2f}, {0.3f, 0.4f}, {0.28f, 0.6f}, {0.24f, 0.8f}}, 16);
    m.Disc(base + vec3(0, 0, 0.8f), 0.24f, 16, true);
    m.Submesh(1);
    for (float z : {0.08f, 0.66f}) m.Cylinder(base + vec3(0, 0, z), 0.275f, 0.05f, 16, false);
  }
  // Shop sign: an iron bracket out of the right house's jetty post, a board
  // hanging from it on two rods.
  const float wall = RightHouseAt - RightHouseUpper;
  m.Submesh(1);
  m.Beam(vec3(wall, 0.3f, 3.2f), vec3(wall - 0.9f, 0.3f, 3.2f), vec3(0, 0, 1), 0.04f, 0.03f);
  m.Beam(vec3(wall, 0.3f, 2.85f), vec3(wall - 0.6f, 0.3f, 3.2f), vec3(0, 1, 0), 0.03f, 0.03f);
  for (float x : {wall - 0.3f, wall - 0.8f}) m.Beam(vec3(x, 0.3f, 3.2f), vec3(x, 0.3f, 2.95f), vec3(1, 0, 0), 0.015f, 0.015f);
  m.Submesh(0);
  m.Box(vec3(wall - 0.85f, 0.28f, 2.45f), vec3(wall - 0.25f, 0.32f, 2.95f));
  return m.Lists();
}

// Its Transform scales it by 0.272764, the scale the mesh renderers turn a
// little every frame; the origin sits on the ridge cap of the left house.
MeshLists Weathervane() {
  MeshBuilder m;
  m.Cylinder(vec3(0, 0, -0.3f), 0.3f, 0.12f, 16, true);
  m.Cylinder(vec3(0, 0, -0.2f), 0.05f, 3.2f, 10, false);
  m.Beam(vec3(-1.1f, 0, 0.9f), vec3(1.1f, 0, 0.9f), vec3(0, 1, 0), 0.06f, 0.06f);
  m.Beam(vec3(0, -1.1f, 0.9f), vec3(0, 1.1f, 0.9f), vec3(1, 0, 0), 0.06f, 0.06f);
  for (const vec3& tip : {vec3(1.1f, 0, 0.9f), vec3(-1.1f, 0, 0.9f), vec3(0, 1.1f, 0.9f), vec3(0, -1.1f, 0.9f)}) {
    m.Sphere(tip, 0.09f, 6, 8);
  }
  m.Sphere(vec3(0, 0, 1.6f), 0.16f, 8, 12);
  m.Beam(vec3(-1.3f, 0, 2.3f), vec3(1.0f, 0, 2.3f), vec3(0, 0, 1), 0.06f, 0.06f);
  m.TwoSidedPolygon({vec3(1.0f, 0, 2.05f), vec3(1.5f, 0, 2.3f), vec3(1.0f, 0, 2.55f)}, vec3(0, 1, 0), 0.03f);
  m.TwoSidedPolygon({vec3(-1.3f, 0, 2.3f), vec3(-0.8f, 0, 2.3f), vec3(-0.95f, 0, 2.75f), vec3(-1.45f, 0, 2.75f)},
                    vec3(0, 1, 0), 0.03f);
  m.TwoSidedPolygon({vec3(-1.3f, 0, 2.3f), vec3(-0.8f, 0, 2.3f), vec3(-0.95f, 0, 1.85f), vec3(-1.45f, 0, 1.85f)},
                    vec3(0, 1, 0), 0.03f);
  m.Sphere(vec3(0, 0, 3.05f), 0.08f, 6, 8);
  return m.Lists();
}

}  // namespace

const std::vector<NamedMesh>& StreetMeshes() {
  static const std::vector<NamedMesh> meshes = {
      {"Street", Street},
      {"Sidewalks", Sidewalks},
      {"HouseLeft", [] { return HouseLeft(false); }},
      {"HouseRight", [] { return HouseRight(false); }},
      {"HouseLeftFar", [] { return HouseLeft(true); }},
      {"HouseRightFar", [] { return HouseRight(true); }},
      {"Windows", Windows},
      {"LampPost", LampPost},
      {"LampBulb", [] { return UnitSphere(12, 16); }},
      {"Sphere", [] { return UnitSphere(24, 32); }},
      {"Brazier", Brazier},
      {"Flames", Flames},
      {"Weathervane", Weathervane},
      {"Props", Props},
  };
  return meshes;
}

}  // namespace KestorTools
