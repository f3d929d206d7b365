// Guards the mixer's sample positioning, looping and skipping rules, the write
// callback's lock protocol against a second thread, and a host going on when
// no stream can be opened.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "engine/Engine.h"
#include "scene/AudioSystem.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

constexpr int64_t NanosecondsPerFrame = 62500 / 3;  // 20833.33 ns, rounded down

// Two interleaved channels in one buffer, as most devices hand them out.
struct StereoBuffer {
  explicit StereoBuffer(int frames) : samples(2 * frames, 99.0f) {
    areas[0] = {reinterpret_cast<char*>(samples.data()), 2 * sizeof(float)};
    areas[1] = {reinterpret_cast<char*>(samples.data() + 1), 2 * sizeof(float)};
  }
  float Left(int frame) const { return samples[2 * frame]; }
  float Right(int frame) const { return samples[2 * frame + 1]; }
  std::vector<float> samples;
  SoundIoChannelArea areas[2];
};

// Frame i holds (i + 1) on the left and -(i + 1) on the right, so every
// output value names the frame it came from.
std::vector<float> Ramp(int frames) {
  std::vector<float> s;
  for (int i = 0; i < frames; ++i) {
    s.push_back(float(i + 1));
    s.push_back(-float(i + 1));
  }
  return s;
}

Sound& AddSound(int id, std::vector<float>& samples, bool loop, int64_t startFrame = 0) {
  Thing t = Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(id);
  ComponentHandler<Sound>::Gimmoo(t);
  Sound& s = *ComponentHandler<Sound>::Get(t);
  s.Playing = true;
  s.Loop = loop;
  s.Samples = samples.data();
  s.SampleCount = samples.size();
  // Half a frame past the boundary so the nanosecond conversion lands on it.
  s.StartTime = AudioSystem::start_time + startFrame * 62500 / 3 + NanosecondsPerFrame / 2;
  return s;
}

// Frames the mixed left channel came from (0 for silence).
std::vector<int> LeftSources(const StereoBuffer& b, int frames) {
  std::vector<int> out;
  for (int i = 0; i < frames; ++i) out.push_back(int(b.Left(i) * 2.0f + 0.5f) - 1);
  return out;
}

// Cases also run together in one process: no sound may outlive its samples.
// (Streams end with each case's engine.)
void ForgetSounds() {
  for (Sound& s : ComponentHandler<Sound>::Components) s.Playing = false;
  AudioSystem::SoundThings.clear();
  ComponentHandler<Sound>::GoodYumidk.clear();
  ComponentHandler<Sound>::FoodGoSad.clear();
  Thing::HereItsFunc.clear();
  AudioSystem::Backend = SoundIoBackendNone;
}

class AudioMix : public ::testing::Test {
 protected:
  void SetUp() override {
    ComponentHandler<Sound>::GoodYumidk.push_back(&AudioSystem::GoodYumidk);
    ComponentHandler<Sound>::FoodGoSad.push_back(&AudioSystem::FoodGoSad);
    AudioSystem::start_time = 1'700'000'000'000'000'000;
    AudioSystem::time = 0;
  }
  void TearDown() override { ForgetSounds(); }
};

class AudioStream : public ::testing::Test {
 protected:
  void TearDown() override { ForgetSounds(); }
};

// Stands in for libsoundio: hands out at most `chunk` frames per write and
// keeps what was written.
class FakeWriter : public AudioWriter {
 public:
  FakeWriter(int frames, int chunkFrames) : buffer(frames), chunk(chunkFrames) {}
  int BeginWrite(SoundIoChannelArea** areas, int* frameCount) override {
    if (beginError) return beginError;
    if (*frameCount > chunk) *frameCount = chunk;
    if (written + *frameCount > int(buffer.samples.size() / 2)) *frameCount = int(buffer.samples.size() / 2) - written;
    for (int c = 0; c < 2; ++c) {
      view[c] = buffer.areas[c];
      view[c].ptr += view[c].step * written;
    }
    *areas = view;
    pending = *frameCount;
    return 0;
  }
  int EndWrite() override {
    written += pending;
    return endError;
  }
  int ChannelCount() const override { return 2; }

  StereoBuffer buffer;
  SoundIoChannelArea view[2];
  int chunk;
  int written = 0;
  int pending = 0;
  int beginError = 0;
  int endError = 0;
};

}  // namespace

TEST_F(AudioMix, SilenceWithoutSoundsAndForSoundsThatCannotBePlayed) {
  std::vector<float> samples = Ramp(4);
  std::vector<float> odd = {1, 2, 3};
  AddSound(1, samples, true).Playing = false;
  AddSound(2, samples, true).Samples = nullptr;
  AddSound(3, samples, true).SampleCount = 0;
  AddSound(4, odd, true);
  StereoBuffer out(6);
  AudioSystem::Mix(out.areas, 2, 6);
  for (float v : out.samples) EXPECT_EQ(v, 0.0f) << "every channel area is cleared first";
}

TEST_F(AudioMix, LoopingSoundFollowsTheDeviceClockSeamlesslyAcrossBuffers) {
  std::vector<float> samples = Ramp(5);
  AddSound(1, samples, true);
  AudioSystem::time = 7;  // 7 mod 5: starts at frame 2
  StereoBuffer a(4), b(4);
  AudioSystem::Mix(a.areas, 2, 4);
  AudioSystem::time += 4;
  AudioSystem::Mix(b.areas, 2, 4);
  EXPECT_EQ(LeftSources(a, 4), (std::vector<int>{2, 3, 4, 0}));
  EXPECT_EQ(LeftSources(b, 4), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_FLOAT_EQ(a.Right(0), -1.5f) << "right channel at half amplitude";
}

TEST_F(AudioMix, OneShotSoundStopsAtItsEndAndStaysPlaying) {
  std::vector<float> samples = Ramp(3);
  Sound& s = AddSound(1, samples, false);
  AudioSystem::time = 1;
  StereoBuffer out(5);
  AudioSystem::Mix(out.areas, 2, 5);
  EXPECT_EQ(LeftSources(out, 5), (std::vector<int>{1, 2, -1, -1, -1})) << "no replay of its start after the end";

  AudioSystem::time = 3;
  StereoBuffer after(2);
  AudioSystem::Mix(after.areas, 2, 2);
  EXPECT_EQ(after.Left(0), 0.0f);
  EXPECT_TRUE(s.Playing);
}

TEST_F(AudioMix, TwoSoundsAddAtHalfAmplitudeEach) {
  std::vector<float> a = {1, 1, 1, 1};
  std::vector<float> b = {0.5f, -1, 0.5f, -1};
  AddSound(1, a, true);
  AddSound(2, b, true);
  StereoBuffer out(2);
  AudioSystem::Mix(out.areas, 2, 2);
  EXPECT_FLOAT_EQ(out.Left(1), 0.75f);
  EXPECT_FLOAT_EQ(out.Right(1), 0.0f);
}

TEST_F(AudioMix, SoundsStartingLaterWaitOrLoopFromTheWrappedPosition) {
  std::vector<float> samples = Ramp(7);
  AddSound(1, samples, false, 3);
  StereoBuffer early(2);
  AudioSystem::Mix(early.areas, 2, 2);
  EXPECT_EQ(LeftSources(early, 2), (std::vector<int>{-1, -1})) << "not started yet";
  AudioSystem::time = 3;
  StereoBuffer onTime(2);
  AudioSystem::Mix(onTime.areas, 2, 2);
  EXPECT_EQ(LeftSources(onTime, 2), (std::vector<int>{0, 1}));

  // A looping sound 101 frames ahead plays at once from (2^64 - 101) mod 7,
  // that is from frame 6 (2^64 = 2 mod 7).
  ComponentHandler<Sound>::HereItsBunk(Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(1));
  AudioSystem::time = 0;
  AddSound(2, samples, true, 101);
  StereoBuffer looped(2);
  AudioSystem::Mix(looped.areas, 2, 2);
  EXPECT_EQ(LeftSources(looped, 2), (std::vector<int>{6, 0}));
}

TEST_F(AudioMix, MonoDevicesGetTheLeftChannelOnlyAndExtremeClocksDoNotOverflow) {
  std::vector<float> samples = Ramp(2);
  AddSound(1, samples, true).StartTime = INT64_MIN;
  AddSound(2, samples, true).StartTime = INT64_MAX;
  std::vector<float> mono(3, 99.0f);
  SoundIoChannelArea area[1] = {{reinterpret_cast<char*>(mono.data()), sizeof(float)}};
  AudioSystem::Mix(area, 1, 3);
  for (float v : mono) EXPECT_GT(v, 0.0f) << "two looping left channels, each half of 1 or 2";
}

TEST_F(AudioMix, WriteCallbackFillsEveryFrameInChunksAndAdvancesTheClock) {
  std::vector<float> samples = Ramp(4);
  AddSound(1, samples, true);
  FakeWriter writer(10, 3);
  AudioSystem::WriteFrames(writer, 10);
  EXPECT_EQ(AudioSystem::time, 10);
  EXPECT_EQ(LeftSources(writer.buffer, 10), (std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3, 0, 1}));
  EXPECT_FALSE(AudioSystem::InAudio);
}

TEST_F(AudioMix, UnderflowEndsTheCallbackWithoutLeavingTheLockBusy) {
  FakeWriter writer(10, 3);
  writer.endError = SoundIoErrorUnderflow;
  AudioSystem::WriteFrames(writer, 10);
  EXPECT_EQ(AudioSystem::time, 3);
  EXPECT_FALSE(AudioSystem::InAudio);
  auto locked = std::async(std::launch::async, [] {
    AudioSystem::Lock();
    AudioSystem::Unlock();
  });
  EXPECT_EQ(locked.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "Lock would wait forever";
}

TEST_F(AudioMix, StreamErrorsWhileWritingEndTheProcess) {
  EXPECT_EXIT(
      {
        FakeWriter writer(4, 4);
        writer.beginError = SoundIoErrorStreaming;
        AudioSystem::WriteFrames(writer, 4);
      },
      ::testing::ExitedWithCode(1), "unrecoverable stream error: " + std::string(soundio_strerror(SoundIoErrorStreaming)));
  EXPECT_EXIT(
      {
        FakeWriter writer(4, 4);
        writer.endError = SoundIoErrorStreaming;
        AudioSystem::WriteFrames(writer, 4);
      },
      ::testing::ExitedWithCode(1), "unrecoverable stream error");
}

// The main thread swaps buffers, adds and removes Sounds while a second
// thread plays the audio thread. A half-made change would show up as a
// silent frame or, with the sanitizers, as a read of freed memory.
TEST_F(AudioMix, AudioThreadNeverSeesAHalfMadeChange) {
  std::vector<float> ones(64, 1.0f), twos(32, 2.0f);
  Sound& s = AddSound(1, ones, true);
  std::atomic<bool> stop{false};
  std::atomic<int> callbacks{0}, badFrames{0};
  std::thread audio([&] {
    while (!stop) {
      FakeWriter writer(48, 16);
      AudioSystem::WriteFrames(writer, 48);
      for (int i = 0; i < 48; ++i) {
        float v = writer.buffer.Left(i);
        if (v != 0.5f && v != 1.0f) ++badFrames;
      }
      ++callbacks;
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int i = 0; (i < 2000 || callbacks < 50) && std::chrono::steady_clock::now() < deadline; ++i) {
    AudioSystem::Lock();
    s.Playing = false;
    s.Samples = nullptr;
    // The system's own callback locks again inside this lock; the audio
    // thread must still wait for the outer Unlock.
    Thing extra = Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(100 + i % 50);
    ComponentHandler<Sound>::Gimmoo(extra);
    std::this_thread::yield();  // a chance for the audio thread to slip in
    std::vector<float>& next = (i % 2) ? ones : twos;
    s.SampleCount = next.size();
    s.Samples = next.data();
    s.Playing = true;
    AudioSystem::Unlock();
    AudioSystem::Lock();
    ComponentHandler<Sound>::HereItsBunk(extra);
    AudioSystem::Unlock();
    std::this_thread::yield();
  }
  stop = true;
  audio.join();
  EXPECT_GE(callbacks, 50);
  EXPECT_EQ(badFrames, 0);
  EXPECT_EQ(AudioSystem::SoundThings.size(), 1u);
}

TEST_F(AudioStream, DummyBackendPlaysOnLibsoundiosThreadUntilShutdown) {
  if (!soundio_have_backend(SoundIoBackendDummy)) GTEST_SKIP() << "libsoundio built without its dummy backend";
  AudioSystem::Backend = SoundIoBackendDummy;
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  AudioSystem::Attach(&engine);
  std::string started;
  {
    KestorTest::CaptureStdout out;
    started = engine.StartList[10]();
    EXPECT_NE(out.Text().find("SoundIoFormatFloat32NE\n"), std::string::npos);
  }
  ASSERT_EQ(started, "");

  std::vector<float> samples(960, 0.25f);
  Thing t = Thing::Gimme();
  ComponentHandler<Sound>::Gimmoo(t);
  AudioSystem::Lock();
  Sound& s = *ComponentHandler<Sound>::Get(t);
  s.Samples = samples.data();
  s.SampleCount = samples.size();
  s.Loop = true;
  s.StartTime = AudioSystem::Now();
  s.Playing = true;
  AudioSystem::Unlock();

  bool played = false;
  for (int i = 0; i < 200 && !played; ++i) {
    AudioSystem::Lock();
    played = AudioSystem::time > 0;
    AudioSystem::Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(played) << "the write callback never ran";

  KestorTest::CaptureStdout out;
  RunStageList(engine.ShutdownList);
  EXPECT_EQ(out.Text(), "Audio Done\n");
  EXPECT_EQ(AudioSystem::outstream, nullptr);
  EXPECT_EQ(AudioSystem::soundio, nullptr);
}

TEST_F(AudioStream, HostGoesOnWithoutSoundWhenNoBackendConnects) {
  SoundIoBackend missing = SoundIoBackendNone;
  for (int b = SoundIoBackendJack; b <= SoundIoBackendDummy; ++b) {
    if (!soundio_have_backend(SoundIoBackend(b))) missing = SoundIoBackend(b);
  }
  if (missing == SoundIoBackendNone) GTEST_SKIP() << "every backend is built in";
  AudioSystem::Backend = missing;
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  AudioSystem::Attach(&engine);
  testing::internal::CaptureStderr();
  std::string result = engine.StartList[10]();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, "(SOUNDIO)Unable to connect");
  EXPECT_EQ(err, std::string(soundio_strerror(SoundIoErrorBackendUnavailable)) + "\n");

  // The frame loop and the shutdown list still run as usual.
  KestorTest::CaptureStdout out;
  RunStageList(engine.UpdateList, KestorEngineFlyHahaJk::SkippedUpdateIndex);
  RunStageList(engine.ShutdownList);
  EXPECT_EQ(out.Text(), "Audio Done\n");
}

TEST_F(AudioStream, DefaultBackendEitherStartsOrReportsAndShutsDownCleanly) {
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  AudioSystem::Attach(&engine);
  std::string result;
  {
    KestorTest::CaptureStdout out;
    result = engine.StartList[10]();
    std::string banner;
    for (int i = 0; i < 8; ++i) banner += "WHUBHUFEUIFEBU INSTANCING INSTANCING INSTANCING INSTANCE\n";
    EXPECT_EQ(out.Text().substr(0, banner.size()), banner);
  }
  if (!result.empty()) {
    EXPECT_EQ(result.rfind("(SOUNDIO)", 0), 0u) << result;
  }
  RunStageList(engine.ShutdownList);
  EXPECT_EQ(AudioSystem::outstream, nullptr);
}
