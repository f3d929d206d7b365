// Writes the meshes of the street level as .fml files into a folder:
//   MakeStreetMeshes CompiledAssets/Meshes
// Each mesh is checked before it is written: triangles must wind the way
// their normals face, and the lists must be uploadable as they are.
#include <fstream>
#include <iostream>
#include <string>

#include "MeshBuilder.h"
#include "StreetMeshes.h"
#include "render/MeshData.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: MakeStreetMeshes <output folder>\n";
    return 2;
  }
  const std::string folder = argv[1];
  int failures = 0;
  for (const KestorTools::NamedMesh& named : KestorTools::StreetMeshes()) {
    const KestorTools::MeshLists mesh = named.Build();
    const std::string path = folder + "/" + named.Name + ".fml";
    const std::string problem =
        KestorEngine::CheckMeshLists(mesh.Vertices, mesh.Faces, &mesh.Normals, &mesh.UV1);
    const int faults = KestorTools::CountWindingFaults(mesh);
    if (!problem.empty() || faults > 0) {
      std::cerr << path << ": not written: "
                << (problem.empty() ? std::to_string(faults) + " triangles wind against their normals"
                                    : problem)
                << "\n";
      ++failures;
      continue;
    }
    std::ofstream out(path);
    out << KestorTools::FmlText(mesh);
    if (!out) {
      std::cerr << path << ": cannot write the mesh\n";
      ++failures;
      continue;
    }
    std::cout << path << ": " << mesh.Vertices.size() / 3 << " vertices, " << mesh.Faces.size() / 3
              << " triangles\n";
  }
  return failures == 0 ? 0 : 1;
}
