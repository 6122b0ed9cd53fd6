// Audio stream description exchanged by the demultiplexers, the scanners,
// the audio lists and the multiplexers.
#pragma once

#include <cstdint>

// Audio types kept in the record and derived from the stream id.
enum : int32_t {
  AUDIO_TYPE_NONE = 0,
  AUDIO_TYPE_MPEG = 1,
  AUDIO_TYPE_AC3 = 9,
  AUDIO_TYPE_LPCM = 10,
};

struct AudioInfo {
  int32_t format = 0;       // leading word; the header parsers leave it 0
  int32_t layer = 2;        // 0 for AC-3 and LPCM
  int32_t channels = 0;     // output channels (at most 2 for AC-3)
  int32_t sample_rate = 0;  // Hz
  int32_t bit_rate = 0;     // bit/s
  int32_t bits_per_sample = 16;
  int32_t frame_size = 0;  // bytes, without a padding slot
  int32_t stream_id = 0xC0;
  double length = 0.0;         // seconds
  int32_t private_stream = 0;  // carried in private stream 1 (0xBD)
  int32_t full_channels = 0;   // second private-stream indicator: the full channel count
  int32_t stream_word = 0;     // two words the stream readers carry along
  int32_t extra_word = 0;
  int32_t audio_type = AUDIO_TYPE_NONE;  // stored type: 1, 9 or 10
  int32_t pid = 0;                       // transport-stream PID, 0 when none

  // 1, 9 or 10 from the stream id (see the .cpp for the private-stream rule);
  // 0 for any other id. May differ from the stored audio_type.
  int get_audio_type() const;
  // Accepts 1, 9 and 10 only; moves the stream id into the type's range.
  void set_audio_type(int type);
  int get_samples_per_frame() const;
  double get_frame_duration() const;
  int get_frame_sample_count() const;

  // Same stream format and the same stream: by the private-stream flag when
  // set, else by PID when set, else by stream id.
  bool operator==(const AudioInfo& other) const;
};

// Careful: 1 when the two records DIFFER in audio format (layer, channels,
// rates, derived type and the carried format words); stream id, length, the
// private-stream flag and stream_word do not count. 0 when they agree.
int utils_same_audio_info(const AudioInfo& a, const AudioInfo& b);
