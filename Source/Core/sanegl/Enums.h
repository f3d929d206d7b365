#pragma once
// The GL layer's own names for GL enumerations. Callers use these instead of
// GL constants so that only the layer includes GL headers; each `...ToGL`
// function maps one of them through a lookup table in Enums.cpp. A value
// outside an enumeration's range maps to its first entry (noted otherwise).

namespace SaneGL {

enum class FaceSide : int { Front, Back, FrontAndBack, None };

enum class ValueComparison : int { Never, Less, Equal, LEqual, Greater, NotEqual, GEqual, Always };

// `Disabled` stands for "no logic op" in the setters; on its own it maps to GL_SET.
enum class LogicOps : int {
  Disabled, Clear, Set, Copy, CopyInverted, Noop, Invert, And, Nand, Or, Nor, Xor, Equiv,
  AndReverse, AndInverted, OrReverse, OrInverted
};

enum class BlendEquation : int { Add, Subtract, ReverseSubtract, Min, Max };

enum class BlendFunction : int {
  Zero, One, SrcColor, OneMinusSrcColor, DstColor, OneMinusDstColor, SrcAlpha, OneMinusSrcAlpha,
  DstAlpha, OneMinusDstAlpha, ConstantColor, OneMinusConstantColor, ConstantAlpha,
  OneMinusConstantAlpha, SrcAlphaSaturate, Src1Color, OneMinusSrc1Color, Src1Alpha,
  OneMinusSrc1Alpha
};

enum class StencilOpType : int { Keep, Zero, Replace, Incr, IncrWrap, Decr, DecrWrap, Invert };

enum class PolygonModes : int { Point, Line, Fill };

enum class BufferType : int {
  ArrayBuffer, AtomicCounterBuffer, CopyReadBuffer, CopyWriteBuffer, DrawIndirectBuffer,
  DispatchIndirectBuffer, ElementArrayBuffer, PixelPackBuffer, PixelUnpackBuffer, QueryBuffer,
  ShaderStorageBuffer, TextureBuffer, TransformFeedbackBuffer, UniformBufferTarget
};

enum class BufferUsage : int {
  StreamDraw, StreamRead, StreamCopy, StaticDraw, StaticRead, StaticCopy, DynamicDraw,
  DynamicRead, DynamicCopy
};

enum class DataType : int {
  Byte, UnsignedByte, Short, UnsignedShort, Int, UnsignedInt, HalfFloat, Float, Double, Fixed,
  Int2101010Rev, UnsignedInt2101010Rev, UnsignedInt10f11f11fRev
};

enum class PrimitiveModes : int {
  Points, LineStrip, LineLoop, Lines, LineStripAdjacency, LinesAdjacency, TriangleStrip,
  TriangleFan, Triangles, TriangleStripAdjacency, TrianglesAdjacency, Patches
};

enum class FramebufferParameters : int {
  DefaultWidth, DefaultHeight, DefaultLayers, DefaultSamples, DefaultFixedSampleLocations
};

// Out of range gives GL_VERTEX_SHADER.
enum class ShaderType : int {
  ComputeShader, VertexShader, TessControlShader, TessEvaluationShader, GeometryShader,
  FragmentShader
};

enum class ShaderParameter : int {
  ShaderTypeParam, ShaderDeleteStatus, CompileStatus, ShaderInfoLogLength, ShaderSourceLength
};

enum class ProgramParameter : int {
  DeleteStatus, LinkStatus, ValidateStatus, InfoLogLength, AttachedShaders,
  ActiveAtomicCounterBuffers, ActiveAttributes, ActiveAttributeMaxLength, ActiveUniforms,
  ActiveUniformBlocks, ActiveUniformBlockMaxNameLength, ActiveUniformMaxLength,
  ComputeWorkGroupSize, ProgramBinaryLength, TransformFeedbackBufferMode,
  TransformFeedbackVaryings, TransformFeedbackVaryingMaxLength, GeometryVerticesOut,
  GeometryInputType, GeometryOutputType
};

enum class Attachment : int { DepthAttachment, StencilAttachment };

// Bits for `Clear`, combined with |; equal to GL's buffer bits.
namespace ClearTypes {
constexpr unsigned Color = 0x00004000;
constexpr unsigned Depth = 0x00000100;
constexpr unsigned Stencil = 0x00000400;
}  // namespace ClearTypes

unsigned FaceSideToGL(FaceSide v);
unsigned ValueComparisonToGL(ValueComparison v);
unsigned LogicOpToGL(LogicOps v);
unsigned BlendEquationToGL(BlendEquation v);
unsigned BlendFunctionToGL(BlendFunction v);
unsigned stencilOpTypeToGL(StencilOpType v);
unsigned PolygonModeToGL(PolygonModes v);
unsigned BufferTypeToGL(BufferType v);
unsigned BufferUsageToGL(BufferUsage v);
unsigned DataTypeToGL(DataType v);
unsigned PrimitiveModeToGL(PrimitiveModes v);
unsigned FramebufferParametersToGL(FramebufferParameters v);
unsigned ShaderTypeToGL(ShaderType v);
// 0 for a value outside the enumeration: the caller then skips the GL query.
unsigned ShaderParameterToGL(ShaderParameter v);
unsigned ProgramParameterToGL(ProgramParameter v);
unsigned AttachmentToGL(Attachment v);
// 1..15 give GL_COLOR_ATTACHMENT1..15; anything else GL_COLOR_ATTACHMENT0.
unsigned AttachmentIndexToGL(int index);

}  // namespace SaneGL
