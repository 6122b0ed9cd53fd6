#include "foundation/audio_header.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "foundation/audio_info.h"
#include "foundation/big_endian.h"

namespace {

// bit/s by [lsf][layer - 1][bitrate_index]; index 0 (free format) and 15 are 0.
constexpr int32_t kBitRates[2][3][16] = {
    {{0, 32000, 64000, 96000, 128000, 160000, 192000, 224000, 256000, 288000, 320000, 352000, 384000, 416000, 448000,
      0},
     {0, 32000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, 224000, 256000, 320000, 384000, 0},
     {0, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, 224000, 256000, 320000, 0}},
    {{0, 32000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000, 160000, 176000, 192000, 224000, 256000, 0},
     {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000, 160000, 0},
     {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000, 160000, 0}},
};

constexpr int32_t kSampleRates[9] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};

// A sync word worth parsing: 11 sync bits, a layer, a bit-rate index that is
// not 15 and a sampling frequency that is not reserved.
inline bool is_candidate(const uint8_t* p) {
  return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && (p[1] & 0x06) != 0 && (p[2] & 0xF0) != 0xF0 && (p[2] & 0x0C) != 0x0C;
}

}  // namespace

void FrmHdr::clear() {
  mode = mode_extension = single = channels = sampling_index = bitrate_index = 0;
  lsf = mpeg25 = layer = error_protection = padding = private_bit = 0;
  copyright = original = emphasis = bit_rate = sample_rate = frame_size = 0;
  valid = 0;
  header = 0;
  checked_bytes = first_offset = 0;
}

int FrmHdr::parse(uint32_t word) {
  valid = 0;
  if (word & (1u << 20)) {
    mpeg25 = 0;
    lsf = (word & (1u << 19)) ? 0 : 1;
  } else {
    // Version bits '01' are reserved, not MPEG 2.5.
    if (word & (1u << 19)) return 1;
    lsf = 1;
    mpeg25 = 1;
  }
  layer = 4 - static_cast<int32_t>((word >> 17) & 3);
  const int32_t sampling_frequency = (word >> 10) & 3;
  if (sampling_frequency == 3) return 1;
  sampling_index = sampling_frequency + (mpeg25 ? 6 : 3 * lsf);
  error_protection = (word & (1u << 16)) ? 0 : 1;
  bitrate_index = (word >> 12) & 15;
  padding = (word >> 9) & 1;
  private_bit = (word >> 8) & 1;
  mode = (word >> 6) & 3;
  mode_extension = (word >> 4) & 3;
  copyright = (word >> 3) & 1;
  original = (word >> 2) & 1;
  emphasis = word & 3;
  channels = mode == 3 ? 1 : 2;
  // Free format (0) has no frame size to step by; 15 is forbidden.
  if (bitrate_index == 0 || bitrate_index == 15) return 1;
  if (layer == 4) return 1;  // layer bits 00 are reserved
  sample_rate = kSampleRates[sampling_index];
  bit_rate = kBitRates[lsf][layer - 1][bitrate_index];
  const int64_t br = bit_rate;
  switch (layer) {
    case 1:
      frame_size = static_cast<int32_t>((12 * br / sample_rate + padding) * 4);
      break;
    case 2:
      frame_size = static_cast<int32_t>(144 * br / sample_rate + padding);
      break;
    default:
      frame_size = static_cast<int32_t>(144 * br / (static_cast<int64_t>(sample_rate) << lsf) + padding);
      break;
  }
  header = word;
  valid = 1;
  single = mode == 3 ? 3 : -1;
  return 0;
}

int FrmHdr::parse_buffer(const uint8_t* data, int length) {
  valid = 0;
  header = 0;
  if (!data || length < 4) return 0;
  int i = 0;
  while (length - i >= 4) {
    const void* hit = std::memchr(data + i, 0xFF, static_cast<size_t>(length - i - 3));
    if (!hit) {
      i = length - 3;
      break;
    }
    i = static_cast<int>(static_cast<const uint8_t*>(hit) - data);
    if (is_candidate(data + i)) {
      if (parse(load_be32(data + i)) == 0) return i;
      i += 2;
    } else {
      ++i;
    }
  }
  valid = 0;
  return std::min(i, length);
}

int FrmHdr::same_stream(const FrmHdr& other) const {
  if (!other.valid) return 1;
  // Bits 0-9 (emphasis .. padding, mode included) and the protection bit
  // may change from frame to frame; so may the bit rate of layer III (VBR).
  uint32_t mask = ~(0x3FFu | (1u << 16));
  if (other.layer == 3) mask &= ~0xF000u;
  return ((header ^ other.header) & mask) ? 1 : 0;
}

int FrmHdr::find_matching(const uint8_t* data, int length, const FrmHdr& reference) {
  int pos = 0;
  for (;;) {
    const int off = pos + parse_buffer(data + pos, length - pos);
    if (!valid) return off;
    if (reference.same_stream(*this) == 0) return off;
    valid = 0;
    if (length - off < 6) return off;
    pos = off + 2;
  }
}

int FrmHdr::find_sync(const uint8_t* data, int length) {
  if (frame_size == 0 && length >= 2017) frame_size = 2016;
  valid = 0;
  if (!data || length < 4 || length < frame_size) return 0;
  int pos = 0;
  bool tried = false;
  for (;;) {
    const int off = pos + parse_buffer(data + pos, length - pos);
    if (!valid) {
      pos = off;
      break;
    }
    if (length - off < frame_size + 4) {
      // Too near the end to confirm: taken as it is unless an earlier
      // candidate already failed.
      pos = off;
      break;
    }
    tried = true;
    // A padded frame may have been cut one slot short; accept the next
    // header up to the slot early.
    const int k = padding ? padding_slot() : 0;
    const int p2 = off + frame_size - k;
    FrmHdr second;
    const int d = second.parse_buffer(data + p2, std::min(length - p2, k + 4));
    if (second.valid && d <= k && same_stream(second) == 0) return off;
    if (frame_size == 0) frame_size = 2016;
    pos = off + 2;
    if (length - pos < frame_size) break;
  }
  if (tried) valid = 0;
  return pos;
}

int FrmHdr::check_frames(const uint8_t* data, int length, int count, int exact) {
  checked_bytes = 0;
  first_offset = -1;
  if (!exact && count < 2) count = 2;
  valid = 0;
  if (!data || length < 0) length = 0;
  int pos = 0;
  int run = 0;
  // A last frame that fills the data exactly is visited too; otherwise a
  // buffer of exactly count frames would never confirm them.
  while (run < count && length - pos >= frame_size && length - pos >= 4) {
    const int off = find_sync(data + pos, length - pos);
    if (!valid) break;
    if (first_offset < 0) first_offset = pos + off;
    run = off == 0 ? run + 1 : 0;
    pos += off + frame_size;
  }
  checked_bytes = std::min(pos, length);
  if (run >= count && run > 0) return 1;
  // A run cut short by the end of the data counts, but only with at least
  // one frame really found: a frame size left from an earlier parse must not
  // confirm a buffer of garbage.
  if (run >= 1 && valid && static_cast<int64_t>(length) - static_cast<int64_t>(frame_size) * run < frame_size) return 1;
  first_offset = 0;
  return 0;
}

int FrmHdr::get_audio_info(AudioInfo* info) const {
  if (!valid || !info) return 0;
  info->format = 0;
  info->layer = layer;
  info->channels = channels;
  info->sample_rate = sample_rate;
  info->bit_rate = bit_rate;
  info->bits_per_sample = 16;
  info->frame_size = frame_size - (padding ? padding_slot() : 0);
  info->stream_id = 192;
  info->full_channels = channels;
  return 1;
}

int FrmHdr::samples_per_frame() const {
  if (layer == 1) return 384;
  if (layer == 3 && lsf) return 576;
  return 1152;
}

int mpeg_audio_nearest_bit_rate(int bps, int layer) {
  if (layer < 1 || layer > 3) return 0;
  int best = 0;
  int64_t dist = std::llabs(static_cast<int64_t>(bps));
  for (int i = 1; i <= 14; ++i) {
    const int rate = kBitRates[0][layer - 1][i];
    const int64_t d = std::llabs(static_cast<int64_t>(bps) - rate);
    if (d < dist) {
      best = rate;
      dist = d;
      if (d == 0) break;
    }
  }
  return best;
}

int mpeg_audio_info_from_data(const uint8_t* data, int* length, AudioInfo* info) {
  if (!data || !length || *length <= 4) return 0;
  FrmHdr h;
  int changed = 0;
  if (h.check_frames(data, *length, 1, 1) && info) {
    AudioInfo found = *info;
    h.get_audio_info(&found);
    found.full_channels = info->full_channels;
    if (utils_same_audio_info(found, *info)) {
      *info = found;
      changed = 1;
    }
  }
  *length -= h.checked_bytes;
  return changed;
}
