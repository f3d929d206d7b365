<?xml version="1.0" encoding="UTF-8"?>
<!--
  Screen lighting: one invocation per pixel of the G-buffer, 20 x 20 pixels
  per group. The 400 invocations are laid out as 25 rows of 16, so that CPU
  drivers, which run a row as whole SIMD vectors, leave no lane idle at the
  end of a 20-wide row; the first 200 invocations shade one colour of the
  pixel checkerboard and the rest the other, so that the bounce ray, traced
  on one colour per frame, is skipped by whole vectors.
  Rays are marched in voxel units through the light field: the distance
  volume says how far a step may go, the colour volume (alpha = occupied)
  says what a ray hits. Per pixel and frame:
    - direct light from one area light of ISUniforms picked at random (its
      weight scaled by the count), with a shadow ray to a random point of the
      area; a ray that leaves the volume towards an area outside it (the sun)
      sees SunRadiance, one that reaches an area inside sees the voxels it hits
      there (the lamp bulbs voxelise their emission into level 1);
    - one cosine-distributed bounce ray on every other pixel (sky where it
      leaves the volume);
    - one reflection ray for glossy surfaces.
  The noise is averaged by the temporal pass. Step counts stay small so that
  a software rasteriser keeps up.
-->
<Shader Name="LightingCompute">
  <Uniforms/>
  <Passes>
    <Pass Name="GlobalIllumination">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 16, local_size_y = 25) in;
layout(rgba16f) writeonly uniform image2D img_output;
layout(r8) readonly uniform image3D _LightFieldDistanceImage;
uniform sampler2D Normals;
uniform sampler2D Albedo;
uniform sampler2D LinearDepth;
uniform sampler3D _LightField;
uniform mat4 _LightFieldWorldToLocal = mat4(1.0);
uniform vec3 _LightFieldTexSize = vec3(1.0);
uniform mat4 _InvWorldToView = mat4(1.0);
uniform vec3 _CameraPos = vec3(0.0);
uniform vec4 Time = vec4(0.0);
uniform float _CastGI = 1.0;
uniform float _CastSpecular = 1.0;
uniform float _CastIS = 1.0;
uniform float _VisualizeVoxels = 0.0;
uniform int ISCount = 0;
uniform float ISTypes[16];
uniform vec3 ISPositions[16];
uniform vec3 ISSizes1[16];
uniform vec3 ISSizes2[16];

const vec3 SunRadiance = vec3(1.0, 0.78, 0.55) * 170.0;
const float EmitterGain = 80.0;
const int ShadowSteps = 24;
const int BounceSteps = 14;

uint seed;
float rnd() {
  seed = seed * 747796405u + 2891336453u;
  uint w = ((seed >> ((seed >> 28u) + 4u)) ^ seed) * 277803737u;
  return float((w >> 22u) ^ w) / 4294967295.0;
}

vec3 sky(vec3 d) {
  float up = clamp(d.z, -1.0, 1.0);
  vec3 horizon = vec3(0.55, 0.42, 0.34);
  vec3 zenith = vec3(0.16, 0.25, 0.45);
  vec3 ground = vec3(0.08, 0.07, 0.06);
  return up >= 0.0 ? mix(horizon, zenith, sqrt(up)) : mix(horizon * 0.4, ground, sqrt(-up));
}

vec3 toVoxel(vec3 world) {
  vec3 local = (_LightFieldWorldToLocal * vec4(world, 1.0)).xyz;
  return (local * 0.5 + 0.5) * _LightFieldTexSize;
}

bool inside(vec3 v) { return all(greaterThanEqual(v, vec3(0.0))) && all(lessThan(v, _LightFieldTexSize)); }

// Marches from voxel position `o` along `d` (voxel units, normalised) for at
// most `maxT`. Returns the hit voxel's rgba (a = 1) or a = 0 for no hit;
// `t` ends where the march stopped.
vec4 march(vec3 o, vec3 d, float maxT, int steps, out float t) {
  // Alpha of a hit: 1 for a surface, 2 for an emitting one.
  t = 0.0;
  for (int i = 0; i < steps; ++i) {
    vec3 p = o + d * t;
    if (!inside(p) || t > maxT) return vec4(0.0);
    ivec3 c = ivec3(p);
    float dist = imageLoad(_LightFieldDistanceImage, c).r * 255.0;
    // The first voxel or so is the surface the ray leaves: the voxelised
    // wall is up to a voxel thicker than the real one.
    if (dist < 0.5 && t >= 1.5) {
      vec4 v = texelFetch(_LightField, c, 0);
      if (v.a > 0.5) return v;
    }
    t += max(dist - 0.5, 0.75);
  }
  return vec4(0.0);
}

void main() {
  uint side = gl_LocalInvocationIndex / 200u;
  uint k = gl_LocalInvocationIndex % 200u;
  uint row = k / 10u;
  ivec2 pixel = ivec2(gl_WorkGroupID.xy) * 20 + ivec2((k % 10u) * 2u + ((row + side) & 1u), row);
  ivec2 size = imageSize(img_output);
  if (any(greaterThanEqual(pixel, size))) return;
  vec2 uv = (vec2(pixel) + 0.5) / vec2(size);
  seed = uint(pixel.x) * 1973u + uint(pixel.y) * 9277u + uint(Time.w) * 26699u;
  rnd();

  vec4 farPoint = _InvWorldToView * vec4(uv * 2.0 - 1.0, 1.0, 1.0);
  vec3 view = normalize(farPoint.xyz / farPoint.w - _CameraPos);
  float distance = texelFetch(LinearDepth, pixel, 0).r;
  if (distance <= 0.0) {
    imageStore(img_output, pixel, vec4(sky(view), 1.0));
    return;
  }
  vec4 packedNormal = texelFetch(Normals, pixel, 0);
  vec3 n = normalize(packedNormal.xyz * 2.0 - 1.0);
  float roughness = packedNormal.a;
  vec3 albedo = texelFetch(Albedo, pixel, 0).rgb;
  vec3 world = _CameraPos + view * distance;

  // Voxel space is anisotropic (the box is not a cube); directions are
  // carried over through the same matrix.
  mat3 toVox = mat3(_LightFieldWorldToLocal) * 0.5;
  toVox = mat3(toVox[0] * _LightFieldTexSize, toVox[1] * _LightFieldTexSize, toVox[2] * _LightFieldTexSize);
  vec3 start = toVoxel(world) + normalize(toVox * n) * 0.75;

  vec3 diffuseLight = vec3(0.0);
  if (_CastIS > 0.5 && ISCount > 0) {
    // Pick an area in proportion to a rough unshadowed estimate of what it
    // brings (radiance guess x solid angle), so the sun is not sampled as
    // rarely as a dim window.
    float weights[16];
    float total = 0.0;
    for (int i = 0; i < ISCount; ++i) {
      vec3 c = ISTypes[i] < 1.5 ? ISPositions[i] : ISPositions[i] + (ISSizes1[i] + ISSizes2[i]) * 0.5;
      float d2 = max(dot(c - world, c - world), 0.01);
      float a = ISTypes[i] < 1.5 ? 3.14159 * ISSizes1[i].x * ISSizes1[i].x : length(cross(ISSizes1[i], ISSizes2[i]));
      // Inside the volume an area is as bright as what voxelised there with
      // an emission (alpha 2); outside, it is the sun.
      vec3 vc = toVoxel(c);
      vec4 there = inside(vc) ? texelFetch(_LightField, ivec3(vc) >> 1, 1) : vec4(0.0);
      float guess = !inside(vc) ? SunRadiance.r : (there.a > 1.5 ? EmitterGain * max(dot(there.rgb, vec3(0.3, 0.5, 0.2)), 0.05) : 0.0);
      weights[i] = max(guess * a / d2 * (dot(n, normalize(c - world)) > -0.2 ? 1.0 : 0.05), 1e-6);
      total += weights[i];
    }
    float u = rnd() * total;
    int pick = ISCount - 1;
    for (int i = 0; i < ISCount; ++i) {
      if (u < weights[i]) { pick = i; break; }
      u -= weights[i];
    }
    float pickWeight = total / weights[pick];
    if (total < 1e-3) pickWeight = 0.0;
    vec3 target;
    float solidAngle;
    float reach;
    if (ISTypes[pick] < 1.5) {
      float r = ISSizes1[pick].x;
      vec3 jitter = normalize(vec3(rnd(), rnd(), rnd()) - 0.5) * r * 0.8;
      target = ISPositions[pick] + jitter;
      float d2 = max(dot(target - world, target - world), 1e-4);
      solidAngle = min(3.14159 * r * r / d2, 6.2832);
      reach = r;
    } else {
      target = ISPositions[pick] + ISSizes1[pick] * rnd() + ISSizes2[pick] * rnd();
      vec3 area = cross(ISSizes1[pick], ISSizes2[pick]);
      vec3 toLight = target - world;
      float d2 = max(dot(toLight, toLight), 1e-4);
      float cosLight = abs(dot(normalize(area), normalize(toLight)));
      solidAngle = min(length(area) * cosLight / d2, 6.2832);
      reach = 0.0;
    }
    vec3 l = normalize(target - world);
    float cosN = dot(n, l);
    if (cosN > 0.0) {
      vec3 vt = toVoxel(target);
      vec3 dv = vt - start;
      float lengthV = length(dv);
      vec3 dirV = dv / max(lengthV, 1e-4);
      // How far short of the target a hit still counts as the light itself.
      float slack = length(toVox * vec3(reach)) + 1.5;
      float t;
      vec4 hit = march(start, dirV, lengthV + 1.0, ShadowSteps, t);
      vec3 radiance = vec3(0.0);
      if (!inside(vt)) {
        if (hit.a < 0.5) radiance = SunRadiance;
      } else if (hit.a < 0.5 || t > lengthV - slack) {
        // Reached the area: it shines with what emitted there (level 1 of
        // the volume holds the emitters alone).
        vec4 emitter = texelFetch(_LightField, ivec3(vt) >> 1, 1);
        if (emitter.a > 1.5) radiance = emitter.rgb * EmitterGain;
      }
      diffuseLight += radiance * solidAngle * cosN * pickWeight;
    }
  }

  // The bounce ray is traced on half the pixels each frame (a checkerboard
  // that flips every frame) at twice the weight; the temporal pass fills in.
  // It has to stay a per-pixel checkerboard: the temporal pass judges a pixel
  // by its neighbours, and coarser blocks leave a grid of dark dots.
  bool traceBounce = ((pixel.x ^ pixel.y ^ int(Time.w)) & 1) == 0;
  if (_CastGI > 0.5 && traceBounce) {
    // Cosine-distributed direction about the normal.
    float a = rnd() * 6.2832;
    float r = sqrt(rnd());
    vec3 t1 = normalize(abs(n.z) < 0.9 ? cross(n, vec3(0, 0, 1)) : cross(n, vec3(1, 0, 0)));
    vec3 t2 = cross(n, t1);
    vec3 d = normalize(t1 * cos(a) * r + t2 * sin(a) * r + n * sqrt(1.0 - r * r));
    float t;
    vec4 hit = march(start, normalize(toVox * d), 1e4, BounceSteps, t);
    // Sky light is dimmed: the sun already arrives through the direct term.
    diffuseLight += (hit.a > 0.5 ? hit.rgb * 3.14159 : sky(d) * 3.14159 * 0.8) * 2.0;
  }

  vec3 colour = albedo * diffuseLight / 3.14159;

  if (_CastSpecular > 0.5 && roughness < 0.5) {
    vec3 jitter = (vec3(rnd(), rnd(), rnd()) - 0.5) * roughness;
    vec3 d = normalize(reflect(view, n) + jitter);
    float t;
    vec4 hit = march(start, normalize(toVox * d), 1e4, BounceSteps, t);
    vec3 reflected = hit.a > 0.5 ? hit.rgb : sky(d);
    float fresnel = 0.04 + 0.96 * pow(1.0 - max(dot(-view, n), 0.0), 5.0);
    colour += reflected * fresnel * (1.0 - roughness * 2.0);
  }
  imageStore(img_output, pixel, vec4(colour, 1.0));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
