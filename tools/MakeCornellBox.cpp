// Writes the Cornell box level, its meshes and its materials into an asset
// folder:
//   MakeCornellBox CompiledAssets
#include <fstream>
#include <iostream>
#include <string>

#include "CornellBox.h"
#include "render/MeshData.h"

namespace {

bool Write(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  if (!out) std::cerr << path << ": cannot write\n";
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: MakeCornellBox <asset folder>\n";
    return 2;
  }
  const std::string folder = argv[1];
  bool ok = true;
  for (const KestorTools::CornellPart& p : KestorTools::CornellBoxParts()) {
    const std::string problem = KestorEngine::CheckMeshLists(p.Lists.Vertices, p.Lists.Faces, &p.Lists.Normals,
                                                             &p.Lists.UV1);
    if (!problem.empty() || KestorTools::CountWindingFaults(p.Lists) > 0) {
      std::cerr << p.Mesh << ": not written: " << (problem.empty() ? "winding against the normals" : problem)
                << "\n";
      ok = false;
      continue;
    }
    ok = Write(folder + "/Meshes/" + p.Mesh + ".fml", KestorTools::FmlText(p.Lists)) && ok;
  }
  for (const auto& [name, text] : KestorTools::CornellBoxMaterials()) {
    ok = Write(folder + "/Materials/" + name + ".xml", text) && ok;
  }
  ok = Write(folder + "/Levels/CornellBox.xml", KestorTools::CornellBoxLevel()) && ok;
  return ok ? 0 : 1;
}
