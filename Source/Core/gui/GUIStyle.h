#pragma once
// The look of a GUI rectangle and of the text drawn in it. Every colour is
// straight (not premultiplied) RGBA; the shader premultiplies.
#include <cstdint>

#include <glm/vec4.hpp>

namespace KestorEngine {

struct GUIStyle {
  // Scoped: both alignments have a Center.
  enum class TextHAlign : int32_t { Left = 0, Center = 1, Right = 2 };
  enum class TextVAlign : int32_t { Top = 0, Center = 1, Bottom = 2 };

  // Corner radii in pixels: top-left, top-right, bottom-right, bottom-left.
  glm::vec4 BorderRadius{2.0f, 5.0f, 2.0f, 2.0f};
  glm::vec4 TopColor{0.2f, 0.2f, 0.2f, 1.0f};
  glm::vec4 BottomColor{0.2f, 0.2f, 0.2f, 1.0f};
  glm::vec4 ContentColor{1.0f, 1.0f, 1.0f, 1.0f};
  glm::vec4 OutlineColor{1.0f, 1.0f, 1.0f, 1.0f};
  float OutlineThickness = 0.0f;  // pixels, drawn inside the rectangle
  glm::vec4 GlowColor{0.0f, 0.0f, 0.0f, 0.0f};
  float TextSize = 14.0f;  // text height in pixels
  TextHAlign HAlign = TextHAlign::Center;
  TextVAlign VAlign = TextVAlign::Center;
};

// The four looks of one widget, picked by interaction state.
struct GUIStyleCollection {
  GUIStyle Content;  // idle
  GUIStyle Hover;    // pointer over the widget
  GUIStyle Click;    // being pressed
  GUIStyle Active;   // selected or being edited

  GUIStyleCollection() = default;
  GUIStyleCollection(const GUIStyle& content, const GUIStyle& hover, const GUIStyle& click,
                     const GUIStyle& active)
      : Content(content), Hover(hover), Click(click), Active(active) {}
};

}  // namespace KestorEngine
