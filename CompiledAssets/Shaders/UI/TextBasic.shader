<?xml version="1.0" encoding="UTF-8"?>
<!--
  Bitmap-font text: each glyph quad samples the atlas, whose red channel is
  the glyph's coverage. Drawn in _TextColor with premultiplied alpha.
-->
<Shader Name="TextBasic">
  <Uniforms>
    <Texture Uniform="_MainTex"/>
    <Vector4 Uniform="_TextColor"/>
  </Uniforms>
  <Passes>
    <Pass Name="Deferred">
      <Vertex>
#include "UI/GUIVertex"
      </Vertex>
      <Fragment>
#version 430 core
in vec2 UV;
uniform sampler2D _MainTex;
uniform vec4 _TextColor = vec4(0.93, 0.93, 0.93, 1.0);
layout(location = 0) out vec4 FragColor;
void main() {
  float coverage = texture(_MainTex, UV).r * _TextColor.a;
  FragColor = vec4(_TextColor.rgb * coverage, coverage);
}
      </Fragment>
    </Pass>
  </Passes>
</Shader>
