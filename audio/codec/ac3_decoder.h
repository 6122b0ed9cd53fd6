// AC-3 frame to interleaved 16-bit stereo: drives the decoding core over one
// frame (sync and bit stream information, both CRC parts, six blocks).
#pragma once

#include <cstdint>

#include "audio/codec/ac3_core.h"

class AC3Decoder {
 public:
  AC3Decoder();
  ~AC3Decoder();
  AC3Decoder(const AC3Decoder&) = delete;
  AC3Decoder& operator=(const AC3Decoder&) = delete;

  void clear();
  // clear, then the core's reset.
  void reset();
  void init_core();
  // 0 with the frame size known (and the sample rate, from the first frame);
  // 1 for null or short data or a header the core refuses.
  int parse_header(const uint8_t* data, int length);
  // One whole frame at data into out (get_pcm_samples values); the count
  // written, or 0.
  int decode_frame(const uint8_t* data, int length, int16_t* out);
  int get_pcm_samples() const { return channels_ * 1536; }

  // Dynamic range scale factors (1.0 full, 0.0 off).
  void set_drc_scale(double cut, double boost);

  int frame_size() const { return frame_size_; }
  int sample_rate() const { return sample_rate_; }
  // CRC parts that failed in the last decode_frame: bit 0 first, bit 1 second.
  int crc_errors() const { return crc_errors_; }
  // Status of each block of the last decode_frame (AC3BlockStatus).
  const int16_t* block_status() const { return block_status_; }
  ac3_dec_state* core() { return core_; }

 private:
  void command(int16_t cmd, int16_t argument, const ac3_dec_params* p, ac3_dec_result* r);

  ac3_dec_state* core_;
  uint16_t words_[1920 + 4];
  double block_out_[256][6];
  int channels_ = 2;
  int slot_map_[6] = {0, 1, 1, 3, 4, 5};
  double scale_[3] = {1.0, 1.0, 1.0};  // cut, boost, PCM
  int config_[5] = {2, 2, 0, 1, 2};
  double* out_ptr_[6];
  int16_t stride_[6];
  int16_t offset_[36] = {};
  ac3_dec_params block_params_;
  int parsed_ = 0;
  int frame_size_ = 0;
  int sample_rate_ = 0;
  int crc_errors_ = 0;
  int16_t block_status_[6] = {};
};

// One block of doubles ([256][6]) to interleaved 16-bit, the first channels
// slots of each row; returns channels x 256.
int ac3_float_to_pcm16(const double (*block)[6], int16_t* out, int channels);
