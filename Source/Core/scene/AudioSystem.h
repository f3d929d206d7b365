#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <soundio/soundio.h>

#include "engine/Component.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;

// A buffer of interleaved stereo samples placed on the system clock. The
// samples belong to whoever fills the component; change any field only
// between AudioSystem::Lock and AudioSystem::Unlock while a stream runs.
class Sound : public Component {
 public:
  bool Loop = false;            // wrap at the end instead of falling silent
  bool Playing = false;         // mixed only while set
  float* Samples = nullptr;     // left, right, left, right ... (not owned)
  uint64_t SampleCount = 0;     // floats in Samples; frames are half of it
  int64_t StartTime = 0;        // system-clock nanoseconds of frame 0
};

// The device side of one write callback. The running stream wraps
// libsoundio's begin/end write; tests put a fake in its place.
class AudioWriter {
 public:
  virtual ~AudioWriter() = default;
  // Same contract as soundio_outstream_begin_write.
  virtual int BeginWrite(SoundIoChannelArea** areas, int* frameCount) = 0;
  virtual int EndWrite() = 0;
  virtual int ChannelCount() const = 0;
};

// Plays every Sound through the default output device: 48 kHz, 32-bit float,
// mixed on libsoundio's own thread. The main thread and the audio thread meet
// only under `m`, `cv`, `InAudio` and `Locked`.
class AudioSystem {
 public:
  static constexpr int SampleRate = 48000;

  static void Attach(KestorEngineFlyHahaJk* engine);

  // Start slot: opens and starts the stream. Empty on success, otherwise a
  // text starting with "(SOUNDIO)"; a host without sound simply goes on.
  static std::string Butyeahmaybenot();
  static std::string ICanHearPianoOutsideMyWindow(KestorEngineFlyHahaJk* engine);
  static std::string SeeYa();

  // Bracket every change of Sound fields or SoundThings made outside the
  // audio thread. Pairs may nest; the audio thread waits until the outermost
  // Unlock.
  static void Lock();
  static void Unlock();

  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);

  static void callmeplezohgodwhy(SoundIoOutStream* stream, int frameCountMin, int frameCountMax);
  static void underflow_callback(SoundIoOutStream* stream);

  // Body of the write callback: fills up to frameCountMax frames through
  // `writer` under the audio lock and advances `time`.
  static void WriteFrames(AudioWriter& writer, int frameCountMax);
  // Zeroes frameCount frames of every area and adds the playing sounds into
  // the first two (one on a mono device), each read at device frame `time`.
  static void Mix(SoundIoChannelArea* areas, int channelCount, int frameCount);

  // The system clock in nanoseconds, the unit of Sound::StartTime.
  static int64_t Now();

  // Backend to connect to; SoundIoBackendNone lets libsoundio try each in
  // turn. Set before the start list runs (tests pick the dummy backend).
  static inline SoundIoBackend Backend = SoundIoBackendNone;

  static inline std::vector<Thing> SoundThings;
  static inline SoundIo* soundio = nullptr;
  static inline SoundIoDevice* device = nullptr;
  static inline SoundIoOutStream* outstream = nullptr;
  static inline int64_t time = 0;        // frames written since the stream started
  static inline int64_t start_time = 0;  // system-clock nanoseconds at stream start
  static inline std::mutex m;
  static inline std::condition_variable cv;
  static inline bool InAudio = false;
  static inline bool Locked = false;

 private:
  // The steps of starting the sound; each says what failed, or "".
  static std::string Connect();
  static std::string OpenDefaultDevice();
  static std::string OpenStream();
  static std::string StartStream();

  static inline int LockDepth = 0;  // guarded by m
};

}  // namespace KestorEngine
