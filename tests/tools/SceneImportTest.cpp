// Guards KestorImport: what an OBJ and a glTF written here turn into (meshes
// with their index lists, materials, textures, Things with their poses, area
// lights, the camera, the light field), that the engine loads and draws the
// result without a problem line, and that broken sources leave no file.
#include <gtest/gtest.h>

#include <stb_image_write.h>
#include <sys/wait.h>
#include <tinyxml2.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "SceneImport.h"
#include "render/MeshData.h"
#include "support/TestFiles.h"

using namespace KestorTools;

namespace {

namespace fs = std::filesystem;

// A floor of two materials (one textured), and a lamp panel 2 units above it
// facing down: 0.5 wide in x, 1 deep in z. Y up.
const char* const Obj = R"(mtllib room.mtl
o Floor
usemtl Tiled
v -1 0 1
v 0 0 1
v 0 0 -1
v -1 0 -1
vt 0 0
vt 1 0
vt 1 1
vt 0 1
vn 0 1 0
f 1/1/1 2/2/1 3/3/1 4/4/1
usemtl Plain
v 0 0 1
v 1 0 1
v 1 0 -1
v 0 0 -1
f 5//1 6//1 7//1 8//1
o Lamp
usemtl Glow
v -0.25 2 -0.5
v 0.25 2 -0.5
v 0.25 2 0.5
v -0.25 2 0.5
vn 0 -1 0
f 9//2 10//2 11//2 12//2
)";

const char* const Mtl = R"(newmtl Tiled
Kd 1 1 1
map_Kd checker.png
newmtl Plain
Kd 0.5 0.5 0.5
Ns 98
newmtl Glow
Kd 1 1 1
Ke 4 2 0
)";

std::string Base64(const std::string& bytes) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
    if (left > 1) n |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
    if (left > 2) n |= static_cast<uint8_t>(bytes[i + 2]);
    out += table[(n >> 18) & 63];
    out += table[(n >> 12) & 63];
    out += left > 1 ? table[(n >> 6) & 63] : '=';
    out += left > 2 ? table[n & 63] : '=';
  }
  return out;
}

// One triangle mesh drawn by three nodes (two alike, one turned and scaled)
// and a camera at (0, 1, 5) looking along -Z. Y up.
std::string Gltf() {
  const float data[] = {0, 0, 0, 1, 0, 0, 0, 1, 0,   // positions
                        0, 0, 1, 0, 0, 1, 0, 0, 1};  // normals
  std::string buffer(reinterpret_cast<const char*>(data), sizeof(data));
  const uint16_t indices[4] = {0, 1, 2, 0};
  buffer.append(reinterpret_cast<const char*>(indices), sizeof(indices));
  return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1,2,3]}],
 "nodes":[{"name":"Left","mesh":0,"translation":[-2,0,0]},
          {"name":"Right","mesh":0,"translation":[2,0,0]},
          {"name":"Big","mesh":0,"translation":[0,0,-3],"scale":[2,2,2],"rotation":[0,0.70710678,0,0.70710678]},
          {"name":"Eye","camera":0,"translation":[0,1,5]}],
 "cameras":[{"type":"perspective","perspective":{"yfov":0.8,"aspectRatio":1.5,"znear":0.1}}],
 "meshes":[{"name":"Tri","primitives":[{"attributes":{"POSITION":0,"NORMAL":1},"indices":2,"material":0}]}],
 "materials":[{"name":"Glow","emissiveFactor":[1,0.5,0],
   "pbrMetallicRoughness":{"baseColorFactor":[0.5,0.25,1,1],"metallicFactor":0.5,"roughnessFactor":0.3}}],
 "buffers":[{"byteLength":80,"uri":"data:application/octet-stream;base64,)" +
         Base64(buffer) + R"("}],
 "bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":72},{"buffer":0,"byteOffset":72,"byteLength":6}],
 "accessors":[{"bufferView":0,"byteOffset":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]},
              {"bufferView":0,"byteOffset":36,"componentType":5126,"count":3,"type":"VEC3"},
              {"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}]})";
}

std::string CheckerPng() {
  const uint8_t pixels[2 * 2 * 3] = {255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255};
  std::string bytes;
  stbi_write_png_to_func([](void* c, void* d, int n) { static_cast<std::string*>(c)->append(static_cast<char*>(d), n); },
                         &bytes, 2, 2, 3, pixels, 6);
  return bytes;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every Thing of a level: name -> component -> attribute -> value.
using LevelMap = std::map<std::string, std::map<std::string, std::map<std::string, std::string>>>;
LevelMap ReadLevel(const fs::path& path) {
  tinyxml2::XMLDocument document;
  LevelMap level;
  if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) return level;
  for (auto* thing = document.FirstChildElement("Level")->FirstChildElement("Things")->FirstChildElement();
       thing != nullptr; thing = thing->NextSiblingElement()) {
    auto& components = level[thing->Attribute("Name")];
    for (auto* c = thing->FirstChildElement(); c != nullptr; c = c->NextSiblingElement()) {
      for (auto* a = c->FirstAttribute(); a != nullptr; a = a->Next()) components[c->Name()][a->Name()] = a->Value();
    }
  }
  return level;
}

std::map<std::string, std::string> ReadSettings(const fs::path& path) {
  tinyxml2::XMLDocument document;
  std::map<std::string, std::string> settings;
  if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) return settings;
  for (auto* a = document.FirstChildElement("Material")->FirstChildElement("Settings")->FirstAttribute(); a != nullptr;
       a = a->Next()) {
    settings[a->Name()] = a->Value();
  }
  return settings;
}

std::vector<float> Numbers(const std::string& text) {
  std::vector<float> out;
  std::stringstream s(text);
  std::string piece;
  while (std::getline(s, piece, ',')) out.push_back(std::stof(piece));
  return out;
}

void ExpectNear(const std::string& text, std::vector<float> expected, const std::string& what) {
  const std::vector<float> got = Numbers(text);
  ASSERT_EQ(got.size(), expected.size()) << what << ": " << text;
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], 1e-4f) << what << ": " << text;
}

std::vector<std::string> Files(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) out.push_back(fs::relative(entry.path(), folder).string());
  std::sort(out.begin(), out.end());
  return out;
}

// Runs the engine on a level for a few frames; returns its problem lines
// (asset reports "<file>: ...", GL errors), or why it did not run.
std::string RunLevel(const std::string& level, const std::string& scratch) {
  const std::string log = scratch + "/engine.log";
  const std::string command = std::string("'") + KESTOR_ENGINE_PROGRAM + "' --level '" + level +
                              "' --size 64x48 --frames 3 --hide-panel > '" + log + "' 2>&1";
  const int raw = std::system(command.c_str());
  if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) {
    const std::string text = Read(log);
    return "exit status " + std::to_string(raw) + ", last lines:\n" + text.substr(text.size() > 2000 ? text.size() - 2000 : 0);
  }
  const std::regex problem(R"(^GL_[A-Z_]+ - |\*\* GL ERROR \*\*|\.(xml|fml|shader|glinc|png): )");
  std::istringstream lines(Read(log));
  std::string line, found;
  while (std::getline(lines, line)) {
    if (std::regex_search(line, problem)) found += line + "\n";
  }
  return found;
}

}  // namespace

TEST(SceneImport, ObjBecomesSubmeshesMaterialsTextureAreaAndField) {
  KestorTest::TempDir dir;
  dir.Write("src/room.obj", Obj);
  dir.Write("src/room.mtl", Mtl);
  const std::string png = CheckerPng();
  dir.Write("src/checker.png", png);
  fs::create_directory(dir.Path() + "/out");
  // An earlier import's leftovers go with the new one.
  dir.Write("out/Meshes/room/Stale.fml", "<Mesh/>");

  ImportOptions options;
  options.Source = dir.Path() + "/src/room.obj";
  options.OutDir = dir.Path() + "/out";
  options.Voxels = 16;
  options.CameraPosition = glm::vec3(0.0f, -4.0f, 1.0f);
  options.CameraPitch = -10.0f;
  options.FieldOfView = 50.0f;
  const ImportResult result = ImportScene(options);
  ASSERT_TRUE(result.Ok) << (result.Problems.empty() ? "" : result.Problems[0]);

  const fs::path out = options.OutDir;
  EXPECT_EQ(Files(out), (std::vector<std::string>{"Levels", "Levels/room.xml", "Materials", "Materials/room",
                                                  "Materials/room/Glow.xml", "Materials/room/Plain.xml",
                                                  "Materials/room/Tiled.xml", "Meshes", "Meshes/room",
                                                  "Meshes/room/Floor.fml", "Meshes/room/Lamp.fml", "Textures",
                                                  "Textures/room", "Textures/room/checker.png"}));
  EXPECT_EQ(Read(out / "Textures/room/checker.png"), png);

  KestorEngine::MeshLists floor;
  ASSERT_TRUE(KestorEngine::ReadMeshFile((out / "Meshes/room/Floor.fml").string(), floor));
  EXPECT_EQ(floor.SubmeshSizes, (std::vector<uint32_t>{6, 6})) << "one index list per material";
  EXPECT_EQ(floor.Vertices.size(), 8u * 3u);
  ASSERT_TRUE(floor.HasNormals);
  EXPECT_EQ(glm::vec3(floor.Normals[0], floor.Normals[1], floor.Normals[2]), glm::vec3(0, 0, 1)) << "Y up became Z up";
  // The textured corner (-1, 0, 1) with uv (0, 0): engine (-1, -1, 0), v flipped for top-first images.
  EXPECT_EQ(glm::vec3(floor.Vertices[0], floor.Vertices[1], floor.Vertices[2]), glm::vec3(-1, -1, 0));
  EXPECT_EQ(glm::vec2(floor.UV1[0], floor.UV1[1]), glm::vec2(0, 1));

  const auto tiled = ReadSettings(out / "Materials/room/Tiled.xml");
  EXPECT_EQ(tiled.at("AlbedoMap"), "room/checker.png");
  const auto plain = ReadSettings(out / "Materials/room/Plain.xml");
  ExpectNear(plain.at("Color"), {0.5f, 0.5f, 0.5f}, "Plain colour");
  ExpectNear(plain.at("Roughness"), {std::sqrt(2.0f / 100.0f)}, "roughness from the Phong exponent");
  ExpectNear(plain.at("Strength"), {0.0f}, "not emissive");
  const auto glow = ReadSettings(out / "Materials/room/Glow.xml");
  ExpectNear(glow.at("EmissionColor"), {1.0f, 0.5f, 0.0f}, "hue");
  ExpectNear(glow.at("Strength"), {4.0f}, "radiance = Strength x EmissionColor");

  LevelMap level = ReadLevel(out / "Levels/room.xml");
  EXPECT_EQ(level["Floor"]["MeshRenderer"]["Mesh"], "room/Floor");
  EXPECT_EQ(level["Floor"]["MeshRenderer"]["Materials"], "room/Tiled,room/Plain");
  EXPECT_EQ(level["Lamp"]["MeshRenderer"]["Materials"], "room/Glow");
  // The lamp's area: centred on it, unturned (facing down), half sizes 0.25 x 0.5.
  EXPECT_EQ(level["LampArea"]["ISArea"]["Type"], "2");
  ExpectNear(level["LampArea"]["Transform"]["Position"], {0, 0, 2}, "area centre");
  ExpectNear(level["LampArea"]["Transform"]["Rotation"], {1, 0, 0, 0}, "area facing down");
  ExpectNear(level["LampArea"]["Transform"]["Scale"], {0.25f, 0.5f, 1}, "area half sizes");
  EXPECT_EQ(level.count("FloorArea"), 0u);
  // The field: 2 units each way, 16 voxels with a voxel and a half spare on
  // each side, so that the floor lies half way through a voxel.
  EXPECT_EQ(level["LightVolume"]["LightField"]["Resolution"], "16,16,16");
  ExpectNear(level["LightVolume"]["Transform"]["Position"], {0, 0, 1}, "field centre");
  ExpectNear(level["LightVolume"]["Transform"]["Scale"], {16.0f / 13.0f, 16.0f / 13.0f, 16.0f / 13.0f}, "field half size");
  ExpectNear(level["Sky"]["Sky"]["SunStrength"], {40000}, "daylight unless asked not to");
  ExpectNear(level["Camera"]["Viewpoint"]["Position"], {0, -4, 1}, "camera from the options");
  ExpectNear(level["Camera"]["Viewpoint"]["Pitch"], {-10}, "pitch");
  ExpectNear(level["Camera"]["Viewpoint"]["FieldOfView"], {50}, "field of view");
  EXPECT_FALSE(fs::exists(out / "Meshes/room/Stale.fml"));

  // Without a camera, one from the front that sees the whole scene: the
  // bounds' centre (0, 0, 1) lies straight ahead, 15 degrees down.
  options.CameraPosition.reset();
  options.Name = "room2";
  ASSERT_TRUE(ImportScene(options).Ok);
  LevelMap framed = ReadLevel(out / "Levels/room2.xml");
  ExpectNear(framed["Camera"]["Viewpoint"]["Yaw"], {0}, "framing yaw");
  ExpectNear(framed["Camera"]["Viewpoint"]["Pitch"], {-15}, "framing pitch");
  const std::vector<float> eye = Numbers(framed["Camera"]["Viewpoint"]["Position"]);
  const glm::vec3 toCentre = glm::normalize(glm::vec3(0, 0, 1) - glm::vec3(eye[0], eye[1], eye[2]));
  EXPECT_NEAR(toCentre.z, -std::sin(glm::radians(15.0f)), 1e-4f);
  EXPECT_NEAR(toCentre.x, 0.0f, 1e-4f);

  EXPECT_EQ(RunLevel(result.LevelPath, dir.Path()), "");
}

TEST(SceneImport, GltfNodesShareMeshesKeepPosesAndBringTheCamera) {
  KestorTest::TempDir dir;
  dir.Write("src/tri.gltf", Gltf());
  fs::create_directory(dir.Path() + "/out");
  ImportOptions options;
  options.Source = dir.Path() + "/src/tri.gltf";
  options.OutDir = dir.Path() + "/out";
  options.Name = "Tris";
  options.Sky = false;
  const ImportResult result = ImportScene(options);
  ASSERT_TRUE(result.Ok) << (result.Problems.empty() ? "" : result.Problems[0]);
  const fs::path out = options.OutDir;

  // Left and Right draw the same mesh at the same scale: one file; Big its own.
  EXPECT_TRUE(fs::exists(out / "Meshes/Tris/Left.fml"));
  EXPECT_TRUE(fs::exists(out / "Meshes/Tris/Big.fml"));
  EXPECT_FALSE(fs::exists(out / "Meshes/Tris/Right.fml"));
  LevelMap level = ReadLevel(out / "Levels/Tris.xml");
  EXPECT_EQ(level["Right"]["MeshRenderer"]["Mesh"], "Tris/Left");
  EXPECT_EQ(level.count("Sky"), 0u);
  ExpectNear(level["Right"]["Transform"]["Position"], {2, 0, 0}, "Right");
  // Source -Z is engine +Y; a quarter turn about source Y is one about engine Z.
  ExpectNear(level["Big"]["Transform"]["Position"], {0, 3, 0}, "Big");
  ExpectNear(level["Big"]["Transform"]["Rotation"], {0.7071068f, 0, 0, 0.7071068f}, "Big turned about Z");
  ExpectNear(level["Big"]["Transform"]["Scale"], {1, 1, 1}, "scale lives in the mesh");
  KestorEngine::MeshLists big;
  ASSERT_TRUE(KestorEngine::ReadMeshFile((out / "Meshes/Tris/Big.fml").string(), big));
  // Twice the size, in engine axes: source +X stays +X, source +Y is +Z.
  EXPECT_NEAR(glm::distance(glm::vec3(big.Vertices[3], big.Vertices[4], big.Vertices[5]), glm::vec3(2, 0, 0)), 0.0f, 1e-5f);
  EXPECT_NEAR(glm::distance(glm::vec3(big.Vertices[6], big.Vertices[7], big.Vertices[8]), glm::vec3(0, 0, 2)), 0.0f, 1e-5f);

  const auto glow = ReadSettings(out / "Materials/Tris/Glow.xml");
  ExpectNear(glow.at("Color"), {0.5f, 0.25f, 1.0f}, "base colour");
  ExpectNear(glow.at("Roughness"), {0.3f}, "roughness");
  ExpectNear(glow.at("Metallic"), {0.5f}, "metallic");
  ExpectNear(glow.at("EmissionColor"), {1.0f, 0.5f, 0.0f}, "emission");
  ExpectNear(glow.at("Strength"), {1.0f}, "strength");
  EXPECT_EQ(result.Areas, 3) << "one area per emissive Thing";

  // The camera at source (0, 1, 5) looking along -Z: engine (0, -5, 1) along +Y.
  ExpectNear(level["Camera"]["Viewpoint"]["Position"], {0, -5, 1}, "camera");
  ExpectNear(level["Camera"]["Viewpoint"]["Yaw"], {0}, "yaw");
  ExpectNear(level["Camera"]["Viewpoint"]["Pitch"], {0}, "pitch");
  EXPECT_NEAR(Numbers(level["Camera"]["Viewpoint"]["FieldOfView"])[0], glm::degrees(0.8f), 0.05f);

  EXPECT_EQ(RunLevel(result.LevelPath, dir.Path()), "");
}

TEST(SceneImport, BrokenSourcesAreRefusedWithOneLineAndNoFile) {
  struct Case {
    const char* file;
    const char* text;
    const char* says;
  };
  const Case cases[] = {
      {"absent.obj", nullptr, "no such file"},
      {"broken.obj", "v 0 0 0\nf 1 2 3\n", "cannot be read"},
      {"empty.obj", "# nothing here\n", "no geometry"},
      {"nan.obj", "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "not numbers"},
      {"lines.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nl 1 2\n", "points or lines"},
      {"notexture.obj", "mtllib a.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl A\nf 1 2 3\n", "does not exist"},
      {"badtexture.obj", "mtllib b.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl B\nf 1 2 3\n", "not an image"},
      {"broken.gltf", "{\"asset\":", "cannot be read"},
  };
  for (const Case& c : cases) {
    KestorTest::TempDir dir;
    dir.Write("src/a.mtl", "newmtl A\nmap_Kd missing.png\n");
    dir.Write("src/b.mtl", "newmtl B\nmap_Kd fake.png\n");
    dir.Write("src/fake.png", "not an image at all");
    if (c.text != nullptr) dir.Write(std::string("src/") + c.file, c.text);
    fs::create_directory(dir.Path() + "/out");
    ImportOptions options;
    options.Source = dir.Path() + "/src/" + c.file;
    options.OutDir = dir.Path() + "/out";
    const ImportResult result = ImportScene(options);
    EXPECT_FALSE(result.Ok) << c.file;
    ASSERT_EQ(result.Problems.size(), 1u) << c.file;
    EXPECT_NE(result.Problems[0].find(c.says), std::string::npos) << result.Problems[0];
    EXPECT_EQ(result.Problems[0].find(options.Source), 0u) << "names the file: " << result.Problems[0];
    EXPECT_TRUE(Files(options.OutDir).empty()) << c.file;
  }
}

TEST(SceneImport, AreaFitsTheSmallestRectangleOfATurnedPanel) {
  // A 2 x 1 panel turned 30 degrees about its normal (+Z), centred at (1, 2, 3).
  const float a = glm::radians(30.0f);
  const glm::vec3 u(std::cos(a), std::sin(a), 0.0f), v(-std::sin(a), std::cos(a), 0.0f), c(1, 2, 3);
  const glm::vec3 p[4] = {c - u - v * 0.5f, c + u - v * 0.5f, c + u + v * 0.5f, c - u + v * 0.5f};
  const PlaneRectangle r = FitRectangle({p[0], p[1], p[2], p[0], p[2], p[3]}, glm::vec3(0, 0, 1));
  EXPECT_NEAR(glm::distance(r.Centre, c), 0.0f, 1e-5f);
  EXPECT_NEAR(std::max(r.HalfU, r.HalfV), 1.0f, 1e-5f);
  EXPECT_NEAR(std::min(r.HalfU, r.HalfV), 0.5f, 1e-5f);
  EXPECT_NEAR(glm::length(glm::cross(r.U, r.V) - glm::vec3(0, 0, -1)), 0.0f, 1e-5f) << "(U, V, -normal) is a proper turn";
}

TEST(SceneImport, ShippedCornellBoxIsTheImportOfItsObj) {
  KestorTest::TempDir dir;
  const std::string command = std::string("'") + KESTOR_SOURCE_DIR + "/examples/CornellBox/convert.sh' '" +
                              KESTOR_IMPORT_PROGRAM + "' '" + dir.Path() + "' > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const fs::path shipped = fs::path(KESTOR_SOURCE_DIR) / "CompiledAssets";
  for (const char* folder : {"Meshes/CornellBox", "Materials/CornellBox"}) {
    EXPECT_EQ(Files(shipped / folder), Files(fs::path(dir.Path()) / folder)) << folder;
  }
  for (const std::string& file : Files(fs::path(dir.Path()))) {
    if (fs::is_directory(fs::path(dir.Path()) / file)) continue;
    EXPECT_EQ(Read(shipped / file), Read(fs::path(dir.Path()) / file))
        << file << " differs from a fresh import: run examples/CornellBox/convert.sh and commit the result";
  }
}
