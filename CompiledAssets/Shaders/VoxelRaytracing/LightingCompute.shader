<?xml version="1.0" encoding="UTF-8"?>
<!--
  Screen lighting: one invocation per pixel of the G-buffer, 20 x 20 pixels
  per group. The 400 invocations are laid out as 25 rows of 16, so that CPU
  drivers, which run a row as whole SIMD vectors, leave no lane idle at the
  end of a 20-wide row; the first 200 invocations shade one colour of the
  pixel checkerboard and the rest the other.
  Per pixel and frame, in radiance throughout (VoxelRaytracing/LightField,
  VoxelRaytracing/ScreenLight):
    - the sun, each pixel's own, shadowed by the sun's shadow map (SunShadow)
      where a cascade reaches and by the light field's swept visibility
      beyond;
    - direct light from the area lights, sampled as the "NoiseStyle" says
      (one picked by its weight, one in turn, or all), with a shadow ray
      through the light field's occupancy;
    - the indirect light the light injection gathered at the voxels of the
      pixel's surface, averaged over its neighbouring voxels;
    - one reflection ray for glossy surfaces, which reads the light the
      voxels reflect and emit, the sky where it leaves the field and
      nothing where it gives up; with "HQ Reflections" off they reflect the
      sky and the sun only.
  With "Sparse Light" on, the area lights, the indirect light and the
  reflection come from the "Sparse" pass, run first for one pixel of each
  2 x 2 block (a quarter of the rays; the reflection rays of the glossy
  samples in a "Reflection" pass of their own), and each pixel takes them from the
  samples around it that lie on its own surface (same plane, same facing);
  a pixel whose four samples all see the sky (a thin pole against it) is
  listed for the "Fallback" pass, which gives it the sun and the indirect
  light of its own (no area light, no reflection). The area lights of the
  "in turn" and "all" styles are each pixel's own.
  "Visualize Voxels" shows the light field instead: the light of the first
  voxel along each pixel's ray. The noise is averaged by the temporal pass.
-->
<Shader Name="LightingCompute">
  <Uniforms/>
  <Passes>
    <Pass Name="Sparse">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 16, local_size_y = 4) in;
// Each block's sample, one texel a block: irradiance and the plane's
// offset (its normal's dot product with the point as seen from the camera),
// reflected radiance, and the plane's normal (alpha 0: the sample sees the
// sky; else its share of the sun, ScreenLight's sunSampleAlpha). Plain
// textures: a CPU driver fetches them far more cheaply than it unpacks
// packed numbers.
layout(rgba32f) writeonly uniform image2D img_light;
layout(rgba16f) writeonly uniform image2D img_reflection;
layout(rgba8) writeonly uniform image2D img_plane;
layout(std430, binding = 1) buffer ReflectionList {
  uvec3 ReflectionGroups;
  uint ReflectionCount;
  uint ReflectionBlocks[];
};
// The samples whose sun the "SunSamples" pass works out.
layout(std430, binding = 4) buffer SunSampleList {
  uvec3 SunSampleGroups;
  uint SunSampleCount;
  uint SunSampleBlocks[];
};
[PreCompile] uniform float _CastGI;
[PreCompile] uniform float _CastSpecular;
[PreCompile] uniform float _CastIS;
[PreCompile] uniform float _HQReflections;
[PreCompile] uniform float _NoiseStyle;
#include "VoxelRaytracing/LightField"
#include "VoxelRaytracing/ScreenLight"

void main() {
  ivec2 block = ivec2(gl_GlobalInvocationID.xy);
  if (any(greaterThanEqual(block, imageSize(img_light)))) return;
  ivec2 size = textureSize(LinearDepth, 0);
  ivec2 pixel = min(block * 2 + sampleOffset(), size - 1);
  Surface s;
  // Only the default style's area lights are shared: "in turn" takes each
  // light once over consecutive frames in every pixel (shared between pixels
  // whose samples move each frame, the turns would not add up), and "all"
  // is the quiet picture the other two are held against.
  vec3 E = vec3(0.0);
  vec4 normal = vec4(0.0);
  float offset = 0.0;
  if (readSurface(pixel, size, s)) {
    float sun = sampleSun(s);
    E = costlyLight(s, pixel, int(_NoiseStyle + 0.5) == 0, luminance(sunIrradianceSeen(s, abs(sun))));
    // The offset is taken along the normal as stored, so that the two agree.
    // Without a map the light field's sunlight, smooth, is shared like a
    // wide penumbra's.
    normal = vec4(s.N * 0.5 + 0.5, sunSampleAlpha(sun, _SunShadowOn < 0.5));
    if (sun < 0.0 && sunReaches(s)) {
      uint i = atomicAdd(SunSampleCount, 1u);
      if (i % 64u == 0u) atomicAdd(SunSampleGroups.x, 1u);
      SunSampleBlocks[i] = uint(block.x) | (uint(block.y) << 16);
    }
    offset = dot(round(normal.xyz * 255.0) / 255.0 * 2.0 - 1.0, s.World - _CameraPos);
    // The few glossy samples (glass, iron) are listed for the "Reflection"
    // pass: here every sample would pay for their rays.
    if (glossy(s)) {
      uint i = atomicAdd(ReflectionCount, 1u);
      if (i % 64u == 0u) atomicAdd(ReflectionGroups.x, 1u);
      ReflectionBlocks[i] = uint(block.x) | (uint(block.y) << 16);
    }
  }
  imageStore(img_light, block, vec4(E, offset));
  imageStore(img_reflection, block, vec4(0.0));
  imageStore(img_plane, block, normal);
}
      ]]></Compute>
    </Pass>
    <Pass Name="SunSamples">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(rgba8) uniform image2D img_plane;
layout(std430, binding = 4) readonly buffer SunSampleList {
  uvec3 SunSampleGroups;
  uint SunSampleCount;
  uint SunSampleBlocks[];
};
[PreCompile] uniform float _CastGI;
[PreCompile] uniform float _CastSpecular;
[PreCompile] uniform float _CastIS;
[PreCompile] uniform float _HQReflections;
[PreCompile] uniform float _NoiseStyle;
#include "VoxelRaytracing/LightField"
#include "VoxelRaytracing/ScreenLight"

// The sun of the block samples in a penumbra wider than a texel, or beyond
// the last cascade. Where it spans a few pixels it is smooth, and the
// pixels between such samples take theirs.
void main() {
  uint i = gl_GlobalInvocationID.x;
  if (i >= SunSampleCount) return;
  ivec2 block = ivec2(SunSampleBlocks[i] & 0xffffu, SunSampleBlocks[i] >> 16);
  ivec2 size = textureSize(LinearDepth, 0);
  ivec2 pixel = min(block * 2 + sampleOffset(), size - 1);
  Surface s;
  readSurface(pixel, size, s);
  seedFor(pixel);
  bool wide;
  float seen = screenSunSeen(s, wide);
  vec4 plane = imageLoad(img_plane, block);
  imageStore(img_plane, block, vec4(plane.xyz, sunSampleAlpha(seen, wide)));
}
      ]]></Compute>
    </Pass>
    <Pass Name="Reflection">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(rgba16f) writeonly uniform image2D img_reflection;
layout(std430, binding = 1) readonly buffer ReflectionList {
  uvec3 ReflectionGroups;
  uint ReflectionCount;
  uint ReflectionBlocks[];
};
[PreCompile] uniform float _CastGI;
[PreCompile] uniform float _CastSpecular;
[PreCompile] uniform float _CastIS;
[PreCompile] uniform float _HQReflections;
[PreCompile] uniform float _NoiseStyle;
#include "VoxelRaytracing/LightField"
#include "VoxelRaytracing/ScreenLight"

// The reflection of each glossy block sample the "Sparse" pass listed.
void main() {
  uint i = gl_GlobalInvocationID.x;
  if (i >= ReflectionCount) return;
  ivec2 block = ivec2(ReflectionBlocks[i] & 0xffffu, ReflectionBlocks[i] >> 16);
  ivec2 size = textureSize(LinearDepth, 0);
  ivec2 pixel = min(block * 2 + sampleOffset(), size - 1);
  Surface s;
  readSurface(pixel, size, s);
  // A sequence of its own, apart from the one the sample's lights took.
  seedFor(pixel);
  seed ^= 0x68bc21ebu;
  imageStore(img_reflection, block, vec4(reflectedLight(s), 1.0));
}
      ]]></Compute>
    </Pass>
    <Pass Name="Fallback">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(rgba16f) writeonly uniform image2D img_output;
layout(std430, binding = 1) readonly buffer FallbackList {
  uvec3 FallbackGroups;
  uint FallbackCount;
  uint FallbackPixels[];
};
[PreCompile] uniform float _CastGI;
[PreCompile] uniform float _CastSpecular;
[PreCompile] uniform float _CastIS;
[PreCompile] uniform float _HQReflections;
[PreCompile] uniform float _NoiseStyle;
#include "VoxelRaytracing/LightField"
#include "VoxelRaytracing/ScreenLight"

// The pixels whose four block samples all see the sky (a thin pole against
// it) get the sun and the indirect light of their own: no area light, no
// reflection, which would cost a third of the sparse pass's savings.
void main() {
  uint i = gl_GlobalInvocationID.x;
  if (i >= FallbackCount) return;
  ivec2 pixel = ivec2(FallbackPixels[i] & 0xffffu, FallbackPixels[i] >> 16);
  Surface s;
  readSurface(pixel, imageSize(img_output), s);
  seedFor(pixel);
  imageStore(img_output, pixel, vec4(s.Albedo / PI * cheapLight(s), 1.0));
}
      ]]></Compute>
    </Pass>
    <Pass Name="GlobalIllumination">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 16, local_size_y = 25) in;
layout(rgba16f) writeonly uniform image2D img_output;
// The sparse pass's samples, one texel a block, read through images: a
// software driver loads from an image for less than it fetches a texel.
layout(rgba32f) readonly uniform image2D img_sparseLight;
layout(rgba16f) readonly uniform image2D img_sparseReflection;
layout(rgba8) readonly uniform image2D img_sparsePlane;
layout(std430, binding = 1) buffer FallbackList {
  uvec3 FallbackGroups;
  uint FallbackCount;
  uint FallbackPixels[];
};
layout(std430, binding = 2) buffer SunEdgeList {
  uvec3 SunEdgeGroups;
  uint SunEdgeCount;
  uint SunEdgePixels[];
};
// The panel's switches are compiled in: a CPU driver pays for the code of
// a branch not taken, so each setting gets a program without the others.
[PreCompile] uniform float _CastGI;
[PreCompile] uniform float _CastSpecular;
[PreCompile] uniform float _CastIS;
[PreCompile] uniform float _HQReflections;
[PreCompile] uniform float _VisualizeVoxels;
[PreCompile] uniform float _NoiseStyle;
[PreCompile] uniform float _SparseLight;
#include "VoxelRaytracing/LightField"
#include "VoxelRaytracing/ScreenLight"

// The light of the first occupied voxel along the view ray; a little of its
// albedo keeps unlit voxels visible.
vec3 showVoxels(vec3 view) {
  // A cascade's finest level holds the camera.
  rayLevel = fieldLevel = 0;
  vec3 o = toVoxel(_CameraPos);
  vec3 d = normalize(toVoxelDir(view));
  float enter = cascaded() ? 0.0 : enterField(o, d);
  if (enter < 0.0) return skyRadiance(view);
  ivec3 cell;
  float t;
  if (marchField(o + d * (enter + 1e-3), d, 1e9, 512, false, cell, t) != MarchHit) {
    return skyRadiance(view);
  }
  ivec3 at = fieldTexel(cell);
  return texelFetch(_LightField, at, 0).rgb + texelFetch(_LightFieldEmission, at, 0).rgb + voxelAlbedo(cell) * 0.05;
}

// The sparse pass's light for `pixel`, from the four block samples around
// it, weighted by their closeness and by how well they lie on the pixel's
// surface: within a hundredth of the distance of its plane, facing its
// way. Where none does (the edge of a window frame), the nearest samples
// that see a surface stand in: working the light out for such pixels would
// cost a third of the sparse pass's savings. False where all four see the
// sky (a thin pole against it).
bool gatherSparse(ivec2 pixel, Surface s, out vec3 E, out vec3 R, out SunSamples sun) {
  ivec2 blocks = imageSize(img_sparseLight);
  ivec2 offset = sampleOffset();
  ivec2 first = (pixel - offset) >> 1;
  vec3 seen = s.World - _CameraPos;
  float tolerance = 1.0 / (0.01 * s.Distance + 1e-4);
  bool shiny = glossy(s);
  E = vec3(0.0);
  R = vec3(0.0);
  sun = noSunSamples();
  float total = 0.0;
  for (int i = 0; i < 4; ++i) {
    ivec2 block = clamp(first + ivec2(i & 1, i >> 1), ivec2(0), blocks - 1);
    vec4 light = imageLoad(img_sparseLight, block);
    vec4 plane = imageLoad(img_sparsePlane, block);
    vec3 n = plane.xyz * 2.0 - 1.0;
    float off = (dot(n, seen) - light.w) * tolerance;
    float facing = max(dot(s.N, n), 0.0);
    facing *= facing;
    facing *= facing;
    off *= off;
    float match = facing * facing / (1.0 + off * off);
    // Bilinear between the samples, which sit at block * 2 + offset.
    vec2 gap = min(abs(vec2(block * 2 + offset - pixel)), vec2(2.0));
    vec2 near = max(1.0 - 0.5 * gap, vec2(0.05));
    // A sample that sees the sky counts nothing.
    float w = near.x * near.y * (match + 1e-3) * step(4.0 / 255.0, plane.a);
    addSunSample(sun, plane.a, match, w);
    E += light.rgb * w;
    if (shiny) R += imageLoad(img_sparseReflection, block).rgb * w;
    total += w;
  }
  if (total <= 0.0) return false;
  E /= total;
  R /= total;
  return true;
}

void main() {
  uint side = gl_LocalInvocationIndex / 200u;
  uint k = gl_LocalInvocationIndex % 200u;
  uint row = k / 10u;
  ivec2 pixel = ivec2(gl_WorkGroupID.xy) * 20 + ivec2((k % 10u) * 2u + ((row + side) & 1u), row);
  ivec2 size = imageSize(img_output);
  if (any(greaterThanEqual(pixel, size))) return;

  Surface s;
  bool solid = readSurface(pixel, size, s);
  if (_VisualizeVoxels > 0.5) {
    imageStore(img_output, pixel, vec4(showVoxels(s.View), 1.0));
    return;
  }
  if (!solid) {
    imageStore(img_output, pixel, vec4(skyRadiance(s.View) + sunDiscRadiance(s.View), 1.0));
    return;
  }
  vec3 E, R;
  SunSamples samples;
  if (_SparseLight < 0.5) {
    vec3 direct = screenSun(s);
    E = costlyLight(s, pixel, true, luminance(direct)) + direct;
    R = reflectedLight(s);
  } else if (!gatherSparse(pixel, s, E, R, samples)) {
    // Left to the "Fallback" pass: a CPU driver runs the code of a branch
    // for every pixel, taken or not.
    uint i = atomicAdd(FallbackCount, 1u);
    if (i % 64u == 0u) atomicAdd(FallbackGroups.x, 1u);
    FallbackPixels[i] = uint(pixel.x) | (uint(pixel.y) << 16);
    return;
  } else if (_CastIS > 0.5 && int(_NoiseStyle + 0.5) != 0) {
    seedFor(pixel);
    E += areaLight(s, pixel);
  }
  // The sun its samples agree on, or else listed for the "SunEdge" pass,
  // which finds in the alpha what stands in where the map cannot tell.
  float alpha = 1.0;
  if (_SparseLight > 0.5) {
    bool unknown;
    float sun = sharedSun(samples, unknown);
    if (sun < 0.0 && sunReaches(s)) {
      uint i = atomicAdd(SunEdgeCount, 1u);
      if (i % 64u == 0u) atomicAdd(SunEdgeGroups.x, 1u);
      SunEdgePixels[i] = uint(pixel.x) | (uint(pixel.y) << 16);
      alpha = sharedWideSun(samples);
    }
    E += sunIrradianceSeen(s, max(sun, 0.0));
  }
  imageStore(img_output, pixel, vec4(s.Albedo / PI * E + R, alpha));
}
      ]]></Compute>
    </Pass>
    <Pass Name="SunEdge">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(rgba16f) uniform image2D img_output;
layout(std430, binding = 2) readonly buffer SunEdgeList {
  uvec3 SunEdgeGroups;
  uint SunEdgeCount;
  uint SunEdgePixels[];
};
[PreCompile] uniform float _CastGI;
[PreCompile] uniform float _CastSpecular;
[PreCompile] uniform float _CastIS;
[PreCompile] uniform float _HQReflections;
[PreCompile] uniform float _NoiseStyle;
#include "VoxelRaytracing/LightField"
#include "VoxelRaytracing/ScreenLight"

// The sun of the pixels whose block samples did not agree on it: the sharp
// step, or every step where it may lie in a wider penumbra (or beyond the
// last cascade). One dispatch rather than a second for the soft ones: the
// list runs along rows, so the soft pixels come in runs and a CPU driver's
// lanes mostly agree on the branch, while a dispatch of its own cost more.
void main() {
  uint i = gl_GlobalInvocationID.x;
  if (i >= SunEdgeCount) return;
  ivec2 pixel = ivec2(SunEdgePixels[i] & 0xffffu, SunEdgePixels[i] >> 16);
  Surface s;
  readSurface(pixel, imageSize(img_output), s);
  vec4 lit = imageLoad(img_output, pixel);
  seedFor(pixel);
  vec3 sun = sunIrradianceSeen(s, edgeSun(s, lit.a));
  imageStore(img_output, pixel, vec4(lit.rgb + s.Albedo / PI * sun, 1.0));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
