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

}  // namespace KestorTest
