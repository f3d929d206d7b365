#pragma once
// The static drawing layer under both widget sets: styled rectangles
// (rounded corners, a vertical gradient, an outline and a glow, one shader on
// one quad) and text, either from the bitmap font or rasterised by FreeType.
//
// Coordinates are window pixels with the origin at the bottom-left and y up.
// Drawing queues into DrawSystem's GUI queue; the renderer draws that queue
// with an orthographic projection of the window. Text meshes and textures
// are cached by string, marked when drawn and dropped at the end of every
// frame that did not draw them.
#include <map>
#include <string>
#include <tuple>

#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include "engine/Resource.h"
#include "gui/GUIStyle.h"
#include "gui/Typeface.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;
struct FT_Bitmap_;

namespace KestorEngine {

class KestorEngineFlyHahaJk;
class Material;
class Mesh;
class Shader;
class Texbit;
class UniformBuffer;

class GUI {
 public:
  // Start slot 25, update slots 5 and 55, shutdown slot 10.
  static void Attach(KestorEngineFlyHahaJk* engine);

  static std::string Initialize(KestorEngineFlyHahaJk* engine);
  // Clears the drawn-this-frame marks of both text caches.
  static std::string PreUpdate(KestorEngineFlyHahaJk* engine);
  // Drops every cached text that was not drawn since PreUpdate.
  static std::string Update(KestorEngineFlyHahaJk* engine);
  static std::string Deinitialize();

  // Queues a styled rectangle covering pos to pos + size.
  static void DrawStyle(glm::vec2 pos, glm::vec2 size, GUIStyle* style);
  // Draws the same rectangle at once, in window pixels.
  static void DrawStyleNow(glm::vec2 pos, glm::vec2 size, GUIStyle* style);

  // Bitmap-font text placed in the box by the style's size and alignment.
  static void DrawText(glm::vec2 pos, glm::vec2 size, GUIStyle* style, std::string text);
  // Bitmap-font text with its first line's bottom-left corner at pos.
  static void DrawText(glm::vec2 pos, float size, std::string text);
  // FreeType text drawn at once into a box of `size` pixels centred on pos.
  static void DrawText(std::string font, glm::vec2 pos, glm::vec2 size, GUIStyle::TextHAlign h,
                       GUIStyle::TextVAlign v, float textSize, std::string text);

  static void SetLayer(float layer) { Layer = layer; }
  static float GetLayer() { return Layer; }

  // GL state for drawing GUI quads: no depth test, no culling, premultiplied
  // alpha blending, no multisampling. The arguments are not used.
  static void Begin(glm::vec2, glm::vec2);

  // ORs an 8-bit glyph bitmap into a width x height byte buffer with the
  // glyph's top-left at (x, y); what falls outside is dropped.
  static void draw_bitmap(unsigned char* buffer, int width, int height, FT_Bitmap_* glyph, int x, int y);

  // What DrawStyle feeds the shader, kept apart so the maths can be checked.
  static glm::vec4 ButtonCoords(glm::vec2 pos, glm::vec2 size);
  static glm::mat4 RectangleMatrix(glm::vec2 pos, glm::vec2 size);
  // The box-alignment step of DrawText: where the text's bottom-left goes.
  static glm::vec2 AlignText(glm::vec2 pos, glm::vec2 size, const GUIStyle& style, const std::string& text);
  // Pixels (origin bottom-left) of a target of `size` to clip space; without
  // a size, of the window (Shutter). Immediate draws use the window's.
  static glm::mat4 PixelProjection(glm::vec2 size);
  static glm::mat4 PixelProjection();

  // Draws DrawSystem's GUI queue at once, in queue order, over a target of
  // `targetSize` pixels, with the GUI state of Begin. The renderer has its
  // own GUI pass; this one is for programs without it (tools, examples,
  // tests). The queue and the caller's requested GL state are left as they
  // were.
  static void DrawQueuedNow(glm::vec2 targetSize);

  static GUIStyleCollection Default;
  static GUIStyleCollection Bright;

  static GUIStyle DefaultContentStyle;
  static GUIStyle DefaultHoverStyle;
  static GUIStyle DefaultClickStyle;
  static GUIStyle DefaultActiveStyle;
  static GUIStyle BrightContentStyle;
  static GUIStyle BrightHoverStyle;
  static GUIStyle BrightClickStyle;
  static GUIStyle BrightActiveStyle;
  static GUIStyle DarkContentStyle;
  static GUIStyle WhiteLineStyle;
  static GUIStyle KeyframeTemp;

  // Tint multiplied into the top, bottom and glow colours of queued rectangles.
  static glm::vec4 Color;
  // Depth of every GUI quad.
  static float Layer;

  static Resource<Shader> GUIGeneric;
  static Resource<Shader> GUIColorWheel;
  static Resource<Shader> TextBasic;
  static Resource<Shader> TextBitmapBasic;
  static Resource<Material> GenericMat;

  static Typeface* CourierNew;  // owned

  static FT_LibraryRec_* library;
  // Faces opened so far by path; a face that failed to open is kept as null
  // so it is not tried again.
  static std::map<std::string, FT_FaceRec_*> FaceCache;
  // A text's layout depends on its size as much as on its bytes: both are
  // the key, so the same text drawn at two sizes keeps two layouts.
  struct TextKey {
    std::string text;
    float size = 0.0f;
    bool operator<(const TextKey& other) const {
      return std::tie(text, size) < std::tie(other.text, other.size);
    }
  };
  // The pixels of FreeType text also depend on the font, the box they are
  // drawn into and the horizontal alignment.
  struct FancyTextKey {
    std::string font;
    std::string text;
    float size = 0.0f;
    int width = 0;
    int height = 0;
    int align = 0;
    bool operator<(const FancyTextKey& other) const {
      return std::tie(font, text, size, width, height, align) <
             std::tie(other.font, other.text, other.size, other.width, other.height, other.align);
    }
  };
  static std::map<TextKey, Resource<Mesh>> TextCache;
  static std::map<TextKey, bool> TextUsed;
  static std::map<FancyTextKey, Texbit*> FancyTextCache;  // owned, with their pixel buffers
  static std::map<FancyTextKey, bool> FancyTextUsed;

  // Gives the presets their values and builds both themes.
  static void SetUpStyles();
  // Drops the cached texts whose mark is false (all of them when `all`).
  static void SweepTextCaches(bool all);
};

}  // namespace KestorEngine
