<?xml version="1.0" encoding="UTF-8"?>
<!--
  Temporal accumulation and upsampling. The lit colour (_MainTex) may be
  smaller than the target (the render scale) and was drawn with this frame's
  sub-pixel offset _AAJitter (pixels of _MainTex): each output pixel gathers
  the nearby samples where they really lie, weighted by distance, and blends
  them into the reprojected history.

  "Newness" holds how many frames the history of a pixel has gathered (0:
  none), in its second channel the slow mean of the luminance of the
  samples around the pixel and in its third the pixel's distance from the
  camera; the history's alpha holds their fast mean (a third of each new
  frame). A still pixel takes 1/n of the new frame, down to TemporalSSExponent / 8, so the noise
  of the lighting averages away; a moving one keeps at least
  TemporalSSExponent of it and its history is clipped to the spread of the
  new samples around it, dropping what the scene no longer shows; so is the
  sky, which a move of the camera uncovers without moving it on screen.

  History is kept only where it shows the surface the pixel shows now: the
  point it was gathered on must lie where this frame's surface is, seen
  from where the camera was (its distance then). Otherwise (what a moving
  thing uncovered, the far side of an edge after a turn, a cut) the pixel
  starts afresh. A pixel without history takes its
  light from the lit samples around it on its own surface (same plane, same
  facing, the albedo divided out and its own put back): the "Fill" pass
  does that for the pixels this one lists, so the first frame after a cut
  is as smooth as a few frames gathered, not one frame's noise. Until a few
  frames are gathered the samples are also put together with a wider
  filter, which is what the jittered frames of a still pixel average to.

  A still pixel is not clipped to one frame's neighbours: with one noisy
  sample of the lighting each, nine of them may all miss a light that the
  pixel sees half of the time, and clipping then stamps a dark dot that
  lingers for dozens of frames. Its history lets go instead when the fast
  mean leaves the slow one by more than noise explains (half their size,
  plus the samples' own spread): the history then takes the fast mean's
  brightness and gathers afresh. Changes the renderer knows of (a preset,
  the sky, a light switched, a lighting switch) cap the frames the history
  may hold through _HistoryCap.
-->
<Shader Name="TemporalSupersample">
  <Uniforms>
    <Texture Uniform="_MainTex" IsLinear="True"/>
    <Float Uniform="TemporalSSExponent"/>
  </Uniforms>
  <Passes>
    <Pass Name="Deferred">
      <Vertex><![CDATA[
#include "PostFX/ScreenQuad"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec2 UV;
// The lit colour (_MainTex) again, for the neighbourhood's reads: a
// software driver loads from an image for less than it fetches a texel.
layout(rgba16f) readonly uniform image2D img_lit;
uniform sampler2D BufferFinalLastFrame;
uniform sampler2D MotionVectors;
uniform sampler2D Newness;
uniform vec3 _CameraPos_Past = vec3(0.0);
uniform vec4 Time = vec4(0.0);
uniform float TemporalSSExponent = 0.2;
// The most frames the history may hold this frame: small for a few frames
// after the lighting changed, unbounded otherwise.
uniform float _HistoryCap = 65504.0;
// 1 when the lit colour is smaller than the target; a program of its own.
[PreCompile] uniform float TemporalUpsampling;
// 1 when the camera moved since the last frame: a still one's history needs
// no reprojection of distances, a program without it.
[PreCompile] uniform float _CameraMoved;
// Where what moved or went away left stale light (StaleRegions): boxes in
// the sun's frame (axes U, V across the sun, L towards it), one a column;
// how many, a program each.
[PreCompile] uniform float _StaleBoxes;
uniform vec3 _StaleAxisU = vec3(1.0, 0.0, 0.0);
uniform vec3 _StaleAxisV = vec3(0.0, 1.0, 0.0);
uniform vec3 _StaleAxisL = vec3(0.0, 0.0, 1.0);
uniform mat4 _StaleLo = mat4(0.0);
uniform mat4 _StaleHi = mat4(0.0);
layout(location = 0) out vec4 ColorOut;
layout(location = 1) out vec4 NewnessOut;
// The pixels without history, for the "Fill" pass.
layout(std430, binding = 1) buffer FillList {
  uvec3 FillGroups;
  uint FillCount;
  uint FillPixels[];
};
#include "PostFX/TemporalSurface"

// Frames a still pixel keeps gathering for each unit of 1 / blend.
const float StillFrames = 8.0;
// Share of each frame in the fast mean of the neighbourhood's luminance.
const float FastShare = 1.0 / 3.0;
// Frames a still history keeps when it lets go.
const float KeptAfterChange = 3.0;
// Frames of a young history, which the reconstruction widens for and whose
// frames count alike: at four, the frames after a cut switched to the
// nearest-sample weighting while an edge's few jitter offsets still stood
// for too little of its coverage.
const float YoungFrames = 6.0;
// The reconstruction's Gaussian, exp(-k d^2): close to a Blackman-Harris
// window of one pixel's radius, and that window spread over a pixel (what
// the jittered frames of a still pixel average to).
const float SharpFilter = 2.29;
const float WideFilter = 1.66;
// How far the history's point may lie off this frame's surface: a share of
// the distance.
const float SurfaceSlack = 0.03;
// The cosine of the largest angle between the view a history was gathered
// from and this frame's that keeps it (about 18 degrees).
const float MaxParallax = 0.95;

float luminance(vec3 c) { return dot(c, vec3(0.2126, 0.7152, 0.0722)); }

// The history is kept at half precision and a still pixel takes a fortieth
// of each frame: a driver that rounds every write down (a software one
// does) pulled a settled picture down by a percent or two over a hundred
// frames. Each value goes to one of the two half-precision numbers around
// it, the upper with the chance of how near it lies, which keeps its mean
// whatever the driver's rounding; `u` is uniform in 0..1, new each frame.
vec4 roundToHalf(vec4 v, float u) {
  vec4 a = abs(v);
  // From 2^-14 up a half keeps the float's top ten fraction bits: the lower
  // thirteen are the distance to the half below in steps of 1 / 8192.
  uvec4 bits = floatBitsToUint(a);
  uvec4 low = bits & 0x1fffu;
  uvec4 up = uvec4(greaterThan(vec4(low), vec4(u * 8192.0)));
  vec4 normal = uintBitsToFloat(bits - low + (up << 13u));
  // Below it the steps stay those of the smallest normal numbers, 2^-24.
  vec4 s = a * 16777216.0;
  vec4 small = (floor(s) + vec4(lessThan(vec4(u), fract(s)))) * (1.0 / 16777216.0);
  // The sign bit put back (the rounded magnitude of a zero is a zero).
  uvec4 magnitude = floatBitsToUint(mix(small, normal, greaterThanEqual(a, vec4(1.0 / 16384.0))));
  return uintBitsToFloat(magnitude | (floatBitsToUint(v) & 0x80000000u));
}

// Uniform in 0..1, another for every pixel and frame.
float pixelNoise() {
  uint h = uint(gl_FragCoord.x) * 1973u + uint(gl_FragCoord.y) * 9277u + uint(Time.w) * 26699u;
  h ^= h >> 16u;
  h *= 0x7feb352du;
  h ^= h >> 15u;
  h *= 0x846ca68bu;
  h ^= h >> 16u;
  return float(h >> 8u) / 16777216.0;
}

bool bad(vec3 c) { return any(isnan(c)) || any(isinf(c)); }

// The samples' sums; the weights' own follow from the separable weights
// once, not at every sample (a CPU rasteriser pays for each operation of
// each sample).
struct Gathered {
  vec3 sum;        // weighted colour
  vec3 m1, m2;     // plain sums of colour and its square
  vec3 brightest;  // the brightest of each channel
};

// Adds sample k of the lit colour with weight w.
void take(inout Gathered g, ivec2 k, float w) {
  vec3 c = max(imageLoad(img_lit, k).rgb, vec3(0.0));
  g.sum += c * w;
  g.m1 += c;
  g.m2 += c * c;
  g.brightest = max(g.brightest, c);
}

void main() {
  ivec2 size = textureSize(_MainTex, 0);
  // This pixel's centre in pixels of the lit colour.
  vec2 p = UV * vec2(size);

  // The motion is drawn at the lit colour's size: this pixel's own sample.
  ivec2 here = clamp(ivec2(p), ivec2(0), size - 1);
  vec2 motion = texelFetch(MotionVectors, here, 0).xy;
  vec2 pastUV = UV - motion;
  vec2 outSize = vec2(textureSize(BufferFinalLastFrame, 0));
  float moved = length(motion * outSize);
  ivec2 pastTexel = ivec2(clamp(pastUV * outSize, vec2(0.0), outSize - 1.0));
  vec4 past = texelFetch(Newness, pastTexel, 0);
  float age = past.r;
  // One filtered read for all: a still pixel's lands on its own texel's
  // centre, and a CPU rasteriser would pay for both sides of a choice.
  vec4 history = textureLod(BufferFinalLastFrame, pastUV, 0.0);
  bool valid = all(greaterThanEqual(pastUV, vec2(0.0))) && all(lessThanEqual(pastUV, vec2(1.0))) &&
               !bad(history.rgb) && !bad(past.rgb) && !isnan(history.a) && !isinf(history.a) && age >= 1.0;

  // This frame's surface, from one gather of the four samples around the
  // pixel's centre (this sample is one of them: x, y, z, w are the
  // samples at (0, 1), (1, 1), (1, 0) and (0, 0) from the first).
  ivec2 corner = clamp(ivec2(floor(p + _AAJitter - 0.5)), ivec2(0), size - 2);
  vec4 around = textureGather(LinearDepth, (vec2(corner) + 1.0) / vec2(size), 0);
  vec2 side = vec2(clamp(here - corner, ivec2(0), ivec2(1)));
  float depth = mix(mix(around.w, around.z, side.x), mix(around.x, around.y, side.x), side.y);
  bool sky = depth <= 0.0;
  // The history's point was this far from where the camera was: a surface
  // that stands where it stood is as far from there now; another distance
  // (a thing that moved away uncovered what was behind it, the far side of
  // an edge after a turn, a cut) is another surface's. The jittered samples
  // of an edge show one side one frame and the other the next: the history
  // is kept when it lies on the surface of any sample of the 2 x 2 around
  // the pixel's centre (or it and they see the sky).
  float lastDepth = past.b;
  float slack = SurfaceSlack * max(depth, lastDepth) + fwidth(depth);
  // The distance from where the camera was to the points at the nearest
  // and the farthest of the four samples' distances along this pixel's
  // view (squared: a + b d + d^2): the history's must lie between them,
  // give or take the slack, or the four must see the sky when it did.
  float nearest2 = min(min(around.x, around.y), min(around.z, around.w));
  float farthest2 = max(max(around.x, around.y), max(around.z, around.w));
  float near = nearest2 > 0.0 ? nearest2 : farthest2;
  vec2 e = vec2(near, farthest2);
  bool parallax = false;
  vec3 view = normalize(farRay(UV));
  if (_CameraMoved > 0.5) {
    vec3 shift = _CameraPos - _CameraPos_Past;
    float a2 = dot(shift, shift), b2 = 2.0 * dot(view, shift);
    e = sqrt(max(vec2(a2) + e * (vec2(b2) + e), vec2(0.0)));
    // The angle between the two views of the nearest point ((d + b / 2) / e
    // is its cosine): seen from far aside (a cut, a jump) the history was
    // gathered over another footprint, and another surface may lie at the
    // same distance from where the camera was, which the test below would
    // take for this one.
    parallax = near + 0.5 * b2 < MaxParallax * e.x;
  }
  // Where the sky takes part it decides nothing: at a silhouette the
  // jitter shows the sky one frame and the thing the next, and the sky is
  // clipped below anyway.
  bool sameSurface = lastDepth <= 0.0 || farthest2 <= 0.0 ||
                     (!parallax && lastDepth >= min(e.x, e.y) - slack && lastDepth <= max(e.x, e.y) + slack);
  // Where something moved or went away, the history's point (or, for a
  // history of the sky, this frame's) may hold the thing itself or the
  // light it cast or blocked: it starts afresh. A loop, so a CPU driver
  // skips it where no box is.
  float staleDepth = lastDepth > 0.0 ? lastDepth : near;
  bool stale = false;
  for (int k = 0; k < int(_StaleBoxes); ++k) {
    vec3 w = _CameraPos + view * staleDepth;
    vec3 q = vec3(dot(w, _StaleAxisU), dot(w, _StaleAxisV), dot(w, _StaleAxisL));
    stale = stale || (staleDepth > 0.0 && all(greaterThanEqual(q, _StaleLo[k].xyz)) &&
                      all(lessThanEqual(q, _StaleHi[k].xyz)));
  }
  valid = valid && sameSurface && !stale;

  float blend = clamp(TemporalSSExponent, 0.01, 1.0);
  float cap = moved > 0.5 ? 1.0 / blend : StillFrames / blend;
  float n = valid ? min(age + 1.0, min(cap, max(_HistoryCap, 1.0))) : 1.0;
  // A pixel with little history is reconstructed with a wider filter: one
  // frame's samples then already give about what many jittered frames
  // average to, instead of a jagged edge.
  float sharpness = mix(WideFilter, SharpFilter, clamp((n - 1.0) / (YoungFrames - 1.0), 0.0, 1.0));
  // Sample k shows the scene at k + 0.5 - jitter. At full size the nine
  // around the nearest are gathered; upsampling, the four around this pixel
  // (at a quarter of the samples the output pixels dominate the cost).
  // The Gaussian's weights are separable: a row's and a column's each
  // worked out once.
  // The samples are taken from a block that lies inside the picture: at its
  // border the block shifts inwards and the weights follow the samples'
  // true distances, instead of a clamp at every sample.
  Gathered g = Gathered(vec3(0.0), vec3(0.0), vec3(0.0), vec3(0.0));
  float weights, nearest, count;
  if (TemporalUpsampling > 0.5) {
    // The four samples around the pixel's centre: the depths' gather's.
    ivec2 base = corner;
    vec2 first = vec2(base) + 0.5 - _AAJitter - p;
    vec2 wx = exp(-sharpness * (first.x + vec2(0.0, 1.0)) * (first.x + vec2(0.0, 1.0)));
    vec2 wy = exp(-sharpness * (first.y + vec2(0.0, 1.0)) * (first.y + vec2(0.0, 1.0)));
    for (int y = 0; y <= 1; ++y) {
      for (int x = 0; x <= 1; ++x) take(g, base + ivec2(x, y), wx[x] * wy[y]);
    }
    weights = (wx.x + wx.y) * (wy.x + wy.y);
    nearest = max(wx.x, wx.y) * max(wy.x, wy.y);
    count = 4.0;
  } else {
    ivec2 base = clamp(ivec2(floor(p + _AAJitter)), ivec2(1), size - 2);
    vec3 dx = vec2(base).x + 0.5 - _AAJitter.x - p.x + vec3(-1.0, 0.0, 1.0);
    vec3 dy = vec2(base).y + 0.5 - _AAJitter.y - p.y + vec3(-1.0, 0.0, 1.0);
    vec3 wx = exp(-sharpness * dx * dx), wy = exp(-sharpness * dy * dy);
    for (int y = -1; y <= 1; ++y) {
      for (int x = -1; x <= 1; ++x) take(g, base + ivec2(x, y), wx[x + 1] * wy[y + 1]);
    }
    weights = (wx.x + wx.y + wx.z) * (wy.x + wy.y + wy.z);
    nearest = max(max(wx.x, wx.y), wx.z) * max(max(wy.x, wy.y), wy.z);
    count = 9.0;
  }
  // A broken sample (not a number, infinite) spoils the sums it went into:
  // checked once on the sums instead of per sample, the pixel then shows
  // its history alone this frame, and no broken value reaches it. The sum
  // of squares alone tells: weights are at most 1, and half-precision
  // samples that are finite square to no more than a float holds.
  bool broken = bad(g.m2);
  if (broken) g = Gathered(vec3(0.0), vec3(0.0), vec3(0.0), vec3(0.0));
  vec3 sum = g.sum;
  vec3 m1 = g.m1, m2 = g.m2;
  vec3 current = broken ? vec3(0.0) : sum / weights;
  m1 /= max(count, 1.0);
  vec3 sigma = sqrt(max(m2 / max(count, 1.0) - m1 * m1, vec3(0.0)));
  // The neighbourhood's luminance: this frame's, its fast and slow means.
  float luma = luminance(m1);
  // A history cut short (or none) starts its means afresh too.
  float fast = valid ? mix(history.a, luma, max(FastShare, 1.0 / n)) : luma;
  float slow = valid && n > 1.0 ? past.g : luma;
  vec3 kept = history.rgb;
  // The sky seen through a gap the camera's move opened was something else
  // last frame (the thing in front, seen from where the camera was), yet it
  // does not move on screen: it is clipped like a moving pixel. It has no
  // lighting noise to average, and its edges keep the spread of the
  // samples around them.
  // A history far brighter than every sample around it held a light that
  // has left (a bright bar passed, the glow of a lamp carried away):
  // clipped too, while the history is young (it took the change in the
  // last few frames; an old one that changed is brought down below). A
  // settled history is not clipped for one frame's samples alone: in a
  // penumbra that sees a light one frame in five, all nine miss it one
  // frame in eight, and the clip stamped dark dots that kept the penumbra
  // a fifth too dark. One darker than them is left alone (see above). A
  // select, not a second test: this driver made a branch of the `&&` and
  // the pass cost 1.5 ms more.
  float shown = luminance(history.rgb);
  bool faded = shown > (age <= YoungFrames ? 4.0 * luminance(g.brightest) + 0.002 : 1e30);
  // Both ways of letting history go end in one clip to the samples' spread
  // (a CPU rasteriser runs every branch for every pixel, so it is one):
  // moving pixels clip tightly, since what they uncover is new, with a
  // margin for flat colour in proportion (a dark wall keeps no glow), and
  // history that had to move far was wrong and starts to gather anew.
  bool moving = (moved > 0.5 || sky || faded) && !broken;
  float noise = 2.0 * luminance(sigma) / sqrt(max(count, 1.0));
  // A still history whose brightness changed is brought to the new one and
  // into the colours around it: what it held may have been another
  // thing's (a cloth that slid away), whose hue a change of brightness
  // alone would keep.
  bool changed = !moving && valid && !broken && abs(fast - slow) > 0.5 * max(fast, slow) + noise + 0.002;
  if (moving || changed) {
    vec3 margin = moving ? 0.02 * m1 + 1e-4 : vec3(0.002);
    vec3 scaled = moving ? kept : kept * clamp(fast / max(slow, 1e-4), 0.0, 8.0);
    kept = clamp(scaled, m1 - sigma - margin, m1 + sigma + margin);
  }
  bool rejected = moving && any(greaterThan(abs(kept - history.rgb), max(sigma, vec3(0.02)) * 2.0));
  if (rejected) n = min(n, 1.0 / blend);
  if (changed) {
    slow = fast;
    n = min(n, KeptAfterChange);
  }
  // No history: the "Fill" pass gives the pixel the light of its surface
  // around it. An edge (samples of two surfaces about the pixel) keeps its
  // own samples: their mix is what smooths it, and neither surface's light
  // is the edge's.
  bool edge = farthest2 > (1.0 + 4.0 * SurfaceSlack) * nearest2;
  if (n < 1.5 && !sky && !broken && !edge) {
    uint i = atomicAdd(FillCount, 1u);
    if (i % 64u == 0u) atomicAdd(FillGroups.x, 1u);
    FillPixels[i] = uint(gl_FragCoord.x) | (uint(gl_FragCoord.y) << 16);
  }
  // A sample far from this pixel's centre counts for less (upsampling).
  // At full size the first few frames of a history started afresh count
  // alike: weighted by their nearest sample, the few jitter offsets of a
  // young history would stand for fewer still, and an edge's coverage would
  // be further off the settled picture's. Not while the light settles: the
  // history is then held short for many frames, and the picture's mean
  // would move from the weighting it settles to.
  bool young = n <= YoungFrames && _HistoryCap > YoungFrames && TemporalUpsampling < 0.5;
  float alpha = valid && n > 1.0 ? (young ? 1.0 / n : clamp(nearest / n, 1.0 / (n * 4.0), 1.0)) : 1.0;
  if (broken && valid) alpha = 0.0;
  float u = pixelNoise();
  ColorOut = roundToHalf(vec4(mix(kept, current, alpha), fast), u);
  NewnessOut = vec4(n, roundToHalf(vec4(mix(slow, luma, 1.0 / n)), u).x, depth, 0.0);
}
      ]]></Fragment>
    </Pass>
    <Pass Name="Fill">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(rgba16f) uniform image2D img_output;
layout(std430, binding = 1) readonly buffer FillList {
  uvec3 FillGroups;
  uint FillCount;
  uint FillPixels[];
};
#include "PostFX/TemporalSurface"

// Each pixel the temporal pass listed (no history) takes the light of its
// surface around it: as smooth as a few frames gathered, not one frame's
// noise.
const float FillShare = 0.5;
void main() {
  uint i = gl_GlobalInvocationID.x;
  if (i >= FillCount) return;
  ivec2 pixel = ivec2(FillPixels[i] & 0xffffu, FillPixels[i] >> 16);
  vec2 uv = (vec2(pixel) + 0.5) / vec2(imageSize(img_output));
  ivec2 size = textureSize(_MainTex, 0);
  vec2 p = uv * vec2(size);
  ivec2 here = clamp(ivec2(p), ivec2(0), size - 1);
  float depth = texelFetch(LinearDepth, here, 0).r;
  vec3 N = normalize(texelFetch(Normals, here, 0).xyz * 2.0 - 1.0);
  vec3 ray = farRay(uv);
  mat2x3 rayStep = mat2x3((RayBottomRight - RayBottomLeft) / float(size.x), (RayTopLeft - RayBottomLeft) / float(size.y));
  vec4 was = imageLoad(img_output, pixel);
  vec3 light = surfaceLight(here, size, p, _CameraPos + normalize(ray) * depth, N, depth, 2 * FillRadius + 1, was.rgb,
                            ray, rayStep);
  // Half the pixel's own samples stay: light that changes within a
  // surface over a pixel or two (a contact shadow along a wall's foot) is
  // not washed out, and it lingers in the history for frames after.
  imageStore(img_output, pixel, vec4(mix(was.rgb, light, FillShare), was.a));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
