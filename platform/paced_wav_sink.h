// A WAVE-file sink played at the pace of a clock: at any moment the file
// holds what a listener would have heard by then, so a run of the program
// can be heard (and checked) without a sound device.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/wav_sink.h"

class PacedWavSink : public WavFileAudioSink {
 public:
  // The clock stays the caller's.
  PacedWavSink(std::string path, Clock* clock) : WavFileAudioSink(std::move(path)), clock_(clock) {}
  void start() override;
  void suspend() override;
  void stop() override;
  uint64_t bytes_consumed() override;

 private:
  void catch_up();
  Clock* clock_;
  int64_t started_ms_ = 0;
  uint64_t consumed_at_start_ = 0;
};
