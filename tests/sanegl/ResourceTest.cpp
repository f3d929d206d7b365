// Guards the handle counting rules on their own, without GL: one deletion
// after the last reference, whatever mix of copies, moves and assignments.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "sanegl/Resource.h"

namespace {

int destroyed = 0;

// A stand-in state object that can hold a handle to another one, as a
// vertex array holds its element buffer.
struct NodeState {
  ~NodeState() { ++destroyed; }
  unsigned object = 7;
  int id = 0;
  SaneGL::GLResource<NodeState> next;
};

class Node : public SaneGL::GLResource<NodeState> {
 public:
  Node() = default;
  Node(const SaneGL::GLResource<NodeState>& other) : GLResource(other) {}
  static Node Create() { return Node(Register(new NodeState)); }

 private:
  using GLResource::GLResource;
};

class ResourceTest : public ::testing::Test {
 protected:
  void SetUp() override { destroyed = 0; }
};

TEST_F(ResourceTest, CopiesAndAssignmentsDeleteOnceAfterTheLast) {
  {
    Node a = Node::Create();
    EXPECT_EQ(a.References(), 1);
    Node b(a);
    Node c;
    c = b;
    c = a;  // same object: no change
    c = c;
    EXPECT_EQ(a.References(), 3);
    b = Node();
    a = Node();
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(c.References(), 1);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST_F(ResourceTest, MovesTransferTheReferenceWithoutCounting) {
  Node a = Node::Create();
  int id = a.ResourceID();
  Node b(std::move(a));
  EXPECT_TRUE(a.Empty());
  EXPECT_EQ(b.References(), 1);
  std::vector<Node> many;
  for (int i = 0; i < 50; ++i) many.push_back(b);  // regrowth moves handles
  EXPECT_EQ(b.References(), 51);
  Node c = Node::Create();
  c = std::move(b);
  EXPECT_EQ(destroyed, 1) << "c's first object went when it was overwritten";
  EXPECT_EQ(c.ResourceID(), id);
  many.clear();
  EXPECT_EQ(c.References(), 1);
}

TEST_F(ResourceTest, IdsAreNeverReused) {
  int first = Node::Create().ResourceID();
  int second = Node::Create().ResourceID();
  EXPECT_GT(first, 0);
  EXPECT_GT(second, first);
  EXPECT_EQ(SaneGL::GLResources<NodeState>::Get().Res.count(first), 0u);
  EXPECT_EQ(destroyed, 2);
}

TEST_F(ResourceTest, AssigningAHandleOwnedByTheObjectBeingReleased) {
  Node head = Node::Create();
  head.Use()->next = Node::Create();
  int tail = head.Use()->next.ResourceID();
  // The old head is destroyed by this assignment, and with it the handle
  // being copied from.
  head = head.Use()->next;
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(head.ResourceID(), tail);
  EXPECT_EQ(head.References(), 1);
}

TEST_F(ResourceTest, EqualityIsByObject) {
  Node a = Node::Create();
  Node b(a);
  Node c = Node::Create();
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a != c);
  EXPECT_TRUE(Node() == Node());
  EXPECT_EQ(Node().glID(), 0u);
  EXPECT_EQ(a.glID(), 7u);
}

}  // namespace
