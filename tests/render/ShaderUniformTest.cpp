// Guards the uniform value hashes that select program variants (signed zero,
// component order, textures and arrays) and the replace-by-name rules of
// uniform buffers.
#include <gtest/gtest.h>

#include <functional>

#include "render/ShaderUniform.h"

using namespace KestorEngine;

namespace {

constexpr uint64_t kGolden = 0x9e3779b9ull;

uint64_t Fold(std::initializer_list<float> values) {
  uint64_t seed = 0;
  for (float v : values) seed = HashCombine(seed, HashFloat(v));
  return seed;
}

// Texture uniforms only carry the pointer here; it is never dereferenced.
Texbit* FakeTexture(int which) {
  static int storage[2];
  return reinterpret_cast<Texbit*>(&storage[which]);
}

}  // namespace

// Every component counts, in order: columns of a matrix one after the other,
// elements of an array one after the other. Zero has one hash whatever its
// sign, and textures never tell variants apart.
TEST(ShaderUniformHash, ValueHashFoldsEveryComponentInOrder) {
  glm::mat3 m3(1.0f);
  m3[1][0] = 7.0f;  // column 1, row 0
  glm::mat4 m4(2.0f);
  m4[3][1] = 5.0f;
  struct Case {
    const char* what;
    ShaderUniform uniform;
    uint64_t hash;
  };
  Case cases[] = {
      {"+0", ShaderUniform(0.0f), kGolden},
      {"-0", ShaderUniform(-0.0f), kGolden},
      {"vec2 with -0", ShaderUniform(glm::vec2(-0.0f, 1.0f)), Fold({0, 1})},
      {"vec2", ShaderUniform(glm::vec2(1, 2)), Fold({1, 2})},
      {"vec2 reversed", ShaderUniform(glm::vec2(2, 1)), Fold({2, 1})},
      {"vec4", ShaderUniform(glm::vec4(1, 2, 3, 4)), Fold({1, 2, 3, 4})},
      {"mat3", ShaderUniform(m3), Fold({1, 0, 0, 7, 1, 0, 0, 0, 1})},
      {"mat4", ShaderUniform(m4), Fold({2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 5, 0, 2})},
      {"float array", ShaderUniform(std::vector<float>{1, 2, 3}), Fold({1, 2, 3})},
      {"vec3 array", ShaderUniform(std::vector<glm::vec3>{{1, 2, 3}, {4, 5, 6}}), Fold({1, 2, 3, 4, 5, 6})},
      {"mat4 array", ShaderUniform(std::vector<glm::mat4>{glm::mat4(1.0f)}),
       Fold({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1})},
      {"empty array", ShaderUniform(std::vector<glm::mat4>{}), 0},
      {"texture", ShaderUniform("Albedo", FakeTexture(0)), 0},
      {"another texture", ShaderUniform("Albedo", FakeTexture(1)), 0},
  };
  for (Case& c : cases) {
    c.uniform.CalculateHash();
    EXPECT_EQ(c.uniform.ValueHash, c.hash) << c.what;
  }
  EXPECT_NE(Fold({1, 2}), Fold({2, 1}));
}

TEST(ShaderUniformHash, ValueHashIsStaleUntilRecalculated) {
  ShaderUniform u("Gain", 2.0f);
  EXPECT_EQ(u.ValueHash, 0u) << "a fresh uniform is not hashed";
  u.CalculateHash();
  uint64_t two = u.ValueHash;
  u.FloatValue = 3.0f;
  EXPECT_EQ(u.ValueHash, two);
  u.CalculateHash();
  EXPECT_NE(u.ValueHash, two);

  ShaderUniform copy = u.CopyPolite();
  EXPECT_EQ(copy.ValueHash, 0u);
  EXPECT_EQ(copy.FloatValue, 3.0f);
  EXPECT_EQ(copy.NameHash, std::hash<std::string>{}("Gain"));
}

TEST(UniformBuffer, SetterReplacesTheEntryWithAFreshOneOfItsKind) {
  UniformBuffer buffer;
  buffer.SetFloat("X", 4.0f);
  buffer.CalculateHash();
  buffer.SetVector("X", glm::vec3(1, 2, 3));
  ASSERT_EQ(buffer.Uniforms.size(), 1u);
  const ShaderUniform& entry = buffer.Uniforms.at("X");
  EXPECT_EQ(entry.Type, TypeVector3);
  EXPECT_EQ(entry.FloatValue, 0.0f) << "other value fields return to their defaults";
  EXPECT_EQ(entry.Vector3Value, glm::vec3(1, 2, 3));
  EXPECT_EQ(entry.ValueHash, 0u);
  EXPECT_EQ(entry.NameHash, std::hash<std::string>{}("X"));
}

TEST(UniformBuffer, IngestKeepsBothHashesAndReplacesTheType) {
  UniformBuffer buffer;
  buffer.SetFloat("Y", 1.0f);
  ShaderUniform hashed("Y", glm::vec2(3, 4));
  hashed.CalculateHash();
  buffer.Ingest(hashed);
  ASSERT_EQ(buffer.Uniforms.size(), 1u);
  EXPECT_EQ(buffer.Uniforms.at("Y").Type, TypeVector2);
  EXPECT_EQ(buffer.Uniforms.at("Y").ValueHash, hashed.ValueHash);
  EXPECT_EQ(buffer.Uniforms.at("Y").NameHash, hashed.NameHash);
}

TEST(UniformBuffer, BufferHashCombinesEntryHashes) {
  UniformBuffer empty;
  empty.CalculateHash();
  EXPECT_EQ(empty.Hash, 0u);

  UniformBuffer a, b;
  for (UniformBuffer* buffer : {&a, &b}) {
    buffer->SetFloat("Exposure", 1.5f);
    buffer->SetVector("Tint", glm::vec4(1, 0.5f, 0.25f, 1));
    buffer->SetMatrix4("_WorldToView", glm::mat4(3.0f));
    buffer->CalculateHash();
  }
  for (const auto& [name, entry] : a.Uniforms) EXPECT_EQ(entry.ValueHash, b.Uniforms.at(name).ValueHash);

  UniformBuffer one;
  one.SetFloat("Only", 2.0f);
  one.CalculateHash();
  EXPECT_EQ(one.Hash, HashCombine(0, one.Uniforms.at("Only").ValueHash));
}
