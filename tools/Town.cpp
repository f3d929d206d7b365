#include "Town.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>

namespace KestorTools {

namespace {

using glm::vec3;

// Five streets run north-south (along y), the street level's own in the
// middle; each has a house on either side every 20 m, 12 m long, so lanes
// of 8 m run between the houses. Four of those gaps carry cross lanes from
// one side of the town to the other; north of the middle street the square
// takes the place of two pairs of houses.
const float Streets[] = {-64.0f, -32.0f, 0.0f, 32.0f, 64.0f};
constexpr int Rows = 4;                 // pairs at y = 20 j, j from -Rows to Rows
constexpr float RowSpacing = 20.0f;
constexpr float HouseHalfLength = 6.0f;
constexpr float HouseOffset = 4.5f;     // from the street's middle, as on the street
const float CrossLanes[] = {-70.0f, -30.0f, 30.0f, 70.0f};
constexpr float LaneHalfWidth = 2.0f;   // kerb to kerb, as the street
constexpr float PavementOuter = 3.3f;   // to the house fronts
constexpr float PavementTop = 0.15f;
constexpr float CobbleHeight = 0.0125f;  // the setts' mean height, as the street's
constexpr float TurfHeight = -0.02f;     // a little below the street
// The square, north of the street level's own houses.
constexpr float SquareHalfWidth = 24.0f;
constexpr float SquareSouth = 34.0f, SquareNorth = 66.0f;
// What the street level itself covers on the middle street.
constexpr float StreetHalfLength = 8.0f;
// Cut long pieces so that no triangle spans more than this.
constexpr float Tile = 20.0f;

bool InSquare(float x, float y) {
  return std::abs(x) < SquareHalfWidth && y > SquareSouth - 0.01f && y < SquareNorth + 0.01f;
}

// A flat rectangle facing up, cut into tiles; uv in metres.
void Ground(MeshBuilder& m, float x0, float x1, float y0, float y1, float z) {
  const int nx = std::max(1, static_cast<int>(std::ceil((x1 - x0) / Tile)));
  const int ny = std::max(1, static_cast<int>(std::ceil((y1 - y0) / Tile)));
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) {
      const float a = x0 + (x1 - x0) * i / nx, b = x0 + (x1 - x0) * (i + 1) / nx;
      const float c = y0 + (y1 - y0) * j / ny, d = y0 + (y1 - y0) * (j + 1) / ny;
      m.Polygon({vec3(a, c, z), vec3(b, c, z), vec3(b, d, z), vec3(a, d, z)}, vec3(0, 0, 1));
    }
  }
}

// The stretches of [from, to] left when `cuts` (centre, half width) are
// taken out.
std::vector<std::pair<float, float>> Stretches(float from, float to, std::vector<std::pair<float, float>> cuts) {
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::pair<float, float>> out;
  float at = from;
  for (const auto& [centre, half] : cuts) {
    if (centre - half > at) out.emplace_back(at, std::min(centre - half, to));
    at = std::max(at, centre + half);
  }
  if (at < to) out.emplace_back(at, to);
  return out;
}

// What a north-south street's cobbles and pavements leave out: the street
// level's own stretch on the middle street, the square, and for the
// pavements the cross lanes.
std::vector<std::pair<float, float>> StreetCuts(float street, bool pavement) {
  std::vector<std::pair<float, float>> cuts;
  if (street == 0.0f) {
    cuts.emplace_back(0.0f, StreetHalfLength);
    cuts.emplace_back(0.5f * (SquareSouth + SquareNorth), 0.5f * (SquareNorth - SquareSouth));
  }
  for (float lane : CrossLanes) {
    if (pavement) cuts.emplace_back(lane, LaneHalfWidth);
  }
  return cuts;
}

MeshLists TownGround() {
  MeshBuilder m;
  Ground(m, -TownHalfWidth, TownHalfWidth, -TownHalfLength, TownHalfLength, TurfHeight);
  return m.Lists();
}

// The cobbles of every street and cross lane but the street level's own.
MeshLists TownLanes() {
  MeshBuilder m;
  const float end = TownHalfLength - 2.0f;
  for (float street : Streets) {
    for (const auto& [y0, y1] : Stretches(-end, end, StreetCuts(street, false))) {
      Ground(m, street - LaneHalfWidth, street + LaneHalfWidth, y0, y1, CobbleHeight);
    }
  }
  // The cross lanes between the streets, from one edge of the town to the
  // other.
  std::vector<std::pair<float, float>> streetCuts;
  for (float street : Streets) streetCuts.emplace_back(street, LaneHalfWidth);
  for (float lane : CrossLanes) {
    for (const auto& [x0, x1] : Stretches(-TownHalfWidth + 2.0f, TownHalfWidth - 2.0f, streetCuts)) {
      Ground(m, x0, x1, lane - LaneHalfWidth, lane + LaneHalfWidth, CobbleHeight);
    }
  }
  return m.Lists();
}

// Raised paving along both sides of every street, broken by the cross
// lanes; the street level brings its own kerbs and slabs.
MeshLists TownPavements() {
  MeshBuilder m;
  const float end = Rows * RowSpacing + HouseHalfLength;
  for (float street : Streets) {
    for (const auto& [y0, y1] : Stretches(-end, end, StreetCuts(street, true))) {
      for (float side : {-1.0f, 1.0f}) {
        const float a = street + side * LaneHalfWidth, b = street + side * PavementOuter;
        m.Box(vec3(std::min(a, b), y0, 0.0f), vec3(std::max(a, b), y1, PavementTop));
      }
    }
  }
  return m.Lists();
}

MeshLists TownSquare() {
  MeshBuilder m;
  Ground(m, -SquareHalfWidth, SquareHalfWidth, SquareSouth, SquareNorth, 0.02f);
  return m.Lists();
}

std::string Num(float v) {
  std::ostringstream out;
  out << v;
  return out.str();
}
std::string Vec(vec3 v) { return Num(v.x) + "," + Num(v.y) + "," + Num(v.z); }

// The level's Things, as XML text.
class Things {
 public:
  // Wrapped at 100 columns.
  void Comment(const std::string& text) {
    std::istringstream words(text);
    std::string word, line = "    <!--";
    out << "\n";
    while (words >> word) {
      if (line.size() + word.size() + 1 > 100) {
        out << line << "\n";
        line = "        ";
      } else {
        line += " ";
      }
      line += word;
    }
    out << line << " -->\n";
  }
  void Add(const std::string& name, vec3 at, const std::string& rotation, vec3 scale, const std::string& rest,
           const std::string& parent = "") {
    out << "    <Thing Name=\"" << name << "\">\n      <Transform Position=\"" << Vec(at) << "\" Rotation=\"" << rotation
        << "\" Scale=\"" << Vec(scale) << "\"" << (parent.empty() ? "" : " Parent=\"" + parent + "\"") << "/>\n";
    if (!rest.empty()) out << "      " << rest << "\n";
    out << "    </Thing>\n";
  }
  void Mesh(const std::string& name, vec3 at, const std::string& rotation, const std::string& mesh,
            const std::string& materials, const std::string& parent = "") {
    Add(name, at, rotation, vec3(1.0f),
        "<MeshRenderer Mesh=\"" + mesh + "\" Materials=\"" + materials +
            "\" Visible=\"True\" ShadowCast=\"True\" BounceCast=\"True\"/>",
        parent);
  }
  void Raw(const std::string& text) { out << text; }
  std::string Text() const { return out.str(); }

 private:
  std::ostringstream out;
};

const char* const Unturned = "1,0,0,0";
const char* const HalfTurn = "0,0,0,1";

// The street level's Things but its light field, as they stand in its file.
bool StreetThings(const std::string& streetLevel, Things& things, std::string& problem) {
  tinyxml2::XMLDocument street;
  if (street.Parse(streetLevel.c_str(), streetLevel.size()) != tinyxml2::XML_SUCCESS) {
    problem = std::string("the street level is not XML: ") + street.ErrorStr();
    return false;
  }
  const tinyxml2::XMLElement* level = street.FirstChildElement("Level");
  const tinyxml2::XMLElement* list = level != nullptr ? level->FirstChildElement("Things") : nullptr;
  if (list == nullptr) {
    problem = "the street level has no Things";
    return false;
  }
  for (const tinyxml2::XMLElement* t = list->FirstChildElement(); t != nullptr; t = t->NextSiblingElement()) {
    const char* name = t->Attribute("Name");
    if (name != nullptr && std::string(name) == "LightVolume") continue;
    tinyxml2::XMLPrinter printer;
    t->Accept(&printer);
    // Indented as the level's own Things.
    std::istringstream lines(printer.CStr());
    std::string line;
    while (std::getline(lines, line)) things.Raw("    " + line + "\n");
  }
  return true;
}

}  // namespace

std::vector<TownHouse> TownHouses() {
  std::vector<TownHouse> out = {{"HouseLeft", "HouseLeft", vec3(-HouseOffset, 0, 0), false},
                                {"HouseRight", "HouseRight", vec3(HouseOffset, 0, 0), true}};
  int index = 0;
  for (float street : Streets) {
    for (int j = -Rows; j <= Rows; ++j) {
      const float y = RowSpacing * j;
      if (street == 0.0f && (j == 0 || InSquare(0.0f, y))) continue;
      for (bool turned : {false, true}) {
        const vec3 at(street + (turned ? HouseOffset : -HouseOffset), y, 0.0f);
        out.push_back({"TownHouse" + std::to_string(++index), turned ? "HouseRight" : "HouseLeft", at, turned});
      }
    }
  }
  return out;
}

const std::vector<NamedMesh>& TownMeshes() {
  static const std::vector<NamedMesh> meshes = {
      {"TownGround", TownGround},
      {"TownLanes", TownLanes},
      {"TownPavements", TownPavements},
      {"TownSquare", TownSquare},
  };
  return meshes;
}

std::string TownLevelText(const std::string& streetLevel, std::string& problem) {
  Things things;
  things.Comment("Levels of 96 x 96 x 64 voxels that follow the camera, the finest of 25 cm (24 m across), "
                 "each next one twice the last: the fifth is 384 m across, twice the town. The Transform "
                 "only says where the town lies.");
  things.Add("LightVolume", vec3(0, 0, 4), Unturned, vec3(TownHalfWidth, TownHalfLength, 6),
             "<LightField Resolution=\"96,96,64\" VoxelSize=\"0.25\" Levels=\"5\"/>");
  things.Comment("The street level, as it stands in StreetTest.xml: its sky, houses, lamps, fire and areas.");
  if (!StreetThings(streetLevel, things, problem)) return "";

  things.Comment("The town around it: the ground, the cobbles of the streets and lanes, the pavements, the "
                 "square.");
  const std::string ground = "<MeshRenderer Mesh=\"%s\" Materials=\"%m\" Visible=\"True\" ShadowCast=\"True\" "
                             "BounceCast=\"True\"/>";
  for (const auto& [mesh, material] : std::vector<std::pair<std::string, std::string>>{
           {"TownGround", "Turf"}, {"TownLanes", "Cobbles"}, {"TownPavements", "Paving"}, {"TownSquare", "Paving"}}) {
    std::string renderer = ground;
    renderer.replace(renderer.find("%s"), 2, mesh);
    renderer.replace(renderer.find("%m"), 2, material);
    things.Add(mesh, vec3(0.0f), Unturned, vec3(1.0f), renderer);
  }

  things.Comment("The houses: the street's two, again and again, plaster and brick by turns.");
  int index = 0;
  for (const TownHouse& h : TownHouses()) {
    if (h.Name == "HouseLeft" || h.Name == "HouseRight") continue;
    const bool brick = (index++ / 2) % 3 == 1;
    const std::string walls = h.Turned ? (brick ? "Plaster" : "Brick") : (brick ? "Brick" : "Plaster");
    things.Mesh(h.Name, h.Position, h.Turned ? HalfTurn : Unturned, h.Mesh,
                walls + ",Roof,Timber,Stone,Brick,Glass,Plaster");
  }

  things.Comment("Lamps round the square and along the outer streets; their bulbs share the second street "
                 "lamp's material, so the presets light them with it (without areas of their own: their "
                 "light reaches the town through the light field).");
  std::vector<vec3> lamps = {vec3(-21, 36, 0.02f), vec3(21, 36, 0.02f), vec3(-21, 64, 0.02f), vec3(21, 64, 0.02f)};
  for (float street : {-64.0f, -32.0f, 32.0f, 64.0f}) {
    for (float y : {-50.0f, 10.0f, 50.0f}) lamps.push_back(vec3(street + (y > 0 ? 2.6f : -2.6f), y, 0.0f));
  }
  int lamp = 0;
  for (const vec3& at : lamps) {
    const std::string post = "TownLamp" + std::to_string(++lamp);
    things.Mesh(post, at, at.x > 0.0f ? Unturned : HalfTurn, "LampPost", "Iron");
    things.Add(post + "Bulb", vec3(0, 0, 3.1f), Unturned, vec3(0.15f),
               "<MeshRenderer Mesh=\"LampBulb\" Materials=\"Light2\" Visible=\"True\" ShadowCast=\"False\" "
               "BounceCast=\"True\"/>",
               post);
  }
  things.Comment("The square's furniture: benches, crates and barrels, and a brazier without a fire.");
  things.Mesh("SquareProps", vec3(0, 50, 0.02f), Unturned, "Props", "Timber,Iron");
  things.Mesh("SquareBrazier", vec3(0, 50, 0.02f), Unturned, "Brazier", "Iron,Coal");

  things.Comment("The view from the square down the middle street to the street level's own houses.");
  things.Raw("    <Thing Name=\"Camera\">\n      <Viewpoint Position=\"1.2,33,1.7\" Yaw=\"180\" Pitch=\"-4\"/>\n"
             "    </Thing>\n");

  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!--\n"
         "  The town, written by MakeTown (tools/Town.cpp): the street of StreetTest.xml in the\n"
         "  middle of five streets of its houses, cross lanes and a square, " +
         Num(2 * TownHalfWidth) + " x " + Num(2 * TownHalfLength) +
         " m.\n  Z is up, one unit is a metre. The lighting presets switch the street's own Things\n"
         "  by name, as on the street.\n"
         "-->\n"
         "<Level>\n  <Things>" +
         things.Text() + "  </Things>\n</Level>\n";
}

}  // namespace KestorTools
