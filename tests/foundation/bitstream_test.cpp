#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "foundation/bitstream.h"

namespace {

// Straightforward reference reader: one bit at a time, zeros past the end.
struct RefReader {
  const std::vector<uint8_t>& d;
  uint64_t bit = 0;
  explicit RefReader(const std::vector<uint8_t>& v) : d(v) {}
  uint32_t get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit) {
      uint32_t b = bit / 8 < d.size() ? (d[bit / 8] >> (7 - bit % 8)) & 1 : 0;
      v = (v << 1) | b;
    }
    return v;
  }
};

TEST(BitReader, MatchesReferenceOnMixedWidths) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> data(rng() % 300);
    for (auto& b : data) b = uint8_t(rng());
    BS bs(data.data(), data.size());
    RefReader ref(data);
    for (int op = 0; op < 400; ++op) {
      int n = int(rng() % 33);
      switch (rng() % 3) {
        case 0:
        case 1:
          ASSERT_EQ(bs.get_bits(n), ref.get(n)) << "round " << round << " op " << op << " n " << n;
          break;
        default:
          bs.skip_bits(n);
          ref.bit = std::min<uint64_t>(ref.bit + n, std::max<uint64_t>(ref.bit, data.size() * 8));
          break;
      }
    }
  }
}

// Fault pinned: reads above 24 bits in mid-stream must not return zeros.
TEST(BitReader, WideReadsMidStream) {
  std::vector<uint8_t> d = {0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  BS bs(d.data(), d.size());
  EXPECT_EQ(bs.get_bits(4), 0xAu);
  EXPECT_EQ(bs.get_bits(32), 0xBCDEF123u);
  EXPECT_EQ(bs.get_bits(28), 0x456789Au);
}

TEST(BitReader, EdgeCases) {
  std::vector<uint8_t> two = {0x12, 0x34};
  BS bs(two.data(), two.size());
  EXPECT_EQ(bs.get_bits(0), 0u);
  EXPECT_EQ(bs.get_bits(33), 0u);
  EXPECT_EQ(bs.get_bits(32), 0x12340000u);

  std::vector<uint8_t> d = {0xF1, 0x22, 0x33};
  BS r(d.data(), d.size());
  r.get_bits(4);
  uint8_t out[4] = {};
  EXPECT_EQ(r.read_bytes(out, 4), 2);  // drops the rest of the first byte
  EXPECT_EQ(out[0], 0x22);
  EXPECT_EQ(out[1], 0x33);
}

TEST(BitWriter, PacksAndFlushes) {
  uint8_t buf[8] = {};
  BitWriter w(buf, sizeof buf, 1);
  w.put_bits(0xDEADBEEF, 32);
  w.put_bits(0xABC, 12);
  EXPECT_EQ(w.flush(), 6u);
  const uint8_t want[6] = {0xDE, 0xAD, 0xBE, 0xEF, 0xAB, 0xC0};
  EXPECT_EQ(0, memcmp(buf, want, 6));
}

TEST(BitWriter, NeverWritesPastEnd) {
  uint8_t buf[6];
  memset(buf, 0x55, sizeof buf);
  BitWriter w(buf, 4, 1);  // two guard bytes after the buffer
  w.put_bits(0x11223344, 32);
  w.put_bits(0x55667788, 32);
  EXPECT_EQ(w.flush(), 4u);
  EXPECT_EQ(buf[4], 0x55);
  EXPECT_EQ(buf[5], 0x55);
}

TEST(BitWriter, RoundTripsThroughReader) {
  std::mt19937 rng(3);
  std::vector<std::pair<uint32_t, int>> fields;
  std::vector<uint8_t> buf(4096);
  BitWriter w(buf.data(), buf.size(), 0);
  for (int i = 0; i < 2000; ++i) {
    int n = int(rng() % 33);
    uint32_t v = rng() & bs_mask[n];
    fields.emplace_back(v, n);
    w.put_bits(v, n);
  }
  size_t used = w.flush();
  BS bs(buf.data(), used);
  for (auto [v, n] : fields) ASSERT_EQ(bs.get_bits(n), v);
}

}  // namespace
