#include "support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace KestorTest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestor-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path = made != nullptr ? std::string(made) : std::string();
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

std::string TempDir::Write(const std::string& relative, const std::string& text) const {
  std::filesystem::path full = std::filesystem::path(path) / relative;
  std::filesystem::create_directories(full.parent_path());
  std::ofstream(full, std::ios::binary) << text;
  return full.string();
}

struct CaptureStdout::Impl {
  std::ostringstream buffer;
  std::streambuf* previous = nullptr;
};

CaptureStdout::CaptureStdout() : impl(new Impl) {
  std::cout.flush();
  impl->previous = std::cout.rdbuf(impl->buffer.rdbuf());
}

CaptureStdout::~CaptureStdout() {
  std::cout.rdbuf(impl->previous);
  delete impl;
}

std::string CaptureStdout::Text() const { return impl->buffer.str(); }

}  // namespace KestorTest
