#include "renderer/FrameCapture.h"

#include <stb_image_write.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "engine/Debug.h"
#include "engine/Engine.h"
#include "engine/File.h"
#include "render/Texbit.h"
#include "sanegl/GL.h"
#include "scene/InputSystem.h"

namespace KestorEngine {

void FrameCapture::BeginFrame(KestorEngineFlyHahaJk* engine) {
  ++framesBegun;
  if (InputSystem::PressesThisFrame(SDL_SCANCODE_F12) > 0) TakeSnapshot();
  if (engine == nullptr) return;
  if (FramesToRun > 0 && framesBegun >= FramesToRun) engine->Quit();
  lastFrame = !engine->Running;
}

void FrameCapture::Reset() {
  FramesToRun = 0;
  ImagePath.clear();
  LinearPath.clear();
  framesBegun = 0;
  lastFrame = false;
  failed = false;
  snapshot = false;
  snapshotLinear = LinearImage();
}

void FrameCapture::Report(const std::string& path, bool written, const std::string& problem) {
  if (written) {
    std::cout << "Saved " << path << std::endl;
  } else {
    failed = true;
    std::cout << path << ": cannot save the frame: " << problem << std::endl;
  }
}

void FrameCapture::TakeLinear(Texbit& finalInput) {
  const bool atExit = !LinearPath.empty() && lastFrame;
  if (!atExit && !snapshot) return;
  LinearImage image;
  image.Width = finalInput.Width;
  image.Height = finalInput.Height;
  image.RGB.assign(static_cast<size_t>(image.Width) * image.Height * 3, 0.0f);
  // Read on the texture's own unit, where the allocator keeps it bound.
  finalInput.ToGPU();
  glActiveTexture(Texbit::GetBindEnum(finalInput.CurrentBind));
  Debug::_CheckGLError("RELEASE", __LINE__);
  glBindTexture(finalInput.Target(), finalInput.ID);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glGetTexImage(finalInput.Target(), 0, GL_RGB, GL_FLOAT, image.RGB.data());
  Debug::_CheckGLError("RELEASE", __LINE__);
  if (atExit) {
    std::string problem;
    Report(LinearPath, WritePFM(LinearPath, image, problem), problem);
  }
  if (snapshot) snapshotLinear = std::move(image);
}

namespace {

// The back buffer still holds the frame about to be swapped in. The read
// binding is put back so that the framebuffer cache's record stays true.
std::vector<uint8_t> ReadPresented(int width, int height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  GLint previousRead = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previousRead);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  Debug::_CheckGLError("RELEASE", __LINE__);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previousRead));
  Debug::_CheckGLError("RELEASE", __LINE__);
  return rgb;
}

}  // namespace

void FrameCapture::TakePresented(int width, int height) {
  const bool atExit = !ImagePath.empty() && lastFrame;
  if (!atExit && !snapshot) return;
  if (width <= 0 || height <= 0) {
    if (atExit) Report(ImagePath, false, "the window has no pixels");
    if (snapshot) std::cout << "F12: cannot save the frame: the window has no pixels" << std::endl;
    snapshot = false;
    return;
  }
  const std::vector<uint8_t> rgb = ReadPresented(width, height);
  if (atExit) {
    std::string problem;
    Report(ImagePath, WritePNG(ImagePath, width, height, rgb, problem), problem);
  }
  if (snapshot) WriteSnapshot(rgb, width, height);
}

std::string FrameCapture::SnapshotName(const std::string& folder, long long when) {
  const std::time_t t = static_cast<std::time_t>(when);
  std::tm local{};
  localtime_r(&t, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = std::string("KestorEngine-") + stamp;
  const std::string prefix = folder.empty() ? "" : folder + File::PathSeparator;
  for (int n = 1;; ++n) {
    const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
    std::error_code error;
    if (!std::filesystem::exists(prefix + name + ".png", error) && !std::filesystem::exists(prefix + name + ".pfm", error)) {
      return name;
    }
  }
}

// One line for both files; a snapshot that fails is said and the run goes on
// (only a capture asked for on the command line fails the run).
void FrameCapture::WriteSnapshot(const std::vector<uint8_t>& rgb, int width, int height) {
  snapshot = false;
  const std::string name = SnapshotName("", static_cast<long long>(std::time(nullptr)));
  std::string problem;
  if (!WritePNG(name + ".png", width, height, rgb, problem)) {
    std::cout << name << ".png: cannot save the frame: " << problem << std::endl;
    return;
  }
  if (snapshotLinear.Width == 0) {
    std::cout << "Saved " << name << ".png (no camera drew, so no linear light to save)" << std::endl;
    return;
  }
  const bool linear = WritePFM(name + ".pfm", snapshotLinear, problem);
  snapshotLinear = LinearImage();
  if (!linear) {
    std::cout << "Saved " << name << ".png; " << name << ".pfm: cannot save the frame: " << problem << std::endl;
    return;
  }
  std::cout << "Saved " << name << ".png and " << name << ".pfm" << std::endl;
}

bool FrameCapture::WritePNG(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb,
                            std::string& problem) {
  const size_t stride = static_cast<size_t>(width) * 3;
  if (width <= 0 || height <= 0 || rgb.size() < stride * height) {
    problem = "no image to write";
    return false;
  }
  // PNG rows run top first.
  std::vector<uint8_t> topFirst(stride * height);
  for (int y = 0; y < height; ++y) {
    std::memcpy(&topFirst[stride * y], &rgb[stride * (height - 1 - y)], stride);
  }
  std::string bytes;
  auto append = [](void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
  };
  if (stbi_write_png_to_func(append, &bytes, width, height, 3, topFirst.data(), static_cast<int>(stride)) == 0) {
    problem = "the PNG encoder failed";
    return false;
  }
  return File::WriteWhole(path, bytes, problem);
}

bool FrameCapture::WritePFM(const std::string& path, const LinearImage& image, std::string& problem) {
  const size_t count = static_cast<size_t>(image.Width) * image.Height * 3;
  if (image.Width <= 0 || image.Height <= 0 || image.RGB.size() < count) {
    problem = "no image to write";
    return false;
  }
  // A negative scale marks little-endian floats; rows run bottom first.
  std::string bytes = "PF\n" + std::to_string(image.Width) + " " + std::to_string(image.Height) + "\n-1.0\n";
  const size_t header = bytes.size();
  bytes.resize(header + count * sizeof(float));
  for (size_t i = 0; i < count; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &image.RGB[i], sizeof(bits));
    for (int b = 0; b < 4; ++b) bytes[header + i * 4 + b] = static_cast<char>((bits >> (8 * b)) & 0xFF);
  }
  return File::WriteWhole(path, bytes, problem);
}

bool FrameCapture::ReadPFM(const std::string& path, LinearImage& image, std::string& problem) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problem = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  std::string magic;
  long long width = 0, height = 0;
  double scale = 0.0;
  in >> magic >> width >> height >> scale;
  if (!in || magic != "PF" || width <= 0 || height <= 0 || width > 65536 || height > 65536 || scale == 0.0 ||
      !std::isfinite(scale)) {
    problem = "not a colour PFM (\"PF\", width, height, scale)";
    return false;
  }
  in.get();  // the single white-space character that ends the header
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
  std::string bytes(count * 4, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<size_t>(in.gcount()) != bytes.size()) {
    problem = "the file ends before its " + std::to_string(count) + " floats";
    return false;
  }
  LinearImage read;
  read.Width = static_cast<int>(width);
  read.Height = static_cast<int>(height);
  read.RGB.resize(count);
  const bool little = scale < 0.0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t bits = 0;
    for (int b = 0; b < 4; ++b) {
      const uint32_t byte = static_cast<uint8_t>(bytes[i * 4 + b]);
      bits |= byte << (8 * (little ? b : 3 - b));
    }
    std::memcpy(&read.RGB[i], &bits, sizeof(bits));
  }
  image = std::move(read);
  return true;
}

}  // namespace KestorEngine
