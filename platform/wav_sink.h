// A sink that writes what would be heard into a WAVE file: its clock moves
// when the caller plays queued bytes with advance().
#pragma once

#include <memory>
#include <string>

#include "platform/audio_sink.h"

class WaveFile;

class WavFileAudioSink : public ClockedAudioSink {
 public:
  explicit WavFileAudioSink(std::string path);
  ~WavFileAudioSink() override;
  bool open(int rate, int channels, int bits) override;
  // Closes the file; false when a write failed.
  bool finish();
  int64_t samples_written() const { return bytes_ / 2; }
  bool failed() const { return failed_; }

 protected:
  void heard(const uint8_t* bytes, int n) override;

 private:
  std::string path_;
  std::unique_ptr<WaveFile> file_;
  int64_t bytes_ = 0;
  bool failed_ = false;
};
