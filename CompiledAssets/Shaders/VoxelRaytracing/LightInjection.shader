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
  from the side facing the sun, once per frame, one line towards the sun per
  invocation: a voxel sees the sun when it is empty and the voxel one slice
  sunwards on its line does. Lighting reads it instead of marching a shadow
  ray towards the sun for every pixel.
  The injection proper is two passes, so that the costly one runs on whole
  SIMD rows of occupied voxels only:
    Select  one invocation per 2 x 2 x 2 voxels: the occupied voxels of this
            frame's share are appended to the list (and a work group
            counted per 64); the rest keep the light copied over from last
            frame, stamped with the frame it was worked out in, so that a
            voxel that falls empty needs no clearing;
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
layout(rg8) writeonly uniform image3D _SunOut;
layout(r8) readonly uniform image3D _LightFieldDistanceImage;
uniform vec3 _LightFieldTexSize = vec3(1.0);
// The axis the sun runs along most (0 x, 1 y, 2 z), the slice nearest the
// sun and the way the slices go from it (+1 or -1), the sun's direction
// across the slices per slice crossed, and the first line's place.
uniform int _SweepAxis = 2;
uniform int _SweepFirst = 0;
uniform int _SweepDir = 1;
uniform vec2 _SweepStep = vec2(0.0);
uniform ivec2 _SweepOrigin = ivec2(0);
void main() {
  ivec3 size = ivec3(_LightFieldTexSize);
  ivec2 across = _SweepAxis == 0 ? size.yz : (_SweepAxis == 1 ? size.xz : size.xy);
  int slices = _SweepAxis == 0 ? size.x : (_SweepAxis == 1 ? size.y : size.z);
  ivec2 line = ivec2(gl_GlobalInvocationID.xy) + _SweepOrigin;
  // One line towards the sun per invocation, slice by slice away from it: a
  // voxel sees the sun when it is empty and the voxel before it on its line
  // does (or that one lies beyond the field). The k-th slice lies on the ray
  // at -k step, rounded: a step rounded on its own would lose a low sun's
  // rise (0.13 voxels a slice at sunset rounds to none, and a barrel's
  // shadow never ends) and bend its heading. Every voxel lies on one line.
  float lit = 1.0;
  for (int k = 0; k < slices; ++k) {
    ivec2 q = line + ivec2(floor(-float(k) * _SweepStep + 0.5));
    if (any(lessThan(q, ivec2(0))) || any(greaterThanEqual(q, across))) {
      lit = 1.0;
      continue;
    }
    int slice = _SweepFirst + k * _SweepDir;
    ivec3 v = _SweepAxis == 0 ? ivec3(slice, q) : (_SweepAxis == 1 ? ivec3(q.x, slice, q.y) : ivec3(q, slice));
    bool occupied = imageLoad(_LightFieldDistanceImage, v).r == 0.0;
    if (occupied) lit = 0.0;
    // Red: the sun is seen; green: the voxel is empty (solid voxels hold
    // neither), so that one filtered read gives both sums of sunVisibility.
    imageStore(_SunOut, v, vec4(lit, occupied ? 0.0 : 1.0, 0.0, 0.0));
  }
}
      ]]></Compute>
    </Pass>
    <Pass Name="Select">
      <Compute><![CDATA[
#version 430 core
// One invocation per 2 x 2 x 2 block of voxels, the cells of level 2 of the
// occupancy mips: most blocks are open air, and one fetch settles them.
layout(local_size_x = 4, local_size_y = 4, local_size_z = 4) in;
layout(std430, binding = 0) buffer VoxelList {
  uint GroupsX;
  uint GroupsY;
  uint GroupsZ;
  uint Count;
  uint Voxels[];
};
uniform usampler3D _LightFieldMaterial;
uniform sampler3D _LightFieldDistanceMips;
uniform vec3 _LightFieldTexSize = vec3(1.0);
uniform vec4 Time = vec4(0.0);
// Each voxel is updated every this many frames, in turn.
uniform float _InjectionShare = 1.0;
void main() {
  ivec3 block = ivec3(gl_GlobalInvocationID);
  ivec3 size = ivec3(_LightFieldTexSize);
  if (any(greaterThanEqual(block * 2, size))) return;
  // An odd side's last layer of voxels has no cell of its own there.
  ivec3 cells = textureSize(_LightFieldDistanceMips, 2);
  if (all(lessThan(block, cells)) && texelFetch(_LightFieldDistanceMips, block, 2).r == 0.0) return;
  uint share = uint(max(_InjectionShare, 1.0));
  uint picked[8];
  uint n = 0u;
  for (int k = 0; k < 8; ++k) {
    ivec3 v = block * 2 + ivec3(k & 1, (k >> 1) & 1, k >> 2);
    if (any(greaterThanEqual(v, size))) continue;
    if (unpackUnorm4x8(texelFetch(_LightFieldMaterial, v, 0).x).a < 0.5) continue;
    uint turn = uint(v.x) + uint(v.y) * 2u + uint(v.z) * 3u + uint(Time.w);
    if (turn % share != 0u) continue;
    picked[n] = uint(v.x) | (uint(v.y) << 10u) | (uint(v.z) << 20u);
    ++n;
  }
  if (n == 0u) return;
  uint first = atomicAdd(Count, n);
  // A work group of the injection per 64 voxels listed.
  uint groups = (first + n + 63u) / 64u - (first + 63u) / 64u;
  if (groups > 0u) atomicAdd(GroupsX, groups);
  for (uint k = 0u; k < n; ++k) Voxels[first + k] = picked[k];
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
uniform float _InjectionShare = 1.0;
// The share of the voxels' last light the first update after a big change
// gathers: the new light's power over the old where it fell. That light
// was worked out under the old one, and would bounce on for frames (the
// street at night, a frame after the day: ten times too bright, the next
// half again).
uniform float _CarriedLight = 1.0;

void main() {
  if (gl_GlobalInvocationID.x >= Count) return;
  uint entry = Voxels[gl_GlobalInvocationID.x];
  ivec3 v = ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u);
  uvec2 m = texelFetch(_LightFieldMaterial, v, 0).xy;
  vec3 albedo = unpackUnorm4x8(m.x).rgb;
  vec4 surface = unpackSnorm4x8(m.y);
  // Points (the cloth's particles) carry no normal: lit as if facing up, at
  // the voxel's centre.
  bool point = dot(surface.xyz, surface.xyz) < 0.25;
  vec3 n = point ? vec3(0.0, 0.0, 1.0) : normalize(surface.xyz);
  seed = uint(v.x) * 1973u + uint(v.y) * 9277u + uint(v.z) * 26699u + uint(Time.w) * 104729u;
  rnd();

  // The light is gathered where the surface passes through the voxel, and
  // its rays start there, as a pixel's do: from the voxel's centre, which
  // lies anywhere up to a voxel from the surface as the grid happens to
  // fall, a wall would see its corners from further out or closer in, voxel
  // by voxel, and stripes would follow the grid.
  vec3 at = vec3(v) + 0.5;
  if (!point) at += normalize(normalToVoxel(n)) * (surface.w * 0.87);
  vec3 o = at + normalize(toVoxelDir(n)) * SurfaceOffset;
  vec3 p = toWorld(at);
  uint frame = uint(Time.w);
  uint share = uint(max(_InjectionShare, 1.0));
  vec4 lastIndirect = texelFetch(_LightFieldIrradiance, v, 0);
  if (!lightCurrent(lastIndirect.a, frame, share)) lastIndirect = vec4(0.0);
  lightFrame = frame;
  lightShare = share;
  lightCarry = _CarriedLight;
  // The area lights' points run through an even sequence of the voxel's own
  // too, one step an update: the light a voxel reflects feeds every further
  // bounce, and a voxel whose direct light jumps from update to update sets
  // the surfaces that see it flickering in blotches.
  uint place = (uint(v.x) * 73856093u) ^ (uint(v.y) * 19349663u) ^ (uint(v.z) * 83492791u);
  areaStratified = true;
  areaFrame = frame / share;
  areaShift = uvec2(place * 2246822519u, (place ^ 0x27d4eb2fu) * 3266489917u);
  vec3 direct = directIrradiance(p, n, o, 0, 0u, Steps, luminance(lastIndirect.rgb));
  // The rays' directions run through an even sequence of the voxel's own,
  // a step per ray: the updates a voxel's light is blended over then cover
  // its sky evenly instead of leaving clumps and gaps, which show as
  // blotches a few voxels wide once the filter spreads them.
  uvec2 shift = uvec2(place * 2654435769u, (place ^ 0x5bd1e995u) * 2246822519u);
  // While the light settles each update stands alone, blended with
  // nothing: twice the rays then, for the few frames it lasts.
  int rays = _InjectionBlend.y >= 1.0 ? 2 * GatherRays : GatherRays;
  uint first = (frame / share) * uint(rays);
  vec3 indirect = vec3(0.0);
  for (int k = 0; k < rays; ++k) {
    vec3 d = cosineDirection(n, evenPoint(first + uint(k), shift));
    indirect += PI / float(rays) * incomingRadiance(o, d, false, false, Steps);
  }
  vec3 R = albedo / PI * (direct + indirect);
  vec4 last = texelFetch(_LightField, v, 0);
  float stamp = lightStamp(frame);
  imageStore(_RadianceOut, v, vec4(lightCurrent(last.a, frame, share) ? mix(last.rgb, R, _InjectionBlend.x) : R, stamp));
  imageStore(_IrradianceOut, v, vec4(lastIndirect.a > 0.5 ? mix(lastIndirect.rgb, indirect, _InjectionBlend.y) : indirect, stamp));
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
uniform vec4 Time = vec4(0.0);
uniform float _InjectionShare = 1.0;
// Kept in step with VoxelRaytracing/LightField's lightCurrent: this frame's
// volume, so a voxel lit this frame is 0 frames old.
bool current(float stamp, uint frame, uint share) {
  return stamp > 0.5 && ((frame - uint(stamp) + 1u) & 1023u) < share;
}
void main() {
  if (gl_GlobalInvocationID.x >= Count) return;
  uint frame = uint(Time.w);
  uint share = uint(max(_InjectionShare, 1.0));
  uint entry = Voxels[gl_GlobalInvocationID.x];
  ivec3 v = ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u);
  ivec3 size = ivec3(_LightFieldTexSize);
  vec3 n = unpackSnorm4x8(texelFetch(_LightFieldMaterial, v, 0).y).xyz;
  // The 5 x 5 voxels across the axis the surface faces most: with 3 x 3 a
  // surface lit only indirectly (the Cornell box's ceiling) stayed mottled,
  // and every other one of them left the street's shaded corners grainy
  // for the frames after a cut or a change of the light.
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
      if (!current(e.a, frame, share)) continue;
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
