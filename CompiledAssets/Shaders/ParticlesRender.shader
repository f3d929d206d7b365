<?xml version="1.0" encoding="UTF-8"?>
<!--
  The curtain: a triangle grid over its particles, drawn as a two-sided cloth
  surface. The mesh carries each particle's position, its normal from the
  particle grid, its place on the fabric (metres) and, in attribute 5, where
  the last frame showed it, so motion vectors follow the cloth itself.

  Passes and their colour targets (as Standard's):
    Deferred  0: normal facing the eye packed into 0..1, roughness in alpha
              1: screen motion  2: albedo  3: distance from the camera
    Forward   0: lit colour                1: screen motion
    VoxelizeRank         image atomics: the rank of the surface that keeps
                         each voxel (VoxelRaytracing/VoxelStore)
    VoxelizeMidAndColor  image stores: material (albedo, normal) + occupancy
                         of the light field
    VoxelizeDetail       image stores: occupancy at twice the resolution
  The voxelisation passes turn every particle into one point (a geometry
  stage), so they do not depend on how the triangles are rasterised. A
  pass's stages come in the order vertex, fragment, geometry.
-->
<Shader Name="ParticlesRender">
  <Uniforms/>
  <Passes>
    <Pass Name="Deferred">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
in vec3 normal;
in vec2 uv;
layout(location = 5) in vec3 pastPosition;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _WorldToView = mat4(1.0);
uniform mat4 _WorldToView_Past = mat4(1.0);
out vec3 worldNormal;
out vec3 worldPosition;
out vec2 fabric;
out vec4 clipNow;
out vec4 clipPast;
void main() {
  vec4 world = _LocalToWorld * vec4(position, 1.0);
  worldPosition = world.xyz;
  worldNormal = mat3(_LocalToWorld) * normal;
  fabric = uv;
  clipNow = _WorldToView * world;
  clipPast = _WorldToView_Past * (_LocalToWorld * vec4(pastPosition, 1.0));
  gl_Position = clipNow;
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec3 worldNormal;
in vec3 worldPosition;
in vec2 fabric;
in vec4 clipNow;
in vec4 clipPast;
uniform vec3 _CameraPos = vec3(0.0);
layout(location = 0) out vec4 NormalOut;
layout(location = 1) out vec2 MotionOut;
layout(location = 2) out vec4 AlbedoOut;
layout(location = 3) out float DepthOut;
#include "ClothFabric"
void main() {
  // Two-sided: the back of the cloth is lit as a surface facing the eye.
  vec3 n = normalize(worldNormal) * (gl_FrontFacing ? 1.0 : -1.0);
  vec3 toEye = normalize(_CameraPos - worldPosition);
  NormalOut = vec4(n * 0.5 + 0.5, 1.0);
  AlbedoOut = vec4(FabricSheen(FabricAlbedo(fabric), n, toEye), 1.0);
  DepthOut = length(worldPosition - _CameraPos);
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
layout(location = 5) in vec3 pastPosition;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _WorldToView = mat4(1.0);
uniform mat4 _WorldToView_Past = mat4(1.0);
out vec3 worldNormal;
out vec3 worldPosition;
out vec2 fabric;
out vec4 clipNow;
out vec4 clipPast;
void main() {
  vec4 world = _LocalToWorld * vec4(position, 1.0);
  worldPosition = world.xyz;
  worldNormal = mat3(_LocalToWorld) * normal;
  fabric = uv;
  clipNow = _WorldToView * world;
  clipPast = _WorldToView_Past * (_LocalToWorld * vec4(pastPosition, 1.0));
  gl_Position = clipNow;
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec3 worldNormal;
in vec3 worldPosition;
in vec2 fabric;
in vec4 clipNow;
in vec4 clipPast;
uniform vec3 _CameraPos = vec3(0.0);
layout(location = 0) out vec4 ColorOut;
layout(location = 1) out vec2 MotionOut;
#include "ClothFabric"
// The forward path's fixed low sun and sky/ground ambient, as Standard's.
const vec3 SunDirection = vec3(0.5645, -0.7527, 0.3387);
const vec3 SunColor = vec3(1.7, 1.35, 1.0);
const vec3 SkyColor = vec3(0.20, 0.26, 0.38);
const vec3 GroundColor = vec3(0.10, 0.08, 0.06);
void main() {
  vec3 n = normalize(worldNormal) * (gl_FrontFacing ? 1.0 : -1.0);
  vec3 toEye = normalize(_CameraPos - worldPosition);
  vec3 albedo = FabricSheen(FabricAlbedo(fabric), n, toEye);
  vec3 direct = SunColor * max(dot(n, SunDirection), 0.0);
  vec3 ambient = mix(GroundColor, SkyColor, n.z * 0.5 + 0.5);
  ColorOut = vec4(albedo * (direct + ambient), 1.0);
  MotionOut = (clipNow.xy / clipNow.w - clipPast.xy / max(abs(clipPast.w), 1e-6)) * 0.5;
}
      ]]></Fragment>
    </Pass>
    <Pass Name="VoxelizeRank">
      <Vertex><![CDATA[
#version 430 core
uniform vec3 _LightFieldTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldTexSize
#include "ClothVoxelVertex"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
flat in ivec3 Voxel;
uniform vec3 _LightFieldTexSize = vec3(1.0);
layout(r32ui) uniform uimage3D _RankImage;
#include "VoxelRaytracing/VoxelStore"
void main() {
  ivec3 v;
  if (voxelTexel(Voxel, 1, ivec3(_LightFieldTexSize), v)) imageAtomicMax(_RankImage, v, voxelRank(false, 0.0));
}
      ]]></Fragment>
      <Geometry><![CDATA[
#version 430 core
uniform vec3 _LightFieldTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldTexSize
#include "ClothVoxelPoints"
      ]]></Geometry>
    </Pass>
    <Pass Name="VoxelizeMidAndColor">
      <Vertex><![CDATA[
#version 430 core
uniform vec3 _LightFieldTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldTexSize
#include "ClothVoxelVertex"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
flat in ivec3 Voxel;
in vec3 Normal;
in vec2 UV;
uniform vec3 _LightFieldTexSize = vec3(1.0);
layout(rg32ui) writeonly uniform uimage3D _MaterialImage;
layout(r8) writeonly uniform image3D _RayTexImageAlpM2;
layout(r8) writeonly uniform image3D _RayTexImageAlpM3;
layout(r8) writeonly uniform image3D _RayTexImageAlpM4;
layout(r8) writeonly uniform image3D _RayTexImageAlpM5;
layout(r8) writeonly uniform image3D _RayTexImageAlpM6;
layout(r32ui) uniform uimage3D _FacingImage;
#include "ClothFabric"
#include "VoxelRaytracing/VoxelStore"
void main() {
  ivec3 v;
  if (!voxelTexel(Voxel, 1, ivec3(_LightFieldTexSize), v)) return;
  // As Standard's surfaces: what the light injection needs, the albedo (kept
  // below 1) and the normal; it lights the cloth's front, the side the fresh
  // curtain turns to the street.
  vec3 albedo = clamp(FabricAlbedo(UV), 0.0, 0.98);
  if (voxelWinner(v, voxelRank(false, 0.0))) {
    imageStore(_MaterialImage, v, uvec4(packUnorm4x8(vec4(albedo, 1.0)), packSnorm4x8(vec4(normalize(Normal), 0.0)), 0u, 0u));
  }
  imageStore(_RayTexImageAlpM2, v, vec4(1.0));
  imageStore(_RayTexImageAlpM3, v >> 1, vec4(1.0));
  imageStore(_RayTexImageAlpM4, v >> 2, vec4(1.0));
  imageStore(_RayTexImageAlpM5, v >> 3, vec4(1.0));
  imageStore(_RayTexImageAlpM6, v >> 4, vec4(1.0));
  // A point has no plane: its voxel stops every ray.
  imageAtomicOr(_FacingImage, v, 1u << 12u);
}
      ]]></Fragment>
      <Geometry><![CDATA[
#version 430 core
uniform vec3 _LightFieldTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldTexSize
#include "ClothVoxelPoints"
      ]]></Geometry>
    </Pass>
    <Pass Name="VoxelizeDetail">
      <Vertex><![CDATA[
#version 430 core
uniform vec3 _LightFieldDistTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldDistTexSize
#include "ClothVoxelVertex"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
flat in ivec3 Voxel;
in vec3 Normal;
in vec2 UV;
uniform vec3 _LightFieldDistTexSize = vec3(1.0);
layout(r8) writeonly uniform image3D _RayTexImageAlp;
layout(r32ui) writeonly uniform uimage3D fieldskipBinaryAWrite;
#include "VoxelRaytracing/VoxelStore"
void main() {
  ivec3 v;
  if (!voxelTexel(Voxel, 2, ivec3(_LightFieldDistTexSize), v)) return;
  imageStore(_RayTexImageAlp, v, vec4(1.0));
  // As Standard's: one word per field voxel, a bit per solid eighth.
  ivec3 f = v >> 1;
  if (f.z < 80) imageStore(fieldskipBinaryAWrite, f, uvec4(1u << ((v.x & 1) | ((v.y & 1) << 1) | ((v.z & 1) << 2))));
}
      ]]></Fragment>
      <Geometry><![CDATA[
#version 430 core
uniform vec3 _LightFieldDistTexSize = vec3(1.0);
#define VOXEL_RES _LightFieldDistTexSize
#include "ClothVoxelPoints"
      ]]></Geometry>
    </Pass>
  </Passes>
</Shader>
