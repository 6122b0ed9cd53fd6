#include "app/audio/audio_config.h"

#include <algorithm>

#include "platform/dsaudio.h"

AudioConfigModel::AudioConfigModel()
    : left_(audio_channel_left.load() ? 1 : 0), right_(audio_channel_right.load() ? 1 : 0), volume_(audio_volume.load()) {}

void AudioConfigModel::toggle_left() {
  left_ = !left_;
  audio_channel_left = left_;
  if (!left_ && !right_) {
    right_ = 1;
    audio_channel_right = 1;
  }
}

void AudioConfigModel::toggle_right() {
  right_ = !right_;
  audio_channel_right = right_;
  if (!left_ && !right_) {
    left_ = 1;
    audio_channel_left = 1;
  }
}

void AudioConfigModel::set_volume(int v) {
  volume_ = std::clamp(v, 0, 80);
  if (volume_ != audio_volume.load()) {
    audio_volume = volume_;
    if (on_volume_changed) on_volume_changed();
  }
}
