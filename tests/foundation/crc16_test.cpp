#include "foundation/crc16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

// One bit at a time, straight from the generator.
uint16_t reference(uint16_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    for (int b = 7; b >= 0; --b) {
      const bool top = ((crc >> 15) ^ (p[i] >> b)) & 1;
      crc = static_cast<uint16_t>(crc << 1);
      if (top) crc ^= 0x8005;
    }
  return crc;
}

}  // namespace

TEST(Crc16, KnownCheckValues) {
  const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(crc16_8005(0, digits, 9), 0xFEE8);
  EXPECT_EQ(crc16_8005(0xFFFF, digits, 9), 0xAEE7);
  EXPECT_EQ(crc16_8005(0x1234, digits, 0), 0x1234);
}

TEST(Crc16, BytesWordsAndBitsAgree) {
  uint8_t data[37];
  for (size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<uint8_t>(i * 151 + 7);
  for (size_t n : {size_t(1), size_t(2), size_t(3), size_t(36), size_t(37)}) {
    SCOPED_TRACE(n);
    const uint16_t want = reference(0xFFFF, data, n);
    EXPECT_EQ(crc16_8005(0xFFFF, data, n), want);
    // The same bytes fed in pieces of 4, 13, 16 and 32 bits through the bit form.
    for (int width : {4, 13, 16, 32}) {
      uint16_t crc = 0xFFFF;
      size_t bit = 0;
      while (bit < n * 8) {
        const int take = static_cast<int>(std::min<size_t>(size_t(width), n * 8 - bit));
        uint32_t v = 0;
        for (int k = 0; k < take; ++k, ++bit) v = v << 1 | ((data[bit / 8] >> (7 - bit % 8)) & 1u);
        crc = crc16_8005_bits(crc, v, take);
      }
      EXPECT_EQ(crc, want) << "width " << width;
    }
  }
  uint16_t crc = 0;
  for (size_t i = 0; i + 2 <= 36; i += 2) crc = crc16_8005_word(crc, static_cast<uint16_t>(data[i] << 8 | data[i + 1]));
  EXPECT_EQ(crc, reference(0, data, 36));
}
