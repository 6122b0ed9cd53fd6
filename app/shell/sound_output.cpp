#include "app/shell/sound_output.h"

#include <cstdlib>
#include <mutex>

#include "platform/paced_wav_sink.h"
#include "platform/services.h"

namespace {

std::mutex& lock() {
  static std::mutex m;
  return m;
}

AudioSinkFactory& device() {
  static AudioSinkFactory f;
  return f;
}

}  // namespace

void set_audio_device_factory(AudioSinkFactory factory) {
  std::lock_guard<std::mutex> g(lock());
  device() = std::move(factory);
}

std::unique_ptr<AudioSink> make_audio_sink() {
  const char* file = std::getenv("TAMSEL_SOUND_FILE");
  if (file && *file) return std::make_unique<PacedWavSink>(file, platform().clock);
  AudioSinkFactory f;
  {
    std::lock_guard<std::mutex> g(lock());
    f = device();
  }
  return f ? f() : nullptr;
}
