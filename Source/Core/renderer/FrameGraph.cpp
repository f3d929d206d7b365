#include "renderer/FrameGraph.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/Resource.h"
#include "gui/GUI.h"
#include "render/DrawSystem.h"
#include "render/Mesh.h"
#include "renderer/PassTimers.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"

namespace KestorEngine {

namespace {

std::string Format(const char* format, double value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

GUIStyle Plain(glm::vec4 bottom, glm::vec4 top) {
  GUIStyle s = GUI::Default.Content;
  s.BorderRadius = glm::vec4(0.0f);
  s.OutlineThickness = 0.0f;
  s.GlowColor = glm::vec4(0.0f);
  s.BottomColor = bottom;
  s.TopColor = top;
  return s;
}

// The bars are one mesh, rebuilt each frame in the -1 to 1 square that the
// rectangle shader fills (its gradient then runs up the bars: short ones
// green, tall ones red): one draw however many frames are shown.
void QueueBars(glm::vec2 pos, glm::vec2 size, const std::deque<float>& times, float scaleMs) {
  static Resource<Mesh> bars = Resources<Mesh>::Make("FrameGraph");
  Mesh& m = *bars;
  m.Vertices.clear();
  m.Faces.clear();
  m.UV1.clear();
  const float width = 2.0f / static_cast<float>(FrameGraph::KeptFrames);
  // The newest frame at the right edge.
  const float first = 1.0f - width * static_cast<float>(times.size());
  for (size_t i = 0; i < times.size(); ++i) {
    const float x0 = first + width * static_cast<float>(i), x1 = x0 + width;
    const float top = -1.0f + 2.0f * std::clamp(times[i] / scaleMs, 0.0f, 1.0f);
    const auto base = static_cast<uint32_t>(m.Vertices.size() / 3);
    m.Vertices.insert(m.Vertices.end(), {x0, top, 0.0f, x1, top, 0.0f, x1, -1.0f, 0.0f, x0, -1.0f, 0.0f});
    m.UV1.insert(m.UV1.end(), {0, 1, 1, 1, 1, 0, 0, 0});
    m.Faces.insert(m.Faces.end(), {base, base + 2, base + 1, base, base + 3, base + 2});
  }
  m.HasUV1 = true;
  m.SubmeshCount = 1;
  m.SubmeshStarts = {0};
  m.SubmeshCounts = {static_cast<int32_t>(m.Faces.size())};
  if (m.ToGPU() == 0) return;
  GUIStyle style = Plain(glm::vec4(0.35f, 0.85f, 0.4f, 0.9f), glm::vec4(0.95f, 0.3f, 0.25f, 0.9f));
  UniformBuffer buffer;
  buffer.SetVector("BorderRadius", style.BorderRadius);
  buffer.SetVector("TopColor", style.TopColor);
  buffer.SetVector("BottomColor", style.BottomColor);
  buffer.SetVector("GlowColor", style.GlowColor);
  buffer.SetFloat("OutlineThickness", 0.0f);
  buffer.SetVector("OutlineColor", style.OutlineColor);
  buffer.SetVector("_ButtonCoords", GUI::ButtonCoords(pos, size));
  const glm::mat4 model = GUI::RectangleMatrix(pos, size);
  DrawSystem::QueueDrawGUI(bars, -1, model, model, GUI::GUIGeneric, buffer);
}

float PassTotalMs() {
  double sum = 0.0;
  for (const PassTimers::Figure& f : PassTimers::LastSecond()) sum += f.TotalMs;
  return static_cast<float>(sum);
}

}  // namespace

void FrameGraph::Record(float now) {
  if (last >= 0.0f && now >= last) {
    times.push_back(1000.0f * (now - last));
    if (times.size() > KeptFrames) times.pop_front();
  }
  last = now;
}

void FrameGraph::Reset() {
  times.clear();
  last = -1.0f;
}

float FrameGraph::ScaleFor(const std::deque<float>& times, float targetMs) {
  float top = targetMs > 0.0f ? 1.25f * targetMs : 0.0f;
  // The slowest frames but a tenth: the start-up's frames of seconds would
  // flatten every other bar for as long as they are shown. Those reach the
  // top.
  std::vector<float> finite;
  for (float t : times) {
    if (std::isfinite(t)) finite.push_back(t);
  }
  if (!finite.empty()) {
    const size_t kept = finite.size() - finite.size() / 10;
    std::nth_element(finite.begin(), finite.begin() + static_cast<std::ptrdiff_t>(kept - 1), finite.end());
    top = std::max(top, finite[kept - 1]);
  }
  // 1, 2 or 5 times a power of ten, from 10 ms up.
  for (float decade = 10.0f;; decade *= 10.0f) {
    for (float step : {1.0f, 2.0f, 5.0f}) {
      if (step * decade >= top || decade > 1e6f) return step * decade;
    }
  }
}

void FrameGraph::Draw(glm::vec2 pos, glm::vec2 size) {
  if (size.x <= 0.0f || size.y <= TextRows) return;
  static GUIStyle back = Plain(glm::vec4(0.05f, 0.05f, 0.05f, 0.75f), glm::vec4(0.05f, 0.05f, 0.05f, 0.75f));
  static GUIStyle line = Plain(glm::vec4(1.0f, 1.0f, 1.0f, 0.6f), glm::vec4(1.0f, 1.0f, 1.0f, 0.6f));
  GUIStyle text = GUI::Default.Click;
  text.HAlign = GUIStyle::TextHAlign::Left;
  GUI::DrawStyle(pos, size, &back);

  // The target the scale follows, if any, as a line across the bars.
  const float target = TargetFrameTime->value > 0.0f ? TargetFrameTime->value
                       : AutoRenderScale->value       ? AutoFrameTimeMs
                                                      : 0.0f;
  const float scale = ScaleFor(times, target);
  const glm::vec2 barsPos = pos + glm::vec2(4.0f);
  const glm::vec2 barsSize = size - glm::vec2(8.0f, 8.0f + TextRows);
  QueueBars(barsPos, barsSize, times, scale);
  if (target > 0.0f && target < scale) {
    GUI::DrawStyle(barsPos + glm::vec2(0.0f, std::floor(barsSize.y * target / scale)), glm::vec2(barsSize.x, 1.0f),
                   &line);
  }

  // The second's mean frame time (what the scale follows) and its rate,
  // the pass timers' total, the scale, and what the bars' height means.
  const float frameMs = RenderSystem::lastFPS;
  const std::string rows[] = {
      Format("%.0f ms a frame, ", frameMs) + Format("%.1f fps", 1000.0 / std::max(frameMs, 1e-3f)),
      Format("passes %.0f ms, ", PassTotalMs()) + Format("scale %.2f", RenderScale->value),
      Format("top %.0f ms", scale) + (target > 0.0f ? Format(", line %.0f ms", target) : std::string()),
  };
  const glm::vec2 row(size.x - 8.0f, TextRows / 3.0f);
  float y = pos.y + size.y - 2.0f;
  for (const std::string& figures : rows) {
    y -= row.y;
    GUI::DrawText(glm::vec2(pos.x + 4.0f, y), row, &text, figures);
  }
}

}  // namespace KestorEngine
