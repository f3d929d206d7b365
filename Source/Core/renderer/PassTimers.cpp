#include "renderer/PassTimers.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <cstdio>

#include "engine/Debug.h"
#include "gui/GUI.h"
#include "sanegl/GL.h"

namespace KestorEngine {

namespace {

// Frames in flight before timing skips a frame: llvmpipe finishes a frame by
// its swap, a GPU a frame or two behind.
constexpr int SlotCount = 4;
constexpr float TableRowHeight = 18.0f;
constexpr float TableWidth = 270.0f;

struct Timed {
  int Pass;         // index into Totals
  unsigned Query;   // GL query name
};

struct Slot {
  std::vector<unsigned> Queries;  // made on demand, kept for reuse
  std::vector<Timed> Used;        // this frame's passes, in order
  bool Pending = false;           // ended, results not read yet
};

struct State {
  std::array<Slot, SlotCount> Slots;
  int Writing = 0;      // slot of the frame being recorded
  int Oldest = 0;       // oldest pending slot
  bool Open = false;    // a query is running
  bool Skipping = false;  // this frame has no free slot
  int Probed = -1;        // pass whose CPU is being counted (CpuProbes)
  std::clock_t ProbeStart = 0;
  std::vector<PassTimers::Figure> Totals;
  std::vector<PassTimers::Figure> LastSecond;
  std::vector<double> SecondStart;  // Totals[i].TotalMs when the second began
  long long TimedFrames = 0;
  long long SecondStartFrames = 0;
  std::chrono::steady_clock::time_point SecondBegan = std::chrono::steady_clock::now();
};

State& S() {
  static State* s = new State();
  return *s;
}

int PassIndex(const char* name) {
  State& s = S();
  for (size_t i = 0; i < s.Totals.size(); ++i) {
    if (s.Totals[i].Name == name) return static_cast<int>(i);
  }
  s.Totals.push_back({name, 0.0, 0});
  s.SecondStart.push_back(0.0);
  return static_cast<int>(s.Totals.size()) - 1;
}

bool Ready(unsigned query) {
  GLuint available = 0;
  glGetQueryObjectuiv(query, GL_QUERY_RESULT_AVAILABLE, &available);
  Debug::_CheckGLError("RELEASE", __LINE__);
  return available != 0;
}

void Publish() {
  State& s = S();
  const auto now = std::chrono::steady_clock::now();
  if (now - s.SecondBegan < std::chrono::seconds(1)) return;
  const long long frames = s.TimedFrames - s.SecondStartFrames;
  s.SecondBegan = now;
  if (frames <= 0) return;
  s.LastSecond.clear();
  for (size_t i = 0; i < s.Totals.size(); ++i) {
    const double ms = (s.Totals[i].TotalMs - s.SecondStart[i]) / static_cast<double>(frames);
    s.SecondStart[i] = s.Totals[i].TotalMs;
    if (ms > 0.0) s.LastSecond.push_back({s.Totals[i].Name, ms, static_cast<int>(frames)});
  }
  s.SecondStartFrames = s.TimedFrames;
}

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

}  // namespace

void PassTimers::Begin(const char* name) {
  State& s = S();
  End();
  if (CpuProbes) {
    glFinish();
    Debug::_CheckGLError("RELEASE", __LINE__);
    s.Probed = PassIndex(name);
    s.ProbeStart = std::clock();
  }
  if (!Enabled || s.Skipping) return;
  Slot& slot = s.Slots[s.Writing];
  if (slot.Pending) {
    // Reuse only what GL has answered; otherwise this frame goes untimed.
    Collect();
    if (slot.Pending) {
      s.Skipping = true;
      return;
    }
  }
  const size_t n = slot.Used.size();
  if (n == slot.Queries.size()) {
    unsigned query = 0;
    glGenQueries(1, &query);
    Debug::_CheckGLError("RELEASE", __LINE__);
    slot.Queries.push_back(query);
  }
  slot.Used.push_back({PassIndex(name), slot.Queries[n]});
  glBeginQuery(GL_TIME_ELAPSED, slot.Queries[n]);
  Debug::_CheckGLError("RELEASE", __LINE__);
  s.Open = true;
}

void PassTimers::End() {
  State& s = S();
  if (s.Probed >= 0) {
    glFinish();
    Debug::_CheckGLError("RELEASE", __LINE__);
    s.Totals[s.Probed].CpuMs += 1000.0 * static_cast<double>(std::clock() - s.ProbeStart) / CLOCKS_PER_SEC;
    s.Probed = -1;
  }
  if (!s.Open) return;
  glEndQuery(GL_TIME_ELAPSED);
  Debug::_CheckGLError("RELEASE", __LINE__);
  s.Open = false;
}

void PassTimers::FrameDone() {
  State& s = S();
  End();
  s.Skipping = false;
  Slot& slot = s.Slots[s.Writing];
  if (!slot.Used.empty() && !slot.Pending) {
    slot.Pending = true;
    s.Writing = (s.Writing + 1) % SlotCount;
  }
  Collect();
}

bool PassTimers::Collect() {
  State& s = S();
  bool any = false;
  for (int k = 0; k < SlotCount; ++k) {
    Slot& slot = s.Slots[s.Oldest];
    if (!slot.Pending) break;
    // Queries finish in order: the last one answering means all did.
    if (!Ready(slot.Used.back().Query)) break;
    std::vector<bool> ran(s.Totals.size(), false);
    for (const Timed& t : slot.Used) {
      GLuint64 ns = 0;
      glGetQueryObjectui64v(t.Query, GL_QUERY_RESULT, &ns);
      Debug::_CheckGLError("RELEASE", __LINE__);
      s.Totals[t.Pass].TotalMs += static_cast<double>(ns) * 1e-6;
      ran[t.Pass] = true;
    }
    for (size_t i = 0; i < ran.size(); ++i) {
      if (ran[i]) s.Totals[i].Frames += 1;
    }
    s.TimedFrames += 1;
    slot.Used.clear();
    slot.Pending = false;
    s.Oldest = (s.Oldest + 1) % SlotCount;
    any = true;
  }
  Publish();
  return any;
}

const std::vector<PassTimers::Figure>& PassTimers::Totals() { return S().Totals; }

const std::vector<PassTimers::Figure>& PassTimers::LastSecond() { return S().LastSecond; }

void PassTimers::Reset() {
  State& s = S();
  s = State();
}

glm::vec2 PassTimers::TableSize() {
  return glm::vec2(TableWidth, TableRowHeight * static_cast<float>(S().LastSecond.size() + 2) + 8.0f);
}

void PassTimers::DrawTable(glm::vec2 topRight) {
  const std::vector<Figure>& rows = S().LastSecond;
  if (rows.empty()) return;
  double sum = 0.0;
  for (const Figure& f : rows) sum += f.TotalMs;

  const glm::vec2 size = TableSize();
  const glm::vec2 corner = topRight - size;
  static GUIStyle back = [] {
    GUIStyle b = GUI::Default.Content;
    b.TopColor = b.BottomColor = glm::vec4(0.05f, 0.05f, 0.05f, 0.75f);
    return b;
  }();
  GUI::DrawStyle(corner, size, &back);

  GUIStyle left = GUI::Default.Click;
  left.HAlign = GUIStyle::TextHAlign::Left;
  left.TextSize = 13.0f;
  GUIStyle right = left;
  right.HAlign = GUIStyle::TextHAlign::Right;
  const float x = corner.x + 6.0f;
  auto row = [&](int i, const std::string& name, const std::string& ms, const std::string& share) {
    const float y = topRight.y - 4.0f - TableRowHeight * static_cast<float>(i + 1);
    // The name column holds "Light injection" at this size.
    GUI::DrawText(glm::vec2(x, y), glm::vec2(150.0f, TableRowHeight), &left, name);
    GUI::DrawText(glm::vec2(x + 150.0f, y), glm::vec2(52.0f, TableRowHeight), &right, ms);
    GUI::DrawText(glm::vec2(x + 202.0f, y), glm::vec2(60.0f, TableRowHeight), &right, share);
  };
  row(0, "pass", "ms", "share");
  int i = 1;
  for (const Figure& f : rows) {
    row(i++, f.Name, Format("%.1f", f.TotalMs), Format("%.0f%%", sum > 0.0 ? 100.0 * f.TotalMs / sum : 0.0));
  }
  row(i, "total", Format("%.1f", sum), "");
}

}  // namespace KestorEngine
