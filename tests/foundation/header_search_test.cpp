// The GOP walk's header search (find_next_header_start over the start-code
// scan chosen for this processor) against a byte-by-byte search, on random
// slice-like bytes with planted codes: slice data is where a scan that stops
// at every 0x01 byte would be slow, and where a block-wise scan can go wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "foundation/video_finders.h"

namespace {

// Bytes like coded slices: frequent 0x00 and 0x01, stray zero pairs, slice
// start codes, and now and then a picture, GOP or sequence code.
std::vector<uint8_t> slice_like(std::mt19937& rng, int n) {
  std::vector<uint8_t> b(static_cast<size_t>(n));
  for (auto& x : b) {
    const unsigned r = rng() % 64;
    x = r == 0 ? 0 : r == 1 ? 1 : uint8_t(rng());
  }
  const uint8_t codes[] = {0x00, 0xB3, 0xB8, 0x01, 0x2A, 0xAF, 0xB5, 0xB7};
  for (int k = int(rng() % 6); k > 0; --k) {
    const int at = int(rng() % unsigned(n));
    const int kind = int(rng() % 4);
    if (kind == 0 && at + 1 < n) {
      b[size_t(at)] = 0, b[size_t(at) + 1] = 0;  // a zero pair that starts nothing
    } else if (at + 4 <= n) {
      b[size_t(at)] = 0, b[size_t(at) + 1] = 0, b[size_t(at) + 2] = 1;
      b[size_t(at) + 3] = codes[rng() % 8];
      if (kind == 1 && at > 0) b[size_t(at) - 1] = 0;  // zero stuffing before it
    }
  }
  return b;
}

// The first 00 00 01 00/B3/B8 a byte at a time; the finder's results when
// there is none: length - 4 (0 below 4 bytes) and 0xFFF.
int reference_header(const uint8_t* d, int n, int* code) {
  for (int s = 0; s + 4 <= n; ++s)
    if (d[s] == 0 && d[s + 1] == 0 && d[s + 2] == 1 && (d[s + 3] == 0 || d[s + 3] == 0xB3 || d[s + 3] == 0xB8)) {
      *code = 0x100 | d[s + 3];
      return s;
    }
  *code = 0xFFF;
  return n < 4 ? 0 : n - 4;
}

TEST(HeaderScan, AgreesWithAByteByByteSearch) {
  std::mt19937 rng(4);
  for (int round = 0; round < 20000; ++round) {
    const int n = int(rng() % 200);
    const auto bytes = slice_like(rng, std::max(n, 1));
    // An exact-size copy: a read past the end is a sanitizer report.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size_t(std::max(n, 1))]);
    std::copy(bytes.begin(), bytes.begin() + std::max(n, 1), exact.get());
    int want_code = 0, got_code = 0;
    const int want = reference_header(exact.get(), n, &want_code);
    const int got = find_next_header_start(exact.get(), n, &got_code);
    ASSERT_EQ(got, want) << "round " << round << " n " << n;
    ASSERT_EQ(got_code, want_code) << "round " << round << " n " << n;
  }
}

TEST(HeaderScan, EdgesOfTheBytes) {
  struct Case {
    std::vector<uint8_t> bytes;
    int offset, code;
  } cases[] = {
      {{}, 0, 0xFFF},
      {{0, 0, 1}, 0, 0xFFF},                                  // too short for a code
      {{0, 0, 1, 0xB3}, 0, 0x1B3},                            // a code filling the bytes
      {{0, 0, 1, 0x01, 0, 0, 1, 0xB8}, 4, 0x1B8},             // a slice code is passed over
      {{9, 9, 9, 9, 9, 9, 9, 0, 0, 1, 0}, 7, 0x100},          // a pair across two words
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0xB8, 5}, 8, 0x1B8},  // zero stuffing
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 6, 0xFFF},
  };
  for (const auto& c : cases) {
    int code = 0;
    EXPECT_EQ(find_next_header_start(c.bytes.data(), int(c.bytes.size()), &code), c.offset);
    EXPECT_EQ(code, c.code);
  }
  int code = 0;
  EXPECT_EQ(find_next_header_start(nullptr, 100, &code), 0);
  EXPECT_EQ(code, 0xFFF);
}

}  // namespace
