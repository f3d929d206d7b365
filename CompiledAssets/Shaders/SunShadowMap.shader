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
            block's centre, change per texel along x and y) and how far its
            texels stray from it
    Plain   per block, its plane and, over it and the 24 blocks around it
            (two blocks each way), bounds of the depths: the least (nearest
            the sun) and the greatest, plus 2 where all 25 lie on its plane
            (plain: nothing there stands above the surface or shades it in
            part) and 4 where no texel rises above its plane (clear: a point
            on the plane is lit; a wall's recesses are below it)
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
// and y.
uniform ivec4 _SunShadowRects[16];
void main() {
  ivec4 rect = _SunShadowRects[gl_WorkGroupID.z];
  if (any(greaterThanEqual(gl_GlobalInvocationID.xy, uvec2(rect.zw)))) return;
  ivec2 block = rect.xy + ivec2(gl_GlobalInvocationID.xy);
  ivec2 first = block * 4;
  // Least squares over the 4 x 4 grid, offsets -1.5 .. 1.5 from the centre:
  // the sum of their squares is 20 along each axis.
  float d[16];
  float sum = 0.0, sx = 0.0, sy = 0.0;
  for (int i = 0; i < 16; ++i) {
    d[i] = texelFetch(_SunShadowMap, first + ivec2(i & 3, i >> 2), 0).r;
    sum += d[i];
    sx += d[i] * (float(i & 3) - 1.5);
    sy += d[i] * (float(i >> 2) - 1.5);
  }
  vec3 plane = vec3(sum / 16.0, sx / 20.0, sy / 20.0);
  float worst = 0.0;
  for (int i = 0; i < 16; ++i) {
    worst = max(worst, abs(d[i] - plane.x - plane.y * (float(i & 3) - 1.5) - plane.z * (float(i >> 2) - 1.5)));
  }
  imageStore(_SunShadowBlocksOut, block, vec4(plane, worst));
}
      ]]></Compute>
    </Pass>
    <Pass Name="Plain">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 8, local_size_y = 8) in;
uniform sampler2D _SunShadowBlocks;
layout(rgba32ui) writeonly uniform uimage2D _SunShadowHintOut;
uniform ivec4 _SunShadowRects[16];
// Per rect: the largest depth off a plane a flat block has.
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
  bool plain = own.w <= flatness, clear = plain;
  // Bounds over the blocks two around, from their planes and how far their
  // texels stray: the least and greatest depth, and how far any texel rises
  // above this block's plane (towards the sun).
  float top = 1.0, bottom = 0.0;
  for (int i = 0; i < 25; ++i) {
    ivec2 dir = ivec2(i % 5 - 2, i / 5 - 2);
    ivec2 n = block + dir;
    // Beyond the square's edge nothing is known: no bound holds.
    bool inside = n.x >= square * _SunShadowSide && n.x < (square + 1) * _SunShadowSide && n.y >= 0 &&
                  n.y < _SunShadowSide;
    vec4 other = texelFetch(_SunShadowBlocks, clamp(n, ivec2(0), textureSize(_SunShadowBlocks, 0) - 1), 0);
    float spread = 1.5 * (abs(other.y) + abs(other.z)) + other.w;
    top = inside ? min(top, other.x - spread) : 0.0;
    bottom = inside ? max(bottom, other.x + spread) : 1.0;
    float rise = own.x - other.x + 4.0 * dot(own.yz, vec2(dir)) + 1.5 * (abs(own.y - other.y) + abs(own.z - other.z)) +
                 other.w;
    clear = clear && inside && rise <= flatness;
    float predicted = own.x + dot(own.yz, vec2(dir)) * 4.0;
    plain = plain && inside && other.w <= flatness && abs(other.x - predicted) <= flatness &&
            all(lessThanEqual(abs(other.yz - own.yz), vec2(flatness * 0.25)));
  }
  imageStore(_SunShadowHintOut, block, uvec4(floatBitsToUint(own.x), packHalf2x16(own.yz), floatBitsToUint(top),
                                             floatBitsToUint(bottom + (plain ? 2.0 : 0.0) + (clear ? 4.0 : 0.0))));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
