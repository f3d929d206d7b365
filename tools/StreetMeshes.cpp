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

// A box between two x values that may come in either order (mirrored sides).
void SpanBox(MeshBuilder& m, float x0, float x1, float y0, float y1, float z0, float z1) {
  m.Box(vec3(std::min(x0, x1), std::min(y0, y1), std::min(z0, z1)),
        vec3(std::max(x0, x1), std::max(y0, y1), std::max(z0, z1)));
}

// A timber laid on a wall: from and to lie in the wall's plane, which faces
// `out`; the timber stands `proud` out of it and sinks 1 cm in.
void WallBeam(MeshBuilder& m, vec3 out, vec3 from, vec3 to, float width, float proud) {
  const vec3 shift = out * (0.5f * proud - 0.01f);
  m.Beam(from + shift, to + shift, glm::cross(to - from, out), width, proud + 0.02f);
}

// The street walls face +x; points on them are given as (y, z).
struct Facade {
  MeshBuilder& m;
  float x;

  void Beam(vec2 from, vec2 to, float width = 0.16f, float proud = 0.05f) const {
    WallBeam(m, vec3(1, 0, 0), vec3(x, from.x, from.y), vec3(x, to.x, to.y), width, proud);
  }

  // Frame, sill and glazing bars around an opening centred at (y, z). The
  // glass itself belongs to whoever lights it (the Windows mesh).
  void Window(float y, float z, float width, float height, int panes = 1) const {
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
    SpanBox(m, x, x + 0.14f, y - w - 0.16f, y + w + 0.16f, z - h - frame - 0.07f, z - h - frame + 0.01f);
  }

  // A plank door with its frame, and a step down to the pavement.
  void Door(float y, float sill, float width, float height) const {
    const float w = 0.5f * width;
    Beam({y - w - 0.07f, sill}, {y - w - 0.07f, sill + height + 0.14f}, 0.14f, 0.07f);
    Beam({y + w + 0.07f, sill}, {y + w + 0.07f, sill + height + 0.14f}, 0.14f, 0.07f);
    Beam({y - w - 0.14f, sill + height + 0.07f}, {y + w + 0.14f, sill + height + 0.07f}, 0.14f, 0.07f);
    SpanBox(m, x - 0.01f, x + 0.03f, y - w, y + w, sill, sill + height);
    for (float batten : {0.25f, 0.5f, 0.8f}) {
      Beam({y - w, sill + batten * height}, {y + w, sill + batten * height}, 0.1f, 0.045f);
    }
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
void PitchedRoof(MeshBuilder& m, float xFront, float xBack, float eave, float ridgeX, float ridgeZ) {
  const float overhang = 0.35f, gableOverhang = 0.3f, thickness = 0.15f;
  const float frontSlope = (ridgeZ - eave) / (xFront - ridgeX);
  const float backSlope = (ridgeZ - eave) / (ridgeX - xBack);
  const float halfLength = HouseHalfLength + gableOverhang;
  RoofSlab(m, {xFront + overhang, eave - overhang * frontSlope}, {ridgeX, ridgeZ}, halfLength, thickness);
  RoofSlab(m, {xBack - overhang, eave - overhang * backSlope}, {ridgeX, ridgeZ}, halfLength, thickness);
  m.Box(vec3(ridgeX - 0.15f, -halfLength, ridgeZ - 0.05f), vec3(ridgeX + 0.15f, halfLength, ridgeZ + 0.25f));
  for (float side : {-1.0f, 1.0f}) {
    const float y = side * HouseHalfLength;
    m.Polygon({vec3(xFront, y, eave), vec3(ridgeX, y, ridgeZ), vec3(xBack, y, eave)}, vec3(0, side, 0));
    // Tie beam and king post on the gable.
    const vec3 out(0, side, 0);
    WallBeam(m, out, vec3(xFront, y, eave), vec3(xBack, y, eave), 0.16f, 0.05f);
    WallBeam(m, out, vec3(ridgeX, y, eave), vec3(ridgeX, y, ridgeZ - 0.05f), 0.14f, 0.05f);
  }
}

// A single-pitch lean-to against the back wall (x = wallX), lower at x = xBack.
void LeanTo(MeshBuilder& m, float wallX, float xBack, float height, float roofTop) {
  const float halfLength = HouseHalfLength - 0.6f;
  m.Box(vec3(xBack, -halfLength, 0.0f), vec3(wallX, halfLength, height));
  const float slope = (roofTop - height) / (wallX - xBack);
  RoofSlab(m, {xBack - 0.3f, height - 0.3f * slope}, {wallX, roofTop}, halfLength + 0.2f, 0.12f);
  for (float side : {-1.0f, 1.0f}) {
    const float y = side * halfLength;
    m.Polygon({vec3(xBack, y, height), vec3(wallX, y, height), vec3(wallX, y, roofTop)}, vec3(0, side, 0));
  }
}

void Chimney(MeshBuilder& m, vec2 x, vec2 y, float bottom, float top) {
  m.Box(vec3(x.x, y.x, bottom), vec3(x.y, y.y, top));
  m.Box(vec3(x.x - 0.05f, y.x - 0.05f, top), vec3(x.y + 0.05f, y.y + 0.05f, top + 0.1f));
}

// ---------------------------------------------------------------------------

// Cobbles: a height field of domed setts in staggered rows, sampled twice
// per sett so each one catches the light.
MeshLists Street() {
  const float sett = 0.25f, step = 0.125f, bulge = 0.025f;
  auto height = [&](float x, float y) {
    const float row = std::floor(y / sett);
    const float shift = static_cast<long>(row) % 2 != 0 ? 0.5f * sett : 0.0f;
    const float u = (x + shift) / sett - std::floor((x + shift) / sett);
    const float v = y / sett - row;
    const float edge = std::max(std::abs(2.0f * u - 1.0f), std::abs(2.0f * v - 1.0f));
    return bulge * (1.0f - edge * edge);
  };
  const int columns = static_cast<int>(std::lround(2.0f * StreetHalfWidth / step));
  const int rows = static_cast<int>(std::lround(2.0f * StreetHalfLength / step));
  MeshBuilder m;
  for (int j = 0; j <= rows; ++j) {
    for (int i = 0; i <= columns; ++i) {
      const float x = -StreetHalfWidth + step * static_cast<float>(i);
      const float y = -StreetHalfLength + step * static_cast<float>(j);
      const float dx = (height(x + step, y) - height(x - step, y)) / (2.0f * step);
      const float dy = (height(x, y + step) - height(x, y - step)) / (2.0f * step);
      m.Vertex(vec3(x, y, height(x, y)), vec3(-dx, -dy, 1.0f), vec2(x, y));
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

// Window openings on the left house's street wall, shared with its glass.
struct Opening {
  float Y, Z, Width, Height;
};
const Opening LeftHouseWindows[] = {
    {-3.0f, 1.4f, 0.9f, 1.2f},  {0.0f, 1.4f, 0.9f, 1.2f},  {3.0f, 1.4f, 0.9f, 1.2f},
    {-3.0f, 3.85f, 0.9f, 1.1f}, {0.0f, 3.85f, 0.9f, 1.1f}, {3.0f, 3.85f, 0.9f, 1.1f},
};
constexpr float LeftHouseFront = 1.2f;

// Two storeys of plaster between oak framing under a steep roof, with a
// lean-to behind. The weathervane stands on its ridge.
MeshLists HouseLeft() {
  MeshBuilder m;
  const float L = HouseHalfLength, front = LeftHouseFront, back = -1.2f, eave = 5.0f;
  m.Box(vec3(back - 0.03f, -L - 0.02f, 0.0f), vec3(front + 0.05f, L + 0.02f, 0.45f));
  m.Box(vec3(back, -L, 0.45f), vec3(front, L, eave));
  PitchedRoof(m, front, back, eave, 0.0f, 6.9f);
  LeanTo(m, back, -3.0f, 3.0f, 3.6f);
  Chimney(m, {-0.75f, -0.25f}, {2.6f, 3.2f}, 5.6f, 7.7f);

  Facade wall{m, front};
  for (float z : {0.53f, 2.65f, 2.85f, 4.92f}) wall.Beam({-L, z}, {L, z});
  const float posts[] = {-L + 0.08f, -4.5f, -1.5f, 1.5f, 4.2f, L - 0.08f};
  for (float y : posts) wall.Beam({y, 0.45f}, {y, eave});
  // St Andrew's crosses in the end bays upstairs, a brace below.
  for (const vec2& bay : {vec2(-L + 0.08f, -4.5f), vec2(4.2f, L - 0.08f)}) {
    wall.Beam({bay.x, 2.93f}, {bay.y, 4.84f}, 0.13f);
    wall.Beam({bay.x, 4.84f}, {bay.y, 2.93f}, 0.13f);
  }
  wall.Beam({-4.5f, 0.61f}, {-L + 0.08f, 2.57f}, 0.13f);
  for (const Opening& o : LeftHouseWindows) wall.Window(o.Y, o.Z, o.Width, o.Height);
  wall.Door(5.05f, 0.45f, 0.95f, 2.1f);
  return m.Lists();
}

// A brick ground floor with a shop window; the framed upper storey juts out
// over the pavement on joists.
MeshLists HouseRight() {
  MeshBuilder m;
  const float L = HouseHalfLength, front = 1.2f, upper = 1.5f, back = -1.3f, floor = 2.8f, eave = 5.4f;
  m.Box(vec3(back - 0.03f, -L - 0.02f, 0.0f), vec3(front + 0.05f, L + 0.02f, 0.4f));
  m.Box(vec3(back, -L, 0.4f), vec3(front, L, floor));
  m.Box(vec3(back, -L, floor), vec3(upper, L, eave));
  for (float y = -L + 0.3f; y < L - 0.2f; y += 0.6f) {
    m.Box(vec3(front, y - 0.07f, floor - 0.18f), vec3(upper + 0.06f, y + 0.07f, floor));
  }
  PitchedRoof(m, upper, back, eave, 0.1f, 7.4f);
  LeanTo(m, back, -3.0f, 3.0f, 3.7f);
  Chimney(m, {-0.2f, 0.4f}, {-3.8f, -3.2f}, 6.6f, 8.2f);

  Facade ground{m, front};
  ground.Window(-2.2f, 1.55f, 2.4f, 1.4f, 3);
  m.Box(vec3(front, -3.55f, 2.33f), vec3(front + 0.06f, -0.85f, 2.5f));  // stone lintel
  ground.Door(2.4f, 0.4f, 1.0f, 2.1f);
  ground.Window(4.8f, 1.6f, 0.7f, 0.9f);
  ground.Window(-5.0f, 1.6f, 0.7f, 0.9f);

  Facade jetty{m, upper};
  for (float z : {2.88f, 5.32f}) jetty.Beam({-L, z}, {L, z});
  const float posts[] = {-L + 0.08f, -3.8f, -1.0f, 1.0f, 3.8f, L - 0.08f};
  for (float y : posts) jetty.Beam({y, floor}, {y, eave});
  for (const vec2& bay : {vec2(-L + 0.08f, -3.8f), vec2(3.8f, L - 0.08f)}) {
    jetty.Beam({bay.x, 2.96f}, {bay.y, 5.24f}, 0.13f);
    jetty.Beam({bay.x, 5.24f}, {bay.y, 2.96f}, 0.13f);
  }
  for (float y : {-2.4f, 0.0f, 2.4f}) jetty.Window(y, 4.1f, 0.9f, 1.1f);
  return m.Lists();
}

// The glass of the left house's windows, just in front of its wall and
// behind the glazing bars; lit from inside by its material.
MeshLists Windows() {
  MeshBuilder m;
  const float x = LeftHouseFront + 0.012f;
  for (const Opening& o : LeftHouseWindows) {
    const float w = 0.5f * o.Width, h = 0.5f * o.Height;
    m.Polygon({vec3(x, o.Y - w, o.Z - h), vec3(x, o.Y + w, o.Z - h), vec3(x, o.Y + w, o.Z + h),
               vec3(x, o.Y - w, o.Z + h)},
              vec3(1, 0, 0));
  }
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

// A wrought-iron bowl on three splayed legs, with coals in it. The fire
// (Flames) starts at the rim, 0.7 m up.
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
  const vec3 coals[] = {{0.0f, 0.0f, 0.53f},   {0.12f, 0.05f, 0.55f}, {-0.1f, 0.09f, 0.55f},
                        {-0.04f, -0.13f, 0.56f}, {0.09f, -0.1f, 0.57f}};
  for (const vec3& coal : coals) m.Sphere(coal, 0.075f, 6, 8);
  return m.Lists();
}

// Crossed flame-shaped plates, a tall outer ring and a shorter inner one.
// The Transform scales them to about 0.6 m across and 1 m high.
MeshLists Flames() {
  MeshBuilder m;
  const vec2 outer[] = {{-0.75f, 0.0f}, {0.75f, 0.0f}, {0.85f, 0.55f}, {0.45f, 1.25f},
                        {0.0f, 2.0f},   {-0.45f, 1.25f}, {-0.85f, 0.55f}};
  for (int ring = 0; ring < 2; ++ring) {
    const float scaleAcross = ring == 0 ? 1.0f : 0.55f, scaleUp = ring == 0 ? 1.0f : 0.7f;
    for (int plate = 0; plate < 3; ++plate) {
      const float angle = Pi * static_cast<float>(plate) / 3.0f + (ring == 0 ? 0.0f : Pi / 6.0f);
      const vec3 across(std::cos(angle), std::sin(angle), 0.0f);
      std::vector<vec3> corners;
      for (const vec2& p : outer) corners.push_back(across * (p.x * scaleAcross) + vec3(0, 0, p.y * scaleUp));
      m.TwoSidedPolygon(corners, vec3(-across.y, across.x, 0.0f), 0.004f);
    }
  }
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
      {"HouseLeft", HouseLeft},
      {"HouseRight", HouseRight},
      {"Windows", Windows},
      {"LampPost", LampPost},
      {"LampBulb", [] { return UnitSphere(12, 16); }},
      {"Sphere", [] { return UnitSphere(24, 32); }},
      {"Brazier", Brazier},
      {"Flames", Flames},
      {"Weathervane", Weathervane},
  };
  return meshes;
}

}  // namespace KestorTools
