<?xml version="1.0" encoding="UTF-8"?>
<!--
  Screen lighting: one invocation per pixel of the G-buffer, 20 x 20 pixels
  per group. The 400 invocations are laid out as 25 rows of 16, so that CPU
  drivers, which run a row as whole SIMD vectors, leave no lane idle at the
  end of a 20-wide row; the first 200 invocations shade one colour of the
  pixel checkerboard and the rest the other.
  Per pixel and frame, in radiance throughout (VoxelRaytracing/LightField):
    - direct light from the sun and the area lights, sampled as the
      "NoiseStyle" says (one picked by its weight, one in turn, or all), with
      a shadow ray through the light field's occupancy;
    - the indirect light the light injection gathered at the voxels of the
      pixel's surface, averaged over its neighbouring voxels;
    - one reflection ray for glossy surfaces, which reads the light the
      voxels reflect and emit, the sky where it leaves the field and
      nothing where it gives up; with "HQ Reflections" off they reflect the
      sky and the sun only.
  "Visualize Voxels" shows the light field instead: the light of the first
  voxel along each pixel's ray. The noise is averaged by the temporal pass.
-->
<Shader Name="LightingCompute">
  <Uniforms/>
  <Passes>
    <Pass Name="GlobalIllumination">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 16, local_size_y = 25) in;
layout(rgba16f) writeonly uniform image2D img_output;
uniform sampler2D Normals;
uniform sampler2D Albedo;
uniform sampler2D LinearDepth;
uniform mat4 _InvWorldToView = mat4(1.0);
uniform vec3 _CameraPos = vec3(0.0);
uniform vec4 Time = vec4(0.0);
// The panel's switches are compiled in: a CPU driver pays for the code of
// a branch not taken, so each setting gets a program without the others.
[PreCompile] uniform float _CastGI;
[PreCompile] uniform float _CastSpecular;
[PreCompile] uniform float _CastIS;
[PreCompile] uniform float _HQReflections;
[PreCompile] uniform float _VisualizeVoxels;
[PreCompile] uniform float _NoiseStyle;
#include "VoxelRaytracing/LightField"

const int ShadowSteps = 96;
const int ReflectionSteps = 96;
// Rays start this many voxels out along the surface normal: clear of the
// surface's own voxel (the march passes voxels whose surface the ray stays
// in front of, so slanted surfaces do not shade themselves either).
const float SurfaceOffset = 1.0;

// The light of the first occupied voxel along the view ray; a little of its
// albedo keeps unlit voxels visible.
vec3 showVoxels(vec3 view) {
  vec3 o = toVoxel(_CameraPos);
  vec3 d = normalize(toVoxelDir(view));
  float enter = enterField(o, d);
  if (enter < 0.0) return skyRadiance(view);
  ivec3 cell;
  float t;
  if (marchField(o + d * (enter + 1e-3), d, 1e9, 512, false, cell, t) != MarchHit) {
    return skyRadiance(view);
  }
  return texelFetch(_LightField, cell, 0).rgb + texelFetch(_LightFieldEmission, cell, 0).rgb +
         voxelAlbedo(cell) * 0.05;
}

void main() {
  uint side = gl_LocalInvocationIndex / 200u;
  uint k = gl_LocalInvocationIndex % 200u;
  uint row = k / 10u;
  ivec2 pixel = ivec2(gl_WorkGroupID.xy) * 20 + ivec2((k % 10u) * 2u + ((row + side) & 1u), row);
  ivec2 size = imageSize(img_output);
  if (any(greaterThanEqual(pixel, size))) return;
  vec2 uv = (vec2(pixel) + 0.5) / vec2(size);
  uint pixelHash = uint(pixel.x) * 1973u + uint(pixel.y) * 9277u;
  seed = pixelHash + uint(Time.w) * 26699u;
  rnd();

  vec4 farPoint = _InvWorldToView * vec4(uv * 2.0 - 1.0, 1.0, 1.0);
  vec3 view = normalize(farPoint.xyz / farPoint.w - _CameraPos);
  if (_VisualizeVoxels > 0.5) {
    imageStore(img_output, pixel, vec4(showVoxels(view), 1.0));
    return;
  }
  float distance = texelFetch(LinearDepth, pixel, 0).r;
  if (distance <= 0.0) {
    imageStore(img_output, pixel, vec4(skyRadiance(view) + sunDiscRadiance(view), 1.0));
    return;
  }
  vec4 packedNormal = texelFetch(Normals, pixel, 0);
  vec3 n = normalize(packedNormal.xyz * 2.0 - 1.0);
  float roughness = packedNormal.a;
  vec3 albedo = texelFetch(Albedo, pixel, 0).rgb;
  vec3 world = _CameraPos + view * distance;
  vec3 nv = toVoxelDir(n);
  vec3 o = toVoxel(world) + nv / max(length(nv), 1e-6) * SurfaceOffset;

  // The indirect light the light injection gathered at the voxels of this
  // surface, spread smoothly over its pixels (no ray: voxels of a nearby
  // surface where none of its own is at hand, the sky where none is).
  vec3 indirect = vec3(0.0);
  if (_CastGI > 0.5 && !indirectFromVoxels(world, n, 0.5, indirect) &&
      !indirectFromVoxels(world, n, -1.0, indirect)) {
    indirect = PI * skyRadiance(n);
  }
  vec3 E = indirect;
  if (_CastIS > 0.5) {
    // The turn of the "in turn" style starts at a different light per pixel.
    uint turn = uint(Time.w) + (pixelHash ^ (pixelHash >> 7u));
    E += directIrradiance(world, n, o, int(_NoiseStyle + 0.5), turn, ShadowSteps, 0.0);
  }
  vec3 colour = albedo / PI * E;
  if (_CastSpecular > 0.5 && roughness < 0.5) {
    vec3 jitter = (vec3(rnd(), rnd(), rnd()) - 0.5) * roughness;
    vec3 d = normalize(reflect(view, n) + jitter);
    if (dot(d, n) < 0.0) d = reflect(d, n);
    vec3 L = _HQReflections > 0.5 ? incomingRadiance(o, d, true, true, ReflectionSteps)
                                  : skyRadiance(d) + sunDiscRadiance(d);
    float fresnel = 0.04 + 0.96 * pow(1.0 - max(dot(-view, n), 0.0), 5.0);
    colour += L * (fresnel * (1.0 - roughness * 2.0));
  }
  imageStore(img_output, pixel, vec4(colour, 1.0));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
