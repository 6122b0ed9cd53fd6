#include <gtest/gtest.h>

#include <functional>
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

// Reads past the end set the sticky flag and return zeros; peeks and reads
// that end exactly at the end do not.
TEST(BitReader, ErrorFlagIsStickyAndOnlyForReadsPastTheEnd) {
  const std::vector<uint8_t> d = {0xFF, 0xFF, 0xFF};  // 24 bits
  struct Case {
    const char* name;
    std::function<void(BS&)> ops;
    bool error;
  } cases[] = {
      {"exactly to the end", [](BS& b) { b.get_bits(24); }, false},
      {"one bit over", [](BS& b) { b.get_bits(23); b.get_bits(2); }, true},
      {"32 bits of 24", [](BS& b) { b.get_bits(32); }, true},
      {"peek past the end", [](BS& b) { b.get_bits(20); b.show_bits(16); }, false},
      {"skip past the end", [](BS& b) { b.skip_bits(25); }, true},
      {"skip to the end", [](BS& b) { b.skip_bits(24); }, false},
      {"read_bytes short", [](BS& b) { uint8_t o[4]; b.read_bytes(o, 4); }, true},
      {"read_bytes whole", [](BS& b) { uint8_t o[3]; b.read_bytes(o, 3); }, false},
      {"skip_bytes short", [](BS& b) { b.skip_bytes(4); }, true},
      {"out-of-range width is no read", [](BS& b) { b.get_bits(33); b.get_bits(0); }, false},
      {"nothing later clears it", [](BS& b) { b.get_bits(30); b.align(); b.show_bits(8); b.get_bits(0); }, true},
  };
  for (const auto& c : cases) {
    BS bs(d.data(), d.size());
    c.ops(bs);
    EXPECT_EQ(bs.error(), c.error) << c.name;
  }
  BS bs(d.data(), d.size());
  EXPECT_EQ(bs.get_bits(20), 0xFFFFFu);
  EXPECT_EQ(bs.get_bits(8), 0xF0u);  // four real bits, then zeros
  EXPECT_TRUE(bs.error());
  EXPECT_EQ(bs.get_bits(8), 0u);
  EXPECT_TRUE(bs.error());
  EXPECT_TRUE(bs.at_end());
  bs.refill();
  EXPECT_FALSE(bs.error());
  // A long range: the fast path never sets it.
  std::vector<uint8_t> big(64, 0xA5);
  BS b2(big.data(), big.size());
  for (int i = 0; i < 16; ++i) b2.get_bits(32);
  EXPECT_FALSE(b2.error());
  b2.get_bits(1);
  EXPECT_TRUE(b2.error());
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

// Fault pinned: 67 bits into a 4-byte buffer reported 35 bits, as if the
// dropped word had never been asked for.
TEST(BitWriter, BitCountStaysExactAfterOverflow) {
  struct Case {
    const char* name;
    size_t size;
    std::vector<int> widths;  // put_bits calls, all of ones
    uint64_t bits;
    bool overflow;
    size_t flushed;  // bytes flush() reports
  } cases[] = {
      {"67 bits into 4 bytes", 4, {32, 32, 3}, 67, true, 4},
      {"exact fit, aligned", 4, {32}, 32, false, 4},
      {"exact fit, unaligned pieces", 4, {5, 13, 14}, 32, false, 4},
      {"one bit over, aligned buffer", 4, {32, 1}, 33, true, 4},
      {"one bit over, unaligned pieces", 2, {7, 9, 1}, 17, true, 2},
      {"partial last byte fits", 3, {12, 11}, 23, false, 3},
      {"byte-aligned overflow mid-word", 6, {32, 24}, 56, true, 6},
      {"empty buffer", 0, {8, 8}, 16, true, 0},
      {"nothing written", 4, {}, 0, false, 0},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> buf(c.size + 8, 0x55);  // guard bytes after the buffer
    BitWriter w(buf.data(), c.size, 1);
    for (int n : c.widths) w.put_bits(0xFFFFFFFFu, n);
    EXPECT_EQ(w.bit_count(), c.bits) << c.name;
    const size_t flushed = w.flush();
    EXPECT_EQ(flushed, c.flushed) << c.name;
    EXPECT_EQ(w.overflow(), c.overflow) << c.name;
    EXPECT_EQ(w.bit_count(), (c.bits + 7) / 8 * 8) << c.name << " after flush";
    for (size_t i = c.size; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0x55) << c.name << " wrote byte " << i;
    for (size_t i = 0; i < c.flushed && i < c.bits / 8; ++i) EXPECT_EQ(buf[i], 0xFF) << c.name;
  }
  uint8_t b[2];
  BitWriter w(b, sizeof b, 1);
  w.put_bits(0, 24);
  w.flush();
  EXPECT_TRUE(w.overflow());
  w.reset(1);
  EXPECT_FALSE(w.overflow());
  EXPECT_EQ(w.bit_count(), 0u);
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
