// Silent audio frames of one stream format, for the multiplexers and
// demultiplexers that fill gaps around cuts: MPEG audio (layers I-III),
// AC-3 and linear PCM.
#pragma once

#include <cstdint>
#include <memory>

class AudioEncoder;

class AudioMuteFrame {
 public:
  enum Type : int32_t { kNone = 0, kMpeg = 1, kAC3 = 9, kLPCM = 10 };

  AudioMuteFrame();
  ~AudioMuteFrame();
  AudioMuteFrame(const AudioMuteFrame&) = delete;
  AudioMuteFrame& operator=(const AudioMuteFrame&) = delete;

  // 0 when the format is supported, else 1 with the object cleared.
  int init(int type, int sample_rate, int channels, int bit_rate, int layer);
  // One silent frame into out; its size, 0 on failure.
  int next_frame(uint8_t* out, int size);
  // Bytes of one frame (for layers I and II: of one frame of 16-bit PCM, a
  // size that holds the coded frame too); 0 when not set.
  int get_frame_size() const;
  // One zeroed LPCM frame; its size, 0 with a null or short buffer.
  int get_pcm_frame(uint8_t* out, int size) const;
  void free();

  // Holder functions on a pointer slot.
  static void create(AudioMuteFrame** slot);
  static void destroy(AudioMuteFrame** slot);
  static int init_held(AudioMuteFrame** slot, int type, int sample_rate, int channels, int bit_rate, int layer);
  static int get_frame_held(AudioMuteFrame** slot, uint8_t* out, int size);

  int32_t type = kNone;
  int32_t sample_rate = 0;
  int32_t channels = 0;
  int32_t bit_rate = 0;  // bit/s in use
  int32_t layer = 0;

 private:
  // Layers I and II: silent frames of the encoder, padded as its frames are.
  std::unique_ptr<AudioEncoder> encoder_;
};

// Layer III: stored templates (header and zero side information) filled to
// the frame size with 0x55.
int mp3_mute_frame(int sample_rate, int channels, int bit_rate, uint8_t* out, int size);
int mp3_mute_is_supported(int sample_rate, int channels, int bit_rate);
int mp3_mute_get_frame_size(int sample_rate, int channels, int bit_rate);

// The layer III template rows, for tests.
struct Mp3MuteRow {
  int32_t sample_rate, channels, bit_rate, frame_size, template_bytes;
  uint8_t header[4];
};
extern const Mp3MuteRow mp3_mute_frame_table[62];

// AC-3 silent frames: a stored frame when one exists for the format, else
// one computed from a base frame (six channels only).
int ac3_mute_frame(int sample_rate, int channels, int bit_rate, uint8_t* out, int size);
int ac3_mute_is_supported(int sample_rate, int channels, int bit_rate);
int ac3_mute_get_frame_size(int sample_rate, int channels, int bit_rate);
// The stored frames alone: 0 when none is stored for the format.
int ac3_data_get(int sample_rate, int channels, int bit_rate, uint8_t* out, int size);
int ac3_data_get_size(int sample_rate, int channels, int bit_rate);
