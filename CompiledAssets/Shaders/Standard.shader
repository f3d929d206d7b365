<?xml version="1.0" encoding="UTF-8"?>
<!--
  The street's surface shader: one colour, a roughness and an emission per
  material, optionally an albedo map and a relief of setts (SettRelief). The deferred path writes the G-buffer that the lighting compute
  shades; the forward path lights with the level's sun (unshadowed) and a
  sky/ground ambient. The voxelisation passes share their vertex and geometry stages
  through includes.

  Passes and their colour targets:
    Deferred  0: normal packed into 0..1, roughness in alpha
              1: screen motion  2: albedo  3: distance from the camera
    Forward   0: lit colour                1: screen motion
    Emission  0: emitted light (added)
    Depth     depth only
    LightmapGI           the surface seen from above over the light field's
                         box, albedo x sky
    VoxelizeRank         image atomics: the rank of the surface that keeps
                         each voxel (VoxelRaytracing/VoxelStore)
    VoxelizeMidAndColor  image stores: albedo, normal, emission and occupancy
                         of the light field
    VoxelizeDetail       image stores: occupancy at twice the resolution
  Matrices left unset stay identities, so a draw without a camera is in clip
  space. The camera passes draw with _AAWorldToView (this frame's sub-pixel
  jitter) and compute motion with the unjittered matrices.
-->
<Shader Name="Standard">
  <Uniforms>
    <Vector3 Uniform="Color"/>
    <Float Uniform="Roughness"/>
    <Float Uniform="Metallic"/>
    <Vector3 Uniform="EmissionColor"/>
    <Float Uniform="Strength"/>
    <Texture Uniform="AlbedoMap" IsLinear="False"/>
    <Float Uniform="Setts"/>
  </Uniforms>
  <Passes>
    <Pass Name="Deferred">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
in vec3 normal;
in vec2 uv;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _LocalToWorld_Past = mat4(1.0);
uniform mat3 _LocalToWorldNormal = mat3(1.0);
uniform mat4 _WorldToView = mat4(1.0);
uniform mat4 _WorldToView_Past = mat4(1.0);
uniform mat4 _AAWorldToView = mat4(1.0);
out vec3 worldNormal;
out vec3 worldPosition;
out vec2 texcoord;
out vec4 clipNow;
out vec4 clipPast;
void main() {
  worldNormal = _LocalToWorldNormal * normal;
  vec4 world = _LocalToWorld * vec4(position, 1.0);
  worldPosition = world.xyz;
  texcoord = uv;
  // Drawn at this frame's sub-pixel offset; the motion stays unjittered.
  clipNow = _WorldToView * world;
  clipPast = _WorldToView_Past * _LocalToWorld_Past * vec4(position, 1.0);
  gl_Position = _AAWorldToView * world;
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec3 worldNormal;
in vec4 clipNow;
in vec4 clipPast;
in vec3 worldPosition;
in vec2 texcoord;
uniform vec3 Color = vec3(0.8);
uniform float Roughness = 0.5;
uniform sampler2D AlbedoMap;
// 1 when the material has an albedo map; without one the filtered read (of
// white) is compiled out.
[PreCompile] uniform float _AlbedoMapped;
// The size of the stones of a sett relief (SettRelief), 0 for none.
[PreCompile] uniform float Setts;
#include "SettRelief"
uniform vec3 _CameraPos = vec3(0.0);
layout(location = 0) out vec4 NormalOut;
layout(location = 1) out vec2 MotionOut;
layout(location = 2) out vec4 AlbedoOut;
layout(location = 3) out float DepthOut;
void main() {
  vec3 n = Setts > 0.0 ? settNormal(texcoord, Setts) : normalize(worldNormal);
  // Two bits of roughness ride in the normal's alpha (0, 1/3, 2/3, 1).
  NormalOut = vec4(n * 0.5 + 0.5, clamp(Roughness, 0.0, 1.0));
  vec3 albedo = Color;
  if (_AlbedoMapped > 0.5) albedo *= texture(AlbedoMap, texcoord).rgb;
  if (Setts > 0.0) albedo *= settShade(texcoord, Setts);
  AlbedoOut = vec4(albedo, 1.0);
  // Distance from the camera, not view depth: the lighting walks the pixel's
  // ray by this much to find the surface.
  DepthOut = length(worldPosition - _CameraPos);
  // Clip w is never 0 for a visible fragment; the past one is guarded.
  MotionOut = (clipNow.xy / clipNow.w - clipPast.xy / max(abs(clipPast.w), 1e-6)) * 0.5;
}
      ]]></Fragment>
    </Pass>
    <Pass Name="Forward">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
in vec3 normal;
in vec2 uv;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _LocalToWorld_Past = mat4(1.0);
uniform mat3 _LocalToWorldNormal = mat3(1.0);
uniform mat4 _WorldToView = mat4(1.0);
uniform mat4 _WorldToView_Past = mat4(1.0);
uniform mat4 _AAWorldToView = mat4(1.0);
out vec3 worldPosition;
out vec3 worldNormal;
out vec2 texcoord;
out vec4 clipNow;
out vec4 clipPast;
void main() {
  vec4 world = _LocalToWorld * vec4(position, 1.0);
  worldPosition = world.xyz;
  worldNormal = _LocalToWorldNormal * normal;
  texcoord = uv;
  clipNow = _WorldToView * world;
  clipPast = _WorldToView_Past * _LocalToWorld_Past * vec4(position, 1.0);
  gl_Position = _AAWorldToView * world;
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec3 worldPosition;
in vec3 worldNormal;
in vec2 texcoord;
in vec4 clipNow;
in vec4 clipPast;
uniform vec3 Color = vec3(0.8);
uniform float Roughness = 0.5;
uniform float Metallic = 0.0;
uniform vec3 EmissionColor = vec3(0.0);
uniform float Strength = 0.0;
uniform sampler2D AlbedoMap;
[PreCompile] uniform float _AlbedoMapped;
[PreCompile] uniform float Setts;
#include "SettRelief"
uniform vec3 _CameraPos = vec3(0.0);
// The level's sky and sun (radiance; the sun's irradiance at normal
// incidence), black without a Sky.
uniform vec3 _SunDirection = vec3(0.0, 0.0, 1.0);
uniform vec3 _SunIrradiance = vec3(0.0);
uniform vec3 _SkyZenith = vec3(0.0);
uniform vec3 _SkyGround = vec3(0.0);
layout(location = 0) out vec4 ColorOut;
layout(location = 1) out vec2 MotionOut;

void main() {
  vec3 n = Setts > 0.0 ? settNormal(texcoord, Setts) : normalize(worldNormal);
  vec3 v = normalize(_CameraPos - worldPosition);
  vec3 albedo = Color;
  if (_AlbedoMapped > 0.5) albedo *= texture(AlbedoMap, texcoord).rgb;
  if (Setts > 0.0) albedo *= settShade(texcoord, Setts);
  vec3 diffuse = albedo * (1.0 - Metallic);
  vec3 specularTint = mix(vec3(0.04), albedo, Metallic);

  float lambert = max(dot(n, _SunDirection), 0.0);
  vec3 h = normalize(_SunDirection + v);
  // Blinn-Phong with the exponent taken from the roughness.
  float r = clamp(Roughness, 0.05, 1.0);
  float exponent = 2.0 / (r * r * r * r) - 2.0;
  float highlight = pow(max(dot(n, h), 0.0), exponent) * (exponent + 8.0) / 25.1327;
  // No shadows and no bounces here: the sun unshadowed, the sky as if the
  // surface saw half of it and half of the ground.
  vec3 direct = _SunIrradiance * lambert * (diffuse / 3.14159265 + specularTint * highlight);
  vec3 ambient = mix(_SkyGround, _SkyZenith, n.z * 0.5 + 0.5) * diffuse;

  ColorOut = vec4(direct + ambient + EmissionColor * Strength, 1.0);
  MotionOut = (clipNow.xy / clipNow.w - clipPast.xy / max(abs(clipPast.w), 1e-6)) * 0.5;
}
      ]]></Fragment>
    </Pass>
    <Pass Name="Emission">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _AAWorldToView = mat4(1.0);
void main() {
  gl_Position = _AAWorldToView * _LocalToWorld * vec4(position, 1.0);
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
uniform vec3 EmissionColor = vec3(0.0);
uniform float Strength = 0.0;
layout(location = 0) out vec4 EmittedOut;
void main() {
  EmittedOut = vec4(EmissionColor * Strength, 0.0);
}
      ]]></Fragment>
    </Pass>
    <Pass Name="Depth">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _AAWorldToView = mat4(1.0);
void main() {
  gl_Position = _AAWorldToView * _LocalToWorld * vec4(position, 1.0);
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
void main() {
}
      ]]></Fragment>
    </Pass>
    <Pass Name="LightmapGI">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
in vec3 normal;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat3 _LocalToWorldNormal = mat3(1.0);
uniform mat4 _LightFieldWorldToLocal = mat4(1.0);
out vec3 worldNormal;
void main() {
  worldNormal = _LocalToWorldNormal * normal;
  // Laid out from above over the light field's box (x, y in -1..1): the
  // meshes' UVs tile, and a tiling layout folds every repeat onto the map.
  vec3 field = (_LightFieldWorldToLocal * _LocalToWorld * vec4(position, 1.0)).xyz;
  gl_Position = vec4(clamp(field.xy, -1.0, 1.0), 0.0, 1.0);
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec3 worldNormal;
uniform vec3 Color = vec3(0.8);
layout(location = 0) out vec4 LightOut;
void main() {
  vec3 n = normalize(worldNormal);
  vec3 sky = mix(vec3(0.10, 0.08, 0.06), vec3(0.20, 0.26, 0.38), n.z * 0.5 + 0.5);
  LightOut = vec4(Color * sky, 1.0);
}
      ]]></Fragment>
    </Pass>
    <Pass Name="VoxelizeRank">
      <Vertex><![CDATA[
#version 430 core
uniform vec3 _LightFieldTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldTexSize
#include "VoxelRaytracing/VoxelizeVertex"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec3 Normal;
layout(r32ui) uniform uimage3D _RankImage;
#include "VoxelRaytracing/VoxelizeSurface"
#include "VoxelRaytracing/VoxelizeColour"
void main() {
  vec3 nv = voxelNormal(normalize(Normal));
  bool emits = emitting(emission());
  int count;
  vec3 at;
  ivec3 first = surfaceVoxels(nv, count, at);
  for (int i = 0; i < count; ++i) {
    ivec3 v = first;
    v[DepthAxis] += i;
    ivec3 t;
    if (voxelTexel(v, 1, ivec3(_LightFieldTexSize), t)) imageAtomicMax(_RankImage, t, voxelRank(emits, voxelOffset(at, v, nv)));
  }
}
      ]]></Fragment>
      <Geometry><![CDATA[
#version 430 core
uniform vec3 _LightFieldTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldTexSize
#include "VoxelRaytracing/VoxelizeGeometry"
      ]]></Geometry>
    </Pass>
    <Pass Name="VoxelizeMidAndColor">
      <Vertex><![CDATA[
#version 430 core
uniform vec3 _LightFieldTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldTexSize
#include "VoxelRaytracing/VoxelizeVertex"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec3 Normal;
in vec2 UV;
uniform vec3 Color = vec3(0.8);
uniform float _AreaSampled = 0.0;
uniform sampler2D AlbedoMap;
layout(rg32ui) writeonly uniform uimage3D _MaterialImage;
layout(rgba16f) writeonly uniform image3D _EmissionImage;
layout(r8) writeonly uniform image3D _RayTexImageAlpM2;
layout(r8) writeonly uniform image3D _RayTexImageAlpM3;
layout(r8) writeonly uniform image3D _RayTexImageAlpM4;
layout(r8) writeonly uniform image3D _RayTexImageAlpM5;
layout(r8) writeonly uniform image3D _RayTexImageAlpM6;
layout(r32ui) uniform uimage3D _FacingImage;
#include "VoxelRaytracing/VoxelizeSurface"
#include "VoxelRaytracing/VoxelizeColour"
void main() {
  // What the light injection needs, not a lit colour: the surface's albedo,
  // its normal and what it emits. Albedo stays below 1 so that light
  // bounced between surfaces dies out.
  vec3 albedo = clamp(Color * texture(AlbedoMap, UV).rgb, 0.0, 0.98);
  vec3 n = normalize(Normal);
  vec3 nv = voxelNormal(n);
  vec3 emitted = emission();
  bool emits = emitting(emitted);
  int count;
  vec3 at;
  ivec3 first = surfaceVoxels(nv, count, at);
  for (int i = 0; i < count; ++i) {
    ivec3 v = first;
    v[DepthAxis] += i;
    ivec3 t;
    if (!voxelTexel(v, 1, ivec3(_LightFieldTexSize), t)) continue;
    float offset = voxelOffset(at, v, nv);
    if (voxelWinner(t, voxelRank(emits, offset))) {
      imageStore(_MaterialImage, t, uvec4(packUnorm4x8(vec4(albedo, 1.0)), packSnorm4x8(vec4(n, offset)), 0u, 0u));
      // Alpha 1: an area light samples this emitter.
      if (emits) imageStore(_EmissionImage, t, vec4(emitted, _AreaSampled > 0.5 ? 1.0 : 2.0));
    }
    // Occupancy mips: level 1 of the skip volume has the field's resolution.
    imageStore(_RayTexImageAlpM2, t, vec4(1.0));
    imageStore(_RayTexImageAlpM3, t >> 1, vec4(1.0));
    imageStore(_RayTexImageAlpM4, t >> 2, vec4(1.0));
    imageStore(_RayTexImageAlpM5, t >> 3, vec4(1.0));
    imageStore(_RayTexImageAlpM6, t >> 4, vec4(1.0));
    imageAtomicOr(_FacingImage, t, facingBit(nv, v, at));
  }
}
      ]]></Fragment>
      <Geometry><![CDATA[
#version 430 core
uniform vec3 _LightFieldTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldTexSize
#include "VoxelRaytracing/VoxelizeGeometry"
      ]]></Geometry>
    </Pass>
    <Pass Name="VoxelizeDetail">
      <Vertex><![CDATA[
#version 430 core
uniform vec3 _LightFieldDistTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldDistTexSize
#include "VoxelRaytracing/VoxelizeVertex"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec3 Normal;
in vec2 UV;
uniform vec3 _LightFieldDistTexSize = vec3(1.0);
uniform mat4 _LightFieldLocalToWorld = mat4(1.0);
layout(r8) writeonly uniform image3D _RayTexImageAlp;
layout(r32ui) writeonly uniform uimage3D fieldskipBinaryAWrite;
layout(r32ui) uniform uimage3D _FacingImage;
#include "VoxelRaytracing/VoxelizeSurface"
void main() {
  vec3 nv = transpose(mat3(_LightFieldLocalToWorld)) * normalize(Normal) / _LightFieldDistTexSize;
  int count;
  vec3 at;
  ivec3 first = surfaceVoxels(nv, count, at);
  for (int i = 0; i < count; ++i) {
    ivec3 v = first;
    v[DepthAxis] += i;
    ivec3 t;
    if (!voxelTexel(v, 2, ivec3(_LightFieldDistTexSize), t)) continue;
    imageStore(_RayTexImageAlp, t, vec4(1.0));
    // One word per field voxel, marking which of its eight halves is solid
    // (a level's texels keep the parity of its voxels).
    ivec3 f = t >> 1;
    imageAtomicOr(_FacingImage, f, halfVoxelBit(v));
    if (f.z < 80) imageStore(fieldskipBinaryAWrite, f, uvec4(1u << ((v.x & 1) | ((v.y & 1) << 1) | ((v.z & 1) << 2))));
  }
}
      ]]></Fragment>
      <Geometry><![CDATA[
#version 430 core
uniform vec3 _LightFieldDistTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldDistTexSize
#define VOXEL_SCALE 2.0
#include "VoxelRaytracing/VoxelizeGeometry"
      ]]></Geometry>
    </Pass>
  </Passes>
</Shader>
