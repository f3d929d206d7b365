#pragma once
// Runs a piece of work in a child process held to a memory and a time
// limit, so that whatever the work meets (a library allocating gigabytes
// for a tiny file, a parser that never ends or overflows its stack) costs
// the caller one line, not the process. The work's text comes back through
// a pipe. POSIX only (fork); the caller may hold threads, as long as the
// work touches nothing those threads lock (the engine's GL driver).
#include <cstddef>
#include <functional>
#include <string>

namespace KestorTools {

struct ChildLimits {
  // Address space the work may add to what the process already maps. Not
  // enforced in builds with AddressSanitizer, whose shadow memory spans
  // terabytes of address space.
  size_t MemoryMiB = 4096;
  double Seconds = 300.0;
};

struct ChildOutcome {
  enum class End {
    Done,        // the work returned; Status is its result
    OutOfMemory, // an allocation failed at the limit
    OutOfTime,   // stopped at the time limit
    Crashed,     // ended by Signal, or without its result
    CannotStart, // no child process (the system said no)
  };
  End Ended = End::CannotStart;
  int Status = 0;
  int Signal = 0;
  std::string Output;  // what the work wrote into its text
};

// `work` fills its text and returns a status; a std::bad_alloc escaping it
// ends as OutOfMemory. The child ends with _exit: the caller's buffered
// output and static objects are the caller's alone.
ChildOutcome RunInChild(const ChildLimits& limits, const std::function<int(std::string& output)>& work);

}  // namespace KestorTools
