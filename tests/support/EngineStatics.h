#pragma once
// Systems' Attach calls append to static callback lists, and systems keep
// their own lists and flags in statics: fixtures that attach systems start
// from what a fresh process has, so a test binary also passes run as one
// process. Thing ids are not freed: a fresh id has fresh component fields.
#include "engine/Component.h"
#include "engine/Thing.h"

namespace KestorTest {

// Drops every release callback and every added/removed callback of the
// given component types.
template <typename... Types>
void ForgetFollowers() {
  KestorEngine::Thing::HereItsFunc.clear();
  ((KestorEngine::ComponentHandler<Types>::GoodYumidk.clear(),
    KestorEngine::ComponentHandler<Types>::FoodGoSad.clear()),
   ...);
}

// Lets a system follow the given component types, as its Attach would:
// `added` and `removed` run when one of them is added to or removed from a
// Thing.
template <typename... Types, typename Added, typename Removed>
void Follow(Added added, Removed removed) {
  ((KestorEngine::ComponentHandler<Types>::GoodYumidk.push_back(added),
    KestorEngine::ComponentHandler<Types>::FoodGoSad.push_back(removed)),
   ...);
}

}  // namespace KestorTest
