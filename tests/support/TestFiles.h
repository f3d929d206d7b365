#pragma once
// Scratch files and captured console output for tests.
#include <string>

namespace KestorTest {

// A fresh directory under the system's temporary folder, removed with the
// object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path; }
  // Writes `text` to Path()/relative (creating folders), returns the path.
  std::string Write(const std::string& relative, const std::string& text) const;

 private:
  std::string path;
};

// Collects what the engine prints to standard output while it lives.
class CaptureStdout {
 public:
  CaptureStdout();
  ~CaptureStdout();
  CaptureStdout(const CaptureStdout&) = delete;
  CaptureStdout& operator=(const CaptureStdout&) = delete;
  std::string Text() const;

 private:
  struct Impl;
  Impl* impl;
};

}  // namespace KestorTest
