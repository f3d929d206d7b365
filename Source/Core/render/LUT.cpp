#include "render/LUT.h"

#include <lcms2.h>

#include <cstdint>
#include <cstring>
#include <iostream>

namespace KestorEngine {

namespace {

// Collects Little CMS's own explanation of a failure for our report line.
struct CmsErrors {
  std::string text;
};

void CollectCmsError(cmsContext context, cmsUInt32Number, const char* text) {
  auto* errors = static_cast<CmsErrors*>(cmsGetContextUserData(context));
  if (errors == nullptr || text == nullptr) return;
  if (!errors->text.empty()) errors->text += "; ";
  errors->text += text;
}

void PrintTexel(const unsigned char* texel) {
  for (int i = 0; i < 3; ++i) std::cout << static_cast<char>(texel[i]) << std::endl;
}

}  // namespace

LUT::LUT(std::string source, std::string destination, int N)
    : SourcePath(std::move(source)), DestinationPath(std::move(destination)) {
  if (N < 2) {
    std::cout << "LUT: " << N << " entries per axis cannot span the colour cube, using 2" << std::endl;
    N = 2;
  }
  Width = Height = Depth = N;
  if (!SourcePath.empty() && !DestinationPath.empty()) LoadICCs(SourcePath, DestinationPath);
  WrapMode = 1;
  Format = TextureFormats::RGB8;
}

LUT::~LUT() {
  delete[] Data;
  Data = nullptr;
}

void LUT::LoadICCs(std::string source, std::string destination) {
  const size_t texels = static_cast<size_t>(Width) * Height * Depth;
  auto* grid = new unsigned char[texels * 3];
  std::memset(grid, 0, texels * 3);
  unsigned char* texel = grid;
  for (int z = 0; z < Depth; ++z) {
    for (int y = 0; y < Height; ++y) {
      for (int x = 0; x < Width; ++x) {
        *texel++ = static_cast<unsigned char>(static_cast<int>(x / float(Width - 1) * 255));
        *texel++ = static_cast<unsigned char>(static_cast<int>(y / float(Height - 1) * 255));
        *texel++ = static_cast<unsigned char>(static_cast<int>(z / float(Depth - 1) * 255));
      }
    }
  }
  // A second load replaces the table of the first.
  delete[] Data;
  Data = grid;

  // A private context keeps the error handler ours alone.
  CmsErrors errors;
  cmsContext context = cmsCreateContext(nullptr, &errors);
  cmsSetLogErrorHandlerTHR(context, &CollectCmsError);
  cmsHPROFILE from = cmsOpenProfileFromFileTHR(context, source.c_str(), "r");
  cmsHPROFILE to = cmsOpenProfileFromFileTHR(context, destination.c_str(), "r");
  cmsHTRANSFORM transform = nullptr;
  std::string failure;
  if (from == nullptr) {
    failure = "cannot open the colour profile " + source;
  } else if (to == nullptr) {
    failure = "cannot open the colour profile " + destination;
  } else {
    transform = cmsCreateTransformTHR(context, from, TYPE_RGB_8, to, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    if (transform == nullptr) failure = "cannot convert from " + source + " to " + destination;
  }

  if (transform != nullptr) {
    std::cout << reinterpret_cast<uintptr_t>(transform) << std::endl;
    PrintTexel(grid);
    cmsDoTransform(transform, grid, grid, static_cast<cmsUInt32Number>(texels));
    PrintTexel(grid);
    std::cout << "PREPARTING LUT!" << std::endl;
    cmsDeleteTransform(transform);
  } else {
    std::cout << "LUT: " << failure;
    if (!errors.text.empty()) std::cout << " (" << errors.text << ")";
    std::cout << ", the table stays the identity" << std::endl;
  }
  if (from != nullptr) cmsCloseProfile(from);
  if (to != nullptr) cmsCloseProfile(to);
  cmsDeleteContext(context);
}

}  // namespace KestorEngine
