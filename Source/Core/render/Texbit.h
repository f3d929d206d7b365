#pragma once
// The engine's one texture class: image files, render and depth targets, 3D
// volumes and multisampled targets, uploaded lazily and bound through a small
// least-recently-used allocator of texture units.
#include <cstdint>
#include <string>
#include <vector>

#include <glm/vec4.hpp>

namespace KestorEngine {

// The numeric values are stored and compared by the render-texture pool and
// index the format table; keep them stable.
enum class TextureFormats : int32_t {
  R8 = 0,
  RG8 = 1,
  RGB8 = 2,
  RGBA8 = 3,
  RGB10A2 = 4,
  RGBA16F = 5,
  R32F = 6,
  R16F = 7,
  RG16F = 8,
  RG32F = 9,
  RGB16F = 10,
  RGB32F = 11,
  RGBA32F = 12,
  Depth24 = 13,
  Depth24Stencil8 = 14,
  Depth32F = 15,
  Depth32FStencil8 = 16,
  Stencil8 = 17,
  RGBA32I = 18,
  RGBA32UI = 19,
  R8UI = 20,
  R32UI = 21,
  RG32UI = 22,
  R11G11B10F = 23,
};

// The GL enums a format is stored and uploaded with, and the bytes per texel
// the memory budget charges for it (an estimate, not the driver's true size).
struct TextureFormatInfo {
  unsigned pixelType;
  unsigned pixelFormat;
  unsigned internalFormat;
  int budgetBytesPerPixel;
};

// The row of `format`; values outside the enumeration answer with RGBA8's.
const TextureFormatInfo& GetTextureFormatInfo(TextureFormats format);

class Texbit {
 public:
  // Units shared by every texture; the allocator hands out 0..TextureUnits-1.
  static constexpr int TextureUnits = 16;

  Texbit();
  Texbit(int w, int h);
  Texbit(int w, int h, int d);
  Texbit(int w, int h, TextureFormats f);
  Texbit(int w, int h, int d, TextureFormats f);
  // Loads CompiledAssets/Textures/<name>; the GPU copy is made at the first
  // bind. An undecodable file leaves an empty 8 x 8 RGBA8 texture.
  explicit Texbit(std::string name);
  virtual ~Texbit();

  Texbit(const Texbit&) = delete;
  Texbit& operator=(const Texbit&) = delete;

  // Binds to a unit, uploading first when the texture is not on the GPU yet.
  void ToGPU();
  // Sends parameters and data again; the existing storage is kept.
  void ToGPUForce();
  // The unit a sampler must name to read this texture; binds it if needed.
  int GetCurrentBind();

  virtual void GenerateMipmaps();
  virtual void UploadData();
  virtual void UploadDataFoReal(unsigned type, unsigned format, unsigned internalFormat);
  virtual glm::vec4 GetPixel(int x, int y);
  virtual void SetPixel(int x, int y, glm::vec4 colour);
  // Whole MiB by the budget table; `Depth` is not counted.
  virtual int GetRamUsageCPU();
  virtual int GetRamUsageGPU();
  virtual void Save(std::string path);

  // What GetRamUsageGPU would say for a texture not made yet. Mip chains are
  // charged a third on top (x 1.34).
  static int CalcSize(int width, int height, TextureFormats format, bool mipmaps);
  static int CalcSize(int width, int height, TextureFormats format);

  // Gives `t` a unit (keeping the one it has) and marks it most recently
  // used; a full set of units evicts the least recently used texture. Returns
  // the unit, -1 for a null texture.
  static int RequestBind(Texbit* t);
  static void RemoveBind(Texbit* t);
  static unsigned GetBindEnum(int unit);
  // A white texture for materials that name none; made on first use.
  static Texbit* White();

  // GL_TEXTURE_2D_MULTISAMPLE, GL_TEXTURE_3D or GL_TEXTURE_2D, from the fields.
  unsigned Target() const;
  // The mip levels its storage holds.
  int StorageLevels() const;

  int32_t FilterMode = 1;  // 1 or 2: linear; anything else: nearest
  int32_t WrapMode = 1;    // 1: clamp to edge; anything else: repeat
  TextureFormats Format = TextureFormats::RGBA8;
  bool Mipmaps = true;
  int32_t Samples = 0;  // above 0: a 2D multisample texture
  // Level-0 texels to upload. Owned by whoever set it; the texture frees only
  // the buffer its own image decoder made.
  unsigned char* Data = nullptr;
  // When set, uploads read `Data` as an offset into this pixel-unpack buffer.
  uint32_t* PixelBuffer = nullptr;
  int32_t CurrentBind = -1;
  uint32_t ID = 0;
  int32_t Width = 8;
  int32_t Height = 8;
  int32_t Depth = 0;  // above 0: a 3D texture with this many slices
  bool OnGPU = false;
  bool StorageMade = false;

  // Textures that own a unit, least recently bound first.
  static std::vector<Texbit*>& ActiveTextures;
  static Texbit* White_;

 private:
  void MakeName();
  void LoadImage(const std::string& name);

  // The image decoder's buffer, released with the texture.
  unsigned char* decoded = nullptr;
};

class RenderTexture : public Texbit {
 public:
  RenderTexture(int w, int h);
  RenderTexture(int w, int h, TextureFormats f);
  ~RenderTexture() override = default;
};

class DepthTexture : public Texbit {
 public:
  DepthTexture(int w, int h);
  DepthTexture(int w, int h, TextureFormats f);
  ~DepthTexture() override = default;
};

// A pool of CPU pixel buffers handed out by exact size and never freed.
class RawTextureGuy {
 public:
  // A buffer of a*b*c*d bytes; null when the budget would be exceeded or the
  // size is not a positive number that fits in memory.
  static unsigned char* GrabTex(int a, int b, int c, int d);
  static void Done(unsigned char* buffer);

  static std::vector<unsigned char*> Cache;
  static std::vector<unsigned> CacheSize;
  static std::vector<bool> CacheUsed;
  static int CurrentRamUsage;  // MiB
  static int MaximumRamUsage;  // MiB
};

}  // namespace KestorEngine
