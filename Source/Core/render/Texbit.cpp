#include "render/Texbit.h"

#include <SDL.h>
#include <stb_image.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iostream>
#include <new>

#include "engine/Debug.h"
#include "engine/File.h"
#include "render/FrameBuffer.h"
#include "sanegl/GL.h"

namespace KestorEngine {

#define CHECK_GL() Debug::_CheckGLError("RELEASE", __LINE__)

namespace {

// The size lines every sized constructor prints.
void PrintSize(int w, int h) {
  std::cout << "w!" << w << std::endl;
  std::cout << "h!" << h << std::endl;
}

// One row per TextureFormats value, in enumeration order.
const TextureFormatInfo formatTable[] = {
    {GL_UNSIGNED_BYTE, GL_RED, GL_R8, 1},                                      // R8
    {GL_UNSIGNED_BYTE, GL_RG, GL_RG8, 2},                                      // RG8
    {GL_UNSIGNED_BYTE, GL_RGB, GL_RGB8, 3},                                    // RGB8
    {GL_UNSIGNED_INT_8_8_8_8_REV, GL_RGBA, GL_RGBA8, 4},                       // RGBA8
    {GL_UNSIGNED_INT_2_10_10_10_REV, GL_RGBA, GL_RGB10_A2, 4},                 // RGB10A2
    {GL_HALF_FLOAT, GL_RGBA, GL_RGBA16F, 8},                                   // RGBA16F
    {GL_FLOAT, GL_RED, GL_R32F, 4},                                            // R32F
    {GL_HALF_FLOAT, GL_RED, GL_R16F, 2},                                       // R16F
    {GL_HALF_FLOAT, GL_RG, GL_RG16F, 4},                                       // RG16F
    {GL_FLOAT, GL_RG, GL_RG32F, 8},                                            // RG32F
    {GL_HALF_FLOAT, GL_RGB, GL_RGB16F, 6},                                     // RGB16F
    {GL_FLOAT, GL_RGB, GL_RGB32F, 12},                                         // RGB32F
    {GL_FLOAT, GL_RGBA, GL_RGBA32F, 16},                                       // RGBA32F
    {GL_INT, GL_DEPTH_COMPONENT, GL_DEPTH_COMPONENT24, 3},                     // Depth24
    {GL_UNSIGNED_INT_24_8, GL_DEPTH_STENCIL, GL_DEPTH24_STENCIL8, 4},          // Depth24Stencil8
    {GL_FLOAT, GL_DEPTH_COMPONENT, GL_DEPTH_COMPONENT32F, 4},                  // Depth32F
    {GL_FLOAT_32_UNSIGNED_INT_24_8_REV, GL_DEPTH_STENCIL, GL_DEPTH32F_STENCIL8, 8},  // Depth32FStencil8
    {GL_UNSIGNED_BYTE, GL_STENCIL_INDEX, GL_STENCIL_INDEX8, 1},                // Stencil8
    // The budget charges the integer and packed formats one byte per texel.
    {GL_INT, GL_RGBA_INTEGER, GL_RGBA32I, 1},                                  // RGBA32I
    {GL_UNSIGNED_INT, GL_RGBA_INTEGER, GL_RGBA32UI, 1},                        // RGBA32UI
    {GL_UNSIGNED_INT, GL_RED_INTEGER, GL_R8UI, 1},                             // R8UI
    {GL_UNSIGNED_INT, GL_RED_INTEGER, GL_R32UI, 1},                            // R32UI
    {GL_UNSIGNED_INT, GL_RG_INTEGER, GL_RG32UI, 1},                            // RG32UI
    {GL_HALF_FLOAT, GL_RGB, GL_R11F_G11F_B10F, 1},                             // R11G11B10F
};
constexpr int formatCount = sizeof(formatTable) / sizeof(formatTable[0]);
static_assert(formatCount == static_cast<int>(TextureFormats::R11G11B10F) + 1,
              "one table row per texture format");

constexpr int64_t bytesPerMiB = 1048576;

// Textures owned by statics outlive the context at exit; GL must not be
// called then.
bool HaveContext() { return SDL_GL_GetCurrentContext() != nullptr; }

uintptr_t AddressOf(const void* object) { return reinterpret_cast<uintptr_t>(object); }

int FullMipLevels(int largestSide) {
  return static_cast<int>(std::log2f(static_cast<float>(std::max(largestSide, 1)))) + 1;
}

}  // namespace

const TextureFormatInfo& GetTextureFormatInfo(TextureFormats format) {
  int index = static_cast<int>(format);
  if (index < 0 || index >= formatCount) index = static_cast<int>(TextureFormats::RGBA8);
  return formatTable[index];
}

// Never destroyed: textures held by other statics unbind themselves during
// process exit.
std::vector<Texbit*>& Texbit::ActiveTextures = *new std::vector<Texbit*>();
Texbit* Texbit::White_ = nullptr;

// ---------------------------------------------------------------------------
// Construction and destruction

void Texbit::MakeName() {
  glGenTextures(1, &ID);
  CHECK_GL();
}

Texbit::Texbit() {
  MakeName();
  std::cout << "MadeIDBASECONST!!" << ID << std::endl;
  std::cout << "Creating " << AddressOf(this) << std::endl;
}

Texbit::Texbit(int w, int h) : Width(w), Height(h) {
  MakeName();
  std::cout << "MadeID!" << ID << std::endl;
  PrintSize(w, h);
}

Texbit::Texbit(int w, int h, int d) : Width(w), Height(h), Depth(d) {
  MakeName();
  std::cout << "MadeID!" << ID << std::endl;
  PrintSize(w, h);
  std::cout << "d!" << d << std::endl;
}

Texbit::Texbit(int w, int h, TextureFormats f) : Format(f), Width(w), Height(h) {
  MakeName();
  PrintSize(w, h);
}

Texbit::Texbit(int w, int h, int d, TextureFormats f) : Format(f), Width(w), Height(h), Depth(d) {
  MakeName();
  PrintSize(w, h);
}

Texbit::Texbit(std::string name) {
  MakeName();
  LoadImage(name);
}

void Texbit::LoadImage(const std::string& name) {
  const std::string path = File::Find("Textures", name);
  int w = 0, h = 0, channels = 0;
  unsigned char* pixels = nullptr;
  if (stbi_info(path.c_str(), &w, &h, &channels) != 0) {
    // Grey and grey-alpha images are widened to four channels by the decoder,
    // so every buffer matches the RGB8 or RGBA8 upload that reads it.
    const int wanted = channels == 3 ? 3 : 4;
    pixels = stbi_load(path.c_str(), &w, &h, &channels, wanted);
    if (pixels != nullptr) {
      decoded = pixels;
      Data = pixels;
      Width = w;
      Height = h;
      Format = wanted == 3 ? TextureFormats::RGB8 : TextureFormats::RGBA8;
    }
  }
  std::cout << path << "(" << Width << "," << Height << ")" << std::endl;
  if (pixels == nullptr) {
    const char* reason = stbi_failure_reason();
    std::cout << path << ": cannot decode the image (" << (reason != nullptr ? reason : "unknown")
              << "), using an empty 8x8 texture" << std::endl;
  }
  WrapMode = 0;
  Mipmaps = false;
}

Texbit::~Texbit() {
  std::cout << "Deleting " << AddressOf(this) << std::endl;
  // Without a context (a material's texture released by the component
  // arrays at exit, after the engine closed its context) the framebuffers
  // and texture units are gone with it and there is nothing to detach or
  // free; their bookkeeping may already have been destroyed with the other
  // statics.
  const bool context = HaveContext();
  // Detached while the GL name still means this texture.
  if (context) {
    FrameBuffer::ForgetTexture(this);
    RemoveBind(this);
  }
  if (White_ == this) White_ = nullptr;
  if (context) {
    glDeleteTextures(1, &ID);
    CHECK_GL();
    // GL may hand the name to the next texture; no cached attachment may
    // then claim that one is already attached.
    SaneGL::Framebuffer::ForgetTexture(static_cast<int>(ID));
  }
  if (decoded != nullptr) stbi_image_free(decoded);
}

namespace {

// Render and depth targets are sampled texel for texel and rewritten every
// frame, so they start unfiltered and without a mip chain.
void MakeTarget(Texbit& t, int w, int h, TextureFormats format) {
  t.Width = w;
  t.Height = h;
  t.Format = format;
  t.FilterMode = 0;
  t.Mipmaps = false;
}

}  // namespace

RenderTexture::RenderTexture(int w, int h) {
  MakeTarget(*this, w, h, Format);
  std::cout << "YOU MADE ME!!!" << std::endl;
}

RenderTexture::RenderTexture(int w, int h, TextureFormats f) {
  MakeTarget(*this, w, h, f);
  PrintSize(w, h);
}

DepthTexture::DepthTexture(int w, int h) {
  MakeTarget(*this, w, h, TextureFormats::Depth32F);
  std::cout << "YOU MADE ME DEPTH!!!" << std::endl;
}

DepthTexture::DepthTexture(int w, int h, TextureFormats f) {
  MakeTarget(*this, w, h, f);
  PrintSize(w, h);
}

// ---------------------------------------------------------------------------
// Binding and upload

unsigned Texbit::Target() const {
  if (Samples > 0) return GL_TEXTURE_2D_MULTISAMPLE;
  if (Depth != 0) return GL_TEXTURE_3D;
  return GL_TEXTURE_2D;
}

void Texbit::ToGPU() {
  const int oldBind = CurrentBind;
  RequestBind(this);
  // Still on the unit it was bound to: nothing to do.
  if (OnGPU && CurrentBind == oldBind) return;

  const unsigned target = Target();
  glActiveTexture(GetBindEnum(CurrentBind));
  CHECK_GL();
  glBindTexture(target, ID);
  CHECK_GL();
  if (OnGPU) return;

  // Multisample textures take no sampler parameters.
  if (target != GL_TEXTURE_2D_MULTISAMPLE) {
    if (FilterMode == 1 || FilterMode == 2) {
      glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
      CHECK_GL();
      glTexParameteri(target, GL_TEXTURE_MIN_FILTER, Mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
      CHECK_GL();
    } else {
      std::cout << Depth << std::endl;
      std::cout << "DISABLED AAAAA!!" << std::endl;
      glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
      CHECK_GL();
      glTexParameteri(target, GL_TEXTURE_MIN_FILTER,
                      Mipmaps ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST);
      CHECK_GL();
    }
    const GLint wrap = WrapMode == 1 ? GL_CLAMP_TO_EDGE : GL_REPEAT;
    glTexParameteri(target, GL_TEXTURE_WRAP_S, wrap);
    CHECK_GL();
    glTexParameteri(target, GL_TEXTURE_WRAP_T, wrap);
    CHECK_GL();
    if (Depth > 0) {
      glTexParameteri(target, GL_TEXTURE_WRAP_R, wrap);
      CHECK_GL();
    }
  }
  UploadData();
  OnGPU = true;
}

void Texbit::ToGPUForce() {
  OnGPU = false;
  ToGPU();
}

int Texbit::GetCurrentBind() {
  if (CurrentBind == -1) ToGPU();
  return CurrentBind;
}

void Texbit::UploadData() {
  const TextureFormatInfo& info = GetTextureFormatInfo(Format);
  UploadDataFoReal(info.pixelType, info.pixelFormat, info.internalFormat);
}

void Texbit::UploadDataFoReal(unsigned type, unsigned format, unsigned internalFormat) {
  const unsigned target = Target();
  glPixelStorei(GL_UNPACK_ROW_LENGTH, Width);
  CHECK_GL();
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  CHECK_GL();
  if (PixelBuffer != nullptr) {
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, *PixelBuffer);
    CHECK_GL();
  }

  if (!StorageMade) {
    // A picture's storage holds the whole mip chain, so switching Mipmaps on
    // later needs no new storage. A volume made without mipmaps (the light
    // field's, which never filter down) holds its one level: the chain was
    // an eighth more of its memory, for nothing.
    if (target == GL_TEXTURE_3D) {
      const int largest = std::max({Width, Height, Depth});
      std::cout << "MipmapLevels3D" << std::log2(static_cast<double>(largest)) + 1 << std::endl;
      glTexStorage3D(GL_TEXTURE_3D, StorageLevels(), internalFormat, Width, Height, Depth);
      CHECK_GL();
    } else if (target == GL_TEXTURE_2D_MULTISAMPLE) {
      glTexStorage2DMultisample(GL_TEXTURE_2D_MULTISAMPLE, Samples, internalFormat, Width, Height,
                                GL_FALSE);
      CHECK_GL();
    } else {
      glTexStorage2D(GL_TEXTURE_2D, FullMipLevels(std::max(Width, Height)), internalFormat, Width,
                     Height);
      CHECK_GL();
    }
    std::cout << "NewUpload" << std::endl;
    // Fresh storage holds whatever memory the driver handed out: a target
    // read before anything is drawn into it (a history on its first frame)
    // would show it, and differently in every run. Zeros read as "nothing
    // yet" everywhere.
    if (Data == nullptr && PixelBuffer == nullptr && target != GL_TEXTURE_2D_MULTISAMPLE && GLEW_ARB_clear_texture) {
      for (int level = 0; level < StorageLevels(); ++level) {
        glClearTexImage(ID, level, format, type, nullptr);
        CHECK_GL();
      }
    }
  }

  // Multisample images cannot be filled from memory.
  if (Data != nullptr && target != GL_TEXTURE_2D_MULTISAMPLE) {
    if (target == GL_TEXTURE_3D) {
      glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, 0, Width, Height, Depth, format, type, Data);
    } else {
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, Width, Height, format, type, Data);
    }
    CHECK_GL();
  }

  if (PixelBuffer != nullptr) {
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    CHECK_GL();
  }
  // The row length is context-wide; leave it at GL's default for uploads made
  // outside this class.
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  CHECK_GL();

  StorageMade = true;
  // Without pixels there is nothing to filter down: a render target builds
  // its chain after drawing (GenerateMipmaps). On llvmpipe the pass is a draw
  // per level, and for the light field's volumes and the lightmap it was a
  // third of start-up.
  const bool uploaded = Data != nullptr || PixelBuffer != nullptr;
  if (Mipmaps && uploaded && target != GL_TEXTURE_2D_MULTISAMPLE) {
    glGenerateMipmap(target);
    CHECK_GL();
  }
}

int Texbit::StorageLevels() const {
  if (Target() != GL_TEXTURE_3D) return FullMipLevels(std::max(Width, Height));
  return Mipmaps ? FullMipLevels(std::max({Width, Height, Depth})) : 1;
}

void Texbit::GenerateMipmaps() {
  // A multisample texture has no mip levels; one without storage has nothing
  // to build them from.
  if (!Mipmaps || !StorageMade || Samples > 0) return;
  RequestBind(this);
  const unsigned target = Target();
  glActiveTexture(GetBindEnum(CurrentBind));
  CHECK_GL();
  glBindTexture(target, ID);
  CHECK_GL();
  glGenerateMipmap(target);
  CHECK_GL();
}

// ---------------------------------------------------------------------------
// Unit allocator

int Texbit::RequestBind(Texbit* t) {
  if (t == nullptr) return -1;
  auto& active = ActiveTextures;
  auto found = std::find(active.begin(), active.end(), t);
  if (t->CurrentBind != -1 && found != active.end()) {
    active.erase(found);
    active.push_back(t);
    return t->CurrentBind;
  }
  // A unit claimed without the allocator's record is not trusted.
  if (found != active.end()) active.erase(found);

  if (static_cast<int>(active.size()) >= TextureUnits) {
    // Its GL binding stays; the unit is simply handed on.
    active.front()->CurrentBind = -1;
    active.erase(active.begin());
  }
  bool taken[TextureUnits] = {};
  for (Texbit* holder : active) {
    if (holder->CurrentBind >= 0 && holder->CurrentBind < TextureUnits) taken[holder->CurrentBind] = true;
  }
  int unit = 0;
  while (unit < TextureUnits && taken[unit]) ++unit;
  t->CurrentBind = unit;
  active.push_back(t);
  return unit;
}

void Texbit::RemoveBind(Texbit* t) {
  if (t == nullptr) return;
  auto found = std::find(ActiveTextures.begin(), ActiveTextures.end(), t);
  if (found != ActiveTextures.end()) ActiveTextures.erase(found);
  t->CurrentBind = -1;
}

unsigned Texbit::GetBindEnum(int unit) {
  if (unit < 0 || unit > 16) return GL_TEXTURE0;
  return GL_TEXTURE0 + unit;
}

Texbit* Texbit::White() {
  if (White_ == nullptr) {
    White_ = new Texbit(std::string("White.bmp"));
    White_->ToGPU();
  }
  return White_;
}

// ---------------------------------------------------------------------------
// Memory accounting and the parts nothing implements yet

int Texbit::CalcSize(int width, int height, TextureFormats format, bool mipmaps) {
  int64_t bytes = static_cast<int64_t>(width) * height * GetTextureFormatInfo(format).budgetBytesPerPixel;
  if (mipmaps) bytes = static_cast<int64_t>(static_cast<double>(bytes) * 1.34);
  return static_cast<int>(bytes / bytesPerMiB);
}

int Texbit::CalcSize(int width, int height, TextureFormats format) {
  return CalcSize(width, height, format, false);
}

int Texbit::GetRamUsageGPU() { return CalcSize(Width, Height, Format, Mipmaps); }

int Texbit::GetRamUsageCPU() { return GetRamUsageGPU(); }

glm::vec4 Texbit::GetPixel(int x, int y) {
  Debug::Log("GetPixel Not implemented!\n");
  return glm::vec4(1, 1, 0, 1);
}

void Texbit::SetPixel(int x, int y, glm::vec4 colour) { Debug::Log("SetPixel Not implemented!\n"); }

void Texbit::Save(std::string path) { Debug::Log("Save Not implemented!\n"); }

// ---------------------------------------------------------------------------
// RawTextureGuy

std::vector<unsigned char*> RawTextureGuy::Cache;
std::vector<unsigned> RawTextureGuy::CacheSize;
std::vector<bool> RawTextureGuy::CacheUsed;
int RawTextureGuy::CurrentRamUsage = 0;
int RawTextureGuy::MaximumRamUsage = 8000;

unsigned char* RawTextureGuy::GrabTex(int a, int b, int c, int d) {
  // The product is formed in 64 bits so that a large request is refused
  // rather than wrapped into a small buffer.
  int64_t size = 1;
  for (int factor : {a, b, c, d}) {
    if (factor <= 0) return nullptr;
    size *= factor;
    if (size > static_cast<int64_t>(UINT_MAX)) return nullptr;
  }
  for (size_t i = 0; i < Cache.size(); ++i) {
    if (!CacheUsed[i] && CacheSize[i] == static_cast<unsigned>(size)) {
      CacheUsed[i] = true;
      return Cache[i];
    }
  }
  const int sizeMiB = static_cast<int>(size / bytesPerMiB);
  if (CurrentRamUsage + sizeMiB > MaximumRamUsage) {
    std::cout << "!AAAA" << std::endl;
    return nullptr;
  }
  unsigned char* buffer = new (std::nothrow) unsigned char[size];
  if (buffer == nullptr) return nullptr;
  CurrentRamUsage += sizeMiB;
  Cache.push_back(buffer);
  CacheSize.push_back(static_cast<unsigned>(size));
  CacheUsed.push_back(true);
  std::cout << "Creation!" << std::endl;
  std::cout << "Usage:" << CurrentRamUsage << std::endl;
  return buffer;
}

void RawTextureGuy::Done(unsigned char* buffer) {
  auto found = std::find(Cache.begin(), Cache.end(), buffer);
  if (found != Cache.end()) CacheUsed[found - Cache.begin()] = false;
}

}  // namespace KestorEngine
