// One frame of PCM with its format: up to 1152 samples per channel for 1 to
// 6 channels at 8 to 48 kHz.
#pragma once

#include <cstdint>
#include <vector>

class SoundFrame {
 public:
  static constexpr int kMaxSamples = 9216;  // 6 channels x 1152

  SoundFrame(int sample_rate = 44100, int channels = 2);
  // 0 when accepted; the format stays otherwise.
  int set_param(int sample_rate, int channels);
  // Copies at most kMaxSamples samples (all channels); null or 0 empties
  // the frame. The samples kept.
  int set_pcm(const int16_t* samples, int count);

  const int16_t* pcm() const { return pcm_.empty() ? nullptr : pcm_.data(); }
  int samples() const { return samples_; }
  int channels() const { return channels_; }
  int sample_rate() const { return rate_; }
  double frame_period() const { return period_; }

 private:
  std::vector<int16_t> pcm_;
  int samples_ = 0;
  int channels_ = 2;
  int rate_ = 44100;
  double period_ = 1152.0 / 44100;
};
