#pragma once
// The frame as data: an ordered table of passes and the resources they read
// and write by name. The table orders the frame, names the pass timers,
// gives the panel its pass switches and leaves out a pass whose outputs
// nobody reads; each entry points at the one function that binds and draws
// (or dispatches) it. Nothing here touches GL, so the order and the culling
// are checked as plain data.
//
// Adding a pass: one resource row per new target (name, size rule,
// lifetime, format, where it is kept) and one PassSpec with its function,
// placed where it runs in the frame.
#include <set>
#include <string>
#include <vector>

#include <glm/vec3.hpp>

#include "engine/CVar.h"
#include "render/Texbit.h"
#include "scene/Camera.h"
#include "scene/Lighting.h"

namespace KestorEngine {

struct PassContext;

// How big a pass's targets are.
enum class SizeRule {
  Render,      // the scene's size: the output size times the render scale
  HalfRender,  // one texel per 2 x 2 block of the render size, rounded up
  Window,      // the output size ("Screen Resolution", or the window's)
  LightField,  // the light field's voxels (times Scale per axis)
  Fixed,       // FixedSize, whatever the screen
  None,        // not a texture (the scene queue, the window's framebuffer)
};

// How long a resource lives and who keeps it.
enum class Lifetime {
  Frame,    // a camera's, from the pool for its frame, handed back after it
  Kept,     // a camera's, made once and remade when its size changes
  History,  // a camera's pair from the pool kept across frames; a pass swaps them
  Field,    // a light field's volume, made the first time the field is met
  Outside,  // not made by the table: the queues, the curtain, the window, the lightmap
};

enum class PassKind { Draw, Compute, Copy };

// A pass runs once per light field, once per camera, or once a frame; the
// table keeps the three groups in that order.
enum class RunsFor { EachField, EachCamera, Frame };

struct ResourceSpec {
  std::string Name;  // as passes name it, and (mostly) as shaders sample it
  SizeRule Size = SizeRule::None;
  Lifetime Life = Lifetime::Outside;
  TextureFormats Format = TextureFormats::RGBA16F;
  // Where a camera keeps it (a history's Slot is the one read this frame,
  // Other the one written), or where a light field keeps it (FieldOther:
  // the other of a pair its pass swaps itself). Left null, the camera's or
  // the field's by-name map keeps it: a new pass needs no new field.
  Texbit* CameraTargets::*Slot = nullptr;
  Texbit* CameraTargets::*Other = nullptr;
  Texbit* LightField::*FieldSlot = nullptr;
  Texbit* LightField::*FieldOther = nullptr;
  bool Paired = false;  // a light field volume kept as a pair, by name
  // Made only for a field of one grid: a cascaded field has no use for it.
  bool OneGridOnly = false;
  // SizeRule::LightField: voxels per axis = field size x Scale, unless the
  // axis of FixedSize is above 0; SizeRule::Fixed: FixedSize, or what
  // FixedBy says this frame (a size a setting picks; 0: none is kept).
  int Scale = 1;
  glm::ivec3 FixedSize{0};
  glm::ivec3 (*FixedBy)() = nullptr;
  bool Mipmaps = false;
  int Filter = 0;  // Texbit::FilterMode
  // The pool may refuse it without the camera's frame being lost: the pass
  // that writes it is left out and its readers fall back.
  bool Optional = false;
  // Every pass's buffers offer it, so its readers are the programs that
  // sample it: it is asked for while a program of the last frame did.
  bool Probed = false;
  // Cleared to zero when made (a blend reads it first).
  bool ClearWhenMade = false;
  // Leaves the frame (the window, a capture): written, it is always wanted.
  bool Leaves = false;
};

// A setting a pass waits for: it runs while Var's value is On. The panel
// shows a toggle for every switch with OnPanel.
struct PassSwitch {
  CVar<bool>* Var = nullptr;
  bool On = true;
  bool OnPanel = true;
};

struct PassSpec {
  std::string Name;
  std::string Timer;  // pass timer label; empty: not timed
  RunsFor Runs = RunsFor::EachCamera;
  PassKind Kind = PassKind::Draw;
  std::vector<std::string> Reads;
  std::vector<std::string> Writes;
  std::vector<std::string> History;  // read as the last frame left them
  std::vector<std::string> Swaps;    // history pairs that trade places after it
  std::vector<PassSwitch> Switches;  // all must hold
  // Beyond the switches, whether this frame gives it work (the voxel plan,
  // a capture being taken); null: always.
  bool (*Needed)(const PassContext&) = nullptr;
  // Binds and draws or dispatches; false when it could not (a missing
  // shader): its outputs then count as not written and nothing swaps.
  bool (*Run)(PassContext&) = nullptr;
  // What its readers see while it does not run.
  std::string Fallback;

  PassSpec(std::string name, RunsFor runs, PassKind kind, bool (*run)(PassContext&));
  PassSpec& TimedAs(std::string label);
  PassSpec& Reading(std::vector<std::string> names);
  PassSpec& Writing(std::vector<std::string> names);
  PassSpec& ReadingLastFrame(std::vector<std::string> names);
  PassSpec& Swapping(std::vector<std::string> names);
  PassSpec& SwitchedBy(CVar<bool>* var, bool on = true, bool onPanel = true);
  PassSpec& NeededWhen(bool (*needed)(const PassContext&));
  PassSpec& FallingBackTo(std::string text);
};

class PassTable {
 public:
  std::vector<ResourceSpec> Resources;
  std::vector<PassSpec> Passes;

  // Null for a name no row declares.
  const ResourceSpec* Find(const std::string& name) const;
  // The size rule of a pass's targets: its first written texture's.
  SizeRule TargetSize(const PassSpec& pass) const;
  // Whether each pass's switches hold now.
  std::vector<bool> Switched() const;
  // The passes that run: switched on, and writing what a later running pass
  // reads, what a later frame reads (a history, a light field's volume),
  // the window, or what `asked` names: what is read from outside the table
  // this frame (a capture, a probed texture a program sampled, a target a
  // test reads).
  std::vector<bool> Live(const std::vector<bool>& switched, const std::set<std::string>& asked) const;
  // Faults of the table as data: a name no resource declares, a read that
  // no earlier pass writes in the frame, groups out of order. Empty: none.
  std::vector<std::string> Check() const;
  // The table as a Markdown table: order, pass, runs for, kind, reads,
  // writes, last frame's, size rule, switches, what readers see without it.
  std::string Describe() const;
};

// The engine's frame.
const PassTable& FrameTable();

const char* SizeRuleName(SizeRule rule);

}  // namespace KestorEngine
