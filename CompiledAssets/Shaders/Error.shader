<?xml version="1.0" encoding="UTF-8"?>
<!--
  The look of anything whose own shader is missing or broken: a magenta and
  black checker in screen space, so it shows whatever the mesh and its UVs.
  Self-contained on purpose: it must still work when include files do not.
  The matrices start as identities, so an unset camera draws in clip space.
-->
<Shader Name="Error">
  <Uniforms>
  </Uniforms>
  <Passes>
    <Pass Name="Deferred">
      <Vertex>
#version 430 core
in vec3 position;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _WorldToView = mat4(1.0);
void main() {
  gl_Position = _WorldToView * _LocalToWorld * vec4(position, 1.0);
}
      </Vertex>
      <Fragment>
#version 430 core
layout(location = 0) out vec4 ErrorColor;
void main() {
  // 8-pixel cells, magenta on even ones, black on odd ones.
  float odd = mod(floor(gl_FragCoord.x / 8.0) + floor(gl_FragCoord.y / 8.0), 2.0);
  ErrorColor = mix(vec4(1.0, 0.0, 1.0, 1.0), vec4(0.0, 0.0, 0.0, 1.0), odd);
}
      </Fragment>
    </Pass>
    <Pass Name="Forward">
      <Vertex>
#version 430 core
in vec3 position;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _WorldToView = mat4(1.0);
void main() {
  gl_Position = _WorldToView * _LocalToWorld * vec4(position, 1.0);
}
      </Vertex>
      <Fragment>
#version 430 core
layout(location = 0) out vec4 ErrorColor;
void main() {
  float odd = mod(floor(gl_FragCoord.x / 8.0) + floor(gl_FragCoord.y / 8.0), 2.0);
  ErrorColor = mix(vec4(1.0, 0.0, 1.0, 1.0), vec4(0.0, 0.0, 0.0, 1.0), odd);
}
      </Fragment>
    </Pass>
  </Passes>
</Shader>
