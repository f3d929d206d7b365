// Guards KestorImport: what an OBJ and a glTF written here turn into (meshes
// with their index lists, materials, textures, Things with their poses, area
// lights, the camera, the light field), that the engine loads and draws the
// result without a problem line, and that broken sources leave no file.
#include <gtest/gtest.h>

#include <stb_image_write.h>
#include <sys/wait.h>
#include <unistd.h>
#include <tinyxml2.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "ImportFolder.h"
#include "SceneImport.h"
#include "engine/Thing.h"
#include "render/MeshData.h"
#include "support/TestFiles.h"

using namespace KestorTools;

namespace {

namespace fs = std::filesystem;

// A floor of two materials (one textured), a lamp panel 2 units above it
// facing down: 0.5 wide in x, 1 deep in z, and a pane of glass. Y up.
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
o Pane
usemtl Glass
v -1 0 0
v 1 0 0
v 1 1 0
f 13//2 14//2 15//2
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
newmtl Glass
Kd 0.1 0.2 0.1
d 0.1
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
// and a camera at (0, 1, 5) looking along -Z. Y up. `bigScale` replaces the
// third node's scale.
std::string Gltf(const std::string& bigScale = R"("scale":[2,2,2])") {
  const float data[] = {0, 0, 0, 1, 0, 0, 0, 1, 0,   // positions
                        0, 0, 1, 0, 0, 1, 0, 0, 1};  // normals
  std::string buffer(reinterpret_cast<const char*>(data), sizeof(data));
  const uint16_t indices[4] = {0, 1, 2, 0};
  buffer.append(reinterpret_cast<const char*>(indices), sizeof(indices));
  return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1,2,3]}],
 "nodes":[{"name":"Left","mesh":0,"translation":[-2,0,0]},
          {"name":"Right","mesh":0,"translation":[2,0,0]},
          {"name":"Big","mesh":0,"translation":[0,0,-3],)" + bigScale + R"(,"rotation":[0,0.70710678,0,0.70710678]},
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

// A glTF whose node tree is `nodes` (JSON objects), without meshes.
std::string Nodes(const std::vector<std::string>& nodes) {
  std::string list;
  for (const std::string& n : nodes) list += (list.empty() ? "" : ",") + n;
  return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)" + list + "]}";
}

// `depth` nodes, each the parent of the next.
std::vector<std::string> Chain(int depth) {
  std::vector<std::string> nodes;
  for (int i = 0; i + 1 < depth; ++i) nodes.push_back(R"({"children":[)" + std::to_string(i + 1) + "]}");
  nodes.push_back("{}");
  return nodes;
}

// A binary glTF of one triangle's buffer whose accessor declares `count`
// elements, read from the buffer or (without a view) as zeros.
std::string Glb(uint64_t count, bool withView = true) {
  const std::string json = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
                           R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],"buffers":[{"byteLength":36}],)"
                           R"("bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{)" +
                           std::string(withView ? R"("bufferView":0,)" : "") + R"("componentType":5126,"count":)" +
                           std::to_string(count) + R"(,"type":"VEC3"}]}    )";
  const std::string padded = json.substr(0, json.size() / 4 * 4);
  const std::string bin(36, '\0');
  auto word = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  const std::string body = word(padded.size()) + word(0x4E4F534A) + padded + word(bin.size()) + word(0x004E4942) + bin;
  return "glTF" + word(2) + word(12 + body.size()) + body;
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
  // The glass is left out, with a note: opaque, it would shut the light out.
  EXPECT_TRUE(std::any_of(result.Notes.begin(), result.Notes.end(),
                          [](const std::string& n) { return n.find("1 mesh parts of see-through") != std::string::npos; }));

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

  // With a voxel size, levels of 64 that follow the camera, as many as
  // asked whatever the scene's extent (memory and cost stay fixed).
  options.Name = "room3";
  options.VoxelSize = 0.01f;
  options.CascadeLevels = 5;
  ASSERT_TRUE(ImportScene(options).Ok);
  LevelMap cascaded = ReadLevel(out / "Levels/room3.xml");
  EXPECT_EQ(cascaded["LightVolume"]["LightField"]["Resolution"], "64,64,64");
  ExpectNear(cascaded["LightVolume"]["LightField"]["VoxelSize"], {0.01f}, "finest voxel");
  EXPECT_EQ(cascaded["LightVolume"]["LightField"]["Levels"], "5");

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
  ExpectNear(level["Sky"]["Sky"]["SkyStrength"], {0}, "dark outside, said in the level");
  ExpectNear(level["Sky"]["Sky"]["SunStrength"], {0}, "no sun");
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

TEST(SceneImport, BrokenHostileAndOversizedSourcesAreRefusedWithOneLineAndNoFile) {
  const std::string triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
  const std::string png = CheckerPng();
  struct Case {
    const char* file;
    std::string text;  // "-": no file at all
    const char* says;
  };
  const Case cases[] = {
      {"absent.obj", "-", "no such file"},
      {"broken.obj", "v 0 0 0\nf 1 2 3\n", "cannot be read"},
      {"empty.obj", "# nothing here\n", "no geometry"},
      {"nan.obj", "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "not numbers"},
      {"lines.obj", triangle + "f 1 2 3\nl 1 2\n", "points or lines"},
      {"notexture.obj", "mtllib a.mtl\n" + triangle + "usemtl A\nf 1 2 3\n", "does not exist"},
      {"badtexture.obj", "mtllib b.mtl\n" + triangle + "usemtl B\nf 1 2 3\n", "not an image"},
      {"broken.gltf", "{\"asset\":", "cannot be read"},
      // What is written is checked, after every transform: a material that is
      // no number, coordinates that only a node's scale pushes past float.
      {"nancolour.obj", "mtllib c.mtl\n" + triangle + "usemtl C\nf 1 2 3\n", "material \"C\": its base colour is not a number"},
      {"nanroughness.obj", "mtllib d.mtl\n" + triangle + "usemtl D\nf 1 2 3\n", "material \"D\": its roughness is not a number"},
      {"far.obj", "v 1e30 0 0\nv 0 1 0\nv 0 0 1\nf 1 2 3\n", "beyond the 1e+06 units"},
      {"scaled.gltf", Gltf(R"("scale":[1e36,1e36,1e36])"), "beyond the 1e+06 units"},
      // Images are decoded whole, and stay inside the source's folder.
      {"truncated.obj", "mtllib e.mtl\n" + triangle + "usemtl E\nf 1 2 3\n", "does not decode"},
      {"outside.obj", "mtllib f.mtl\n" + triangle + "usemtl F\nf 1 2 3\n", "lies outside the source's folder"},
      // What the library's readers crash or recurse past their stack on, or loop in.
      {"early.obj", "mtllib g.mtl\n" + triangle + "usemtl G\nf 1 2 3\n", "says \"map_Kd\" before any newmtl"},
      {"deep.gltf", Nodes(Chain(300)), "more than 256 levels deep"},
      {"loop.gltf", Nodes({R"({"children":[1]})", R"({"children":[0]})"}), "a loop in the node tree"},
      {"twice.gltf", Nodes({R"({"children":[2]})", R"({"children":[2]})", "{}"}), "node 2 has two parents"},
      {"nested.gltf", "{\"asset\":{\"version\":\"2.0\"},\"extras\":" + std::string(100, '[') + std::string(100, ']') + "}",
       "nests JSON deeper than 64"},
      // Tiny files declaring counts that would take the library gigabytes.
      {"count.glb", Glb(300000000), "accessor 0 (300000000 elements) reaches past the end of its buffer view"},
      {"zeros.glb", Glb(400000000, false), "declares more zeros than the importer fills in"},
      {"count.off", "OFF\n353535235358 6 0\n-0.5 -0.5 0.5\n", "declares 353535235358 vertices and 6 faces"},
      {"count.ply", "ply\nformat ascii 1.0\nelement vertex 2000000000\nproperty float x\nproperty float y\n"
                    "property float z\nend_header\n0 0 0\n", "declares elements that need at least"},
  };
  for (const Case& c : cases) {
    KestorTest::TempDir dir;
    dir.Write("src/a.mtl", "newmtl A\nmap_Kd missing.png\n");
    dir.Write("src/b.mtl", "newmtl B\nmap_Kd fake.png\n");
    dir.Write("src/c.mtl", "newmtl C\nKd nan 0.5 0.5\n");
    dir.Write("src/d.mtl", "newmtl D\nPr nan\n");
    dir.Write("src/e.mtl", "newmtl E\nmap_Kd cut.png\n");
    dir.Write("src/f.mtl", "newmtl F\nmap_Kd ../elsewhere/secret.png\n");
    dir.Write("src/g.mtl", "# a comment may come first\nmap_Kd fake.png\nnewmtl G\n");
    dir.Write("src/fake.png", "not an image at all");
    dir.Write("src/cut.png", png.substr(0, png.size() / 2));
    dir.Write("elsewhere/secret.png", png);
    if (c.text != "-") dir.Write(std::string("src/") + c.file, c.text);
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

    if (std::string(c.file) == "outside.obj") {
      options.AllowOutsideTextures = true;
      EXPECT_TRUE(ImportScene(options).Ok) << "taken when asked for";
    }
  }
}

TEST(SceneImport, OptionsThatWouldWriteNoNumbersAreRefused) {
  KestorTest::TempDir dir;
  dir.Write("src/tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  fs::create_directory(dir.Path() + "/out");
  for (float scale : {NAN, INFINITY, 1e7f, -1.0f, 0.0f}) {
    ImportOptions options;
    options.Source = dir.Path() + "/src/tri.obj";
    options.OutDir = dir.Path() + "/out";
    options.Scale = scale;
    const ImportResult result = ImportScene(options);
    EXPECT_FALSE(result.Ok) << scale;
    ASSERT_EQ(result.Problems.size(), 1u);
    EXPECT_NE(result.Problems[0].find("the scale must lie between"), std::string::npos) << result.Problems[0];
  }
  for (float voxel : {NAN, -0.5f, 1e-4f, 5000.0f}) {
    ImportOptions options;
    options.Source = dir.Path() + "/src/tri.obj";
    options.OutDir = dir.Path() + "/out";
    options.VoxelSize = voxel;
    const ImportResult result = ImportScene(options);
    ASSERT_EQ(result.Problems.size(), 1u) << voxel;
    EXPECT_NE(result.Problems[0].find("the voxel size must lie between"), std::string::npos) << result.Problems[0];
  }
  for (int levels : {0, 9}) {
    ImportOptions options;
    options.Source = dir.Path() + "/src/tri.obj";
    options.OutDir = dir.Path() + "/out";
    options.VoxelSize = 0.1f;
    options.CascadeLevels = levels;
    const ImportResult result = ImportScene(options);
    ASSERT_EQ(result.Problems.size(), 1u) << levels;
    EXPECT_NE(result.Problems[0].find("1 to 8 levels"), std::string::npos) << result.Problems[0];
  }
  EXPECT_TRUE(Files(dir.Path() + "/out").empty());
  // The program says it before reading anything.
  const std::string command = std::string("'") + KESTOR_IMPORT_PROGRAM + "' '" + dir.Path() + "/src/tri.obj' --out '" +
                              dir.Path() + "/out' --scale nan 2> /dev/null";
  const int raw = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2) << raw;
}

TEST(SceneImport, ReadingPastItsMemoryOrTimeStopsWithOneLineAndNoFile) {
  KestorTest::TempDir dir;
  // 300,000 vertices (5 MB) take the library some 100 MiB to read.
  std::string obj;
  const int count = 300000;
  for (int i = 0; i < count; ++i) {
    obj += "v " + std::to_string(i % 7) + " " + std::to_string(i % 13) + " " + std::to_string(i % 17) + "\n";
  }
  for (int i = 1; i + 2 <= count; i += 3) {
    obj += "f " + std::to_string(i) + " " + std::to_string(i + 1) + " " + std::to_string(i + 2) + "\n";
  }
  dir.Write("src/big.obj", obj);
  fs::create_directory(dir.Path() + "/out");
  struct Case {
    size_t mib;
    double seconds;
    const char* says;
  };
  for (const Case& c : {Case{16, 300.0, "needs more than the 16 MiB of memory allowed"},
                        Case{4096, 0.002, "takes longer than the 0.002 seconds allowed"}}) {
#if defined(__SANITIZE_ADDRESS__)
    if (c.mib == 16) continue;  // address space is not limited under the address sanitizer
#endif
    ImportOptions options;
    options.Source = dir.Path() + "/src/big.obj";
    options.OutDir = dir.Path() + "/out";
    options.MemoryLimitMiB = c.mib;
    options.TimeLimitSeconds = c.seconds;
    const ImportResult result = ImportScene(options);
    EXPECT_FALSE(result.Ok);
    ASSERT_EQ(result.Problems.size(), 1u);
    EXPECT_NE(result.Problems[0].find(c.says), std::string::npos) << result.Problems[0];
    EXPECT_TRUE(Files(options.OutDir).empty()) << "nothing written, no staging folder left";
  }
}

TEST(SceneImport, NodesBeyondWhatALevelHoldsShareAThingPerMaterial) {
  KestorTest::TempDir dir;
  std::string obj = "mtllib two.mtl\n";
  const int nodes = KestorEngine::Thing::MaxLevelThings;
  for (int i = 0; i < nodes; ++i) {
    const std::string x = std::to_string(i % 100), y = std::to_string(i / 100), v = std::to_string(3 * i + 1);
    obj += "o N" + std::to_string(i) + "\nusemtl " + (i % 2 ? "Odd" : "Even") + "\nv " + x + " 0 " + y + "\nv " + x +
           ".5 0 " + y + "\nv " + x + " 0.5 " + y + "\nf " + v + " " + std::to_string(3 * i + 2) + " " +
           std::to_string(3 * i + 3) + "\n";
  }
  dir.Write("src/many.obj", obj);
  dir.Write("src/two.mtl", "newmtl Even\nKd 1 0 0\nnewmtl Odd\nKd 0 1 0\n");
  fs::create_directory(dir.Path() + "/out");
  ImportOptions options;
  options.Source = dir.Path() + "/src/many.obj";
  options.OutDir = dir.Path() + "/out";
  const ImportResult result = ImportScene(options);
  ASSERT_TRUE(result.Ok) << (result.Problems.empty() ? "" : result.Problems[0]);
  EXPECT_EQ(result.Things, 2);
  ASSERT_EQ(result.Notes.size(), 1u);
  EXPECT_NE(result.Notes[0].find("merged into one Thing per material"), std::string::npos) << result.Notes[0];
  LevelMap level = ReadLevel(fs::path(options.OutDir) / "Levels/many.xml");
  EXPECT_EQ(level["MergedOdd"]["MeshRenderer"]["Materials"], "many/Odd");
  ExpectNear(level["MergedOdd"]["Transform"]["Position"], {0, 0, 0}, "merged in world coordinates");
  KestorEngine::MeshLists even;
  ASSERT_TRUE(KestorEngine::ReadMeshFile(options.OutDir + "/Meshes/many/MergedEven.fml", even));
  EXPECT_EQ(even.Vertices.size(), static_cast<size_t>(nodes + 1) / 2 * 9);
  // Node 2's first corner, source (2, 0, 0): engine (2, 0, 0), after node 0's three.
  EXPECT_EQ(glm::vec3(even.Vertices[9], even.Vertices[10], even.Vertices[11]), glm::vec3(2, 0, 0));
}

TEST(SceneImport, AKillAtAnyStepOfTheSwitchLeavesOneWholeImportAndTheNextCleansUp) {
  KestorTest::TempDir dir;
  const fs::path out = dir.Path() + "/out";
  fs::create_directory(out);
  auto import = [&](const char* corner) {
    dir.Write("src/room.obj", std::string("o Box\nv ") + corner + " 0 0\nv 0 1 0\nv 0 0 1\nf 1 2 3\n");
    ImportOptions options;
    options.Source = dir.Path() + "/src/room.obj";
    options.OutDir = out.string();
    return ImportScene(options);
  };
  // The level names its meshes; whole when every one is there, holding `corner`.
  auto whole = [&](float corner) {
    LevelMap level = ReadLevel(out / "Levels/room.xml");
    KestorEngine::MeshLists mesh;
    KestorTest::CaptureStdout quiet;
    return !level.empty() &&
           KestorEngine::ReadMeshFile((out / "Meshes" / (level["Box"]["MeshRenderer"]["Mesh"] + ".fml")).string(), mesh) &&
           fs::exists(out / "Materials" / (level["Box"]["MeshRenderer"]["Materials"] + ".xml")) &&
           mesh.Vertices[0] == corner;
  };
  ASSERT_TRUE(import("1").Ok);
  for (int step = 1; step <= 3; ++step) {
    SCOPED_TRACE(step);
    const pid_t child = fork();
    if (child == 0) {
      ImportFolder::AfterCommitStep = [step](int at) {
        if (at == step) raise(SIGKILL);
      };
      import("2");
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "killed at the step";
    EXPECT_TRUE(step == 1 ? whole(1.0f) : whole(2.0f)) << "the old import before the switch, the new one after";
    // The next import removes what the killed one left: its staging folder
    // and the version no level names.
    ASSERT_TRUE(import("1").Ok);
    EXPECT_TRUE(whole(1.0f));
    for (const std::string& entry : Files(out)) {
      EXPECT_EQ(entry.find(".KestorImport-"), std::string::npos) << entry;
    }
    int versions = 0;
    for (const auto& entry : fs::directory_iterator(out / "Meshes")) versions += entry.is_directory() ? 1 : 0;
    EXPECT_EQ(versions, 1);
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
