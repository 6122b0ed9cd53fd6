#include "foundation/crc16.h"

namespace {

// lo[a] = a x^16 mod P (one byte); hi[a] = a x^24 mod P, so that a word goes
// through in one step: crc' = hi[v >> 8] ^ lo[v & 0xFF], v = crc ^ word.
struct Tables {
  uint16_t lo[256];
  uint16_t hi[256];
  constexpr Tables() : lo(), hi() {
    for (int i = 0; i < 256; ++i) {
      uint16_t c = static_cast<uint16_t>(i << 8);
      for (int b = 0; b < 8; ++b) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x8005 : c << 1);
      lo[i] = c;
    }
    for (int i = 0; i < 256; ++i) hi[i] = static_cast<uint16_t>((lo[i] << 8) ^ lo[lo[i] >> 8]);
  }
};
constexpr Tables kTables;

}  // namespace

uint16_t crc16_8005_word(uint16_t crc, uint16_t w) {
  const uint16_t v = static_cast<uint16_t>(crc ^ w);
  return static_cast<uint16_t>(kTables.hi[v >> 8] ^ kTables.lo[v & 0xFF]);
}

uint16_t crc16_8005(uint16_t crc, const uint8_t* p, size_t n) {
  size_t i = 0;
  for (; i + 2 <= n; i += 2) crc = crc16_8005_word(crc, static_cast<uint16_t>((p[i] << 8) | p[i + 1]));
  if (i < n) crc = static_cast<uint16_t>((crc << 8) ^ kTables.lo[((crc >> 8) ^ p[i]) & 0xFF]);
  return crc;
}

uint16_t crc16_8005_bits(uint16_t crc, uint32_t value, int bits) {
  for (; bits >= 8; bits -= 8)
    crc = static_cast<uint16_t>((crc << 8) ^ kTables.lo[((crc >> 8) ^ (value >> (bits - 8))) & 0xFF]);
  for (int i = bits - 1; i >= 0; --i) {
    const bool top = ((crc >> 15) ^ (value >> i)) & 1u;
    crc = static_cast<uint16_t>(crc << 1);
    if (top) crc ^= 0x8005;
  }
  return crc;
}
