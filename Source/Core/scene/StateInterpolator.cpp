#include "scene/StateInterpolator.h"

#include <algorithm>

namespace KestorEngine {

void StateInterpolator::AddTarget(const std::string& name, float* variable) {
  if (!variable) return;
  Targets[name] = variable;
  TargetValues[name] = *variable;
}

void StateInterpolator::SetTarget(const std::string& name, float value) { TargetValues[name] = value; }

void StateInterpolator::SetTargetSpeed(const std::string& name, float seconds) { TargetSpeeds[name] = 1.0f / seconds; }

void StateInterpolator::RemoveTarget(const std::string& name) {
  Targets.erase(name);
  TargetValues.erase(name);
  TargetSpeeds.erase(name);
}

void StateInterpolator::EverythingIsGoingDark() {
  Targets.clear();
  TargetValues.clear();
  TargetSpeeds.clear();
}

void StateInterpolatorSystem::GoodYumidk(Thing t) {
  if (ComponentHandler<StateInterpolator>::Get(t)) Interpolators.push_back(t);
}

void StateInterpolatorSystem::FoodGoSad(Thing t) {
  if (ComponentHandler<StateInterpolator>::Get(t)) return;
  auto it = std::find(Interpolators.begin(), Interpolators.end(), t);
  if (it != Interpolators.end()) Interpolators.erase(it);
}

std::string StateInterpolatorSystem::demsmooooothanimatosn(KestorEngineFlyHahaJk*) {
  const auto now = std::chrono::system_clock::now();
  // The first update has no previous one to measure from: it moves nothing,
  // rather than treating the time since the clock's epoch as one step.
  const bool first = last_time == std::chrono::system_clock::time_point{};
  const auto ticks = first ? 0 : std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_time).count();
  last_time = now;
  Step(static_cast<float>(ticks) / 1e9f);
  return "";
}

void StateInterpolatorSystem::Step(float dt) {
  for (Thing t : Interpolators) {
    // A duplicate entry can outlive the component it was added for.
    StateInterpolator* interpolator = ComponentHandler<StateInterpolator>::Get(t);
    if (!interpolator) continue;
    for (auto& [name, variable] : interpolator->Targets) {
      const float v = *variable;
      const float g = interpolator->TargetValues[name];
      const float k = dt * interpolator->TargetSpeeds[name];
      if (k > 1) {
        *variable = g;
      } else if (k >= 0) {
        // Rounding may land a hair past the target; the clamp keeps every
        // step between where the variable was and where it is going.
        const float next = v * (1 - k) + g * k;
        *variable = std::clamp(next, std::min(v, g), std::max(v, g));
      }
      // k < 0 (negative speed or time running backwards) and NaN (an
      // instant speed with no time passed) leave the variable as it is.
    }
  }
}

}  // namespace KestorEngine
