#pragma once
// A 3D colour lookup table between two ICC colour spaces: sampling it with an
// RGB colour as the coordinate gives that colour converted.
#include <string>

#include "render/Texbit.h"

namespace KestorEngine {

class LUT : public Texbit {
 public:
  // An N x N x N RGB8 table converting from `source` to `destination`
  // (profile file paths). N below 2 cannot span the colour cube and is
  // raised to 2. A profile that cannot be used is reported and leaves the
  // identity table; an empty path leaves the table without data.
  LUT(std::string source, std::string destination, int N);
  ~LUT() override;

  void LoadICCs(std::string source, std::string destination);

  std::string SourcePath;
  std::string DestinationPath;
};

}  // namespace KestorEngine
