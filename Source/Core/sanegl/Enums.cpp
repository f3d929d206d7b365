// Enum-to-GL lookup tables, one row per enumerator in declaration order: a new
// enumerator is a new row here and nothing else.
#include "sanegl/Enums.h"

#include <cstddef>

#include "sanegl/GL.h"

namespace SaneGL {

static_assert(ClearTypes::Color == GL_COLOR_BUFFER_BIT, "clear bits must be GL's");
static_assert(ClearTypes::Depth == GL_DEPTH_BUFFER_BIT, "clear bits must be GL's");
static_assert(ClearTypes::Stencil == GL_STENCIL_BUFFER_BIT, "clear bits must be GL's");

namespace {

// `None` culls nothing; the setter switches culling off, the table only has
// to give GL a valid face.
constexpr GLenum kFaceSide[] = {GL_FRONT, GL_BACK, GL_FRONT_AND_BACK, GL_BACK};

constexpr GLenum kValueComparison[] = {GL_NEVER,   GL_LESS,     GL_EQUAL,  GL_LEQUAL,
                                       GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};

constexpr GLenum kLogicOp[] = {GL_SET,         GL_CLEAR,       GL_SET,         GL_COPY,
                               GL_COPY_INVERTED, GL_NOOP,      GL_INVERT,      GL_AND,
                               GL_NAND,        GL_OR,          GL_NOR,         GL_XOR,
                               GL_EQUIV,       GL_AND_REVERSE, GL_AND_INVERTED, GL_OR_REVERSE,
                               GL_OR_INVERTED};

constexpr GLenum kBlendEquation[] = {GL_FUNC_ADD, GL_FUNC_SUBTRACT, GL_FUNC_REVERSE_SUBTRACT,
                                     GL_MIN, GL_MAX};

constexpr GLenum kBlendFunction[] = {
    GL_ZERO,           GL_ONE,                      GL_SRC_COLOR,
    GL_ONE_MINUS_SRC_COLOR, GL_DST_COLOR,           GL_ONE_MINUS_DST_COLOR,
    GL_SRC_ALPHA,      GL_ONE_MINUS_SRC_ALPHA,      GL_DST_ALPHA,
    GL_ONE_MINUS_DST_ALPHA, GL_CONSTANT_COLOR,      GL_ONE_MINUS_CONSTANT_COLOR,
    GL_CONSTANT_ALPHA, GL_ONE_MINUS_CONSTANT_ALPHA, GL_SRC_ALPHA_SATURATE,
    GL_SRC1_COLOR,     GL_ONE_MINUS_SRC1_COLOR,     GL_SRC1_ALPHA,
    GL_ONE_MINUS_SRC1_ALPHA};

constexpr GLenum kStencilOp[] = {GL_KEEP, GL_ZERO,      GL_REPLACE, GL_INCR,
                                 GL_INCR_WRAP, GL_DECR, GL_DECR_WRAP, GL_INVERT};

constexpr GLenum kPolygonMode[] = {GL_POINT, GL_LINE, GL_FILL};

constexpr GLenum kBufferType[] = {
    GL_ARRAY_BUFFER,         GL_ATOMIC_COUNTER_BUFFER, GL_COPY_READ_BUFFER,
    GL_COPY_WRITE_BUFFER,    GL_DRAW_INDIRECT_BUFFER,  GL_DISPATCH_INDIRECT_BUFFER,
    GL_ELEMENT_ARRAY_BUFFER, GL_PIXEL_PACK_BUFFER,     GL_PIXEL_UNPACK_BUFFER,
    GL_QUERY_BUFFER,         GL_SHADER_STORAGE_BUFFER, GL_TEXTURE_BUFFER,
    GL_TRANSFORM_FEEDBACK_BUFFER, GL_UNIFORM_BUFFER};

constexpr GLenum kBufferUsage[] = {GL_STREAM_DRAW,  GL_STREAM_READ,  GL_STREAM_COPY,
                                   GL_STATIC_DRAW,  GL_STATIC_READ,  GL_STATIC_COPY,
                                   GL_DYNAMIC_DRAW, GL_DYNAMIC_READ, GL_DYNAMIC_COPY};

constexpr GLenum kDataType[] = {GL_BYTE,  GL_UNSIGNED_BYTE, GL_SHORT,  GL_UNSIGNED_SHORT,
                                GL_INT,   GL_UNSIGNED_INT,  GL_HALF_FLOAT, GL_FLOAT,
                                GL_DOUBLE, GL_FIXED,        GL_INT_2_10_10_10_REV,
                                GL_UNSIGNED_INT_2_10_10_10_REV, GL_UNSIGNED_INT_10F_11F_11F_REV};

constexpr GLenum kPrimitiveMode[] = {
    GL_POINTS,         GL_LINE_STRIP,         GL_LINE_LOOP,     GL_LINES,
    GL_LINE_STRIP_ADJACENCY, GL_LINES_ADJACENCY, GL_TRIANGLE_STRIP, GL_TRIANGLE_FAN,
    GL_TRIANGLES,      GL_TRIANGLE_STRIP_ADJACENCY, GL_TRIANGLES_ADJACENCY, GL_PATCHES};

constexpr GLenum kFramebufferParameter[] = {
    GL_FRAMEBUFFER_DEFAULT_WIDTH, GL_FRAMEBUFFER_DEFAULT_HEIGHT, GL_FRAMEBUFFER_DEFAULT_LAYERS,
    GL_FRAMEBUFFER_DEFAULT_SAMPLES, GL_FRAMEBUFFER_DEFAULT_FIXED_SAMPLE_LOCATIONS};

constexpr GLenum kShaderType[] = {GL_COMPUTE_SHADER,         GL_VERTEX_SHADER,
                                  GL_TESS_CONTROL_SHADER,    GL_TESS_EVALUATION_SHADER,
                                  GL_GEOMETRY_SHADER,        GL_FRAGMENT_SHADER};

constexpr GLenum kShaderParameter[] = {GL_SHADER_TYPE, GL_DELETE_STATUS, GL_COMPILE_STATUS,
                                       GL_INFO_LOG_LENGTH, GL_SHADER_SOURCE_LENGTH};

constexpr GLenum kProgramParameter[] = {
    GL_DELETE_STATUS,
    GL_LINK_STATUS,
    GL_VALIDATE_STATUS,
    GL_INFO_LOG_LENGTH,
    GL_ATTACHED_SHADERS,
    GL_ACTIVE_ATOMIC_COUNTER_BUFFERS,
    GL_ACTIVE_ATTRIBUTES,
    GL_ACTIVE_ATTRIBUTE_MAX_LENGTH,
    GL_ACTIVE_UNIFORMS,
    GL_ACTIVE_UNIFORM_BLOCKS,
    GL_ACTIVE_UNIFORM_BLOCK_MAX_NAME_LENGTH,
    GL_ACTIVE_UNIFORM_MAX_LENGTH,
    GL_COMPUTE_WORK_GROUP_SIZE,
    GL_PROGRAM_BINARY_LENGTH,
    GL_TRANSFORM_FEEDBACK_BUFFER_MODE,
    GL_TRANSFORM_FEEDBACK_VARYINGS,
    GL_TRANSFORM_FEEDBACK_VARYING_MAX_LENGTH,
    GL_GEOMETRY_VERTICES_OUT,
    GL_GEOMETRY_INPUT_TYPE,
    GL_GEOMETRY_OUTPUT_TYPE};

constexpr GLenum kAttachment[] = {GL_DEPTH_ATTACHMENT, GL_STENCIL_ATTACHMENT};

static_assert(sizeof(kLogicOp) / sizeof(GLenum) == 17, "one row per LogicOps value");
static_assert(sizeof(kBlendFunction) / sizeof(GLenum) == 19, "one row per BlendFunction value");
static_assert(sizeof(kBufferType) / sizeof(GLenum) == 14, "one row per BufferType value");
static_assert(sizeof(kDataType) / sizeof(GLenum) == 13, "one row per DataType value");
static_assert(sizeof(kPrimitiveMode) / sizeof(GLenum) == 12, "one row per PrimitiveModes value");
static_assert(sizeof(kProgramParameter) / sizeof(GLenum) == 20, "one row per ProgramParameter");

// A negative value converts to a huge index and falls back like any other
// out-of-range one, so a corrupted enum never reads outside a table.
template <class E, std::size_t N>
unsigned Lookup(const GLenum (&table)[N], E value, GLenum fallback) {
  std::size_t index = static_cast<std::size_t>(static_cast<int>(value));
  return index < N ? table[index] : fallback;
}

}  // namespace

unsigned FaceSideToGL(FaceSide v) { return Lookup(kFaceSide, v, GL_BACK); }
unsigned ValueComparisonToGL(ValueComparison v) { return Lookup(kValueComparison, v, GL_NEVER); }
unsigned LogicOpToGL(LogicOps v) { return Lookup(kLogicOp, v, GL_SET); }
unsigned BlendEquationToGL(BlendEquation v) { return Lookup(kBlendEquation, v, GL_FUNC_ADD); }
unsigned BlendFunctionToGL(BlendFunction v) { return Lookup(kBlendFunction, v, GL_ZERO); }
unsigned stencilOpTypeToGL(StencilOpType v) { return Lookup(kStencilOp, v, GL_KEEP); }
unsigned PolygonModeToGL(PolygonModes v) { return Lookup(kPolygonMode, v, GL_POINT); }
unsigned BufferTypeToGL(BufferType v) { return Lookup(kBufferType, v, GL_ARRAY_BUFFER); }
unsigned BufferUsageToGL(BufferUsage v) { return Lookup(kBufferUsage, v, GL_STREAM_DRAW); }
unsigned DataTypeToGL(DataType v) { return Lookup(kDataType, v, GL_BYTE); }
unsigned PrimitiveModeToGL(PrimitiveModes v) { return Lookup(kPrimitiveMode, v, GL_POINTS); }
unsigned FramebufferParametersToGL(FramebufferParameters v) {
  return Lookup(kFramebufferParameter, v, GL_FRAMEBUFFER_DEFAULT_WIDTH);
}
unsigned ShaderTypeToGL(ShaderType v) { return Lookup(kShaderType, v, GL_VERTEX_SHADER); }
unsigned ShaderParameterToGL(ShaderParameter v) { return Lookup(kShaderParameter, v, 0); }
unsigned ProgramParameterToGL(ProgramParameter v) { return Lookup(kProgramParameter, v, 0); }
unsigned AttachmentToGL(Attachment v) { return Lookup(kAttachment, v, GL_DEPTH_ATTACHMENT); }

unsigned AttachmentIndexToGL(int index) {
  return index >= 1 && index <= 15 ? GL_COLOR_ATTACHMENT0 + static_cast<unsigned>(index)
                                   : GL_COLOR_ATTACHMENT0;
}

}  // namespace SaneGL
