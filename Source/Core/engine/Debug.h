#pragma once
#include <string>

namespace KestorEngine {

namespace Debug {

// Writes the text without adding a newline and flushes, so progress lines are
// visible even when the process dies right after.
void Log(const std::string& text);

// Drains GL's error queue, printing one line per error against the caller's
// file tag and line. Errors are reported and counted; the run goes on.
void _CheckGLError(const char* file, int line);

// Errors seen by every GL error check since start (or the last reset). Tests
// assert that a normal run leaves this at zero.
unsigned long GLErrorCount();
void CountGLError();
void ResetGLErrorCount();

const char* GLErrorName(unsigned int code);

}  // namespace Debug

}  // namespace KestorEngine
