<?xml version="1.0" encoding="UTF-8"?>
<!--
  The look of anything whose own shader is missing or broken: an opaque
  magenta and black checker in screen space, so it shows whatever the mesh
  and its UVs, and whatever the light. In the deferred path the G-buffer
  gets a black, rough surface at the mesh's true distance (nothing for the
  lighting to brighten) and the emission pass adds the magenta cells, which
  the renderer runs for every draw that fell back here. The first target
  holds the checker in every pass, so a GUI draw or a forward draw shows it
  as it is.
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
out vec3 worldPosition;
void main() {
  vec4 world = _LocalToWorld * vec4(position, 1.0);
  worldPosition = world.xyz;
  gl_Position = _WorldToView * world;
}
      </Vertex>
      <Fragment>
#version 430 core
in vec3 worldPosition;
uniform vec3 _CameraPos = vec3(0.0);
layout(location = 0) out vec4 ErrorColor;
layout(location = 1) out vec2 MotionOut;
layout(location = 2) out vec4 AlbedoOut;
layout(location = 3) out float DepthOut;
void main() {
  // 8-pixel cells, magenta on even ones, black on odd ones.
  float odd = mod(floor(gl_FragCoord.x / 8.0) + floor(gl_FragCoord.y / 8.0), 2.0);
  ErrorColor = mix(vec4(1.0, 0.0, 1.0, 1.0), vec4(0.0, 0.0, 0.0, 1.0), odd);
  MotionOut = vec2(0.0);
  AlbedoOut = vec4(0.0, 0.0, 0.0, 1.0);
  DepthOut = length(worldPosition - _CameraPos);
}
      </Fragment>
    </Pass>
    <Pass Name="Emission">
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
layout(location = 0) out vec4 EmittedOut;
void main() {
  // Radiance 2 is full magenta through the tone curve at any exposure the
  // presets use.
  float odd = mod(floor(gl_FragCoord.x / 8.0) + floor(gl_FragCoord.y / 8.0), 2.0);
  EmittedOut = vec4(mix(vec3(2.0, 0.0, 2.0), vec3(0.0), odd), 0.0);
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
  ErrorColor = mix(vec4(2.0, 0.0, 2.0, 1.0), vec4(0.0, 0.0, 0.0, 1.0), odd);
}
      </Fragment>
    </Pass>
  </Passes>
</Shader>
