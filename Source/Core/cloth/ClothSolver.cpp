// The solver: links, self-collision pushes and scene contacts swept
// Gauss-Seidel style over predicted positions, friction, substeps, the
// fixed step and its clock.
#include <algorithm>
#include <cmath>
#include <limits>

#include <glm/common.hpp>
#include <glm/geometric.hpp>
#include <glm/vec4.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cloth/Cloth.h"
#include "cloth/ClothWork.h"

namespace KestorEngine {

using namespace ClothConstants;
using namespace ClothDetail;

namespace {

// Links that share no particle do not wait on each other: sweeping one colour
// after another lets the processor overlap their square roots instead of
// running one long dependent chain down each strand.
void ColourLinks(const std::vector<DistanceConstraint>& constraints, Scratch& w) {
  std::uint32_t highest = 0;
  for (const DistanceConstraint& c : constraints) highest = std::max({highest, c.A, c.B});
  std::vector<std::uint32_t> taken(constraints.empty() ? 0 : highest + 1, 0);
  std::vector<std::uint8_t> colour(constraints.size());
  std::uint32_t perColour[32] = {};
  for (std::size_t k = 0; k < constraints.size(); ++k) {
    colour[k] = TakeColour(taken, constraints[k].A, constraints[k].B);
    ++perColour[colour[k]];
  }
  std::uint32_t start[32];
  std::uint32_t running = 0;
  for (int c = 0; c < 32; ++c) {
    start[c] = running;
    running += perColour[c];
  }
  w.linkOrder.resize(constraints.size());
  for (std::size_t k = 0; k < constraints.size(); ++k) w.linkOrder[start[colour[k]]++] = static_cast<std::uint32_t>(k);
  w.colourEnd.assign(start, start + 32);
  w.orderedFrom = constraints.size();
}

glm::vec3 At(const glm::vec3& p) { return p; }
glm::vec3 At(const glm::vec4& p) { return glm::vec3(p); }
void Move(glm::vec3& p, const glm::vec3& by) { p += by; }
void Move(glm::vec4& p, const glm::vec3& by) { p += glm::vec4(by, 0.0f); }

// One link between predicted positions: full stiffness pulls the ends to the
// rest length (squeezed ones back by CompressionStiffness only), each end by
// its share; a push only ever pushes apart.
template <bool PushOnly, typename Point>
void SolveLink(Point* p, std::uint32_t a, std::uint32_t b, float rest, float shareA, float shareB, float k) {
  const Point d = p[a] - p[b];
  const float length2 = glm::dot(d, d);
  // Coincident particles give no direction to move along; leave them for
  // another constraint to separate rather than spread NaN.
  if (!(length2 > 0.0f)) return;
  const float length = std::sqrt(length2);
  const float e0 = (length - rest) / length;
  // Written without branches: in a heap, stretched and squeezed links
  // alternate at random and a mispredicted branch costs more than both.
  const float e = k * (PushOnly ? std::min(e0, 0.0f) : std::max(e0, 0.0f) + CompressionStiffness * std::min(e0, 0.0f));
  p[a] -= shareA * e * d;
  p[b] += shareB * e * d;
}

// A stiffness k below 1 takes 1 - (1 - k)^(1 / (iteration + 1)) of the
// correction at each sweep.
float SweepStiffness(float stiffness, int iteration) {
  if (stiffness >= 1.0f) return 1.0f;
  return 1.0f - std::pow(1.0f - std::max(stiffness, 0.0f), 1.0f / static_cast<float>(iteration + 1));
}

template <bool PushOnly, typename Point>
void SolveLinks(const std::vector<Link>& links, Point* p, int iteration) {
  for (const Link& link : links) {
    SolveLink<PushOnly>(p, link.A, link.B, link.RestLength, link.ShareA, link.ShareB,
                        SweepStiffness(link.Stiffness, iteration));
  }
}

#if defined(__SSE2__)
// Lane L of a four-link batch: its ends moved by their shares along d.
template <int L>
inline void MoveEnds(float* base, std::uint32_t a, std::uint32_t b, __m128 d, __m128 ea, __m128 eb) {
  constexpr int lane = L | (L << 2) | (L << 4) | (L << 6);
  float* pa = base + 4 * std::size_t{a};
  float* pb = base + 4 * std::size_t{b};
  _mm_storeu_ps(pa, _mm_sub_ps(_mm_loadu_ps(pa), _mm_mul_ps(_mm_shuffle_ps(ea, ea, lane), d)));
  _mm_storeu_ps(pb, _mm_add_ps(_mm_loadu_ps(pb), _mm_mul_ps(_mm_shuffle_ps(eb, eb, lane), d)));
}
#endif

// Full-stiffness links (or pushes), run by run, four at a time where no
// particle appears twice.
template <bool PushOnly>
void SolveRuns(const LinkRuns& r, glm::vec4* p) {
  std::uint32_t k = 0;
  for (std::uint32_t end : r.End) {
#if defined(__SSE2__)
    const std::uint32_t together = std::min(end, r.Shared);
    float* base = &p[0].x;
    const __m128 zero = _mm_setzero_ps();
    const __m128 squeeze = _mm_set1_ps(CompressionStiffness);
    for (; k + 4 <= together; k += 4) {
      const std::uint32_t* A = &r.A[k];
      const std::uint32_t* B = &r.B[k];
      const __m128 d0 = _mm_sub_ps(_mm_loadu_ps(base + 4 * std::size_t{A[0]}), _mm_loadu_ps(base + 4 * std::size_t{B[0]}));
      const __m128 d1 = _mm_sub_ps(_mm_loadu_ps(base + 4 * std::size_t{A[1]}), _mm_loadu_ps(base + 4 * std::size_t{B[1]}));
      const __m128 d2 = _mm_sub_ps(_mm_loadu_ps(base + 4 * std::size_t{A[2]}), _mm_loadu_ps(base + 4 * std::size_t{B[2]}));
      const __m128 d3 = _mm_sub_ps(_mm_loadu_ps(base + 4 * std::size_t{A[3]}), _mm_loadu_ps(base + 4 * std::size_t{B[3]}));
      // Lanes to links: x, y, z of the four differences.
      const __m128 t0 = _mm_unpacklo_ps(d0, d1), t1 = _mm_unpacklo_ps(d2, d3);
      const __m128 t2 = _mm_unpackhi_ps(d0, d1), t3 = _mm_unpackhi_ps(d2, d3);
      const __m128 dx = _mm_movelh_ps(t0, t1), dy = _mm_movehl_ps(t1, t0), dz = _mm_movelh_ps(t2, t3);
      const __m128 length2 =
          _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
      const __m128 length = _mm_sqrt_ps(length2);
      const __m128 e0 = _mm_div_ps(_mm_sub_ps(length, _mm_loadu_ps(&r.Rest[k])), length);
      __m128 e = PushOnly ? _mm_min_ps(e0, zero) : _mm_add_ps(_mm_max_ps(e0, zero), _mm_mul_ps(squeeze, _mm_min_ps(e0, zero)));
      e = _mm_and_ps(e, _mm_cmpgt_ps(length2, zero));  // coincident (or NaN): no move
      const __m128 ea = _mm_mul_ps(e, _mm_loadu_ps(&r.ShareA[k]));
      const __m128 eb = _mm_mul_ps(e, _mm_loadu_ps(&r.ShareB[k]));
      MoveEnds<0>(base, A[0], B[0], d0, ea, eb);
      MoveEnds<1>(base, A[1], B[1], d1, ea, eb);
      MoveEnds<2>(base, A[2], B[2], d2, ea, eb);
      MoveEnds<3>(base, A[3], B[3], d3, ea, eb);
    }
#endif
    for (; k < end; ++k) SolveLink<PushOnly>(p, r.A[k], r.B[k], r.Rest[k], r.ShareA[k], r.ShareB[k], 1.0f);
  }
}

// Coulomb friction, once a substep: of what has moved a particle (or a pair,
// relative to each other) along a contact's face, as much is taken back as
// the contact's push allows. A contact that pushed by `depth` holds a slide
// of up to StaticFriction x depth, and slows a longer one by KineticFriction
// x depth.
glm::vec3 FrictionHold(const glm::vec3& moved, const glm::vec3& normal, float depth) {
  const glm::vec3 slide = moved - glm::dot(moved, normal) * normal;
  const float slide2 = glm::dot(slide, slide);
  if (!(slide2 > 0.0f) || !(depth > 0.0f)) return glm::vec3(0.0f);
  const float length = std::sqrt(slide2);
  if (length <= StaticFriction * depth) return slide;
  return slide * std::min(1.0f, KineticFriction * depth / length);
}

// For self-collisions: layers of a heap of cloth stop sliding over each other.
void PushFriction(const std::vector<Link>& pushes, const std::vector<float>& depths, glm::vec3* p,
                  const glm::vec3* start) {
  for (std::size_t k = 0; k < pushes.size(); ++k) {
    const Link& push = pushes[k];
    const glm::vec3 d = p[push.A] - p[push.B];
    const float length2 = glm::dot(d, d);
    if (!(length2 > 0.0f)) continue;
    const glm::vec3 kept = FrictionHold((p[push.A] - start[push.A]) - (p[push.B] - start[push.B]),
                                        d / std::sqrt(length2), depths[k]);
    p[push.A] -= push.ShareA * kept;
    p[push.B] += push.ShareB * kept;
  }
}

// For the scene: a particle lying on the street stays put.
void ContactFriction(const std::vector<Contact>& contacts, glm::vec3* p, const glm::vec3* start) {
  for (const Contact& c : contacts) {
    if (c.Depth > 0.0f) p[c.Particle] -= FrictionHold(p[c.Particle] - start[c.Particle], c.Normal, c.Depth);
  }
}

// Pushes each particle out of the boxes it has gone into. `first` records
// each meeting's depth and push for the friction; `last` records the push of
// those touching (or all but) for the velocities.
template <typename Point>
void SolveContacts(std::vector<Contact>& contacts, Point* p, bool first, bool last) {
  const ParticleArrays& P = Particles();
  const SceneVoxels& scene = Cloth().scene;
  const glm::vec3* start = P.Position.data();
  const float* radius = P.Radius.data();
  // A particle just pushed out sits at exactly its radius from the box.
  constexpr float TouchSlack = 1.05f;
  for (Contact& c : contacts) {
    const std::uint32_t i = c.Particle;
    const float r = last ? radius[i] * TouchSlack : radius[i];
    glm::vec3 normal;
    float depth;
    if (!BoxContact(scene, ToBox(scene, At(p[i]) - c.Centre), start[i] - c.Centre, r, c.Faces, normal, depth)) {
      if (first) c.Depth = 0.0f;
      continue;
    }
    const glm::vec3 push = FromBox(scene, normal);
    if (last) {
      c.Normal = push;
      depth -= r - radius[i];
      if (depth <= 0.0f) continue;
    }
    Move(p[i], push * depth);
    if (first) {
      c.Depth = depth;
      c.Normal = push;
    }
  }
}

// The self-collisions of a substep as the sweeps read them.
void ColourPushes(std::uint32_t n, Scratch& w) {
  w.taken.assign(n, 0);
  w.colour.resize(w.pushes.size());
  std::uint32_t perColour[32] = {};
  for (std::size_t k = 0; k < w.pushes.size(); ++k) {
    w.colour[k] = TakeColour(w.taken, w.pushes[k].A, w.pushes[k].B);
    ++perColour[w.colour[k]];
  }
  std::uint32_t next[32];
  std::uint32_t running = 0;
  for (int c = 0; c < 32; ++c) {
    next[c] = running;
    running += perColour[c];
  }
  w.order.resize(w.pushes.size());
  for (std::size_t k = 0; k < w.pushes.size(); ++k) w.order[next[w.colour[k]]++] = static_cast<std::uint32_t>(k);
  w.pushRuns.Clear();
  std::uint32_t k = 0;
  for (int c = 0; c < 32; ++c) {
    for (; k < next[c]; ++k) {
      const Link& push = w.pushes[w.order[k]];
      w.pushRuns.Add(push.A, push.B, push.RestLength, push.ShareA, push.ShareB);
    }
    w.pushRuns.EndRun(c);
  }
}

// The links as the sweeps read them, in colour runs with each end's share
// worked out; once a step, as inverse masses change only between frames.
// Only links between the first n (simulated) particles take part.
void PrepareLinks(const std::vector<DistanceConstraint>& constraints, std::uint32_t n, Scratch& w) {
  if (w.orderedFrom != constraints.size()) ColourLinks(constraints, w);
  const float* inverseMass = Particles().InverseMass.data();
  w.links.Clear();
  w.softLinks.clear();
  std::uint32_t k = 0;
  for (int colour = 0; colour < static_cast<int>(w.colourEnd.size()); ++colour) {
    for (; k < w.colourEnd[colour]; ++k) {
      const DistanceConstraint& c = constraints[w.linkOrder[k]];
      if (c.A >= n || c.B >= n) continue;
      const float s = inverseMass[c.A] + inverseMass[c.B];
      if (s == 0.0f) continue;
      if (c.Stiffness < 1.0f) {
        w.softLinks.push_back(MakeLink(inverseMass, c.A, c.B, c.RestLength, c.Stiffness));
        continue;
      }
      w.links.Add(c.A, c.B, c.RestLength, inverseMass[c.A] / s, inverseMass[c.B] / s);
    }
    w.links.EndRun(colour);
  }
  w.preparedFrom = constraints.size();
  w.preparedCount = n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Solver

void SolveConstraints(std::vector<DistanceConstraint>* list, int iteration, bool pushOnly) {
  if (list == nullptr) return;
  ParticleArrays& P = Particles();
  std::vector<Link> links;
  links.reserve(list->size());
  for (const DistanceConstraint& c : *list) {
    if (P.InverseMass[c.A] + P.InverseMass[c.B] == 0.0f) continue;
    links.push_back(MakeLink(P.InverseMass.data(), c.A, c.B, c.RestLength, c.Stiffness));
  }
  if (pushOnly) {
    SolveLinks<true>(links, P.Velocity.data(), iteration);
  } else {
    SolveLinks<false>(links, P.Velocity.data(), iteration);
  }
}

void Simulate(float h) {
  // A zero step would divide the velocity update by zero.
  if (!(h > 0.0f) || !std::isfinite(h)) return;
  ParticleArrays& P = Particles();
  ClothState& state = Cloth();
  Scratch& w = Work();
  const std::uint32_t n = SimulatedInStore();
  glm::vec3* p = P.Velocity.data();

  for (std::uint32_t i = 0; i < n; ++i) {
    P.Velocity[i].z += P.InverseMass[i] * Gravity * h;
    P.Velocity[i] = P.Position[i] + P.Velocity[i] * h;
  }

  if (w.preparedFrom != state.constraints.size() || w.preparedCount != n) PrepareLinks(state.constraints, n, w);
  w.pushes.clear();
  w.pushDepths.clear();
  FindSelfCollisions(n, w);
  ColourPushes(n, w);

  w.points.resize(n);
  for (std::uint32_t i = 0; i < n; ++i) w.points[i] = glm::vec4(p[i], 0.0f);
  glm::vec4* q = w.points.data();
  // The scene is met in the first sweep and once more at the end: sweeping
  // it every time costs much and settles a heap no better.
  for (int iteration = 0; iteration < SolverIterations; ++iteration) {
    SolveRuns<false>(w.links, q);
    SolveLinks<false>(w.softLinks, q, iteration);
    SolveRuns<true>(w.pushRuns, q);
    if (iteration == 0) SolveContacts(w.contacts, q, true, false);
  }
  for (std::uint32_t i = 0; i < n; ++i) p[i] = glm::vec3(q[i]);
  PushFriction(w.pushes, w.pushDepths, p, P.Position.data());
  ContactFriction(w.contacts, p, P.Position.data());
  // What the sweeps and the friction moved last may have gone into the
  // scene again. No substep ends inside it: the next could no longer tell
  // which side a particle came from.
  for (Contact& c : w.contacts) c.Normal = glm::vec3(0.0f);
  SolveContacts(w.contacts, p, false, true);

  const float divisor = state.simsteps < DampedSteps ? DampedDivisor : h;
  glm::vec3* v = P.Velocity.data();
  for (std::uint32_t i = 0; i < n; ++i) {
    const glm::vec3 predicted = p[i];
    v[i] = (predicted - P.Position[i]) / divisor;
    P.Position[i] = predicted;
  }
  // Collisions are inelastic. Pushing overlapping particles apart in a
  // substep leaves them moving apart at overlap / h, which a pile landing
  // at speed would turn into a fountain; what touched stops separating.
  const glm::vec3* x = P.Position.data();
  for (const Link& push : w.pushes) {
    const glm::vec3 d = x[push.A] - x[push.B];
    const float length2 = glm::dot(d, d);
    if (!(length2 > 0.0f)) continue;
    const glm::vec3 normal = d / std::sqrt(length2);
    const float apart = glm::dot(v[push.A] - v[push.B], normal);
    if (apart <= 0.0f) continue;
    v[push.A] -= push.ShareA * apart * normal;
    v[push.B] += push.ShareB * apart * normal;
  }
  for (const Contact& c : w.contacts) {
    // Normal is zero for a contact not touching at the end.
    const float away = glm::dot(v[c.Particle], c.Normal);
    if (away > 0.0f) v[c.Particle] -= away * c.Normal;
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    const float speed2 = glm::dot(v[i], v[i]);
    if (speed2 > MaxSpeed * MaxSpeed) v[i] *= MaxSpeed / std::sqrt(speed2);
  }
}

void StepCloth(const glm::vec3& cameraFrom, const glm::vec3& cameraTo) {
  ParticleArrays& P = Particles();
  if (P.Count == 0) return;
  ClothState& state = Cloth();
  const std::uint32_t first = state.curtainFirst;
  if (state.stepStart.size() == CurtainParticles && first + CurtainParticles <= P.Count) {
    std::copy(P.Position.begin() + first, P.Position.begin() + first + CurtainParticles, state.stepStart.begin());
  }
  FindSceneContacts(SimulatedInStore(), Work());
  PrepareLinks(state.constraints, SimulatedInStore(), Work());
  for (int k = 1; k <= Substeps; ++k) {
    const float f = static_cast<float>(k) / Substeps;
    P.Velocity[0] = glm::vec3(0.0f);
    P.Position[0] = f * cameraTo + (1.0f - f) * cameraFrom;
    Simulate(FixedStep / Substeps);
  }
  state.simsteps += 1;
}

int AdvanceClock(float now) {
  ClothState& state = Cloth();
  if (!std::isfinite(now)) return 0;
  if (state.clock < 0.0f || now < state.clock) {
    state.clock = now;
    return 0;
  }
  state.owed += now - state.clock;
  state.clock = now;
  int steps = static_cast<int>(state.owed / FixedStep);
  if (steps > MaxStepsPerFrame) {
    steps = MaxStepsPerFrame;
    state.owed = 0.0f;
  } else {
    state.owed -= static_cast<float>(steps) * FixedStep;
  }
  return steps;
}

}  // namespace KestorEngine
