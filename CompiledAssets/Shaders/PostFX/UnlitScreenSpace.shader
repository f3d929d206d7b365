<?xml version="1.0" encoding="UTF-8"?>
<!-- Copies _MainTex across the target unchanged (the camera history copy). -->
<Shader Name="UnlitScreenSpace">
  <Uniforms>
    <Texture Uniform="_MainTex" IsLinear="True"/>
  </Uniforms>
  <Passes>
    <Pass Name="Deferred">
      <Vertex><![CDATA[
#include "PostFX/ScreenQuad"
      ]]></Vertex>
      <Fragment><![CDATA[
#version 430 core
in vec2 UV;
uniform sampler2D _MainTex;
layout(location = 0) out vec4 ColorOut;
void main() {
  ColorOut = vec4(textureLod(_MainTex, UV, 0.0).rgb, 1.0);
}
      ]]></Fragment>
    </Pass>
  </Passes>
</Shader>
