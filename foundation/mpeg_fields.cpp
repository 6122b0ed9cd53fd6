#include "foundation/mpeg_fields.h"

#include <array>
#include <cmath>

namespace {

constexpr double kFrameRates[9] = {
    30000.0 / 1001.0,  // 0: not a code; the fallback rate
    24000.0 / 1001.0, 24.0, 25.0, 30000.0 / 1001.0, 30.0, 50.0, 60000.0 / 1001.0, 60.0,
};

constexpr double kRateTolerance = 0.0001;
constexpr double kNtscRate = 30000.0 / 1001.0;
constexpr double kPalRate = 25.0;

bool is_rate(double rate, int code) { return std::fabs(rate - kFrameRates[code]) < kRateTolerance; }
bool is_pal(double rate) { return is_rate(rate, 3); }
bool is_ntsc(double rate) { return is_rate(rate, 4); }

int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// Mono rate the Super Video CD fix puts in place of one it cannot keep: half
// the stereo default, a common layer II rate.
constexpr int kSvcdMonoBitRate = 112000;

constexpr uint32_t kCrcPolynomial = 0x04C11DB7u;

constexpr std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ kCrcPolynomial : c << 1;
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> kCrcTable = make_crc_table();

constexpr double kTwo33 = 8589934592.0;
constexpr uint64_t kMask33 = (uint64_t(1) << 33) - 1;

// 33-bit base and 27 MHz extension of a time in 90 kHz ticks. A time made as
// base + extension / 300 gives that extension back despite binary rounding,
// hence the small allowance before truncating.
void split_time(double time, uint64_t* base, int* extension) {
  if (!std::isfinite(time)) time = 0.0;
  double t = std::fmod(time, kTwo33);
  if (t < 0) t += kTwo33;
  double whole = std::floor(t);
  uint64_t b = static_cast<uint64_t>(whole);
  int ext = static_cast<int>((t - whole) * 300.0 + 1e-3);
  if (ext >= 300) {
    ext -= 300;
    ++b;
  }
  *base = b & kMask33;
  *extension = ext;
}

}  // namespace

double mpeg_get_frame_rate(int code) { return kFrameRates[mpeg_is_valid_frame_rate_code(code) ? code : 4]; }

int mpeg_is_valid_frame_rate_code(int code) { return code >= 1 && code <= 8 ? 1 : 0; }

int mpeg_find_frame_rate_code(double rate) {
  for (int code = 1; code <= 8; ++code)
    if (is_rate(rate, code)) return code;
  return 0;
}

int mpeg_get_frame_rate_code(double rate) {
  const int code = mpeg_find_frame_rate_code(rate);
  return code ? code : 4;
}

int mpeg_get_default_gop_size(double rate) {
  const double v = rate + 0.1;
  // Compare in double first so that absurd rates cannot overflow the cast.
  const int r = !(v > 0) ? 0 : v > 1000.0 ? 1000 : static_cast<int>(v);
  if (r > 50) return 30;
  if (r == 50) return 25;
  if (r < 26) return 12;
  return 15;
}

const char* get_stream_type_name(int code) {
  static const char* const names[] = {
      "MPEG-1 Audio",    "MPEG-1 Video",        "MPEG-2 Video",     "MPEG-1 System",
      "MPEG-1 Video CD", "MPEG-2 Program",      "MPEG-2 Program SVCD", "MPEG-2 Transport",
      "AC-3 Audio",      "Linear PCM",          "MPEG-2 Audio",
  };
  if (code >= 1 && code <= 11) return names[code - 1];
  return "Unknown";
}

int stream_type_from_pmt_type(int pmt_stream_type) {
  switch (pmt_stream_type) {
    case 1: return STREAM_TYPE_MPEG1_VIDEO;
    case 2: return STREAM_TYPE_MPEG2_VIDEO;
    case 3: return STREAM_TYPE_MPEG1_AUDIO;
    case 4: return STREAM_TYPE_MPEG2_AUDIO;
    default: return 0;
  }
}

// ---- DVD -------------------------------------------------------------------

int check_dvd_video(int mpeg2, int bit_rate, double frame_rate, int width, int height) {
  // Only a genuine 29.97 or 25 counts: the lenient code lookup would let any
  // non-MPEG rate pass as NTSC.
  const int code = mpeg_find_frame_rate_code(frame_rate);
  if (!mpeg2) return (code == 4 && width == 352 && height == 240) || (code == 3 && width == 352 && height == 288);
  if (bit_rate > 9800000) return 0;
  const bool full_width = width == 720 || width == 704 || width == 352;
  if (code == 4) return (height == 480 && full_width) || (height == 240 && width == 352);
  if (code == 3) return (height == 576 && full_width) || (height == 288 && width == 352);
  return 0;
}

void fix_dvd_video(int mpeg2, int* bit_rate, double* frame_rate, int* width, int* height) {
  bool ntsc = true;
  if (frame_rate) {
    ntsc = *frame_rate > 26.0;
    *frame_rate = ntsc ? kNtscRate : kPalRate;
  }
  if (mpeg2) {
    if (bit_rate) *bit_rate = clamp(*bit_rate, 1150000, 9800000);
    if (width && *width != 720 && *width != 704 && *width != 352) *width = *width < 353 ? 352 : 720;
    if (height) *height = ntsc ? 480 : 576;
  } else {
    if (width) *width = 352;
    if (height) *height = ntsc ? 240 : 288;
    if (bit_rate && *bit_rate < 1150000) *bit_rate = 1150000;
  }
}

int check_dvd_audio(int layer, int sample_rate, int channels, int bit_rate) {
  if (layer != 2 || sample_rate != 48000) return 0;
  if (channels == 1) return bit_rate >= 64000 && bit_rate <= 192000;
  return bit_rate >= 64000 && bit_rate <= 384000;
}

void fix_dvd_audio(int* layer, int* sample_rate, int* channels, int* bit_rate) {
  if (layer) *layer = 2;
  if (sample_rate) *sample_rate = 48000;
  if (!channels) return;
  if (*channels == 1) {
    if (bit_rate) *bit_rate = clamp(*bit_rate, 128000, 192000);
    return;
  }
  *channels = 2;
  if (bit_rate) *bit_rate = clamp(*bit_rate, 224000, 384000);
}

// ---- Video CD --------------------------------------------------------------

int check_vcd_video(int bit_rate, double frame_rate, int width, int height) {
  if (bit_rate > 1152000 || width != 352) return 0;
  return (is_pal(frame_rate) && height == 288) || (is_ntsc(frame_rate) && height == 240);
}

static double vcd_rate(double rate) {
  if (is_pal(rate) || is_ntsc(rate)) return rate;
  return rate > 26.0 ? kNtscRate : kPalRate;
}

void fix_vcd_video(int* bit_rate, double* frame_rate, int* width, int* height) {
  double rate = frame_rate ? vcd_rate(*frame_rate) : kNtscRate;
  if (frame_rate) *frame_rate = rate;
  if (bit_rate) *bit_rate = 1150000;
  if (width) *width = 352;
  if (height) *height = rate > 26.0 ? 240 : 288;
}

int check_vcd_audio(int layer, int sample_rate, int channels, int bit_rate) {
  return layer == 2 && sample_rate == 44100 && channels == 2 && bit_rate == 224000;
}

void fix_vcd_audio(int* layer, int* sample_rate, int* channels, int* bit_rate) {
  if (layer) *layer = 2;
  if (sample_rate) *sample_rate = 44100;
  if (channels) *channels = 2;
  if (bit_rate) *bit_rate = 224000;
}

// ---- Super Video CD --------------------------------------------------------

int check_svcd_video(int mpeg2, double frame_rate, int width, int height) {
  if (!mpeg2 || (width != 480 && width != 352)) return 0;
  return (is_ntsc(frame_rate) && height == 480) || (is_pal(frame_rate) && height == 576);
}

void fix_svcd_video(double* frame_rate, int* width, int* height) {
  double rate = frame_rate ? vcd_rate(*frame_rate) : kNtscRate;
  if (frame_rate) *frame_rate = rate;
  if (width) *width = 480;
  if (height) *height = rate > 26.0 ? 480 : 576;
}

int check_svcd_audio(int layer, int sample_rate, int channels, int bit_rate) {
  if (layer != 2 || sample_rate != 44100) return 0;
  if (channels == 2) return bit_rate >= 64000 && bit_rate <= 384000;
  return bit_rate >= 32000 && bit_rate <= 192000;
}

void fix_svcd_audio(int* layer, int* sample_rate, int* channels, int* bit_rate) {
  if (layer) *layer = 2;
  if (sample_rate) *sample_rate = 44100;
  if (!bit_rate) return;
  if (channels && *channels == 2) {
    if (*bit_rate < 64000 || *bit_rate > 384000) *bit_rate = 224000;
  } else if (*bit_rate < 32000 || *bit_rate > 192000) {
    *bit_rate = kSvcdMonoBitRate;
  }
}

// ---- time-stamp fields -----------------------------------------------------

int split_scr(double time, uint32_t* base_low, int* extension) {
  uint64_t base;
  int ext;
  split_time(time, &base, &ext);
  if (base_low) *base_low = static_cast<uint32_t>(base);
  if (extension) *extension = ext;
  return static_cast<int>(base >> 32);
}

int encode_pts(double time, uint8_t* out) {
  uint64_t b;
  int ext;
  split_time(time, &b, &ext);
  // xxxx b32..30 1 | b29..22 | b21..15 1 | b14..7 | b6..0 1
  out[0] = static_cast<uint8_t>(((b >> 29) & 0x0E) | 1);
  out[1] = static_cast<uint8_t>(b >> 22);
  out[2] = static_cast<uint8_t>(((b >> 14) & 0xFE) | 1);
  out[3] = static_cast<uint8_t>(b >> 7);
  out[4] = static_cast<uint8_t>(((b << 1) & 0xFE) | 1);
  return 5;
}

int encode_scr(double time, uint8_t* out) {
  uint64_t b;
  int ext;
  split_time(time, &b, &ext);
  const uint32_t e = static_cast<uint32_t>(ext);
  // 01 b32..30 1 b29..28 | b27..20 | b19..15 1 b14..13 | b12..5 | b4..0 1 e8..7 | e6..0 1
  out[0] = static_cast<uint8_t>(0x40 | ((b >> 27) & 0x38) | 0x04 | ((b >> 28) & 0x03));
  out[1] = static_cast<uint8_t>(b >> 20);
  out[2] = static_cast<uint8_t>(((b >> 12) & 0xF8) | 0x04 | ((b >> 13) & 0x03));
  out[3] = static_cast<uint8_t>(b >> 5);
  out[4] = static_cast<uint8_t>(((b << 3) & 0xF8) | 0x04 | ((e >> 7) & 0x03));
  out[5] = static_cast<uint8_t>(((e << 1) & 0xFE) | 1);
  return 6;
}

int encode_pcr(double time, uint8_t* out) {
  uint64_t b;
  int ext;
  split_time(time, &b, &ext);
  const uint32_t e = static_cast<uint32_t>(ext);
  // b32..1 | b0 111111 e8 | e7..0
  out[0] = static_cast<uint8_t>(b >> 25);
  out[1] = static_cast<uint8_t>(b >> 17);
  out[2] = static_cast<uint8_t>(b >> 9);
  out[3] = static_cast<uint8_t>(b >> 1);
  out[4] = static_cast<uint8_t>(((b & 1) << 7) | 0x7E | ((e >> 8) & 1));
  out[5] = static_cast<uint8_t>(e);
  return 6;
}

// ---- CRC-32 ----------------------------------------------------------------

uint32_t mpeg_crc32_byte(uint8_t byte, uint32_t crc) {
  for (int bit = 7; bit >= 0; --bit) {
    const uint32_t in = (byte >> bit) & 1u;
    crc = (in != (crc >> 31)) ? (crc << 1) ^ kCrcPolynomial : crc << 1;
  }
  return crc;
}

uint32_t mpeg_crc32(const uint8_t* data, size_t length, uint32_t crc) {
  for (size_t i = 0; i < length; ++i) crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}

// ---- encoder ---------------------------------------------------------------

void mpeg_get_search_range(int width, int height, int* horizontal, int* vertical) {
  if (horizontal) *horizontal = clamp((width / 160) * 4 - 1, 7, 15);
  if (vertical) *vertical = clamp((height / 120) * 4 - 1, 7, 15);
}
