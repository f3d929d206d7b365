<?xml version="1.0" encoding="UTF-8"?>
<!--
  Motion of the background: a quad on the far plane, so the depth test
  (less or equal against the cleared 1.0) lets it through only where no
  geometry was drawn. The motion is that of the camera alone, in UV units
  (current minus previous position), like the G-buffer writes it.
-->
<Shader Name="FillMotionBuffer">
  <Uniforms/>
  <Passes>
    <Pass Name="Deferred">
      <Vertex><![CDATA[
#version 430 core
in vec3 position;
in vec2 uv;
out vec2 NDC;
void main() {
  NDC = position.xy;
  gl_Position = vec4(position.xy, 1.0, 1.0);
}
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec2 NDC;
uniform mat4 _InvWorldToView = mat4(1.0);
uniform mat4 _WorldToView_Past = mat4(1.0);
uniform vec3 _CameraPos = vec3(0.0);
layout(location = 0) out vec2 MotionOut;
void main() {
  vec4 far = _InvWorldToView * vec4(NDC, 1.0, 1.0);
  // A direction far away: only the camera's turn moves it on screen.
  vec3 dir = normalize(far.xyz / far.w - _CameraPos);
  vec4 past = _WorldToView_Past * vec4(_CameraPos + dir * 1000.0, 1.0);
  vec2 pastNDC = past.xy / max(abs(past.w), 1e-6);
  MotionOut = (NDC - pastNDC) * 0.5;
}
      ]]></Fragment>
    </Pass>
  </Passes>
</Shader>
