// Test-side helpers for AC-3 frames: recompute both CRC words after a frame
// was edited. Header-only, so that fuzz targets can use it too.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/codec/ac3_core.h"

namespace ac3test {

inline std::vector<uint16_t> to_words(const uint8_t* f, int bytes) {
  std::vector<uint16_t> w(static_cast<size_t>(bytes / 2));
  for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<uint16_t>(f[2 * i] << 8 | f[2 * i + 1]);
  return w;
}

// Sets crc1 (word 1) so that the words after the sync word up to the 5/8
// point check, and crc2 (the last word) so that the rest checks too. The CRC
// is linear, so crc1 is the solution of a 16 x 16 system over GF(2).
inline void fix_crcs(uint8_t* f, int bytes) {
  const int words = bytes / 2;
  if (words < 8) return;
  const int n = words / 8 + words / 2 - 1;
  std::vector<uint16_t> w = to_words(f, bytes);
  w[1] = 0;
  const uint16_t target = ac3_dec_crc(0, w.data() + 1, n);
  // Column i: the CRC of the span with only bit i of crc1 set.
  uint16_t col[16];
  std::vector<uint16_t> unit(static_cast<size_t>(n), 0);
  for (int i = 0; i < 16; ++i) {
    unit[0] = static_cast<uint16_t>(1u << i);
    col[i] = ac3_dec_crc(0, unit.data(), n);
  }
  // Solve sum(c_i col[i]) = target by elimination on augmented rows.
  uint32_t rows[16];
  for (int r = 0; r < 16; ++r) {
    uint32_t row = 0;
    for (int i = 0; i < 16; ++i) row |= static_cast<uint32_t>((col[i] >> r) & 1) << i;
    rows[r] = row | static_cast<uint32_t>((target >> r) & 1) << 16;
  }
  int rank = 0;
  int pivot_col[16];
  for (int c = 0; c < 16 && rank < 16; ++c) {
    int p = -1;
    for (int r = rank; r < 16; ++r)
      if ((rows[r] >> c) & 1) {
        p = r;
        break;
      }
    if (p < 0) continue;
    std::swap(rows[rank], rows[p]);
    for (int r = 0; r < 16; ++r)
      if (r != rank && ((rows[r] >> c) & 1)) rows[r] ^= rows[rank];
    pivot_col[rank++] = c;
  }
  uint16_t crc1 = 0;
  for (int r = 0; r < rank; ++r)
    if ((rows[r] >> 16) & 1) crc1 = static_cast<uint16_t>(crc1 | 1u << pivot_col[r]);
  f[2] = static_cast<uint8_t>(crc1 >> 8);
  f[3] = static_cast<uint8_t>(crc1);
  w[1] = crc1;
  // crc2 ends the frame: the remainder of the rest followed by 16 zero bits.
  w[words - 1] = 0;
  const uint16_t crc2 = ac3_dec_crc(0, w.data() + n + 1, words - n - 1);
  f[bytes - 2] = static_cast<uint8_t>(crc2 >> 8);
  f[bytes - 1] = static_cast<uint8_t>(crc2);
}

}  // namespace ac3test
