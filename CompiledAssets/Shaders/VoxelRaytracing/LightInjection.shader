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
  In a cascade (VoxelRaytracing/LightField) the levels lie stacked in the
  volumes; the sweep runs level by level, coarsest first, each line that
  comes in from beyond a level's window taking the coarser level's sun
  there, and level k relights its voxels every share x _ShareGrowth^k
  frames: a coarse voxel is seen from afar, its light changes slowly. Its
  occupied voxels are kept in a list that changes only where the levels'
  voxels were drawn anew (a scan of every voxel of every level each frame
  would cost more than lighting them), and its light is not a pair that
  trades places: what was relit is published into the volumes read.
    Compact the listed voxels outside the boxes drawn anew this frame;
    Scan    the occupied voxels of those boxes, after them;
    Pick    this frame's share of the list, for Inject and Filter;
    Publish the light just worked out into the volumes the passes read.
-->
<Shader Name="LightInjection">
  <Uniforms/>
  <Passes>
    <Pass Name="SunSweep">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 8, local_size_y = 8) in;
layout(rg8) uniform image3D _SunOut;
layout(r8) readonly uniform image3D _LightFieldDistanceImage;
uniform vec3 _LightFieldTexSize = vec3(1.0);
// A cascade's level being swept: its window's wrap in the volumes, its
// place in the stack and, for all but the coarsest, where the next one's
// window lies relative to its own (its corner in coarse voxels, from this
// level's corner halved) and where the sun is, in this level's voxels.
[PreCompile] uniform float _Cascaded;
uniform ivec3 _SweepWrap = ivec3(0);
uniform int _SweepBase = 0;
uniform ivec3 _SweepCoarseWrap = ivec3(0);
uniform int _SweepCoarseBase = 0;
uniform vec3 _SweepCoarseOffset = vec3(0.0);
uniform int _SweepCoarse = 0;
uniform vec3 _SweepSun = vec3(0.0, 0.0, 1.0);
ivec3 sweepTexel(ivec3 v, ivec3 wrap, int base, ivec3 n) {
  ivec3 t = v + wrap;
  t -= n * ivec3(greaterThanEqual(t, n));
  return t + ivec3(0, 0, base);
}
// Whether the coarser level sees the sun a voxel and a half of its own
// sunwards of this level's voxel `v`; the sky where none holds it.
float coarseSun(ivec3 v, ivec3 n) {
  if (_Cascaded < 0.5 || _SweepCoarse == 0) return 1.0;
  vec3 q = (vec3(v) + 0.5) * 0.5 - _SweepCoarseOffset + _SweepSun * 1.5;
  ivec3 c = ivec3(floor(q));
  if (any(lessThan(c, ivec3(0))) || any(greaterThanEqual(c, n))) return 1.0;
  return imageLoad(_SunOut, sweepTexel(c, _SweepCoarseWrap, _SweepCoarseBase, n)).r > 0.5 ? 1.0 : 0.0;
}
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
  // In a cascade a line entering the window (its first slice, or from a
  // side) starts with what the coarser level sees there.
  bool outside = true;
  float lit = 1.0;
  for (int k = 0; k < slices; ++k) {
    ivec2 q = line + ivec2(floor(-float(k) * _SweepStep + 0.5));
    if (any(lessThan(q, ivec2(0))) || any(greaterThanEqual(q, across))) {
      lit = 1.0;
      outside = true;
      continue;
    }
    int slice = _SweepFirst + k * _SweepDir;
    ivec3 v = _SweepAxis == 0 ? ivec3(slice, q) : (_SweepAxis == 1 ? ivec3(q.x, slice, q.y) : ivec3(q, slice));
    if (outside && _Cascaded > 0.5) lit = coarseSun(v, size);
    outside = false;
    ivec3 t = _Cascaded > 0.5 ? sweepTexel(v, _SweepWrap, _SweepBase, size) : v;
    bool occupied = imageLoad(_LightFieldDistanceImage, t).r == 0.0;
    if (occupied) lit = 0.0;
    // Red: the sun is seen; green: the voxel is empty (solid voxels hold
    // neither), so that one filtered read gives both sums of sunVisibility.
    imageStore(_SunOut, t, vec4(lit, occupied ? 0.0 : 1.0, 0.0, 0.0));
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
layout(rg32ui) writeonly uniform uimage3D _MaterialOut;
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

// Where something moved or went away lately (renderer/StaleRegions): boxes
// in the sun's frame (axes U, V across the sun, L towards it), one a column,
// each holding the thing's place and the shadow it cast. The voxels there
// are relit without history: the light it blocked, bounced or took along
// is worked out afresh rather than blended out over many frames.
uniform float _StaleCount = 0.0;
uniform vec3 _StaleAxisU = vec3(1.0, 0.0, 0.0);
uniform vec3 _StaleAxisV = vec3(0.0, 1.0, 0.0);
uniform vec3 _StaleAxisL = vec3(0.0, 0.0, 1.0);
uniform mat4 _StaleLo = mat4(0.0);
uniform mat4 _StaleHi = mat4(0.0);

bool stale(vec3 world) {
  vec3 q = vec3(dot(world, _StaleAxisU), dot(world, _StaleAxisV), dot(world, _StaleAxisL));
  for (int k = 0; k < 4; ++k) {
    if (float(k) < _StaleCount && all(greaterThanEqual(q, _StaleLo[k].xyz)) && all(lessThanEqual(q, _StaleHi[k].xyz))) {
      return true;
    }
  }
  return false;
}

// A voxel whose surfaces face several ways (the foot of a wall, a block's
// edge) keeps the plane of one, and the point of it nearest the centre may
// lie behind another: where the floor crosses a voxel a quarter of the way
// down, the wall's point at the centre lies below the floor, its rays saw
// the floor from behind and its light came out black (the foot of every
// wall dark in a band a voxel high, the light the floor and the walls
// gathered a twentieth low).
// The point moves along the plane until each other way's facing, in the
// half-voxel it records, lies behind it. Not where the voxel holds both
// sides of a wall thinner than itself: a point moved clear of the far
// side's facing lands outside the wall, and the light of a sealed room's
// walls leaked in.
vec3 clearOfFacings(vec3 at, ivec3 c, vec3 n, uint facings) {
  if (facesOneWay(facings) || facesBothWays(facings)) return at;
  vec3 nv = normalize(normalToVoxel(n));
  vec3 a = abs(nv);
  // The way the kept plane faces, as the voxelisation counts it.
  int own = a.z >= a.x && a.z >= a.y ? 2 : (a.x >= a.y ? 0 : 1);
  for (int axis = 0; axis < 3; ++axis) {
    if (axis == own) continue;
    uint up = facingGroup(facings, axis * 2), down = facingGroup(facings, axis * 2 + 1);
    float now = at[axis] - float(c[axis]);
    float target = now;
    // Short of the voxel's far face: a point on it would belong to the next.
    if (up != 0u) target = max(target, min(float(findMSB(up) + 1) * 0.5, 15.0 / 16.0));
    if (down != 0u) target = min(target, max(float(findLSB(down)) * 0.5, 1.0 / 16.0));
    vec3 e = vec3(0.0);
    e[axis] = 1.0;
    vec3 along = e - nv * dot(nv, e);
    if (target != now && abs(along[axis]) > 0.1) at += along * ((target - now) / along[axis]);
  }
  return at;
}

bool heldAt(ivec3 c) {
  if (any(lessThan(c, ivec3(0))) || any(greaterThanEqual(c, ivec3(_LightFieldTexSize)))) return false;
  return unpackUnorm4x8(texelFetch(_LightFieldMaterial, fieldTexel(c), 0).x).a > 0.5;
}

// A slab thinner than a voxel leaves both its sides in one voxel, which
// keeps the plane of whichever was drawn last. Where that side lies against
// another surface (a paving slab's underside on the ground, when the grid's
// plane falls there) its light is of no use, and the open side, the one
// seen, found no voxel facing its way and came out black. The voxel takes
// the open side's plane instead, where it passes (the half its facing
// records), and keeps it: the pixels and the filter match their normals
// against it. Where both sides are open (a thin wall) it stays as drawn.
bool openSide(ivec3 c, uint facings, inout vec4 surface) {
  if (!facesBothWays(facings)) return false;
  vec3 nv = normalToVoxel(surface.xyz);
  vec3 a = abs(nv);
  int axis = a.z >= a.x && a.z >= a.y ? 2 : (a.x >= a.y ? 0 : 1);
  int way = nv[axis] < 0.0 ? 1 : 0;
  uint other = facingGroup(facings, axis * 2 + (1 - way));
  if (facingGroup(facings, axis * 2 + way) == 0u || other == 0u) return false;
  ivec3 ahead = ivec3(0);
  ahead[axis] = way == 0 ? 1 : -1;
  if (!heldAt(c + ahead) || heldAt(c - ahead)) return false;
  // The outermost half the open side passes, along its own normal (the
  // sides of a slab are parallel).
  vec3 open = -normalize(nv);
  float place = way == 0 ? ((other & 1u) != 0u ? 0.25 : 0.75) : ((other & 2u) != 0u ? 0.75 : 0.25);
  surface = vec4(-surface.xyz, clamp((place - 0.5) / open[axis] / 0.87, -1.0, 1.0));
  return true;
}

// The world normal of voxel-space normal `nv` (normalToVoxel's inverse).
vec3 normalToWorld(vec3 nv) {
  if (cascaded()) return normalize(nv);
  return normalize(transpose(mat3(_LightFieldWorldToLocal)) * (nv * 0.5 * _LightFieldTexSize));
}

// A voxel whose surfaces face several ways (the foot of a wall, a block's
// edge) keeps the plane of one, the one drawn last, and a ray that met the
// voxel took that one's light for all of them. Where the floor meets a wall
// the wall's foot, lit at a slant, is half as bright as the floor beside
// it, which is what the ceiling and the walls' lower halves see there: the
// Cornell cube's bounce light came out a twentieth low all over. The voxel
// shows rays the mean of its surfaces' light instead: each other way's
// direct light on its own facing (square to its axis, in the half-voxel it
// records, clear of the others as the kept plane's point is), the kept
// plane's gathered light standing in for theirs (more rays would cost the
// street's injection a third more for little change). Facings near the
// kept plane's (a curved surface) are left to it, and both sides of a wall
// thinner than a voxel too: the far side's light must not show on the near.
vec3 otherFacingsLight(ivec3 c, vec3 kept, uint facings, vec3 albedo, vec3 indirect, float otherLight,
                       out int count) {
  count = 0;
  vec3 sum = vec3(0.0);
  if (facesOneWay(facings) || facesBothWays(facings)) return sum;
  vec3 keptWorld = normalToWorld(kept);
  vec3 a = abs(kept);
  int keptAxis = a.z >= a.x && a.z >= a.y ? 2 : (a.x >= a.y ? 0 : 1);
  int keptWay = keptAxis * 2 + (kept[keptAxis] < 0.0 ? 1 : 0);
  // The ways first, the light after, a facing a turn for every voxel alike:
  // neighbours holding different ways would each take the costly step on
  // their own turns of the ways.
  int ways[5];
  for (int way = 0; way < 6; ++way) {
    if (facingGroup(facings, way) == 0u || way == keptWay) continue;
    vec3 nv = vec3(0.0);
    nv[way / 2] = (way & 1) == 0 ? 1.0 : -1.0;
    if (dot(normalToWorld(nv), keptWorld) > 0.5 || count == 5) continue;
    ways[count] = way;
    ++count;
  }
  for (int i = 0; i < count; ++i) {
    int way = ways[i], axis = way / 2;
    bool up = (way & 1) == 0;
    vec3 nv = vec3(0.0);
    nv[axis] = up ? 1.0 : -1.0;
    vec3 n = normalToWorld(nv);
    // The half furthest out along the facing.
    uint halves = facingGroup(facings, way);
    float part = float(up ? findMSB(halves) : findLSB(halves));
    // The rays of the last gather may have left it in a coarser level.
    fieldLevel = rayLevel;
    vec3 at = vec3(c) + 0.5;
    at[axis] = float(c[axis]) + (part + 0.5) * 0.5;
    at = clearOfFacings(at, c, n, facings);
    vec3 o = at + normalize(toVoxelDir(n)) * SurfaceOffset;
    vec3 direct = directIrradiance(toWorld(at), n, o, 0, 0u, Steps, otherLight);
    sum += albedo / PI * (direct + indirect);
  }
  return sum;
}

void main() {
  if (gl_GlobalInvocationID.x >= Count) return;
  uint entry = Voxels[gl_GlobalInvocationID.x];
  // The voxel's texel, and (in a cascade: its level's) voxel in the field.
  ivec3 v = ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u);
  int level;
  ivec3 cell = texelCell(v, level);
  rayLevel = fieldLevel = level;
  uvec2 m = texelFetch(_LightFieldMaterial, v, 0).xy;
  vec3 albedo = unpackUnorm4x8(m.x).rgb;
  vec4 surface = unpackSnorm4x8(m.y);
  // Points (the cloth's particles) carry no normal: lit as if facing up, at
  // the voxel's centre.
  bool point = dot(surface.xyz, surface.xyz) < 0.25;
  // A cascade's levels keep their materials until redrawn; one grid's are
  // copied back over from the still ones every frame something moves, and
  // the plane would turn back and forth with the voxel's updates.
  if (!point && cascaded() && openSide(cell, voxelFacings(cell), surface)) {
    imageStore(_MaterialOut, v, uvec4(m.x, packSnorm4x8(surface), 0u, 0u));
  }
  vec3 n = point ? vec3(0.0, 0.0, 1.0) : normalize(surface.xyz);
  seed = uint(v.x) * 1973u + uint(v.y) * 9277u + uint(v.z) * 26699u + uint(Time.w) * 104729u;
  rnd();

  // The light is gathered where the surface passes through the voxel, and
  // its rays start there, as a pixel's do: from the voxel's centre, which
  // lies anywhere up to a voxel from the surface as the grid happens to
  // fall, a wall would see its corners from further out or closer in, voxel
  // by voxel, and stripes would follow the grid.
  vec3 at = vec3(cell) + 0.5;
  if (!point) at = clearOfFacings(at + normalize(normalToVoxel(n)) * (surface.w * 0.87), cell, n, voxelFacings(cell));
  vec3 o = at + normalize(toVoxelDir(n)) * SurfaceOffset;
  vec3 p = toWorld(at);
  uint frame = uint(Time.w);
  uint share = uint(max(_InjectionShare, 1.0));
  uint ownShare = levelShare(share);
  // A voxel drawn anew lately is relit every frame: its updates count one
  // a frame, and its light is the mean of them all (the coarser level's
  // light it started from counting as one) until it is as settled as its
  // level's turns would keep it.
  int age = cascaded() && _InjectionBlend.y < 1.0 ? freshAge(v) : -1;
  uint update = age >= 0 ? frame : frame / ownShare;
  vec4 last = texelFetch(_LightField, v, 0);
  vec4 lastIndirect = texelFetch(_LightFieldIrradiance, v, 0);
  if (!lightCurrent(lastIndirect.a, frame, ownShare)) lastIndirect = vec4(0.0);
  // A voxel of a cascade that has no light yet (it scrolled in) starts
  // from the coarser level's where that holds the same surface: its first
  // few rays alone would show as a flicker where the levels blend.
  if (cascaded() && !lightCurrent(last.a, frame, ownShare) && level + 1 < levelCount()) {
    fieldLevel = level + 1;
    ivec3 coarse = fieldTexel(ivec3(floor(toVoxel(p))));
    vec4 cl = texelFetch(_LightField, coarse, 0), ci = texelFetch(_LightFieldIrradiance, coarse, 0);
    uvec2 cm = texelFetch(_LightFieldMaterial, coarse, 0).xy;
    bool same = unpackUnorm4x8(cm.x).a > 0.5 && dot(unpackSnorm4x8(cm.y).xyz, n) > 0.7;
    if (same && lightCurrent(cl.a, frame, levelShare(share))) {
      last = vec4(cl.rgb, lightStamp(frame - 1u));
      lastIndirect = vec4(ci.rgb, 1.0);
    }
    fieldLevel = level;
  }
  lightFrame = frame;
  lightShare = share;
  lightCarry = _CarriedLight;
  // The area lights' points run through an even sequence of the voxel's own
  // too, one step an update: the light a voxel reflects feeds every further
  // bounce, and a voxel whose direct light jumps from update to update sets
  // the surfaces that see it flickering in blotches.
  uint place = (uint(v.x) * 73856093u) ^ (uint(v.y) * 19349663u) ^ (uint(v.z) * 83492791u);
  areaStratified = true;
  areaFrame = update;
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
  uint first = update * uint(rays);
  // In a cascade the gather sees the sky beyond two levels coarser than
  // its own (four times its window's reach): what lies further off fills
  // little of the sky above a surface, and the rays through all the levels
  // cost a tenth of the town's injection.
  marchReach = 2;
  vec3 indirect = vec3(0.0);
  for (int k = 0; k < rays; ++k) {
    vec3 d = cosineDirection(n, evenPoint(first + uint(k), shift));
    indirect += PI / float(rays) * incomingRadiance(o, d, false, false, Steps);
  }
  vec3 R = albedo / PI * (direct + indirect);
  // The irradiance the pixels read stays the kept plane's: they match
  // their normals against it.
  int others = 0;
  fieldLevel = level;
  if (!point) {
    R += otherFacingsLight(cell, normalToVoxel(n), voxelFacings(cell), albedo, indirect, luminance(lastIndirect.rgb),
                           others);
  }
  R /= float(1 + others);
  float stamp = lightStamp(frame);
  vec2 blend = stale(p) ? vec2(1.0) : (age >= 0 ? min(_InjectionBlend, vec2(1.0 / float(age + 2))) : _InjectionBlend);
  imageStore(_RadianceOut, v, vec4(lightCurrent(last.a, frame, ownShare) ? mix(last.rgb, R, blend.x) : R, stamp));
  imageStore(_IrradianceOut, v, vec4(lastIndirect.a > 0.5 ? mix(lastIndirect.rgb, indirect, blend.y) : indirect, stamp));
}
      ]]></Compute>
    </Pass>
    <Pass Name="Filter">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(rgba16f) writeonly uniform image3D _FilteredOut;
// The neighbours' material and indirect light, fifty reads a voxel: a
// software driver loads from an image for less than it fetches a texel.
layout(rg32ui) readonly uniform uimage3D _MaterialIn;
layout(rgba16f) readonly uniform image3D _IrradianceIn;
layout(std430, binding = 0) readonly buffer VoxelList {
  uint GroupsX;
  uint GroupsY;
  uint GroupsZ;
  uint Count;
  uint Voxels[];
};
uniform vec4 Time = vec4(0.0);
uniform float _InjectionShare = 1.0;
#include "VoxelRaytracing/LightField"
// Kept in step with VoxelRaytracing/LightField's lightCurrent: this frame's
// volume, so a voxel lit this frame is 0 frames old.
bool current(float stamp, uint frame, uint share) {
  return stamp > 0.5 && ((frame - uint(stamp) + 1u) & 1023u) < share;
}
void main() {
  if (gl_GlobalInvocationID.x >= Count) return;
  uint frame = uint(Time.w);
  uint entry = Voxels[gl_GlobalInvocationID.x];
  ivec3 v = ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u);
  // The neighbours are found in the voxel's own level (its window wraps).
  int level;
  ivec3 cell = texelCell(v, level);
  fieldLevel = level;
  uint share = levelShare(uint(max(_InjectionShare, 1.0)));
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
      ivec3 c = cell + u * i + w * j;
      if (any(lessThan(c, ivec3(0))) || any(greaterThanEqual(c, size))) continue;
      ivec3 at = fieldTexel(c);
      uvec2 mc = imageLoad(_MaterialIn, at).xy;
      if (unpackUnorm4x8(mc.x).a < 0.5 || dot(unpackSnorm4x8(mc.y).xyz, n) < 0.8) continue;
      vec4 e = imageLoad(_IrradianceIn, at);
      if (!current(e.a, frame, share)) continue;
      // The voxel itself counts double: edges stay a little sharper.
      float weight = (i == 0 && j == 0) ? 2.0 : 1.0;
      sum += vec4(e.rgb, 1.0) * weight;
    }
  imageStore(_FilteredOut, v, sum.w > 0.0 ? vec4(sum.rgb / sum.w, 1.0) : vec4(0.0));
}
      ]]></Compute>
    </Pass>
    <Pass Name="Compact">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(std430, binding = 3) readonly buffer HeldList {
  uint HeldGroupsX;
  uint HeldGroupsY;
  uint HeldGroupsZ;
  uint HeldCount;
  uint Held[];
};
layout(std430, binding = 4) buffer KeptList {
  uint KeptGroupsX;
  uint KeptGroupsY;
  uint KeptGroupsZ;
  uint KeptCount;
  uint Kept[];
};
// Appends `n` voxels to the kept list, a work group counted per 64.
uint keep(uint n) {
  uint first = atomicAdd(KeptCount, n);
  uint groups = (first + n + 63u) / 64u - (first + 63u) / 64u;
  if (groups > 0u) atomicAdd(KeptGroupsX, groups);
  return first;
}
ivec3 unpackVoxel(uint entry) { return ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u); }
uint packVoxel(ivec3 v) { return uint(v.x) | (uint(v.y) << 10u) | (uint(v.z) << 20u); }
// The pieces of the boxes drawn anew this frame, in texels of the volumes.
uniform int _ChangedCount = 0;
uniform ivec3 _ChangedLo[32];
uniform ivec3 _ChangedHi[32];
void main() {
  if (gl_GlobalInvocationID.x >= HeldCount) return;
  uint entry = Held[gl_GlobalInvocationID.x];
  ivec3 t = unpackVoxel(entry);
  for (int i = 0; i < _ChangedCount; ++i) {
    if (all(greaterThanEqual(t, _ChangedLo[i])) && all(lessThan(t, _ChangedHi[i]))) return;
  }
  Kept[keep(1u)] = entry;
}
      ]]></Compute>
    </Pass>
    <Pass Name="Scan">
      <Compute><![CDATA[
#version 430 core
// One invocation per 2 x 2 x 2 voxels of a piece (whole cells of 8): most
// blocks are open air, and one fetch of the occupancy settles them.
layout(local_size_x = 4, local_size_y = 4, local_size_z = 4) in;
layout(std430, binding = 3) readonly buffer HeldList {
  uint HeldGroupsX;
  uint HeldGroupsY;
  uint HeldGroupsZ;
  uint HeldCount;
  uint Held[];
};
layout(std430, binding = 4) buffer KeptList {
  uint KeptGroupsX;
  uint KeptGroupsY;
  uint KeptGroupsZ;
  uint KeptCount;
  uint Kept[];
};
// Appends `n` voxels to the kept list, a work group counted per 64.
uint keep(uint n) {
  uint first = atomicAdd(KeptCount, n);
  uint groups = (first + n + 63u) / 64u - (first + 63u) / 64u;
  if (groups > 0u) atomicAdd(KeptGroupsX, groups);
  return first;
}
ivec3 unpackVoxel(uint entry) { return ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u); }
uint packVoxel(ivec3 v) { return uint(v.x) | (uint(v.y) << 10u) | (uint(v.z) << 20u); }
uniform usampler3D _LightFieldMaterial;
uniform sampler3D _LightFieldDistanceMips;
uniform ivec3 _PieceFirst = ivec3(0);
uniform ivec3 _PieceSize = ivec3(0);
void main() {
  ivec3 i = ivec3(gl_GlobalInvocationID) * 2;
  if (any(greaterThanEqual(i, _PieceSize))) return;
  ivec3 block = _PieceFirst + i;
  if (texelFetch(_LightFieldDistanceMips, block >> 1, 2).r == 0.0) return;
  uint found[8];
  uint n = 0u;
  for (int k = 0; k < 8; ++k) {
    ivec3 v = block + ivec3(k & 1, (k >> 1) & 1, k >> 2);
    if (unpackUnorm4x8(texelFetch(_LightFieldMaterial, v, 0).x).a < 0.5) continue;
    found[n] = packVoxel(v);
    ++n;
  }
  if (n == 0u) return;
  uint first = keep(n);
  for (uint k = 0u; k < n; ++k) Kept[first + k] = found[k];
}
      ]]></Compute>
    </Pass>
    <Pass Name="Pick">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 64) in;
layout(std430, binding = 3) readonly buffer HeldList {
  uint HeldGroupsX;
  uint HeldGroupsY;
  uint HeldGroupsZ;
  uint HeldCount;
  uint Held[];
};
layout(std430, binding = 4) buffer KeptList {
  uint KeptGroupsX;
  uint KeptGroupsY;
  uint KeptGroupsZ;
  uint KeptCount;
  uint Kept[];
};
// Appends `n` voxels to the kept list, a work group counted per 64.
uint keep(uint n) {
  uint first = atomicAdd(KeptCount, n);
  uint groups = (first + n + 63u) / 64u - (first + 63u) / 64u;
  if (groups > 0u) atomicAdd(KeptGroupsX, groups);
  return first;
}
ivec3 unpackVoxel(uint entry) { return ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u); }
uint packVoxel(ivec3 v) { return uint(v.x) | (uint(v.y) << 10u) | (uint(v.z) << 20u); }
layout(std430, binding = 0) buffer VoxelList {
  uint GroupsX;
  uint GroupsY;
  uint GroupsZ;
  uint Count;
  uint Voxels[];
};
uniform vec4 Time = vec4(0.0);
uniform float _InjectionShare = 1.0;
#include "VoxelRaytracing/LightField"
void main() {
  if (gl_GlobalInvocationID.x >= HeldCount) return;
  uint entry = Held[gl_GlobalInvocationID.x];
  ivec3 v = unpackVoxel(entry);
  texelCell(v, fieldLevel);
  uint share = levelShare(uint(max(_InjectionShare, 1.0)));
  uint turn = uint(v.x) + uint(v.y) * 2u + uint(v.z) * 3u + uint(Time.w);
  if (turn % share != 0u && freshAge(v) < 0) return;
  uint at = atomicAdd(Count, 1u);
  if (at % 64u == 0u) atomicAdd(GroupsX, 1u);
  Voxels[at] = entry;
}
      ]]></Compute>
    </Pass>
    <Pass Name="Publish">
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
uniform sampler3D _WorkedRadiance;
uniform sampler3D _WorkedIrradiance;
void main() {
  if (gl_GlobalInvocationID.x >= Count) return;
  uint entry = Voxels[gl_GlobalInvocationID.x];
  ivec3 v = ivec3(entry & 1023u, (entry >> 10u) & 1023u, entry >> 20u);
  imageStore(_RadianceOut, v, texelFetch(_WorkedRadiance, v, 0));
  imageStore(_IrradianceOut, v, texelFetch(_WorkedIrradiance, v, 0));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
