// Feeds mutated scene files through the importer's whole reading: the
// checks before the library, the library's parse, every number checked and
// every file's text made (nothing is written). The first byte picks what
// the rest is: 0 an OBJ (beside a fixed MTL), 1 an MTL (beside a fixed
// OBJ that uses it), 2 a glTF, 3 a binary glTF. A crash, a sanitizer report
// or an allocation past the fuzzer's limit is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "SceneImport.h"

namespace {

std::string& Folder() {
  static std::string dir;
  return dir;
}

void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(Folder(), ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A 1 x 1 PNG, so that texture paths lead to a real image.
const unsigned char Pixel[] = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
                               0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
                               0x00, 0x90, 0x77, 0x53, 0xde, 0x00, 0x00, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54, 0x08,
                               0xd7, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x18, 0xdd, 0x8d,
                               0xb0, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestor-import-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  Folder() = pattern + "/";
  std::atexit(RemoveFolder);
  WriteFile(Folder() + "pixel.png", std::string(reinterpret_cast<const char*>(Pixel), sizeof Pixel));
  WriteFile(Folder() + "fixed.obj", "mtllib scene.mtl\no A\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl A\nf 1 2 3\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  KestorTools::ImportOptions options;
  options.Voxels = 16;
  switch (data[0] % 4) {
    case 0:
      WriteFile(Folder() + "scene.mtl", "newmtl A\nKd 1 1 1\nmap_Kd pixel.png\n");
      WriteFile(Folder() + "scene.obj", rest);
      options.Source = Folder() + "scene.obj";
      break;
    case 1:
      WriteFile(Folder() + "scene.mtl", rest);
      std::filesystem::copy_file(Folder() + "fixed.obj", Folder() + "scene.obj",
                                 std::filesystem::copy_options::overwrite_existing);
      options.Source = Folder() + "scene.obj";
      break;
    case 2:
      WriteFile(Folder() + "scene.gltf", rest);
      options.Source = Folder() + "scene.gltf";
      break;
    default:
      WriteFile(Folder() + "scene.glb", rest);
      options.Source = Folder() + "scene.glb";
      break;
  }
  const KestorTools::ImportResult result = KestorTools::CheckScene(options);
  return result.Ok && result.Things < 0 ? -1 : 0;
}
