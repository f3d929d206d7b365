#include <gtest/gtest.h>
#include <cstdio>
#include "sanegl/GL.h"
#include "renderer/LevelRender.h"
#include "support/GLTestContext.h"
#include "renderer/RenderSettings.h"
using namespace KestorTest;
class Scratch : public GLTest {};
TEST_F(Scratch, Look) {
  ScratchAssets assets;
  std::vector<Tri> floor, box, room;
  AddBox(floor, {-3,-3,-0.2f}, {3,3,0}, false);
  AddBox(box, {-0.5f,-0.5f,0}, {0.5f,0.5f,1.0f}, false);
  assets.Mesh("Floor", floor);
  assets.Mesh("Box", box);
  assets.Material("White", glm::vec3(0.7f));
  assets.Material("Red", glm::vec3(0.7f, 0.1f, 0.1f));
  assets.Level("L", R"(
<Thing Name="Field"><Transform Position="0,0,1.5" Rotation="1,0,0,0" Scale="3.2,3.2,1.6"/><LightField Resolution="32,32,16"/></Thing>
<Thing Name="Floor"><Transform Position="0,0,0" Rotation="1,0,0,0" Scale="1,1,1"/><MeshRenderer Mesh="Floor" Materials="White" Visible="True" ShadowCast="True" BounceCast="True"/></Thing>
<Thing Name="Box"><Transform Position="0,0,0" Rotation="1,0,0,0" Scale="1,1,1"/><MeshRenderer Mesh="Box" Materials="Red" Visible="True" ShadowCast="True" BounceCast="True"/></Thing>
<Thing Name="Sky"><Sky ZenithColor="0.1,0.15,0.3" HorizonColor="0.3,0.3,0.3" GroundColor="0.05,0.05,0.05" SunDirection="0.5,-0.6,0.6" SunColor="1,0.9,0.8" SunStrength="40000"/></Thing>
)");
  LevelRender r(96, 64);
  r.Load("L");
  r.Look({2.5f,-4.0f,2.5f},{0,0,0.3f},50);
  r.Frames(10);
  LinearImage a = r.Average(16);
  a.WritePng("/tmp/gi/scratch.png");
  glm::vec3 m = a.Mean();
  printf("mean %f %f %f\n", m.x, m.y, m.z);
  KestorEngine::VisualizeVoxels->value = true;
  r.Average(2).WritePng("/tmp/gi/scratch_vox.png");
  KestorEngine::VisualizeVoxels->value = false;
  KestorEngine::CastGI->value = false;
  r.Average(8).WritePng("/tmp/gi/scratch_direct.png");
}
#include <chrono>
#include "renderer/PathTracer.h"
namespace KestorTest { glm::vec3 DebugNEE(const std::vector<TraceTriangle>&, glm::vec3, glm::vec3); int DebugIntersect(const std::vector<TraceTriangle>&, glm::vec3, glm::vec3, float, float*); }
#include "CornellBox.h"
static const LinearImage* gMask = nullptr;
static double RelRmse(const LinearImage& a, const LinearImage& b, float s) {
  double num = 0, den = 0;
  for (size_t i = 0; i < a.Pixels.size(); ++i) if (!gMask || gMask->Pixels[i].x <= 0) for (int k = 0; k < 3; ++k) { double d = s * a.Pixels[i][k] - b.Pixels[i][k]; num += d * d; den += double(b.Pixels[i][k]) * b.Pixels[i][k]; }
  return std::sqrt(num / den);
}
static float Fit(const LinearImage& a, const LinearImage& b) {
  double ab = 0, aa = 0;
  for (size_t i = 0; i < a.Pixels.size(); ++i) if (!gMask || gMask->Pixels[i].x <= 0) for (int k = 0; k < 3; ++k) { ab += double(a.Pixels[i][k]) * b.Pixels[i][k]; aa += double(a.Pixels[i][k]) * a.Pixels[i][k]; }
  return float(ab / aa);
}
static LinearImage Diff(const LinearImage& a, const LinearImage& b) { LinearImage c = a; for (size_t i = 0; i < c.Pixels.size(); ++i) c.Pixels[i] -= b.Pixels[i]; return c; }
TEST_F(Scratch, Cornell) {
  LevelRender r(64, 64);
  r.Load("CornellBox");
  r.Look(KestorTools::CornellCameraPosition(), KestorTools::CornellCameraTarget(), KestorTools::CornellCameraFov);
  auto t0 = std::chrono::steady_clock::now();
  r.Frames(30);
  LinearImage full = r.Average(32);
  auto t1 = std::chrono::steady_clock::now();
  KestorEngine::CastGI->value = false;
  LinearImage direct = r.Average(16);
  KestorEngine::CastGI->value = true;
  full.WritePng("/tmp/gi/cornell_engine.png");
  direct.WritePng("/tmp/gi/cornell_engine_direct.png");
  TraceScene scene = TraceScene::FromLoadedThings();
  printf("triangles %zu\n", scene.Triangles.size());
  { glm::vec3 o(-0.123f, 0.159f, 1e-4f), y(0.0f, 0.28f, 0.548f); glm::vec3 l = y - o; float d = glm::length(l); float t; int i = KestorTest::DebugIntersect(scene.Triangles, o, l / d, d * 0.9999f, &t); printf("shadow hit %d t %f of %f\n", i, t, d); glm::vec3 e = KestorTest::DebugNEE(scene.Triangles, glm::vec3(-0.123f,0.159f,0), glm::vec3(0,0,1)); printf("nee %f\n", e.x); }
  for (auto& t : scene.Triangles) printf("tri %.3f %.3f %.3f | %.3f %.3f %.3f | %.3f %.3f %.3f n %.2f %.2f %.2f e %.1f\n", t.A.x,t.A.y,t.A.z,t.B.x,t.B.y,t.B.z,t.C.x,t.C.y,t.C.z,t.Normal.x,t.Normal.y,t.Normal.z,t.Emission.x);
  { glm::mat4 inv = glm::inverse(r.ViewProjection()); glm::vec4 far = inv * glm::vec4((20.5f/64)*2-1, (6.5f/64)*2-1, 1, 1); glm::vec3 d = glm::normalize(glm::vec3(far)/far.w - r.CameraPosition()); printf("eye %f %f %f dir %f %f %f\n", r.CameraPosition().x, r.CameraPosition().y, r.CameraPosition().z, d.x, d.y, d.z); }
  auto t2 = std::chrono::steady_clock::now();
  TraceImages ref = Trace(scene, r.ViewProjection(), r.CameraPosition(), 64, 64, 256, 7);
  auto t3 = std::chrono::steady_clock::now();
  ref.Full.WritePng("/tmp/gi/cornell_ref.png");
  ref.Direct.WritePng("/tmp/gi/cornell_ref_direct.png");
  gMask = &ref.Seen;
  float s = Fit(full, ref.Full);
  LinearImage ei = Diff(full, direct), ri = Diff(ref.Full, ref.Direct);
  float si = Fit(ei, ri);
  printf("scale %f rmse %f  direct scale %f rmse %f  indirect scale %f rmse(own) %f rmse(global) %f\n", s, RelRmse(full, ref.Full, s),
    Fit(direct, ref.Direct), RelRmse(direct, ref.Direct, Fit(direct, ref.Direct)), si, RelRmse(ei, ri, si), RelRmse(ei, ri, s));
  printf("engine %.1fs  trace %.1fs\n", std::chrono::duration<double>(t1 - t0).count(), std::chrono::duration<double>(t3 - t2).count());
  ei.WritePng("/tmp/gi/cornell_engine_ind.png"); ri.WritePng("/tmp/gi/cornell_ref_ind.png");
  KestorEngine::VisualizeVoxels->value = true;
  LinearImage vox = r.Average(1);
  vox.WritePng("/tmp/gi/cornell_vox.png");
  for (int y = 60; y >= 0; y -= 6) { for (int x = 2; x < 64; x += 6) printf("%6.2f", vox.At(x, y).g); printf("\n"); }
  printf("ref:\n");
  for (int y = 60; y >= 0; y -= 6) { for (int x = 2; x < 64; x += 6) printf("%6.2f", ri.At(x, y).g); printf("\n"); }
  printf("ref full:\n");
  for (int y = 60; y >= 0; y -= 6) { for (int x = 2; x < 64; x += 6) printf("%6.2f", ref.Full.At(x, y).g); printf("\n"); }
  printf("eng full:\n");
  for (int y = 60; y >= 0; y -= 6) { for (int x = 2; x < 64; x += 6) printf("%6.2f", full.At(x, y).g); printf("\n"); }
  printf("eng ind:\n");
  for (int y = 60; y >= 0; y -= 6) { for (int x = 2; x < 64; x += 6) printf("%6.2f", ei.At(x, y).g); printf("\n"); }
}
TEST_F(Scratch, CornellCost) {
  LevelRender r(64, 64);
  r.Load("CornellBox");
  r.Look(KestorTools::CornellCameraPosition(), KestorTools::CornellCameraTarget(), KestorTools::CornellCameraFov);
  r.Frames(5);
  auto time = [&](const char* what) {
    glFinish();
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) { r.Frame(); glFinish(); }
    printf("%s %.1f ms\n", what, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() * 100);
  };
  time("all");
  KestorEngine::UpdateGI->value = false; time("no injection"); KestorEngine::UpdateGI->value = true;
  KestorEngine::RaycastScreen->value = false; time("no screen"); KestorEngine::RaycastScreen->value = true;
  KestorEngine::UpdateVoxels->value = false; time("no voxelise"); KestorEngine::UpdateVoxels->value = true;
}
