// Guards the capture files: PFM written and read back bit for bit in either
// byte order, malformed PFMs refused, and a failed write leaving no file.
#include <gtest/gtest.h>

#include <filesystem>

#include "renderer/FrameCapture.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

TEST(FrameCapture, PfmKeepsEveryFloatAndRowOrder) {
  KestorTest::TempDir dir;
  LinearImage image;
  image.Width = 3;
  image.Height = 2;
  image.RGB = {0.0f, 1.0f, 2.5f, 1e-8f, 65504.0f, -1.0f, 3.0f, 4.0f, 5.0f,
               6.0f, 7.0f, 8.0f, 9.0f, 10.0f, 11.0f, 0.125f, 1e6f, 12.0f};
  const std::string path = dir.Path() + "/a.pfm";
  std::string problem;
  ASSERT_TRUE(FrameCapture::WritePFM(path, image, problem)) << problem;
  EXPECT_EQ(std::filesystem::file_size(path), std::string("PF\n3 2\n-1.0\n").size() + 18u * 4u);
  LinearImage back;
  ASSERT_TRUE(FrameCapture::ReadPFM(path, back, problem)) << problem;
  EXPECT_EQ(back.Width, 3);
  EXPECT_EQ(back.Height, 2);
  EXPECT_EQ(back.RGB, image.RGB);
  EXPECT_EQ(back.At(2, 1)[1], 1e6f) << "rows stay bottom first";

  // Another writer's big-endian file: positive scale.
  const std::string big = dir.Write("big.pfm", std::string("PF\n1 1\n1.0\n") + std::string("\x3f\x80\x00\x00", 4) +
                                                   std::string("\x40\x00\x00\x00", 4) +
                                                   std::string("\xc0\x40\x00\x00", 4));
  ASSERT_TRUE(FrameCapture::ReadPFM(big, back, problem)) << problem;
  EXPECT_EQ(back.RGB, (std::vector<float>{1.0f, 2.0f, -3.0f}));
}

TEST(FrameCapture, MalformedPfmsAndFailedWritesAreRefused) {
  KestorTest::TempDir dir;
  const char* const bad[] = {
      "",                        // empty
      "Pf\n1 1\n-1.0\n0000",     // grey, not colour
      "PF\n0 1\n-1.0\n",         // no pixels
      "PF\n2 2\n-1.0\n000000",   // too short for 12 floats
      "PF\n1 1\n0\n000000000000",  // no scale
      "P6\n1 1\n255\nabc",       // another format
  };
  for (const char* text : bad) {
    const std::string path = dir.Write("bad.pfm", text);
    LinearImage image;
    std::string problem;
    EXPECT_FALSE(FrameCapture::ReadPFM(path, image, problem)) << text;
    EXPECT_FALSE(problem.empty());
  }

  LinearImage image;
  image.Width = image.Height = 1;
  image.RGB = {1.0f, 2.0f, 3.0f};
  std::string problem;
  const std::string missing = dir.Path() + "/no/such/folder/a.pfm";
  EXPECT_FALSE(FrameCapture::WritePFM(missing, image, problem));
  EXPECT_FALSE(FrameCapture::WritePNG(dir.Path() + "/no/a.png", 1, 1, {1, 2, 3}, problem));
  // A folder where the file should go: the temporary file is written, the
  // rename fails, and nothing is left behind.
  std::filesystem::create_directory(dir.Path() + "/taken.pfm");
  std::filesystem::create_directory(dir.Path() + "/taken.pfm/inside");
  EXPECT_FALSE(FrameCapture::WritePFM(dir.Path() + "/taken.pfm", image, problem));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/taken.pfm.writing"));
}
