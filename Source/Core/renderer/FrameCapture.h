#pragma once
// Runs a fixed number of frames and saves the last frame the program shows:
// the presented picture (GUI included) as a PNG, and the linear light that
// the final pass tone-maps as a PFM (float RGB, readable by any HDR tool).
// "The last frame" is the one in which the run ends, whether --frames ended
// it or the user quit. F12 saves the frame it is pressed in the same way,
// both files under a name of the moment in the working folder.
#include <cstdint>
#include <string>
#include <vector>

namespace KestorEngine {

class KestorEngineFlyHahaJk;
class Texbit;

// An image of float RGB texels, rows bottom first (GL's and PFM's order).
struct LinearImage {
  int Width = 0;
  int Height = 0;
  std::vector<float> RGB;  // 3 per texel

  const float* At(int x, int y) const { return &RGB[(static_cast<size_t>(y) * Width + x) * 3]; }
};

class FrameCapture {
 public:
  // Set by the composition root before the run.
  static inline int FramesToRun = 0;  // 0: until the user quits
  static inline std::string ImagePath;
  static inline std::string LinearPath;

  // The renderer calls these: BeginFrame at the start of each frame (it may
  // end the run, making this frame the last, and it sees F12), TakeLinear
  // with the final pass's input of the first camera, TakePresented before
  // the swap.
  static void BeginFrame(KestorEngineFlyHahaJk* engine);
  static bool Capturing() { return (lastFrame && (!ImagePath.empty() || !LinearPath.empty())) || snapshot; }
  static void TakeLinear(Texbit& finalInput);
  static void TakePresented(int width, int height);

  // True when a capture that was asked for was not written (reported).
  static bool Failed() { return failed; }
  // Asks for this frame to be saved as "KestorEngine-<date>-<time>.png" and
  // ".pfm" in the working folder (F12 does), with one console line.
  static void TakeSnapshot() { snapshot = true; }
  // The name without its extension for a snapshot taken at `when` (seconds
  // since 1970, local time): the first of "KestorEngine-YYYYMMDD-HHMMSS",
  // then "-2", "-3" ... for which neither file exists in `folder`.
  static std::string SnapshotName(const std::string& folder, long long when);
  static void Reset();

  // Rows bottom first, as GL reads them. Both write through a temporary file,
  // so a failure leaves no partial image; `problem` then says why.
  static bool WritePNG(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb,
                       std::string& problem);
  static bool WritePFM(const std::string& path, const LinearImage& image, std::string& problem);
  // Reads a colour PFM of either byte order; a grey or malformed file fails.
  static bool ReadPFM(const std::string& path, LinearImage& image, std::string& problem);

 private:
  static void Report(const std::string& path, bool written, const std::string& problem);
  static void WriteSnapshot(const std::vector<uint8_t>& rgb, int width, int height);

  static inline int framesBegun = 0;
  static inline bool lastFrame = false;
  static inline bool failed = false;
  static inline bool snapshot = false;
  // This frame's linear light, kept for the snapshot's PFM.
  static inline LinearImage snapshotLinear;
};

}  // namespace KestorEngine
