#pragma once
// How the renderer sees the curtain (the cloth module, cloth/Cloth.h): one
// call a frame brings it up to date from the hotkeys and the clock and
// refreshes its surface mesh; the passes ask for the surface to draw.
#include <SDL_stdinc.h>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "cloth/Cloth.h"
#include "engine/Resource.h"

namespace KestorEngine {

class Mesh;
class Texbit;

namespace CurtainConstants {
// A displayed triangle is dropped once an edge is stretched past this many
// times its rest length: a broken curtain shows as torn pieces.
inline constexpr float TearStretch = 2.0f;
// Vertex attribute location of the display mesh's previous positions.
inline constexpr unsigned PastPositionAttribute = 5;
// SDL scancodes of the hotkeys.
inline constexpr int KeyCreate = 6;   // C
inline constexpr int KeyBreak = 5;    // B
inline constexpr int KeyDelete = 12;  // I
inline constexpr int KeyDetach = 28;  // Y
}  // namespace CurtainConstants

// One frame of the curtain, run by the renderer before it draws: the I, B, C
// and Y hotkeys from `keys` (SDL scancode state), then the fixed steps owed
// at time `now` (seconds since start), dragging the camera particle to
// `cameraPosition`. `skipVolume` and `fieldLocalToWorld` describe the first
// light field, from which the scene's collision voxels are made on the first
// creation (null: none).
void ClothFrame(const Uint8* keys, float now, const glm::vec3& cameraPosition, Texbit* skipVolume,
                const glm::mat4& fieldLocalToWorld);

// The curtain's surface while there is a curtain to show, else null.
Resource<Mesh>* CurtainSurface();

// The cloth surface mesh; empty until the first curtain is made.
Resource<Mesh>& ParticlesDisplay();
// Fills the display mesh from the curtain: a triangle grid with normals from
// the particle grid, shown `alpha` of the way from the positions before the
// latest step to the current ones, with the last frame's positions as the
// past positions of the motion vectors; then uploads it.
void UpdateParticlesDisplay(float alpha);
// Forgets the surface mesh and the positions it last showed.
void ResetCurtainDisplay();

// Reads level 0 of `volume` back from the GPU and hands it to
// CreateCollisionStructureFromTexels. A null volume adds no scene voxels.
void CreateCollisionStructureFromVoxels(Texbit* volume, const glm::mat4& localToWorld);

}  // namespace KestorEngine
