#include "engine/CameraPath.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include <glm/common.hpp>

#include "engine/TextNumbers.h"

namespace KestorEngine {

namespace {

// The key's numbers, or a problem saying what is wrong with them.
std::string ReadKey(const std::vector<std::string>& words, CameraKey& key) {
  if (words.size() != 6 && words.size() != 7) {
    return "expected t x y z yaw pitch [fov] (6 or 7 numbers), found " + std::to_string(words.size()) + " words";
  }
  float v[7] = {};
  for (size_t i = 0; i < words.size(); ++i) {
    if (!ParseWholeFloat(words[i], v[i])) return "\"" + words[i] + "\" is not a number";
  }
  if (v[0] < 0.0f) return "the time " + words[0] + " lies before the start (0 s)";
  if (std::abs(v[5]) > 90.0f) return "the pitch must lie between -90 and 90 degrees, not " + words[5];
  if (words.size() == 7 && !(v[6] > 0.0f && v[6] < 180.0f)) {
    return "the field of view must lie between 0 and 180 degrees, not " + words[6];
  }
  key.Time = v[0];
  key.Pose.Position = glm::vec3(v[1], v[2], v[3]);
  key.Pose.Yaw = v[4];
  key.Pose.Pitch = v[5];
  if (words.size() == 7) key.FieldOfView = v[6];
  return "";
}

// Keys without a field of view keep the one before them; the first ones
// take the first one given.
void FillFieldsOfView(std::vector<CameraKey>& keys) {
  auto first = std::find_if(keys.begin(), keys.end(), [](const CameraKey& k) { return k.FieldOfView.has_value(); });
  if (first == keys.end()) return;
  std::optional<float> last = first->FieldOfView;
  for (CameraKey& k : keys) {
    if (k.FieldOfView) last = k.FieldOfView;
    k.FieldOfView = last;
  }
}

}  // namespace

bool ParseCameraPath(const std::string& text, const std::string& name, std::vector<CameraKey>& keys,
                     std::string& problem) {
  std::vector<CameraKey> read;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  auto refuse = [&](const std::string& what) {
    problem = name + ":" + std::to_string(number) + ": " + what;
    return false;
  };
  while (std::getline(lines, line)) {
    ++number;
    const size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string w; fields >> w;) words.push_back(w);
    if (words.empty()) continue;
    CameraKey key;
    const std::string wrong = ReadKey(words, key);
    if (!wrong.empty()) return refuse(wrong);
    if (!read.empty() && key.Time < read.back().Time) {
      return refuse("the time " + words[0] + " comes before the keyframe above it; times must ascend");
    }
    if (read.size() >= 2 && key.Time == read.back().Time && key.Time == read[read.size() - 2].Time) {
      return refuse("a cut is two keyframes at the same time, and this is a third at " + words[0]);
    }
    read.push_back(key);
  }
  if (read.empty()) {
    number = std::max(number, 1);
    return refuse("no keyframes (one a line: t x y z yaw pitch [fov])");
  }
  FillFieldsOfView(read);
  keys = std::move(read);
  return true;
}

bool ReadCameraPath(const std::string& path, std::vector<CameraKey>& keys, std::string& problem) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  if (file) text << file.rdbuf();
  if (!file || file.bad()) {
    problem = path + ": cannot read the camera path";
    return false;
  }
  return ParseCameraPath(text.str(), path, keys, problem);
}

CameraKey CameraAt(const std::vector<CameraKey>& keys, float seconds) {
  if (keys.empty()) return CameraKey();
  // The last key at or before `seconds`: of a cut's two keys, the later.
  auto after = std::upper_bound(keys.begin(), keys.end(), seconds,
                                [](float t, const CameraKey& k) { return t < k.Time; });
  if (after == keys.begin()) return keys.front();
  if (after == keys.end()) return keys.back();
  const CameraKey& a = *(after - 1);
  const CameraKey& b = *after;
  const float u = (seconds - a.Time) / (b.Time - a.Time);
  CameraKey out;
  out.Time = seconds;
  out.Pose.Position = glm::mix(a.Pose.Position, b.Pose.Position, u);
  // The shorter way round: 350 to 10 degrees turns through 0, not 180.
  const float turn = std::remainder(b.Pose.Yaw - a.Pose.Yaw, 360.0f);
  out.Pose.Yaw = a.Pose.Yaw + u * turn;
  out.Pose.Pitch = a.Pose.Pitch + u * (b.Pose.Pitch - a.Pose.Pitch);
  if (a.FieldOfView && b.FieldOfView) out.FieldOfView = *a.FieldOfView + u * (*b.FieldOfView - *a.FieldOfView);
  return out;
}

}  // namespace KestorEngine
