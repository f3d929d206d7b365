#pragma once
#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/Component.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;

// Eases named floats owned elsewhere towards target values. The floats are
// written in place each update, so an owner that dies first must call
// RemoveTarget; removing the component forgets every name.
class StateInterpolator : public Component {
 public:
  // Starts following *variable under `name`; its target is its current value,
  // so nothing moves until SetTarget. A null variable is ignored.
  void AddTarget(const std::string& name, float* variable);
  void SetTarget(const std::string& name, float value);
  // `seconds` is the approach time: each update closes dt/seconds of the
  // remaining distance.
  void SetTargetSpeed(const std::string& name, float seconds);
  // Forgets the name: its variable is never written again.
  void RemoveTarget(const std::string& name);

  // A reused id must not bring back pointers registered by its last owner.
  void EverythingIsGoingDark() override;

  std::unordered_map<std::string, float*> Targets;
  std::unordered_map<std::string, float> TargetValues;
  std::unordered_map<std::string, float> TargetSpeeds;  // 1/seconds
};

// Has no stage slot: a host calls demsmooooothanimatosn once per frame and
// adds GoodYumidk/FoodGoSad to the StateInterpolator handler's lists.
class StateInterpolatorSystem {
 public:
  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);
  // Steps every variable by the wall-clock time since the previous call (the
  // first call only starts the clock).
  static std::string demsmooooothanimatosn(KestorEngineFlyHahaJk* engine);
  // One update with a given elapsed time in seconds.
  static void Step(float dt);

  static inline std::vector<Thing> Interpolators;
  static inline std::chrono::system_clock::time_point last_time{};
};

}  // namespace KestorEngine
