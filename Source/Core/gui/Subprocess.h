#pragma once
// Running an external program without a shell: the arguments go to the
// program exactly as given, so no text in them can start another command.
#include <string>
#include <vector>

namespace KestorEngine {
namespace Subprocess {

// The full path of `name` found on PATH (an executable regular file), or ""
// when there is none. A name containing '/' is checked as it is.
std::string FindProgram(const std::string& name, const std::string& searchPath);
std::string FindProgram(const std::string& name);

// Which of the program's streams Run collects; the other goes where the
// caller's goes (Errors: its standard output is thrown away).
enum class Capture { Output, Errors };

// Runs `program` (a path) with `args` (args[0] is the program's own name),
// waits for it and collects the stream `capture` names. False when it could
// not be started; `exitStatus` is the program's exit status (-1 when it died
// by a signal).
bool Run(const std::string& program, const std::vector<std::string>& args, std::string& output,
         int& exitStatus, Capture capture = Capture::Output);

}  // namespace Subprocess
}  // namespace KestorEngine
