// MPEG-1 audio layer I/II encoder: polyphase analysis, scale factors,
// psychoacoustic model, iterative bit allocation, packing with optional
// CRC, the padding rule, and silent frames.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/codec/mpaenc_tables.h"

class AudioEncoderPsyModel1;
class AudioEncoderPsyModel2;

class AudioEncoder {
 public:
  // Out-of-range settings are replaced by defaults (traced); never fails.
  AudioEncoder(int sample_rate, int channels, int bit_rate, int layer, int model);
  ~AudioEncoder();
  AudioEncoder(const AudioEncoder&) = delete;
  AudioEncoder& operator=(const AudioEncoder&) = delete;

  // Largest frame in bytes (a padded frame).
  int max_frame_bytes() const { return (whole_slots_ + 1) * bits_per_slot_ / 8; }
  // Size of an unpadded frame.
  int frame_bytes() const { return whole_slots_ * bits_per_slot_ / 8; }
  int samples_per_frame() const { return samples_per_frame_; }

  // Turns the CRC on or off for the frames that follow.
  void set_error_protection(bool on) { header_.error_protection = on ? 1 : 0; }

  // Copies one frame of interleaved PCM (count frames of `channels()`
  // samples each) into the input buffer; fewer than a frame's samples are
  // padded with silence. Returns the frames taken.
  int pcm_load_frame(const int16_t* samples, int count);
  // Loads samples when given (count in frames, see pcm_load_frame), then
  // encodes one frame into out; returns the bytes written, 0 when out is
  // smaller than the frame.
  int encode_next_frame(uint8_t* out, int out_size, const int16_t* samples, int count);
  // One silent frame of nominal size with its padding bit; 0 on failure.
  int encode_silent_frame(uint8_t* out, int out_size);

  int sample_rate() const { return sample_rate_; }
  int channels() const { return channels_; }
  int bit_rate() const { return bit_rate_; }
  int layer() const { return header_.layer; }
  int model() const { return model_; }
  int sblimit() const { return sblimit_; }
  int table_number() const { return table_number_; }
  // Padding bit of the last frame made.
  int padding() const { return header_.padding; }

  struct Header {
    int id = 1, layer = 2, error_protection = 0, bitrate_index = 0, sampling_frequency = 0, padding = 0,
        private_bit = 0, mode = 0, mode_extension = 0, copyright = 0, original = 0, emphasis = 0;
  };
  const Header& header() const { return header_; }

 private:
  void init_info(int sample_rate, int channels, int bit_rate, int layer, int model);
  void create_filter();
  void decide_padding();
  void filter_bank();
  void scale_factors();
  void choose_scfsi();
  int allocate_bits(int frame_bits);
  int write_frame(uint8_t* out, int out_size, int frame_bits);

  Header header_;
  int model_ = 2, sample_rate_ = 44100, channels_ = 2, bit_rate_ = 128000, header_channels_ = 2;
  int sblimit_ = 32, jsbound_ = 32, table_number_ = -1;
  int bits_per_slot_ = 8, samples_per_frame_ = 1152;
  double average_slots_ = 0.0, fraction_ = 0.0, slot_lag_ = 0.0;
  int whole_slots_ = 0;
  int blocks_ = 36, parts_ = 3;

  MpaAllocTable alloc_table_{};
  int16_t pcm_[2][1152] = {};
  double history_[2][1024] = {};
  int history_pos_[2] = {};
  double window_[512];
  double matrix_[32][64];
  double subband_[2][36][32] = {};
  int scf_[2][3][32] = {};
  int scfsi_[2][32] = {};
  int alloc_[2][32] = {};
  double smr_[2][32] = {};
  double max_scale_[2][32] = {};
  std::unique_ptr<AudioEncoderPsyModel1> model1_;
  std::unique_ptr<AudioEncoderPsyModel2> model2_;
  std::vector<uint8_t> silent_;
};
