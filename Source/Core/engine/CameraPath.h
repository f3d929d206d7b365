#pragma once
// Scripted camera paths: a text file of keyframes, one a line,
//
//   t x y z yaw pitch [fov]
//
// t in seconds from the start (ascending), the rest as --camera and --fov
// take them (world units, degrees, Z up). `#` starts a comment; blank lines
// are skipped. Between keyframes the position moves in a straight line and
// yaw and pitch turn the shorter way; before the first keyframe and after
// the last the pose holds; two keyframes at the same time make a cut (the
// later one holds from that time on). A keyframe without a field of view
// keeps the one before it (the first ones take the first one given); a path
// without any leaves the camera's own.
#include <string>
#include <vector>

#include "engine/CommandLine.h"

namespace KestorEngine {

// Reads `text` (named `name` in messages). On a mistake returns false with
// `problem` saying "name:line: what is wrong"; `keys` is then untouched.
bool ParseCameraPath(const std::string& text, const std::string& name, std::vector<CameraKey>& keys,
                     std::string& problem);
// The same for a file; a file that cannot be read is a problem too.
bool ReadCameraPath(const std::string& path, std::vector<CameraKey>& keys, std::string& problem);

// The pose of a parsed, non-empty path at `seconds`.
CameraKey CameraAt(const std::vector<CameraKey>& keys, float seconds);

}  // namespace KestorEngine
