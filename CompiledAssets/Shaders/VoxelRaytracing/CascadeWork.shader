<?xml version="1.0" encoding="UTF-8"?>
<!--
  Work on the levels of a cascaded light field. The levels lie stacked along
  Z in each volume, level k from texel k N.z up, each holding its window of
  voxels toroidally (voxel v at (v + wrap) mod N).
    Clear  empties a piece of a box that is to be voxelised anew (a piece:
           the part of the box that does not wrap, given by its first texel
           and its size, both whole cells of 8 voxels): the material, the
           emission, the facings and the occupancy's levels 0 to 4, whose
           cells (up to 8 voxels) then lie wholly inside it. One invocation
           a voxel.
    ClearLight  the same piece's light (both of each pair, and the
           filtered indirect light): what the voxels held there before
           belongs to what scrolled out, and must not pass for current.
-->
<Shader Name="CascadeWork">
  <Uniforms/>
  <Passes>
    <Pass Name="Clear">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 4, local_size_y = 4, local_size_z = 4) in;
layout(rg32ui) writeonly uniform uimage3D _MaterialImage;
layout(rgba16f) writeonly uniform image3D _EmissionImage;
layout(r32ui) writeonly uniform uimage3D _FacingImage;
layout(r8) writeonly uniform image3D _Occupancy0;
layout(r8) writeonly uniform image3D _Occupancy1;
layout(r8) writeonly uniform image3D _Occupancy2;
layout(r8) writeonly uniform image3D _Occupancy3;
layout(r8) writeonly uniform image3D _Occupancy4;
uniform ivec3 _PieceFirst = ivec3(0);
uniform ivec3 _PieceSize = ivec3(0);
void main() {
  ivec3 i = ivec3(gl_GlobalInvocationID);
  if (any(greaterThanEqual(i, _PieceSize))) return;
  ivec3 t = _PieceFirst + i;
  imageStore(_MaterialImage, t, uvec4(0u));
  imageStore(_EmissionImage, t, vec4(0.0));
  imageStore(_FacingImage, t, uvec4(0u));
  // Level 0 is the occupancy at twice the resolution, level 1 at the
  // field's; a coarser cell is cleared by the first voxel in it.
  for (int k = 0; k < 8; ++k) imageStore(_Occupancy0, t * 2 + ivec3(k & 1, (k >> 1) & 1, k >> 2), vec4(0.0));
  imageStore(_Occupancy1, t, vec4(0.0));
  if (all(equal(t & 1, ivec3(0)))) imageStore(_Occupancy2, t >> 1, vec4(0.0));
  if (all(equal(t & 3, ivec3(0)))) imageStore(_Occupancy3, t >> 2, vec4(0.0));
  if (all(equal(t & 7, ivec3(0)))) imageStore(_Occupancy4, t >> 3, vec4(0.0));
}
      ]]></Compute>
    </Pass>
    <Pass Name="ClearLight">
      <Compute><![CDATA[
#version 430 core
layout(local_size_x = 4, local_size_y = 4, local_size_z = 4) in;
layout(rgba16f) writeonly uniform image3D _Radiance0;
layout(rgba16f) writeonly uniform image3D _Radiance1;
layout(rgba16f) writeonly uniform image3D _Irradiance0;
layout(rgba16f) writeonly uniform image3D _Irradiance1;
layout(rgba16f) writeonly uniform image3D _Filtered;
uniform ivec3 _PieceFirst = ivec3(0);
uniform ivec3 _PieceSize = ivec3(0);
void main() {
  ivec3 i = ivec3(gl_GlobalInvocationID);
  if (any(greaterThanEqual(i, _PieceSize))) return;
  ivec3 t = _PieceFirst + i;
  imageStore(_Radiance0, t, vec4(0.0));
  imageStore(_Radiance1, t, vec4(0.0));
  imageStore(_Irradiance0, t, vec4(0.0));
  imageStore(_Irradiance1, t, vec4(0.0));
  imageStore(_Filtered, t, vec4(0.0));
}
      ]]></Compute>
    </Pass>
  </Passes>
</Shader>
