#pragma once
// Where an import called NAME lives in an asset folder OUT, and how a new
// one replaces it in a single step. Its files sit in one version folder per
// kind, OUT/Meshes/V, OUT/Materials/V and OUT/Textures/V, where V is NAME
// or NAME@2, NAME@3, ...; the level OUT/Levels/NAME.xml names V in every
// mesh and material. A new import goes into a version no level names, then
// its level is renamed over the old one: the one step that switches. A
// kill at any instant leaves the old import or the new one whole; what it
// leaves besides the next import of NAME removes (a version no level
// names), or the next import of any name into OUT (a staging folder whose
// process is gone).
#include <filesystem>
#include <functional>
#include <string>

namespace KestorTools {

class ImportFolder {
 public:
  ImportFolder(std::filesystem::path out, std::string name);

  // Removes the staging folders of processes that are gone and the
  // versions of NAME that its level does not name.
  void RemoveLeftovers() const;
  // A version that no folder of OUT holds yet.
  std::string FreshVersion() const;

  // This process's staging folder, inside OUT so that every move stays on
  // one file system: the new files go to Staging()/Meshes/V and so on, the
  // level to Staging()/Levels/NAME.xml.
  std::filesystem::path Staging() const;

  // Moves the staged version in and switches the level. On failure before
  // the switch, OUT keeps the old import and `problem` says why.
  bool Commit(const std::string& version, std::string& problem) const;

  // Called after each step of Commit with its number (1 to 3: folders
  // moved, level switched, old version removed); tests stop the process
  // there.
  static inline std::function<void(int)> AfterCommitStep;

 private:
  std::filesystem::path out;
  std::string name;
};

}  // namespace KestorTools
