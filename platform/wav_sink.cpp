#include "platform/wav_sink.h"

#include <vector>

#include "audio/codec/wave.h"

WavFileAudioSink::WavFileAudioSink(std::string path) : path_(std::move(path)) {}
WavFileAudioSink::~WavFileAudioSink() { finish(); }

bool WavFileAudioSink::open(int rate, int channels, int bits) {
  if (!ClockedAudioSink::open(rate, channels, bits)) return false;
  file_ = std::make_unique<WaveFile>();
  if (file_->open(path_.c_str(), 0) != 0) {
    file_.reset();
    return false;
  }
  file_->set_sample_rate(rate);
  file_->set_channels(channels);
  file_->set_bits(bits);
  return true;
}

void WavFileAudioSink::heard(const uint8_t* bytes, int n) {
  if (!file_ || failed_) return;
  // The writer may swap in place: it gets its own copy.
  std::vector<uint8_t> copy(bytes, bytes + n);
  if (file_->write_pcm(copy.data(), n, 0) <= 0)
    failed_ = true;
  else
    bytes_ += n;
}

bool WavFileAudioSink::finish() {
  if (!file_) return !failed_;
  if (file_->close() != 0) failed_ = true;
  file_.reset();
  return !failed_;
}
