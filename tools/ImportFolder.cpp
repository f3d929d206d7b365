#include "ImportFolder.h"

#include <signal.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>
#include <vector>

namespace KestorTools {

namespace {

namespace fs = std::filesystem;

const char* const Kinds[] = {"Meshes", "Materials", "Textures"};
const char* const StagingPrefix = ".KestorImport-";

bool IsVersionOf(const std::string& entry, const std::string& name) {
  if (entry == name) return true;
  if (entry.size() <= name.size() + 1 || entry.compare(0, name.size() + 1, name + "@") != 0) return false;
  return entry.find_first_not_of("0123456789", name.size() + 1) == std::string::npos;
}

// The version folders a level names (the part before "/" of each mesh and
// material); false when the level exists but cannot be read, so that
// nothing it may name is removed.
bool NamedVersions(const fs::path& level, std::set<std::string>& versions) {
  std::error_code error;
  if (!fs::exists(level, error)) return true;
  tinyxml2::XMLDocument document;
  if (document.LoadFile(level.c_str()) != tinyxml2::XML_SUCCESS) return false;
  const tinyxml2::XMLElement* root = document.FirstChildElement("Level");
  const tinyxml2::XMLElement* things = root != nullptr ? root->FirstChildElement("Things") : nullptr;
  if (things == nullptr) return false;
  for (const tinyxml2::XMLElement* thing = things->FirstChildElement(); thing != nullptr;
       thing = thing->NextSiblingElement()) {
    const tinyxml2::XMLElement* renderer = thing->FirstChildElement("MeshRenderer");
    if (renderer == nullptr) continue;
    for (const char* key : {"Mesh", "Materials"}) {
      const std::string value = renderer->Attribute(key) != nullptr ? renderer->Attribute(key) : "";
      size_t start = 0;
      while (start < value.size()) {
        const size_t comma = value.find(',', start), slash = value.find('/', start);
        if (slash < comma) versions.insert(value.substr(start, slash - start));
        start = comma == std::string::npos ? value.size() : comma + 1;
      }
    }
  }
  return true;
}

// A staging folder's process id, or 0 when the entry is no staging folder.
pid_t StagingProcess(const std::string& entry) {
  if (entry.rfind(StagingPrefix, 0) != 0) return 0;
  const size_t dash = entry.rfind('-');
  if (dash == std::string::npos || dash + 1 >= entry.size() ||
      entry.find_first_not_of("0123456789", dash + 1) != std::string::npos) {
    return 0;
  }
  return static_cast<pid_t>(std::stol(entry.substr(dash + 1)));
}

bool Alive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

ImportFolder::ImportFolder(fs::path out, std::string name) : out(std::move(out)), name(std::move(name)) {}

fs::path ImportFolder::Staging() const {
  return out / (StagingPrefix + name + "-" + std::to_string(::getpid()));
}

void ImportFolder::RemoveLeftovers() const {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(out, error)) {
    const pid_t pid = StagingProcess(entry.path().filename().string());
    if (pid != 0 && (pid == ::getpid() || !Alive(pid))) fs::remove_all(entry.path(), error);
  }
  std::set<std::string> named;
  if (!NamedVersions(out / "Levels" / (name + ".xml"), named)) return;
  for (const char* kind : Kinds) {
    std::vector<fs::path> unnamed;
    for (const auto& entry : fs::directory_iterator(out / kind, error)) {
      const std::string entryName = entry.path().filename().string();
      if (IsVersionOf(entryName, name) && named.count(entryName) == 0) unnamed.push_back(entry.path());
    }
    for (const fs::path& path : unnamed) fs::remove_all(path, error);
  }
}

std::string ImportFolder::FreshVersion() const {
  for (int n = 1;; ++n) {
    const std::string version = n == 1 ? name : name + "@" + std::to_string(n);
    bool taken = false;
    std::error_code error;
    for (const char* kind : Kinds) taken = taken || fs::exists(out / kind / version, error);
    if (!taken) return version;
  }
}

bool ImportFolder::Commit(const std::string& version, std::string& problem) const {
  const fs::path staging = Staging();
  std::vector<fs::path> moved;
  std::error_code error;
  auto undo = [&] {
    std::error_code ignored;
    for (const fs::path& path : moved) fs::remove_all(path, ignored);
  };
  // No level names the fresh version yet: these moves change nothing a
  // reader of OUT sees.
  for (const char* kind : Kinds) {
    const fs::path from = staging / kind / version, to = out / kind / version;
    if (!fs::exists(from, error)) continue;
    fs::create_directories(out / kind, error);
    fs::rename(from, to, error);
    if (error) {
      problem = "cannot write " + to.string() + ": " + error.message();
      undo();
      return false;
    }
    moved.push_back(to);
  }
  if (AfterCommitStep) AfterCommitStep(1);
  // The switch: rename replaces the old level in one step.
  const fs::path level = out / "Levels" / (name + ".xml");
  fs::create_directories(level.parent_path(), error);
  fs::rename(staging / "Levels" / (name + ".xml"), level, error);
  if (error) {
    problem = "cannot write " + level.string() + ": " + error.message();
    undo();
    return false;
  }
  if (AfterCommitStep) AfterCommitStep(2);
  RemoveLeftovers();
  if (AfterCommitStep) AfterCommitStep(3);
  return true;
}

}  // namespace KestorTools
