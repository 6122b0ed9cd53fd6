// Sound output: a looping ring of two seconds of 16-bit PCM, filled ahead
// of the play position of an AudioSink. Playback starts once 0.1 s is
// queued, pauses itself when the writer falls behind (the writer then
// starts a fresh queue where the sink stands) and resumes when 0.1 s is
// queued again. Volume and channel selection are applied to the samples
// as they are written.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/audio_sink.h"

// Process-wide settings every write consults: volume 0..80 (80 loudest)
// and the two channel switches.
extern std::atomic<int> audio_volume;
extern std::atomic<int> audio_channel_left;
extern std::atomic<int> audio_channel_right;

class DSAudio {
 public:
  // The sink stays the caller's and must outlive the object.
  explicit DSAudio(AudioSink* sink);
  ~DSAudio();
  DSAudio(const DSAudio&) = delete;
  DSAudio& operator=(const DSAudio&) = delete;

  // *error is 1 until the ring and the sink are ready, then 0.
  void open(int sample_rate, int channels, int bits, int* error);
  void close();
  void clear();
  // Bytes written (0 when not open).
  int write(const uint8_t* pcm, int bytes);
  int get_free_space();
  // 2 the ring ran empty (an underrun now, or nothing queued), 1 fewer than `wanted` bytes free, 3 less than
  // 0.1 s queued, 0 otherwise.
  int get_buffer_state(int wanted);
  double get_queued_time();
  double get_played_time();
  void play();
  void pause();
  void stop();
  // Previous volume.
  int set_volume(int volume);
  // 3 both, 2 left only, 1 right only; (0, 0) only reads it.
  int set_channel_mode(int left, int right);
  // Attenuation in hundredths of a decibel of a volume 0..80.
  static int attenuation_of(int volume);

  bool is_open() const { return open_; }
  bool is_playing() const { return playing_; }
  bool is_paused() const { return paused_; }
  int buffer_size() const { return size_; }
  int threshold() const { return threshold_; }
  int volume() const { return volume_; }
  int64_t bytes_written() const { return written_; }
  int64_t bytes_played() const { return played_; }
  const std::vector<uint8_t>& ring() const { return ring_; }

 private:
  void resync(const char* why);
  AudioSink* sink_;
  std::vector<uint8_t> ring_;
  std::vector<int16_t> scratch_;
  bool open_ = false;
  int size_ = 0, threshold_ = 0, complement_ = 0;
  double sec_per_byte_ = 0.0;
  int64_t written_ = 0, played_ = 0;
  int write_pos_ = 0, last_play_ = 0;
  bool paused_ = false, playing_ = false;
  bool ran_empty_ = false;
  int channel_mode_ = 3, volume_ = 100;
  double gain_ = 1.0;
  int channels_ = 2, rate_ = 0, bits_ = 16;
};
