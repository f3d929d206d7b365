<?xml version="1.0" encoding="UTF-8"?>
<!--
  Light injection: gives every occupied voxel of the light field the
  radiance its surface reflects, albedo / pi x irradiance, where the
  irradiance comes from the sun and the area lights (one picked per voxel
  and frame, with a shadow ray through the occupancy) and from the light
  that last frame's voxels reflected or emitted (a few cosine rays). Light
  thus bounces once more every frame; the result is blended into the last
  one, which averages the few rays over frames and lets light that went out
  fade within a few frames. One invocation per voxel; empty voxels only
  write zero.
-->
<Shader Name="LightInjection">
  <Uniforms/>
  <Passes>
    <Pass Name="Inject">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 4, local_size_y = 4, local_size_z = 4) in;
layout(rgba16f) writeonly uniform image3D _RadianceOut;
layout(rgba16f) writeonly uniform image3D _IrradianceOut;
uniform vec4 Time = vec4(0.0);
#include "VoxelRaytracing/LightField"

const int GatherRays = 2;
const int Steps = 64;
// Weight of this frame's estimate against the last.
const float Blend = 0.5;

void main() {
  ivec3 v = ivec3(gl_GlobalInvocationID);
  if (any(greaterThanEqual(v, ivec3(_LightFieldTexSize)))) return;
  uvec2 m = texelFetch(_LightFieldMaterial, v, 0).xy;
  vec4 albedo = unpackUnorm4x8(m.x);
  if (albedo.a < 0.5) {
    imageStore(_RadianceOut, v, vec4(0.0));
    imageStore(_IrradianceOut, v, vec4(0.0));
    return;
  }
  vec3 n = unpackSnorm4x8(m.y).xyz;
  // Points (the cloth's particles) carry no normal: lit as if facing up.
  n = dot(n, n) < 0.25 ? vec3(0.0, 0.0, 1.0) : normalize(n);
  seed = uint(v.x) * 1973u + uint(v.y) * 9277u + uint(v.z) * 26699u + uint(Time.w) * 104729u;
  rnd();

  vec3 centre = vec3(v) + 0.5;
  vec3 o = centre + normalize(toVoxelDir(n));
  vec3 p = toWorld(centre);
  vec3 direct = directIrradiance(p, n, o, 0, 0u, Steps);
  vec3 indirect = vec3(0.0);
  for (int k = 0; k < GatherRays; ++k) {
    indirect += PI / float(GatherRays) * incomingRadiance(o, cosineDirection(n), n, false, false, Steps);
  }
  vec3 R = albedo.rgb / PI * (direct + indirect);
  vec4 last = texelFetch(_LightField, v, 0);
  imageStore(_RadianceOut, v, vec4(last.a > 0.5 ? mix(last.rgb, R, Blend) : R, 1.0));
  vec4 lastIndirect = texelFetch(_LightFieldIrradiance, v, 0);
  imageStore(_IrradianceOut, v, vec4(lastIndirect.a > 0.5 ? mix(lastIndirect.rgb, indirect, Blend) : indirect, 1.0));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
