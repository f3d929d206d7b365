<?xml version="1.0" encoding="UTF-8"?>
<!--
  The sun's shadow map (renderer/SunShadow): the casters' depth as the sun
  sees them, drawn into one cascade's square of the map at a time, and the
  map's summary in blocks of 4 x 4 texels that lets most pixels read one
  texel instead of filtering (SunShadow.glinc).
    Depth   a caster, placed by _SunShadowClip (world to the square's clip
            space); depth only
    Clear   the far plane over the viewport (the part of a square drawn
            again), so that what lay there before is gone
    Blocks  per block, the plane that fits its depths best (depth at the
            block's centre, change per texel along x and y) and its highest
            depth (nearest the sun), plus 2 where no texel strays from the
            plane by more than _SunShadowFlat
    Plain   per block, its plane and the highest depth of it and the 24
            blocks around it (two blocks each way), plus 2 where all 25 lie
            on its plane (plain): nothing there stands above the surface or
            shades it in part
-->
<Shader Name="SunShadowMap">
  <Uniforms/>
  <Passes>
    <Pass Name="Depth">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _SunShadowClip = mat4(1.0);
void main() {
  gl_Position = _SunShadowClip * (_LocalToWorld * vec4(position, 1.0));
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
void main() {
}
      ]]></Fragment>
    </Pass>
    <Pass Name="Clear">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
void main() {
  gl_Position = vec4(position.xy, 1.0, 1.0);
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
void main() {
}
      ]]></Fragment>
    </Pass>
    <Pass Name="Blocks">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 8, local_size_y = 8) in;
uniform sampler2D _SunShadowMap;
layout(rgba32f) writeonly uniform image2D _SunShadowBlocksOut;
// Per rect (the work groups' z): the first block and the count along x
// and y, and the largest depth off a plane a flat block has.
uniform ivec4 _SunShadowRects[16];
uniform float _SunShadowFlat[16];
void main() {
  ivec4 rect = _SunShadowRects[gl_WorkGroupID.z];
  if (any(greaterThanEqual(gl_GlobalInvocationID.xy, uvec2(rect.zw)))) return;
  ivec2 block = rect.xy + ivec2(gl_GlobalInvocationID.xy);
  float even = _SunShadowFlat[gl_WorkGroupID.z];
  ivec2 first = block * 4;
  // Least squares over the 4 x 4 grid, offsets -1.5 .. 1.5 from the centre:
  // the sum of their squares is 20 along each axis.
  float d[16];
  float sum = 0.0, sx = 0.0, sy = 0.0, top = 1.0;
  for (int i = 0; i < 16; ++i) {
    d[i] = texelFetch(_SunShadowMap, first + ivec2(i & 3, i >> 2), 0).r;
    sum += d[i];
    sx += d[i] * (float(i & 3) - 1.5);
    sy += d[i] * (float(i >> 2) - 1.5);
    top = min(top, d[i]);
  }
  vec3 plane = vec3(sum / 16.0, sx / 20.0, sy / 20.0);
  float worst = 0.0;
  for (int i = 0; i < 16; ++i) {
    worst = max(worst, abs(d[i] - plane.x - plane.y * (float(i & 3) - 1.5) - plane.z * (float(i >> 2) - 1.5)));
  }
  imageStore(_SunShadowBlocksOut, block, vec4(plane, top + (worst <= even ? 2.0 : 0.0)));
}
      ]]></Compute>
    </Pass>
    <Pass Name="Plain">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 8, local_size_y = 8) in;
uniform sampler2D _SunShadowBlocks;
layout(rgba32f) writeonly uniform image2D _SunShadowHintOut;
uniform ivec4 _SunShadowRects[16];
uniform float _SunShadowFlat[16];
// Blocks along a square's side.
uniform int _SunShadowSide = 1;
void main() {
  ivec4 rect = _SunShadowRects[gl_WorkGroupID.z];
  if (any(greaterThanEqual(gl_GlobalInvocationID.xy, uvec2(rect.zw)))) return;
  ivec2 block = rect.xy + ivec2(gl_GlobalInvocationID.xy);
  float flatness = _SunShadowFlat[gl_WorkGroupID.z];
  vec4 own = texelFetch(_SunShadowBlocks, block, 0);
  int square = block.x / _SunShadowSide;
  bool plain = true;
  float top = 1.0;
  for (int i = 0; i < 25; ++i) {
    ivec2 dir = ivec2(i % 5 - 2, i / 5 - 2);
    ivec2 n = block + dir;
    // Beyond the square's edge nothing is known: not plain.
    bool inside = n.x >= square * _SunShadowSide && n.x < (square + 1) * _SunShadowSide && n.y >= 0 &&
                  n.y < _SunShadowSide;
    vec4 other = texelFetch(_SunShadowBlocks, clamp(n, ivec2(0), textureSize(_SunShadowBlocks, 0) - 1), 0);
    bool even = other.w >= 2.0;
    if (inside) top = min(top, even ? other.w - 2.0 : other.w);
    float predicted = own.x + dot(own.yz, vec2(dir)) * 4.0;
    plain = plain && inside && even && abs(other.x - predicted) <= flatness &&
            all(lessThanEqual(abs(other.yz - own.yz), vec2(flatness * 0.25)));
  }
  imageStore(_SunShadowHintOut, block, vec4(own.xyz, top + (plain ? 2.0 : 0.0)));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
