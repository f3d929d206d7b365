#pragma once
// A hidden SDL window with an OpenGL 4.3 core context, shared by every GL
// test of a process. Keep render targets small: CI renders on the CPU.
#include <gtest/gtest.h>

struct SDL_Window;

namespace KestorTest {

// Creates the window and context on first use and makes it current.
// Returns false (with the reason printed) when no context can be had.
bool EnsureGLContext();
SDL_Window* TestWindow();

// Fixture for tests that call GL: fails the test on any GL error, whether it
// surfaced through the engine's error checks or the driver's debug output.
class GLTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // For tests that provoke errors on purpose.
  void ForgetGLErrors();
  // Errors the driver's debug output reported since the last forget.
  static unsigned long DriverErrorCount();
};

}  // namespace KestorTest
