<?xml version="1.0" encoding="UTF-8"?>
<!--
  The curtain's particles as round points: into the G-buffer (normals facing
  the camera, a cloth colour in the albedo) and into the light field's
  occupancy so that the lighting sees the curtain.
-->
<Shader Name="ParticlesRender">
  <Uniforms/>
  <Passes>
    <Pass Name="Deferred">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _WorldToView = mat4(1.0);
uniform mat4 _WorldToView_Past = mat4(1.0);
uniform vec3 _CameraPos = vec3(0.0);
out vec4 clipNow;
out vec4 clipPast;
out vec3 worldPosition;
void main() {
  vec4 world = _LocalToWorld * vec4(position, 1.0);
  worldPosition = world.xyz;
  clipNow = _WorldToView * world;
  clipPast = _WorldToView_Past * world;
  gl_Position = clipNow;
  gl_PointSize = clamp(40.0 / max(clipNow.w, 0.1), 1.0, 32.0);
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec4 clipNow;
in vec4 clipPast;
in vec3 worldPosition;
uniform vec3 _CameraPos = vec3(0.0);
layout(location = 0) out vec4 NormalOut;
layout(location = 1) out vec2 MotionOut;
layout(location = 2) out vec4 AlbedoOut;
layout(location = 3) out float DepthOut;
void main() {
  vec2 p = gl_PointCoord * 2.0 - 1.0;
  if (dot(p, p) > 1.0) discard;
  vec3 n = normalize(_CameraPos - worldPosition);
  NormalOut = vec4(n * 0.5 + 0.5, 1.0);
  MotionOut = (clipNow.xy / clipNow.w - clipPast.xy / max(abs(clipPast.w), 1e-6)) * 0.5;
  AlbedoOut = vec4(0.55, 0.12, 0.1, 1.0);
  DepthOut = length(worldPosition - _CameraPos);
}
      ]]></Fragment>
    </Pass>
    <Pass Name="VoxelizeMidAndColor">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
uniform mat4 _LightFieldWorldToLocal = mat4(1.0);
uniform vec3 _LightFieldTexSize = vec3(1.0);
flat out ivec3 Voxel;
void main() {
  vec3 local = (_LightFieldWorldToLocal * vec4(position, 1.0)).xyz;
  Voxel = ivec3(floor((local * 0.5 + 0.5) * _LightFieldTexSize));
  gl_Position = vec4(0.0, 0.0, 0.0, 1.0);
  gl_PointSize = 1.0;
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
flat in ivec3 Voxel;
uniform vec3 _LightFieldTexSize = vec3(1.0);
layout(rg32ui) writeonly uniform uimage3D _MaterialImage;
layout(r8) writeonly uniform image3D _RayTexImageAlpM2;
void main() {
  if (any(lessThan(Voxel, ivec3(0))) || any(greaterThanEqual(Voxel, ivec3(_LightFieldTexSize)))) return;
  // The cloth's albedo; a point has no normal (zero), the light injection
  // lights it as if it faced up.
  imageStore(_MaterialImage, Voxel, uvec4(packUnorm4x8(vec4(0.5, 0.1, 0.1, 1.0)), 0u, 0u, 0u));
  imageStore(_RayTexImageAlpM2, Voxel, vec4(1.0));
}
      ]]></Fragment>
    </Pass>
    <Pass Name="VoxelizeDetail">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
uniform mat4 _LightFieldWorldToLocal = mat4(1.0);
uniform vec3 _LightFieldDistTexSize = vec3(1.0);
flat out ivec3 Voxel;
void main() {
  vec3 local = (_LightFieldWorldToLocal * vec4(position, 1.0)).xyz;
  Voxel = ivec3(floor((local * 0.5 + 0.5) * _LightFieldDistTexSize));
  gl_Position = vec4(0.0, 0.0, 0.0, 1.0);
  gl_PointSize = 1.0;
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
flat in ivec3 Voxel;
uniform vec3 _LightFieldDistTexSize = vec3(1.0);
layout(r8) writeonly uniform image3D _RayTexImageAlp;
void main() {
  if (any(lessThan(Voxel, ivec3(0))) || any(greaterThanEqual(Voxel, ivec3(_LightFieldDistTexSize)))) return;
  imageStore(_RayTexImageAlp, Voxel, vec4(1.0));
}
      ]]></Fragment>
    </Pass>
  </Passes>
</Shader>
