#include "ChildRun.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KESTOR_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTOR_ADDRESS_SANITIZER 1
#endif
#endif

namespace KestorTools {

namespace {

// Exit statuses of the child beyond the work's own (0 to 99).
constexpr int OutOfMemoryStatus = 101;
// What the child writes after its text: without it the child did not finish.
constexpr char EndMark[] = "\n#end\n";

#ifndef KESTOR_ADDRESS_SANITIZER
size_t MappedBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  statm >> pages;
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}
#endif

void Limit(const ChildLimits& limits) {
  // Dies with the caller rather than writing on for nobody.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
#ifndef KESTOR_ADDRESS_SANITIZER
  rlimit memory{};
  memory.rlim_cur = memory.rlim_max = MappedBytes() + (limits.MemoryMiB << 20);
  setrlimit(RLIMIT_AS, &memory);
#endif
  // A second line behind the caller's clock, in CPU seconds.
  rlimit cpu{};
  cpu.rlim_cur = cpu.rlim_max = static_cast<rlim_t>(std::ceil(limits.Seconds)) + 1;
  setrlimit(RLIMIT_CPU, &cpu);
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

[[noreturn]] void BeTheChild(int fd, const ChildLimits& limits, const std::function<int(std::string&)>& work) {
  Limit(limits);
  int status = 0;
  std::string output;
  try {
    status = work(output);
  } catch (const std::bad_alloc&) {
    _exit(OutOfMemoryStatus);
  } catch (...) {
    _exit(SIGABRT + 128);
  }
  WriteAll(fd, output + EndMark);
  close(fd);
  _exit(status);
}

}  // namespace

ChildOutcome RunInChild(const ChildLimits& limits, const std::function<int(std::string& output)>& work) {
  ChildOutcome outcome;
  int fds[2];
  if (pipe(fds) != 0) return outcome;
  // Unflushed text would be written twice: once by each process.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return outcome;
  }
  if (pid == 0) {
    close(fds[0]);
    BeTheChild(fds[1], limits, work);
  }
  close(fds[1]);

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration<double>(limits.Seconds);
  std::string text;
  bool late = false;
  char buffer[65536];
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      late = true;
      break;
    }
    pollfd wait{fds[0], POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (late) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }

  const size_t mark = text.size() >= sizeof EndMark - 1 ? text.size() - (sizeof EndMark - 1) : std::string::npos;
  const bool finished = mark != std::string::npos && text.compare(mark, std::string::npos, EndMark) == 0;
  if (late || (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)) {
    outcome.Ended = ChildOutcome::End::OutOfTime;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == OutOfMemoryStatus) {
    outcome.Ended = ChildOutcome::End::OutOfMemory;
  } else if (WIFEXITED(status) && finished) {
    outcome.Ended = ChildOutcome::End::Done;
    outcome.Status = WEXITSTATUS(status);
    outcome.Output = text.substr(0, mark);
  } else {
    outcome.Ended = ChildOutcome::End::Crashed;
    outcome.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return outcome;
}

}  // namespace KestorTools
