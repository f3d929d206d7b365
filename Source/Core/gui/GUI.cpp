// GUI drawing: styles, styled rectangles, bitmap and FreeType text.
//
// Sections:
//   1. Statics, presets and themes
//   2. Stage callbacks and the text caches
//   3. Rectangles
//   4. Bitmap-font text
//   5. FreeType text
#include "gui/GUI.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <vector>

#include <glm/ext/matrix_clip_space.hpp>
#include <glm/ext/matrix_transform.hpp>

#include "engine/Debug.h"
#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/IMGUI.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/Material.h"
#include "render/Mesh.h"
#include "render/Shader.h"
#include "render/ShaderUniform.h"
#include "render/Texbit.h"
#include "sanegl/StateCache.h"

namespace KestorEngine {

// ===========================================================================
// 1. Statics, presets and themes
// ===========================================================================

GUIStyleCollection GUI::Default;
GUIStyleCollection GUI::Bright;
GUIStyle GUI::DefaultContentStyle;
GUIStyle GUI::DefaultHoverStyle;
GUIStyle GUI::DefaultClickStyle;
GUIStyle GUI::DefaultActiveStyle;
GUIStyle GUI::BrightContentStyle;
GUIStyle GUI::BrightHoverStyle;
GUIStyle GUI::BrightClickStyle;
GUIStyle GUI::BrightActiveStyle;
GUIStyle GUI::DarkContentStyle;
GUIStyle GUI::WhiteLineStyle;
GUIStyle GUI::KeyframeTemp;
glm::vec4 GUI::Color{1.0f};
float GUI::Layer = -4.0f;
Resource<Shader> GUI::GUIGeneric;
Resource<Shader> GUI::GUIColorWheel;
Resource<Shader> GUI::TextBasic;
Resource<Shader> GUI::TextBitmapBasic;
Resource<Material> GUI::GenericMat;
Typeface* GUI::CourierNew = nullptr;
FT_LibraryRec_* GUI::library = nullptr;
std::map<std::string, FT_FaceRec_*> GUI::FaceCache;
std::map<GUI::TextKey, Resource<Mesh>> GUI::TextCache;
std::map<GUI::TextKey, bool> GUI::TextUsed;
std::map<GUI::FancyTextKey, Texbit*> GUI::FancyTextCache;
std::map<GUI::FancyTextKey, bool> GUI::FancyTextUsed;

namespace {

GUIStyle Flat(glm::vec4 color) {
  GUIStyle style;
  style.TopColor = color;
  style.BottomColor = color;
  return style;
}

}  // namespace

void GUI::SetUpStyles() {
  DefaultContentStyle = GUIStyle();

  DefaultHoverStyle = Flat(glm::vec4(0.21f, 0.21f, 0.21f, 1.0f));
  DefaultHoverStyle.GlowColor = glm::vec4(0.0f, 0.08f, 0.16f, 0.08f);

  DefaultClickStyle = Flat(glm::vec4(0.17f, 0.17f, 0.17f, 1.0f));
  DefaultClickStyle.OutlineColor = glm::vec4(0.0f, 0.8f, 1.0f, 1.0f);
  DefaultClickStyle.OutlineThickness = 1.0f;
  DefaultClickStyle.GlowColor = glm::vec4(0.0f, 0.048f, 0.08f, 1.0f);

  DefaultActiveStyle = GUIStyle();

  BrightContentStyle = Flat(glm::vec4(0.9f, 0.9f, 0.9f, 1.0f));
  BrightHoverStyle = Flat(glm::vec4(1.0f, 1.0f, 1.0f, 1.0f));
  BrightHoverStyle.GlowColor = glm::vec4(0.0f, 0.1f, 0.2f, 0.2f);
  BrightClickStyle = Flat(glm::vec4(0.8f, 0.8f, 0.8f, 1.0f));
  BrightClickStyle.GlowColor = glm::vec4(0.0f, 0.24f, 0.4f, 1.0f);
  BrightActiveStyle = BrightHoverStyle;

  DarkContentStyle = Flat(glm::vec4(0.05f, 0.05f, 0.05f, 1.0f));

  WhiteLineStyle = GUIStyle();
  WhiteLineStyle.BorderRadius = glm::vec4(0.0f);
  WhiteLineStyle.TopColor = glm::vec4(1.0f, 1.0f, 1.0f, 1.0f);
  WhiteLineStyle.BottomColor = glm::vec4(1.0f, 1.0f, 1.0f, 0.1f);

  KeyframeTemp = DefaultClickStyle;

  Default = GUIStyleCollection(DefaultContentStyle, DefaultHoverStyle, DefaultClickStyle, DefaultActiveStyle);
  Bright = GUIStyleCollection(BrightContentStyle, BrightHoverStyle, BrightClickStyle, BrightActiveStyle);
}

// ===========================================================================
// 2. Stage callbacks and the text caches
// ===========================================================================

void GUI::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->StartList[25] = [engine] { return Initialize(engine); };
  engine->UpdateList[5] = [engine] { return PreUpdate(engine); };
  engine->UpdateList[55] = [engine] { return Update(engine); };
  engine->ShutdownList[10] = [] { return Deinitialize(); };
}

std::string GUI::Initialize(KestorEngineFlyHahaJk*) {
  GUIGeneric = Resources<Shader>::Get("UI/GUIGeneric");
  GUIColorWheel = Resources<Shader>::Get("UI/ColorWheel");
  TextBasic = Resources<Shader>::Get("UI/TextBasic");
  TextBitmapBasic = Resources<Shader>::Get("UI/TextBitmapBasic");
  GenericMat = Resources<Material>::Make("GenericMat", new Material(GUIGeneric));

  delete CourierNew;
  CourierNew = new Typeface("CourierNewSuperLargeFixed.bmp", glm::vec2(256.0f, 256.0f), glm::vec2(145.0f, 256.0f));

  SetUpStyles();

  if (library == nullptr && FT_Init_FreeType(&library) != 0) {
    std::cout << "Sorry man font rendering ain't working so im gonna die now :(" << std::endl;
    std::exit(1);
  }
  return "";
}

std::string GUI::PreUpdate(KestorEngineFlyHahaJk*) {
  for (auto& used : TextUsed) used.second = false;
  for (auto& used : FancyTextUsed) used.second = false;
  return "";
}

std::string GUI::Update(KestorEngineFlyHahaJk*) {
  SweepTextCaches(false);
  return "";
}

void GUI::SweepTextCaches(bool all) {
  for (auto used = TextUsed.begin(); used != TextUsed.end();) {
    if (all || !used->second) {
      TextCache.erase(used->first);
      used = TextUsed.erase(used);
    } else {
      ++used;
    }
  }
  for (auto used = FancyTextUsed.begin(); used != FancyTextUsed.end();) {
    if (all || !used->second) {
      auto cached = FancyTextCache.find(used->first);
      if (cached != FancyTextCache.end()) {
        Texbit* texture = cached->second;
        // The texture does not own the pixels it was given.
        delete[] texture->Data;
        texture->Data = nullptr;
        delete texture;
        FancyTextCache.erase(cached);
      }
      used = FancyTextUsed.erase(used);
    } else {
      ++used;
    }
  }
}

std::string GUI::Deinitialize() {
  SweepTextCaches(true);
  // Texts drawn outside a frame have no mark; they go as well.
  TextCache.clear();
  delete CourierNew;
  CourierNew = nullptr;
  IMGUI::ReleaseResources();
  GenericMat = Resource<Material>();
  GUIGeneric = Resource<Shader>();
  GUIColorWheel = Resource<Shader>();
  TextBasic = Resource<Shader>();
  TextBitmapBasic = Resource<Shader>();
  return "";
}

// ===========================================================================
// 3. Rectangles
// ===========================================================================

glm::vec4 GUI::ButtonCoords(glm::vec2 pos, glm::vec2 size) {
  glm::vec2 h = size * 0.5f;
  return glm::vec4(pos.x - h.x, pos.y - h.y, pos.x + h.x, pos.y + h.y);
}

glm::mat4 GUI::RectangleMatrix(glm::vec2 pos, glm::vec2 size) {
  glm::vec2 h = size * 0.5f;
  glm::vec2 c = pos + h;
  return glm::scale(glm::translate(glm::mat4(1.0f), glm::vec3(c.x, c.y, Layer)), glm::vec3(h.x, h.y, 1.0f));
}

glm::mat4 GUI::PixelProjection(glm::vec2 size) {
  // The clip planes of a default camera: the GUI layer (-4) lies between.
  return glm::ortho(0.0f, size.x, 0.0f, size.y, 0.01f, 300.0f);
}

glm::mat4 GUI::PixelProjection() { return PixelProjection(glm::vec2(Shutter::Width(), Shutter::Height())); }

void GUI::DrawQueuedNow(glm::vec2 targetSize) {
  // The caller's requested state comes back afterwards.
  SaneGL::StatePush();
  SaneGL::ColorWrite(true, true, true, true);
  Begin(glm::vec2(0.0f), targetSize);
  UniformBuffer camera;
  camera.SetMatrix4("_WorldToView", PixelProjection(targetSize));
  // A copy: drawing must not be disturbed by anything queueing meanwhile.
  std::vector<DrawEntry> queue = DrawSystem::guidrawthings;
  for (DrawEntry& entry : queue) {
    Resource<Shader>& shader = std::get<4>(entry);
    Resource<Mesh>& mesh = std::get<0>(entry);
    if (!shader || !mesh) continue;
    std::vector<UniformBuffer*> buffers;
    if (std::get<5>(entry) != nullptr) buffers.push_back(std::get<5>(entry));
    buffers.push_back(&std::get<6>(entry));
    buffers.push_back(&camera);
    shader->Use(&buffers);
    Draw::DrawMesh(mesh, std::get<2>(entry), std::get<1>(entry));
  }
  SaneGL::StatePop();
}

void GUI::DrawStyle(glm::vec2 pos, glm::vec2 size, GUIStyle* style) {
  if (style == nullptr) return;
  UniformBuffer buffer;
  buffer.SetVector("BorderRadius", style->BorderRadius);
  buffer.SetVector("TopColor", style->TopColor * Color);
  buffer.SetVector("BottomColor", style->BottomColor * Color);
  buffer.SetVector("GlowColor", style->GlowColor * Color);
  buffer.SetFloat("OutlineThickness", style->OutlineThickness);
  buffer.SetVector("OutlineColor", style->OutlineColor);
  buffer.SetVector("_ButtonCoords", ButtonCoords(pos, size));
  glm::mat4 model = RectangleMatrix(pos, size);
  DrawSystem::QueueDrawGUI(Draw::Quad, -1, model, model, GUIGeneric, buffer);
}

void GUI::DrawStyleNow(glm::vec2 pos, glm::vec2 size, GUIStyle* style) {
  if (style == nullptr || !GenericMat || !GenericMat->ShaderResource || !Draw::Quad) return;
  UniformBuffer& values = GenericMat->Buffer;
  values.SetVector("BorderRadius", style->BorderRadius);
  values.SetVector("TopColor", style->TopColor);
  values.SetVector("BottomColor", style->BottomColor);
  values.SetVector("ContentColor", style->ContentColor);
  values.SetVector("OutlineColor", style->OutlineColor);
  values.SetFloat("OutlineThickness", style->OutlineThickness);
  values.SetVector("GlowColor", style->GlowColor);
  values.SetVector("_ButtonCoords", ButtonCoords(pos, size));
  // Material::Use binds nothing: the material's shader is made current here
  // with its values and a projection of the window in pixels.
  GenericMat->Use();
  UniformBuffer screen;
  screen.SetMatrix4("_WorldToView", PixelProjection());
  std::vector<UniformBuffer*> buffers = {&values, &screen};
  GenericMat->ShaderResource->Use(&buffers);
  Debug::_CheckGLError("RELEASE", 407);
  Draw::DrawMesh(Draw::Quad, RectangleMatrix(pos, size), -1);
}

void GUI::Begin(glm::vec2, glm::vec2) {
  SaneGL::CullFace(SaneGL::FaceSide::Back);
  Debug::_CheckGLError("RELEASE", 387);
  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);
  // Always switches the test off and keeps the comparison set just before.
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  Debug::_CheckGLError("RELEASE", 388);
  Debug::_CheckGLError("RELEASE", 389);
  SaneGL::CullFace(SaneGL::FaceSide::None);
  Debug::_CheckGLError("RELEASE", 390);
  SaneGL::Blend(false);
  Debug::_CheckGLError("RELEASE", 391);
  SaneGL::Blend(true);
  Debug::_CheckGLError("RELEASE", 392);
  SaneGL::BlendEquationSeparate(SaneGL::BlendEquation::Add, SaneGL::BlendEquation::Add);
  Debug::_CheckGLError("RELEASE", 393);
  // Premultiplied alpha: the shaders output colour already times alpha.
  SaneGL::BlendFuncSeparate(SaneGL::BlendFunction::One, SaneGL::BlendFunction::OneMinusSrcAlpha,
                            SaneGL::BlendFunction::One, SaneGL::BlendFunction::OneMinusSrcAlpha);
  Debug::_CheckGLError("RELEASE", 394);
  SaneGL::Multisample(false);
  SaneGL::StateSync();
  Debug::_CheckGLError("RELEASE", 395);
}

// ===========================================================================
// 4. Bitmap-font text
// ===========================================================================

glm::vec2 GUI::AlignText(glm::vec2 pos, glm::vec2 size, const GUIStyle& style, const std::string& text) {
  if (CourierNew == nullptr) return pos;
  glm::vec2 room = CourierNew->MaRoom(text, style.TextSize);
  glm::vec2 at = pos;
  if (style.HAlign == GUIStyle::TextHAlign::Center) {
    at.x = pos.x + size.x * 0.5f - room.x * 0.5f;
  } else if (style.HAlign == GUIStyle::TextHAlign::Right) {
    at.x = pos.x + size.x - room.x;
  }
  if (style.VAlign == GUIStyle::TextVAlign::Center) {
    at.y = pos.y + size.y * 0.5f - room.y * 0.5f;
  } else if (style.VAlign == GUIStyle::TextVAlign::Top) {
    at.y = pos.y + size.y - room.y;
  }
  // That is where the block's bottom goes; text is placed by its first line,
  // which sits on top of the others.
  const float lineHeight = CourierNew->MaRoom("", style.TextSize).y;
  at.y += room.y - lineHeight;
  return at;
}

void GUI::DrawText(glm::vec2 pos, glm::vec2 size, GUIStyle* style, std::string text) {
  if (style == nullptr) return;
  const glm::vec2 at = AlignText(pos, size, *style, text);
  DrawText(at, style->TextSize, std::move(text));
}

void GUI::DrawText(glm::vec2 pos, float size, std::string text) {
  if (CourierNew == nullptr) return;
  const TextKey key{text, size};
  Resource<Mesh> mesh;
  auto cached = TextCache.find(key);
  if (cached != TextCache.end()) {
    mesh = cached->second;
  } else {
    // The size is part of the name too: the cache hands out one mesh per name.
    std::ostringstream name;
    name << "GUIGO:" << text << '@' << size;
    mesh = Resources<Mesh>::Make(name.str());
    CourierNew->FillMesh(mesh.Object(), text, size);
    mesh->ToGPU();
    mesh->SubmeshCount = 1;
    TextCache[key] = mesh;
  }
  TextUsed[key] = true;
  UniformBuffer buffer;
  buffer.SetTexture("_MainTex", CourierNew->Texture);
  glm::mat4 model = glm::translate(glm::mat4(1.0f), glm::vec3(pos.x, pos.y, Layer));
  DrawSystem::QueueDrawGUI(mesh, -1, model, model, TextBasic, buffer);
}

// ===========================================================================
// 5. FreeType text
// ===========================================================================

void GUI::draw_bitmap(unsigned char* buffer, int width, int height, FT_Bitmap_* glyph, int x, int y) {
  if (buffer == nullptr || glyph == nullptr || glyph->buffer == nullptr) return;
  const int rows = static_cast<int>(glyph->rows);
  const int columns = static_cast<int>(glyph->width);
  // The pitch, not the width, is the distance between rows (rows may be
  // padded), and a negative pitch means the rows are stored bottom-up.
  const int pitch = glyph->pitch;
  for (int r = 0; r < rows; ++r) {
    const int ty = y + r;
    if (ty < 0 || ty >= height) continue;
    const unsigned char* source = pitch >= 0 ? glyph->buffer + static_cast<ptrdiff_t>(r) * pitch
                                             : glyph->buffer + static_cast<ptrdiff_t>(rows - 1 - r) * -pitch;
    for (int i = 0; i < columns; ++i) {
      const int tx = x + i;
      if (tx < 0 || tx >= width) continue;
      buffer[static_cast<size_t>(ty) * width + tx] |= source[i];
    }
  }
}

void GUI::DrawText(std::string font, glm::vec2 pos, glm::vec2 size, GUIStyle::TextHAlign h, GUIStyle::TextVAlign,
                   float textSize, std::string text) {
  const int W = static_cast<int>(size.x);
  const int H = static_cast<int>(size.y);
  if (library == nullptr) return;

  auto known = FaceCache.find(font);
  if (known == FaceCache.end()) {
    FT_Face opened = nullptr;
    FT_Error error = FT_New_Face(library, font.c_str(), 0, &opened);
    if (error == FT_Err_Unknown_File_Format) {
      std::cout << "... the font file could be opened and read, but it appears\t\t\t  ... that its font format is "
                   "unsupported"
                << std::endl;
    } else if (error != 0) {
      std::cout << "... another error code means that the font file could not\t\t\t  ... be opened or read, or "
                   "that it is broken..."
                << std::endl;
    }
    if (error != 0) opened = nullptr;
    known = FaceCache.emplace(font, opened).first;
  }
  FT_Face face = known->second;
  // A face that failed to open stays cached as null: nothing to draw, and
  // no texture of zero size either.
  if (face == nullptr || W <= 0 || H <= 0 || textSize < 1.0f) return;

  const FancyTextKey key{font, text, textSize, W, H, static_cast<int>(h)};
  auto cached = FancyTextCache.find(key);
  Texbit* texture = nullptr;
  if (cached != FancyTextCache.end()) {
    // Same key, same pixels: the texture is reused as is.
    texture = cached->second;
  } else {
    texture = new Texbit(W, H, TextureFormats::R8);
    texture->Data = new unsigned char[static_cast<size_t>(W) * H]();
    FancyTextCache[key] = texture;

    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(textSize));
    FT_Matrix matrix = {0x10000, 0, 0, 0x10000};
    FT_Vector pen = {0, 0};
    if (h != GUIStyle::TextHAlign::Left) {
      for (unsigned char ch : text) {
        FT_Set_Transform(face, &matrix, &pen);
        if (FT_Load_Char(face, ch, FT_LOAD_DEFAULT) != 0) continue;
        pen.x += face->glyph->advance.x;
        pen.y += face->glyph->advance.y;
      }
      pen.x = static_cast<FT_Pos>(static_cast<int>(W * 0.5f - (pen.x >> 6) * 0.5f)) * 64;
      pen.y = static_cast<FT_Pos>(static_cast<int>(textSize * 0.5f - H * 0.5f)) * 64;
    }
    const int baseline = static_cast<int>(textSize);
    for (unsigned char ch : text) {
      FT_Set_Transform(face, &matrix, &pen);
      if (FT_Load_Char(face, ch, FT_LOAD_RENDER) != 0) continue;
      FT_GlyphSlot slot = face->glyph;
      draw_bitmap(texture->Data, W, H, &slot->bitmap, slot->bitmap_left, baseline - slot->bitmap_top);
      pen.x += slot->advance.x;
      pen.y += slot->advance.y;
    }
  }

  texture->ToGPU();
  if (TextBitmapBasic && Draw::Quad) {
    // The texture reaches the shader through the unit ToGPU bound it to.
    UniformBuffer values;
    values.SetTexture("_MainTex", texture);
    UniformBuffer screen;
    screen.SetMatrix4("_WorldToView", PixelProjection());
    std::vector<UniformBuffer*> buffers = {&values, &screen};
    TextBitmapBasic->Use(&buffers);
    glm::mat4 model = glm::scale(glm::translate(glm::mat4(1.0f), glm::vec3(pos.x, pos.y, Layer)),
                                 glm::vec3(W * 0.5f, H * 0.5f, 1.0f));
    Draw::DrawMesh(Draw::Quad, model, -1);
  }
  FancyTextUsed[key] = true;
}

}  // namespace KestorEngine
