// Regenerates the GUI's bitmap font atlas from Liberation Mono (fonts-liberation):
//   MakeFontAtlas LiberationMono-Regular.ttf CompiledAssets/Textures/CourierNewSuperLargeFixed.bmp
#include "FontAtlas.h"

#include <iostream>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: MakeFontAtlas <font file> <output .bmp>\n";
    return 2;
  }
  KestorTools::GreyImage atlas;
  std::string error;
  if (!KestorTools::RenderFontAtlas(argv[1], KestorTools::AtlasLayout{}, atlas, error) ||
      !KestorTools::WriteGreyBmp(argv[2], atlas, error)) {
    std::cerr << error << "\n";
    return 1;
  }
  std::cout << argv[2] << ": " << atlas.Width << " x " << atlas.Height << "\n";
  return 0;
}
