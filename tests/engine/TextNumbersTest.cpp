// Guards the checked number readers: the standard readers' leniency, without
// their exceptions.
#include <gtest/gtest.h>

#include "engine/TextNumbers.h"

using namespace KestorEngine;

TEST(TextNumbers, AcceptWhatTheStandardReadersAccept) {
  int32_t i = 0;
  EXPECT_TRUE(TryParseInt("  -12xyz", i));
  EXPECT_EQ(i, -12);
  uint32_t u = 0;
  EXPECT_TRUE(TryParseUint(" 4000000000", u));
  EXPECT_EQ(u, 4000000000u);
  float f = 0;
  EXPECT_TRUE(TryParseFloat(" 2.5e1,", f));
  EXPECT_FLOAT_EQ(f, 25.0f);
}

TEST(TextNumbers, RejectWhatWouldThrowOrWrap) {
  int32_t i = 5;
  EXPECT_FALSE(TryParseInt("", i));
  EXPECT_FALSE(TryParseInt("abc", i));
  EXPECT_FALSE(TryParseInt("3000000000", i));
  EXPECT_EQ(i, 5) << "a failed read leaves the target alone";
  uint32_t u = 0;
  EXPECT_FALSE(TryParseUint("-1", u));
  EXPECT_FALSE(TryParseUint("99999999999", u));
  float f = 0;
  EXPECT_FALSE(TryParseFloat(" ", f));
  EXPECT_FALSE(TryParseFloat("1e999", f));
  EXPECT_FALSE(TryParseFloat(",1", f));
}
