#include "scene/AudioSystem.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "engine/Engine.h"

namespace KestorEngine {

namespace {

// Stream errors while writing cannot be recovered from. The process ends from
// the audio thread, so static destructors must not run under the main
// thread's feet (and `m` is held): flush what was printed and leave at once.
[[noreturn]] void StreamFailed(int error) {
  std::fprintf(stderr, "unrecoverable stream error: %s\n", soundio_strerror(error));
  std::cout.flush();
  std::fflush(nullptr);
  std::_Exit(1);
}

// Nanoseconds to frames at 48 kHz: ns * 48000 / 1e9 == ns * 3 / 62500. Split
// so that no intermediate overflows for any clock value; the quotient equals
// the one-step signed division.
int64_t NanosecondsToFrames(int64_t ns) {
  return (ns / 62500) * 3 + ((ns % 62500) * 3) / 62500;
}

// Difference of two clock readings without signed overflow; absurd inputs
// wrap to an absurd but harmless position.
int64_t WrappingDifference(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

void AddSound(const Sound& sound, SoundIoChannelArea* areas, int mixedChannels, int frameCount) {
  const uint64_t n = sound.SampleCount / 2;
  // The position is truncated to 32 bits before it meets the device clock.
  const int32_t q = static_cast<int32_t>(NanosecondsToFrames(WrappingDifference(sound.StartTime, AudioSystem::start_time)));
  uint64_t p = static_cast<uint64_t>(AudioSystem::time) - static_cast<uint64_t>(static_cast<int64_t>(q));
  if (sound.Loop) {
    p %= n;
  } else if (p >= n) {
    return;  // finished, or (p wrapped from negative) not started yet
  }
  for (int frame = 0; frame < frameCount; ++frame) {
    for (int channel = 0; channel < mixedChannels; ++channel) {
      float* out = reinterpret_cast<float*>(areas[channel].ptr + areas[channel].step * frame);
      *out += sound.Samples[2 * p + channel] * 0.5f;
    }
    if (++p == n) {
      // A one-shot sound ends here; wrapping would replay its start for the
      // rest of the device buffer.
      if (!sound.Loop) return;
      p = 0;
    }
  }
}

class StreamWriter : public AudioWriter {
 public:
  explicit StreamWriter(SoundIoOutStream* s) : stream(s) {}
  int BeginWrite(SoundIoChannelArea** areas, int* frameCount) override {
    return soundio_outstream_begin_write(stream, areas, frameCount);
  }
  int EndWrite() override { return soundio_outstream_end_write(stream); }
  int ChannelCount() const override { return stream->layout.channel_count; }

 private:
  SoundIoOutStream* stream;
};

}  // namespace

void AudioSystem::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->StartList[10] = [] { return Butyeahmaybenot(); };
  engine->UpdateList[50] = [engine] { return ICanHearPianoOutsideMyWindow(engine); };
  engine->ShutdownList[5] = [] { return SeeYa(); };
  Thing::HereItsFunc.push_back(&ComponentHandler<Sound>::HereItsBunk);
  ComponentHandler<Sound>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<Sound>::FoodGoSad.push_back(&FoodGoSad);
}

std::string AudioSystem::Connect() {
  soundio = soundio_create();
  if (!soundio) {
    std::fprintf(stderr, "out of memory\n");
    return "(SOUNDIO)Out of memory";
  }
  int err = Backend == SoundIoBackendNone ? soundio_connect(soundio) : soundio_connect_backend(soundio, Backend);
  if (err) {
    // libsoundio asserts on every later call without a backend, so there is
    // nothing to carry on with: the host runs without sound.
    std::fprintf(stderr, "%s\n", soundio_strerror(err));
    return "(SOUNDIO)Unable to connect";
  }
  std::fprintf(stderr, "Backend: %s\n", soundio_backend_name(soundio->current_backend));
  soundio_flush_events(soundio);
  return "";
}

std::string AudioSystem::OpenDefaultDevice() {
  const int defaultIndex = soundio_default_output_device_index(soundio);
  const int deviceCount = soundio_output_device_count(soundio);
  std::fprintf(stderr, "\n--------Output Devices--------\n\n");
  for (int i = 0; i < deviceCount; ++i) {
    SoundIoDevice* listed = soundio_get_output_device(soundio, i);
    if (!listed) continue;
    std::fprintf(stderr, "%s%s%s\n", listed->name, i == defaultIndex ? " (default)" : "", listed->is_raw ? " (raw)" : "");
    soundio_device_unref(listed);
  }

  if (defaultIndex < 0) {
    std::fprintf(stderr, "Output device not found\n");
    return "(SOUNDIO)Output device not found";
  }
  device = soundio_get_output_device(soundio, defaultIndex);
  if (!device) {
    std::fprintf(stderr, "out of memory\n");
    return "(SOUNDIO)Out of memory";
  }
  std::fprintf(stderr, "Output device: %s\n", device->name);
  if (device->probe_error) {
    std::fprintf(stderr, "Cannot probe device: %s\n", soundio_strerror(device->probe_error));
    return "(SOUNDIO)Cannot probe device";
  }
  return "";
}

std::string AudioSystem::OpenStream() {
  int err = 0;
  outstream = soundio_outstream_create(device);
  if (!outstream) {
    std::fprintf(stderr, "out of memory\n");
    return "(SOUNDIO)Out of memory";
  }
  outstream->write_callback = &callmeplezohgodwhy;
  outstream->underflow_callback = &underflow_callback;
  outstream->name = "Ruduvezovi";
  outstream->sample_rate = SampleRate;
  outstream->software_latency = 0;

  if (soundio_device_supports_format(device, SoundIoFormatFloat32NE)) {
    outstream->format = SoundIoFormatFloat32NE;
    std::cout << "SoundIoFormatFloat32NE" << std::endl;
  } else {
    std::fprintf(stderr, "No suitable device format available. Soz.\n");
    return "(SOUNDIO)No suitable device format available. Soz";
  }

  if ((err = soundio_outstream_open(outstream))) {
    std::fprintf(stderr, "unable to open device: %s", soundio_strerror(err));
    return "(SOUNDIO)Unable to open device";
  }
  std::fprintf(stderr, "Software latency: %f\n", outstream->software_latency);
  if (outstream->layout_error) {
    std::fprintf(stderr, "unable to set channel layout: %s\n", soundio_strerror(outstream->layout_error));
  }
  return "";
}

std::string AudioSystem::StartStream() {
  int err = 0;
  // The clock is set before the audio thread exists: its first callback may
  // run before soundio_outstream_start returns.
  start_time = Now();
  time = 0;
  if ((err = soundio_outstream_start(outstream))) {
    std::fprintf(stderr, "unable to start device: %s\n", soundio_strerror(err));
    return "(SOUNDIO)Unable to start device";
  }
  soundio_flush_events(soundio);
  return "";
}

std::string AudioSystem::Butyeahmaybenot() {
  for (int i = 0; i < 8; ++i) std::cout << "WHUBHUFEUIFEBU INSTANCING INSTANCING INSTANCING INSTANCE" << std::endl;
  for (std::string (*step)() : {&Connect, &OpenDefaultDevice, &OpenStream, &StartStream}) {
    std::string problem = step();
    if (!problem.empty()) return problem;
  }
  return "";
}

std::string AudioSystem::ICanHearPianoOutsideMyWindow(KestorEngineFlyHahaJk*) { return ""; }

std::string AudioSystem::SeeYa() {
  std::cout << "Audio Done" << std::endl;
  // Destroying the stream joins the audio thread, so it goes first.
  if (outstream) soundio_outstream_destroy(outstream);
  outstream = nullptr;
  if (device) soundio_device_unref(device);
  device = nullptr;
  if (soundio) soundio_destroy(soundio);
  soundio = nullptr;
  return "";
}

void AudioSystem::Lock() {
  std::unique_lock<std::mutex> lock(m);
  if (LockDepth++ > 0) return;
  cv.wait(lock, [] { return !InAudio; });
  Locked = true;
}

void AudioSystem::Unlock() {
  {
    std::lock_guard<std::mutex> lock(m);
    if (LockDepth == 0) {
      std::fprintf(stderr, "AudioSystem::Unlock without Lock\n");
      return;
    }
    if (--LockDepth > 0) return;
    Locked = false;
  }
  cv.notify_one();
}

void AudioSystem::GoodYumidk(Thing t) {
  if (!ComponentHandler<Sound>::Get(t)) return;
  Lock();
  SoundThings.push_back(t);
  Unlock();
}

void AudioSystem::FoodGoSad(Thing t) {
  if (ComponentHandler<Sound>::Get(t)) return;
  Lock();
  for (auto it = SoundThings.begin(); it != SoundThings.end(); ++it) {
    if (*it == t) {
      SoundThings.erase(it);
      break;
    }
  }
  Unlock();
}

void AudioSystem::callmeplezohgodwhy(SoundIoOutStream* stream, int frameCountMin, int frameCountMax) {
  StreamWriter writer(stream);
  WriteFrames(writer, frameCountMax);
}

void AudioSystem::underflow_callback(SoundIoOutStream*) { std::cout << "XRUN" << std::endl; }

void AudioSystem::WriteFrames(AudioWriter& writer, int frameCountMax) {
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [] { return !Locked; });
    InAudio = true;
    int framesLeft = frameCountMax;
    while (framesLeft > 0) {
      int frameCount = framesLeft;
      SoundIoChannelArea* areas = nullptr;
      if (int err = writer.BeginWrite(&areas, &frameCount)) StreamFailed(err);
      if (frameCount == 0) break;
      Mix(areas, writer.ChannelCount(), frameCount);
      time += frameCount;
      if (int err = writer.EndWrite()) {
        // An underflow only ends this callback. InAudio is still cleared and
        // waiters woken: if no further callback came, Lock would hang.
        if (err == SoundIoErrorUnderflow) break;
        StreamFailed(err);
      }
      framesLeft -= frameCount;
    }
    InAudio = false;
  }
  cv.notify_one();
}

void AudioSystem::Mix(SoundIoChannelArea* areas, int channelCount, int frameCount) {
  for (int channel = 0; channel < channelCount; ++channel) {
    for (int frame = 0; frame < frameCount; ++frame) {
      *reinterpret_cast<float*>(areas[channel].ptr + areas[channel].step * frame) = 0.0f;
    }
  }
  const int mixedChannels = channelCount < 2 ? channelCount : 2;
  if (mixedChannels == 0) return;
  for (Thing t : SoundThings) {
    const Sound* sound = ComponentHandler<Sound>::Get(t);
    // A listed Thing without a Sound breaks the list's invariant; skipping it
    // keeps the audio thread alive. Odd counts have no whole last frame.
    if (!sound || !sound->Playing || !sound->Samples || sound->SampleCount == 0 || sound->SampleCount % 2 != 0) continue;
    AddSound(*sound, areas, mixedChannels, frameCount);
  }
}

int64_t AudioSystem::Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace KestorEngine
