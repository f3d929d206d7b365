// Guards the comma-list readers of asset text: getline-like splitting, the
// standard readers' leniency per piece, and failure reported, never thrown.
#include <gtest/gtest.h>

#include "engine/TextHelpers.h"

using namespace KestorEngine;

using Pieces = std::vector<std::string>;

TEST(Split, ReadsPiecesAsGetlineWould) {
  EXPECT_EQ(split("a,,b"), (Pieces{"a", "", "b"}));
  EXPECT_EQ(split("a,b,"), (Pieces{"a", "b"}));
  EXPECT_EQ(split(""), Pieces{});
  EXPECT_EQ(split(","), Pieces{""});
  EXPECT_EQ(split(",a"), (Pieces{"", "a"}));
  EXPECT_EQ(split("a,,"), (Pieces{"a", ""}));
  EXPECT_EQ(split(" a , b"), (Pieces{" a ", " b"})) << "pieces are not trimmed";
}

TEST(Vectors, ReadTheFirstPiecesWithSpacesAllowed) {
  EXPECT_EQ(getVec3(" 1, 2 ,3"), glm::vec3(1, 2, 3));
  EXPECT_EQ(getVec4("1,0,0,0,9"), glm::vec4(1, 0, 0, 0)) << "extra pieces are ignored";
  EXPECT_EQ(getVec2("0.5e1,-2,"), glm::vec2(5, -2));
  EXPECT_FLOAT_EQ(getFloat(" 2.5m"), 2.5f);
}

TEST(Vectors, CheckedFormsRejectShortOrBadListsAndKeepTheTarget) {
  const glm::vec3 before(7, 8, 9);
  for (const char* text : {"1,2", "1,,3", "1,x,3", "", ",1,2,3"}) {
    glm::vec3 out = before;
    EXPECT_FALSE(TryGetVec3(text, out)) << text;
    EXPECT_EQ(out, before) << text;
  }
  glm::vec4 four(0);
  EXPECT_FALSE(TryGetVec4("1,2,3", four));
  EXPECT_TRUE(TryGetVec4("1,2,3,4", four));
  EXPECT_EQ(four, glm::vec4(1, 2, 3, 4));
}

TEST(Vectors, PlainFormsFallBackInsteadOfThrowing) {
  EXPECT_EQ(getVec3("1,2"), glm::vec3(0));
  EXPECT_EQ(getVec3("oops", glm::vec3(1)), glm::vec3(1));
  EXPECT_FLOAT_EQ(getFloat("abc"), 0.0f);
  EXPECT_FLOAT_EQ(getFloat("", 3.0f), 3.0f);
}

TEST(NumberLists, ConvertEveryPieceOrNothing) {
  EXPECT_EQ(splitToFloat("1.5, 2,3,"), (std::vector<float>{1.5f, 2, 3}));
  EXPECT_EQ(splitToUint("0,4294967295"), (std::vector<uint32_t>{0, 4294967295u}));
  EXPECT_EQ(splitToInt("-1,2x,3"), (std::vector<int32_t>{-1, 2, 3})) << "trailing text ignored";

  // One bad piece would shift every later value: the whole list is refused.
  EXPECT_TRUE(splitToUint("1,-2,3").empty());
  EXPECT_TRUE(splitToInt("1,,3").empty());
  EXPECT_TRUE(splitToFloat("1,2,1e999").empty());

  std::vector<float> kept{4};
  EXPECT_FALSE(TrySplitToFloat("1,x", kept));
  EXPECT_EQ(kept, std::vector<float>{4});
  EXPECT_TRUE(TrySplitToFloat("", kept));
  EXPECT_TRUE(kept.empty()) << "an empty text is an empty list, not an error";
}
