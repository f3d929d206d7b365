#pragma once
// The hidden window with a GL 4.3 core context that GL benchmarks run in.

namespace KestorBench {

// Made once for the whole run; false when no context could be had (no
// display), in which case a benchmark should SkipWithError.
bool EnsureGLContext();

}  // namespace KestorBench
