<?xml version="1.0" encoding="UTF-8"?>
<!--
  A styled GUI rectangle drawn on the unit quad: rounded corners, a vertical
  two-colour gradient, an inner outline and a glow that rises from the edges.
  Output is premultiplied alpha. The shape is measured in window pixels from
  _ButtonCoords, whose extent is the rectangle's size, so edges and a 1-pixel
  outline land on whole pixels when the rectangle does.
-->
<Shader Name="GUIGeneric">
  <Uniforms>
    <Vector4 Uniform="BorderRadius"/>
    <Vector4 Uniform="TopColor"/>
    <Vector4 Uniform="BottomColor"/>
    <Vector4 Uniform="ContentColor"/>
    <Vector4 Uniform="OutlineColor"/>
    <Float Uniform="OutlineThickness"/>
    <Vector4 Uniform="GlowColor"/>
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
uniform vec4 BorderRadius;
uniform vec4 TopColor;
uniform vec4 BottomColor;
uniform vec4 OutlineColor;
uniform float OutlineThickness;
uniform vec4 GlowColor;
uniform vec4 _ButtonCoords;
layout(location = 0) out vec4 FragColor;

// Signed distance in pixels to a box of half extents h with corner radius r.
float RoundedBox(vec2 p, vec2 h, float r) {
  vec2 q = abs(p) - h + r;
  return length(max(q, 0.0)) + min(max(q.x, q.y), 0.0) - r;
}

vec4 Premultiplied(vec4 c) { return vec4(c.rgb * c.a, c.a); }

void main() {
  vec2 halfSize = abs(_ButtonCoords.zw - _ButtonCoords.xy) * 0.5;
  vec2 p = Local * halfSize;
  // Radii in the order top-left, top-right, bottom-right, bottom-left.
  float r = p.y > 0.0 ? (p.x > 0.0 ? BorderRadius.y : BorderRadius.x)
                      : (p.x > 0.0 ? BorderRadius.z : BorderRadius.w);
  r = clamp(r, 0.0, min(halfSize.x, halfSize.y));
  float d = RoundedBox(p, halfSize, r);

  // Coverage of the whole shape and of the part inside the outline; a pixel
  // centre half a pixel inside an edge is fully covered.
  float shape = clamp(0.5 - d, 0.0, 1.0);
  float inner = clamp(0.5 - (d + max(OutlineThickness, 0.0)), 0.0, 1.0);

  vec4 fill = Premultiplied(mix(BottomColor, TopColor, Local.y * 0.5 + 0.5));
  vec4 color = fill * inner + Premultiplied(OutlineColor) * (shape - inner);

  // Light that fades inwards from the border, added on top.
  float reach = max(min(halfSize.x, halfSize.y) * 0.5, 1.0);
  float glow = exp(-max(-d, 0.0) / reach) * shape;
  color.rgb += GlowColor.rgb * GlowColor.a * glow;
  FragColor = color;
}
      </Fragment>
    </Pass>
  </Passes>
</Shader>
