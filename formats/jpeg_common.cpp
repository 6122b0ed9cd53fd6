#include "formats/jpeg_common.h"

#include <cmath>
#include <cstring>

#include "formats/jpeg_tables.h"
#include "foundation/trace.h"

JpegFrameHeader::JpegFrameHeader(int w, int h, int four_two_zero) {
  width = static_cast<uint16_t>(w);
  height = static_cast<uint16_t>(h);
  if (four_two_zero) comp[0].v = 2;
}

int JpegScanHeader::kind(bool progressive) const {
  if (ss > 0) return ah > 0 ? 5 : 4;
  if (se > 0) return (se >= 63 && !progressive) ? 1 : 0;
  return ah > 0 ? 3 : 2;
}

void JpegBitReader::init(uint8_t* buffer, size_t n) {
  start = current = buffer;
  end = buffer ? buffer + n : nullptr;
  bits = 0;
  size = buffer ? n : 0;
}

void JpegBitReader::reset() { init(nullptr, 0); }

int Quant::quality_scaling(int q) {
  if (q < 1) return 5000;
  if (q > 100) q = 100;
  return q < 50 ? 5000 / q : 200 - 2 * q;
}

Quant::Quant(int q) : quality(q) {
  const int factor = quality_scaling(q);
  const uint8_t* base[2] = {kJpegStdLumaQuant, kJpegStdChromaQuant};
  for (int t = 0; t < 2; ++t)
    for (int i = 0; i < 64; ++i) {
      int v = (base[t][i] * factor + 50) / 100;
      v = v < 1 ? 1 : (v > 255 ? 255 : v);
      table_[t][i] = static_cast<uint16_t>(v);
      // q x AAN scale x 8 in units of 2^14: the forward transform's gain.
      divisor_[t][i] = v * kJpegAanScale[i];
    }
}

void Quant::quantize(int id, const int16_t* samples, int16_t* out) const {
  int32_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = samples[i];
  jpeg_fdct_8x8(block);
  const int32_t* d = divisor_[id >= 1 ? 1 : 0];
  for (int i = 0; i < 64; ++i) {
    // coefficient / (q x scale x 8) with the scale in 2^14 units.
    const int64_t num = static_cast<int64_t>(block[i]) << 11;
    const int64_t div = d[i];
    const int64_t v = num >= 0 ? (num + div / 2) / div : -((div / 2 - num) / div);
    // Baseline codes carry at most 11 bits of DC difference and 10 of AC.
    const int64_t lim = 1023;
    out[i] = static_cast<int16_t>(v > lim ? lim : (v < -lim ? -lim : v));
  }
}

int Quant::add_decode_table(int id, const uint16_t* values) {
  if (id < 0 || id > 3) {
    trace("Quant::add_decode_table (): illegal table index = %d\n", id);
    return 1;
  }
  for (int i = 0; i < 64; ++i) {
    // q x scale in units of 2^-kTableBits; capped so that the transform's
    // 32-bit arithmetic stays in range on any input.
    const int64_t v = (static_cast<int64_t>(values[i]) * kJpegAanScale[i] + (1 << (13 - kTableBits))) >>
                      (14 - kTableBits);
    dequant_[id][i] = static_cast<int32_t>(v > (1 << 18) ? (1 << 18) : v);
  }
  have_[id] = true;
  return 0;
}

// Arai-Agui-Nakajima forward transform, one row or column: outputs are the
// transform's scaled coefficients (scale removed by the divisors).
static void fdct_1d(double* d, int step) {
  const double t0 = d[0] + d[7 * step], t7 = d[0] - d[7 * step];
  const double t1 = d[step] + d[6 * step], t6 = d[step] - d[6 * step];
  const double t2 = d[2 * step] + d[5 * step], t5 = d[2 * step] - d[5 * step];
  const double t3 = d[3 * step] + d[4 * step], t4 = d[3 * step] - d[4 * step];
  // Even part.
  const double e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;
  d[0] = e10 + e11;
  d[4 * step] = e10 - e11;
  const double z1 = (e12 + e13) * 0.707106781186548;
  d[2 * step] = e13 + z1;
  d[6 * step] = e13 - z1;
  // Odd part.
  const double o10 = t4 + t5, o11 = t5 + t6, o12 = t6 + t7;
  const double z5 = (o10 - o12) * 0.382683432365090;
  const double z2 = 0.541196100146197 * o10 + z5;
  const double z4 = 1.306562964876377 * o12 + z5;
  const double z3 = o11 * 0.707106781186548;
  const double z11 = t7 + z3, z13 = t7 - z3;
  d[5 * step] = z13 + z2;
  d[3 * step] = z13 - z2;
  d[step] = z11 + z4;
  d[7 * step] = z11 - z4;
}

void jpeg_fdct_8x8(int32_t* block) {
  double d[64];
  for (int i = 0; i < 64; ++i) d[i] = block[i];
  for (int r = 0; r < 8; ++r) fdct_1d(d + r * 8, 1);
  for (int c = 0; c < 8; ++c) fdct_1d(d + c, 8);
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int32_t>(std::lround(d[i]));
}
