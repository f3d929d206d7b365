<?xml version="1.0" encoding="UTF-8"?>
<!--
  The distance volume: for each voxel of the light field, the empty box
  around it that a ray may cross in one step without missing geometry.
  Built from the occupancy mips of the skip volume (_MainTex, twice the
  field's resolution; a cell of mip k spans 2^(k-1) voxels): 0 occupied; 1
  the voxel alone; k the voxel's own cell of mip k; k + 8 the 3 x 3 x 3
  cells of mip k around that one (nothing lies within 2^(k-1) voxels). Next
  to a surface the cell holding a voxel is often empty where its
  neighbours are not: rays leaving a surface for a lamp crossed the air
  there a voxel at a time. The order of the values follows the
  emptiness they need, so a voxel with more geometry around never gets a
  greater one. The quad is repeated once per slice of
  _SliceRange (first, count) by the geometry stage (gl_Layer); the viewport
  picks the columns, so that a thing that moved costs only the distances
  around it. A cascaded field's levels lie stacked along Z, each wrapping
  round its own share of the volume: the cells around a voxel are taken
  from its own level's window, and those beyond it count as empty (a march
  keeps to its window, and across the wrap lie the voxels a window away:
  read, they tied the trailing side's distances to the slab that scrolled
  in on the leading one).
-->
<Shader Name="GenerateAcceleration">
  <Uniforms>
    <Texture Uniform="_MainTex" IsLinear="True"/>
  </Uniforms>
  <Passes>
    <Pass Name="Deferred">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
in vec2 uv;
void main() {
  gl_Position = vec4(position.xy, 0.0, 1.0);
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
uniform sampler3D _MainTex;
uniform vec3 _LightFieldTexSize = vec3(1.0);
[PreCompile] uniform float _Cascaded;
flat in int Slice;
layout(location = 0) out uint DistanceOut;

// Where each level's window starts in its share of the volume (voxels):
// a multiple of the coarsest cell read here.
uniform vec3 _LevelWrap[8];

// The 3 x 3 x 3 cells of mip `level` around `cell` hold nothing. In a
// cascade they are taken where the voxel's level holds them: along its
// window (0 at the window's first cell, which lies at the level's wrap in
// its share of the volume), those beyond the window left out.
bool emptyAround(ivec3 cell, int level) {
  ivec3 size = textureSize(_MainTex, level);
  ivec3 n = ivec3(_LightFieldTexSize) * 2 >> level;
  int k = Slice / int(_LightFieldTexSize.z);
  ivec3 base = ivec3(0, 0, k * n.z);
  ivec3 seam = ivec3(_LevelWrap[k]) * 2 >> level;
  ivec3 along = cell - base - seam;
  along += n * ivec3(lessThan(along, ivec3(0)));
  for (int z = -1; z <= 1; ++z)
    for (int y = -1; y <= 1; ++y)
      for (int x = -1; x <= 1; ++x) {
        ivec3 d = ivec3(x, y, z);
        ivec3 w = along + d;
        // Wrapped into the share even where left out, so that every read
        // stays inside the volume.
        ivec3 t = w + seam;
        t += n * (ivec3(lessThan(t, ivec3(0))) - ivec3(greaterThanEqual(t, n)));
        bool inside = _Cascaded < 0.5 || (all(greaterThanEqual(w, ivec3(0))) && all(lessThan(w, n)));
        ivec3 c = _Cascaded > 0.5 ? t + base : clamp(cell + d, ivec3(0), size - 1);
        if (inside && texelFetch(_MainTex, c, level).r > 0.0) return false;
      }
  return true;
}

void main() {
  ivec3 voxel = ivec3(ivec2(gl_FragCoord.xy), Slice);
  uint distance = 0u;
  // Level 1 of the skip volume has the field's resolution.
  if (texelFetch(_MainTex, voxel, 1).r == 0.0) {
    distance = 1u;
    // Coarsest first: emptiness around a coarse cell implies it around the
    // finer ones inside, and most of the volume is open air.
    for (int k = 4; k >= 2; --k) {
      if (emptyAround(voxel >> (k - 1), k)) {
        distance = uint(k) | 8u;
        break;
      }
    }
    // Next to a surface the cell holding the voxel may still be empty.
    for (int k = 4; k >= 2 && distance == 1u; --k) {
      if (texelFetch(_MainTex, voxel >> (k - 1), k).r == 0.0) distance = uint(k);
    }
  }
  DistanceOut = distance;
}
      ]]></Fragment>
      <Geometry><![CDATA[
#version 430 core
layout(triangles) in;
layout(triangle_strip, max_vertices = 192) out;
uniform sampler3D _MainTex;
uniform vec2 _SliceRange = vec2(0.0, 64.0);
flat out int Slice;
void main() {
  int first = int(_SliceRange.x);
  // Level 1 of the occupancy has the field's voxels (every level of a
  // cascade's, stacked).
  int slices = min(min(int(_SliceRange.y), textureSize(_MainTex, 1).z - first), 64);
  for (int s = 0; s < slices; ++s) {
    for (int i = 0; i < 3; ++i) {
      Slice = first + s;
      gl_Layer = first + s;
      gl_Position = gl_in[i].gl_Position;
      EmitVertex();
    }
    EndPrimitive();
  }
}
      ]]></Geometry>
    </Pass>
  </Passes>
</Shader>
