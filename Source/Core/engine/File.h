#pragma once
#include <string>

namespace KestorEngine {

// Where the program's files live. Every asset loader builds its path as
// AssetsPath + folder + PathSeparator + name + extension.
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
  // ExecutablePath + "CompiledAssets" + PathSeparator. Tests point it at a
  // scratch folder to load files of their own.
  static std::string AssetsPath;

  // Full path of the running executable; empty when the system cannot say.
  static std::string find_executable();
  // The path up to, not including, its last "/" or "\"; the whole path when
  // it has neither.
  static std::string GetDirectory(const std::string& path);
};

}  // namespace KestorEngine
