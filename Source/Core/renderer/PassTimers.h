#pragma once
// GPU time of every pass of the frame, from GL timer queries.
//
// Each pass is bracketed by Begin/End (one query open at a time, so passes do
// not nest). Queries are read back only once GL says their result is there:
// a frame's figures arrive a frame or two later and the pipeline never waits
// for them. When every query slot is still in flight, a frame goes untimed.
//
// On a GPU a figure is the time the GPU spent on the pass. On Mesa's llvmpipe
// it is the wall-clock span of the pass as the driver runs it (vertex work,
// compute dispatches, the rasteriser threads): the passes add up to about
// the frame's wall time, and a machine busy with other work makes every
// figure longer while the shares hold.
#include <string>
#include <vector>

#include <glm/vec2.hpp>

namespace KestorEngine {

class PassTimers {
 public:
  struct Figure {
    std::string Name;
    double TotalMs = 0.0;  // summed over every frame read back
    int Frames = 0;        // frames in which the pass ran
    double CpuMs = 0.0;    // process CPU over all threads, summed (CpuProbes only)
  };

  // Off: Begin and End do nothing (what is in flight is still read back).
  static inline bool Enabled = true;
  // On: every pass also waits for GL before and after it and counts the
  // process CPU it took (all threads, the driver's included) into CpuMs.
  // The waits cost the overlap between passes: for benchmarks only.
  static inline bool CpuProbes = false;

  // Starts timing the named pass, closing any pass still open.
  static void Begin(const char* name);
  static void End();
  // At the end of a frame: the frame's queries are complete, and whatever
  // earlier frames GL has finished is read back without waiting.
  static void FrameDone();

  // Every pass seen so far, in order of first appearance, with totals since
  // start. Take differences of two readings for an interval.
  static const std::vector<Figure>& Totals();
  // Milliseconds per frame of each pass over about the last second, and the
  // sum of them (what the panel shows).
  static const std::vector<Figure>& LastSecond();

  // The table of LastSecond (pass, ms, share) drawn with its top-right
  // corner at `topRight`, in GUI pixels; it is queued like any widget.
  static void DrawTable(glm::vec2 topRight);
  // The table's size in pixels for the current figures.
  static glm::vec2 TableSize();

  // Forgets every figure and query (a new GL context).
  static void Reset();

  // Reads back every completed frame, waiting for none; true when at least
  // one frame arrived.
  static bool Collect();
};

// Times a pass for the life of the scope.
class PassScope {
 public:
  explicit PassScope(const char* name) { PassTimers::Begin(name); }
  ~PassScope() { PassTimers::End(); }
  PassScope(const PassScope&) = delete;
  PassScope& operator=(const PassScope&) = delete;
};

}  // namespace KestorEngine
