#pragma once
// The sun's shadow map for the screen's direct sunlight: cascades over the
// view frustum, each an orthographic view along the sun over a sphere round
// its slice of the frustum, drawn side by side into one depth texture. The
// light field keeps its swept visibility for the light it injects into the
// voxels; the screen passes read this map, whose texels are a few times
// finer than a voxel where the camera looks.
//
// Stability. A cascade's sphere depends on the lens, the cascade's
// distances and the scene's bounds, never on where the camera points but
// where the bounds cut the slice down (and then its radius grows in
// eighths of an octave), so its texels keep their size while the camera
// turns; its centre is snapped to whole blocks of texels of the light's
// fixed axes, so the texel grid stays put in the world while the camera
// moves. Shadow edges then stay where the geometry puts them.
//
// Cost. A CPU rasteriser pays for every texel drawn, so a cascade is drawn
// again only where something changed: the texels under the casters that
// moved, appeared or went since the last frame (the weathervane's turn
// costs its own small square), and where its square moved (the camera
// walked or turned), the rows and columns it uncovered, the rest kept and
// moved. Casters outside a cascade's square, or below everything it holds,
// are not drawn into it. The casters that stood still since the frame
// before are kept apart in a second atlas: where a caster moves, the
// texels it touches are copied from there and it alone is drawn on top, so
// that a turning weathervane does not draw the ground and the house under
// its shadow again every frame. How the lighting reads the map, in steps of
// growing cost taken only where needed, is told in Shaders/SunShadow.glinc.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <glm/mat3x3.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "engine/Thing.h"
#include "render/DrawSystem.h"
#include "render/ShaderUniform.h"
#include "renderer/ComputePass.h"
#include "scene/Camera.h"

namespace KestorEngine {

class DepthTexture;
class RenderTexture;
class Shader;
class Sky;

// ---------------------------------------------------------------------------
// The geometry, without GL

namespace SunShadowMath {

// Where each of `count` cascades ends along the view axis, nearest first:
// a blend of the logarithmic split (texels in step with the pixels they
// serve) and the even one (`logShare` 1 and 0), between `near` and `far`.
std::vector<float> CascadeEnds(float near, float far, int count, float logShare);

// The slice of a camera's view between view distances `n` and `f`, and
// the sphere that holds it, in world space.
struct Lens {
  glm::vec3 Eye{0.0f};
  glm::vec3 Forward{0.0f, 0.0f, -1.0f};  // unit
  glm::vec3 Right{1.0f, 0.0f, 0.0f};     // unit, across the view
  glm::vec3 Up{0.0f, 1.0f, 0.0f};        // unit
  bool Orthographic = false;
  float TanHalfX = 1.0f;  // perspective: tangents of the half angles
  float TanHalfY = 1.0f;
  glm::vec4 Rect{-1.0f, -1.0f, 1.0f, 1.0f};  // orthographic: left, bottom, right, top
};
struct Sphere {
  glm::vec3 Centre{0.0f};
  float Radius = 0.0f;
};
// The smallest sphere centred on the view axis that holds the slice: its
// radius depends on the lens and the distances alone.
Sphere SliceSphere(const Lens& lens, float n, float f);
// A sphere that holds the part of the slice inside the box `lo`..`hi`
// (what can be seen and shaded): SliceSphere, or where the box cuts the
// slice down, a sphere round the box of the two's overlap whose radius grows
// in eighths of an octave, so that turning the camera seldom changes it.
Sphere FitSlice(const Lens& lens, float n, float f, glm::vec3 lo, glm::vec3 hi);

// The light's axes: x and y across the sun's rays, z towards the sun; fixed
// for a sun direction, whatever the camera does.
glm::mat3 SunAxes(glm::vec3 toSun);

// A cascade's square, `size` texels a side, as the light sees it: centre in
// metres along the light's x and y, snapped to whole multiples of `step`
// texels, so that the square moves a step at a time and its texels stay on
// one grid in the world.
struct Square {
  glm::ivec2 CentreTexels{0};  // the centre, in texels of this square's size
  float HalfWidth = 0.0f;      // metres
  float Texel = 0.0f;          // metres
  glm::vec2 Centre() const { return glm::vec2(CentreTexels) * Texel; }
};
Square FitSquare(const Sphere& slice, const glm::mat3& axes, int size, int step = 1);

// The range of the map's depth along the sun: from `top` (nearest the sun,
// depth 0) to `bottom` (depth 1), metres along the light's z.
struct DepthRange {
  float Top = 1.0f;
  float Bottom = 0.0f;
};
// The casters' extent along the sun, `lo` to `hi` (metres along the
// light's z), widened to whole multiples of `step`: a caster that turns
// within it leaves the depths of everything else as they were.
DepthRange CoverDepths(float lo, float hi, float step);

// Texels [X0, X1) x [Y0, Y1) of a cascade; empty when X0 >= X1 or Y0 >= Y1.
struct TexelRect {
  int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
  bool Empty() const { return X0 >= X1 || Y0 >= Y1; }
};
TexelRect Union(const TexelRect& a, const TexelRect& b);
TexelRect Intersection(const TexelRect& a, const TexelRect& b);

// The texels of `square` that a world box's shadow can touch: its corners
// seen along the sun, one texel of margin, clipped to the square.
TexelRect BoxTexels(const Square& square, const glm::mat3& axes, int size, glm::vec3 lo, glm::vec3 hi);

// World to the clip space of texels `rect` of `square`: the whole square
// for the rect (0, 0, size, size).
glm::mat4 SquareClip(const Square& square, const glm::mat3& axes, const DepthRange& depth, const TexelRect& rect);

// What a cascade held when last drawn: one caster per entry, sorted by
// signature. The texels to draw again are those of every caster that is
// not in both lists (moved, new or gone).
struct Caster {
  std::uint64_t Signature = 0;
  TexelRect Texels;
  bool operator<(const Caster& o) const { return Signature < o.Signature; }
};
TexelRect ChangedTexels(const std::vector<Caster>& before, const std::vector<Caster>& now);

}  // namespace SunShadowMath

// ---------------------------------------------------------------------------
// One camera's shadow map

// The camera's cascades as they stand between frames: what each square
// holds and where it lies, and the lists the lighting fills for the
// shadow's own read passes. The textures are the pass table's rows
// ("SunShadowMap" and its summaries), kept in the camera's targets; this is
// kept beside them (CameraTargets::States).
class SunShadow : public PassState {
 public:
  static constexpr int Cascades = 4;
  // The logarithmic share of the cascade split.
  static constexpr float LogShare = 0.75f;
  // The casters' depth range grows in steps of this much (metres).
  static constexpr float DepthStep = 0.5f;
  // The largest map side the setting may ask for (texels).
  static constexpr int MaxSize = 2048;
  // The widest sun disc the filter follows (degrees of diameter).
  static constexpr float MaxSunAngle = 10.0f;
  // The summary's blocks are this many texels a side; map sides are whole
  // multiples of it.
  static constexpr int Block = 4;
  // A block counts as plain while no texel lies further off its plane than
  // this share of a texel.
  static constexpr float Flatness = 0.05f;
  // A square moves in steps of this share of its side (whole blocks): each
  // move costs copies of everything the cascade keeps and a pass over the
  // casters along the strips it uncovers, whatever their width, so moving
  // seldom and far is cheaper than often and little. The margin it needs
  // makes the texels that much larger (about 2 %).
  static constexpr int StepsPerSide = 48;
  static int ScrollStep(int side) { return std::max(Block, side / StepsPerSide / Block * Block); }
  // Where the camera keeps it, by the name of the pass that draws the map.
  static constexpr const char* PassName = "Sun shadow map";

  // The textures the map pass draws into: the atlas (cascade k in texels
  // [k side, (k + 1) side) x [0, side)), the same for the casters that stand
  // still alone, the atlas's block summaries, and one cascade's worth of
  // each for moving what a square keeps.
  struct Targets {
    DepthTexture* Atlas = nullptr;
    DepthTexture* Still = nullptr;
    RenderTexture* Blocks = nullptr;
    RenderTexture* Hint = nullptr;
    DepthTexture* ScratchDepth = nullptr;
    RenderTexture* ScratchBlocks = nullptr;
    // Made this frame: whatever the cascades held is gone.
    bool Fresh = false;
  };

  // The side of a cascade that "Sun Shadow Map" asks for, in whole blocks
  // within the limits; 0 for none.
  static int Side();
  // The sizes of the table's rows under that side (all 0 for none).
  static glm::ivec3 AtlasSize();
  static glm::ivec3 BlocksSize();
  static glm::ivec3 CascadeSize();
  static glm::ivec3 CascadeBlocksSize();

  // The state `targets` keep, made the first time it is asked for.
  static SunShadow& Of(CameraTargets& targets);
  // The same for the camera of Thing `camera` (tests); null without one.
  static SunShadow* Of(Thing camera);
  // A camera's lens placed by its world matrix; `aspect` is width / height.
  static SunShadowMath::Lens LensOf(const Camera& c, const glm::mat4& cameraToWorld, float aspect);

  // Brings the cascades in `maps` up to date for a camera seeing through
  // `lens` between `near` and `far`. `queue` is the frame's sorted scene
  // queue; `curtain`, when not null, the cloth's surface mesh, drawn
  // wherever it is every frame. False when there is nothing to draw (no
  // sun, no caster): the lighting then reads the light field's sunlight.
  bool Render(const Targets& maps, std::vector<DrawEntry>& queue, const Resource<Mesh>* curtain,
              const SunShadowMath::Lens& lens, float near, float far, const Sky* sky);

  // What the lighting programs read: the map and its matrices.
  const UniformBuffer& Uniforms() const { return uniforms; }

  // The lists the lighting fills for the map's costlier steps, emptied for
  // lighting targets of w x h and bound: the "Sparse" pass lists the block
  // samples that may lie in a penumbra wider than a texel (storage buffer
  // binding 4), the full pass the pixels whose block samples do not agree
  // on the sun (binding 2).
  void ResetLists(int w, int h);
  // The "SunSamples" pass of `lighting` after the "Sparse" one: the listed
  // samples' share of the sun into the alpha of `planes`.
  bool ShadeSamples(Shader& lighting, std::vector<UniformBuffer*>* buffers, RenderTexture* planes);
  // The "SunEdge" pass after the full one: the listed pixels' sun added to
  // `target`.
  bool ShadeEdges(Shader& lighting, std::vector<UniformBuffer*>* buffers, RenderTexture* target);

  // The atlas last drawn (tests).
  DepthTexture* Map() const { return maps.Atlas; }
  // Texels of the atlas drawn again in the last Render, all cascades
  // together (for tests and benchmarks: a still scene draws none).
  std::int64_t TexelsDrawn() const { return texelsDrawn; }

 private:
  struct CascadeState {
    SunShadowMath::Square Square;
    std::vector<SunShadowMath::Caster> Drawn;
    // Those of Drawn in the atlas of still casters, sorted as Drawn.
    std::vector<SunShadowMath::Caster> Still;
    SunShadowMath::TexelRect Curtain;  // where the cloth was drawn
    bool Valid = false;
  };

  // A cascade's texels to draw again, and the casters and the curtain
  // found there; emptied first, or drawn on top of what they hold.
  struct Redraw {
    int Cascade = 0;
    SunShadowMath::TexelRect Rect;
    std::vector<int> Entries;  // of the scene queue
    bool Curtain = false;
    bool Clear = true;
  };
  // What a frame draws: into the atlas of still casters first, then into
  // the atlas, each of whose rects starts as a copy of the still one.
  struct Redraws {
    std::vector<Redraw> Still, Map;
  };

  // What the frame's queue holds for the map: the casters with their
  // world boxes, the curtain's, the bounds of all that can be drawn, the
  // casters' extent along the sun and the farthest of them from the eye.
  struct SceneCaster {
    int Entry;
    glm::vec3 Lo, Hi;
    float Top;  // highest point along the light's z
    std::uint64_t Signature;
  };
  struct Scene {
    std::vector<SceneCaster> Casters;
    bool Curtain = false;
    glm::vec3 CurtainLo{0.0f}, CurtainHi{0.0f};
    glm::vec3 Lo{3.4e38f}, Hi{-3.4e38f};
    float DepthLo = 3.4e38f, DepthHi = -3.4e38f;
    float Reach = 0.0f;
  };
  static Scene Gather(std::vector<DrawEntry>& queue, const Resource<Mesh>* curtain, const glm::mat3& sunAxes,
                      glm::vec3 eye);
  // Cascade k's square over `slice` and the texels it must draw again.
  void Plan(int k, const SunShadowMath::Sphere& slice, const Scene& scene, Redraws& redraws);
  // The casters over a square reaching up past floor, sorted by signature,
  // with their draw entries.
  std::vector<std::pair<SunShadowMath::Caster, int>> CastersOver(const SunShadowMath::Square& square, float floor,
                                                                  const Scene& scene) const;
  void DrawRects(const std::vector<Redraw>& redraws, DepthTexture* into, std::vector<DrawEntry>& queue,
                 const Resource<Mesh>* curtain);
  // The still casters' depths under the atlas's rects.
  void CopyStill(const std::vector<Redraw>& redraws);
  // The summary of the blocks under the redrawn texels (and around them,
  // for the plain marks).
  void Summarise(const std::vector<Redraw>& redraws);
  void SummariseSome(const std::vector<Redraw>& redraws);
  // Moves what cascade `cascade` holds (map and summary) by -`shift`
  // texels, its square having moved by `shift` (whole blocks).
  void Scroll(int cascade, glm::ivec2 shift);
  void Publish(const Sky& sky);

  Targets maps;
  int size = 0;
  glm::mat3 axes{1.0f};
  SunShadowMath::DepthRange depth;
  std::array<CascadeState, Cascades> cascades;
  // Where the cascades end along the view axis, and that axis.
  std::array<float, Cascades> ends{};
  glm::vec3 forward{0.0f, 0.0f, -1.0f};
  UniformBuffer uniforms;
  std::int64_t texelsDrawn = 0;
  float tanHalfY = 1.0f;  // the lens's, for the pixels' size
};

}  // namespace KestorEngine
