<?xml version="1.0" encoding="UTF-8"?>
<!--
  Temporal accumulation: this frame's lit colour blended into the reprojected
  history, the history clamped to the current 3 x 3 neighbourhood so that
  moving edges do not smear. TemporalSSExponent sets the weight of the
  new frame; "Newness" counts how long a pixel has been stable (target 1).
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
layout(location = 0) out vec4 ColorOut;
layout(location = 1) out float NewnessOut;

bool bad(vec3 c) { return any(isnan(c)) || any(isinf(c)); }

void main() {
  vec2 texel = 1.0 / vec2(textureSize(_MainTex, 0));
  vec3 current = textureLod(_MainTex, UV, 0.0).rgb;
  if (bad(current)) current = vec3(0.0);
  vec3 lo = current, hi = current;
  for (int y = -1; y <= 1; ++y) {
    for (int x = -1; x <= 1; ++x) {
      vec3 c = textureLod(_MainTex, UV + vec2(x, y) * texel, 0.0).rgb;
      if (bad(c)) continue;
      lo = min(lo, c);
      hi = max(hi, c);
    }
  }
  vec2 motion = textureLod(MotionVectors, UV, 0.0).xy;
  vec2 pastUV = UV - motion;
  float age = textureLod(Newness, UV, 0.0).r;
  vec3 history = textureLod(BufferFinalLastFrame, pastUV, 0.0).rgb;
  bool valid = all(greaterThanEqual(pastUV, vec2(0.0))) && all(lessThanEqual(pastUV, vec2(1.0))) &&
               !bad(history) && !bad(vec3(age)) && age > 0.0;
  // Widen the box a little: the lighting is noisy by design and converges
  // only through this accumulation.
  vec3 centre = (lo + hi) * 0.5;
  vec3 extent = (hi - lo) * 0.5 * 1.6 + 0.02;
  history = clamp(history, centre - extent, centre + extent);
  // A pixel new to the history takes the current frame; one that has been
  // stable for eight frames takes about a third of the blend setting.
  float weight = valid ? mix(1.0, TemporalSSExponent * 0.35, age) : 1.0;
  ColorOut = vec4(mix(history, current, clamp(weight, 0.02, 1.0)), 1.0);
  float moved = length(motion / texel);
  NewnessOut = valid ? min(age + 0.125, 1.0) * (moved > 2.0 ? 0.5 : 1.0) : 0.125;
}
      ]]></Fragment>
    </Pass>
  </Passes>
</Shader>
