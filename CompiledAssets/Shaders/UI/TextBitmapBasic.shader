<?xml version="1.0" encoding="UTF-8"?>
<!--
  FreeType text: one quad showing a single-channel coverage texture whose
  first row is the top of the text (so v is flipped). Premultiplied alpha.
-->
<Shader Name="TextBitmapBasic">
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
uniform vec4 _TextColor = vec4(1.0);
layout(location = 0) out vec4 FragColor;
void main() {
  float coverage = texture(_MainTex, vec2(UV.x, 1.0 - UV.y)).r * _TextColor.a;
  FragColor = vec4(_TextColor.rgb * coverage, coverage);
}
      </Fragment>
    </Pass>
  </Passes>
</Shader>
