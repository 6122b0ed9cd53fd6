#include "platform/dsaudio.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/trace.h"

std::atomic<int> audio_volume{40};
std::atomic<int> audio_channel_left{1};
std::atomic<int> audio_channel_right{1};

DSAudio::DSAudio(AudioSink* sink) : sink_(sink) { clear(); }

DSAudio::~DSAudio() { close(); }

void DSAudio::clear() {
  ring_.clear();
  open_ = false;
  size_ = threshold_ = complement_ = 0;
  sec_per_byte_ = 0.0;
  written_ = played_ = 0;
  write_pos_ = last_play_ = 0;
  paused_ = playing_ = false;
  channels_ = 2;
  rate_ = 0;
  bits_ = 16;
  volume_ = 100;  // differs from every setting: the first write applies it
  gain_ = 1.0;
  const int l = audio_channel_left.load(), r = audio_channel_right.load();
  channel_mode_ = l && r ? 3 : l ? 2 : 1;
}

void DSAudio::open(int sample_rate, int channels, int bits, int* error) {
  close();
  if (error) *error = 1;
  if (sample_rate <= 0 || channels <= 0 || bits != 16) {
    trace("dsaudio_error_message (): %s\n", "invalid input");
    return;
  }
  if (!sink_ || !sink_->open(sample_rate, channels, bits)) {
    trace("dsaudio_error_message (): %s\n        error ID = %d\n        \"%s\"\n", "CreateSoundBuffer ()", 1,
          "no sound driver");
    return;
  }
  rate_ = sample_rate;
  channels_ = channels;
  bits_ = bits;
  const int block = channels * bits / 8;
  const int per_second = block * sample_rate;
  size_ = per_second * 2000 / 1000;
  ring_.assign(size_t(size_), 0);
  sink_->attach(ring_.data(), size_);
  threshold_ = per_second / 10;
  complement_ = size_ - threshold_;
  sec_per_byte_ = 1.0 / per_second;
  open_ = true;
  if (error) *error = 0;
}

void DSAudio::close() {
  if (open_) {
    stop();
    if (sink_) sink_->stop();
  }
  clear();
}

int DSAudio::attenuation_of(int volume) {
  volume = std::clamp(volume, 0, 80);
  int a = 1 - int(std::trunc(std::pow(10.0, (80 - volume) * 0.05)));
  if (a > 0) a = 0;
  if (a < -10000) a = -10000;
  return a;
}

int DSAudio::set_volume(int volume) {
  const int prev = volume_;
  if (!open_ || volume == volume_) return prev;
  volume_ = std::clamp(volume, 0, 80);
  const int a = attenuation_of(volume_);
  gain_ = a == 0 ? 1.0 : std::pow(10.0, a / 2000.0);
  return prev;
}

int DSAudio::set_channel_mode(int left, int right) {
  if (left || right) channel_mode_ = (left ? 2 : 0) | (right ? 1 : 0);
  return channel_mode_;
}

int DSAudio::write(const uint8_t* pcm, int bytes) {
  if (!open_ || !pcm || bytes <= 0) return 0;
  // Never more than the ring holds: older queued bytes would be overwritten.
  bytes = std::min(bytes, size_);
  bytes -= bytes % (channels_ * 2);
  set_channel_mode(audio_channel_left.load(), audio_channel_right.load());
  const int v = audio_volume.load();
  if (v != volume_) set_volume(v);
  const bool mix = channels_ == 2 && channel_mode_ != 3;
  const uint8_t* src = pcm;
  if (mix || gain_ != 1.0) {
    const int n = bytes / 2;
    scratch_.resize(size_t(n));
    int16_t* out = scratch_.data();
    std::memcpy(out, pcm, size_t(n) * 2);
    if (mix) {
      // One channel on both sides: the right one when it is on.
      const int from = channel_mode_ & 1 ? 1 : 0;
      for (int i = 0; i + 1 < n; i += 2) {
        const int16_t one = out[i + from];
        out[i] = out[i + 1] = one;
      }
    }
    if (gain_ != 1.0)
      for (int i = 0; i < n; ++i) out[i] = int16_t(std::lround(out[i] * gain_));
    src = reinterpret_cast<const uint8_t*>(scratch_.data());
  }
  int done = 0;
  while (done < bytes) {
    const int k = std::min(bytes - done, size_ - write_pos_);  // second region at the wrap
    std::memcpy(ring_.data() + write_pos_, src + done, size_t(k));
    done += k;
    write_pos_ = (write_pos_ + k) % size_;
  }
  written_ += bytes;
  if (paused_ && double(written_ - played_) * sec_per_byte_ >= 0.1 - 1e-12) play();
  return bytes;
}

void DSAudio::resync(const char* why) {
  trace("DSAudio::get_free_space (): %s\n", why);
  ran_empty_ = true;
  pause();
  played_ = written_;
  // The writer starts its fresh queue where the sink stands, so nothing
  // stale is heard when playback resumes.
  write_pos_ = last_play_;
}

int DSAudio::get_free_space() {
  if (!open_) return 0;
  const int play = int(sink_->bytes_consumed() % uint64_t(size_));
  const int lead = std::clamp(sink_->lead_bytes(), 0, size_ - 1);
  const int dev_write = (play + lead) % size_;
  // The write position inside the span the device is about to play.
  const bool inside = play <= dev_write ? (write_pos_ > play && write_pos_ < dev_write)
                                        : (write_pos_ > play || write_pos_ < dev_write);
  if (playing_ && inside) {
    last_play_ = play;
    resync("Wrap-around #1");
    return size_;
  }
  played_ += play >= last_play_ ? play - last_play_ : play + size_ - last_play_;
  last_play_ = play;
  if (played_ > written_) {
    resync("Wrap-around #2");
    return size_;
  }
  int free = size_ - int(written_ - played_);
  if (free < threshold_) free = 0;
  if (free > complement_) free = size_;
  return free;
}

int DSAudio::get_buffer_state(int wanted) {
  ran_empty_ = false;
  const int free = get_free_space();
  if (ran_empty_ || written_ == played_) return 2;
  if (free < wanted) return 1;
  if (double(written_ - played_) * sec_per_byte_ < 0.1) return 3;
  return 0;
}

double DSAudio::get_queued_time() {
  return double(size_ - get_free_space()) * sec_per_byte_;
}

double DSAudio::get_played_time() { return double(std::max<int64_t>(played_, 0)) * sec_per_byte_; }

void DSAudio::play() {
  if (!open_ || playing_) return;
  sink_->start();
  playing_ = true;
  paused_ = false;
}

void DSAudio::pause() {
  if (!open_ || !playing_ || paused_) return;
  sink_->suspend();
  paused_ = true;
  playing_ = false;
}

void DSAudio::stop() {
  if (!open_ || !(playing_ || paused_)) return;
  sink_->stop();
  playing_ = paused_ = false;
  written_ = played_ = 0;
  write_pos_ = last_play_ = 0;
  std::fill(ring_.begin(), ring_.end(), uint8_t(0));
}
