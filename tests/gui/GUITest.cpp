// GUI drawing on a real context: text layout numbers, what a styled
// rectangle queues, text placement in a box, the text cache across frames,
// and pixels of a small panel (rounded corners, outline, text, FreeType).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/FrameBuffer.h"
#include "render/Mesh.h"
#include "render/TextureReadback.h"
#include "sanegl/SaneglFixture.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

class GuiGL : public KestorTest::SaneGLFixture {
 protected:
  void SetUp() override {
    SaneGLFixture::SetUp();
    if (HasFatalFailure()) return;
    Shutter::Width(128.0f);
    Shutter::Height(64.0f);
    Draw::Initialize();
    GUI::Initialize(nullptr);
    DrawSystem::ClearCache();
  }
  void TearDown() override {
    DrawSystem::ClearCache();
    GUI::Deinitialize();
    Draw::Quad = Resource<Mesh>();
    SaneGLFixture::TearDown();
  }

  static const DrawEntry& Queued(size_t n) { return DrawSystem::guidrawthings.at(n); }
  static glm::vec3 Translation(const DrawEntry& e) { return glm::vec3(std::get<2>(e)[3]); }

  // Position of vertex `v` (x, y) in a text mesh.
  static glm::vec2 Vertex(const Mesh& mesh, size_t v) {
    return glm::vec2(mesh.Vertices[v * 3], mesh.Vertices[v * 3 + 1]);
  }
};

// RGBA8 readback of a target drawn by `draw`, rows bottom first.
struct Picture {
  int width, height;
  std::vector<uint8_t> texels;
  const uint8_t* At(int x, int y) const { return &texels[(static_cast<size_t>(y) * width + x) * 4]; }
};

template <typename Drawing>
Picture Render(int w, int h, Drawing draw) {
  FrameBuffer fb(false);
  RenderTexture target(w, h, TextureFormats::RGBA8);
  fb.ActivateRenderTargets({&target});
  SaneGL::ClearColor(glm::vec4(0.0f));
  SaneGL::Clear(SaneGL::ClearTypes::Color);
  draw();
  FrameBuffer::ClearRenderTargets();
  return Picture{w, h, KestorTest::ReadTexels(target, GL_RGBA, GL_UNSIGNED_BYTE, static_cast<size_t>(w) * h * 4)};
}

}  // namespace

TEST_F(GuiGL, BitmapFontLayoutNumbers) {
  Typeface& font = *GUI::CourierNew;
  ASSERT_EQ(font.CellSize, glm::vec2(32.0f, 32.0f));
  ASSERT_EQ(font.GlyphSize, glm::vec2(18.125f, 32.0f));
  EXPECT_EQ(font.MaRoom("", 24.0f), glm::vec2(0.0f, 32.0f));
  // Width is the last line's; height counts every line.
  EXPECT_EQ(font.MaRoom("abc\nd", 12.0f), glm::vec2(9.0625f, 32.0f));
  EXPECT_FLOAT_EQ(font.Width("abc\nde", 24.0f), 36.25f);

  auto mesh = std::make_unique<Mesh>();
  font.FillMesh(mesh.get(), "ab\ncd", 24.0f);
  ASSERT_EQ(mesh->Vertices.size(), 5u * 12);
  ASSERT_EQ(mesh->Faces.size(), 5u * 6);
  EXPECT_TRUE(mesh->HasUV1);
  // 'a' (cell 65: column 1, row 4) on line 0, top-left corner first.
  EXPECT_EQ(Vertex(*mesh, 0), glm::vec2(0.0f, 32.0f));
  EXPECT_EQ(Vertex(*mesh, 3), glm::vec2(18.125f, 0.0f));
  EXPECT_FLOAT_EQ(mesh->UV1[0], 32.0f / 512.0f);
  EXPECT_FLOAT_EQ(mesh->UV1[1], 128.0f / 256.0f);
  EXPECT_FLOAT_EQ(mesh->UV1[6], (32.0f + 18.125f) / 512.0f);
  EXPECT_FLOAT_EQ(mesh->UV1[7], 160.0f / 256.0f);
  const std::vector<uint32_t> firstQuad = {0, 1, 2, 1, 3, 2};
  EXPECT_TRUE(std::equal(firstQuad.begin(), firstQuad.end(), mesh->Faces.begin()));
  // The newline's slot stays empty; 'c' starts line 1, below line 0.
  for (size_t f = 12; f < 24; ++f) EXPECT_EQ(mesh->Vertices[2 * 12 + (f - 12)], 0.0f);
  EXPECT_EQ(Vertex(*mesh, 12), glm::vec2(0.0f, 0.0f));
  EXPECT_EQ(Vertex(*mesh, 15), glm::vec2(18.125f, -32.0f));

  // A control byte and a byte above 127 draw nothing but keep their place.
  font.FillMesh(mesh.get(), std::string("\x01\xC3Z"), 24.0f);
  for (size_t i = 0; i < 24; ++i) EXPECT_EQ(mesh->Vertices[i], 0.0f);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(mesh->Faces[i], 0u);
  EXPECT_EQ(Vertex(*mesh, 8), glm::vec2(36.25f, 32.0f));
}

TEST_F(GuiGL, AtlasNarrowerThanACellDrawsNothingAndSaysSoOnce) {
  Typeface tiny(new Texbit(), glm::vec2(256.0f), glm::vec2(145.0f, 256.0f));  // 8 x 8
  auto mesh = std::make_unique<Mesh>();
  KestorTest::CaptureStdout out;
  tiny.FillMesh(mesh.get(), "Hi", 24.0f);
  tiny.FillMesh(mesh.get(), "Hi", 24.0f);
  EXPECT_TRUE(std::all_of(mesh->Vertices.begin(), mesh->Vertices.end(), [](float v) { return v == 0.0f; }));
  const std::string text = out.Text();
  EXPECT_NE(text.find("narrower than one glyph cell"), std::string::npos);
  EXPECT_EQ(text.find("narrower"), text.rfind("narrower"));
}

TEST_F(GuiGL, StyledRectangleQueuesItsQuadAndCoordinates) {
  GUIStyle style = GUI::DefaultClickStyle;
  GUI::Color = glm::vec4(0.5f, 1.0f, 1.0f, 1.0f);
  GUI::DrawStyle(glm::vec2(10.0f, 10.0f), glm::vec2(100.0f, 20.0f), &style);
  GUI::Color = glm::vec4(1.0f);
  ASSERT_EQ(DrawSystem::guidrawthings.size(), 1u);
  const DrawEntry& e = Queued(0);
  EXPECT_EQ(std::get<0>(e), Draw::Quad);
  EXPECT_EQ(std::get<1>(e), -1);
  EXPECT_EQ(std::get<4>(e), GUI::GUIGeneric);
  const glm::mat4& m = std::get<2>(e);
  EXPECT_EQ(m, std::get<3>(e));
  EXPECT_EQ(Translation(e), glm::vec3(60.0f, 20.0f, -4.0f));
  EXPECT_EQ(glm::vec2(m[0][0], m[1][1]), glm::vec2(50.0f, 10.0f));
  const auto& values = std::get<6>(e).Uniforms;
  EXPECT_EQ(values.at("_ButtonCoords").Vector4Value, glm::vec4(-40.0f, 0.0f, 60.0f, 20.0f));
  EXPECT_EQ(values.at("TopColor").Vector4Value, glm::vec4(0.085f, 0.17f, 0.17f, 1.0f));  // tinted
  EXPECT_EQ(values.at("OutlineColor").Vector4Value, style.OutlineColor);             // not tinted
  EXPECT_EQ(values.at("OutlineThickness").FloatValue, 1.0f);
}

TEST_F(GuiGL, TextAlignsInItsBox) {
  GUIStyle style;
  style.TextSize = 24.0f;  // one texel per pixel: glyphs 18.125 x 32
  const glm::vec2 pos(10.0f, 20.0f), size(200.0f, 100.0f);

  style.HAlign = GUIStyle::TextHAlign::Right;
  style.VAlign = GUIStyle::TextVAlign::Top;
  GUI::DrawText(pos, size, &style, "abc\nd");
  // The last line ends at the right edge; the first line, on top of the
  // block, touches the box's top.
  EXPECT_EQ(Translation(Queued(0)), glm::vec3(210.0f - 18.125f, 120.0f - 32.0f, -4.0f));

  style.HAlign = GUIStyle::TextHAlign::Center;
  style.VAlign = GUIStyle::TextVAlign::Center;
  GUI::DrawText(pos, size, &style, "ab");
  EXPECT_EQ(Translation(Queued(1)), glm::vec3(110.0f - 18.125f, 70.0f - 16.0f, -4.0f));

  style.HAlign = GUIStyle::TextHAlign::Left;
  style.VAlign = GUIStyle::TextVAlign::Bottom;
  GUI::DrawText(pos, size, &style, "ab");
  EXPECT_EQ(Translation(Queued(2)), glm::vec3(10.0f, 20.0f, -4.0f));
  EXPECT_EQ(std::get<4>(Queued(2)), GUI::TextBasic);
  EXPECT_EQ(std::get<6>(Queued(2)).Uniforms.at("_MainTex").TexturePointer, GUI::CourierNew->Texture);
}

TEST_F(GuiGL, TextMeshIsKeptPerSizeWhileDrawnAndDroppedAfterAFrameWithout) {
  auto frame = [](const std::function<void()>& draws) {
    GUI::PreUpdate(nullptr);
    draws();
    DrawSystem::ClearCache();  // slot 46, before the GUI update
    GUI::Update(nullptr);
  };
  // Line height of the text mesh queued n-th this frame.
  auto queuedHeight = [](size_t n) { return std::get<0>(Queued(n))->Vertices[1]; };
  const float small = 14.0f / 24.0f * 32.0f, large = 28.0f / 24.0f * 32.0f;

  frame([&] {
    GUI::DrawText(glm::vec2(0.0f), 14.0f, "hello");
    GUI::DrawText(glm::vec2(0.0f, 30.0f), 28.0f, "hello");
    EXPECT_FLOAT_EQ(queuedHeight(0), small);
    EXPECT_FLOAT_EQ(queuedHeight(1), large) << "each size keeps its own layout";
  });
  ASSERT_EQ(GUI::TextCache.size(), 2u);
  Resource<Mesh> kept = GUI::TextCache.begin()->second;
  frame([&] {
    GUI::DrawText(glm::vec2(0.0f), 14.0f, "hello");
    GUI::DrawText(glm::vec2(0.0f), 28.0f, "hello");
    EXPECT_TRUE(std::get<0>(Queued(0)) == kept || std::get<0>(Queued(1)) == kept) << "reused while drawn";
  });
  EXPECT_EQ(GUI::TextCache.size(), 2u);

  frame([] { GUI::DrawText(glm::vec2(0.0f), 14.0f, "other"); });
  EXPECT_EQ(GUI::TextCache.size(), 1u);
  EXPECT_EQ(GUI::TextUsed.size(), 1u);
  EXPECT_EQ(Resources<Mesh>::Count(kept.Name()), 1) << "only this handle is left";
}

TEST_F(GuiGL, PanelPixelsShowCornersOutlineAndText) {
  GUIStyle panel;
  panel.BorderRadius = glm::vec4(12.0f);
  panel.TopColor = panel.BottomColor = glm::vec4(0.2f, 0.4f, 0.6f, 1.0f);
  panel.OutlineColor = glm::vec4(1.0f, 0.0f, 0.0f, 1.0f);
  panel.OutlineThickness = 1.0f;
  GUIStyle fade = panel;
  fade.BorderRadius = glm::vec4(0.0f);
  fade.OutlineThickness = 0.0f;
  fade.TopColor = glm::vec4(1.0f, 1.0f, 1.0f, 1.0f);
  fade.BottomColor = glm::vec4(1.0f, 1.0f, 1.0f, 0.0f);

  Picture picture = Render(128, 64, [&] {
    GUI::DrawStyle(glm::vec2(4.0f, 4.0f), glm::vec2(120.0f, 28.0f), &panel);
    GUI::DrawStyle(glm::vec2(100.0f, 36.0f), glm::vec2(20.0f, 20.0f), &fade);
    GUI::DrawText(glm::vec2(8.0f, 36.0f), 18.0f, "Hi");
    GUI::DrawQueuedNow(glm::vec2(128.0f, 64.0f));
    GUIStyle now = fade;
    now.TopColor = now.BottomColor = glm::vec4(0.0f, 1.0f, 0.0f, 1.0f);
    GUI::Begin(glm::vec2(0.0f), glm::vec2(128.0f, 64.0f));
    GUI::DrawStyleNow(glm::vec2(0.0f, 40.0f), glm::vec2(6.0f, 6.0f), &now);  // drawn at once, on top
  });

  auto rgba = [&](int x, int y) {
    const uint8_t* p = picture.At(x, y);
    return glm::ivec4(p[0], p[1], p[2], p[3]);
  };
  EXPECT_EQ(rgba(4, 4), glm::ivec4(0));         // rounded corner: nothing drawn
  EXPECT_EQ(rgba(123, 31), glm::ivec4(0));      // top-right corner too
  EXPECT_EQ(rgba(64, 4), glm::ivec4(255, 0, 0, 255));   // outline on the bottom edge
  EXPECT_EQ(rgba(123, 18), glm::ivec4(255, 0, 0, 255));  // and on the right edge
  const glm::ivec4 fill = rgba(64, 18);
  EXPECT_NEAR(fill.r, 51, 1);
  EXPECT_NEAR(fill.g, 102, 1);
  EXPECT_NEAR(fill.b, 153, 1);
  EXPECT_EQ(fill.a, 255);
  EXPECT_EQ(rgba(64, 5), glm::ivec4(fill.r, fill.g, fill.b, 255));  // outline is exactly 1 pixel
  // Premultiplied gradient: white fading to nothing towards the bottom.
  EXPECT_GT(rgba(110, 54).a, 200);
  EXPECT_LT(rgba(110, 37).a, 30);
  EXPECT_EQ(rgba(110, 54).r, rgba(110, 54).a);

  int lit = 0;
  for (int y = 36; y < 60; ++y) {
    for (int x = 8; x < 32; ++x) lit += rgba(x, y).a > 128 ? 1 : 0;
  }
  EXPECT_GT(lit, 20);  // "Hi" at 18 px
  EXPECT_EQ(rgba(126, 62), glm::ivec4(0));
  EXPECT_EQ(rgba(2, 42), glm::ivec4(0, 255, 0, 255));
  EXPECT_EQ(rgba(7, 42), glm::ivec4(0));
}

TEST_F(GuiGL, FreeTypeTextIsDrawnCachedAndSwept) {
  const std::string font = "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf";
  if (!std::ifstream(font).good()) GTEST_SKIP() << "fonts-liberation is not installed";
  GUI::PreUpdate(nullptr);
  Picture picture = Render(128, 64, [&] {
    GUI::Begin(glm::vec2(0.0f), glm::vec2(128.0f, 64.0f));
    GUI::DrawText(font, glm::vec2(64.0f, 32.0f), glm::vec2(128.0f, 64.0f), GUIStyle::TextHAlign::Center,
                  GUIStyle::TextVAlign::Center, 24.0f, "Kestor");
    GUI::DrawText(font, glm::vec2(64.0f, 32.0f), glm::vec2(128.0f, 64.0f), GUIStyle::TextHAlign::Center,
                  GUIStyle::TextVAlign::Center, 24.0f, "Kestor");
  });
  EXPECT_EQ(GUI::FancyTextCache.size(), 1u);
  // Another size is other pixels, not the cached ones.
  GUI::DrawText(font, glm::vec2(64.0f, 32.0f), glm::vec2(128.0f, 64.0f), GUIStyle::TextHAlign::Center,
                GUIStyle::TextVAlign::Center, 12.0f, "Kestor");
  EXPECT_EQ(GUI::FancyTextCache.size(), 2u);
  int lit = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 128; ++x) lit += picture.At(x, y)[3] > 128 ? 1 : 0;
  }
  EXPECT_GT(lit, 40);

  GUI::Update(nullptr);
  EXPECT_EQ(GUI::FancyTextCache.size(), 2u);
  GUI::PreUpdate(nullptr);
  GUI::Update(nullptr);
  EXPECT_TRUE(GUI::FancyTextCache.empty());
  EXPECT_TRUE(GUI::FancyTextUsed.empty());
}

TEST_F(GuiGL, UnreadableFontIsReportedOnceAndDrawsNothing) {
  KestorTest::CaptureStdout out;
  for (int i = 0; i < 2; ++i) {
    GUI::DrawText("no/such/font.ttf", glm::vec2(10.0f), glm::vec2(64.0f, 32.0f), GUIStyle::TextHAlign::Left,
                  GUIStyle::TextVAlign::Top, 14.0f, "x");
  }
  const std::string text = out.Text();
  EXPECT_NE(text.find("could not\t\t\t  ... be opened or read"), std::string::npos);
  EXPECT_EQ(text.find("could not"), text.rfind("could not"));
  EXPECT_EQ(GUI::FaceCache.at("no/such/font.ttf"), nullptr);
  EXPECT_TRUE(GUI::FancyTextCache.empty());
}

TEST(GlyphBitmap, OrsIntoTheBufferAndClipsAtItsEdges) {
  unsigned char pixels[2 * 3] = {1, 2, 3, 4, 5, 6};  // 3 wide, 2 rows, top row first
  FT_Bitmap glyph{};
  glyph.rows = 2;
  glyph.width = 3;
  glyph.pitch = 3;
  glyph.buffer = pixels;
  std::vector<unsigned char> buffer(4 * 4, 0);
  buffer[3 * 4 + 2] = 0x10;
  GUI::draw_bitmap(buffer.data(), 4, 4, &glyph, 2, 3);  // hangs off the right and the bottom
  EXPECT_EQ(buffer[3 * 4 + 2], 0x11);
  EXPECT_EQ(buffer[3 * 4 + 3], 2);
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), 14);

  std::fill(buffer.begin(), buffer.end(), 0);
  glyph.pitch = -3;  // rows stored bottom-up
  GUI::draw_bitmap(buffer.data(), 4, 4, &glyph, -1, 0);
  EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 8),
            std::vector<unsigned char>({5, 6, 0, 0, 2, 3, 0, 0}));
}
