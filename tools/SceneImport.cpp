// Sections: names and numbers | reading the source (materials, textures,
// nodes and meshes, fitting a level, emissive areas, camera, light field) |
// the engine's file texts | staging the files | the whole import.
#include "SceneImport.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <stb_image.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "ChildRun.h"
#include "ImportFolder.h"
#include "SourceChecks.h"
#include "engine/Thing.h"
#include "renderer/Cascade.h"

#include <glm/geometric.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <glm/mat3x3.hpp>
#include <glm/mat4x4.hpp>
#include <glm/matrix.hpp>

namespace KestorTools {

namespace {

namespace fs = std::filesystem;

// ---- Names and numbers ------------------------------------------------------

// Lights the renderer samples directly; more are drawn but not sampled.
constexpr int SampledAreas = 16;
// Smoothing angle for normals the source lacks: keeps a box's edges hard
// while a sphere of a few dozen segments stays round.
constexpr float SmoothingDegrees = 45.0f;

// A name usable as a file name and inside the comma-separated lists of a
// level: letters, digits, "_", "-" and "."; anything else becomes "_".
std::string FileName(const std::string& text, const std::string& fallback) {
  std::string out;
  for (char c : text) {
    const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || (c == '.' && !out.empty());
    out += plain ? c : '_';
  }
  while (!out.empty() && out.back() == '.') out.pop_back();
  return out.empty() ? fallback : out;
}

// Makes `name` unique in `taken` by a numbered suffix, and takes it.
std::string Unique(std::set<std::string>& taken, const std::string& name) {
  std::string candidate = name;
  for (int n = 2; taken.count(candidate) != 0; ++n) candidate = name + "_" + std::to_string(n);
  taken.insert(candidate);
  return candidate;
}

// The shortest text that reads back as the same float.
std::string Number(float value) {
  if (value == 0.0f) return "0";  // also for -0
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

std::string Vec(glm::vec3 v) { return Number(v.x) + "," + Number(v.y) + "," + Number(v.z); }

bool Finite(glm::vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Finite and within MaxCoordinate of the origin on every axis.
bool InRange(glm::vec3 v) {
  return std::abs(v.x) <= MaxCoordinate && std::abs(v.y) <= MaxCoordinate && std::abs(v.z) <= MaxCoordinate;
}

std::string Shown(float value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// Emitted radiance a material may have: what a level's numbers take.
constexpr float MaxEmission = 1e9f;
// Below this a material counts as see-through and its surfaces are left out.
constexpr float MinOpacity = 0.5f;

// Things every import writes besides its nodes and areas: LightVolume, Sky
// and Camera.
constexpr int FixedThings = 3;

glm::mat4 ToGlm(const aiMatrix4x4& m) { return glm::transpose(glm::make_mat4(&m.a1)); }

// ---- Reading the source -----------------------------------------------------

struct Material {
  std::string Name;  // file name within the scene's folder
  glm::vec3 Color{0.8f};
  float Roughness = 1.0f;
  float Metallic = 0.0f;
  glm::vec3 EmissionColor{0.0f};
  float Strength = 0.0f;
  std::string Texture;  // file name within Textures/<scene>, empty for none
  // Mostly see-through (glass): the engine draws no transparency, and an
  // opaque pane would shut the sun out of every room behind a window.
  bool SeeThrough = false;
};

struct Texture {
  std::string Name;
  std::string Bytes;
};

struct Mesh {
  std::string Name;
  std::vector<float> Vertices, Normals, UV1;
  std::vector<uint32_t> Faces;
  std::vector<uint32_t> SubmeshSizes;  // one per source mesh, in order
  std::vector<int> Materials;          // index into the scene's materials, per submesh
};

struct Thing {
  std::string Name;
  glm::vec3 Position{0.0f};
  glm::quat Rotation{1.0f, 0.0f, 0.0f, 0.0f};
  int Mesh = -1;
  glm::mat4 World{1.0f};  // position and rotation only: the mesh holds the rest
};

struct Area {
  std::string Name;
  bool Flat = true;  // a parallelogram; else a ball
  glm::vec3 Position{0.0f};
  glm::quat Rotation{1.0f, 0.0f, 0.0f, 0.0f};
  glm::vec3 Scale{1.0f};
};

struct View {
  glm::vec3 Position{0.0f};
  float Yaw = 0.0f, Pitch = 0.0f, FieldOfView = 0.0f;
};

struct Scene {
  std::vector<Material> Materials;
  std::vector<Texture> Textures;
  std::vector<Mesh> Meshes;
  std::vector<Thing> Things;
  std::vector<Area> Areas;
  std::optional<View> Camera;
  std::string CameraFrom;  // where the camera came from, for the summary
  glm::vec3 BoundsMin{INFINITY}, BoundsMax{-INFINITY};
  glm::vec3 FieldCentre{0.0f}, FieldHalf{1.0f};
  glm::ivec3 FieldResolution{4};
  float FieldVoxelSize = 0.0f;  // above 0: cascaded, FieldLevels of them
  int FieldLevels = 1;
};

class Reader {
 public:
  Reader(const ImportOptions& options, ImportResult& result) : options(options), result(result) {}

  bool Read(Scene& scene);

 private:
  void Problem(const std::string& line) { result.Problems.push_back(options.Source + ": " + line); }
  void Note(const std::string& line) { result.Notes.push_back(options.Source + ": " + line); }

  void ReadMaterials(Scene& scene);
  std::string ReadTexture(Scene& scene, const aiMaterial& m, const std::string& materialName);
  bool CheckImage(const std::string& bytes, const std::string& label);
  bool CheckSourceFile();
  bool CheckTreeDepth();
  void ReadNodes(Scene& scene);
  void ReadNode(Scene& scene, const aiNode& node, const glm::mat4& world);
  int MeshFor(Scene& scene, const aiNode& node, const glm::mat4& bake, bool mirrored, const std::string& name);
  void FitLevel(Scene& scene);
  void MergeThings(Scene& scene);
  void ReadAreas(Scene& scene);
  void ReadCamera(Scene& scene);
  void FitField(Scene& scene);
  void CascadeField(Scene& scene);

  const ImportOptions& options;
  ImportResult& result;
  const aiScene* source = nullptr;
  glm::mat4 toEngine{1.0f};
  std::set<std::string> thingNames{"LightVolume", "Camera", "Sky"}, meshNames;
  // (mesh indices, baked matrix) of each written mesh, so nodes that share
  // their meshes and scale share one file.
  std::map<std::pair<std::vector<unsigned>, std::vector<float>>, int> meshByContent;
  std::vector<std::string> materialTextureKeys;
  int seeThroughParts = 0;
};

// Formats whose counts or trees can make the library allocate far beyond
// the file, or recurse past the stack, are checked before it reads them.
bool Reader::CheckSourceFile() {
  std::error_code error;
  if (!fs::is_regular_file(options.Source, error)) {
    Problem("no such file");
    return false;
  }
  const std::string problem = CheckSource(options.Source);
  if (!problem.empty()) Problem(problem);
  return problem.empty();
}

// The tree as the library built it, for the formats not checked before:
// walked without recursion, as every walk below is.
bool Reader::CheckTreeDepth() {
  std::vector<std::pair<const aiNode*, int>> open = {{source->mRootNode, 0}};
  while (!open.empty()) {
    const auto [node, depth] = open.back();
    open.pop_back();
    if (depth > MaxNodeDepth) {
      Problem("its node tree is more than " + std::to_string(MaxNodeDepth) + " levels deep, more than the importer takes");
      return false;
    }
    for (unsigned i = 0; i < node->mNumChildren; ++i) open.emplace_back(node->mChildren[i], depth + 1);
  }
  return true;
}

bool Reader::Read(Scene& scene) {
  if (!CheckSourceFile()) return false;
  Assimp::Importer importer;
  importer.SetPropertyFloat(AI_CONFIG_PP_GSN_MAX_SMOOTHING_ANGLE, SmoothingDegrees);
  // Triangles of no area go; points and lines stay, to be refused below.
  importer.SetPropertyBool(AI_CONFIG_PP_FD_REMOVE, true);
  source = importer.ReadFile(options.Source, aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                                 aiProcess_GenSmoothNormals | aiProcess_SortByPType |
                                                 aiProcess_FindDegenerates | aiProcess_ValidateDataStructure);
  if (source == nullptr) {
    std::string why = importer.GetErrorString();
    // The library turns a failed allocation into its error text.
    if (why.find("bad_alloc") != std::string::npos) throw std::bad_alloc();
    std::replace(why.begin(), why.end(), '\n', ' ');
    const bool empty = why.find("mNumMeshes is 0") != std::string::npos || why.find("too small") != std::string::npos;
    Problem(empty ? "holds no geometry (" + why + ")" : "cannot be read: " + why);
    return false;
  }
  if (source->mFlags & AI_SCENE_FLAGS_INCOMPLETE || source->mRootNode == nullptr || source->mNumMeshes == 0) {
    Problem("holds no geometry");
    return false;
  }
  if (!CheckTreeDepth()) return false;

  // Y up (x, y, z) becomes Z up (x, -z, y): a turn about X that keeps
  // handedness, so a camera looking along the source's -Z looks along +Y.
  toEngine = glm::mat4(options.Scale);
  toEngine[3][3] = 1.0f;
  if (!options.ZUp) {
    glm::mat4 turn(1.0f);
    turn[1] = glm::vec4(0, 0, 1, 0);   // source +Y to +Z
    turn[2] = glm::vec4(0, -1, 0, 0);  // source +Z to -Y
    toEngine = turn * toEngine;
  }

  for (unsigned i = 0; i < source->mNumMeshes; ++i) {
    const aiMesh& m = *source->mMeshes[i];
    const std::string label = "mesh \"" + std::string(m.mName.C_Str()) + "\"";
    if (m.mPrimitiveTypes & (aiPrimitiveType_POINT | aiPrimitiveType_LINE)) {
      Problem(label + " is made of points or lines, not faces; the engine draws triangles only");
    }
    bool finite = true;
    for (unsigned v = 0; v < m.mNumVertices && finite; ++v) {
      const aiVector3D& p = m.mVertices[v];
      finite = std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
      if (finite && m.mNormals != nullptr) {
        const aiVector3D& n = m.mNormals[v];
        finite = std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z);
      }
      if (finite && m.mTextureCoords[0] != nullptr) {
        const aiVector3D& t = m.mTextureCoords[0][v];
        finite = std::isfinite(t.x) && std::isfinite(t.y);
      }
    }
    if (!finite) Problem(label + " has vertices that are not numbers (NaN or infinite)");
  }
  if (!result.Problems.empty()) return false;

  ReadMaterials(scene);
  if (!result.Problems.empty()) return false;
  ReadNodes(scene);
  if (seeThroughParts > 0) {
    Note(std::to_string(seeThroughParts) + " mesh parts of see-through materials (opacity below " +
         Shown(MinOpacity) + ", such as glass) left out: the engine draws no transparency, and opaque they "
         "would shut the light out of what lies behind them");
  }
  if (scene.Meshes.empty() && result.Problems.empty()) Problem("holds no triangles in any node");
  if (!result.Problems.empty()) return false;
  ReadAreas(scene);
  FitField(scene);
  FitLevel(scene);
  if (!result.Problems.empty()) return false;
  ReadCamera(scene);
  if (options.VoxelSize > 0.0f) CascadeField(scene);
  for (unsigned i = 0; i < source->mNumLights; ++i) {
    Note("light \"" + std::string(source->mLights[i]->mName.C_Str()) +
         "\" skipped: the engine is lit by emissive surfaces (give the lamp's mesh an emissive material)");
  }
  return result.Problems.empty();
}

void Reader::ReadMaterials(Scene& scene) {
  std::set<std::string> names;
  for (unsigned i = 0; i < source->mNumMaterials; ++i) {
    const aiMaterial& m = *source->mMaterials[i];
    Material out;
    aiString name;
    m.Get(AI_MATKEY_NAME, name);
    out.Name = Unique(names, FileName(name.C_Str(), "Material" + std::to_string(i)));
    // A value that is no number has no colour or roughness to stand for:
    // the material is refused rather than guessed.
    const std::string label = "material \"" + out.Name + "\": ";
    auto finite = [&](const char* what, std::initializer_list<float> values) {
      for (float v : values) {
        if (!std::isfinite(v)) {
          Problem(label + "its " + what + " is not a number (" + Shown(v) + ")");
          return false;
        }
      }
      return true;
    };

    aiColor4D colour;
    if (m.Get(AI_MATKEY_BASE_COLOR, colour) == AI_SUCCESS || m.Get(AI_MATKEY_COLOR_DIFFUSE, colour) == AI_SUCCESS) {
      if (!finite("base colour", {colour.r, colour.g, colour.b})) continue;
      out.Color = glm::clamp(glm::vec3(colour.r, colour.g, colour.b), 0.0f, 1.0f);
    }
    float value = 0.0f;
    if (m.Get(AI_MATKEY_ROUGHNESS_FACTOR, value) == AI_SUCCESS) {
      if (!finite("roughness", {value})) continue;
      out.Roughness = value;
    } else if (m.Get(AI_MATKEY_SHININESS, value) == AI_SUCCESS) {
      if (!finite("shininess", {value})) continue;
      // A Phong exponent as a roughness: the usual sqrt(2 / (n + 2)).
      if (value > 0.0f) out.Roughness = std::sqrt(2.0f / (value + 2.0f));
    }
    out.Roughness = std::clamp(out.Roughness, 0.0f, 1.0f);
    if (m.Get(AI_MATKEY_METALLIC_FACTOR, value) == AI_SUCCESS) {
      if (!finite("metalness", {value})) continue;
      out.Metallic = std::clamp(value, 0.0f, 1.0f);
    }
    if (m.Get(AI_MATKEY_OPACITY, value) == AI_SUCCESS && std::isfinite(value)) out.SeeThrough = value < MinOpacity;

    // Emitted radiance = Strength x EmissionColor; the colour keeps the hue
    // with its largest channel at 1 and the strength carries the rest.
    aiColor3D emissive(0.0f, 0.0f, 0.0f);
    m.Get(AI_MATKEY_COLOR_EMISSIVE, emissive);
    float intensity = 1.0f;
    m.Get(AI_MATKEY_EMISSIVE_INTENSITY, intensity);
    if (!finite("emission", {emissive.r, emissive.g, emissive.b, intensity})) continue;
    const glm::vec3 radiance = glm::max(glm::vec3(emissive.r, emissive.g, emissive.b) * intensity, 0.0f);
    const float peak = std::max({radiance.r, radiance.g, radiance.b});
    if (!(peak <= MaxEmission)) {
      Problem(label + "its emission (" + Shown(peak) + ") is beyond the " + Shown(MaxEmission) + " a level takes");
      continue;
    }
    if (peak > 0.0f) {
      out.EmissionColor = radiance / peak;
      out.Strength = peak;
    }
    out.Texture = ReadTexture(scene, m, out.Name);
    scene.Materials.push_back(out);
  }
  // Some exporters write every material fully transparent by mistake:
  // a scene of nothing but glass is taken as opaque rather than emptied.
  if (std::all_of(scene.Materials.begin(), scene.Materials.end(), [](const Material& m) { return m.SeeThrough; })) {
    for (Material& m : scene.Materials) m.SeeThrough = false;
  }
}

// Decoded whole, as the engine will: a header alone passes a truncated file
// that then draws black.
bool Reader::CheckImage(const std::string& bytes, const std::string& label) {
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  const int size = static_cast<int>(std::min<size_t>(bytes.size(), INT32_MAX));
  int w = 0, h = 0, channels = 0;
  if (bytes.empty() || bytes.size() > INT32_MAX || stbi_info_from_memory(data, size, &w, &h, &channels) == 0) {
    Problem(label + " is not an image the engine reads (PNG, JPEG, TGA, BMP, ...)");
    return false;
  }
  if (w > MaxImageSide || h > MaxImageSide) {
    Problem(label + " is " + std::to_string(w) + " x " + std::to_string(h) + " pixels, more than the " +
            std::to_string(MaxImageSide) + " a side the engine draws");
    return false;
  }
  stbi_uc* pixels = stbi_load_from_memory(data, size, &w, &h, &channels, 0);
  if (pixels == nullptr) {
    const char* why = stbi_failure_reason();
    if (why != nullptr && std::strcmp(why, "outofmem") == 0) throw std::bad_alloc();
    Problem(label + " does not decode (" + (why != nullptr ? why : "broken") + "): truncated or damaged");
    return false;
  }
  stbi_image_free(pixels);
  return true;
}

// Copies the material's base-colour image into the scene's textures, once per
// source image. Returns its file name there; empty for none (or a problem).
std::string Reader::ReadTexture(Scene& scene, const aiMaterial& m, const std::string& materialName) {
  aiString path;
  if (m.GetTexture(aiTextureType_BASE_COLOR, 0, &path) != AI_SUCCESS &&
      m.GetTexture(aiTextureType_DIFFUSE, 0, &path) != AI_SUCCESS) {
    return "";
  }
  const std::string key = path.C_Str();
  auto known = std::find(materialTextureKeys.begin(), materialTextureKeys.end(), key);
  if (known != materialTextureKeys.end()) return scene.Textures[known - materialTextureKeys.begin()].Name;

  Texture texture;
  std::string stem = "Texture";
  std::string extension;
  const aiTexture* embedded = source->GetEmbeddedTexture(path.C_Str());
  if (embedded != nullptr) {
    if (embedded->mHeight != 0) {
      Problem("material \"" + materialName + "\": its embedded image is not in a file format (raw texels)");
      return "";
    }
    texture.Bytes.assign(reinterpret_cast<const char*>(embedded->pcData), embedded->mWidth);
    stem = FileName(materialName, "Texture");
    extension = embedded->achFormatHint;
  } else {
    std::string relative = key;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    // glTF writes file names as URIs: spaces and the like come escaped.
    std::string decoded;
    for (size_t i = 0; i < relative.size(); ++i) {
      if (relative[i] == '%' && i + 2 < relative.size() && std::isxdigit(static_cast<unsigned char>(relative[i + 1])) &&
          std::isxdigit(static_cast<unsigned char>(relative[i + 2]))) {
        decoded += static_cast<char>(std::stoi(relative.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        decoded += relative[i];
      }
    }
    const fs::path folder = fs::path(options.Source).parent_path();
    fs::path file = folder / relative;
    std::error_code error;
    if (!fs::is_regular_file(file, error)) file = folder / decoded;
    if (!fs::is_regular_file(file, error)) {
      Problem("material \"" + materialName + "\": its texture \"" + key + "\" does not exist");
      return "";
    }
    // Links followed: a path inside the tree that leads out is outside.
    const fs::path real = fs::weakly_canonical(file, error), tree = fs::weakly_canonical(folder.empty() ? "." : folder, error);
    const auto [treeEnd, realAt] = std::mismatch(tree.begin(), tree.end(), real.begin(), real.end());
    if (!options.AllowOutsideTextures && treeEnd != tree.end()) {
      Problem("material \"" + materialName + "\": its texture \"" + key + "\" lies outside the source's folder (" +
              real.string() + "); --allow-outside-textures takes it");
      return "";
    }
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    texture.Bytes = bytes.str();
    stem = FileName(file.stem().string(), "Texture");
    extension = file.extension().string();
  }
  if (!CheckImage(texture.Bytes, "material \"" + materialName + "\": its texture \"" + key + "\"")) return "";
  std::string suffix = FileName(extension.empty() ? "png" : extension.substr(extension[0] == '.' ? 1 : 0), "png");
  std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
  std::set<std::string> taken;
  for (const Texture& t : scene.Textures) taken.insert(t.Name);
  texture.Name = Unique(taken, stem + "." + suffix);
  scene.Textures.push_back(texture);
  materialTextureKeys.push_back(key);
  return texture.Name;
}

// Every node, parents before children and siblings in order, as a
// recursive walk would visit them.
void Reader::ReadNodes(Scene& scene) {
  std::vector<std::pair<const aiNode*, glm::mat4>> open = {{source->mRootNode, glm::mat4(1.0f)}};
  while (!open.empty() && result.Problems.empty()) {
    const auto [node, parent] = open.back();
    open.pop_back();
    const glm::mat4 world = parent * ToGlm(node->mTransformation);
    ReadNode(scene, *node, world);
    for (unsigned i = node->mNumChildren; i-- > 0;) open.emplace_back(node->mChildren[i], world);
  }
}

void Reader::ReadNode(Scene& scene, const aiNode& node, const glm::mat4& world) {
  if (node.mNumMeshes > 0) {
    // Position and rotation stay in the Thing's Transform; the node's scale
    // (and any shear) and the turn into engine axes go into the mesh, so
    // that level files hold plain poses and meshes are in engine axes.
    const glm::mat3 a(world);
    glm::vec3 scale(glm::length(a[0]), glm::length(a[1]), glm::length(a[2]));
    const float det = glm::determinant(a);
    if (det < 0.0f) scale.x = -scale.x;
    glm::mat3 rotation = a;
    bool rigid = scale.x != 0.0f && scale.y != 0.0f && scale.z != 0.0f;
    if (rigid) {
      for (int c = 0; c < 3; ++c) rotation[c] /= scale[c];
      const glm::mat3 check = glm::transpose(rotation) * rotation;
      for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r) rigid = rigid && std::abs(check[c][r] - (c == r ? 1.0f : 0.0f)) < 1e-4f;
      }
    }
    Thing thing;
    thing.Name = Unique(thingNames, FileName(node.mName.C_Str(), "Node"));
    glm::mat4 bake = toEngine * world;  // sheared: all of it goes into the mesh
    if (rigid) {
      // toEngine is a turn Q times a uniform scale: Q R Q^-1 is the rotation
      // in engine axes, and the mesh takes toEngine x the node's scale.
      const glm::mat3 turn = glm::mat3(toEngine) / options.Scale;
      const glm::mat3 engineRotation = turn * rotation * glm::transpose(turn);
      thing.Position = glm::vec3(toEngine * world[3]);
      thing.Rotation = glm::normalize(glm::quat_cast(engineRotation));
      thing.World = glm::mat4(engineRotation);
      thing.World[3] = glm::vec4(thing.Position, 1.0f);
      glm::mat4 nodeScale(1.0f);
      for (int c = 0; c < 3; ++c) nodeScale[c][c] = scale[c];
      bake = toEngine * nodeScale;
    }
    if (!InRange(thing.Position)) {
      Problem("node \"" + std::string(node.mName.C_Str()) + "\" lies at (" + Vec(thing.Position) +
              ") after its transforms and --scale, beyond the " + Shown(MaxCoordinate) +
              " units a level takes (a smaller --scale brings it in)");
      return;
    }
    thing.Mesh = MeshFor(scene, node, bake, det < 0.0f, thing.Name);
    if (thing.Mesh >= 0) scene.Things.push_back(thing);
  }
}

int Reader::MeshFor(Scene& scene, const aiNode& node, const glm::mat4& bake, bool mirrored, const std::string& name) {
  std::vector<unsigned> indices(node.mMeshes, node.mMeshes + node.mNumMeshes);
  auto key = std::make_pair(indices, std::vector<float>(glm::value_ptr(bake), glm::value_ptr(bake) + 16));
  auto known = meshByContent.find(key);
  if (known != meshByContent.end()) return known->second;

  Mesh mesh;
  mesh.Name = Unique(meshNames, name);
  const glm::mat3 normalMatrix = glm::transpose(glm::inverse(glm::mat3(bake)));
  for (unsigned index : indices) {
    const aiMesh& m = *source->mMeshes[index];
    if (!(m.mPrimitiveTypes & aiPrimitiveType_TRIANGLE) || m.mNumFaces == 0) continue;
    if (m.mMaterialIndex < scene.Materials.size() && scene.Materials[m.mMaterialIndex].SeeThrough) {
      ++seeThroughParts;
      continue;
    }
    const uint32_t base = static_cast<uint32_t>(mesh.Vertices.size() / 3);
    for (unsigned v = 0; v < m.mNumVertices; ++v) {
      const glm::vec3 p = glm::vec3(bake * glm::vec4(m.mVertices[v].x, m.mVertices[v].y, m.mVertices[v].z, 1.0f));
      // Checked as written: the node's scale and --scale can push finite
      // source numbers past float.
      if (!InRange(p)) {
        Problem("node \"" + std::string(node.mName.C_Str()) + "\": mesh \"" + m.mName.C_Str() + "\" reaches (" +
                Vec(p) + ") after the node's scale and --scale, beyond the " + Shown(MaxCoordinate) +
                " units a level takes (a smaller --scale brings it in)");
        return -1;
      }
      glm::vec3 n(0.0f, 0.0f, 1.0f);
      if (m.mNormals != nullptr) {
        n = normalMatrix * glm::vec3(m.mNormals[v].x, m.mNormals[v].y, m.mNormals[v].z);
        // A scale near zero has no usable inverse: such a normal points up.
        const float length = glm::length(n);
        n = length > 0.0f && std::isfinite(length) ? n / length : glm::vec3(0.0f, 0.0f, 1.0f);
        if (!Finite(n)) n = glm::vec3(0.0f, 0.0f, 1.0f);
      }
      // Image rows load top first, so v runs down the image.
      glm::vec2 uv(0.0f);
      if (m.mTextureCoords[0] != nullptr) uv = glm::vec2(m.mTextureCoords[0][v].x, 1.0f - m.mTextureCoords[0][v].y);
      mesh.Vertices.insert(mesh.Vertices.end(), {p.x, p.y, p.z});
      mesh.Normals.insert(mesh.Normals.end(), {n.x, n.y, n.z});
      mesh.UV1.insert(mesh.UV1.end(), {uv.x, uv.y});
    }
    uint32_t count = 0;
    for (unsigned f = 0; f < m.mNumFaces; ++f) {
      const aiFace& face = m.mFaces[f];
      if (face.mNumIndices != 3) continue;
      // A mirroring matrix turns the winding inside out; swap it back.
      const uint32_t b = face.mIndices[mirrored ? 2 : 1], c = face.mIndices[mirrored ? 1 : 2];
      mesh.Faces.insert(mesh.Faces.end(), {base + face.mIndices[0], base + b, base + c});
      count += 3;
    }
    mesh.SubmeshSizes.push_back(count);
    mesh.Materials.push_back(static_cast<int>(m.mMaterialIndex));
  }
  if (mesh.Faces.empty()) return -1;
  scene.Meshes.push_back(mesh);
  meshByContent[key] = static_cast<int>(scene.Meshes.size() - 1);
  return static_cast<int>(scene.Meshes.size() - 1);
}

// A level holds Thing::MaxLevelThings. Past that the nodes' meshes merge
// into one Thing per material (meshes that never move lose nothing by
// sharing a Thing), and the areas that find no room left go.
void Reader::FitLevel(Scene& scene) {
  const size_t room = static_cast<size_t>(KestorEngine::Thing::MaxLevelThings - FixedThings);
  if (scene.Things.size() > room) {
    const size_t nodes = scene.Things.size();
    MergeThings(scene);
    if (!result.Problems.empty()) return;
    if (scene.Things.size() > room) {
      Problem(std::to_string(nodes) + " nodes of " + std::to_string(scene.Things.size()) +
              " materials: more than the " + std::to_string(room) + " Things a level holds even merged by material");
      return;
    }
    Note(std::to_string(nodes) + " nodes with meshes are more than the " + std::to_string(room) +
         " Things a level holds: their meshes are merged into one Thing per material (" +
         std::to_string(scene.Things.size()) + ")");
  }
  const size_t areaRoom = room - scene.Things.size();
  if (scene.Areas.size() > areaRoom) {
    Note(std::to_string(scene.Areas.size() - areaRoom) + " of the " + std::to_string(scene.Areas.size()) +
         " emissive surfaces get no area light, for want of room in the level; they still glow and light the "
         "scene through the light field");
    scene.Areas.resize(areaRoom);
  }
}

void Reader::MergeThings(Scene& scene) {
  std::map<int, Mesh> byMaterial;
  std::vector<uint32_t> remap;
  for (const Thing& thing : scene.Things) {
    const Mesh& mesh = scene.Meshes[thing.Mesh];
    const glm::mat3 turn(thing.World);
    remap.assign(mesh.Vertices.size() / 3, UINT32_MAX);
    uint32_t first = 0;
    for (size_t sub = 0; sub < mesh.SubmeshSizes.size(); ++sub) {
      Mesh& merged = byMaterial[mesh.Materials[sub]];
      const uint32_t end = first + mesh.SubmeshSizes[sub];
      for (uint32_t f = first; f < end; ++f) {
        const uint32_t i = mesh.Faces[f];
        if (remap[i] == UINT32_MAX) {
          if (merged.Vertices.size() / 3 >= UINT32_MAX - 1) {
            Problem("merged by material, the scene's meshes hold more vertices than a mesh file indexes");
            return;
          }
          const glm::vec3 p = glm::vec3(thing.World * glm::vec4(mesh.Vertices[i * 3], mesh.Vertices[i * 3 + 1],
                                                                 mesh.Vertices[i * 3 + 2], 1.0f));
          const glm::vec3 n = turn * glm::vec3(mesh.Normals[i * 3], mesh.Normals[i * 3 + 1], mesh.Normals[i * 3 + 2]);
          if (!InRange(p)) {
            Problem("node \"" + thing.Name + "\" reaches (" + Vec(p) + "), beyond the " + Shown(MaxCoordinate) +
                    " units a level takes (a smaller --scale brings it in)");
            return;
          }
          remap[i] = static_cast<uint32_t>(merged.Vertices.size() / 3);
          merged.Vertices.insert(merged.Vertices.end(), {p.x, p.y, p.z});
          merged.Normals.insert(merged.Normals.end(), {n.x, n.y, n.z});
          merged.UV1.insert(merged.UV1.end(), {mesh.UV1[i * 2], mesh.UV1[i * 2 + 1]});
        }
        merged.Faces.push_back(remap[i]);
      }
      first = end;
      // The next submesh may share vertices but lands in another mesh.
      if (sub + 1 < mesh.SubmeshSizes.size()) remap.assign(remap.size(), UINT32_MAX);
    }
  }
  scene.Meshes.clear();
  scene.Things.clear();
  for (auto& [material, mesh] : byMaterial) {
    Thing thing;
    thing.Name = Unique(thingNames, "Merged" + scene.Materials[material].Name);
    mesh.Name = Unique(meshNames, thing.Name);
    mesh.SubmeshSizes = {static_cast<uint32_t>(mesh.Faces.size())};
    mesh.Materials = {material};
    thing.Mesh = static_cast<int>(scene.Meshes.size());
    scene.Meshes.push_back(std::move(mesh));
    scene.Things.push_back(thing);
  }
}

// One area per emissive submesh of each Thing: a parallelogram fitted to it
// when it is flat, else a ball around it.
void Reader::ReadAreas(Scene& scene) {
  for (const Thing& thing : scene.Things) {
    const Mesh& mesh = scene.Meshes[thing.Mesh];
    uint32_t first = 0;
    for (size_t s = 0; s < mesh.SubmeshSizes.size(); ++s) {
      const uint32_t end = first + mesh.SubmeshSizes[s];
      const Material& material = scene.Materials[mesh.Materials[s]];
      if (material.Strength <= 0.0f) {
        first = end;
        continue;
      }
      std::vector<glm::vec3> points;
      glm::vec3 weighted(0.0f), shading(0.0f);
      auto at = [&](uint32_t i) {
        return glm::vec3(thing.World * glm::vec4(mesh.Vertices[i * 3], mesh.Vertices[i * 3 + 1], mesh.Vertices[i * 3 + 2], 1.0f));
      };
      for (uint32_t f = first; f < end; f += 3) {
        const glm::vec3 a = at(mesh.Faces[f]), b = at(mesh.Faces[f + 1]), c = at(mesh.Faces[f + 2]);
        weighted += glm::cross(b - a, c - a);
        points.insert(points.end(), {a, b, c});
        for (int k = 0; k < 3; ++k) {
          const uint32_t i = mesh.Faces[f + k];
          shading += glm::mat3(thing.World) * glm::vec3(mesh.Normals[i * 3], mesh.Normals[i * 3 + 1], mesh.Normals[i * 3 + 2]);
        }
      }
      first = end;
      glm::vec3 lo(INFINITY), hi(-INFINITY);
      for (const glm::vec3& p : points) lo = glm::min(lo, p), hi = glm::max(hi, p);
      const glm::vec3 centre = (lo + hi) * 0.5f;
      const float size = glm::length(hi - lo);
      Area area;
      area.Name = Unique(thingNames, thing.Name + "Area");
      bool flat = glm::length(weighted) > 1e-12f;
      glm::vec3 n = flat ? glm::normalize(weighted) : glm::vec3(0.0f);
      // It shines to the side its shading normals face.
      if (flat && glm::dot(shading, n) < 0.0f) n = -n;
      for (const glm::vec3& p : points) flat = flat && std::abs(glm::dot(p - centre, n)) <= 0.01f * size;
      if (flat) {
        const PlaneRectangle r = FitRectangle(points, n);
        area.Position = r.Centre;
        area.Rotation = glm::normalize(glm::quat_cast(glm::mat3(r.U, r.V, -n)));
        area.Scale = glm::vec3(r.HalfU, r.HalfV, 1.0f);
      } else {
        area.Flat = false;
        float radius = 0.0f;
        for (const glm::vec3& p : points) radius = std::max(radius, glm::distance(p, centre));
        area.Position = centre;
        area.Scale = glm::vec3(radius);
      }
      scene.Areas.push_back(area);
    }
  }
  if (static_cast<int>(scene.Areas.size()) > SampledAreas) {
    Note(std::to_string(scene.Areas.size()) + " emissive surfaces: the renderer samples the first " +
         std::to_string(SampledAreas) + " directly, the others light the scene through the light field only");
  }
}

void Reader::ReadCamera(Scene& scene) {
  if (source->mNumCameras > 0) {
    const aiCamera& c = *source->mCameras[0];
    glm::mat4 world(1.0f);
    for (const aiNode* n = source->mRootNode->FindNode(c.mName); n != nullptr; n = n->mParent) {
      world = ToGlm(n->mTransformation) * world;
    }
    world = toEngine * world;
    // Assimp's glTF reader copies the camera node's translation into
    // mPosition as well: the node's transform alone places a glTF camera.
    std::string extension = fs::path(options.Source).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char ch) { return std::tolower(ch); });
    const bool gltf = extension == ".gltf" || extension == ".glb";
    const glm::vec3 local = gltf ? glm::vec3(0.0f) : glm::vec3(c.mPosition.x, c.mPosition.y, c.mPosition.z);
    const glm::vec3 position = glm::vec3(world * glm::vec4(local, 1.0f));
    glm::vec3 look = glm::mat3(world) * glm::vec3(c.mLookAt.x, c.mLookAt.y, c.mLookAt.z);
    const float reach = glm::length(look);
    if (reach > 0.0f && std::isfinite(reach) && InRange(position) && Finite(look)) {
      look = glm::normalize(look);
      View view;
      view.Position = position;
      view.Yaw = glm::degrees(std::atan2(look.x, look.y));
      view.Pitch = glm::degrees(std::asin(std::clamp(look.z, -1.0f, 1.0f)));
      const float aspect = c.mAspect > 0.0f ? c.mAspect : 1.0f;
      if (c.mHorizontalFOV > 0.0f && c.mOrthographicWidth == 0.0f) {
        // Assimp 5.2 gives glTF's vertical angle times the aspect ratio;
        // other readers half the horizontal angle, as documented.
        const float vertical = gltf ? c.mHorizontalFOV / aspect : 2.0f * std::atan(std::tan(c.mHorizontalFOV) / aspect);
        const float degrees = glm::degrees(vertical);
        // Outside what the engine takes, the engine's own view angle stands.
        if (degrees >= 1.0f && degrees <= 179.0f) {
          view.FieldOfView = degrees;
        } else {
          Note("camera \"" + std::string(c.mName.C_Str()) + "\": its field of view (" + Shown(degrees) +
               " degrees) is outside 1 to 179, the engine's own is kept");
        }
      }
      scene.Camera = view;
      scene.CameraFrom = "the source's camera";
      return;
    }
    Note("camera \"" + std::string(c.mName.C_Str()) + "\" skipped: it has no usable position or direction");
  }
  View view;
  if (options.CameraPosition) {
    view.Position = *options.CameraPosition;
    view.Yaw = options.CameraYaw;
    view.Pitch = options.CameraPitch;
    view.FieldOfView = options.FieldOfView.value_or(0.0f);
    scene.CameraFrom = "the camera given";
  } else {
    // Nothing says where to look: from the front (-Y), a little above, far
    // enough back that the scene's bounding sphere fits a 60 degree view.
    const glm::vec3 centre = (scene.BoundsMin + scene.BoundsMax) * 0.5f;
    const float radius = std::max(glm::length(scene.BoundsMax - scene.BoundsMin) * 0.5f, 1e-3f);
    view.Pitch = -15.0f;
    view.FieldOfView = 60.0f;
    const glm::vec3 look(0.0f, std::cos(glm::radians(view.Pitch)), std::sin(glm::radians(view.Pitch)));
    view.Position = centre - look * (radius / std::sin(glm::radians(view.FieldOfView * 0.5f)));
    scene.CameraFrom = "a camera that sees the whole scene";
  }
  scene.Camera = view;
}

// A box around everything, a voxel and a half or more of room on each side,
// cut into cubic voxels: Voxels of them along the longest side.
void Reader::FitField(Scene& scene) {
  for (const Thing& thing : scene.Things) {
    const Mesh& mesh = scene.Meshes[thing.Mesh];
    for (size_t i = 0; i + 2 < mesh.Vertices.size(); i += 3) {
      const glm::vec3 p = glm::vec3(thing.World * glm::vec4(mesh.Vertices[i], mesh.Vertices[i + 1], mesh.Vertices[i + 2], 1.0f));
      scene.BoundsMin = glm::min(scene.BoundsMin, p);
      scene.BoundsMax = glm::max(scene.BoundsMax, p);
    }
  }
  const glm::vec3 extent = scene.BoundsMax - scene.BoundsMin;
  const float longest = std::max({extent.x, extent.y, extent.z, 1e-3f});
  const int voxels = std::max(4, options.Voxels);
  // Three voxels of room along the longest side, then every axis is rounded
  // up to whole groups of four voxels. The room is shared so that neither
  // side's is a whole number of voxels: the scene's bounds (a ground plane,
  // the walls of a room) then lie within voxels, not on their faces.
  const float voxel = longest / static_cast<float>(voxels - 3);
  for (int axis = 0; axis < 3; ++axis) {
    const float inVoxels = extent[axis] / voxel;
    int count = static_cast<int>(std::ceil(inVoxels + 3.0f));
    count = std::max(4, (count + 3) / 4 * 4);
    const float room = static_cast<float>(count) - inVoxels;
    float part = room - std::floor(room);
    if (part < 0.5f) part += 1.0f;
    const float below = std::floor((room - part) * 0.5f) + part * 0.5f;
    scene.FieldResolution[axis] = count;
    scene.FieldHalf[axis] = count * voxel * 0.5f;
    scene.FieldCentre[axis] = scene.BoundsMin[axis] + (static_cast<float>(count) * 0.5f - below) * voxel;
  }
  // The camera's far plane (300 units) ends the view, and the fly speed is
  // a few units a second: a scene hundreds of units across was most likely
  // modelled in centimetres or millimetres.
  if (longest > 100.0f) {
    Note("the scene is " + std::to_string(static_cast<int>(longest)) +
         " units across while the engine's camera sees 300 units far and flies 3 a second; if its unit is "
         "the centimetre or the millimetre, import it with --scale 0.01 or --scale 0.001");
  }
}

// CascadeLevels of LevelVoxels each, the finest of VoxelSize. The extent
// that counts is the scene's and the start camera's (which often stands
// outside it, and the levels follow the camera). The field's box stays
// fitted to the scene: a cascaded field places nothing by it, but it tells
// a reader where the scene is.
void Reader::CascadeField(Scene& scene) {
  const glm::vec3 eye = scene.Camera ? scene.Camera->Position : scene.BoundsMin;
  const glm::vec3 lo = glm::min(scene.BoundsMin, eye), hi = glm::max(scene.BoundsMax, eye);
  const glm::vec3 extent = hi - lo;
  const float longest = std::max({extent.x, extent.y, extent.z, 1e-3f});
  const glm::ivec3 voxels = KestorEngine::Cascade::LevelVoxels(glm::vec3(static_cast<float>(options.LevelVoxels)));
  scene.FieldResolution = voxels;
  scene.FieldVoxelSize = options.VoxelSize;
  scene.FieldLevels = options.CascadeLevels;
  const int needed = KestorEngine::Cascade::LevelsFor(longest, options.VoxelSize, voxels.x);
  if (needed <= scene.FieldLevels) return;
  const auto reach = [&](int levels) {
    const double metres = static_cast<double>(options.VoxelSize) * voxels.x * std::pow(2.0, levels - 1);
    return std::to_string(static_cast<long long>(metres)) + " m";
  };
  Note("the light field's " + std::to_string(scene.FieldLevels) + " levels reach " + reach(scene.FieldLevels) +
       ", less than twice the scene's " + std::to_string(static_cast<int>(longest)) +
       " m: far parts of it see the sky beyond the last level (--levels " + std::to_string(needed) + " reach " +
       reach(needed) + ")");
}

// ---- The engine's file texts ------------------------------------------------

std::string MeshText(const Mesh& mesh) {
  std::string out = "<Mesh>\n  <Base>\n    <Vertices>";
  auto list = [&out](const std::vector<float>& values) {
    for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + Number(values[i]);
  };
  list(mesh.Vertices);
  out += "</Vertices>\n    <Normals>";
  list(mesh.Normals);
  out += "</Normals>\n    <UV1>";
  list(mesh.UV1);
  out += "</UV1>\n";
  uint32_t first = 0;
  for (uint32_t size : mesh.SubmeshSizes) {
    out += "    <Faces>";
    for (uint32_t i = first; i < first + size; ++i) out += (i > first ? "," : "") + std::to_string(mesh.Faces[i]);
    out += "</Faces>\n";
    first += size;
  }
  out += "  </Base>\n</Mesh>\n";
  return out;
}

std::string XmlText(tinyxml2::XMLDocument& document) {
  tinyxml2::XMLPrinter printer;
  document.Print(&printer);
  return printer.CStr();
}

std::string MaterialText(const Material& m, const std::string& scene, const std::string& sourceName) {
  tinyxml2::XMLDocument document;
  document.InsertEndChild(document.NewDeclaration());
  document.InsertEndChild(document.NewComment((" Imported from " + sourceName + " by KestorImport. ").c_str()));
  tinyxml2::XMLElement* material = document.NewElement("Material");
  material->SetAttribute("Shader", "Standard");
  tinyxml2::XMLElement* settings = material->InsertNewChildElement("Settings");
  settings->SetAttribute("Color", Vec(m.Color).c_str());
  settings->SetAttribute("Roughness", Number(m.Roughness).c_str());
  settings->SetAttribute("Metallic", Number(m.Metallic).c_str());
  settings->SetAttribute("EmissionColor", Vec(m.EmissionColor).c_str());
  settings->SetAttribute("Strength", Number(m.Strength).c_str());
  if (!m.Texture.empty()) settings->SetAttribute("AlbedoMap", (scene + "/" + m.Texture).c_str());
  document.InsertEndChild(material);
  return XmlText(document);
}

std::string Rotation(const glm::quat& q) {
  return Number(q.w) + "," + Number(q.x) + "," + Number(q.y) + "," + Number(q.z);
}

std::string LevelText(const Scene& s, const std::string& name, const std::string& sourceName, bool withSky) {
  tinyxml2::XMLDocument document;
  document.InsertEndChild(document.NewDeclaration());
  const std::string comment = "\n  Imported from " + sourceName + " by KestorImport: Z up, metres. Its meshes,\n"
                              "  materials and textures are in the folders \"" + name + "\" beside this level's.\n";
  document.InsertEndChild(document.NewComment(comment.c_str()));
  tinyxml2::XMLElement* things = document.InsertEndChild(document.NewElement("Level"))->ToElement()->InsertNewChildElement("Things");
  auto thing = [&](const std::string& thingName) {
    tinyxml2::XMLElement* t = things->InsertNewChildElement("Thing");
    t->SetAttribute("Name", thingName.c_str());
    return t;
  };
  auto transform = [](tinyxml2::XMLElement* t, glm::vec3 position, const glm::quat& rotation, glm::vec3 scale) {
    tinyxml2::XMLElement* x = t->InsertNewChildElement("Transform");
    x->SetAttribute("Position", Vec(position).c_str());
    x->SetAttribute("Rotation", Rotation(rotation).c_str());
    x->SetAttribute("Scale", Vec(scale).c_str());
  };
  const glm::quat identity(1.0f, 0.0f, 0.0f, 0.0f);

  tinyxml2::XMLElement* field = thing("LightVolume");
  transform(field, s.FieldCentre, identity, s.FieldHalf);
  field->InsertNewChildElement("LightField")
      ->SetAttribute("Resolution", (std::to_string(s.FieldResolution.x) + "," + std::to_string(s.FieldResolution.y) +
                                    "," + std::to_string(s.FieldResolution.z))
                                       .c_str());
  if (s.FieldVoxelSize > 0.0f) {
    tinyxml2::XMLElement* lightField = field->FirstChildElement("LightField");
    lightField->SetAttribute("VoxelSize", Number(s.FieldVoxelSize).c_str());
    lightField->SetAttribute("Levels", s.FieldLevels);
  }
  if (withSky) {
    // Daylight in the engine's radiance unit: a sky of about 1, and an
    // afternoon sun behind the camera's right shoulder giving some 3 of
    // irradiance (40000 over the disc's 6.7e-5 steradians).
    tinyxml2::XMLElement* sky = thing("Sky")->InsertNewChildElement("Sky");
    sky->SetAttribute("ZenithColor", "0.3,0.45,0.8");
    sky->SetAttribute("HorizonColor", "0.75,0.8,0.85");
    sky->SetAttribute("GroundColor", "0.12,0.11,0.1");
    sky->SetAttribute("SkyStrength", "1");
    sky->SetAttribute("SunDirection", "0.4,-0.6,0.7");
    sky->SetAttribute("SunColor", "1,0.95,0.85");
    sky->SetAttribute("SunStrength", "40000");
    sky->SetAttribute("SunAngle", "0.53");
  } else {
    // Darkness said in so many words: the engine gives a level without a
    // Sky its default daylight.
    tinyxml2::XMLElement* sky = thing("Sky")->InsertNewChildElement("Sky");
    sky->SetAttribute("SkyStrength", "0");
    sky->SetAttribute("SunStrength", "0");
  }
  if (s.Camera) {
    tinyxml2::XMLElement* view = thing("Camera")->InsertNewChildElement("Viewpoint");
    view->SetAttribute("Position", Vec(s.Camera->Position).c_str());
    view->SetAttribute("Yaw", Number(s.Camera->Yaw).c_str());
    view->SetAttribute("Pitch", Number(s.Camera->Pitch).c_str());
    if (s.Camera->FieldOfView > 0.0f) view->SetAttribute("FieldOfView", Number(s.Camera->FieldOfView).c_str());
  }
  for (const Thing& t : s.Things) {
    tinyxml2::XMLElement* element = thing(t.Name);
    transform(element, t.Position, t.Rotation, glm::vec3(1.0f));
    const Mesh& mesh = s.Meshes[t.Mesh];
    std::string materials;
    for (int m : mesh.Materials) materials += (materials.empty() ? "" : ",") + name + "/" + s.Materials[m].Name;
    tinyxml2::XMLElement* renderer = element->InsertNewChildElement("MeshRenderer");
    renderer->SetAttribute("Mesh", (name + "/" + mesh.Name).c_str());
    renderer->SetAttribute("Materials", materials.c_str());
    renderer->SetAttribute("Visible", "True");
    renderer->SetAttribute("ShadowCast", "True");
    renderer->SetAttribute("BounceCast", "True");
  }
  for (const Area& a : s.Areas) {
    tinyxml2::XMLElement* element = thing(a.Name);
    transform(element, a.Position, a.Rotation, a.Scale);
    tinyxml2::XMLElement* area = element->InsertNewChildElement("ISArea");
    area->SetAttribute("Type", a.Flat ? "2" : "0");
    area->SetAttribute("Samples", "4");
  }
  return XmlText(document);
}

// ---- Staging the files ------------------------------------------------------

// Writes `text` at `path`; with an empty `path` the text is only made
// (CheckScene), so the checks run on exactly what would be written.
bool WriteFile(const fs::path& path, const std::string& text, std::string& problem) {
  if (path.empty()) return true;
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) problem = "cannot write " + path.string();
  return static_cast<bool>(out);
}

// Every file of the import under `root` (OUT's staging folder; empty for
// none): the level at Levels/NAME.xml, the rest in `version` folders.
bool StageFiles(const Scene& scene, const ImportOptions& options, const std::string& name, const std::string& version,
                const fs::path& root, ImportResult& result) {
  auto at = [&](const fs::path& relative) { return root.empty() ? fs::path() : root / relative; };
  const std::string sourceName = fs::path(options.Source).filename().string();
  std::string problem;
  bool ok = WriteFile(at(fs::path("Levels") / (name + ".xml")), LevelText(scene, version, sourceName, options.Sky), problem);
  for (size_t i = 0; ok && i < scene.Meshes.size(); ++i) {
    ok = WriteFile(at(fs::path("Meshes") / version / (scene.Meshes[i].Name + ".fml")), MeshText(scene.Meshes[i]), problem);
  }
  // Only the materials some mesh uses (OBJ files get a default one besides).
  std::set<int> used;
  for (const Mesh& mesh : scene.Meshes) used.insert(mesh.Materials.begin(), mesh.Materials.end());
  for (auto i = used.begin(); ok && i != used.end(); ++i) {
    ok = WriteFile(at(fs::path("Materials") / version / (scene.Materials[*i].Name + ".xml")),
                   MaterialText(scene.Materials[*i], version, sourceName), problem);
  }
  for (size_t i = 0; ok && i < scene.Textures.size(); ++i) {
    ok = WriteFile(at(fs::path("Textures") / version / scene.Textures[i].Name), scene.Textures[i].Bytes, problem);
  }
  if (!ok) {
    result.Problems.push_back(problem);
    return false;
  }
  result.Things = static_cast<int>(scene.Things.size());
  result.Meshes = static_cast<int>(scene.Meshes.size());
  result.Materials = static_cast<int>(used.size());
  result.Textures = static_cast<int>(scene.Textures.size());
  result.Areas = static_cast<int>(scene.Areas.size());
  result.Camera = scene.CameraFrom;
  result.Ok = true;
  return true;
}

std::string LevelName(const ImportOptions& options) {
  return FileName(options.Name.empty() ? fs::path(options.Source).stem().string() : options.Name, "Scene");
}

// What a caller other than the command line (which checks them itself) may
// hand in wrongly.
bool CheckOptions(const ImportOptions& o, ImportResult& result) {
  auto refuse = [&](const std::string& line) {
    result.Problems.push_back("KestorImport: " + line);
    return false;
  };
  if (!(o.Scale >= MinScale && o.Scale <= MaxScale)) {
    return refuse("the scale must lie between " + Shown(MinScale) + " and " + Shown(MaxScale) + ", not " + Shown(o.Scale));
  }
  if (o.Voxels < 8 || o.Voxels > 512) return refuse("the voxel count must lie between 8 and 512");
  if (o.VoxelSize != 0.0f && !(o.VoxelSize >= MinVoxelSize && o.VoxelSize <= MaxVoxelSize)) {
    return refuse("the voxel size must lie between " + Shown(MinVoxelSize) + " and " + Shown(MaxVoxelSize) +
                  " metres, not " + Shown(o.VoxelSize));
  }
  if (o.VoxelSize > 0.0f && (o.LevelVoxels < 32 || o.LevelVoxels > KestorEngine::Cascade::MaxVoxels)) {
    return refuse("a cascaded field's levels need 32 to " + std::to_string(KestorEngine::Cascade::MaxVoxels) +
                  " voxels a side");
  }
  if (o.VoxelSize > 0.0f && (o.CascadeLevels < 1 || o.CascadeLevels > KestorEngine::Cascade::MaxLevels)) {
    return refuse("a cascaded field has 1 to " + std::to_string(KestorEngine::Cascade::MaxLevels) + " levels");
  }
  if (o.CameraPosition && (!InRange(*o.CameraPosition) || !std::isfinite(o.CameraYaw) || !(std::abs(o.CameraPitch) <= 90.0f))) {
    return refuse("the camera needs a position within " + Shown(MaxCoordinate) + ", a yaw and a pitch within 90 degrees");
  }
  if (o.FieldOfView && !(*o.FieldOfView >= 1.0f && *o.FieldOfView <= 179.0f)) {
    return refuse("the field of view must lie between 1 and 179 degrees, not " + Shown(*o.FieldOfView));
  }
  if (o.MemoryLimitMiB < 16 || !(o.TimeLimitSeconds > 0.0 && o.TimeLimitSeconds <= 86400.0)) {
    return refuse("the limits need 16 MiB or more and 1 to 86400 seconds");
  }
  return true;
}

// The reading child's report to the caller, one item a line.
std::string Encode(const ImportResult& r) {
  std::string text;
  auto line = [&](char tag, std::string value) {
    std::replace(value.begin(), value.end(), '\n', ' ');
    text += std::string(1, tag) + value + "\n";
  };
  for (const std::string& p : r.Problems) line('P', p);
  for (const std::string& n : r.Notes) line('N', n);
  line('C', r.Camera);
  line('K', std::to_string(r.Things) + " " + std::to_string(r.Meshes) + " " + std::to_string(r.Materials) + " " +
                std::to_string(r.Textures) + " " + std::to_string(r.Areas) + " " + (r.Ok ? "1" : "0"));
  return text;
}

void Decode(const std::string& text, ImportResult& r) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    const std::string value = line.substr(1);
    if (line[0] == 'P') r.Problems.push_back(value);
    if (line[0] == 'N') r.Notes.push_back(value);
    if (line[0] == 'C') r.Camera = value;
    if (line[0] == 'K') {
      int ok = 0;
      std::istringstream(value) >> r.Things >> r.Meshes >> r.Materials >> r.Textures >> r.Areas >> ok;
      r.Ok = ok == 1;
    }
  }
}

// The child's line when it ended without its report.
std::string WhyUnread(const ChildOutcome& outcome, const ImportOptions& options) {
  switch (outcome.Ended) {
    case ChildOutcome::End::OutOfMemory:
      return "reading it needs more than the " + std::to_string(options.MemoryLimitMiB) +
             " MiB of memory allowed (--max-memory)";
    case ChildOutcome::End::OutOfTime:
      return "reading it takes longer than the " + Shown(static_cast<float>(options.TimeLimitSeconds)) +
             " seconds allowed (--max-seconds)";
    case ChildOutcome::End::Crashed:
      return "the scene reader crashed on it" +
             (outcome.Signal != 0 ? " (signal " + std::to_string(outcome.Signal) + ")" : std::string()) +
             "; the file is broken or beyond what the reader handles";
    default:
      return "cannot start a process to read it: " + std::string(std::strerror(errno));
  }
}

}  // namespace

// ---- The whole import ---------------------------------------------------------

PlaneRectangle FitRectangle(const std::vector<glm::vec3>& points, glm::vec3 normal) {
  PlaneRectangle best;
  if (points.empty()) return best;
  const glm::vec3 n = glm::normalize(normal);
  float bestArea = INFINITY, bestScore = -INFINITY;
  // The smallest box of a convex outline lies along one of its edges; the
  // triangles' edges include the outline's.
  const size_t edges = std::min<size_t>(points.size(), 768);
  for (size_t i = 0; i < edges * 2; ++i) {
    const size_t from = i / 2, next = (from / 3) * 3 + (from % 3 + 1) % 3;
    if (next >= points.size()) continue;
    const glm::vec3 e = points[next] - points[from];
    glm::vec3 u = e - n * glm::dot(e, n);
    if (glm::length(u) < 1e-9f) continue;
    u = glm::normalize(i % 2 == 0 ? u : -u);
    const glm::vec3 v = glm::cross(u, n);
    glm::vec2 lo(INFINITY), hi(-INFINITY);
    for (const glm::vec3& p : points) {
      const glm::vec2 q(glm::dot(p, u), glm::dot(p, v));
      lo = glm::min(lo, q);
      hi = glm::max(hi, q);
    }
    const float area = (hi.x - lo.x) * (hi.y - lo.y);
    // Among equal fits, the one whose first axis lies closest to world +X,
    // then +Y: an axis-aligned light keeps an unturned area.
    const float score = u.x * 4.0f + u.y * 2.0f + u.z;
    const bool tie = std::abs(area - bestArea) <= 1e-5f * std::max(area, 1e-12f);
    if (tie ? score > bestScore : area < bestArea) {
      bestArea = area;
      bestScore = score;
      const float depth = glm::dot(points[0], n);
      best.U = u;
      best.V = v;
      best.HalfU = (hi.x - lo.x) * 0.5f;
      best.HalfV = (hi.y - lo.y) * 0.5f;
      best.Centre = u * ((lo.x + hi.x) * 0.5f) + v * ((lo.y + hi.y) * 0.5f) + n * depth;
    }
  }
  return best;
}

ImportResult ImportScene(const ImportOptions& options) {
  ImportResult result;
  if (!CheckOptions(options, result)) return result;
  const fs::path out = options.OutDir;
  std::error_code error;
  if (!fs::is_directory(out, error)) {
    result.Problems.push_back(options.OutDir + ": no such folder to write the scene into");
    return result;
  }
  const std::string name = LevelName(options);
  const ImportFolder folder(out, name);
  folder.RemoveLeftovers();
  const std::string version = folder.FreshVersion();
  const fs::path staging = folder.Staging();
  fs::remove_all(staging, error);

  // The child reads and stages; only the switch happens here.
  const ChildOutcome outcome = RunInChild({options.MemoryLimitMiB, options.TimeLimitSeconds}, [&](std::string& report) {
    ImportResult staged;
    Scene scene;
    Reader reader(options, staged);
    if (reader.Read(scene)) StageFiles(scene, options, name, version, staging, staged);
    report = Encode(staged);
    return 0;
  });
  if (outcome.Ended == ChildOutcome::End::Done) {
    Decode(outcome.Output, result);
  } else {
    result.Problems.push_back(options.Source + ": " + WhyUnread(outcome, options));
  }
  std::string problem;
  if (result.Ok && !folder.Commit(version, problem)) {
    result.Ok = false;
    result.Problems.push_back(problem);
  }
  fs::remove_all(staging, error);
  if (result.Ok) result.LevelPath = (out / "Levels" / (name + ".xml")).lexically_normal().string();
  return result;
}

ImportResult CheckScene(const ImportOptions& options) {
  ImportResult result;
  if (!CheckOptions(options, result)) return result;
  try {
    Scene scene;
    Reader reader(options, result);
    if (reader.Read(scene)) StageFiles(scene, options, LevelName(options), LevelName(options), fs::path(), result);
  } catch (const std::bad_alloc&) {
    result.Ok = false;
    result.Problems.push_back(options.Source + ": reading it needs more memory than there is");
  }
  return result;
}

}  // namespace KestorTools
