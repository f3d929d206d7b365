#pragma once
#include <string>

namespace KestorEngine {

// Where the program's files live. Every asset loader finds its file with
// Find(folder, name + extension): in SceneAssetsPath first when one is set,
// else AssetsPath + folder + PathSeparator + name + extension.
class File {
 public:
#ifdef _WIN32
  static constexpr char PathSeparator = '\\';
#else
  static constexpr char PathSeparator = '/';
#endif

  // Folder of the running executable, ending in PathSeparator. Computed
  // once at start-up.
  static std::string ExecutablePath;
  // ExecutablePath + "CompiledAssets" + PathSeparator; for an installed
  // program whose folder has none, <prefix>/share/KestorEngine/CompiledAssets
  // (the program in <prefix>/bin). Tests point it at a scratch folder to
  // load files of their own.
  static std::string AssetsPath;
  // Asset folder of a level loaded from a path (a user's own scene), ending
  // in PathSeparator; empty when none. Its files are found before the
  // engine's own, so a scene brings its meshes, materials and textures while
  // shaders and fonts still come from AssetsPath.
  static std::string SceneAssetsPath;

  // The path of `file` (a name with its extension, possibly with subfolders)
  // in the asset `folder`: under SceneAssetsPath when it exists there, else
  // under AssetsPath, whether or not it exists. A scene's mesh, material or
  // texture taken from AssetsPath so is said once per folder of the scene's.
  static std::string Find(const std::string& folder, const std::string& file);

  // Writes `bytes` to `path` through a temporary file beside it, renamed
  // into place once complete: a failed write leaves neither a partial file
  // nor the temporary one. On failure `problem` says why.
  static bool WriteWhole(const std::string& path, const std::string& bytes, std::string& problem);

  // Full path of the running executable; empty when the system cannot say.
  static std::string find_executable();
  // The path up to, not including, its last "/" or "\"; the whole path when
  // it has neither.
  static std::string GetDirectory(const std::string& path);

 private:
  static void ReportBorrowed(const std::string& folder, const std::string& file);
};

}  // namespace KestorEngine
