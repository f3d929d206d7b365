#include "gui/Subprocess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace KestorEngine {
namespace Subprocess {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindProgram(const std::string& name, const std::string& searchPath) {
  if (name.empty()) return "";
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : "";
  size_t start = 0;
  while (start <= searchPath.size()) {
    size_t end = searchPath.find(':', start);
    if (end == std::string::npos) end = searchPath.size();
    // An empty PATH entry means the current directory.
    std::string folder = end > start ? searchPath.substr(start, end - start) : ".";
    std::string candidate = folder + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return "";
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  return FindProgram(name, path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
}

bool Run(const std::string& program, const std::vector<std::string>& args, std::string& output,
         int& exitStatus, Capture capture) {
  output.clear();
  exitStatus = -1;
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The child's standard output becomes the pipe; dup2 clears close-on-exec
  // on the copy, while both original ends close at exec.
  if (capture == Capture::Errors) {
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  }

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t child = 0;
  int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (spawned != 0) {
    close(pipeEnds[0]);
    return false;
  }

  // Read to the end so the child never blocks on a full pipe.
  char chunk[4096];
  for (;;) {
    ssize_t got = read(pipeEnds[0], chunk, sizeof chunk);
    if (got > 0) {
      output.append(chunk, static_cast<size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  close(pipeEnds[0]);

  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return true;
  }
  exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

}  // namespace Subprocess
}  // namespace KestorEngine
