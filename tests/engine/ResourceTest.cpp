// Guards the named resource cache's reference counting: sharing by name,
// deletion at the last handle, reload, copy/move/assignment rules and the
// ownership contract of the adopting Make.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Resource.h"

using namespace KestorEngine;

namespace {

struct Crate {
  Crate() : name("(made)") { ++made; }
  explicit Crate(std::string loadedName) : name(std::move(loadedName)) { ++loaded; }
  ~Crate() { ++deleted; }
  std::string name;
  static inline int loaded = 0;
  static inline int made = 0;
  static inline int deleted = 0;
};

// Loads a crowd of siblings from inside its own loading constructor, so the
// cache's maps grow (and rehash) while a load is under way.
struct Nest {
  explicit Nest(std::string name) {
    if (name != "root") return;
    for (int i = 0; i < 64; ++i) children.push_back(Resources<Nest>::Get("child" + std::to_string(i)));
  }
  std::vector<Resource<Nest>> children;
};

class ResourceTest : public ::testing::Test {
 protected:
  void SetUp() override { Crate::loaded = Crate::made = Crate::deleted = 0; }
  void TearDown() override {
    EXPECT_TRUE(Resources<Crate>::Res().empty()) << "a test leaked a handle";
    EXPECT_TRUE(Resources<Crate>::ResCount().empty());
  }
};

}  // namespace

TEST_F(ResourceTest, OneObjectPerNameSharedByEveryHandle) {
  Resource<Crate> a = Resources<Crate>::Get("X");
  Resource<Crate> b = Resources<Crate>::Get("X");
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->name, "X");
  EXPECT_EQ(Crate::loaded, 1);
  EXPECT_EQ(Resources<Crate>::Count("X"), 2);

  Resource<Crate> lower = Resources<Crate>::Get("x");
  EXPECT_NE(lower, a) << "names are compared byte-wise";
  EXPECT_EQ(Crate::loaded, 2);
}

TEST_F(ResourceTest, LastHandleDeletesAndTheNextGetLoadsAgain) {
  {
    Resource<Crate> a = Resources<Crate>::Get("X");
    Resource<Crate> b = Resources<Crate>::Get("X");
    b = Resource<Crate>();
    EXPECT_EQ(Crate::deleted, 0);
    EXPECT_EQ(Resources<Crate>::Count("X"), 1);
  }
  EXPECT_EQ(Crate::deleted, 1);
  EXPECT_EQ(Resources<Crate>::Res().count("X"), 0u);
  EXPECT_EQ(Resources<Crate>::ResCount().count("X"), 0u);

  Resource<Crate> again = Resources<Crate>::Get("X");
  EXPECT_EQ(Crate::loaded, 2);
  EXPECT_EQ(Resources<Crate>::Count("X"), 1);
}

TEST_F(ResourceTest, CopiesAndAssignmentsKeepTheCountsRight) {
  Resource<Crate> a = Resources<Crate>::Get("X");
  Resource<Crate> copy(a);
  EXPECT_EQ(Resources<Crate>::Count("X"), 2);

  Resource<Crate>& self = a;
  a = self;
  a = copy;  // another handle to the same object
  EXPECT_EQ(Resources<Crate>::Count("X"), 2);

  Resource<Crate> b = Resources<Crate>::Get("Y");
  copy = Resource<Crate>();
  EXPECT_EQ(Resources<Crate>::Count("X"), 1);
  a = b;  // a held the last reference to "X"
  EXPECT_EQ(Crate::deleted, 1);
  EXPECT_EQ(Resources<Crate>::Res().count("X"), 0u);
  EXPECT_EQ(Resources<Crate>::Count("Y"), 2);
  EXPECT_EQ(a->name, "Y");
  EXPECT_EQ(a.Name(), "Y");

  Resource<Crate> empty;
  empty = a;
  EXPECT_EQ(Resources<Crate>::Count("Y"), 3);
}

TEST_F(ResourceTest, MovesHandTheReferenceOverWithoutCounting) {
  Resource<Crate> a = Resources<Crate>::Get("X");
  Resource<Crate> moved(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(Resources<Crate>::Count("X"), 1);

  Resource<Crate> other = Resources<Crate>::Get("Y");
  other = std::move(moved);  // drops "Y", takes over "X"
  EXPECT_EQ(Crate::deleted, 1);
  EXPECT_EQ(Resources<Crate>::Count("X"), 1);

  std::vector<Resource<Crate>> list;
  for (int i = 0; i < 100; ++i) list.push_back(other);  // reallocates many times
  EXPECT_EQ(Resources<Crate>::Count("X"), 101);
  list.clear();
  EXPECT_EQ(Resources<Crate>::Count("X"), 1);
}

TEST_F(ResourceTest, EmptyHandlesHoldNothing) {
  {
    Resource<Crate> empty;
    Resource<Crate> copy(empty);
    copy = empty;
    EXPECT_FALSE(copy);
    EXPECT_EQ(copy.Object(), nullptr);
  }
  EXPECT_EQ(Resources<Crate>::ResCount().count(""), 0u);
}

TEST_F(ResourceTest, MakeFillsANewNameWithAnEmptyObjectAndOnlyCountsAKnownOne) {
  Resource<Crate> made = Resources<Crate>::Make("Quad");
  EXPECT_EQ(made->name, "(made)");
  Resource<Crate> again = Resources<Crate>::Make("Quad");
  Resource<Crate> got = Resources<Crate>::Get("Quad");
  EXPECT_EQ(again, made);
  EXPECT_EQ(got, made);
  EXPECT_EQ(Crate::made, 1);
  EXPECT_EQ(Crate::loaded, 0);
  EXPECT_EQ(Resources<Crate>::Count("Quad"), 3);
}

TEST_F(ResourceTest, AdoptingMakeOwnsWhatItIsGivenInEveryCase) {
  Crate* given = new Crate("given");
  Resource<Crate> adopted = Resources<Crate>::Make("Glyph", given);
  EXPECT_EQ(adopted.Object(), given);

  // Already cached: the cached object wins and the offered one is deleted.
  Resource<Crate> second = Resources<Crate>::Make("Glyph", new Crate("spare"));
  EXPECT_EQ(second.Object(), given);
  EXPECT_EQ(Crate::deleted, 1);
  EXPECT_EQ(Resources<Crate>::Count("Glyph"), 2);

  // Offering the cached object itself must not delete it.
  Resource<Crate> third = Resources<Crate>::Make("Glyph", given);
  EXPECT_EQ(Crate::deleted, 1);
  EXPECT_EQ(third->name, "given");

  Resource<Crate> fromNull = Resources<Crate>::Make("Blank", nullptr);
  ASSERT_TRUE(fromNull);
  EXPECT_EQ(fromNull->name, "(made)");

  adopted = second = third = Resource<Crate>();
  EXPECT_EQ(Crate::deleted, 2) << "the adopted object is deleted with its last handle";
}

TEST_F(ResourceTest, LoadingConstructorMayUseTheSameCache) {
  {
    Resource<Nest> root = Resources<Nest>::Get("root");
    EXPECT_EQ(Resources<Nest>::Count("root"), 1);
    EXPECT_EQ(Resources<Nest>::Count("child63"), 1);
    EXPECT_EQ(root->children[5], Resources<Nest>::Get("child5"));
  }
  // Deleting the root released the children from inside a release.
  EXPECT_TRUE(Resources<Nest>::Res().empty());
  EXPECT_TRUE(Resources<Nest>::ResCount().empty());
}
