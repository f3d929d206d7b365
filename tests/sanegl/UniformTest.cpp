// Guards uniform values: their layout over the identity, equality without
// location, and uploads by type (matrices column by column, ints truncated).
#include "sanegl/Uniform.h"
#include "sanegl/SaneglFixture.h"

using namespace SaneGL;

namespace {

TEST(UniformTest, ValuesLieOverTheIdentityAndCompareWithoutLocation) {
  Uniform vec(3, glm::vec2(5, 6));
  EXPECT_EQ(vec.value[0], 5.0f);
  EXPECT_EQ(vec.value[1], 6.0f);
  EXPECT_EQ(vec.value[5], 1.0f);
  EXPECT_EQ(vec.value[15], 1.0f);
  EXPECT_EQ(vec.value[2], 0.0f);
  EXPECT_TRUE(vec == Uniform(9, glm::vec2(5, 6)));
  EXPECT_TRUE(vec != Uniform(3, glm::vec3(5, 6, 0))) << "same numbers, other type";
  EXPECT_TRUE(*vec.Copy() == vec);

  Uniform unit(1, 4);
  EXPECT_EQ(unit.type, UniformTypes::UniformInt);
  EXPECT_EQ(unit.value[0], 4.0f);
  Uniform plain;
  EXPECT_EQ(plain.location, -1);
  EXPECT_TRUE(plain == Uniform(-1, 1.0f)) << "the identity's first element";
}

class UniformUploadTest : public KestorTest::SaneGLFixture {};

TEST_F(UniformUploadTest, MatricesUploadColumnByColumnAndIntsTruncate) {
  Program program = KestorTest::MakeProgram(KestorTest::kVertexText, KestorTest::kFragmentText);
  UseProgram(program);
  StateSync();
  glm::mat4 xf(1.0f);
  xf[1][0] = 5.0f;  // column 1, row 0
  Uniform(program.GetUniformLocation("xf"), xf).ToGPU();
  Uniform unit(program.GetUniformLocation("unit"), 0);
  unit.value[0] = 2.75f;
  unit.ToGPU();

  GLfloat read[16];
  glGetUniformfv(program.glID(), program.GetUniformLocation("xf"), read);
  EXPECT_EQ(read[4], 5.0f);
  EXPECT_EQ(read[1], 0.0f);
  GLint unitRead = -1;
  glGetUniformiv(program.glID(), program.GetUniformLocation("unit"), &unitRead);
  EXPECT_EQ(unitRead, 2);
}

}  // namespace
