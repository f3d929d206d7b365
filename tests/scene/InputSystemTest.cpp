// Guards the input pump with events pushed into SDL's real queue: which
// records and actions a frame gets and in what order, the per-frame pointer
// values, modifier normalisation, Shutter on resize, and quitting on Escape
// or a close request only after the pass has finished.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUISystem.h"
#include "scene/InputSystem.h"
#include "scene/Physics.h"
#include "scene/Transform.h"
#include "support/EngineStatics.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using IS = KestorEngine::InputSystem;

namespace {

class InputPump : public ::testing::Test {
 protected:
  void SetUp() override {
    // The event queue needs no display.
    ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    // SDL filters text input until a window system turns it on.
    SDL_EventState(SDL_TEXTINPUT, SDL_ENABLE);
    KestorTest::ForgetFollowers<Clickable, Collider, Transform>();
    IS::InputMappingFrom.clear();
    IS::InputMappingTo.clear();
    IS::ClickableThings.clear();
    engine.PrepareStageLists();
    IS::Attach(&engine);
    KestorTest::CaptureStdout quiet;
    engine.StartList[15]();
  }

  void Push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); }
  void Key(SDL_Scancode code, Uint16 mod = 0, Uint32 type = SDL_KEYDOWN) {
    SDL_Event e{};
    e.type = type;
    e.key.type = type;
    e.key.keysym.scancode = code;
    e.key.keysym.mod = mod;
    Push(e);
  }
  void Button(Uint8 button, Uint32 type, int x, int y, Uint8 clicks = 1) {
    SDL_Event e{};
    e.type = type;
    e.button.type = type;
    e.button.button = button;
    e.button.clicks = clicks;
    e.button.x = x;
    e.button.y = y;
    Push(e);
  }
  void Wheel(int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.x = x;
    e.wheel.y = y;
    Push(e);
  }
  void Motion(int dx, int dy, int x = 0, int y = 0) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.xrel = dx;
    e.motion.yrel = dy;
    e.motion.x = x;
    e.motion.y = y;
    Push(e);
  }
  void Window(Uint8 what, int a, int b) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = what;
    e.window.data1 = a;
    e.window.data2 = b;
    Push(e);
  }
  void Pump() { engine.UpdateList[10](); }

  // The frame's list as action names, raw records as "<kind>".
  static std::vector<std::string> Names() {
    static const std::pair<const InputEvent*, const char*> actions[] = {
        {&IS::PossibleActionClick, "PossibleActionClick"}, {&IS::ActionClick, "ActionClick"},
        {&IS::ContextClick, "ContextClick"},               {&IS::LateContextClick, "LateContextClick"},
        {&IS::DeleteClip, "DeleteClip"},                   {&IS::DeleteEffect, "DeleteEffect"},
        {&IS::CopyEffect, "CopyEffect"},                   {&IS::CopyClip, "CopyClip"},
        {&IS::Undo, "Undo"},                               {&IS::Redo, "Redo"},
        {&IS::TimelineScroll, "TimelineScroll"},           {&IS::WindowResize, "WindowResize"},
        {&IS::TextInput, "TextInput"},                     {&IS::DropFile, "DropFile"},
        {&IS::ActionHold, "ActionHold"},                   {&IS::TrimClipStart, "TrimClipStart"},
        {&IS::SetClipStart, "SetClipStart"},               {&IS::NewProject, "NewProject"},
        {&IS::NewTimeline, "NewTimeline"},                 {&IS::TextInputBackspace, "TextInputBackspace"}};
    std::vector<std::string> names;
    for (const InputEvent& e : IS::InputEvents) {
      std::string name = "<" + std::to_string(e.kind) + ">";
      for (auto& [action, actionName] : actions) {
        if (e == *action) name = actionName;
      }
      names.push_back(name);
    }
    return names;
  }

  KestorEngineFlyHahaJk engine;
};

using List = std::vector<std::string>;

}  // namespace

TEST_F(InputPump, AnEmptyFrameClearsTheLastFramesValues) {
  Motion(5, 6);
  Wheel(0, 1);
  Key(SDL_SCANCODE_H);
  Pump();
  EXPECT_FALSE(IS::InputEvents.empty());
  Pump();
  EXPECT_TRUE(IS::InputEvents.empty());
  EXPECT_EQ(IS::mouseMovement, glm::vec2(0));
  EXPECT_EQ(IS::mouseScroll, glm::vec2(0));
}

TEST_F(InputPump, AClickGivesRecordsThenActionsInOrderWithThePosition) {
  Button(SDL_BUTTON_LEFT, SDL_MOUSEBUTTONDOWN, 30, 40);
  Button(SDL_BUTTON_LEFT, SDL_MOUSEBUTTONUP, 31, 42);
  Button(SDL_BUTTON_LEFT, SDL_MOUSEBUTTONDOWN, 31, 42, 2);  // second press of a double click
  Button(SDL_BUTTON_RIGHT, SDL_MOUSEBUTTONDOWN, 1, 2);
  Pump();
  EXPECT_EQ(Names(), (List{"<2>", "PossibleActionClick", "<2>", "ActionClick", "<2>", "<2>", "ContextClick"}));
  ASSERT_EQ(IS::InputEvents.size(), 7u);
  EXPECT_EQ(IS::InputEvents[1].pos, glm::ivec2(30, 40));
  EXPECT_EQ(IS::InputEvents[3].pos, glm::ivec2(31, 42));
  EXPECT_EQ(IS::InputEvents[6].pos, glm::ivec2(1, 2));
}

TEST_F(InputPump, KeysMatchTheirNormalisedModifiersWhateverTheLockKeys) {
  Key(SDL_SCANCODE_DELETE);
  Key(SDL_SCANCODE_C, KMOD_LCTRL);
  Key(SDL_SCANCODE_Z, KMOD_RCTRL);                 // right Ctrl counts as Ctrl
  Key(SDL_SCANCODE_Z, KMOD_LCTRL | KMOD_RSHIFT);   // Redo, not Undo
  Key(SDL_SCANCODE_Z, KMOD_LCTRL | KMOD_NUM);      // Num Lock on: still Undo
  Key(SDL_SCANCODE_BACKSPACE, KMOD_CAPS | KMOD_SCROLL);
  Key(SDL_SCANCODE_LEFTBRACKET, KMOD_RALT);
  Key(SDL_SCANCODE_N, KMOD_LCTRL | KMOD_LALT);
  Key(SDL_SCANCODE_DELETE, 0, SDL_KEYUP);          // releases are not recorded
  Pump();
  EXPECT_EQ(Names(), (List{"<1>", "DeleteClip", "DeleteEffect", "<1>", "CopyEffect", "CopyClip", "<1>", "Undo",
                            "<1>", "Redo", "<1>", "Undo", "<1>", "TextInputBackspace", "<1>", "TrimClipStart",
                            "<1>", "NewProject"}));
  EXPECT_EQ(IS::InputEvents[3].key.keysym.mod, KMOD_CTRL) << "both Ctrl bits are set on the record";
  EXPECT_EQ(IS::InputEvents[4].pos, glm::ivec2(0)) << "key actions are plain copies";
}

TEST_F(InputPump, WheelPatternsMatchOnEitherAxisAndMotionAddsUpOverTheFrame) {
  Motion(3, 4, 103, 104);
  Wheel(0, 1);   // x = 0 and y = 1: both patterns
  Wheel(2, 5);   // neither
  Motion(-7, 9, 96, 113);
  Pump();
  EXPECT_EQ(Names(), (List{"<5>", "TimelineScroll", "TimelineScroll", "<5>"}));
  EXPECT_EQ(IS::InputEvents[1].pos, glm::ivec2(0, 1));
  // A slow frame holds many events: none of them may be lost.
  EXPECT_EQ(IS::mouseMovement, glm::vec2(-4, 13));
  EXPECT_EQ(IS::mouseScroll, glm::vec2(2, 6));
  EXPECT_EQ(IS::mousePos, glm::vec2(96, 113)) << "the pointer is where the frame's last event left it";

  Button(SDL_BUTTON_LEFT, SDL_MOUSEBUTTONDOWN, 50, 60);
  Pump();
  EXPECT_EQ(IS::mousePos, glm::vec2(50, 60));
}

TEST_F(InputPump, ResizeUpdatesShutterAfterItsActionAndOtherWindowEventsDoNot) {
  Shutter::Width(1280);
  Shutter::Height(720);
  Window(SDL_WINDOWEVENT_MOVED, 50, 60);
  Pump();
  EXPECT_EQ(Names(), (List{"<3>"}));
  EXPECT_EQ(Shutter::Width(), 1280.0f);

  Window(SDL_WINDOWEVENT_SIZE_CHANGED, 800, 0);  // minimised to zero height
  Pump();
  EXPECT_EQ(Names(), (List{"<3>", "WindowResize"}));
  EXPECT_EQ(IS::InputEvents[1].pos, glm::ivec2(800, 0));
  EXPECT_EQ(Shutter::Width(), 800.0f);
  EXPECT_EQ(Shutter::Height(), 0.0f);
}

TEST_F(InputPump, TextAndDroppedFilesTravelWithTheirActions) {
  SDL_Event text{};
  text.type = SDL_TEXTINPUT;
  std::strcpy(text.text.text, "é!");
  Push(text);
  SDL_Event drop{};
  drop.type = SDL_DROPFILE;
  drop.drop.file = SDL_strdup("levels/street.xml");
  Push(drop);
  SDL_Event dropText{};
  dropText.type = SDL_DROPTEXT;
  dropText.drop.file = SDL_strdup("ignored");  // must still be freed
  Push(dropText);
  Pump();
  EXPECT_EQ(Names(), (List{"<6>", "TextInput", "<4>", "DropFile"}));
  EXPECT_STREQ(IS::InputEvents[1].textInput.text, "é!");
  EXPECT_EQ(IS::InputEvents[2].text, "levels/street.xml");
  EXPECT_EQ(IS::InputEvents[3].text, "levels/street.xml");
  EXPECT_EQ(IS::InputEvents[2].drop.file, nullptr) << "SDL's copy is gone; only the text remains";
}

TEST_F(InputPump, HoldingTheLeftButtonAddsActionHoldLastEveryFrame) {
  IS::BeginFrame({5, 5});
  IS::EndFrame(SDL_BUTTON_LMASK);
  EXPECT_EQ(Names(), (List{"ActionHold"}));

  IS::BeginFrame({5, 5});
  SDL_Event up{};
  up.type = SDL_MOUSEBUTTONDOWN;
  up.button.button = SDL_BUTTON_RIGHT;
  up.button.clicks = 1;
  IS::Receive(up, &engine);
  IS::EndFrame(SDL_BUTTON_LMASK | SDL_BUTTON_RMASK);
  EXPECT_EQ(Names(), (List{"<2>", "ContextClick", "ActionHold"}));

  IS::BeginFrame({0, 0});
  IS::EndFrame(SDL_BUTTON_RMASK);
  EXPECT_TRUE(IS::InputEvents.empty());
}

TEST_F(InputPump, EscapeAndCloseQuitOnlyAfterThePassAndTheQueue) {
  std::vector<std::string> ran;
  engine.UpdateList[20] = [&] {
    ran.push_back("later stage");
    return std::string();
  };
  Key(SDL_SCANCODE_ESCAPE);
  Button(SDL_BUTTON_LEFT, SDL_MOUSEBUTTONUP, 1, 1);
  engine.RunGame();  // returns after one pass
  EXPECT_FALSE(engine.Running);
  EXPECT_EQ(ran, std::vector<std::string>{"later stage"});
  EXPECT_EQ(Names(), (List{"<1>", "<2>", "ActionClick"})) << "the rest of the queue is still drained";

  engine.Running = true;
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  Push(quit);
  engine.RunGame();
  EXPECT_FALSE(engine.Running);
  EXPECT_EQ(ran.size(), 2u);
  EXPECT_TRUE(IS::InputEvents.empty()) << "a close request leaves no record";
}

TEST_F(InputPump, ClickableThingsNeedAllThreeComponentsWhateverTheOrder) {
  Thing a = Thing::Gimme(), b = Thing::Gimme();
  ComponentHandler<Collider>::Gimmoo(a);
  ComponentHandler<Clickable>::Gimmoo(a);
  EXPECT_TRUE(IS::ClickableThings.empty());
  ComponentHandler<Transform>::Gimmoo(a);
  ComponentHandler<Transform>::Gimmoo(b);
  ComponentHandler<Clickable>::Gimmoo(b);
  ComponentHandler<Collider>::Gimmoo(b);
  EXPECT_EQ(IS::ClickableThings, (std::vector<Thing>{a, b}));

  // Releasing a Thing removes each followed component; the repeated removed
  // callbacks change nothing more.
  Thing::HereItsBunk(a);
  EXPECT_EQ(IS::ClickableThings, std::vector<Thing>{b});
  ComponentHandler<Collider>::HereItsBunk(b);
  EXPECT_TRUE(IS::ClickableThings.empty());
}
