// Guards the retained widgets frame by frame with real camera rays into
// refitted colliders and synthetic clicks: the state machine across hover,
// press and release (also within one frame), leaving while clicked, clicks on
// nothing, slider values along their line, styles written once into the mesh
// renderer's uniforms, several cameras, and widgets missing parts.
#include <gtest/gtest.h>

#include <glm/gtc/quaternion.hpp>
#include <memory>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUISystem.h"
#include "render/Mesh.h"
#include "scene/Camera.h"
#include "scene/MeshRenderer.h"
#include "scene/Physics.h"
#include "scene/Transform.h"
#include "support/EngineStatics.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;

namespace {

enum { Idle = GUIState::GUIIdle, Hovered = GUIState::GUIHovered, Pressed = GUIState::GUIPressed,
       Active = GUIState::GUIActive, ActiveHovered = GUIState::GUIActiveHovered };

// A camera at the origin looking down -Z at an 800 x 600 drawable, widgets a
// few units in front of it. The host's registrations are made here as a host
// would make them.
class RetainedWidgets : public ::testing::Test {
 protected:
  void SetUp() override {
    KestorTest::ForgetFollowers<Collider, Transform, GUIState, Camera>();
    PhysicsSystem::CollidableThings.clear();
    TransformSystem::BasicallyEverything.clear();
    GUISystem::CameraThings.clear();
    GUISystem::GUIStates.clear();
    GUISystem::HoverGUIthing = GUISystem::ActiveGUIthing = Thing::GimmeDud();
    Shutter::Width(800.0f);
    Shutter::Height(600.0f);
    TransformSystem::Attach(&engine);
    KestorTest::Follow<Collider, Transform>(&PhysicsSystem::GoodYumidk, &PhysicsSystem::FoodGoSad);
    KestorTest::Follow<GUIState, Camera, Transform>(&GUISystem::GoodYumidk, &GUISystem::FoodGoSad);
    quad.BoundsMin = glm::vec3(-1, -1, 0);
    quad.BoundsMax = glm::vec3(1, 1, 0);
    bar.BoundsMin = glm::vec3(-1.5f, -0.3f, 0);
    bar.BoundsMax = glm::vec3(1.5f, 0.3f, 0);
    idle.TopColor = glm::vec4(0.1f);
    hover.TopColor = glm::vec4(0.2f);
    pressed.TopColor = glm::vec4(0.3f);
    active.TopColor = glm::vec4(0.4f);
    activeHover.TopColor = glm::vec4(0.5f);
    activeHover.OutlineThickness = 2.0f;
    camera = MakeCamera({0, 0, 0});
  }

  Thing MakeCamera(glm::vec3 position) {
    Thing t = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(t);
    ComponentHandler<Transform>::Get(t)->Position = position;
    ComponentHandler<Camera>::Gimmoo(t);
    Camera* c = ComponentHandler<Camera>::Get(t);
    c->FocalLength(24);
    c->UpdatePerspectiveMatrix();
    return t;
  }

  // A widget with every part: transform, collider, mesh renderer, state.
  Thing MakeWidget(glm::vec3 position, Mesh* mesh, bool renderer = true) {
    Thing t = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(t);
    ComponentHandler<Transform>::Get(t)->Position = position;
    ComponentHandler<Collider>::Gimmoo(t);
    ComponentHandler<Collider>::Get(t)->Mesh = mesh;
    if (renderer) {
      CaptureStdout quiet;  // the fallback material's loading lines
      ComponentHandler<MeshRenderer>::Gimmoo(t);
    }
    ComponentHandler<GUIState>::Gimmoo(t);
    GUIState* s = ComponentHandler<GUIState>::Get(t);
    s->IdleStyle = &idle;
    s->HoverStyle = &hover;
    s->PressedStyle = &pressed;
    s->ActiveStyle = &active;
    s->ActiveHoverStyle = &activeHover;
    return t;
  }
  Thing MakeButton(glm::vec3 position) {
    Thing t = MakeWidget(position, &quad);
    ComponentHandler<GUIButton>::Gimmoo(t);
    ComponentHandler<GUIButton>::Get(t)->OnClick.push_back([this](Thing w) { clicked.push_back(w); });
    return t;
  }

  // The pointer over a world point, as the input pump would report it.
  glm::vec2 PointerAt(glm::vec3 world, Thing through) {
    Transform* t = ComponentHandler<Transform>::Get(through);
    TransformSystem::MAKETHEMATERIALREALITY(&engine);
    glm::vec2 s = ComponentHandler<Camera>::Get(through)->WorldPointToScreen(world, t->WorldInverse);
    return glm::vec2(s.x * Shutter::Width(), (1.0f - s.y) * Shutter::Height());
  }
  glm::vec2 PointerAt(glm::vec3 world) { return PointerAt(world, camera); }

  // One host frame: transforms, refit, then the widgets with these events.
  // A press or release made without a position happened where the pointer
  // ends the frame.
  void Frame(glm::vec2 pointer, std::vector<InputEvent> events = {}) {
    for (InputEvent& e : events) {
      if (e.pos == Unplaced) e.pos = glm::ivec2(glm::round(pointer));
    }
    InputSystem::mousePos = pointer;
    TransformSystem::MAKETHEMATERIALREALITY(&engine);
    PhysicsSystem::IsRealityTemporallyCoherentEverywhere(&engine);
    CaptureStdout quiet;  // the slider's value line
    GUISystem::IWillSupportALLUsecasestothenedoFtheWOrrlrllldd(&engine, events);
  }
  static int StateOf(Thing t) { return ComponentHandler<GUIState>::Get(t)->State; }
  static UniformMap& UniformsOf(Thing t) { return ComponentHandler<MeshRenderer>::Get(t)->Uniforms; }

  static InputEvent At(InputEvent action, glm::vec2 pos) {
    action.pos = glm::ivec2(glm::round(pos));  // SDL reports whole pixels
    return action;
  }
  static InputEvent Press(glm::vec2 at = glm::vec2(Unplaced)) { return At(InputSystem::PossibleActionClick, at); }
  static InputEvent Release(glm::vec2 at = glm::vec2(Unplaced)) { return At(InputSystem::ActionClick, at); }
  static inline const glm::ivec2 Unplaced{-1, -1};

  KestorEngineFlyHahaJk engine;
  Mesh quad, bar;
  GUIStyle idle, hover, pressed, active, activeHover;
  Thing camera;
  std::vector<Thing> clicked;
  const glm::vec2 nowhere{5.0f, 5.0f};  // top-left corner: empty space
};

}  // namespace

TEST_F(RetainedWidgets, HoverPressReleaseAndTheFramesAfter) {
  Thing button = MakeButton({0, 0, -5});
  const glm::vec2 over = PointerAt({0.5f, 0.5f, -5});

  Frame(nowhere);
  EXPECT_EQ(StateOf(button), Idle);
  EXPECT_TRUE(GUISystem::HoverGUIthing.IsDud());

  Frame(over);
  EXPECT_EQ(StateOf(button), Hovered);
  EXPECT_EQ(GUISystem::HoverGUIthing, button);

  Frame(over, {Press()});
  EXPECT_EQ(StateOf(button), Pressed);
  EXPECT_EQ(GUISystem::ActiveGUIthing, button);
  Frame(over);
  EXPECT_EQ(StateOf(button), Pressed) << "held while hovered";
  EXPECT_TRUE(clicked.empty());

  Frame(over, {Release()});
  EXPECT_EQ(StateOf(button), Active);
  ASSERT_EQ(clicked.size(), 1u);
  EXPECT_EQ(clicked[0], button);

  // Clicked and still under the pointer: active-hovered once, then hovered;
  // left while active-hovered, it stays active until hovered again.
  Frame(over);
  EXPECT_EQ(StateOf(button), ActiveHovered);
  Frame(nowhere);
  EXPECT_EQ(StateOf(button), Active);
  Frame(nowhere);
  EXPECT_EQ(StateOf(button), Active);
  Frame(over);
  EXPECT_EQ(StateOf(button), ActiveHovered);
  Frame(over);
  EXPECT_EQ(StateOf(button), Hovered);
  Frame(nowhere);
  EXPECT_EQ(StateOf(button), Idle);
  EXPECT_EQ(clicked.size(), 1u);

  Frame(over, {Press(), Release()});
  EXPECT_EQ(StateOf(button), Active) << "press and release in one frame";
  EXPECT_EQ(clicked.size(), 2u);
}

// In a slow frame the pointer moves on after the button events: each press
// and release hits what was under it when its own event happened.
TEST_F(RetainedWidgets, ClicksHitWhereTheirButtonEventsHappenedNotWhereThePointerEnds) {
  Thing button = MakeButton({0, 0, -5});
  Thing other = MakeButton({3, 0, -5});
  Thing slider = MakeWidget({0, -3, -5}, &bar);
  ComponentHandler<GUISlider>::Gimmoo(slider);
  GUISlider* s = ComponentHandler<GUISlider>::Get(slider);
  s->Start = {-1, -3, -5};
  s->End = {1, -3, -5};
  const glm::vec2 onButton = PointerAt({0, 0, -5}), onOther = PointerAt({3, 0, -5});

  Frame(onOther, {Press(onButton), Release(onButton)});
  ASSERT_EQ(clicked, std::vector<Thing>{button});
  EXPECT_EQ(StateOf(button), Active);
  EXPECT_EQ(StateOf(other), Hovered) << "hover follows the pointer where the frame leaves it";

  // Pressed over the button, released over nothing: no click.
  Frame(nowhere, {Press(onButton), Release(nowhere)});
  EXPECT_EQ(clicked.size(), 1u);
  EXPECT_TRUE(GUISystem::ActiveGUIthing.IsDud());

  // The slider takes its value from where it was clicked.
  Frame(onOther, {Release(PointerAt({0.5f, -3, -5}))});
  EXPECT_NEAR(s->Value, 0.75f, 2e-3f);
  EXPECT_EQ(GUISystem::HoverGUIthing, other);
}

TEST_F(RetainedWidgets, PressedThenDraggedOffAndReleasedOverNothing) {
  Thing button = MakeButton({0, 0, -5});
  Thing other = MakeButton({3, 0, -5});
  const glm::vec2 over = PointerAt({0, 0, -5});
  Frame(over, {Press()});
  EXPECT_EQ(StateOf(button), Pressed);

  // Moving onto another widget resets the pressed one.
  Frame(PointerAt({3, 0, -5}));
  EXPECT_EQ(StateOf(button), Idle);
  EXPECT_EQ(StateOf(other), Hovered);

  Frame(nowhere, {Release()});
  EXPECT_TRUE(clicked.empty());
  EXPECT_TRUE(GUISystem::ActiveGUIthing.IsDud()) << "a click on empty space makes nothing active";
  EXPECT_EQ(StateOf(button), Idle);
  EXPECT_EQ(StateOf(other), Idle);
}

TEST_F(RetainedWidgets, NearestWidgetAlongTheRayIsHovered) {
  Thing back = MakeButton({0, 0, -8});
  Thing front = MakeButton({0, 0, -4});
  Frame(PointerAt({0.2f, 0.2f, -4}));
  EXPECT_EQ(GUISystem::HoverGUIthing, front);
  EXPECT_EQ(StateOf(back), Idle);

  // A collider without a widget in front hides the widgets behind it.
  Thing wall = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(wall);
  ComponentHandler<Transform>::Get(wall)->Position = {0, 0, -2};
  ComponentHandler<Collider>::Gimmoo(wall);
  ComponentHandler<Collider>::Get(wall)->Mesh = &quad;
  Frame(PointerAt({0.2f, 0.2f, -4}));
  EXPECT_TRUE(GUISystem::HoverGUIthing.IsDud());
  EXPECT_EQ(StateOf(front), Idle);
}

TEST_F(RetainedWidgets, SliderValueFollowsTheClickAlongItsLine) {
  Thing slider = MakeWidget({2.5f, -2, -5}, &bar);
  ComponentHandler<GUISlider>::Gimmoo(slider);
  GUISlider* s = ComponentHandler<GUISlider>::Get(slider);
  s->Start = {1, -2, 7};  // z plays no part
  s->End = {4, -2, -9};
  int changes = 0;
  s->OnChange.push_back([&](Thing t) {
    EXPECT_EQ(t, slider);
    ++changes;
  });

  // Clicks land on whole pixels: half a pixel here is 0.0016 of the value.
  Frame(PointerAt({2.5f, -2, -5}), {Release()});
  EXPECT_NEAR(s->Value, 0.5f, 2e-3f);
  EXPECT_EQ(changes, 1);

  Frame(PointerAt({3.9f, -2.2f, -5}), {Release()});
  EXPECT_NEAR(s->Value, 0.9667f, 2e-3f);
  // Past either end of the line (the box reaches a little beyond the ends).
  s->End = {3, -2, -5};
  Frame(PointerAt({3.8f, -2, -5}), {Release()});
  EXPECT_EQ(s->Value, 1.0f);
  s->Start = {2, -2, -5};
  Frame(PointerAt({1.2f, -2, -5}), {Release()});
  EXPECT_EQ(s->Value, 0.0f);

  // Ends that coincide give no direction: the value stays.
  s->Value = 0.25f;
  s->End = s->Start;
  Frame(PointerAt({2.5f, -2, -5}), {Release()});
  EXPECT_EQ(s->Value, 0.25f);
  EXPECT_EQ(changes, 5);
}

TEST_F(RetainedWidgets, StylesAreWrittenIntoTheRenderersUniformsOncePerEntry) {
  Thing button = MakeButton({0, 0, -5});
  Thing bare = MakeWidget({3, 0, -5}, &quad, false);  // no mesh renderer
  const glm::vec2 over = PointerAt({0, 0, -5});

  Frame(nowhere);
  UniformMap& u = UniformsOf(button);
  ASSERT_EQ(u.size(), 7u);
  for (const char* name : {"BorderRadius", "TopColor", "BottomColor", "ContentColor", "OutlineColor", "GlowColor"}) {
    ASSERT_TRUE(u.count(name)) << name;
    EXPECT_EQ(u.at(name).Type, TypeVector4) << name;
    EXPECT_EQ(u.at(name).Name, name);
  }
  EXPECT_EQ(u.at("OutlineThickness").Type, TypeFloat);
  EXPECT_EQ(u.at("TopColor").Vector4Value, idle.TopColor);
  const ShaderUniform* entry = &u.at("TopColor");

  Frame(over, {Release()});
  EXPECT_EQ(u.at("TopColor").Vector4Value, active.TopColor);
  Frame(over);
  EXPECT_EQ(u.at("TopColor").Vector4Value, activeHover.TopColor);
  EXPECT_EQ(u.at("OutlineThickness").FloatValue, 2.0f);
  EXPECT_EQ(&u.at("TopColor"), entry) << "later frames overwrite the entries made in the first";
  ShaderUniform fresh("TopColor", activeHover.TopColor);
  fresh.CalculateHash();
  EXPECT_EQ(u.at("TopColor").ValueHash, fresh.ValueHash) << "a stale hash would pick the wrong variant";

  // The widget without a renderer still hovers and clicks.
  Frame(PointerAt({3, 0, -5}), {Release()});
  EXPECT_EQ(StateOf(bare), Active);
  EXPECT_EQ(StateOf(button), Active) << "left while active-hovered";
  EXPECT_EQ(u.at("TopColor").Vector4Value, active.TopColor);
}

TEST_F(RetainedWidgets, UnsetStylesShowTheIdleOneAndNoStyleLeavesTheLookAlone) {
  Thing button = MakeButton({0, 0, -5});
  GUIState* s = ComponentHandler<GUIState>::Get(button);
  s->HoverStyle = nullptr;
  Frame(PointerAt({0, 0, -5}));
  EXPECT_EQ(StateOf(button), Hovered);
  EXPECT_EQ(UniformsOf(button).at("TopColor").Vector4Value, idle.TopColor);

  Thing unstyled = MakeButton({3, 0, -5});
  GUIState* bare = ComponentHandler<GUIState>::Get(unstyled);
  bare->IdleStyle = bare->HoverStyle = bare->PressedStyle = bare->ActiveStyle = bare->ActiveHoverStyle = nullptr;
  Frame(PointerAt({3, 0, -5}), {Release()});
  EXPECT_EQ(StateOf(unstyled), Active);
  EXPECT_TRUE(UniformsOf(unstyled).empty());
}

TEST_F(RetainedWidgets, TheLastCameraInTheListDecidesTheHover) {
  Thing left = MakeButton({-3, 0, -5});
  Thing right = MakeButton({3, 0, -5});
  // The pointer lies over `left` for the first camera; the second camera,
  // moved to the right, sees `right` under the same pixel.
  const glm::vec2 pixel = PointerAt({-3, 0, -5});
  Frame(pixel);
  EXPECT_EQ(GUISystem::HoverGUIthing, left);
  Thing second = MakeCamera({6, 0, 0});
  Frame(pixel);
  EXPECT_EQ(GUISystem::HoverGUIthing, right);
  EXPECT_EQ(StateOf(left), Idle) << "reset when the second camera found another widget";
  EXPECT_EQ(StateOf(right), Hovered);

  // A camera that lost its transform is dropped; with no camera at all the
  // hover stays as it was.
  ComponentHandler<Transform>::HereItsBunk(second);
  Frame(pixel);
  EXPECT_EQ(GUISystem::HoverGUIthing, left);
  ComponentHandler<Camera>::HereItsBunk(camera);
  EXPECT_TRUE(GUISystem::CameraThings.empty());
  Frame(nowhere);
  EXPECT_EQ(GUISystem::HoverGUIthing, left);
}

TEST_F(RetainedWidgets, WidgetsMissingPartsAreSkipped) {
  Thing button = MakeButton({0, 0, -5});
  const glm::vec2 over = PointerAt({0, 0, -5});
  // A callback that removes its own button: the rest of the list is not run.
  ComponentHandler<GUIButton>::Get(button)->OnClick.insert(
      ComponentHandler<GUIButton>::Get(button)->OnClick.begin(),
      [](Thing t) { ComponentHandler<GUIButton>::HereItsBunk(t); });
  Frame(over, {Release()});
  EXPECT_TRUE(clicked.empty());
  EXPECT_EQ(StateOf(button), Active);

  // Without its state the Thing is a plain collider: it hovers nothing.
  ComponentHandler<GUIState>::HereItsBunk(button);
  Frame(over, {Press(), Release()});
  EXPECT_TRUE(GUISystem::HoverGUIthing.IsDud());
  EXPECT_TRUE(GUISystem::ActiveGUIthing.IsDud());

  // Without its transform it cannot be hit, and a zero-sized drawable gives
  // no ray rather than a NaN hit.
  ComponentHandler<GUIState>::Gimmoo(button);
  ComponentHandler<Transform>::HereItsBunk(button);
  Frame(over);
  EXPECT_TRUE(GUISystem::HoverGUIthing.IsDud());
  ComponentHandler<Transform>::Gimmoo(button);
  Shutter::Width(0.0f);
  Frame(over);
  EXPECT_TRUE(GUISystem::HoverGUIthing.IsDud());
}
