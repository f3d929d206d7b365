// Writes the town level and its meshes into an asset folder:
//   MakeTown CompiledAssets
// reading the street level (Levels/StreetTest.xml) it is built around, and
// writing Levels/Town.xml and Meshes/Town*.fml. Everything is made and
// checked first; then each file is written beside its place and moved
// into it, so a failure leaves the earlier files as they were.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "MeshBuilder.h"
#include "Town.h"
#include "render/MeshData.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: MakeTown <asset folder>\n";
    return 2;
  }
  const fs::path assets = argv[1];
  std::ifstream in(assets / "Levels" / "StreetTest.xml");
  std::ostringstream street;
  street << in.rdbuf();
  if (!in) {
    std::cerr << (assets / "Levels" / "StreetTest.xml").string() << ": cannot read the street level\n";
    return 1;
  }
  std::string problem;
  std::vector<std::pair<fs::path, std::string>> files;
  files.emplace_back(assets / "Levels" / "Town.xml", KestorTools::TownLevelText(street.str(), problem));
  if (files.back().second.empty()) {
    std::cerr << (assets / "Levels" / "StreetTest.xml").string() << ": " << problem << "\n";
    return 1;
  }
  for (const KestorTools::NamedMesh& named : KestorTools::TownMeshes()) {
    const KestorTools::MeshLists mesh = named.Build();
    const std::string check = KestorEngine::CheckMeshLists(mesh.Vertices, mesh.Faces, &mesh.Normals, &mesh.UV1);
    if (!check.empty() || KestorTools::CountWindingFaults(mesh) > 0) {
      std::cerr << named.Name << ": not written: " << (check.empty() ? "triangles wind against their normals" : check)
                << "\n";
      return 1;
    }
    files.emplace_back(assets / "Meshes" / (named.Name + ".fml"), KestorTools::FmlText(mesh));
  }
  for (const auto& [path, text] : files) {
    const fs::path staged = path.string() + ".new";
    std::ofstream out(staged);
    out << text;
    out.close();
    std::error_code error;
    if (!out || (fs::rename(staged, path, error), error)) {
      std::cerr << path.string() << ": cannot write it\n";
      fs::remove(staged, error);
      return 1;
    }
    std::cout << path.string() << "\n";
  }
  return 0;
}
