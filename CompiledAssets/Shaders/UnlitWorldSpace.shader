<?xml version="1.0" encoding="UTF-8"?>
<!--
  A texture shown on a quad in the scene: an sRGB-encoded image (decoded to linear here).
  Forward draws the texture's colour unlit. Deferred has no unlit output, so
  the texture becomes the albedo of a surface facing the camera and the
  lighting pass shades it like the street around it.
-->
<Shader Name="UnlitWorldSpace">
  <Uniforms>
    <Texture Uniform="_MainTex"/>
  </Uniforms>
  <Passes>
    <Pass Name="Deferred">
      <Vertex><![CDATA[
#include "UnlitQuadVertex"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec3 worldPosition;
in vec2 texcoord;
in vec4 clipNow;
in vec4 clipPast;
uniform sampler2D _MainTex;
uniform vec3 _CameraPos = vec3(0.0);
layout(location = 0) out vec4 NormalOut;
layout(location = 1) out vec2 MotionOut;
layout(location = 2) out vec4 AlbedoOut;
layout(location = 3) out float DepthOut;
void main() {
  vec4 texel = texture(_MainTex, texcoord);
  vec3 toCamera = _CameraPos - worldPosition;
  vec3 n = length(toCamera) > 0.0 ? normalize(toCamera) : vec3(0.0, 0.0, 1.0);
  NormalOut = vec4(n * 0.5 + 0.5, 1.0);
  AlbedoOut = vec4(pow(texel.rgb, vec3(2.2)), 1.0);
  DepthOut = length(toCamera);
  MotionOut = (clipNow.xy / clipNow.w - clipPast.xy / max(abs(clipPast.w), 1e-6)) * 0.5;
}
      ]]></Fragment>
    </Pass>
    <Pass Name="Forward">
      <Vertex><![CDATA[
#include "UnlitQuadVertex"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec2 texcoord;
in vec4 clipNow;
in vec4 clipPast;
uniform sampler2D _MainTex;
layout(location = 0) out vec4 ColorOut;
layout(location = 1) out vec2 MotionOut;
void main() {
  vec4 texel = texture(_MainTex, texcoord);
  ColorOut = vec4(pow(texel.rgb, vec3(2.2)), 1.0);
  MotionOut = (clipNow.xy / clipNow.w - clipPast.xy / max(abs(clipPast.w), 1e-6)) * 0.5;
}
      ]]></Fragment>
    </Pass>
  </Passes>
</Shader>
