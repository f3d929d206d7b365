<?xml version="1.0" encoding="UTF-8"?>
<!--
  Temporal accumulation and upsampling. The lit colour (_MainTex) may be
  smaller than the target (the render scale) and was drawn with this frame's
  sub-pixel offset _AAJitter (pixels of _MainTex): each output pixel gathers
  the nearby samples where they really lie, weighted by distance, and blends
  them into the reprojected history.

  "Newness" holds how many frames the history of a pixel has gathered (0:
  none). A still pixel takes 1/n of the new frame, down to
  TemporalSSExponent / 8, so the noise of the lighting averages away; a
  moving one keeps at least TemporalSSExponent of it. The history is clipped
  to the spread of the new samples around it (mean and deviation), wide
  enough to let noise through to the average and narrow enough to drop what
  the scene no longer shows.
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
uniform float TemporalSSExponent = 0.2;
uniform vec2 _AAJitter = vec2(0.0);
// 1 when the lit colour is smaller than the target; a program of its own.
[PreCompile] uniform float TemporalUpsampling;
layout(location = 0) out vec4 ColorOut;
layout(location = 1) out float NewnessOut;

// Frames a still pixel keeps gathering for each unit of 1 / blend.
const float StillFrames = 8.0;

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
  vec3 c = texelFetch(_MainTex, k, 0).rgb;
  if (bad(c)) return;
  c = max(c, vec3(0.0));
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
  float age = texelFetch(Newness, pastTexel, 0).r;
  // A still pixel's history is its own texel: no filtering to pay for.
  vec3 history = moved < 0.01 ? texelFetch(BufferFinalLastFrame, pastTexel, 0).rgb
                              : textureLod(BufferFinalLastFrame, pastUV, 0.0).rgb;
  bool valid = all(greaterThanEqual(pastUV, vec2(0.0))) && all(lessThanEqual(pastUV, vec2(1.0))) &&
               !bad(history) && !bad(vec3(age)) && age >= 1.0;

  // Still pixels clip loosely (the spread is mostly noise); moving ones
  // tightly, as what they uncover is new.
  float gamma = moved > 0.5 ? 1.0 : 3.0;
  vec3 lo = m1 - gamma * sigma - 0.002, hi = m1 + gamma * sigma + 0.002;
  vec3 clipped = clamp(history, lo, hi);
  // Moving history that had to move far was wrong: it starts to gather
  // anew. A still pixel keeps its count: the lighting's noise is heavy-tailed
  // and a dark neighbourhood would otherwise reset it again and again.
  bool rejected = any(greaterThan(abs(clipped - history), max(sigma, vec3(0.02)) * 2.0));

  float blend = clamp(TemporalSSExponent, 0.01, 1.0);
  float cap = moved > 0.5 ? 1.0 / blend : StillFrames / blend;
  float n = valid ? min(age + 1.0, cap) : 1.0;
  if (rejected && moved > 0.5) n = min(n, 1.0 / blend);
  // A sample far from this pixel's centre counts for less (upsampling).
  float alpha = valid ? clamp(nearest / n, 1.0 / (n * 4.0), 1.0) : 1.0;
  ColorOut = vec4(mix(clipped, current, alpha), 1.0);
  NewnessOut = n;
}
      ]]></Fragment>
    </Pass>
  </Passes>
</Shader>
