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
  camera; the history's alpha holds their fast mean (a
  third of each new frame). A still pixel takes 1/n of the new frame, down
  to TemporalSSExponent / 8, so the noise of the lighting averages away; a
  moving one keeps at least TemporalSSExponent of it and its history is
  clipped to the spread of the new samples around it, dropping what the
  scene no longer shows; so is the sky, which a move of the camera uncovers
  without moving it on screen, and any pixel whose distance from the camera
  changed since the last frame (what a moving thing uncovers).

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
uniform sampler2D _MainTex;
uniform sampler2D BufferFinalLastFrame;
uniform sampler2D MotionVectors;
uniform sampler2D Newness;
uniform sampler2D LinearDepth;  // 0 where the sky shows
uniform float TemporalSSExponent = 0.2;
uniform vec2 _AAJitter = vec2(0.0);
// The most frames the history may hold this frame: small for a few frames
// after the lighting changed, unbounded otherwise.
uniform float _HistoryCap = 65504.0;
// 1 when the lit colour is smaller than the target; a program of its own.
[PreCompile] uniform float TemporalUpsampling;
layout(location = 0) out vec4 ColorOut;
layout(location = 1) out vec4 NewnessOut;

// Frames a still pixel keeps gathering for each unit of 1 / blend.
const float StillFrames = 8.0;
// Share of each frame in the fast mean of the neighbourhood's luminance.
const float FastShare = 1.0 / 3.0;
// Frames a still history keeps when it lets go.
const float KeptAfterChange = 3.0;

float luminance(vec3 c) { return dot(c, vec3(0.2126, 0.7152, 0.0722)); }

bool bad(vec3 c) { return any(isnan(c)) || any(isinf(c)); }

struct Gathered {
  vec3 sum;       // weighted colour
  float weights;
  float nearest;  // weight of the closest sample
  vec3 m1, m2;    // plain sums of colour and its square
  float count;
};

// Adds sample k of the lit colour, seen from this pixel's centre p.
void take(inout Gathered g, ivec2 k, vec2 p) {
  vec3 c = max(texelFetch(_MainTex, k, 0).rgb, vec3(0.0));
  vec2 d = vec2(k) + 0.5 - _AAJitter - p;
  // A Gaussian close to a Blackman-Harris window of one pixel's radius.
  float w = exp(-2.29 * dot(d, d));
  g.sum += c * w;
  g.weights += w;
  g.nearest = max(g.nearest, w);
  g.m1 += c;
  g.m2 += c * c;
  g.count += 1.0;
}

void main() {
  ivec2 size = textureSize(_MainTex, 0);
  // This pixel's centre in pixels of the lit colour.
  vec2 p = UV * vec2(size);
  // Sample k shows the scene at k + 0.5 - jitter. At full size the nine
  // around the nearest are gathered; upsampling, the four around this pixel
  // (at a quarter of the samples the output pixels dominate the cost).
  Gathered g = Gathered(vec3(0.0), 0.0, 0.0, vec3(0.0), vec3(0.0), 0.0);
  if (TemporalUpsampling > 0.5) {
    ivec2 base = ivec2(floor(p + _AAJitter - 0.5));
    for (int y = 0; y <= 1; ++y) {
      for (int x = 0; x <= 1; ++x) take(g, clamp(base + ivec2(x, y), ivec2(0), size - 1), p);
    }
  } else {
    ivec2 base = ivec2(floor(p + _AAJitter));
    for (int y = -1; y <= 1; ++y) {
      for (int x = -1; x <= 1; ++x) take(g, clamp(base + ivec2(x, y), ivec2(0), size - 1), p);
    }
  }
  // A broken sample (not a number, infinite) spoils the sums it went into:
  // checked once on the sums instead of per sample, the pixel then shows
  // its history alone this frame, and no broken value reaches it.
  bool broken = bad(g.sum) || bad(g.m2) || isnan(g.weights) || isinf(g.weights);
  if (broken) g = Gathered(vec3(0.0), 0.0, 0.0, vec3(0.0), vec3(0.0), 0.0);
  vec3 sum = g.sum;
  float weights = g.weights;
  float nearest = g.nearest;
  vec3 m1 = g.m1, m2 = g.m2;
  float count = g.count;
  vec3 current = weights > 0.0 ? sum / weights : vec3(0.0);
  m1 /= max(count, 1.0);
  vec3 sigma = sqrt(max(m2 / max(count, 1.0) - m1 * m1, vec3(0.0)));

  ivec2 motionSize = textureSize(MotionVectors, 0);
  vec2 motion = texelFetch(MotionVectors, clamp(ivec2(p), ivec2(0), motionSize - 1), 0).xy;
  vec2 pastUV = UV - motion;
  vec2 outSize = vec2(textureSize(BufferFinalLastFrame, 0));
  float moved = length(motion * outSize);
  ivec2 pastTexel = ivec2(clamp(pastUV * outSize, vec2(0.0), outSize - 1.0));
  vec3 past = texelFetch(Newness, pastTexel, 0).rgb;
  float age = past.r;
  // One filtered read for all: a still pixel's lands on its own texel's
  // centre, and a CPU rasteriser would pay for both sides of a choice.
  vec4 history = textureLod(BufferFinalLastFrame, pastUV, 0.0);
  bool valid = all(greaterThanEqual(pastUV, vec2(0.0))) && all(lessThanEqual(pastUV, vec2(1.0))) &&
               !bad(history.rgb) && !bad(vec3(age, past.g, history.a)) && age >= 1.0;

  float blend = clamp(TemporalSSExponent, 0.01, 1.0);
  float cap = moved > 0.5 ? 1.0 / blend : StillFrames / blend;
  float n = valid ? min(age + 1.0, min(cap, max(_HistoryCap, 1.0))) : 1.0;
  // The neighbourhood's luminance: this frame's, its fast and slow means.
  float here = luminance(m1);
  // A history cut short (or none) starts its means afresh too.
  float fast = valid ? mix(history.a, here, max(FastShare, 1.0 / n)) : here;
  float slow = valid && n > 1.0 ? past.g : here;
  vec3 kept = history.rgb;
  // The sky seen through a gap the camera's move opened was something else
  // last frame (the thing in front, seen from where the camera was), yet it
  // does not move on screen: it is clipped like a moving pixel. It has no
  // lighting noise to average, and its edges keep the spread of the
  // samples around them.
  float depth = texelFetch(LinearDepth, clamp(ivec2(p), ivec2(0), size - 1), 0).r;
  bool sky = depth <= 0.0;
  // Another surface stood where the history comes from: a thing that moved
  // away (a curtain that fell) uncovered what was behind it, though neither
  // the camera nor the uncovered wall moves. Its history is clipped to the
  // samples around it, as a moving pixel's is, or the thing's colour would
  // linger as a ghost for dozens of frames.
  float lastDepth = past.b;
  bool uncovered = abs(depth - lastDepth) > 0.05 * max(depth, lastDepth);
  if ((moved > 0.5 || sky) && !broken) {
    // Moving pixels clip tightly: what they uncover is new. History that
    // had to move far was wrong: it starts to gather anew.
    vec3 lo = m1 - sigma - 0.002, hi = m1 + sigma + 0.002;
    kept = clamp(history.rgb, lo, hi);
    bool rejected = any(greaterThan(abs(kept - history.rgb), max(sigma, vec3(0.02)) * 2.0));
    if (rejected) n = min(n, 1.0 / blend);
  } else if (uncovered && !broken) {
    kept = clamp(history.rgb, m1 - sigma - 0.002, m1 + sigma + 0.002);
  } else if (valid && !broken) {
    float noise = 2.0 * luminance(sigma) / sqrt(max(count, 1.0));
    if (abs(fast - slow) > 0.5 * max(fast, slow) + noise + 0.002) {
      // Brought to the new brightness and into the colours around it: what
      // it held may have been another thing's (a cloth that slid away),
      // whose hue a change of brightness alone would keep.
      kept = clamp(kept * clamp(fast / max(slow, 1e-4), 0.0, 8.0), m1 - sigma - 0.002, m1 + sigma + 0.002);
      slow = fast;
      n = min(n, KeptAfterChange);
    }
  }
  // A sample far from this pixel's centre counts for less (upsampling).
  float alpha = valid && n > 1.0 ? clamp(nearest / n, 1.0 / (n * 4.0), 1.0) : 1.0;
  if (broken && valid) alpha = 0.0;
  ColorOut = vec4(mix(kept, current, alpha), fast);
  NewnessOut = vec4(n, mix(slow, here, 1.0 / n), depth, 0.0);
}
      ]]></Fragment>
    </Pass>
  </Passes>
</Shader>
