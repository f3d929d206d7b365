#include "engine/File.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace KestorEngine {

namespace {

std::string FindExecutableDirectory() {
  std::string executable = File::find_executable();
  if (executable.empty()) {
    // Without it the assets cannot be found beside the program; the working
    // directory is the next best guess.
    std::cerr << "Could not find the running executable; looking for CompiledAssets in the "
                 "working directory\n";
    return ".";
  }
  return File::GetDirectory(executable);
}

// Beside the program (the build tree), else where an installation puts them
// for <prefix>/bin/<program>: <prefix>/share/KestorEngine/CompiledAssets.
std::string FindAssets(const std::string& executablePath) {
  const std::string beside = executablePath + "CompiledAssets" + File::PathSeparator;
  std::error_code error;
  if (std::filesystem::is_directory(beside, error)) return beside;
  const std::filesystem::path installed =
      std::filesystem::path(executablePath + "..") / "share" / "KestorEngine" / "CompiledAssets";
  if (std::filesystem::is_directory(installed, error)) {
    return installed.lexically_normal().string() + File::PathSeparator;
  }
  return beside;
}

}  // namespace

std::string File::ExecutablePath = FindExecutableDirectory() + File::PathSeparator;
std::string File::AssetsPath = FindAssets(File::ExecutablePath);
std::string File::SceneAssetsPath;

std::string File::Find(const std::string& folder, const std::string& file) {
  if (!SceneAssetsPath.empty()) {
    std::string own = SceneAssetsPath + folder + PathSeparator + file;
    std::error_code error;
    if (std::filesystem::is_regular_file(own, error)) return own;
    ReportBorrowed(folder, file);
  }
  return AssetsPath + folder + PathSeparator + file;
}

void File::ReportBorrowed(const std::string& folder, const std::string& file) {
  // A scene's meshes, materials and textures sit in a folder of its own
  // ("Scene/Floor"); shaders, and files named without a folder, are the
  // engine's to share.
  const size_t slash = file.find_first_of("/\\");
  if (slash == std::string::npos || (folder != "Meshes" && folder != "Materials" && folder != "Textures")) return;
  static std::set<std::string> reported;
  const std::string sub = file.substr(0, slash);
  if (!reported.insert(SceneAssetsPath + folder + PathSeparator + sub).second) return;
  std::cout << SceneAssetsPath << folder << PathSeparator << file << ": not found beside the level, taking "
            << AssetsPath << folder << PathSeparator << file << " (and so for the rest of \"" << sub << "\")"
            << std::endl;
}

bool File::WriteWhole(const std::string& path, const std::string& bytes, std::string& problem) {
  const std::string temporary = path + ".writing";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      problem = std::strerror(errno);
      return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      problem = "the write did not complete";
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    problem = error.message();
    std::filesystem::remove(temporary, error);
    return false;
  }
  return true;
}

#ifdef _WIN32
std::string File::find_executable() {
  char buffer[512];
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  if (length == 0 || length >= sizeof(buffer)) return "";
  return std::string(buffer, length);
}
#else
std::string File::find_executable() {
  // readlink neither terminates the text nor says whether it was cut short,
  // so grow the buffer until the link fits with room to spare.
  std::vector<char> buffer(512);
  while (buffer.size() <= 65536) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "";
    if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
  return "";
}
#endif

std::string File::GetDirectory(const std::string& path) {
  size_t last = path.find_last_of("/\\");
  if (last == std::string::npos) return path;
  return path.substr(0, last);
}

}  // namespace KestorEngine
