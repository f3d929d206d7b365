#include "renderer/PassTable.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace KestorEngine {

namespace {

const char* RunsForName(RunsFor runs) {
  switch (runs) {
    case RunsFor::EachField: return "each light field";
    case RunsFor::EachCamera: return "each camera";
    case RunsFor::Frame: return "the frame";
  }
  return "?";
}

const char* KindName(PassKind kind) {
  switch (kind) {
    case PassKind::Draw: return "draw";
    case PassKind::Compute: return "compute";
    case PassKind::Copy: return "copy";
  }
  return "?";
}

std::string Joined(const std::vector<std::string>& names) {
  if (names.empty()) return "-";
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// Read by a later frame, or leaving the frame: written, it is always wanted.
bool KeptBeyondTheFrame(const ResourceSpec& r) {
  return r.Life == Lifetime::History || r.Life == Lifetime::Field || r.Leaves;
}

}  // namespace

PassSpec::PassSpec(std::string name, RunsFor runs, PassKind kind, bool (*run)(PassContext&))
    : Name(name), Timer(std::move(name)), Runs(runs), Kind(kind), Run(run) {}

PassSpec& PassSpec::TimedAs(std::string label) {
  Timer = std::move(label);
  return *this;
}
PassSpec& PassSpec::Reading(std::vector<std::string> names) {
  Reads = std::move(names);
  return *this;
}
PassSpec& PassSpec::Writing(std::vector<std::string> names) {
  Writes = std::move(names);
  return *this;
}
PassSpec& PassSpec::ReadingLastFrame(std::vector<std::string> names) {
  History = std::move(names);
  return *this;
}
PassSpec& PassSpec::Swapping(std::vector<std::string> names) {
  Swaps = std::move(names);
  return *this;
}
PassSpec& PassSpec::SwitchedBy(CVar<bool>* var, bool on, bool onPanel) {
  Switches.push_back({var, on, onPanel});
  return *this;
}
PassSpec& PassSpec::NeededWhen(bool (*needed)(const PassContext&)) {
  Needed = needed;
  return *this;
}
PassSpec& PassSpec::FallingBackTo(std::string text) {
  Fallback = std::move(text);
  return *this;
}

const char* SizeRuleName(SizeRule rule) {
  switch (rule) {
    case SizeRule::Render: return "render size";
    case SizeRule::HalfRender: return "half render size";
    case SizeRule::Window: return "window size";
    case SizeRule::LightField: return "light field";
    case SizeRule::Fixed: return "fixed";
    case SizeRule::None: return "-";
  }
  return "?";
}

const ResourceSpec* PassTable::Find(const std::string& name) const {
  for (const ResourceSpec& r : Resources) {
    if (r.Name == name) return &r;
  }
  return nullptr;
}

SizeRule PassTable::TargetSize(const PassSpec& pass) const {
  for (const std::string& w : pass.Writes) {
    const ResourceSpec* r = Find(w);
    if (r != nullptr && r->Size != SizeRule::None) return r->Size;
  }
  return SizeRule::None;
}

std::vector<bool> PassTable::Switched() const {
  std::vector<bool> out;
  for (const PassSpec& p : Passes) {
    bool on = true;
    for (const PassSwitch& s : p.Switches) on = on && s.Var != nullptr && s.Var->value == s.On;
    out.push_back(on);
  }
  return out;
}

// Backwards from the frame's end: a pass is wanted when it writes what is
// wanted after it; what it reads is then wanted before it. A pass that
// only blends into a target (the emission into the lit colour) counts as a
// writer like any other, so a resource stays wanted up to its first writer.
std::vector<bool> PassTable::Live(const std::vector<bool>& switched, const std::set<std::string>& asked) const {
  std::set<std::string> wanted;
  for (const ResourceSpec& r : Resources) {
    if (KeptBeyondTheFrame(r) || asked.count(r.Name) != 0) wanted.insert(r.Name);
  }
  std::vector<bool> live(Passes.size(), false);
  for (size_t k = Passes.size(); k-- > 0;) {
    const PassSpec& p = Passes[k];
    if (k >= switched.size() || !switched[k]) continue;
    const bool writesWanted =
        std::any_of(p.Writes.begin(), p.Writes.end(), [&](const std::string& w) { return wanted.count(w) != 0; });
    if (!writesWanted) continue;
    live[k] = true;
    wanted.insert(p.Reads.begin(), p.Reads.end());
    wanted.insert(p.History.begin(), p.History.end());
  }
  return live;
}

std::vector<std::string> PassTable::Check() const {
  std::vector<std::string> faults;
  std::set<std::string> written;
  RunsFor group = RunsFor::EachField;
  for (const PassSpec& p : Passes) {
    if (p.Runs < group) faults.push_back(p.Name + ": runs for " + RunsForName(p.Runs) + " after a later group");
    group = std::max(group, p.Runs);
    if (p.Run == nullptr) faults.push_back(p.Name + ": no function");
    for (const auto* names : {&p.Reads, &p.Writes, &p.History, &p.Swaps}) {
      for (const std::string& n : *names) {
        if (Find(n) == nullptr) faults.push_back(p.Name + ": no resource " + n);
      }
    }
    for (const std::string& n : p.Reads) {
      const ResourceSpec* r = Find(n);
      // Frame resources start the frame empty: someone before must write them.
      if (r != nullptr && r->Life == Lifetime::Frame && written.count(n) == 0) {
        faults.push_back(p.Name + ": reads " + n + " before any pass writes it");
      }
    }
    for (const std::string& n : p.Swaps) {
      const ResourceSpec* r = Find(n);
      if (r != nullptr && r->Life != Lifetime::History) {
        faults.push_back(p.Name + ": swaps " + n + ", which is no history pair");
      }
    }
    written.insert(p.Writes.begin(), p.Writes.end());
  }
  return faults;
}

std::string PassTable::Describe() const {
  std::ostringstream out;
  out << "| # | Pass | Runs for | Kind | Reads | Writes | Last frame's | Size | Switch | While it does not run |\n";
  out << "|---|---|---|---|---|---|---|---|---|---|\n";
  for (size_t k = 0; k < Passes.size(); ++k) {
    const PassSpec& p = Passes[k];
    std::vector<std::string> switches;
    for (const PassSwitch& s : p.Switches) {
      if (s.Var != nullptr) switches.push_back("\"" + s.Var->name + "\"" + (s.On ? "" : " off"));
    }
    out << "| " << k + 1 << " | " << p.Name << (p.Timer.empty() || p.Timer == p.Name ? "" : " (timed as " + p.Timer + ")")
        << " | " << RunsForName(p.Runs) << " | " << KindName(p.Kind) << " | " << Joined(p.Reads) << " | "
        << Joined(p.Writes) << " | " << Joined(p.History) << " | " << SizeRuleName(TargetSize(p)) << " | "
        << Joined(switches) << " | " << (p.Fallback.empty() ? "-" : p.Fallback) << " |\n";
  }
  return out.str();
}

}  // namespace KestorEngine
