#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "foundation/video_finders.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Plain byte-by-byte reference of the header scan.
int ref_find(const Bytes& d, bool with_seq, int* code) {
  for (size_t i = 0; i + 4 <= d.size(); ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
      uint8_t c = d[i + 3];
      if (c == 0x00 || c == 0xB8 || (with_seq && c == 0xB3)) {
        *code = 0x100 | c;
        return int(i);
      }
    }
  }
  *code = 0xFFF;
  return d.size() < 4 ? 0 : int(d.size()) - 4;
}

TEST(VideoFinders, HeaderScanMatchesReferenceOnRandomData) {
  std::mt19937 rng(3);
  for (int round = 0; round < 3000; ++round) {
    Bytes d(rng() % 64);
    // Mostly zeros and ones so that start codes and near misses are common.
    for (auto& b : d) {
      int r = rng() % 8;
      b = r < 4 ? 0 : r == 4 ? 1 : r == 5 ? 0xB3 : r == 6 ? 0xB8 : uint8_t(rng());
    }
    int c1 = 0, c2 = 0;
    ASSERT_EQ(find_next_header_start(d.data(), int(d.size()), &c1), ref_find(d, true, &c2)) << round;
    ASSERT_EQ(c1, c2);
    ASSERT_EQ(find_next_gop_or_picture_start(d.data(), int(d.size()), &c1), ref_find(d, false, &c2)) << round;
    ASSERT_EQ(c1, c2);
  }
}

TEST(VideoFinders, EdgesOfTheScan) {
  int code = 0;
  // A start code whose code byte is the last byte is found; one cut short is not.
  Bytes whole = {7, 0, 0, 1, 0xB3};
  EXPECT_EQ(find_next_header_start(whole.data(), 5, &code), 1);
  EXPECT_EQ(code, 0x1B3);
  EXPECT_EQ(find_next_header_start(whole.data(), 4, &code), 0);
  EXPECT_EQ(code, 0xFFF);
  // Slice and extension start codes are not headers.
  Bytes slice = {0, 0, 1, 0x01, 0, 0, 1, 0xB5, 0, 0, 0, 1, 0xB8};
  EXPECT_EQ(find_next_header_start(slice.data(), int(slice.size()), &code), 9);
  EXPECT_EQ(code, 0x1B8);
  EXPECT_EQ(find_next_header_start(nullptr, 10, &code), 0);
  EXPECT_EQ(code, 0xFFF);
}

TEST(VideoFinders, IPictureIsLedByItsHeaders) {
  // seq(0) GOP(12) I-picture(20) P(30) | seq(40) B-picture(50) I(60)
  Bytes d(80, 0x55);
  auto put = [&](int at, uint8_t c, uint8_t b5) {
    d[at] = 0, d[at + 1] = 0, d[at + 2] = 1, d[at + 3] = c, d[at + 4] = 0, d[at + 5] = b5;
  };
  put(0, 0xB3, 0);
  put(12, 0xB8, 0);
  put(20, 0x00, 1 << 3);
  put(30, 0x00, 2 << 3);
  put(40, 0xB3, 0);
  put(50, 0x00, 3 << 3);
  put(60, 0x00, 1 << 3);
  int lead = 0;
  EXPECT_EQ(find_next_i_picture(d.data(), int(d.size()), &lead), 0);
  EXPECT_EQ(lead, 20);
  EXPECT_EQ(find_next_i_picture(d.data() + 12, int(d.size()) - 12, &lead), 0);
  EXPECT_EQ(lead, 8);
  // After the first I: the sequence header at 40 is followed by a B picture,
  // so the next I picture at 60 has no header of its own.
  EXPECT_EQ(find_next_i_picture(d.data() + 21, int(d.size()) - 21, &lead), 60 - 21);
  EXPECT_EQ(lead, 0);
  EXPECT_EQ(find_next_i_picture(d.data() + 61, int(d.size()) - 61, &lead), int(d.size()) - 61 - 4);
  EXPECT_EQ(lead, -1);
}

}  // namespace
