#include "audio/codec/ac3_decoder.h"

#include <cmath>
#include <cstring>

#include "foundation/trace.h"

namespace {

uint16_t config_word(const int* v) {
  const uint32_t w = ((((static_cast<uint32_t>(v[0]) * 4 + v[1]) % 256) * 4 + v[2]) % 256 * 32 + v[3]) * 8 + v[4];
  return static_cast<uint16_t>(w % 65536);
}

int16_t status_of(const ac3_dec_result& r) { return static_cast<int16_t>(r.word0 >> 16); }

}  // namespace

AC3Decoder::AC3Decoder() : core_(ac3_dec_create()) {
  clear();
  channels_ = 2;
  slot_map_[2] = 1;
  const int config[5] = {2, 2, 0, 1, 2};
  std::memcpy(config_, config, sizeof config_);
  init_core();
}

AC3Decoder::~AC3Decoder() { ac3_dec_destroy(core_); }

void AC3Decoder::clear() {
  std::memset(words_, 0, sizeof words_);
  std::memset(block_out_, 0, sizeof block_out_);
  channels_ = 6;
  for (int i = 0; i < 6; ++i) slot_map_[i] = i;
  scale_[0] = scale_[1] = scale_[2] = 1.0;
  const int config[5] = {2, 0, 0, 1, 7};
  std::memcpy(config_, config, sizeof config_);
  sample_rate_ = 0;
  parsed_ = 0;
}

void AC3Decoder::reset() {
  clear();
  if (core_) ac3_dec_reset(core_);
}

void AC3Decoder::command(int16_t cmd, int16_t argument, const ac3_dec_params* p, ac3_dec_result* r) {
  const int32_t word = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(argument)) << 16 |
                                            static_cast<uint16_t>(cmd));
  ac3_dec_command(core_, r, word, p);
}

void AC3Decoder::init_core() {
  if (!core_) return;
  ac3_dec_result r;
  command(AC3_CMD_RESET, 0, nullptr, &r);
  for (int i = 0; i < 6; ++i) {
    // Slots that the conversion never reads get no pointer, which spares
    // the core their transform.
    out_ptr_[i] = slot_map_[i] < channels_ ? &block_out_[0][slot_map_[i]] : nullptr;
    stride_[i] = 6;
  }
  block_params_ = ac3_dec_params();
  block_params_.words = words_;
  block_params_.out = out_ptr_;
  block_params_.stride = stride_;
  block_params_.spare = offset_;
  block_params_.cut_scale = scale_[0];
  block_params_.boost_scale = scale_[1];
  block_params_.pcm_scale = scale_[2];
  // Compression, stereo-downmix mode, dual-mono mode, LFE and output mode,
  // highest first.
  block_params_.modes = config_word(config_);
}

void AC3Decoder::set_drc_scale(double cut, double boost) {
  scale_[0] = cut;
  scale_[1] = boost;
  block_params_.cut_scale = cut;
  block_params_.boost_scale = boost;
}

int AC3Decoder::parse_header(const uint8_t* data, int length) {
  parsed_ = 0;
  if (!data || length < 20 || !core_) return 1;
  for (int i = 0; i < 10; ++i) words_[i] = static_cast<uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
  ac3_dec_params p;
  p.words = words_;
  ac3_dec_result r;
  command(AC3_CMD_SYNC, 0, &p, &r);
  if (status_of(r) != 0 || !r.word1) return 1;
  const auto* info = static_cast<const ac3_dec_frame_info*>(r.word1);
  frame_size_ = 2 * info->word[1];
  if (sample_rate_ == 0) {
    const int fscod = info->word[0] >> 14;
    static const int kRates[4] = {48000, 44100, 32000, 0};
    sample_rate_ = kRates[fscod];
    const int reduced = (info->word[0] >> 4) & 3;
    if (reduced == 1) sample_rate_ /= 2;
    if (reduced == 2) sample_rate_ /= 4;
  }
  parsed_ = 1;
  return 0;
}

int AC3Decoder::decode_frame(const uint8_t* data, int length, int16_t* out) {
  crc_errors_ = 0;
  if (parse_header(data, length) != 0 || !out) return 0;
  if (length < frame_size_) {
    trace("ERROR (decode_frame): not enough data (%d < %d)\n", length, frame_size_);
    return 0;
  }
  const int nwords = frame_size_ / 2;
  for (int i = 10; i < nwords; ++i) words_[i] = static_cast<uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
  std::memset(words_ + nwords, 0, 4 * sizeof(uint16_t));
  const int n = nwords / 8 + nwords / 2 - 1;  // first CRC part, after the sync word

  int error = 0;
  int written = 0;
  int16_t first_crc = 0;
  for (int block = 0; block < 6; ++block) {
    ac3_dec_result r;
    if (block == 0) {
      ac3_dec_params p;
      p.words = words_ + 1;
      p.word_count = static_cast<uint16_t>(n);
      command(AC3_CMD_CRC, 0, &p, &r);
      first_crc = status_of(r);
      if (first_crc != 0) {
        error = 1;
        crc_errors_ |= 1;
      }
    } else if (block == 2) {
      ac3_dec_params p;
      p.words = words_ + n + 1;
      p.word_count = static_cast<uint16_t>(nwords - n - 1);
      command(AC3_CMD_CRC, first_crc, &p, &r);
      if (status_of(r) != 0) {
        error = 1;
        crc_errors_ |= 2;
      }
    }
    block_params_.block = static_cast<uint16_t>(block);
    command(AC3_CMD_BLOCK, static_cast<int16_t>(error), &block_params_, &r);
    block_status_[block] = status_of(r);
    written += ac3_float_to_pcm16(block_out_, out + written, channels_);
  }
  return written;
}

int ac3_float_to_pcm16(const double (*block)[6], int16_t* out, int channels) {
  int k = 0;
  for (int row = 0; row < 256; ++row) {
    for (int c = 0; c < channels; ++c) {
      const double x = block[row][c] * 32768.0;
      // floor(x + 0.5) by truncation of a positive number, once in range
      const int v = x >= 32767.0 ? 32767 : x < -32767.5 ? -32768 : static_cast<int>(x + 32768.5) - 32768;
      out[k++] = static_cast<int16_t>(v);
    }
  }
  return k;
}
