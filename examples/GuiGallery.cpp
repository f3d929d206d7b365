// The immediate-mode widgets in a window of their own: a button, a toggle row,
// a slider row, a text field and a colour wheel, with text reporting their
// values. There is no renderer here, so the gallery draws the GUI queue
// itself in the renderer's update slot. Every change is also printed, one
// line each, so scripted clicks can be checked from the console.
//
//   GuiGallery [width height]     (default 640 x 360; Escape quits)
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "engine/CVar.h"
#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"
#include "render/DrawSystem.h"
#include "render/FrameBuffer.h"
#include "sanegl/SaneGL.h"
#include "scene/InputSystem.h"

using namespace KestorEngine;

namespace {

// The renderer's slot: its GUI pass would draw the queue here.
constexpr size_t DrawSlot = 45;

struct Gallery {
  KestorEngineFlyHahaJk* engine = nullptr;
  int clicks = 0;
  CVar<bool>* showGrid = nullptr;
  CVar<float>* blend = nullptr;
  std::string name = "Kestor";
  glm::vec3 colour{0.2f, 0.6f, 1.0f};
  // What was last printed, so that only changes are reported.
  bool shownGrid = false;
  float shownBlend = -1.0f;
};

Gallery gallery;

std::string Fixed(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

void DrawWidgets(float width, float height) {
  GUIStyle panel = GUI::DarkContentStyle;
  panel.BorderRadius = glm::vec4(6.0f);
  GUI::DrawStyle(glm::vec2(10.0f, 10.0f), glm::vec2(320.0f, height - 20.0f), &panel);

  GUIStyle heading = GUI::Default.Click;
  heading.HAlign = GUIStyle::TextHAlign::Left;
  heading.TextSize = 20.0f;
  GUI::DrawText(glm::vec2(25.0f, height - 50.0f), glm::vec2(290.0f, 30.0f), &heading, "Widget gallery");

  // Rows from the top, 24 pixels high like the control panel's.
  float y = height - 90.0f;
  if (IMGUI::Button(glm::vec2(25.0f, y), glm::vec2(290.0f, 28.0f), "Click me", nullptr) == 3) {
    ++gallery.clicks;
    std::cout << "clicks=" << gallery.clicks << std::endl;
  }
  y -= 40.0f;
  gallery.showGrid->DrawGUI(glm::vec2(25.0f, y), glm::vec2(290.0f, 24.0f));
  y -= 36.0f;
  gallery.blend->DrawGUI(glm::vec2(25.0f, y), glm::vec2(290.0f, 24.0f));
  y -= 36.0f;
  if (IMGUI::TextInput(glm::vec2(25.0f, y), glm::vec2(290.0f, 24.0f), &gallery.name, false) == 3) {
    std::cout << "name=" << gallery.name << std::endl;
  }

  GUIStyle report = GUI::Default.Content;
  report.HAlign = GUIStyle::TextHAlign::Left;
  y -= 40.0f;
  GUI::DrawText(glm::vec2(25.0f, y), glm::vec2(290.0f, 24.0f), &report, "Clicks: " + std::to_string(gallery.clicks));
  y -= 20.0f;
  GUI::DrawText(glm::vec2(25.0f, y), glm::vec2(290.0f, 24.0f), &report,
                std::string("Show Grid: ") + (gallery.showGrid->value ? "on" : "off"));
  y -= 20.0f;
  GUI::DrawText(glm::vec2(25.0f, y), glm::vec2(290.0f, 24.0f), &report, "Blend: " + Fixed(gallery.blend->value));
  y -= 20.0f;
  GUI::DrawText(glm::vec2(25.0f, y), glm::vec2(290.0f, 24.0f), &report, "Name: " + gallery.name);

  if (width > 520.0f) {
    IMGUI::ColorWheel(glm::vec2(360.0f, height - 190.0f), glm::vec2(160.0f, 160.0f), &gallery.colour);
    GUIStyle swatch = GUIStyle();
    swatch.TopColor = swatch.BottomColor = glm::vec4(gallery.colour, 1.0f);
    GUI::DrawStyle(glm::vec2(360.0f, height - 230.0f), glm::vec2(160.0f, 28.0f), &swatch);
  }

  if (gallery.showGrid->value != gallery.shownGrid) {
    gallery.shownGrid = gallery.showGrid->value;
    std::cout << "toggle=" << (gallery.shownGrid ? "true" : "false") << std::endl;
  }
  if (Fixed(gallery.blend->value) != Fixed(gallery.shownBlend)) {
    gallery.shownBlend = gallery.blend->value;
    std::cout << "blend=" << Fixed(gallery.shownBlend) << std::endl;
  }
}

std::string DrawFrame() {
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(gallery.engine->window->window, &w, &h);
  Shutter::Width(static_cast<float>(w));
  Shutter::Height(static_cast<float>(h));

  FrameBuffer::ClearRenderTargets();
  SaneGL::Viewport(0, 0, w, h);
  SaneGL::ClearColor(glm::vec4(0.10f, 0.11f, 0.13f, 1.0f));
  SaneGL::Clear(SaneGL::ClearTypes::Color);

  DrawWidgets(static_cast<float>(w), static_cast<float>(h));
  GUI::DrawQueuedNow(glm::vec2(static_cast<float>(w), static_cast<float>(h)));
  SDL_GL_SwapWindow(gallery.engine->window->window);
  // No vertical sync under a virtual display: keep the loop from spinning.
  SDL_Delay(15);
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  glm::vec2 size(640.0f, 360.0f);
  if (argc == 3) size = glm::vec2(std::strtof(argv[1], nullptr), std::strtof(argv[2], nullptr));

  auto* engine = new KestorEngineFlyHahaJk();
  gallery.engine = engine;
  // Registered before Initialize reads them: a window, not the full screen.
  CVarHandler::Create<glm::vec2>("Screen Resolution", size)->value = size;
  CVarHandler::Create<bool>("Fullscreen", false)->value = false;
  gallery.showGrid = CVarHandler::Create<bool>("Show Grid", false);
  gallery.blend = CVarHandler::Create<float>("Blend", 0.2f);

  engine->PrepareStageLists();
  InputSystem::Attach(engine);
  GUI::Attach(engine);
  IMGUI::Attach(engine);
  DrawSystem::Attach(engine);
  engine->UpdateList[DrawSlot] = [] { return DrawFrame(); };

  engine->Initialize();
  // The window starts in relative mouse mode for the fly camera; the
  // gallery wants a free pointer.
  SDL_SetRelativeMouseMode(SDL_FALSE);
  SaneGL::StateSyncForce();
  std::cout << std::endl << "gallery ready" << std::endl;

  engine->RunGame();
  delete engine;
  return 0;
}
