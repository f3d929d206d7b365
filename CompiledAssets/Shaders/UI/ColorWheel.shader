<?xml version="1.0" encoding="UTF-8"?>
<!--
  The hue and saturation disc of the colour wheel widget: hue turns around
  the centre, saturation grows outwards, value is full. The direction of a
  hue matches the widget's marker: hue h lies towards (-sin 2 pi h, -cos 2 pi h).
  Premultiplied alpha with a one-pixel soft rim.
-->
<Shader Name="ColorWheel">
  <Uniforms>
    <Vector4 Uniform="_ButtonCoords"/>
  </Uniforms>
  <Passes>
    <Pass Name="Deferred">
      <Vertex>
#include "UI/GUIVertex"
      </Vertex>
      <Fragment>
#version 430 core
in vec2 Local;
uniform vec4 _ButtonCoords;
layout(location = 0) out vec4 FragColor;

vec3 HSVtoRGB(vec3 c) {
  float x = c.x * 6.0;
  vec3 k = vec3(clamp(abs(x - 3.0) - 1.0, 0.0, 1.0),
                clamp(2.0 - abs(x - 2.0), 0.0, 1.0),
                clamp(2.0 - abs(x - 4.0), 0.0, 1.0));
  return c.z * (1.0 + c.y * (k - 1.0));
}

void main() {
  const float TwoPi = 6.28318530718;
  float s = length(Local);
  float h = fract(atan(-Local.x, -Local.y) / TwoPi);
  vec3 rgb = HSVtoRGB(vec3(h, min(s, 1.0), 1.0));
  float radius = max(min(abs(_ButtonCoords.z - _ButtonCoords.x), abs(_ButtonCoords.w - _ButtonCoords.y)) * 0.5, 1.0);
  float coverage = clamp((1.0 - s) * radius + 0.5, 0.0, 1.0);
  FragColor = vec4(rgb * coverage, coverage);
}
      </Fragment>
    </Pass>
  </Passes>
</Shader>
