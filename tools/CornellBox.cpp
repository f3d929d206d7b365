#include "CornellBox.h"

#include <sstream>

#include <glm/geometric.hpp>

namespace KestorTools {

namespace {

// Classic coordinates: x from the green wall (0) to the red one (556), y up,
// z from the open side (0) to the back wall (559.2). Ours: metres, X to the
// camera's right, Y into the box, Z up.
glm::vec3 M(float x, float y, float z) { return glm::vec3((278.0f - x) * 0.001f, z * 0.001f, y * 0.001f); }

// A flat part facing the point `towards` (the box's inside for the walls).
void Face(MeshBuilder& b, std::vector<glm::vec3> corners, glm::vec3 towards) {
  glm::vec3 centre(0.0f);
  for (const glm::vec3& c : corners) centre += c;
  centre /= static_cast<float>(corners.size());
  glm::vec3 n = glm::normalize(glm::cross(corners[1] - corners[0], corners[2] - corners[0]));
  if (glm::dot(n, towards - centre) < 0.0f) n = -n;
  b.Polygon(corners, n);
}

// A block from its four top corners (classic x, z) and its height: five
// faces looking out (the floor hides the bottom).
void Block(MeshBuilder& b, const float xz[4][2], float height) {
  glm::vec3 centre(0.0f);
  for (int i = 0; i < 4; ++i) centre += M(xz[i][0], height * 0.5f, xz[i][1]) * 0.25f;
  std::vector<glm::vec3> top;
  for (int i = 0; i < 4; ++i) top.push_back(M(xz[i][0], height, xz[i][1]));
  Face(b, top, centre + glm::vec3(0.0f, 0.0f, 1.0f));
  for (int i = 0; i < 4; ++i) {
    const int j = (i + 1) % 4;
    const glm::vec3 a = M(xz[i][0], 0.0f, xz[i][1]), c = M(xz[j][0], 0.0f, xz[j][1]);
    const glm::vec3 side[4] = {a, c, M(xz[j][0], height, xz[j][1]), M(xz[i][0], height, xz[i][1])};
    const glm::vec3 mid = (a + c) * 0.5f;
    // Outwards: away from the block's centre.
    Face(b, {side[0], side[1], side[2], side[3]}, mid + (mid - centre));
  }
}

CornellPart Part(const std::string& thing, const std::string& material, const MeshBuilder& b) {
  return {thing, "Cornell" + thing, material, b.Lists()};
}

std::string Vec(glm::vec3 v) {
  std::ostringstream out;
  out << v.x << "," << v.y << "," << v.z;
  return out.str();
}

}  // namespace

glm::vec3 CornellCameraPosition() { return M(278.0f, 273.0f, -800.0f); }
glm::vec3 CornellCameraTarget() { return M(278.0f, 273.0f, 0.0f); }

std::vector<CornellPart> CornellBoxParts() {
  const glm::vec3 inside = M(278.0f, 274.4f, 279.6f);
  std::vector<CornellPart> parts;
  MeshBuilder floor, ceiling, back, left, right, light, shortBlock, tallBlock;
  Face(floor, {M(552.8f, 0, 0), M(0, 0, 0), M(0, 0, 559.2f), M(549.6f, 0, 559.2f)}, inside);
  Face(ceiling, {M(556, 548.8f, 0), M(556, 548.8f, 559.2f), M(0, 548.8f, 559.2f), M(0, 548.8f, 0)}, inside);
  Face(back, {M(549.6f, 0, 559.2f), M(0, 0, 559.2f), M(0, 548.8f, 559.2f), M(556, 548.8f, 559.2f)}, inside);
  Face(left, {M(552.8f, 0, 0), M(549.6f, 0, 559.2f), M(556, 548.8f, 559.2f), M(556, 548.8f, 0)}, inside);
  Face(right, {M(0, 0, 559.2f), M(0, 0, 0), M(0, 548.8f, 0), M(0, 548.8f, 559.2f)}, inside);
  // Half a millimetre under the ceiling, so the two never fight for depth.
  Face(light, {M(343, 548.3f, 227), M(343, 548.3f, 332), M(213, 548.3f, 332), M(213, 548.3f, 227)}, inside);
  const float shortTop[4][2] = {{130, 65}, {82, 225}, {240, 272}, {290, 114}};
  const float tallTop[4][2] = {{423, 247}, {265, 296}, {314, 456}, {472, 406}};
  Block(shortBlock, shortTop, 165.0f);
  Block(tallBlock, tallTop, 330.0f);
  parts.push_back(Part("Floor", "CornellWhite", floor));
  parts.push_back(Part("Ceiling", "CornellWhite", ceiling));
  parts.push_back(Part("BackWall", "CornellWhite", back));
  parts.push_back(Part("LeftWall", "CornellRed", left));
  parts.push_back(Part("RightWall", "CornellGreen", right));
  parts.push_back(Part("ShortBlock", "CornellWhite", shortBlock));
  parts.push_back(Part("TallBlock", "CornellWhite", tallBlock));
  parts.push_back(Part("Light", "CornellLight", light));
  return parts;
}

std::vector<std::pair<std::string, std::string>> CornellBoxMaterials() {
  auto material = [](const char* comment, const char* colour, const char* emission, const char* strength) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- ") + comment +
           " -->\n<Material Shader=\"Standard\">\n  <Settings Color=\"" + colour +
           "\" Roughness=\"1\" Metallic=\"0\" EmissionColor=\"" + emission + "\" Strength=\"" + strength +
           "\"/>\n</Material>\n";
  };
  return {
      {"CornellWhite", material("Cornell box: the white walls and blocks.", "0.725,0.71,0.68", "0,0,0", "0")},
      {"CornellRed", material("Cornell box: the red (left) wall.", "0.63,0.065,0.05", "0,0,0", "0")},
      {"CornellGreen", material("Cornell box: the green (right) wall.", "0.14,0.45,0.091", "0,0,0", "0")},
      {"CornellLight", material("Cornell box: the ceiling light, emitted radiance 30.", "0.78,0.78,0.78",
                                "1,1,1", "30")},
  };
}

std::string CornellBoxLevel() {
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!--\n"
         "  The Cornell box: classic measured geometry in metres, Z up, the open side\n"
         "  facing -Y. The classic camera stands at "
      << Vec(CornellCameraPosition()) << " looking along +Y with a vertical\n"
         "  field of view of 39.3 degrees. No sky: outside the box is dark. Made by\n"
         "  MakeCornellBox.\n"
         "-->\n<Level>\n  <Things>\n";
  // A voxel border around the walls keeps them inside the field.
  out << "    <Thing Name=\"LightVolume\">\n"
         "      <Transform Position=\"0,0.2796,0.2744\" Rotation=\"1,0,0,0\" Scale=\"0.3,0.3,0.3\"/>\n"
         "      <LightField Resolution=\"32,32,32\"/>\n    </Thing>\n";
  for (const CornellPart& p : CornellBoxParts()) {
    out << "    <Thing Name=\"" << p.Thing << "\">\n"
        << "      <Transform Position=\"0,0,0\" Rotation=\"1,0,0,0\" Scale=\"1,1,1\"/>\n"
        << "      <MeshRenderer Mesh=\"" << p.Mesh << "\" Materials=\"" << p.Material
        << "\" Visible=\"True\" ShadowCast=\"True\" BounceCast=\"True\"/>\n    </Thing>\n";
  }
  // The light's area: an unrotated parallelogram shines down.
  const glm::vec3 lo = M(343, 548.3f, 227), hi = M(213, 548.3f, 332);
  out << "    <Thing Name=\"LightArea\">\n"
      << "      <Transform Position=\"" << Vec((lo + hi) * 0.5f) << "\" Rotation=\"1,0,0,0\" Scale=\""
      << Vec(glm::vec3((hi - lo).x * 0.5f, (hi - lo).y * 0.5f, 1.0f)) << "\"/>\n"
      << "      <ISArea Type=\"2\" Samples=\"4\"/>\n    </Thing>\n";
  out << "  </Things>\n</Level>\n";
  return out.str();
}

}  // namespace KestorTools
