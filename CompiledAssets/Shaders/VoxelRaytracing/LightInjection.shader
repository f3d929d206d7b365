<?xml version="1.0" encoding="UTF-8"?>
<!--
  Light injection: gives every occupied voxel of the light field the
  radiance its surface reflects, albedo / pi x irradiance, where the
  irradiance comes from the sun and the area lights (one picked per voxel
  and update, with a shadow ray through the occupancy) and from the light
  that the voxels reflected or emitted last time (a few cosine rays). Light
  thus bounces once more every update; each result is blended into the last
  one, which averages the few rays over frames and lets light that went out
  fade within a few frames.
  Sun visibility, pass SunSweep, is swept through the field slice by slice
  from the side facing the sun, once per frame: a voxel sees the sun when it
  is empty and the voxel one slice sunwards on its line does. Lighting reads it
  instead of marching a shadow ray towards the sun for every pixel.
  The injection proper is two passes, so that the costly one runs on whole
  SIMD rows of occupied voxels only:
    Select  one invocation per voxel: empty voxels get zero, occupied ones
            outside this frame's share keep their light, the others are
            appended to the list (and a work group counted per 64);
    Inject  one invocation per listed voxel, dispatched from the count.
    Filter  the listed voxels again: each one's indirect light averaged with
            its neighbours of the same surface (5 x 5 across its normal,
            normals alike), for the pixels: the few rays of a voxel leave a
            blotchy pattern otherwise.
-->
<Shader Name="LightInjection">
  <Uniforms/>
  <Passes>
    <Pass Name="SunSweep">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 8, local_size_y = 8) in;
layout(r8) uniform image3D _SunOut;
layout(r8) readonly uniform image3D _LightFieldDistanceImage;
uniform vec3 _LightFieldTexSize = vec3(1.0);
// The slice being swept, its axis (0 x, 1 y, 2 z) and the voxel of the
// previous slice that lies towards the sun, relative to this one's.
uniform int _SweepAxis = 2;
uniform int _SweepSlice = 0;
uniform ivec3 _SweepOffset = ivec3(0, 0, 1);
void main() {
  ivec3 v;
  ivec2 g = ivec2(gl_GlobalInvocationID.xy);
  if (_SweepAxis == 0) v = ivec3(_SweepSlice, g.x, g.y);
  else if (_SweepAxis == 1) v = ivec3(g.x, _SweepSlice, g.y);
  else v = ivec3(g.x, g.y, _SweepSlice);
  ivec3 size = ivec3(_LightFieldTexSize);
  if (any(greaterThanEqual(v, size))) return;
  bool occupied = imageLoad(_LightFieldDistanceImage, v).r == 0.0;
  ivec3 q = v + _SweepOffset;
  // Beyond the field nothing is in the sun's way.
  float upstream = any(lessThan(q, ivec3(0))) || any(greaterThanEqual(q, size)) ? 1.0 : imageLoad(_SunOut, q).r;
  // Solid voxels hold 0, empty ones 0.5 in shadow and 1 in the sun.
  imageStore(_SunOut, v, vec4(occupied ? 0.0 : (upstream > 0.75 ? 1.0 : 0.5)));
}
      ]]></Compute>
    </Pass>
    <Pass Name="Select">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 4, local_size_y = 4, local_size_z = 4) in;
layout(rgba16f) writeonly uniform image3D _RadianceOut;
layout(rgba16f) writeonly uniform image3D _IrradianceOut;
layout(std430, binding = 0) buffer VoxelList {
  uint GroupsX;
  uint GroupsY;
  uint GroupsZ;
  uint Count;
  uint Voxels[];
};
uniform usampler3D _LightFieldMaterial;
uniform sampler3D _LightField;
uniform sampler3D _LightFieldIrradiance;
uniform vec3 _LightFieldTexSize = vec3(1.0);
uniform vec4 Time = vec4(0.0);
// Each voxel is updated every this many frames, in turn.
uniform float _InjectionShare = 1.0;
void main() {
  ivec3 v = ivec3(gl_GlobalInvocationID);
  if (any(greaterThanEqual(v, ivec3(_LightFieldTexSize)))) return;
  if (unpackUnorm4x8(texelFetch(_LightFieldMaterial, v, 0).x).a < 0.5) {
    imageStore(_RadianceOut, v, vec4(0.0));
    imageStore(_IrradianceOut, v, vec4(0.0));
    return;
  }
  uint share = uint(max(_InjectionShare, 1.0));
  uint turn = uint(v.x) + uint(v.y) * 2u + uint(v.z) * 3u + uint(Time.w);
  if (turn % share != 0u) {
    imageStore(_RadianceOut, v, texelFetch(_LightField, v, 0));
    imageStore(_IrradianceOut, v, texelFetch(_LightFieldIrradiance, v, 0));
    return;
  }
  uint i = atomicAdd(Count, 1u);
  if (i % 64u == 0u) atomicAdd(GroupsX, 1u);
  Voxels[i] = uint(v.x) | (uint(v.y) << 10u) | (uint(v.z) << 20u);
}
      ]]></Compute>
    </Pass>
    <Pass Name="Inject">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(rgba16f) writeonly uniform image3D _RadianceOut;
layout(rgba16f) writeonly uniform image3D _IrradianceOut;
layout(std430, binding = 0) readonly buffer VoxelList {
  uint GroupsX;
  uint GroupsY;
  uint GroupsZ;
  uint Count;
  uint Voxels[];
};
uniform vec4 Time = vec4(0.0);
#include "VoxelRaytracing/LightField"

const int GatherRays = 2;
const int Steps = 64;
// Weights of this update's estimate against the last, for the reflected
// light (which further bounces read: it follows quickly) and for the
// indirect light the pixels show (smoother); both 1 while the light
// settles after a big change.
uniform vec2 _InjectionBlend = vec2(0.5, 0.25);

void main() {
  if (gl_GlobalInvocationID.x >= Count) return;
  uint entry = Voxels[gl_GlobalInvocationID.x];
  ivec3 v = ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u);
  uvec2 m = texelFetch(_LightFieldMaterial, v, 0).xy;
  vec3 albedo = unpackUnorm4x8(m.x).rgb;
  vec3 n = unpackSnorm4x8(m.y).xyz;
  // Points (the cloth's particles) carry no normal: lit as if facing up.
  n = dot(n, n) < 0.25 ? vec3(0.0, 0.0, 1.0) : normalize(n);
  seed = uint(v.x) * 1973u + uint(v.y) * 9277u + uint(v.z) * 26699u + uint(Time.w) * 104729u;
  rnd();

  vec3 centre = vec3(v) + 0.5;
  vec3 o = centre + normalize(toVoxelDir(n));
  vec3 p = toWorld(centre);
  vec4 lastIndirect = texelFetch(_LightFieldIrradiance, v, 0);
  vec3 direct = directIrradiance(p, n, o, 0, 0u, Steps, luminance(lastIndirect.rgb));
  vec3 indirect = vec3(0.0);
  for (int k = 0; k < GatherRays; ++k) {
    indirect += PI / float(GatherRays) * incomingRadiance(o, cosineDirection(n), false, false, Steps);
  }
  vec3 R = albedo / PI * (direct + indirect);
  vec4 last = texelFetch(_LightField, v, 0);
  imageStore(_RadianceOut, v, vec4(last.a > 0.5 ? mix(last.rgb, R, _InjectionBlend.x) : R, 1.0));
  imageStore(_IrradianceOut, v, vec4(lastIndirect.a > 0.5 ? mix(lastIndirect.rgb, indirect, _InjectionBlend.y) : indirect, 1.0));
}
      ]]></Compute>
    </Pass>
    <Pass Name="Filter">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(rgba16f) writeonly uniform image3D _FilteredOut;
layout(std430, binding = 0) readonly buffer VoxelList {
  uint GroupsX;
  uint GroupsY;
  uint GroupsZ;
  uint Count;
  uint Voxels[];
};
uniform usampler3D _LightFieldMaterial;
uniform sampler3D _LightFieldIrradiance;
uniform vec3 _LightFieldTexSize = vec3(1.0);
void main() {
  if (gl_GlobalInvocationID.x >= Count) return;
  uint entry = Voxels[gl_GlobalInvocationID.x];
  ivec3 v = ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u);
  ivec3 size = ivec3(_LightFieldTexSize);
  vec3 n = unpackSnorm4x8(texelFetch(_LightFieldMaterial, v, 0).y).xyz;
  // The 5 x 5 voxels across the axis the surface faces most: with 3 x 3 a
  // surface lit only indirectly (the Cornell box's ceiling) stayed mottled.
  vec3 a = abs(n);
  ivec3 u = a.x >= a.y && a.x >= a.z ? ivec3(0, 1, 0) : ivec3(1, 0, 0);
  ivec3 w = a.z >= a.x && a.z >= a.y ? ivec3(0, 1, 0) : ivec3(0, 0, 1);
  vec4 sum = vec4(0.0);
  for (int j = -2; j <= 2; ++j)
    for (int i = -2; i <= 2; ++i) {
      ivec3 c = v + u * i + w * j;
      if (any(lessThan(c, ivec3(0))) || any(greaterThanEqual(c, size))) continue;
      uvec2 mc = texelFetch(_LightFieldMaterial, c, 0).xy;
      if (unpackUnorm4x8(mc.x).a < 0.5 || dot(unpackSnorm4x8(mc.y).xyz, n) < 0.8) continue;
      vec4 e = texelFetch(_LightFieldIrradiance, c, 0);
      if (e.a < 0.5) continue;
      // The voxel itself counts double: edges stay a little sharper.
      float weight = (i == 0 && j == 0) ? 2.0 : 1.0;
      sum += vec4(e.rgb, 1.0) * weight;
    }
  imageStore(_FilteredOut, v, sum.w > 0.0 ? vec4(sum.rgb / sum.w, 1.0) : vec4(0.0));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
