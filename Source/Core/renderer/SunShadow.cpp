#include "renderer/SunShadow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "engine/Component.h"
#include "engine/Debug.h"
#include "engine/Resource.h"
#include "render/Draw.h"
#include "render/FrameBuffer.h"
#include "render/Mesh.h"
#include "render/Shader.h"
#include "render/Texbit.h"
#include "renderer/ComputePass.h"
#include "renderer/RenderSettings.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"
#include "scene/Camera.h"
#include "scene/Lighting.h"

namespace KestorEngine {

// ---------------------------------------------------------------------------
// The geometry

namespace SunShadowMath {

std::vector<float> CascadeEnds(float near, float far, int count, float logShare) {
  std::vector<float> ends;
  if (count <= 0) return ends;
  near = std::max(near, 1e-4f);
  far = std::max(far, near * 1.001f);
  logShare = std::clamp(logShare, 0.0f, 1.0f);
  for (int i = 1; i <= count; ++i) {
    const float t = static_cast<float>(i) / static_cast<float>(count);
    const float logarithmic = near * std::pow(far / near, t);
    const float even = near + (far - near) * t;
    ends.push_back(logShare * logarithmic + (1.0f - logShare) * even);
  }
  ends.back() = far;
  return ends;
}

Sphere SliceSphere(const Lens& lens, float n, float f) {
  Sphere s;
  if (lens.Orthographic) {
    const glm::vec4 r = lens.Rect;
    s.Centre = lens.Eye + lens.Right * (0.5f * (r.x + r.z)) + lens.Up * (0.5f * (r.y + r.w)) +
               lens.Forward * (0.5f * (n + f));
    s.Radius = 0.5f * std::sqrt((r.z - r.x) * (r.z - r.x) + (r.w - r.y) * (r.w - r.y) + (f - n) * (f - n));
    return s;
  }
  // The corners at distance d lie k d off the axis. A centre at c along it
  // is as far from the near corners as from the far ones where
  // c = (n + f)(1 + k^2) / 2; past the far end, the far corners alone count.
  const float k2 = lens.TanHalfX * lens.TanHalfX + lens.TanHalfY * lens.TanHalfY;
  const float c = std::min(f, 0.5f * (n + f) * (1.0f + k2));
  s.Centre = lens.Eye + lens.Forward * c;
  s.Radius = std::sqrt(k2 * f * f + (f - c) * (f - c));
  return s;
}

Sphere FitSlice(const Lens& lens, float n, float f, glm::vec3 lo, glm::vec3 hi) {
  const Sphere whole = SliceSphere(lens, n, f);
  glm::vec3 a(std::numeric_limits<float>::max()), b(-std::numeric_limits<float>::max());
  for (int i = 0; i < 8; ++i) {
    const float d = (i & 4) ? f : n;
    glm::vec3 c;
    if (lens.Orthographic) {
      const glm::vec4 r = lens.Rect;
      c = lens.Eye + lens.Forward * d + lens.Right * ((i & 1) ? r.z : r.x) + lens.Up * ((i & 2) ? r.w : r.y);
    } else {
      c = lens.Eye + lens.Forward * d + lens.Right * (((i & 1) ? 1.0f : -1.0f) * lens.TanHalfX * d) +
          lens.Up * (((i & 2) ? 1.0f : -1.0f) * lens.TanHalfY * d);
    }
    a = glm::min(a, c);
    b = glm::max(b, c);
  }
  a = glm::max(a, lo);
  b = glm::min(b, hi);
  if (glm::any(glm::greaterThan(a, b))) return whole;
  Sphere part{0.5f * (a + b), 0.5f * glm::length(b - a)};
  part.Radius = std::exp2(std::ceil(std::log2(std::max(part.Radius, 1e-3f)) * 8.0f) / 8.0f);
  return part.Radius < whole.Radius ? part : whole;
}

glm::mat3 SunAxes(glm::vec3 toSun) {
  const float length = glm::length(toSun);
  const glm::vec3 z = length > 0.0f && std::isfinite(length) ? toSun / length : glm::vec3(0.0f, 0.0f, 1.0f);
  // Any fixed reference works: it only has to stay the same while the sun
  // does. Z up unless the sun stands (almost) overhead.
  const glm::vec3 reference = std::abs(z.z) < 0.99f ? glm::vec3(0.0f, 0.0f, 1.0f) : glm::vec3(0.0f, 1.0f, 0.0f);
  const glm::vec3 x = glm::normalize(glm::cross(reference, z));
  return glm::mat3(x, glm::cross(z, x), z);
}

Square FitSquare(const Sphere& slice, const glm::mat3& axes, int size, int step) {
  Square square;
  step = std::max(step, 1);
  if (size < 4 * step || !(slice.Radius > 0.0f) || !std::isfinite(slice.Radius)) return square;
  // The snapped centre sits up to half a step off the sphere's: a step and a
  // texel of margin keep the whole sphere inside.
  square.HalfWidth = slice.Radius * static_cast<float>(size) / static_cast<float>(size - step - 1);
  square.Texel = 2.0f * square.HalfWidth / static_cast<float>(size);
  const glm::vec3 light = glm::transpose(axes) * slice.Centre;
  const float limit = 1e8f;
  for (int axis = 0; axis < 2; ++axis) {
    const float steps = std::round(light[axis] / (square.Texel * static_cast<float>(step)));
    square.CentreTexels[axis] = std::isfinite(steps) ? static_cast<int>(std::clamp(steps, -limit, limit)) * step : 0;
  }
  return square;
}

DepthRange CoverDepths(float lo, float hi, float step) {
  DepthRange range;
  if (!(step > 0.0f) || !std::isfinite(lo) || !std::isfinite(hi) || lo > hi) return range;
  // A step of margin beyond each end: a caster at the very top must not be
  // cut by the near plane.
  range.Bottom = (std::floor(lo / step) - 1.0f) * step;
  range.Top = (std::ceil(hi / step) + 1.0f) * step;
  return range;
}

TexelRect Union(const TexelRect& a, const TexelRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.X0, b.X0), std::min(a.Y0, b.Y0), std::max(a.X1, b.X1), std::max(a.Y1, b.Y1)};
}

TexelRect Intersection(const TexelRect& a, const TexelRect& b) {
  return {std::max(a.X0, b.X0), std::max(a.Y0, b.Y0), std::min(a.X1, b.X1), std::min(a.Y1, b.Y1)};
}

TexelRect BoxTexels(const Square& square, const glm::mat3& axes, int size, glm::vec3 lo, glm::vec3 hi) {
  if (!(square.Texel > 0.0f)) return {};
  glm::vec2 a(std::numeric_limits<float>::max()), b(-std::numeric_limits<float>::max());
  const glm::mat3 toLight = glm::transpose(axes);
  for (int i = 0; i < 8; ++i) {
    const glm::vec3 corner((i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z);
    const glm::vec2 p = glm::vec2(toLight * corner);
    a = glm::min(a, p);
    b = glm::max(b, p);
  }
  const glm::vec2 origin = square.Centre() - glm::vec2(square.HalfWidth);
  const glm::vec2 first = (a - origin) / square.Texel, last = (b - origin) / square.Texel;
  if (!std::isfinite(first.x) || !std::isfinite(first.y) || !std::isfinite(last.x) || !std::isfinite(last.y)) {
    return {};
  }
  auto texel = [&](float v) { return static_cast<int>(std::clamp(v, -1.0f, static_cast<float>(size) + 1.0f)); };
  const TexelRect box{texel(std::floor(first.x)) - 1, texel(std::floor(first.y)) - 1, texel(std::ceil(last.x)) + 1,
                      texel(std::ceil(last.y)) + 1};
  return Intersection(box, {0, 0, size, size});
}

glm::mat4 SquareClip(const Square& square, const glm::mat3& axes, const DepthRange& depth, const TexelRect& rect) {
  const glm::vec2 origin = square.Centre() - glm::vec2(square.HalfWidth);
  const float t = square.Texel;
  // The light looks down its -z (away from the sun): depth 0 at Top.
  const glm::mat4 view(glm::transpose(axes));
  const glm::mat4 ortho = glm::ortho(origin.x + rect.X0 * t, origin.x + rect.X1 * t, origin.y + rect.Y0 * t,
                                     origin.y + rect.Y1 * t, -depth.Top, -depth.Bottom);
  return ortho * view;
}

TexelRect ChangedTexels(const std::vector<Caster>& before, const std::vector<Caster>& now) {
  TexelRect changed;
  size_t i = 0, j = 0;
  while (i < before.size() || j < now.size()) {
    if (j == now.size() || (i < before.size() && before[i].Signature < now[j].Signature)) {
      changed = Union(changed, before[i++].Texels);
    } else if (i == before.size() || now[j].Signature < before[i].Signature) {
      changed = Union(changed, now[j++].Texels);
    } else {
      ++i;
      ++j;
    }
  }
  return changed;
}

}  // namespace SunShadowMath

// ---------------------------------------------------------------------------
// One camera's shadow map

using namespace SunShadowMath;

namespace {

// The shadow of a caster depends on its mesh, its place and which faces are
// drawn; nothing of its material.
std::uint64_t CasterSignature(const DrawEntry& e) {
  std::uint64_t seed = 0;
  auto mix = [&](std::uint64_t v) { seed ^= v + 0x9e3779b9ull + (seed << 6) + (seed >> 2); };
  const Mesh* mesh = std::get<0>(e).Object();
  mix(reinterpret_cast<std::uintptr_t>(mesh));
  mix(mesh != nullptr ? mesh->Faces.size() * 2 + (mesh->OneSided ? 1 : 0) : 0);
  mix(static_cast<std::uint64_t>(static_cast<std::int64_t>(std::get<1>(e))));
  const glm::mat4& m = std::get<2>(e);
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) {
      std::uint32_t bits;
      std::memcpy(&bits, &m[c][r], sizeof bits);
      mix(bits);
    }
  }
  return seed;
}

bool WorldBounds(const DrawEntry& e, glm::vec3& lo, glm::vec3& hi) {
  const Mesh* mesh = std::get<0>(e).Object();
  if (mesh == nullptr) return false;
  lo = glm::vec3(std::numeric_limits<float>::max());
  hi = glm::vec3(-std::numeric_limits<float>::max());
  for (int i = 0; i < 8; ++i) {
    const glm::vec3 c((i & 1) ? mesh->BoundsMax.x : mesh->BoundsMin.x, (i & 2) ? mesh->BoundsMax.y : mesh->BoundsMin.y,
                      (i & 4) ? mesh->BoundsMax.z : mesh->BoundsMin.z);
    const glm::vec3 w = glm::vec3(std::get<2>(e) * glm::vec4(c, 1.0f));
    lo = glm::min(lo, w);
    hi = glm::max(hi, w);
  }
  return glm::all(glm::lessThanEqual(lo, hi)) && std::isfinite(lo.x + lo.y + lo.z + hi.x + hi.y + hi.z);
}

bool PointsBounds(const std::vector<float>& xyz, glm::vec3& lo, glm::vec3& hi) {
  lo = glm::vec3(std::numeric_limits<float>::max());
  hi = glm::vec3(-std::numeric_limits<float>::max());
  for (size_t k = 0; k + 2 < xyz.size(); k += 3) {
    const glm::vec3 p(xyz[k], xyz[k + 1], xyz[k + 2]);
    if (!std::isfinite(p.x + p.y + p.z)) continue;
    lo = glm::min(lo, p);
    hi = glm::max(hi, p);
  }
  return glm::all(glm::lessThanEqual(lo, hi));
}

// Distances up to the shadows' end grow in quarter octaves, so that walking
// about the scene seldom changes the cascades' sizes.
float QuarterOctaveAbove(float d) { return std::exp2(std::ceil(std::log2(std::max(d, 1e-3f)) * 4.0f) / 4.0f); }

// A cascade's texels `r` once its square moved by `by` texels, clipped to
// the square.
TexelRect Moved(const TexelRect& r, glm::ivec2 by, int size) {
  if (r.Empty()) return r;
  return Intersection({r.X0 + by.x, r.Y0 + by.y, r.X1 + by.x, r.Y1 + by.y}, {0, 0, size, size});
}

bool SameSquare(const Square& a, const Square& b) {
  return a.CentreTexels == b.CentreTexels && a.HalfWidth == b.HalfWidth;
}

// Shared by every camera's map, whose passes run one camera at a time; made
// once and left to the process's end, when the framebuffers' registry and
// the resource cache may already be gone.
FrameBuffer& MapTarget() {
  static FrameBuffer* target = [] {
    auto* f = new FrameBuffer(true, nullptr);
    f->Name = "Sun shadow map";
    return f;
  }();
  return *target;
}
// Held while the program runs: the cache lets go of a shader nobody holds.
Resource<Shader>& MapShader() {
  static auto* shader = new Resource<Shader>();
  if (!*shader) *shader = Resources<Shader>::Get("SunShadowMap");
  return *shader;
}
// Emptied for every camera's lighting: block samples in penumbrae, and
// pixels by edges.
WorkList& Listed(int which) {
  static auto* lists = new std::array<WorkList, 2>();
  return (*lists)[static_cast<size_t>(which)];
}
constexpr int SampleList = 0, EdgeList = 1;

// The columns and rows a square of size texels uncovers moved by shift.
std::vector<TexelRect> UncoveredBy(glm::ivec2 shift, int size) {
  std::vector<TexelRect> uncovered;
  if (shift.x > 0) uncovered.push_back({size - shift.x, 0, size, size});
  if (shift.x < 0) uncovered.push_back({0, 0, -shift.x, size});
  if (shift.y > 0) uncovered.push_back({0, size - shift.y, size, size});
  if (shift.y < 0) uncovered.push_back({0, 0, size, -shift.y});
  return uncovered;
}

}  // namespace

int SunShadow::Side() {
  const int wanted = SunShadowMap->value;
  if (wanted <= 0) return 0;
  return std::clamp(wanted, 8 * Block, MaxSize) / Block * Block;
}
glm::ivec3 SunShadow::AtlasSize() { return Side() > 0 ? glm::ivec3(Side() * Cascades, Side(), 1) : glm::ivec3(0); }
glm::ivec3 SunShadow::BlocksSize() {
  return Side() > 0 ? glm::ivec3(Side() * Cascades / Block, Side() / Block, 1) : glm::ivec3(0);
}
glm::ivec3 SunShadow::CascadeSize() { return Side() > 0 ? glm::ivec3(Side(), Side(), 1) : glm::ivec3(0); }
glm::ivec3 SunShadow::CascadeBlocksSize() {
  return Side() > 0 ? glm::ivec3(Side() / Block, Side() / Block, 1) : glm::ivec3(0);
}

SunShadow& SunShadow::Of(CameraTargets& targets) {
  std::shared_ptr<PassState>& state = targets.States[PassName];
  if (!std::dynamic_pointer_cast<SunShadow>(state)) state = std::make_shared<SunShadow>();
  return static_cast<SunShadow&>(*state);
}

SunShadow* SunShadow::Of(Thing camera) {
  Camera* c = ComponentHandler<Camera>::Get(camera);
  return c != nullptr ? &Of(c->Targets) : nullptr;
}

Lens SunShadow::LensOf(const Camera& c, const glm::mat4& cameraToWorld, float aspect) {
  Lens lens;
  lens.Eye = glm::vec3(cameraToWorld[3]);
  auto unit = [](glm::vec3 v, glm::vec3 fallback) {
    const float l = glm::length(v);
    return l > 0.0f && std::isfinite(l) ? v / l : fallback;
  };
  lens.Forward = unit(-glm::vec3(cameraToWorld[2]), glm::vec3(0.0f, 0.0f, -1.0f));
  lens.Right = unit(glm::vec3(cameraToWorld[0]), glm::vec3(1.0f, 0.0f, 0.0f));
  lens.Up = unit(glm::vec3(cameraToWorld[1]), glm::vec3(0.0f, 1.0f, 0.0f));
  lens.Orthographic = c.Orthographic != 0;
  lens.Rect = c.OrthoRect;
  lens.TanHalfY = std::tan(std::clamp(c.FieldOfView, 1e-3f, 3.1f) * 0.5f);
  lens.TanHalfX = lens.TanHalfY * (std::isfinite(aspect) && aspect > 0.0f ? aspect : 1.0f);
  return lens;
}

SunShadow::Scene SunShadow::Gather(std::vector<DrawEntry>& queue, const Resource<Mesh>* curtain,
                                   const glm::mat3& sunAxes, glm::vec3 eye) {
  Scene scene;
  auto take = [&](glm::vec3 a, glm::vec3 b) {
    float top = -std::numeric_limits<float>::max();
    for (int i = 0; i < 8; ++i) {
      const glm::vec3 c((i & 1) ? b.x : a.x, (i & 2) ? b.y : a.y, (i & 4) ? b.z : a.z);
      const float z = glm::dot(c, sunAxes[2]);
      scene.DepthLo = std::min(scene.DepthLo, z);
      scene.DepthHi = std::max(scene.DepthHi, z);
      top = std::max(top, z);
      scene.Reach = std::max(scene.Reach, glm::distance(c, eye));
    }
    return top;
  };
  // The casters are what the light field voxelises (the things that shade
  // the sun there too) and the curtain; whatever can receive a shadow, what
  // the cameras draw as well.
  for (size_t i = 0; i < queue.size(); ++i) {
    glm::vec3 a, b;
    if (!(std::get<7>(queue[i]) || std::get<8>(queue[i])) || !WorldBounds(queue[i], a, b)) continue;
    scene.Lo = glm::min(scene.Lo, a);
    scene.Hi = glm::max(scene.Hi, b);
    if (!std::get<8>(queue[i])) continue;
    const float top = take(a, b);
    scene.Casters.push_back({static_cast<int>(i), a, b, top, CasterSignature(queue[i])});
  }
  scene.Curtain =
      curtain != nullptr && *curtain && PointsBounds((*curtain)->Vertices, scene.CurtainLo, scene.CurtainHi);
  if (scene.Curtain) {
    take(scene.CurtainLo, scene.CurtainHi);
    scene.Lo = glm::min(scene.Lo, scene.CurtainLo);
    scene.Hi = glm::max(scene.Hi, scene.CurtainHi);
  }
  return scene;
}

bool SunShadow::Render(const Targets& given, std::vector<DrawEntry>& queue, const Resource<Mesh>* curtain,
                       const Lens& lens, float near, float far, const Sky* sky) {
  texelsDrawn = 0;
  const bool sunShines = sky != nullptr && sky->SunStrength > 0.0f && glm::length(sky->SunRadiance()) > 0.0f &&
                         glm::length(sky->SunDirection) > 0.0f;
  const bool whole = given.Atlas != nullptr && given.Still != nullptr && given.Blocks != nullptr && given.Hint != nullptr &&
                     given.ScratchDepth != nullptr && given.ScratchBlocks != nullptr && given.Atlas->StorageMade;
  if (!sunShines || !whole) return false;
  // New textures (made, or remade at a new size) hold nothing yet.
  if (given.Fresh || given.Atlas != maps.Atlas || given.Atlas->Height != size) {
    for (CascadeState& c : cascades) c = CascadeState();
  }
  maps = given;
  size = maps.Atlas->Height;
  const glm::mat3 sunAxes = SunAxes(sky->SunDirection);
  const Scene scene = Gather(queue, curtain, sunAxes, lens.Eye);
  near = std::max(near, 1e-3f);
  far = std::min(far, QuarterOctaveAbove(scene.Reach));
  if (scene.Casters.empty() && !scene.Curtain) return false;
  if (!(far > near)) return false;

  // A new sun or a new depth range changes every texel.
  const DepthRange range = CoverDepths(scene.DepthLo, scene.DepthHi, DepthStep);
  if (sunAxes != axes || range.Top != depth.Top || range.Bottom != depth.Bottom) {
    for (CascadeState& c : cascades) c.Valid = false;
  }
  axes = sunAxes;
  depth = range;

  const std::vector<float> cascadeEnds = CascadeEnds(near, far, Cascades, LogShare);
  std::copy(cascadeEnds.begin(), cascadeEnds.end(), ends.begin());
  forward = lens.Forward;
  tanHalfY = lens.Orthographic ? 0.0f : lens.TanHalfY;
  Redraws redraws;
  float start = near;
  for (int k = 0; k < Cascades; ++k) {
    Plan(k, FitSlice(lens, start, ends[k], scene.Lo, scene.Hi), scene, redraws);
    start = ends[k];
  }
  // All the cascades' redraws in one pass per atlas, then their summaries:
  // a CPU driver waits for its threads at every pass and dispatch.
  if (!redraws.Still.empty()) DrawRects(redraws.Still, maps.Still, queue, nullptr);
  if (!redraws.Map.empty()) {
    CopyStill(redraws.Map);
    DrawRects(redraws.Map, maps.Atlas, queue, curtain);
    Summarise(redraws.Map);
  }
  Publish(*sky);
  return true;
}

std::vector<std::pair<Caster, int>> SunShadow::CastersOver(const Square& square, float floor,
                                                          const Scene& scene) const {
  std::vector<std::pair<Caster, int>> found;
  for (const SceneCaster& h : scene.Casters) {
    if (h.Top < floor) continue;
    const TexelRect texels = BoxTexels(square, axes, size, h.Lo, h.Hi);
    if (!texels.Empty()) found.push_back({{h.Signature, texels}, h.Entry});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return found;
}

void SunShadow::Plan(int k, const Sphere& slice, const Scene& scene, Redraws& redraws) {
  // Whole blocks of the summary at a time: it moves with the square.
  const Square square = FitSquare(slice, axes, size, ScrollStep(size));
  // Casters wholly below the slice's lowest point shade nothing in it.
  const float floor = glm::dot(slice.Centre, axes[2]) - slice.Radius;
  const std::vector<std::pair<Caster, int>> found = CastersOver(square, floor, scene);
  TexelRect curtainTexels;
  if (scene.Curtain) curtainTexels = BoxTexels(square, axes, size, scene.CurtainLo, scene.CurtainHi);

  CascadeState& state = cascades[k];
  // A square of the same size moved by less than its side keeps what it
  // still covers, shifted (the camera walked or turned): only the texels it
  // uncovers are drawn.
  const glm::ivec2 shift = square.CentreTexels - state.Square.CentreTexels;
  const bool scrolls = state.Valid && state.Square.HalfWidth == square.HalfWidth && shift != glm::ivec2(0) &&
                       std::abs(shift.x) < size && std::abs(shift.y) < size;
  const bool whole = !state.Valid || (!SameSquare(state.Square, square) && !scrolls);
  std::vector<TexelRect> uncovered;
  if (whole) {
    uncovered.push_back({0, 0, size, size});
    state.Drawn.clear();
    state.Still.clear();
  } else if (scrolls) {
    Scroll(k, shift);
    for (Caster& c : state.Drawn) c.Texels = Moved(c.Texels, -shift, size);
    for (Caster& c : state.Still) c.Texels = Moved(c.Texels, -shift, size);
    state.Curtain = Moved(state.Curtain, -shift, size);
    uncovered = UncoveredBy(shift, size);
  }
  // A caster is still where it stood as it was the frame before (all of
  // them after a whole redraw); the others move, and are drawn into the
  // atlas alone, every frame, over a copy of the still ones.
  auto among = [](const std::vector<Caster>& list, const Caster& c) {
    return std::binary_search(list.begin(), list.end(), c);
  };
  std::vector<Caster> now, still, moving, rested;
  std::vector<int> stillEntries, movingEntries, restedEntries;
  for (const auto& [caster, entry] : found) {
    now.push_back(caster);
    const bool stands = whole || among(state.Drawn, caster);
    (stands ? still : moving).push_back(caster);
    (stands ? stillEntries : movingEntries).push_back(entry);
    // Come to rest: drawn on top of what the still atlas holds.
    if (stands && !whole && !among(state.Still, caster)) {
      rested.push_back(caster);
      restedEntries.push_back(entry);
    }
  }
  // The still atlas loses the casters that moved or went: their texels are
  // drawn again from the still ones.
  TexelRect lost, restedTexels;
  for (const Caster& c : state.Still) {
    if (!among(still, c)) lost = Union(lost, c.Texels);
  }
  for (const Caster& c : rested) restedTexels = Union(restedTexels, c.Texels);
  auto add = [&](std::vector<Redraw>& to, const TexelRect& rect, const std::vector<Caster>& casters,
                 const std::vector<int>& entries, bool withCurtain, bool clear) {
    if (rect.Empty()) return;
    Redraw r;
    r.Cascade = k;
    r.Rect = rect;
    r.Clear = clear;
    for (size_t i = 0; i < casters.size(); ++i) {
      if (!Intersection(casters[i].Texels, rect).Empty()) r.Entries.push_back(entries[i]);
    }
    r.Curtain = withCurtain && scene.Curtain && !Intersection(curtainTexels, rect).Empty();
    to.push_back(std::move(r));
  };
  for (const TexelRect& rect : uncovered) add(redraws.Still, rect, still, stillEntries, false, true);
  add(redraws.Still, lost, still, stillEntries, false, true);
  add(redraws.Still, restedTexels, rested, restedEntries, false, false);
  std::vector<TexelRect> mapRects = uncovered;
  if (!whole) mapRects.push_back(Union(ChangedTexels(state.Drawn, now), Union(state.Curtain, curtainTexels)));
  for (const TexelRect& rect : mapRects) add(redraws.Map, rect, moving, movingEntries, true, false);
  state.Square = square;
  state.Drawn = std::move(now);
  state.Still = std::move(still);
  state.Curtain = curtainTexels;
  state.Valid = true;
}

void SunShadow::Scroll(int cascade, glm::ivec2 shift) {
  // What stays, in the new square's texels and blocks; GL leaves a copy
  // within one texture undefined where the two overlap, so it goes through
  // a scratch texture.
  auto copy = [&](Texbit* t, Texbit* scratch, int side, glm::ivec2 by) {
    const glm::ivec2 to = glm::max(-by, glm::ivec2(0)), from = to + by;
    const glm::ivec2 extent = glm::ivec2(side) - glm::abs(by);
    const int x = cascade * side;
    glCopyImageSubData(t->ID, GL_TEXTURE_2D, 0, x + from.x, from.y, 0, scratch->ID, GL_TEXTURE_2D, 0, 0, 0, 0,
                       extent.x, extent.y, 1);
    Debug::_CheckGLError("RELEASE", __LINE__);
    glCopyImageSubData(scratch->ID, GL_TEXTURE_2D, 0, 0, 0, 0, t->ID, GL_TEXTURE_2D, 0, x + to.x, to.y, 0, extent.x,
                       extent.y, 1);
    Debug::_CheckGLError("RELEASE", __LINE__);
  };
  copy(maps.Atlas, maps.ScratchDepth, size, shift);
  copy(maps.Still, maps.ScratchDepth, size, shift);
  copy(maps.Blocks, maps.ScratchBlocks, size / Block, shift / Block);
  copy(maps.Hint, maps.ScratchBlocks, size / Block, shift / Block);
}

void SunShadow::CopyStill(const std::vector<Redraw>& redraws) {
  for (const Redraw& r : redraws) {
    const TexelRect& t = r.Rect;
    const int x = r.Cascade * size + t.X0;
    glCopyImageSubData(maps.Still->ID, GL_TEXTURE_2D, 0, x, t.Y0, 0, maps.Atlas->ID, GL_TEXTURE_2D, 0, x, t.Y0, 0,
                       t.X1 - t.X0, t.Y1 - t.Y0, 1);
    Debug::_CheckGLError("RELEASE", __LINE__);
  }
}

void SunShadow::DrawRects(const std::vector<Redraw>& redraws, DepthTexture* into, std::vector<DrawEntry>& queue,
                          const Resource<Mesh>* curtain) {
  Resource<Shader>& shader = MapShader();
  if (!shader) return;
  FrameBuffer& target = MapTarget();
  target.HasDepth = true;
  target.DepthTex = into;
  FrameBuffer::SaveState();
  target.ActivateEmpty(into->Width, into->Height);
  SaneGL::StatePush();
  SaneGL::ColorWrite(false, false, false, false);
  SaneGL::DepthWrite(true);
  SaneGL::Blend(false);
  for (const Redraw& r : redraws) {
    const TexelRect& rect = r.Rect;
    if (into == maps.Atlas) texelsDrawn += static_cast<std::int64_t>(rect.X1 - rect.X0) * (rect.Y1 - rect.Y0);
    // The rect alone: its own viewport and a projection of just its
    // texels, so that nothing outside it is touched.
    SaneGL::Viewport(r.Cascade * size + rect.X0, rect.Y0, rect.X1 - rect.X0, rect.Y1 - rect.Y0);
    SaneGL::CullFace(SaneGL::FaceSide::None);
    // Emptied first by a quad on the far plane: a clear would take the
    // whole atlas with it. Every depth passes GEqual against 1; the state
    // layer's Always switches the test off, and with it the depth writes.
    SaneGL::DepthTest(SaneGL::ValueComparison::GEqual);
    UniformBuffer clip;
    clip.SetMatrix4("_SunShadowClip", SquareClip(cascades[r.Cascade].Square, axes, depth, rect));
    clip.CalculateHash();
    std::vector<UniformBuffer*> buffers = {&clip};
    if (r.Clear) {
      shader->Use("Clear", &buffers);
      Draw::Blit();
    }
    SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);
    // Culled as the G-buffer culls: a one-sided mesh's back faces are
    // behind its front faces from the sun too.
    for (int i : r.Entries) {
      DrawEntry& e = queue[static_cast<size_t>(i)];
      const Mesh* mesh = std::get<0>(e).Object();
      SaneGL::CullFace(mesh != nullptr && mesh->OneSided ? SaneGL::FaceSide::Back : SaneGL::FaceSide::None);
      shader->Use("Depth", &buffers);
      Draw::DrawMesh(std::get<0>(e), std::get<2>(e), std::get<1>(e));
    }
    if (r.Curtain && curtain != nullptr) {
      SaneGL::CullFace(SaneGL::FaceSide::None);
      shader->Use("Depth", &buffers);
      Draw::DrawMesh(*curtain, glm::mat4(1.0f), -1);
    }
  }
  SaneGL::StatePop();
  SaneGL::StateSync();
  FrameBuffer::RestoreState();
}

void SunShadow::Summarise(const std::vector<Redraw>& all) {
  if (!MapShader()) return;
  // The passes take up to 16 rects at a time.
  for (size_t first = 0; first < all.size(); first += 16) {
    const std::vector<Redraw> redraws(all.begin() + first, all.begin() + std::min(all.size(), first + 16));
    SummariseSome(redraws);
  }
}

void SunShadow::SummariseSome(const std::vector<Redraw>& redraws) {
  const int side = size / Block;
  // Per redraw, in blocks of the atlas: the blocks its rect touches, and
  // the blocks whose plain marks read them (two around).
  std::vector<GLint> drawn, marked;
  std::vector<GLfloat> flat;
  glm::ivec2 most(0), mostMarked(0);
  for (const Redraw& r : redraws) {
    const TexelRect& t = r.Rect;
    const TexelRect b = {t.X0 / Block, t.Y0 / Block, (t.X1 + Block - 1) / Block, (t.Y1 + Block - 1) / Block};
    const TexelRect m = Intersection({b.X0 - 2, b.Y0 - 2, b.X1 + 2, b.Y1 + 2}, {0, 0, side, side});
    drawn.insert(drawn.end(), {r.Cascade * side + b.X0, b.Y0, b.X1 - b.X0, b.Y1 - b.Y0});
    marked.insert(marked.end(), {r.Cascade * side + m.X0, m.Y0, m.X1 - m.X0, m.Y1 - m.Y0});
    most = glm::max(most, glm::ivec2(b.X1 - b.X0, b.Y1 - b.Y0));
    mostMarked = glm::max(mostMarked, glm::ivec2(m.X1 - m.X0, m.Y1 - m.Y0));
    flat.push_back(Flatness * cascades[r.Cascade].Square.Texel / (depth.Top - depth.Bottom));
  }
  UniformBuffer inputs;
  inputs.SetTexture("_SunShadowMap", maps.Atlas);
  inputs.SetTexture("_SunShadowBlocks", maps.Blocks);
  inputs.CalculateHash();
  std::vector<UniformBuffer*> buffers = {&inputs};
  const GLsizei count = static_cast<GLsizei>(redraws.size());
  auto run = [&](const char* pass, RenderTexture* out, const char* image, unsigned format,
                 const std::vector<GLint>& rects, glm::ivec2 extent) {
    const unsigned program = UseCompute(*MapShader(), pass, &buffers);
    if (program == 0) return;
    glProgramUniform4iv(program, glGetUniformLocation(program, "_SunShadowRects"), count, rects.data());
    Debug::_CheckGLError("RELEASE", __LINE__);
    glProgramUniform1fv(program, glGetUniformLocation(program, "_SunShadowFlat"), count, flat.data());
    Debug::_CheckGLError("RELEASE", __LINE__);
    glProgramUniform1i(program, glGetUniformLocation(program, "_SunShadowSide"), side);
    Debug::_CheckGLError("RELEASE", __LINE__);
    BindImage(program, image, 0, out, 0, format);
    glDispatchCompute(static_cast<unsigned>((extent.x + 7) / 8), static_cast<unsigned>((extent.y + 7) / 8),
                      static_cast<unsigned>(count));
    Debug::_CheckGLError("RELEASE", __LINE__);
    glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
    Debug::_CheckGLError("RELEASE", __LINE__);
  };
  run("Blocks", maps.Blocks, "_SunShadowBlocksOut", GL_RGBA32F, drawn, most);
  run("Plain", maps.Hint, "_SunShadowHintOut", GL_RGBA32UI, marked, mostMarked);
}

void SunShadow::ResetLists(int w, int h) {
  if (w <= 0 || h <= 0) return;
  const auto pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  const auto blocks = static_cast<std::size_t>((w + 1) / 2) * static_cast<std::size_t>((h + 1) / 2);
  Listed(SampleList).Reset(blocks, 4);
  Listed(EdgeList).Reset(pixels, 2);
  uniforms.SetFloat("_SunShadowPixel", 2.0f * tanHalfY / static_cast<float>(h));
  uniforms.CalculateHash();
}

bool SunShadow::ShadeSamples(Shader& lighting, std::vector<UniformBuffer*>* buffers, RenderTexture* planes) {
  if (planes == nullptr) return false;
  const GLbitfield written = GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_TEXTURE_FETCH_BARRIER_BIT |
                             GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT;
  const unsigned program = UseCompute(lighting, "SunSamples", buffers);
  if (program == 0) return false;
  BindImage(program, "img_plane", 3, planes, 0, GL_RGBA8, GL_READ_WRITE);
  DispatchIndirect(Listed(SampleList).Groups(), written);
  return true;
}

bool SunShadow::ShadeEdges(Shader& lighting, std::vector<UniformBuffer*>* buffers, RenderTexture* out) {
  if (out == nullptr) return false;
  // The pass adds the sun to the light its pixels hold.
  const GLbitfield written = GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_FRAMEBUFFER_BARRIER_BIT |
                             GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT;
  const unsigned program = UseCompute(lighting, "SunEdge", buffers);
  if (program == 0) return false;
  BindImage(program, "img_output", 0, out, 0, GL_RGBA16F, GL_READ_WRITE);
  DispatchIndirect(Listed(EdgeList).Groups(), written);
  return true;
}

void SunShadow::Publish(const Sky& sky) {
  uniforms = UniformBuffer();
  uniforms.SetFloat("_SunShadowOn", 1.0f);
  uniforms.SetTexture("_SunShadowMap", maps.Atlas);
  uniforms.SetTexture("_SunShadowHint", maps.Hint);
  const float range = depth.Top - depth.Bottom;
  // World to the light's x and y (metres) and the map's depth (0 at Top).
  glm::mat4 light(1.0f);
  for (int c = 0; c < 3; ++c) {
    light[c] = glm::vec4(axes[0][c], axes[1][c], -axes[2][c] / range, 0.0f);
  }
  light[3] = glm::vec4(0.0f, 0.0f, depth.Top / range, 1.0f);
  uniforms.SetMatrix4("_SunShadowLight", light);
  glm::mat4 squares(0.0f);
  for (int k = 0; k < Cascades; ++k) {
    const Square& s = cascades[k].Square;
    squares[k] = glm::vec4(s.Centre(), 1.0f / s.HalfWidth, s.Texel);
  }
  uniforms.SetMatrix4("_SunShadowCascades", squares);
  uniforms.SetVector("_SunShadowEnds", glm::vec4(ends[0], ends[1], ends[2], ends[3]));
  uniforms.SetVector("_SunShadowForward", forward);
  // The filter's reach follows the disc's radius; a sun wider than a few
  // degrees (no sun's is) is filtered as one of MaxSunAngle.
  const float radius = std::clamp(sky.SunAngle, 0.0f, MaxSunAngle) * 0.5f * 3.14159265f / 180.0f;
  uniforms.SetVector("_SunShadowParams",
                     glm::vec4(static_cast<float>(Cascades), static_cast<float>(size), range, std::tan(radius)));
  uniforms.CalculateHash();
}

}  // namespace KestorEngine
