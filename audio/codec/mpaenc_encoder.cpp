#include "audio/codec/mpaenc_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/codec/mpa_decoder.h"
#include "audio/codec/mpa_tables.h"
#include "audio/codec/psy_model1.h"
#include "audio/codec/psy_model2.h"
#include "foundation/bitstream.h"
#include "foundation/crc16.h"
#include "foundation/trace.h"

namespace {

// 44.1 kHz and pi/64 at single precision: the padding sequence and the
// matrixing coefficients depend on these exact values.
constexpr float kRate441 = 44.1f;
constexpr float kPi64 = 0.049087387f;

int code_bits(int steps) {
  int n = 0;
  while ((1 << n) < steps) ++n;
  return n;
}

// Quantises x (|x| < 1 after division by its scale factor) to one of
// `steps` codes: y = A x + B, moved up by 1 when negative, most significant
// bit set for the upper half.
inline uint32_t quantise(double x, int steps, int n) {
  const double a = double(steps) / double(1 << n);
  double y = a * x + (a - 1.0);
  const bool neg = y < 0.0;
  if (neg) y += 1.0;
  uint32_t code = static_cast<uint32_t>(y * double(1 << (n - 1)));
  if (!neg) code |= 1u << (n - 1);
  return std::min<uint32_t>(code, static_cast<uint32_t>(steps - 1));
}

// Quantiser class of a layer I allocation (2^(a+1) - 1 steps).
int layer1_class(int a) { return a == 1 ? 0 : a == 2 ? 2 : a + 1; }

// Scale factors sent under each selection code, as parts 0-2 use them.
constexpr int kScfsiCount[4] = {3, 2, 1, 2};

}  // namespace

AudioEncoder::AudioEncoder(int sample_rate, int channels, int bit_rate, int layer, int model) {
  init_info(sample_rate, channels, bit_rate, layer, model);
  if (model_ == 1)
    model1_ = std::make_unique<AudioEncoderPsyModel1>(header_.layer, sample_rate_);
  else
    model2_ = std::make_unique<AudioEncoderPsyModel2>(header_.layer, sample_rate_);
  create_filter();
}

AudioEncoder::~AudioEncoder() = default;

void AudioEncoder::init_info(int sample_rate, int channels, int bit_rate, int layer, int model) {
  if (sample_rate != 32000 && sample_rate != 44100 && sample_rate != 48000) {
    trace("AudioEncoder::init_info (ERROR): bad sample-rate=%d\n", sample_rate);
    sample_rate = 44100;
  }
  sample_rate_ = sample_rate;
  header_.sampling_frequency = sample_rate == 44100 ? 0 : sample_rate == 48000 ? 1 : 2;
  if (channels != 1 && channels != 2) {
    trace("AudioEncoder::init_info (ERROR): bad channels=%d\n", channels);
    channels = 2;
  }
  channels_ = channels;
  header_.mode = channels == 1 ? 3 : 0;
  header_.mode_extension = 0;
  if (model != 1 && model != 2) {
    trace("AudioEncoder::init_info (ERROR): bad model=%d\n", model);
    model = 2;
  }
  model_ = model;
  if (layer != 1 && layer != 2) {
    trace("AudioEncoder::init_info (ERROR): bad layer=%d\n", layer);
    layer = 2;
  }
  header_.layer = layer;
  // Index 0 (free format) is no table entry: frames of zero slots.
  int index = 0;
  for (int i = 1; i < 15; ++i)
    if (kMpaEncBitRates[layer - 1][i] == bit_rate / 1000) index = i;
  if (index == 0) {
    trace("AudioEncoder::init_info (ERROR): bad bit_rate=%d\n", bit_rate);
    bit_rate = 128000;
    for (int i = 1; i < 15; ++i)
      if (kMpaEncBitRates[layer - 1][i] == 128) index = i;
  }
  bit_rate_ = bit_rate;
  header_.bitrate_index = index;
  header_.id = 1;
  header_.error_protection = 0;
  header_.private_bit = header_.copyright = header_.original = header_.emphasis = 0;
  header_channels_ = header_.mode == 3 ? 1 : 2;

  const int kbps = kMpaEncBitRates[layer - 1][index];
  if (layer == 2) {
    const int khz = sample_rate / 1000;
    const int number = audio_encoder_pick_table(khz, kbps / header_channels_);
    if (number != table_number_) {
      sblimit_ = load_bit_alloc_table(number, alloc_table_);
      table_number_ = number;
    }
  } else {
    sblimit_ = 32;
  }
  jsbound_ = header_.mode == 1 ? audio_encoder_get_js_bound(layer, header_.mode_extension) : sblimit_;

  bits_per_slot_ = layer == 1 ? 32 : 8;
  samples_per_frame_ = layer == 1 ? 384 : 1152;
  blocks_ = layer == 1 ? 12 : 36;
  parts_ = layer == 1 ? 1 : 3;
  const float rate_khz = sample_rate == 44100 ? kRate441 : float(sample_rate / 1000);
  average_slots_ = samples_per_frame_ / double(rate_khz) * kbps / bits_per_slot_;
  whole_slots_ = static_cast<int>(average_slots_);
  fraction_ = average_slots_ - whole_slots_;
  slot_lag_ = -fraction_;
}

void AudioEncoder::create_filter() {
  std::memset(history_, 0, sizeof(history_));
  history_pos_[0] = history_pos_[1] = 0;
  for (int i = 0; i < 512; ++i) window_[i] = mpa_synthesis_window(i) / 32.0 / 32768.0;
  for (int i = 0; i < 32; ++i)
    for (int k = 0; k < 64; ++k) {
      const double c = std::cos((2 * i + 1) * (16 - k) * double(kPi64));
      const double scaled = c * 1e9;
      matrix_[i][k] = (scaled < 0 ? -std::floor(-scaled + 0.5) : std::floor(scaled + 0.5)) * 1e-9;
    }
}

int AudioEncoder::pcm_load_frame(const int16_t* samples, int count) {
  const int n = layer() == 1 ? 384 : 1152;
  const int first = layer() == 1 ? 64 : 0;
  if (layer() == 1)
    for (int ch = 0; ch < 2; ++ch) std::memmove(pcm_[ch], pcm_[ch] + 384, 64 * sizeof(int16_t));
  const int take = std::clamp(count, 0, n);
  for (int i = 0; i < take; ++i) {
    pcm_[0][first + i] = samples[i * channels_];
    pcm_[1][first + i] = channels_ == 2 ? samples[i * 2 + 1] : 0;
  }
  // A short last frame ends in silence rather than reading past the input.
  for (int i = take; i < n; ++i) pcm_[0][first + i] = pcm_[1][first + i] = 0;
  return take;
}

void AudioEncoder::decide_padding() {
  header_.padding = 0;
  if (fraction_ == 0.0) return;
  if (slot_lag_ <= fraction_ - 1.0) {
    header_.padding = 1;
    slot_lag_ += 1.0 - fraction_;
  } else {
    slot_lag_ -= fraction_;
  }
}

void AudioEncoder::filter_bank() {
  for (int ch = 0; ch < header_channels_; ++ch) {
    double* hist = history_[ch];
    int pos = history_pos_[ch];
    for (int blk = 0; blk < blocks_; ++blk) {
      const int16_t* in = &pcm_[ch][blk * 32];
      for (int s = 0; s < 32; ++s) {
        pos = (pos - 1) & 511;
        hist[pos] = hist[pos + 512] = in[s];
      }
      const double* x = hist + pos;
      double y[64];
      for (int k = 0; k < 64; ++k) {
        double sum = 0.0;
        for (int j = 0; j < 8; ++j) sum += window_[k + 64 * j] * x[k + 64 * j];
        y[k] = sum;
      }
      // matrix_[i][k] and matrix_[31-i][k] differ only in sign for odd or
      // even k, so each row pair shares its two half sums.
      double* out = subband_[ch][blk];
      for (int i = 0; i < 16; ++i) {
        double even = 0.0, odd = 0.0;
        for (int k = 0; k < 64; k += 2) {
          even += matrix_[i][k] * y[k];
          odd += matrix_[i][k + 1] * y[k + 1];
        }
        out[i] = even + odd;
        out[31 - i] = even - odd;
      }
    }
    history_pos_[ch] = pos;
  }
}

void AudioEncoder::scale_factors() {
  const float* sf = mpaenc_scale_factors();
  for (int ch = 0; ch < header_channels_; ++ch)
    for (int sb = 0; sb < 32; ++sb) {
      double largest = 0.0;
      for (int part = 0; part < parts_; ++part) {
        int j = 63;
        if (sb < sblimit_) {
          double peak = 0.0;
          for (int b = part * 12; b < part * 12 + 12; ++b) peak = std::max(peak, std::fabs(subband_[ch][b][sb]));
          j = 0;
          for (int k = 62; k >= 0; --k)
            if (double(sf[k]) > peak) {
              j = k;
              break;
            }
          largest = std::max(largest, double(sf[j]));
        }
        scf_[ch][part][sb] = j;
      }
      max_scale_[ch][sb] = sb < sblimit_ ? largest : 1e-20;
    }
}

// Selection information of each subband from the standard's transmission
// patterns (the scale factors it drops are replaced as it says).
void AudioEncoder::choose_scfsi() {
  for (int ch = 0; ch < header_channels_; ++ch)
    for (int sb = 0; sb < sblimit_; ++sb) {
      int three[3] = {scf_[ch][0][sb], scf_[ch][1][sb], scf_[ch][2][sb]};
      scfsi_[ch][sb] = mpaenc_select_scfsi(three);
      for (int part = 0; part < 3; ++part) scf_[ch][part][sb] = three[part];
    }
}

int AudioEncoder::allocate_bits(int frame_bits) {
  const bool l1 = layer() == 1;
  int avail = frame_bits - 32 - (header_.error_protection ? 16 : 0);
  for (int sb = 0; sb < sblimit_; ++sb) avail -= header_channels_ * (l1 ? 4 : alloc_table_[sb][0].bits);
  std::memset(alloc_, 0, sizeof(alloc_));
  bool done[2][32] = {};
  auto snr = [&](int sb, int a) {
    if (a == 0) return 0.0;
    return mpaenc_snr_of_class(l1 ? layer1_class(a) : alloc_table_[sb][a].quant);
  };
  auto sample_bits = [&](int sb, int a) {
    if (a == 0) return 0;
    if (l1) return 12 * (a + 1);
    const MpaAllocEntry& e = alloc_table_[sb][a];
    return e.group == 1 ? 12 * e.bits : 36 * e.bits;
  };
  auto max_index = [&](int sb) {
    if (l1) return 14;
    return (1 << alloc_table_[sb][0].bits) - 1;
  };
  for (;;) {
    int best_ch = -1, best_sb = -1;
    double best = 1e300;
    for (int ch = 0; ch < header_channels_; ++ch)
      for (int sb = 0; sb < sblimit_; ++sb) {
        if (done[ch][sb]) continue;
        const double mnr = snr(sb, alloc_[ch][sb]) - smr_[ch][sb];
        if (mnr < best) {
          best = mnr;
          best_ch = ch;
          best_sb = sb;
        }
      }
    if (best_ch < 0) break;
    const int a = alloc_[best_ch][best_sb];
    if (a >= max_index(best_sb)) {
      done[best_ch][best_sb] = true;
      continue;
    }
    int cost = sample_bits(best_sb, a + 1) - sample_bits(best_sb, a);
    if (a == 0) cost += l1 ? 6 : 2 + 6 * kScfsiCount[scfsi_[best_ch][best_sb]];
    if (cost > avail) {
      done[best_ch][best_sb] = true;
      continue;
    }
    avail -= cost;
    alloc_[best_ch][best_sb] = a + 1;
  }
  return avail;
}

int AudioEncoder::write_frame(uint8_t* out, int out_size, int frame_bits) {
  const bool l1 = layer() == 1;
  const int nch = header_channels_;
  const int frame_bytes = frame_bits / 8;
  if (out_size < frame_bytes) return 0;
  const int unused = allocate_bits(frame_bits);
  const Header& h = header_;

  BitWriter bw(out, static_cast<size_t>(frame_bytes), 0);
  bw.put_bits(0xFFF, 12);
  bw.put_bits(h.id, 1);
  bw.put_bits(4 - h.layer, 2);
  bw.put_bits(h.error_protection ? 0 : 1, 1);
  const uint32_t tail = (h.bitrate_index << 12) | (h.sampling_frequency << 10) | (h.padding << 9) |
                        (h.private_bit << 8) | (h.mode << 6) | (h.mode_extension << 4) | (h.copyright << 3) |
                        (h.original << 2) | h.emphasis;
  bw.put_bits(tail, 16);
  if (h.error_protection) {
    uint16_t crc = crc16_8005_bits(0xFFFF, tail, 16);
    for (int sb = 0; sb < sblimit_; ++sb)
      for (int ch = 0; ch < nch; ++ch) crc = crc16_8005_bits(crc, uint32_t(alloc_[ch][sb]), l1 ? 4 : alloc_table_[sb][0].bits);
    if (!l1)
      for (int sb = 0; sb < sblimit_; ++sb)
        for (int ch = 0; ch < nch; ++ch)
          if (alloc_[ch][sb]) crc = crc16_8005_bits(crc, uint32_t(scfsi_[ch][sb]), 2);
    bw.put_bits(crc, 16);
  }
  for (int sb = 0; sb < sblimit_; ++sb)
    for (int ch = 0; ch < nch; ++ch) bw.put_bits(alloc_[ch][sb], l1 ? 4 : alloc_table_[sb][0].bits);
  if (!l1)
    for (int sb = 0; sb < sblimit_; ++sb)
      for (int ch = 0; ch < nch; ++ch)
        if (alloc_[ch][sb]) bw.put_bits(scfsi_[ch][sb], 2);
  for (int sb = 0; sb < sblimit_; ++sb)
    for (int ch = 0; ch < nch; ++ch) {
      if (!alloc_[ch][sb]) continue;
      if (l1) {
        bw.put_bits(scf_[ch][0][sb], 6);
        continue;
      }
      switch (scfsi_[ch][sb]) {
        case 0: bw.put_bits(scf_[ch][0][sb], 6); bw.put_bits(scf_[ch][1][sb], 6); bw.put_bits(scf_[ch][2][sb], 6); break;
        case 1: bw.put_bits(scf_[ch][0][sb], 6); bw.put_bits(scf_[ch][2][sb], 6); break;
        case 2: bw.put_bits(scf_[ch][0][sb], 6); break;
        case 3: bw.put_bits(scf_[ch][0][sb], 6); bw.put_bits(scf_[ch][1][sb], 6); break;
      }
    }
  const float* sf = mpaenc_scale_factors();
  if (l1) {
    for (int blk = 0; blk < 12; ++blk)
      for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
          const int a = alloc_[ch][sb];
          if (!a) continue;
          const int steps = (2 << a) - 1;
          bw.put_bits(quantise(subband_[ch][blk][sb] / sf[scf_[ch][0][sb]], steps, a + 1), a + 1);
        }
  } else {
    for (int gr = 0; gr < 12; ++gr)
      for (int sb = 0; sb < sblimit_; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
          const int a = alloc_[ch][sb];
          if (!a) continue;
          const MpaAllocEntry& e = alloc_table_[sb][a];
          const int n = code_bits(e.steps);
          const double scale = sf[scf_[ch][gr / 4][sb]];
          uint32_t c[3];
          for (int k = 0; k < 3; ++k) c[k] = quantise(subband_[ch][gr * 3 + k][sb] / scale, e.steps, n);
          if (e.group == 1) {
            bw.put_bits((c[2] * e.steps + c[1]) * e.steps + c[0], e.bits);
          } else {
            for (int k = 0; k < 3; ++k) bw.put_bits(c[k], n);
          }
        }
  }
  for (int left = unused; left > 0; left -= std::min(left, 32)) bw.put_bits(0, std::min(left, 32));
  const int64_t rest = frame_bits - static_cast<int64_t>(bw.bit_count());
  if (rest > bits_per_slot_) trace("AudioEncoder::encode_next_frame (ERROR): bits left=%d\n", static_cast<int>(rest));
  for (int64_t left = rest; left > 0; left -= std::min<int64_t>(left, 32)) bw.put_bits(0, int(std::min<int64_t>(left, 32)));
  return static_cast<int>(bw.flush());
}

int AudioEncoder::encode_next_frame(uint8_t* out, int out_size, const int16_t* samples, int count) {
  if (samples && count > 0) pcm_load_frame(samples, count);
  if (!out || out_size < max_frame_bytes()) return 0;
  decide_padding();
  filter_bank();
  scale_factors();
  const int first = layer() == 1 ? 64 : 0;
  for (int ch = 0; ch < header_channels_; ++ch) {
    if (model1_)
      model1_->analyse(ch, &pcm_[ch][first], 1, max_scale_[ch], smr_[ch]);
    else
      model2_->analyse(ch, &pcm_[ch][first], 1, smr_[ch]);
  }
  if (layer() == 2) choose_scfsi();
  return write_frame(out, out_size, (whole_slots_ + header_.padding) * bits_per_slot_);
}

int AudioEncoder::encode_silent_frame(uint8_t* out, int out_size) {
  const int slot_bytes = bits_per_slot_ / 8;
  if (silent_.empty()) {
    // Both sizes are made once, each through the rescaler at gain 0, by an
    // encoder that only ever sees silence; their CRCs stay valid.
    const int size = (whole_slots_ + 1) * slot_bytes;
    const int cache = (size + 7) / 8 * 8;
    std::vector<uint8_t> frames(2 * size_t(cache), 0);
    AudioEncoder zero(sample_rate_, channels_, bit_rate_, layer(), model_);
    zero.set_error_protection(header_.error_protection);
    std::vector<uint8_t> raw(size_t(cache), 0);
    for (int pad = 0; pad < 2; ++pad) {
      zero.header_.padding = pad;
      zero.filter_bank();
      zero.scale_factors();
      for (int ch = 0; ch < zero.header_channels_; ++ch) std::fill_n(zero.smr_[ch], 32, 0.0);
      if (zero.layer() == 2) zero.choose_scfsi();
      const int n = zero.write_frame(raw.data(), cache, (whole_slots_ + pad) * bits_per_slot_);
      if (n <= 0 || MpegAudioDecoder::rescale_frame(raw.data(), n, 0.0, &frames[size_t(pad) * cache], cache) != n)
        return 0;
    }
    silent_ = std::move(frames);
  }
  decide_padding();
  const int n = (whole_slots_ + header_.padding) * slot_bytes;
  if (!out || out_size < n) return 0;
  const size_t cache = silent_.size() / 2;
  std::memcpy(out, &silent_[header_.padding * cache], size_t(n));
  return n;
}
