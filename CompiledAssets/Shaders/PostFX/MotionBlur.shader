<?xml version="1.0" encoding="UTF-8"?>
<!--
  Presentation to the window: a short blur along the screen motion ("Motion
  Blur"), exposure, a filmic tone curve (ACES fitted), a light vignette and
  the display encode (the window's framebuffer is not an sRGB one).
  The blur smears each pixel back along its own motion by at most MaxBlur
  pixels, its taps never more than a pixel apart: a long motion (a turn at
  two frames a second moves the picture by hundreds of pixels) gets a short
  smear, never copies of the picture spaced out along it.
  It runs on every pixel of the window whatever the render scale, so on a
  CPU rasteriser each read and each transcendental counts: the motion is a
  filtered read at the pixel's UV (cheaper there than a clamped texel
  fetch), and the encode is a fit of x^(1/2.2) in square roots.
-->
<Shader Name="MotionBlur">
  <Uniforms>
    <Texture Uniform="_MainTex" IsLinear="True"/>
    <Float Uniform="Exposure"/>
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
uniform sampler2D MotionVectors;
// 1 when the picture is not of the window's size; a program of its own,
// since a CPU rasteriser pays for both sides of a branch.
[PreCompile] uniform float _PresentRescale;
// 1 while "Motion Blur" is on; off, its code is compiled out.
[PreCompile] uniform float _MotionBlur;
layout(location = 0) out vec4 ColorOut;

// Multiplies the linear light before the tone curve; the lighting presets
// set it (a night scene is shot with a longer exposure than an afternoon).
uniform float Exposure = 1.1;

// The longest smear, in pixels of the picture, and its taps: a pixel apart
// at most.
const float MaxBlur = 6.0;
const int BlurTaps = 6;

vec3 aces(vec3 x) {
  return clamp((x * (2.51 * x + 0.03)) / (x * (2.43 * x + 0.59) + 0.14), 0.0, 1.0);
}

// x^(1/2.2) on 0 to 1 from x^(1/4), x^(1/2), x^(3/4) and x, least squares
// over the range: within 0.13 of an 8-bit level everywhere, and a quarter
// of the cost of pow on a CPU rasteriser.
vec3 encode(vec3 x) {
  vec3 s = sqrt(x), q = sqrt(s);
  return 0.035920788 * q + 1.2244624 * s - 0.38577074 * s * q + 0.12581118 * x;
}

void main() {
  ivec2 size = textureSize(_MainTex, 0);
  // A picture of the window's size is read texel for texel, without
  // filtering: the common case, and the cheaper one on a CPU.
  vec3 c = _PresentRescale > 0.5 ? textureLod(_MainTex, UV, 0.0).rgb
                                 : texelFetch(_MainTex, ivec2(gl_FragCoord.xy), 0).rgb;
  if (_MotionBlur > 0.5) {
    vec2 motion = textureLod(MotionVectors, UV, 0.0).xy;
    float len = length(motion * vec2(size));
    // A loop, not a branch: a CPU driver skips it where no pixel of a
    // block moves by half a pixel.
    int taps = len > 0.5 ? BlurTaps : 0;
    vec2 step = motion * (min(len, MaxBlur) / max(len, 1e-6)) / float(BlurTaps);
    for (int i = 1; i <= taps; ++i) c += textureLod(_MainTex, UV - step * float(i), 0.0).rgb;
    c /= float(taps + 1);
  }
  if (any(isnan(c))) c = vec3(0.0);
  c = aces(max(c, 0.0) * Exposure);
  vec2 d = UV - 0.5;
  c *= 1.0 - 0.35 * dot(d, d);
  ColorOut = vec4(encode(c), 1.0);
}
      ]]></Fragment>
    </Pass>
  </Passes>
</Shader>
