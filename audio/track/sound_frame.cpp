#include "audio/track/sound_frame.h"

#include <algorithm>

#include "foundation/trace.h"

SoundFrame::SoundFrame(int sample_rate, int channels) : pcm_(kMaxSamples) {
  samples_ = channels_ * 1152;
  if (set_param(sample_rate, channels) != 0) set_param(44100, 2);
}

int SoundFrame::set_param(int sample_rate, int channels) {
  if (channels < 1 || channels > 6 || sample_rate < 8000 || sample_rate > 48000) {
    trace("ERROR (set_param): invalid param, sample_rate = %.3f, channels = %d\n", double(sample_rate), channels);
    return 1;
  }
  rate_ = sample_rate;
  channels_ = channels;
  samples_ = channels * 1152;
  if (int(pcm_.size()) < samples_) pcm_.resize(size_t(samples_));
  period_ = double(samples_) / (double(rate_) * channels_);
  return 0;
}

int SoundFrame::set_pcm(const int16_t* samples, int count) {
  if (!samples || count <= 0) {
    pcm_.clear();
    pcm_.shrink_to_fit();
    samples_ = 0;
    period_ = 0.0;
    return 0;
  }
  if (count > kMaxSamples) {
    trace("SoundFrame::set_pcm (): n_pcm = %d > %d = maximum frame size\n", count, kMaxSamples);
    count = kMaxSamples;
  }
  if (int(pcm_.size()) < count) pcm_.resize(size_t(count));
  std::copy_n(samples, count, pcm_.begin());
  samples_ = count;
  period_ = double(count) / (double(rate_) * channels_);
  return count;
}
