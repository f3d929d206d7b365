<?xml version="1.0" encoding="UTF-8"?>
<!--
  The street's surface shader: one colour, a roughness and an emission per
  material, lit by a low sun and a sky/ground ambient. Deliberately plain and
  self-contained (no includes) so that every pass compiles on any GL 4.3
  driver; the renderer's full lighting replaces it.

  Passes and their colour targets:
    Deferred  0: normal packed into 0..1   1: screen motion
    Forward   0: lit colour                1: screen motion
    Emission  0: emitted light (added)
    Depth     depth only
  Matrices left unset stay identities, so a draw without a camera is in clip
  space.
-->
<Shader Name="Standard">
  <Uniforms>
    <Vector3 Uniform="Color"/>
    <Float Uniform="Roughness"/>
    <Float Uniform="Metallic"/>
    <Vector3 Uniform="EmissionColor"/>
    <Float Uniform="Strength"/>
    <Texture Uniform="AlbedoMap" IsLinear="False"/>
  </Uniforms>
  <Passes>
    <Pass Name="Deferred">
      <Vertex>
#version 430 core
in vec3 position;
in vec3 normal;
in vec2 uv;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _LocalToWorld_Past = mat4(1.0);
uniform mat3 _LocalToWorldNormal = mat3(1.0);
uniform mat4 _WorldToView = mat4(1.0);
uniform mat4 _WorldToView_Past = mat4(1.0);
out vec3 worldNormal;
out vec4 clipNow;
out vec4 clipPast;
void main() {
  worldNormal = _LocalToWorldNormal * normal;
  clipNow = _WorldToView * _LocalToWorld * vec4(position, 1.0);
  clipPast = _WorldToView_Past * _LocalToWorld_Past * vec4(position, 1.0);
  gl_Position = clipNow;
}
      </Vertex>
      <Fragment>
#version 430 core
in vec3 worldNormal;
in vec4 clipNow;
in vec4 clipPast;
layout(location = 0) out vec4 NormalOut;
layout(location = 1) out vec2 MotionOut;
void main() {
  vec3 n = normalize(worldNormal);
  NormalOut = vec4(n * 0.5 + 0.5, 1.0);
  // Clip w is never 0 for a visible fragment; the past one is guarded.
  MotionOut = (clipNow.xy / clipNow.w - clipPast.xy / max(abs(clipPast.w), 1e-6)) * 0.5;
}
      </Fragment>
    </Pass>
    <Pass Name="Forward">
      <Vertex>
#version 430 core
in vec3 position;
in vec3 normal;
in vec2 uv;
uniform mat4 _LocalToWorld = mat4(1.0);
uniform mat4 _LocalToWorld_Past = mat4(1.0);
uniform mat3 _LocalToWorldNormal = mat3(1.0);
uniform mat4 _WorldToView = mat4(1.0);
uniform mat4 _WorldToView_Past = mat4(1.0);
out vec3 worldPosition;
out vec3 worldNormal;
out vec2 texcoord;
out vec4 clipNow;
out vec4 clipPast;
void main() {
  vec4 world = _LocalToWorld * vec4(position, 1.0);
  worldPosition = world.xyz;
  worldNormal = _LocalToWorldNormal * normal;
  texcoord = uv;
  clipNow = _WorldToView * world;
  clipPast = _WorldToView_Past * _LocalToWorld_Past * vec4(position, 1.0);
  gl_Position = clipNow;
}
      </Vertex>
      <Fragment>
#version 430 core
in vec3 worldPosition;
in vec3 worldNormal;
in vec2 texcoord;
in vec4 clipNow;
in vec4 clipPast;
uniform vec3 Color = vec3(0.8);
uniform float Roughness = 0.5;
uniform float Metallic = 0.0;
uniform vec3 EmissionColor = vec3(0.0);
uniform float Strength = 0.0;
uniform sampler2D AlbedoMap;
uniform vec3 _CameraPos = vec3(0.0);
layout(location = 0) out vec4 ColorOut;
layout(location = 1) out vec2 MotionOut;

// Towards the level's low evening sun, and its colour.
const vec3 SunDirection = vec3(0.5645, -0.7527, 0.3387);
const vec3 SunColor = vec3(1.7, 1.35, 1.0);
const vec3 SkyColor = vec3(0.20, 0.26, 0.38);
const vec3 GroundColor = vec3(0.10, 0.08, 0.06);

void main() {
  vec3 n = normalize(worldNormal);
  vec3 v = normalize(_CameraPos - worldPosition);
  vec3 albedo = Color * texture(AlbedoMap, texcoord).rgb;
  vec3 diffuse = albedo * (1.0 - Metallic);
  vec3 specularTint = mix(vec3(0.04), albedo, Metallic);

  float lambert = max(dot(n, SunDirection), 0.0);
  vec3 h = normalize(SunDirection + v);
  // Blinn-Phong with the exponent taken from the roughness.
  float r = clamp(Roughness, 0.05, 1.0);
  float exponent = 2.0 / (r * r * r * r) - 2.0;
  float highlight = pow(max(dot(n, h), 0.0), exponent) * (exponent + 8.0) / 25.1327;
  vec3 direct = SunColor * lambert * (diffuse + specularTint * highlight);
  vec3 ambient = mix(GroundColor, SkyColor, n.z * 0.5 + 0.5) * diffuse;

  ColorOut = vec4(direct + ambient + EmissionColor * Strength, 1.0);
  MotionOut = (clipNow.xy / clipNow.w - clipPast.xy / max(abs(clipPast.w), 1e-6)) * 0.5;
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
uniform vec3 EmissionColor = vec3(0.0);
uniform float Strength = 0.0;
layout(location = 0) out vec4 EmittedOut;
void main() {
  EmittedOut = vec4(EmissionColor * Strength, 0.0);
}
      </Fragment>
    </Pass>
    <Pass Name="Depth">
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
void main() {
}
      </Fragment>
    </Pass>
  </Passes>
</Shader>
